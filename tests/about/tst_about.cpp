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
        QVERIFY(about.windowTitle().endsWith(Frm_About::kProductName) &&
                about.Lbl_Product->text() == Frm_About::kProductName &&
                about.Lbl_Version->text().endsWith(Mod_Version::VersionString()) &&
                about.Lbl_Copyright->text() == Frm_About::kCopyright &&
                about.Lbl_Company->text() == Frm_About::kCompany);
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
