// Opening documents with the desktop's program, and the help window.

#include <QtTest>
#include <QtWidgets>

#include "TestHome.h"
#include "desktop/Autostart.h"
#include "desktop/Mod_Help.h"
#include "desktop/Mod_StartDoc.h"
#include "platform/shell.h"

// clang-format off
struct DocRow { QString document; bool launcherWorks; QStringList launch; };  // launch: folder, arguments
struct HelpRow { QString given, shown; };
// clang-format on

class DesktopTest : public QObject {
    Q_OBJECT

    TestHome dir;  // also the current folder
    QString Expand(QString text) const { return text.replace("<dir>", dir.path()); }

private slots:
    void initTestCase() {
        QVERIFY(QDir::setCurrent(dir.path()) && dir.Make({{"song.mp3", "x"},
                                                          {"docs/song.mp3", "x"},
                                                          {"given.html", "<h1>Given help</h1>"}}));
    }

    void startDoc_data() {
        QTest::addColumn<DocRow>("r");
        // clang-format off
        QTest::newRow("file: in its folder") << DocRow{"<dir>/song.mp3", true, {"<dir>", "<dir>/song.mp3"}};
        QTest::newRow("relative file: from the current folder") << DocRow{"docs/song.mp3", true, {"docs", "<dir>/docs/song.mp3"}};
        QTest::newRow("web address: no folder, one intact argument") << DocRow{"https://e.org/a b;c \"d\"", true, {"", "https://e.org/a b;c \"d\""}};
        QTest::newRow("missing file: nothing launched") << DocRow{"<dir>/missing.mp3", true, {}};
        QTest::newRow("launcher fails") << DocRow{"<dir>/song.mp3", false, {"<dir>", "<dir>/song.mp3"}};
        // clang-format on
    }
    // A stand-in for the desktop's opener; a local document may reach it as a path or a file URL.
    void startDoc() {
        QFETCH(DocRow, r);
        QStringList launches;  // working folder and arguments, one a line
        Platform::Shell::SetLauncher([&](auto&, const QStringList& a, const QString& folder) {
            return launches << (QStringList{folder} + a).join('\n'), r.launcherWorks;
        });
        auto refuse =
            qScopeGuard([] { Platform::Shell::SetLauncher([](auto&...) { return false; }); });
        QCOMPARE(Mod_StartDoc::StartDoc(Expand(r.document)) > 32,
                 r.launcherWorks && !r.launch.isEmpty());
        QCOMPARE(launches.replaceInStrings("file://", ""),
                 r.launch.isEmpty() ? QStringList() : QStringList{Expand(r.launch.join('\n'))});
    }

    // Start at login: one entry a program folder, starting this executable for that folder, with
    // the characters an Exec line reserves escaped.
    void autostart() {
        const QString zone = dir.filePath("shop \"floor\" $1");
        QVERIFY(!Autostart::IsEnabled(zone) && Autostart::Enable("/opt/cor vane/corvane", zone));
        QVERIFY(Autostart::IsEnabled(zone) && !Autostart::IsEnabled(dir.filePath("café")));
        QFile entry(Autostart::EntryPath(zone));
        QVERIFY(entry.open(QIODevice::ReadOnly) &&
                entry.readAll().contains("\nExec=\"/opt/cor vane/corvane\" --folder \"" +
                                         dir.path().toUtf8() + "/shop \\\"floor\\\" \\$1\"\n"));
        QVERIFY(Autostart::Disable(zone) && !Autostart::IsEnabled(zone) &&
                Autostart::Disable(zone));
    }

    void showHelp_data() {
        QTest::addColumn<HelpRow>("r");
        QTest::newRow("no name: the program's own") << HelpRow{"", ""};
        QTest::newRow("given file: its content") << HelpRow{"<dir>/given.html", "Given help"};
        QTest::newRow("missing file: reported inside")
            << HelpRow{"<dir>/absent.html", "<dir>/absent.html"};
    }
    void showHelp() {
        QFETCH(HelpRow, r);
        QWidget owner;
        bool boxShown = false;  // a message box would wait for a click: close it, remember it
        QTimer::singleShot(0, &owner, [&] {
            boxShown = qApp->activeModalWidget() && qApp->activeModalWidget()->close();
        });
        QString name = Expand(r.given);
        Mod_Help::ShowHelp(&owner, name);
        QCOMPARE(name, r.given.isEmpty() ? Mod_Help::ConfiguredHelpFile() : Expand(r.given));
        QWidget* window = Mod_Help::HelpWindow(&owner);
        QVERIFY(window && window->isVisible() && !boxShown);
        QVERIFY(window->findChild<QTextBrowser*>()->toPlainText().contains(Expand(r.shown)));
    }
};

QTEST_MAIN(DesktopTest)
#include "tst_desktop.moc"
