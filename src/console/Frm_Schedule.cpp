#include "console/Frm_Schedule.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextDocument>
#include <QVBoxLayout>

#include "support/Language.h"

namespace {

// Lines a field shows at once; more scroll.
constexpr int kShownLines = 4;

QString Value(const QByteArray& line) {
    return QString::fromUtf8(line.mid(line.indexOf('=') + 1)).trimmed();
}

QLabel* AddHint(QVBoxLayout* layout, const QString& text) {
    auto* hint = new QLabel(text, layout->parentWidget());
    hint->setWordWrap(true);
    layout->addWidget(hint);
    return hint;
}

// A field of one setting a line, filled with a section's lines as the file has them.
QPlainTextEdit* AddLinesField(QVBoxLayout* layout, const QString& title, const QString& hint,
                              const QString& example, const Schedule::Lines& lines) {
    layout->addWidget(new QLabel(title, layout->parentWidget()));
    if (!hint.isEmpty()) {
        AddHint(layout, hint);
    }
    auto* edit = new QPlainTextEdit(layout->parentWidget());
    edit->setPlaceholderText(example);
    edit->setFixedHeight(
        edit->fontMetrics().lineSpacing() * kShownLines +
        2 * (edit->frameWidth() + static_cast<int>(edit->document()->documentMargin())));
    QStringList text;
    for (const auto& [number, line] : lines) {
        text.append(QString::fromUtf8(line.trimmed()));
    }
    edit->setPlainText(text.join(u'\n'));
    layout->addWidget(edit);
    return edit;
}

QList<QByteArray> LinesOf(const QPlainTextEdit* edit) {
    QList<QByteArray> lines;
    for (const QString& line : edit->toPlainText().split(u'\n')) {
        if (!line.trimmed().isEmpty()) {
            lines.append(line.trimmed().toUtf8());
        }
    }
    return lines;
}

// Numbered as the field shows them, blank lines not counted, as they will stand in the file.
// A day's name as people read it; the settings file keeps the English one.
QString DayLabel(int day) {
    return Language::IsEnglish() ? Schedule::DayName(day)
                                 : QLocale().standaloneDayName(day + 1, QLocale::LongFormat);
}

Schedule::Lines Numbered(const QList<QByteArray>& lines) {
    Schedule::Lines numbered;
    for (const QByteArray& line : lines) {
        numbered.append({static_cast<int>(numbered.size()) + 1, line});
    }
    return numbered;
}

}  // namespace

