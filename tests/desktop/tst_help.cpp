#include "tst_help.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>

#include "desktop/Mod_Help.h"

namespace {

bool WriteHelp(const QString& path, const QString& heading) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) &&
           file.write(QStringLiteral("<html><body><h1>%1</h1><p>Text.</p></body></html>")
                          .arg(heading)
                          .toUtf8()) > 0;
}

QTextBrowser* HelpText(QWidget* owner) {
    QWidget* window = Mod_Help::HelpWindow(owner);
    return window == nullptr ? nullptr : window->findChild<QTextBrowser*>();
}

// A message box anywhere among the program's windows, or one that went modal in the meantime.
bool MessageBoxShown() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (qobject_cast<QMessageBox*>(w) != nullptr && w->isVisible()) {
            return true;
        }
    }
    return false;
}

}  // namespace

void HelpTest::initTestCase() {
    QVERIFY(dir_.isValid());
    QVERIFY(WriteHelp(dir_.filePath(QStringLiteral("given.html")), QStringLiteral("Given help")));
}

void HelpTest::cleanup() {
    if (madeConfigured_) {
        QFile::remove(Mod_Help::ConfiguredHelpFile());
        madeConfigured_ = false;
    }
}

void HelpTest::configuredHelpFile() {
    // The help file travels with the program: beside the executable, whatever the current folder.
    const QFileInfo file(Mod_Help::ConfiguredHelpFile());
    QCOMPARE(file.fileName(), QStringLiteral("MESSAGES.html"));
    QCOMPARE(file.absolutePath(),
             QFileInfo(QCoreApplication::applicationDirPath()).absoluteFilePath());
}

void HelpTest::showHelp_data() {
    QTest::addColumn<QString>("given");  // "<dir>" stands for a folder with given.html
    QTest::addColumn<bool>("configuredExists");
    QTest::addColumn<QString>("variable");  // the argument afterwards; "<configured>" for ours
    QTest::addColumn<QString>("shown");     // text the help window must show

    QTest::newRow("program's own help file") << "" << true << "<configured>"
                                             << "Configured help";
    QTest::newRow("program's own help file missing") << "" << false << "<configured>"
                                                     << "<configured>";
    QTest::newRow("given file instead of ours") << "<dir>/given.html" << true << "<dir>/given.html"
                                                << "Given help";
    QTest::newRow("given file missing") << "<dir>/absent.html" << true << "<dir>/absent.html"
                                        << "<dir>/absent.html";
}

void HelpTest::showHelp() {
    QFETCH(QString, given);
    QFETCH(bool, configuredExists);
    QFETCH(QString, variable);
    QFETCH(QString, shown);

    const QString configured = Mod_Help::ConfiguredHelpFile();
    const auto expand = [&](QString text) {
        return text.replace(QStringLiteral("<dir>"), dir_.path())
            .replace(QStringLiteral("<configured>"), configured);
    };
    if (QFileInfo::exists(configured)) {
        QSKIP("a help file of the program sits beside the test; it is not ours to replace");
    }
    if (configuredExists) {
        QVERIFY(WriteHelp(configured, QStringLiteral("Configured help")));
        madeConfigured_ = true;
    }

    // A message box would be modal and wait for a click: close it and remember it was there.
    bool boxAppeared = false;
    QTimer::singleShot(0, [&boxAppeared] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            boxAppeared = true;
            box->reject();
        }
    });

    QWidget owner;
    QString helpFile = expand(given);
    Mod_Help::ShowHelp(&owner, helpFile);
    QCoreApplication::processEvents();

    QCOMPARE(helpFile, expand(variable));
    QWidget* window = Mod_Help::HelpWindow(&owner);
    QVERIFY(window != nullptr);
    QCOMPARE(window->parentWidget(), &owner);
    QVERIFY(window->isVisible());
    QTextBrowser* text = HelpText(&owner);
    QVERIFY(text != nullptr);
    QVERIFY2(text->toPlainText().contains(expand(shown)), qPrintable(text->toPlainText()));
    if (given.isEmpty() && configuredExists) {
        QVERIFY(!text->toPlainText().contains(QStringLiteral("Given help")));
    }
    if (!given.isEmpty()) {
        QVERIFY(!text->toPlainText().contains(QStringLiteral("Configured help")));
    }
    QVERIFY(!boxAppeared);
    QVERIFY(!MessageBoxShown());
}

void HelpTest::oneHelpWindowPerOwner() {
    const QString other = dir_.filePath(QStringLiteral("other.html"));
    QVERIFY(WriteHelp(other, QStringLiteral("Other help")));
    QWidget owner;
    QString first = dir_.filePath(QStringLiteral("given.html"));
    Mod_Help::ShowHelp(&owner, first);
    QWidget* window = Mod_Help::HelpWindow(&owner);
    QVERIFY(window != nullptr);

    QString second = other;
    Mod_Help::ShowHelp(&owner, second);
    QCOMPARE(Mod_Help::HelpWindow(&owner), window);
    QCOMPARE(owner.findChildren<QTextBrowser*>().size(), 1);
    QVERIFY(HelpText(&owner)->toPlainText().contains(QStringLiteral("Other help")));

    // Another owner gets a window of its own.
    QWidget secondOwner;
    QVERIFY(Mod_Help::HelpWindow(&secondOwner) == nullptr);
}
