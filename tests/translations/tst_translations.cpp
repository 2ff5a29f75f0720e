// The program in each of its languages: the translations are complete and current, and the
// windows show every text translated and uncut.

#include <QtTest>
#include <QtWidgets>

#include "FakeMci.h"
#include "about/Frm_About.h"
#include "console/Frm_Messages.h"
#include "console/Frm_Remote.h"
#include "console/Frm_Schedule.h"
#include "scheduler/Schedule.h"
#include "support/Language.h"

namespace {

const QString kSourceDir = QStringLiteral(CORVANE_SOURCE_DIR);

// source -> translation of a .ts file, all contexts together.
using Translations = QHash<QString, QString>;

// What lupdate leaves in a copy of the .ts files brought up to date with the sources: the texts
// still to translate and those the program no longer has.
struct Stale {
    QStringList unfinished, gone;
};

Stale ReadStale(const QString& tsFile, Translations* translations = nullptr) {
    QFile file(tsFile);
    if (!file.open(QIODevice::ReadOnly)) {
        return {{QStringLiteral("cannot read ") + tsFile}, {}};
    }
    Stale stale;
    QXmlStreamReader xml(&file);
    QString source;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement) {
            continue;
        }
        if (xml.name() == u"source") {
            source = xml.readElementText();
        } else if (xml.name() == u"translation") {
            const QString type = xml.attributes().value(QStringLiteral("type")).toString();
            const QString text = xml.readElementText();
            if (type == u"unfinished" || text.isEmpty()) {
                stale.unfinished << source;
            } else if (type == u"vanished" || type == u"obsolete") {
                stale.gone << source;
            } else if (translations) {
                translations->insert(source, text);
            }
        }
    }
    if (xml.hasError()) {
        stale.unfinished << xml.errorString();
    }
    return stale;
}

// Every text a person reads in a window, in the order of its widgets: labels, buttons, group
// titles, and the items of its menus as they open.
QStringList ShownTexts(QWidget* window) {
    QStringList texts{window->windowTitle()};
    for (QWidget* widget : window->findChildren<QWidget*>()) {
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            texts << label->text();
        } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
            texts << button->text();
        } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
            texts << group->title();
        } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
            texts << edit->placeholderText();
        } else if (auto* menu = qobject_cast<QMenu*>(widget);
                   // Not the arrow's menu of what a menu bar cannot show: it is checked as cut.
                   menu && !(menu->title().isEmpty() && qobject_cast<QMenuBar*>(menu->parent()))) {
            emit menu->aboutToShow();
            texts << menu->title();
            for (const QAction* action : menu->actions()) {
                texts << action->text();
            }
        }
    }
    return texts;
}

// A text as drawn: a single & marks the shortcut's letter and takes no room.
QString Drawn(QString text) {
    static const QRegularExpression mnemonic(QStringLiteral("&(.)"));
    return text.replace(mnemonic, QStringLiteral("\\1"));
}

// The texts that do not fit their widget, with the room they have.
QStringList CutTexts(QWidget* window) {
    QStringList cut;
    const auto check = [&cut](const QString& text, int needed, int room) {
        if (!text.isEmpty() && needed > room) {
            cut << QStringLiteral("\"%1\" needs %2 px, has %3").arg(text).arg(needed).arg(room);
        }
    };
    for (QWidget* widget : window->findChildren<QWidget*>()) {
        const QFontMetrics metrics = widget->fontMetrics();
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            // A shortcut's & shows as itself on a label with no field to go to.
            if (label->buddy() == nullptr && Drawn(label->text()) != label->text() &&
                label->textFormat() != Qt::RichText) {
                cut << QStringLiteral("\"%1\" shows its &").arg(label->text());
            }
            const QRect room = label->contentsRect();
            if (label->wordWrap()) {
                check(label->text(), label->heightForWidth(room.width()), room.height());
            } else {
                check(label->text(), metrics.horizontalAdvance(Drawn(label->text())), room.width());
            }
        } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
            // The text with the button's frame and a little air on each side, or less where
            // the style asks less; never the style's least width for any button.
            check(button->text(),
                  std::min(metrics.horizontalAdvance(Drawn(button->text())) + 12,
                           button->sizeHint().width()),
                  button->width());
        } else if (auto* box = qobject_cast<QAbstractButton*>(widget)) {
            check(box->text(), box->sizeHint().width(), box->width());
        } else if (auto* bar = qobject_cast<QMenuBar*>(widget)) {
            // A menu that does not fit hides behind an arrow.
            check(bar->actions().constLast()->text(), bar->sizeHint().width(), bar->width());
        } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
            check(group->title(), metrics.horizontalAdvance(group->title()) + 16, group->width());
        }
    }
    return cut;
}