Frm_Schedule::Frm_Schedule(const Schedule::Sections& lines, Schedule::Locate locate,
                           QWidget* parent)
    : QDialog(parent), locate_(std::move(locate)) {
    setWindowTitle(tr("Schedule"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    layout->addLayout(form);
    for (int day = 0; day < 7; ++day) {
        Txt_Day[day] = new QLineEdit(this);
        Txt_Day[day]->setPlaceholderText(tr("open all day"));
        form->addRow(DayLabel(day), Txt_Day[day]);
    }
    Txt_Closed = new QLineEdit(this);
    Txt_Closed->setPlaceholderText(QStringLiteral("2026-12-24..2026-12-26,2027-01-01"));
    form->addRow(tr("Closed"), Txt_Closed);
    AddHint(layout, tr("Hours as 08:00-12:30,14:00-19:00, or closed. A range may pass midnight."));

    // What the file has, faults included, so that they show here rather than vanish.
    Txt_Timed = AddLinesField(
        layout, tr("Timed messages, one a line:"), {},
        QStringLiteral("19:45=Closing soon.mp3\nMon-Fri 12:00=Lunch offer.mp3"), lines.timed);
    Txt_Dayparts = AddLinesField(
        layout, tr("Dayparts, one a line:"),
        tr("Days or dates, then a time range; the value is a folder in Music."),
        QStringLiteral("Mon-Fri 07:00-11:00=Morning\n2026-12-24 08:00-14:00=Christmas Eve"),
        lines.dayparts);
    Txt_Levels = AddLinesField(layout, tr("Levels, one a line:"),
                               tr("Days and a time; the value a level from 0 to 100."),
                               QStringLiteral("Mon-Sat 07:00=60\n19:00=70"), lines.levels);
    for (const auto& [number, line] : lines.schedule) {
        const QString key = QString::fromUtf8(line.left(line.indexOf('='))).trimmed();
        if (key.compare(u"Closed", Qt::CaseInsensitive) == 0) {
            Txt_Closed->setText(Value(line));
        } else if (const int day = Schedule::DayIndex(key); day >= 0) {
            Txt_Day[day]->setText(Value(line));
        }
    }

    Lbl_Problem = new QLabel(this);
    Lbl_Problem->setStyleSheet(QStringLiteral("color: #b00000"));
    Lbl_Problem->setWordWrap(true);
    layout->addWidget(Lbl_Problem);
    Buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addWidget(Buttons);
    connect(Buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    for (QLineEdit* edit : Txt_Day) {
        connect(edit, &QLineEdit::textChanged, this, &Frm_Schedule::Recheck);
    }
    connect(Txt_Closed, &QLineEdit::textChanged, this, &Frm_Schedule::Recheck);
    for (QPlainTextEdit* edit : {Txt_Timed, Txt_Dayparts, Txt_Levels}) {
        connect(edit, &QPlainTextEdit::textChanged, this, &Frm_Schedule::Recheck);
    }
    Recheck();
}

QList<QByteArray> Frm_Schedule::ScheduleLines() const {
    QList<QByteArray> lines;
    for (int day = 0; day < 7; ++day) {
        if (const QString text = Txt_Day[day]->text().trimmed(); !text.isEmpty()) {
            lines.append((Schedule::DayName(day) + u'=' + text).toUtf8());
        }
    }
    if (const QString text = Txt_Closed->text().trimmed(); !text.isEmpty()) {
        lines.append(QByteArrayLiteral("Closed=") + text.toUtf8());
    }
    return lines;
}

QList<QByteArray> Frm_Schedule::TimedLines() const {
    return LinesOf(Txt_Timed);
}

QList<QByteArray> Frm_Schedule::DaypartLines() const {
    return LinesOf(Txt_Dayparts);
}

QList<QByteArray> Frm_Schedule::LevelLines() const {
    return LinesOf(Txt_Levels);
}

std::optional<QString> Frm_Schedule::Problem() const {
    for (int day = 0; day < 7; ++day) {
        const QString text = Txt_Day[day]->text();
        if (!text.trimmed().isEmpty()) {
            if (const auto wrong = Schedule::CheckRanges(text)) {
                return tr("%1: %2").arg(DayLabel(day), *wrong);
            }
        }
    }
    if (!Txt_Closed->text().trimmed().isEmpty()) {
        if (const auto wrong = Schedule::CheckDates(Txt_Closed->text())) {
            return tr("Closed: %1").arg(*wrong);
        }
    }
    // The file's own reading of the lines, so that the window accepts what the program will. One
    // section at a time, so that a fault is known by its field.
    const std::array<std::pair<QString, Schedule::Sections>, 3> fields{{
        {tr("Timed messages"), {.timed = Numbered(TimedLines())}},
        {tr("Dayparts"), {.dayparts = Numbered(DaypartLines())}},
        {tr("Levels"), {.levels = Numbered(LevelLines())}},
    }};
    for (const auto& [field, sections] : fields) {
        const Schedule::Plan plan = Schedule::Parse(sections, locate_);
        if (!plan.faults.isEmpty()) {
            return tr("%1, line %2: %3")
                .arg(field, QString::number(plan.faults.first().lineNumber),
                     plan.faults.first().why.Shown());
        }
    }
    return std::nullopt;
}

void Frm_Schedule::Recheck() {
    const std::optional<QString> problem = Problem();
    Lbl_Problem->setText(problem.value_or(QString()));
    Buttons->button(QDialogButtonBox::Ok)->setEnabled(!problem);
}
