#include "desktop/Mod_Help.h"

#include <QApplication>
#include <QDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>
#include <QWidget>

#include "platform/files.h"
#include "support/Language.h"
#include "support/ProgramLocation.h"

namespace Mod_Help {

namespace {

const QString kWindowName = QStringLiteral("HelpWindow");

QWidget* MakeHelpWindow(QWidget* owner) {
    auto* window = new QDialog(owner);
    window->setObjectName(kWindowName);
    window->setWindowTitle(QCoreApplication::translate("Mod_Help", "Corvane Help"));
    window->setModal(false);
    window->resize(560, 520);
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* browser = new QTextBrowser(window);
    browser->setObjectName(QStringLiteral("HelpText"));
    browser->setOpenExternalLinks(true);
    layout->addWidget(browser);
    return window;
}

// The page in the program's language, MESSAGES.de.html beside MESSAGES.html, where there is one.
QString InLanguage(const QString& english) {
    if (Language::IsEnglish()) {
        return english;
    }
    QString translated = english;
    translated.insert(translated.size() - 5, u'.' + Language::Current());
    return QFileInfo::exists(translated) ? translated : english;
}

}  // namespace

QString ConfiguredHelpFile() {
    // Beside the executable in a build folder; installed, in its data folder.
    const QString beside = Program().executableFolder + QStringLiteral("/MESSAGES.html");
    const QString installed =
        Program().executableFolder + QStringLiteral("/../share/corvane/MESSAGES.html");
    return InLanguage(QFileInfo::exists(beside) || !QFileInfo::exists(installed)
                          ? beside
                          : QFileInfo(installed).canonicalFilePath());
}

QWidget* HelpWindow(QWidget* owner) {
    return owner == nullptr ? nullptr
                            : owner->findChild<QWidget*>(kWindowName, Qt::FindDirectChildrenOnly);
}

void ShowHelp(QWidget* owner, QString& helpFile) {
    QString error;
    if (helpFile.isEmpty()) {
        helpFile = ConfiguredHelpFile();
    }
    if (owner == nullptr) {
        error = QCoreApplication::translate("Mod_Help", "The help has no window to belong to.");
    } else {
        QWidget* window = HelpWindow(owner);
        if (window == nullptr) {
            window = MakeHelpWindow(owner);
        }
        auto* browser = window->findChild<QTextBrowser*>(QStringLiteral("HelpText"));
        const QFileInfo file(helpFile);
        if (file.isFile() && file.isReadable()) {
            browser->setSource(QUrl::fromLocalFile(file.absoluteFilePath()));
        } else {
            browser->setHtml(
                QCoreApplication::translate("Mod_Help",
                                            "<h2>The help file cannot be found</h2><p>It should "
                                            "be at <code>%1</code>.</p>")
                    .arg(helpFile.toHtmlEscaped()));
        }
        window->show();
        window->raise();
        window->activateWindow();
    }
    if (!error.isEmpty()) {
        if (qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr) {
            QMessageBox::information(nullptr, QStringLiteral("Corvane"), error, QMessageBox::Ok);
        }
    }
}

}  // namespace Mod_Help