// A text the English window shows that is still English in another language: allowed only where
// the translation says the same, or for names, which are never translated.
bool LeftInEnglish(const QString& english, const QString& shown, const Translations& ts) {
    // The program's and its maker's names, the version, the languages' own names, Qt's "OK"
    // (the same in all of them), and values: numbers, addresses, topics.
    static const QRegularExpression name(QStringLiteral(
        "^(|Corvane|ZEL|POPUP|&?OK|V[\\d.]*|.*Corvane Audio.*|"
        "English|Deutsch|Français|Español|Italiano|Nederlands|[^A-Za-z]*|\\S*[/:]\\S*)$"));
    if (shown != english || name.match(english).hasMatch()) {
        return false;
    }
    for (auto it = ts.cbegin(); it != ts.cend(); ++it) {
        if (it.key() != it.value()) {
            continue;
        }
        // A text built from a pattern ("%1 s") counts as that pattern's.
        QStringList pieces = it.key().split(QRegularExpression(QStringLiteral("%\\d")));
        for (QString& piece : pieces) {
            piece = QRegularExpression::escape(piece);
        }
        const QRegularExpression pattern(u'^' + pieces.join(QStringLiteral(".*")) + u'$');
        if (pattern.match(english).hasMatch()) {
            return false;
        }
    }
    return true;
}

// The program's windows, built in the language installed.
struct Windows {
    FakeMciInstaller fake;
    SystemClock clock;
    Player player{clock};
    Frm_Messages console{player};
    Frm_Schedule schedule{{}, {}};
    Frm_Remote remote{{}, {}};
    Frm_About about;
    Windows() {
        console.Timer1->stop();
        console.Fme_Settings->setVisible(true);
        for (QWidget* window : All()) {
            window->show();
        }
    }
    QList<QWidget*> All() { return {&console, &schedule, &remote, &about}; }
};

}  // namespace

class TranslationsTest : public QObject {
    Q_OBJECT

    QTemporaryDir home_;
    QList<QStringList> english_;

private slots:
    void initTestCase() {
        qputenv("XDG_CACHE_HOME", QFile::encodeName(home_.path()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home_.filePath("config")));
        Language::Install(*qApp, QStringLiteral("en"));
        Windows windows;
        for (QWidget* window : windows.All()) {
            english_ << ShownTexts(window);
        }
    }

    void languages_data() {
        QTest::addColumn<QString>("language");
        QTest::newRow("en") << QStringLiteral("en");
        for (const QString& language : Language::Translated()) {
            QTest::newRow(qPrintable(language)) << language;
        }
    }

