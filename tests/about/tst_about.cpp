// The About window: its texts, the web address shown once active and opened on a click, and OK.

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
        const QStringList texts{about.windowTitle(), about.Lbl_Product->text(),
                                about.Lbl_Version->text(), about.Lbl_Copyright->text(),
                                about.Lbl_Company->text()};
        QCOMPARE(texts, (QStringList{"About ZEL", "ZEL", "Version " + Mod_Version::VersionString(),
                                     Frm_About::kCopyright, Frm_About::kCompany}));
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
    }
};

QTEST_MAIN(AboutTest)
#include "tst_about.moc"
