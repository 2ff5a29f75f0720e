// The About window: filled in with the program's version, the web address shown once active and
// opened on a click, and closed by OK or by another window of the program.

#include <QtTest>
#include <QtWidgets>

#include "about/Frm_About.h"
#include "platform/shell.h"
#include "support/Mod_Version.h"

class AboutTest : public QObject {
    Q_OBJECT

    QList<QStringList> launches;  // the stand-in opener's arguments

private slots:
    void aboutWindow() {
        Platform::Shell::SetLauncher([this](auto&, auto& a, auto&) { return launches << a, true; });
        Frm_About about;
        // Captions in brackets are the layout's placeholders, each to be replaced on loading.
        for (const QLabel* label : about.findChildren<QLabel*>()) {
            QVERIFY2(!label->text().startsWith('('), qPrintable(label->text()));
        }
        QVERIFY(!about.windowTitle().contains('(') &&
                about.Lbl_Version->text().endsWith(Mod_Version::VersionString()));
        about.SetWWW("www.example.org/corvane");
        about.show();
        QVERIFY(QTest::qWaitForWindowActive(&about));
        QCOMPARE(about.Lbl_WWW->text(), "www.example.org/corvane");
        QTest::mouseClick(about.Lbl_WWW, Qt::LeftButton);
        about.SetWWW("");  // without an address a click does nothing
        QTest::mouseClick(about.Lbl_WWW, Qt::LeftButton);
        QCOMPARE(launches, QList<QStringList>{{"http://www.example.org/corvane"}});
        QTest::mouseClick(about.Cmd_OK, Qt::LeftButton);
        QVERIFY(!about.isVisible());
        // Another window of the program taking over closes it too.
        QWidget console;
        about.show();
        QVERIFY(QTest::qWaitForWindowActive(&about));
        console.show();
        console.activateWindow();
        QTRY_VERIFY(!about.isVisible());
    }
};

QTEST_MAIN(AboutTest)
#include "tst_about.moc"