    // lupdate, run on copies of the .ts files, finds nothing to translate and nothing gone: a new
    // text cannot ship untranslated, nor an old one linger.
    void current_data() {
        QTest::addColumn<QString>("language");
        for (const QString& language : Language::Translated()) {
            QTest::newRow(qPrintable(language)) << language;
        }
    }
    void current() {
        QFETCH(QString, language);
        QTemporaryDir copies;
        const QString name = QStringLiteral("corvane_%1.ts").arg(language);
        const QString copy = copies.filePath(name);
        QVERIFY(QFile::copy(kSourceDir + QStringLiteral("/translations/") + name, copy));
        QProcess lupdate;
        lupdate.setWorkingDirectory(kSourceDir);
        lupdate.start(QStringLiteral(CORVANE_LUPDATE),
                      {QStringLiteral("-silent"), QStringLiteral("-locations"),
                       QStringLiteral("none"), QStringLiteral("src"), QStringLiteral("-ts"), copy});
        QVERIFY(lupdate.waitForFinished(60000));
        QCOMPARE(lupdate.exitCode(), 0);
        const Stale stale = ReadStale(copy);
        QVERIFY2(stale.unfinished.isEmpty(),
                 qPrintable(QStringLiteral("untranslated: ") + stale.unfinished.join(" | ")));
        QVERIFY2(stale.gone.isEmpty(),
                 qPrintable(QStringLiteral("no longer in the program: ") + stale.gone.join(" | ")));
    }

    // Every window in the language: no text cut, and nothing left in English that is not meant
    // to be. English is checked for cut texts as well.
    void windows_data() { languages_data(); }
    void windows() {
        QFETCH(QString, language);
        QCOMPARE(Language::Install(*qApp, language), language);
        Translations ts;
        if (language != u"en") {
            ReadStale(kSourceDir + QStringLiteral("/translations/corvane_%1.ts").arg(language),
                      &ts);
        }
        {
            Windows windows;
            const QList<QWidget*> all = windows.All();
            for (int w = 0; w < all.size(); ++w) {
                const QStringList cut = CutTexts(all[w]);
                QVERIFY2(cut.isEmpty(), qPrintable(cut.join("; ")));
                const QStringList shown = ShownTexts(all[w]);
                if (shown.size() != english_[w].size()) {
                    for (int i = 0; i < std::max(shown.size(), english_[w].size()); ++i)
                        qWarning() << w << english_[w].value(i) << shown.value(i);
                }
                QCOMPARE(shown.size(), english_[w].size());
                for (int i = 0; language != u"en" && i < shown.size(); ++i) {
                    QVERIFY2(!LeftInEnglish(english_[w][i], shown[i], ts),
                             qPrintable(QStringLiteral("still English: ") + shown[i]));
                }
            }
            // CORVANE_SHOTS=DIR keeps a picture of each window, the console with its lists and
            // with its settings.
            if (const QString shots = qEnvironmentVariable("CORVANE_SHOTS"); !shots.isEmpty()) {
                const auto keep = [&](QWidget* window, const QString& name) {
                    QVERIFY(window->grab().save(
                        QStringLiteral("%1/%2-%3.png").arg(shots, name, language)));
                };
                keep(&windows.console, QStringLiteral("settings"));
                windows.console.Fme_Settings->setVisible(false);
                keep(&windows.console, QStringLiteral("console"));
                keep(&windows.schedule, QStringLiteral("schedule"));
                keep(&windows.remote, QStringLiteral("remote-control"));
                keep(&windows.about, QStringLiteral("about"));
            }
        }
        Language::Install(*qApp, QStringLiteral("en"));
    }

    // A problem is shown in the language and sent in English: the settings line it names stays as
    // written, a "%2" in it filled by nothing; the day it names the shop opens is the locale's.
    void problems() {
        const QByteArray line = "Mon=../a %2 b";
        const Schedule::Plan plan = Schedule::Parse({.dayparts = {{1, line}}}, {});
        QCOMPARE(plan.faults.size(), 1);
        const QString english = plan.faults[0].Warning().English();
        const QDateTime monday(QDate(2026, 12, 7), QTime(8, 0));
        const QString closedInEnglish = Schedule::ClosedText(monday.addDays(-1), monday);
        for (const QString& language : Language::Translated()) {
            Language::Install(*qApp, language);
            const QString shown = plan.faults[0].Warning().Shown();
            QCOMPARE(plan.faults[0].Warning().English(), english);
            QVERIFY2(shown != english, qPrintable(shown));
            QCOMPARE(shown.count(QString::fromUtf8(line)), 1);
            const QString closed = Schedule::ClosedText(monday.addDays(-1), monday);
            QVERIFY2(closed.contains(QLocale().dayName(1, QLocale::ShortFormat)) &&
                         closed != closedInEnglish,
                     qPrintable(closed));
        }
        Language::Install(*qApp, QStringLiteral("en"));
        QCOMPARE(plan.faults[0].Warning().Shown(), english);
    }

