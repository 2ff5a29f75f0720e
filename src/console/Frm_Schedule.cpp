#include "console/Frm_Schedule.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QString Value(const QByteArray& line) {
    return QString::fromUtf8(line.mid(line.indexOf('=') + 1)).trimmed();
}

}  // namespace

Frm_Schedule::Frm_Schedule(const QList<std::pair<int, QByteArray>>& scheduleLines,
                           const QList<std::pair<int, QByteArray>>& timedLines,
                           Schedule::Locate locate, QWidget* parent)
    : QDialog(parent), locate_(std::move(locate)) {
    setWindowTitle(QStringLiteral("Schedule"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    layout->addLayout(form);
    for (int day = 0; day < 7; ++day) {
        Txt_Day[day] = new QLineEdit(this);
        Txt_Day[day]->setPlaceholderText(QStringLiteral("open all day"));
        form->addRow(Schedule::DayName(day), Txt_Day[day]);
    }
    Txt_Closed = new QLineEdit(this);
    Txt_Closed->setPlaceholderText(QStringLiteral("2026-12-24..2026-12-26,2027-01-01"));
    form->addRow(QStringLiteral("Closed"), Txt_Closed);
    auto* hoursHint = new QLabel(
        QStringLiteral("Hours as 08:00-12:30,14:00-19:00, or closed. A range may pass midnight."),
        this);
    hoursHint->setWordWrap(true);
    layout->addWidget(hoursHint);

    layout->addWidget(new QLabel(QStringLiteral("Timed messages, one a line:"), this));
    Txt_Timed = new QPlainTextEdit(this);
    Txt_Timed->setPlaceholderText(
        QStringLiteral("19:45=Closing soon.mp3\nMon-Fri 12:00=Lunch offer.mp3"));
    layout->addWidget(Txt_Timed);

    Lbl_Problem = new QLabel(this);
    Lbl_Problem->setStyleSheet(QStringLiteral("color: #b00000"));
    Lbl_Problem->setWordWrap(true);
    layout->addWidget(Lbl_Problem);
    Buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addWidget(Buttons);
    connect(Buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    // What the file has, faults included, so that they show here rather than vanish.
    for (const auto& [number, line] : scheduleLines) {
        const QString key = QString::fromUtf8(line.left(line.indexOf('='))).trimmed();
        if (key.compare(u"Closed", Qt::CaseInsensitive) == 0) {
            Txt_Closed->setText(Value(line));
        } else if (const int day = Schedule::DayIndex(key); day >= 0) {
            Txt_Day[day]->setText(Value(line));
        }
    }
    QStringList timed;
    for (const auto& [number, line] : timedLines) {
        timed.append(QString::fromUtf8(line.trimmed()));
    }
    Txt_Timed->setPlainText(timed.join(u'\n'));

    for (QLineEdit* edit : Txt_Day) {
        connect(edit, &QLineEdit::textChanged, this, &Frm_Schedule::Recheck);
    }
    connect(Txt_Closed, &QLineEdit::textChanged, this, &Frm_Schedule::Recheck);
    connect(Txt_Timed, &QPlainTextEdit::textChanged, this, &Frm_Schedule::Recheck);
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
    QList<QByteArray> lines;
    for (const QString& line : Txt_Timed->toPlainText().split(u'\n')) {
        if (!line.trimmed().isEmpty()) {
            lines.append(line.trimmed().toUtf8());
        }
    }
    return lines;
}

std::optional<QString> Frm_Schedule::Problem() const {
    for (int day = 0; day < 7; ++day) {
        const QString text = Txt_Day[day]->text();
        if (!text.trimmed().isEmpty()) {
            if (const auto wrong = Schedule::CheckRanges(text)) {
                return Schedule::DayName(day) + QStringLiteral(": ") + *wrong;
            }
        }
    }
    if (!Txt_Closed->text().trimmed().isEmpty()) {
        if (const auto wrong = Schedule::CheckDates(Txt_Closed->text())) {
            return QStringLiteral("Closed: ") + *wrong;
        }
    }
    // The file's own reading of the lines, so that the window accepts what the program will.
    QList<std::pair<int, QByteArray>> timed;
    for (const QByteArray& line : TimedLines()) {
        timed.append({static_cast<int>(timed.size()) + 1, line});
    }
    const Schedule::Plan plan = Schedule::Parse({}, timed, locate_);
    if (!plan.faults.isEmpty()) {
        return QStringLiteral("Timed messages, line %1: %2")
            .arg(plan.faults.first().lineNumber)
            .arg(plan.faults.first().why);
    }
    return std::nullopt;
}

void Frm_Schedule::Recheck() {
    const std::optional<QString> problem = Problem();
    Lbl_Problem->setText(problem.value_or(QString()));
    Buttons->button(QDialogButtonBox::Ok)->setEnabled(!problem);
}
