// The About window: its texts, the web link and how it closes.

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <vector>

#include "about/Frm_About.h"
#include "platform/shell.h"

namespace {

std::vector<QStringList> launches;

}  // namespace

class AboutTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void textsAfterLoading();
    void addressShownOnActivation_data();
    void addressShownOnActivation();
    void webLink_data();
    void webLink();
    void okCloses_data();
    void okCloses();
    void closesWhenAnotherWindowOfTheProgramBecomesActive();
};

void AboutTest::init() {
    launches.clear();
    Platform::Shell::SetLauncher([](const QString&, const QStringList& arguments, const QString&) {
        launches.push_back(arguments);
        return true;
    });
}

void AboutTest::cleanup() {
    // Never the real opener: a slip in a later test must not start a browser.
    Platform::Shell::SetLauncher(
        [](const QString&, const QStringList&, const QString&) { return false; });
}

void AboutTest::textsAfterLoading() {
    Frm_About about;
    QCOMPARE(about.windowTitle(), QStringLiteral("About ZEL"));
    QCOMPARE(about.Lbl_Product->text(), QStringLiteral("ZEL"));
    QCOMPARE(about.Lbl_Version->text(), QStringLiteral("Version 1.00.0009"));
    // Loading replaces every design-time caption, "(copyright)" and the like.
    for (QLabel* line : {about.Lbl_Copyright, about.Lbl_Company}) {
        QVERIFY2(!line->text().trimmed().isEmpty(), qPrintable(line->objectName()));
        QVERIFY2(!line->text().contains(u'(') && !line->text().contains(u')'),
                 qPrintable(line->text()));
    }
    QCOMPARE(about.Lbl_Trademarks->text(), QString());
    QCOMPARE(about.Lbl_Comments->text(), QString());
    QCOMPARE(about.WWW(), QString());
    QCOMPARE(about.Lbl_WWW->text(), QString());
    QCOMPARE(about.Lbl_WWW->cursor().shape(), Qt::PointingHandCursor);
    // The console waits while it is open.
    QVERIFY(about.isModal());
}

void AboutTest::addressShownOnActivation_data() {
    QTest::addColumn<bool>("throughWindowSystem");

    QTest::newRow("activation handler") << false;
    QTest::newRow("window shown and activated") << true;
}

void AboutTest::addressShownOnActivation() {
    QFETCH(bool, throughWindowSystem);

    Frm_About about;
    const QString address = QString::fromLatin1(Frm_About::kMakerWebAddress);
    about.SetWWW(address);
    QCOMPARE(about.WWW(), address);
    // The opener sets the address after loading: it shows only once the window is active.
    QCOMPARE(about.Lbl_WWW->text(), QString());

    if (throughWindowSystem) {
        about.show();
        about.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&about));
    } else {
        about.Form_Activate();
    }
    QCOMPARE(about.Lbl_WWW->text(), address);
}

void AboutTest::webLink_data() {
    QTest::addColumn<QString>("www");
    QTest::addColumn<bool>("click");  // a left click on the label rather than the handler
    QTest::addColumn<QStringList>("opened");

    QTest::newRow("no address") << "" << false << QStringList();
    QTest::newRow("no address, label clicked") << "" << true << QStringList();
    QTest::newRow("maker's address")
        << "www.example.org/corvane" << false << QStringList{"http://www.example.org/corvane"};
    QTest::newRow("maker's address, label clicked")
        << "www.example.org/corvane" << true << QStringList{"http://www.example.org/corvane"};
    QTest::newRow("address with scheme")
        << "https://example.org/about" << false << QStringList{"https://example.org/about"};
}

void AboutTest::webLink() {
    QFETCH(QString, www);
    QFETCH(bool, click);
    QFETCH(QStringList, opened);

    Frm_About about;
    about.SetWWW(www);
    about.Form_Activate();
    about.show();
    if (click) {
        QTest::mouseClick(about.Lbl_WWW, Qt::LeftButton);
    } else {
        about.Lbl_WWW_Click();
    }

    if (opened.isEmpty()) {
        QCOMPARE(launches.size(), std::size_t{0});
    } else {
        QCOMPARE(launches.size(), std::size_t{1});
        QCOMPARE(launches.front(), opened);
    }
    // Following the link leaves the window open.
    QVERIFY(about.isVisible());
}

void AboutTest::okCloses_data() {
    QTest::addColumn<bool>("click");

    QTest::newRow("OK handler") << false;
    QTest::newRow("OK clicked") << true;
}

void AboutTest::okCloses() {
    QFETCH(bool, click);

    Frm_About about;
    about.show();
    QVERIFY(about.isVisible());
    if (click) {
        QTest::mouseClick(about.Cmd_OK, Qt::LeftButton);
    } else {
        about.Cmd_OK_Click();
    }
    QVERIFY(!about.isVisible());
    QCOMPARE(launches.size(), std::size_t{0});
}

void AboutTest::closesWhenAnotherWindowOfTheProgramBecomesActive() {
    QWidget console;
    console.show();
    Frm_About about(&console);
    about.show();
    about.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&about));

    console.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&console));
    QTRY_VERIFY(!about.isVisible());
}

QTEST_MAIN(AboutTest)
#include "tst_about.moc"