    // Both programs' --help in the system's language, as Qt reads it: LANGUAGE first, then
    // LC_ALL, LC_MESSAGES and LANG; English where the program has none of them.
    void help_data() {
        QTest::addColumn<QStringList>("environment");
        QTest::addColumn<QString>("language");
        // clang-format off
        QTest::newRow("C") << QStringList{"LANG=C"} << "en";
        QTest::newRow("en_US") << QStringList{"LANG=en_US.UTF-8"} << "en";
        for (const QString& language : Language::Translated()) {
            const QString name = language + u'_' + language.toUpper() + ".UTF-8";
            QTest::newRow(qPrintable(name)) << QStringList{"LANG=" + name} << language;
        }
        QTest::newRow("LANGUAGE before LANG") << QStringList{"LANGUAGE=fr", "LANG=de_DE.UTF-8"} << "fr";
        QTest::newRow("English first in LANGUAGE") << QStringList{"LANGUAGE=en:de", "LANG=de_DE.UTF-8"} << "en";
        QTest::newRow("LC_ALL before LANG") << QStringList{"LC_ALL=it_IT.UTF-8", "LANG=de_DE.UTF-8"} << "it";
        QTest::newRow("LC_MESSAGES before LANG") << QStringList{"LC_MESSAGES=nl_NL.UTF-8", "LANG=es_ES.UTF-8"} << "nl";
        QTest::newRow("a language it lacks") << QStringList{"LANG=pt_PT.UTF-8"} << "en";
        // clang-format on
    }
    void help() {
        QFETCH(QStringList, environment);
        QFETCH(QString, language);
        const QString folder = qEnvironmentVariable("CORVANE_PROGRAM_DIR");
        QProcessEnvironment system = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
            system.remove(QString::fromLatin1(name));
        }
        for (const QString& variable : environment) {
            system.insert(variable.section(u'=', 0, 0), variable.section(u'=', 1));
        }
        const auto help = [&](const QString& program, const QProcessEnvironment& env) {
            QProcess process;
            process.setProcessEnvironment(env);
            process.start(folder + u'/' + program, {QStringLiteral("--help")});
            return process.waitForFinished(30000) && process.exitCode() == 0
                       ? QString::fromUtf8(process.readAllStandardOutput())
                       : QStringLiteral("failed: ") + process.errorString();
        };
        QProcessEnvironment english = system;
        english.insert(QStringLiteral("LANGUAGE"), QStringLiteral("en"));
        // The line under "Usage:" tells what the program does.
        const QByteArray description =
            help(QStringLiteral("corvane"), english).section(u'\n', 1, 1).toUtf8();
        QVERIFY(!description.isEmpty());
        const QString corvane = help(QStringLiteral("corvane"), system);
        QVERIFY2(corvane.contains(Language::Translate(language, "main", description.constData())),
                 qPrintable(corvane));
        // Qt's own words: "Usage:" translated by Qt's translations.
        QCOMPARE(corvane.startsWith(QStringLiteral("Usage:")), language == u"en");
        const QString plays = help(QStringLiteral("corvane-plays"), system);
        QVERIFY2(plays.startsWith(Language::Translate(language, "corvane-plays", "Usage:")),
                 qPrintable(plays));
        QCOMPARE(plays.startsWith(QStringLiteral("Usage:")), language == u"en");
    }
};

QTEST_MAIN(TranslationsTest)
#include "tst_translations.moc"
