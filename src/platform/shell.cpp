#include "platform/shell.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QUrl>

namespace Platform::Shell {

namespace {

bool StartDetached(const QString& program, const QStringList& arguments,
                   const QString& workingFolder) {
    return QProcess::startDetached(program, arguments, workingFolder);
}

Launcher& CurrentLauncher() {
    static Launcher launcher = StartDetached;
    return launcher;
}

bool HasScheme(const QString& document) {
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*:(//)?[^/]"));
    return document.contains(QStringLiteral("://")) ||
           (scheme.match(document).hasMatch() && !QFileInfo(document).isAbsolute());
}

// A host name beginning with "www." followed by an optional path: "www.example.org/help". Any
// other dotted name ("song.mp3") is a file name, and a missing file must not open a browser.
bool LooksLikeWebAddress(const QString& document) {
    static const QRegularExpression host(
        QStringLiteral("^www(\\.[A-Za-z0-9-]+)+(:[0-9]+)?(/\\S*)?$"),
        QRegularExpression::CaseInsensitiveOption);
    return host.match(document).hasMatch();
}

}  // namespace

void SetLauncher(Launcher launcher) {
    CurrentLauncher() = launcher ? std::move(launcher) : Launcher(StartDetached);
}

int Open(const QString& document, const QString& workingFolder) {
    if (document.trimmed().isEmpty()) {
        return kFileNotFound;
    }
    QString target;
    // A relative document names a file from the current folder (its working folder was taken from
    // that same text); only a bare name missing there is looked for in the working folder.
    const QString local =
        QFileInfo(document).isAbsolute() || workingFolder.isEmpty() || QFileInfo::exists(document)
            ? document
            : QDir(workingFolder).filePath(document);
    if (QFileInfo::exists(local)) {
        target = QUrl::fromLocalFile(QFileInfo(local).absoluteFilePath()).toString();
    } else if (HasScheme(document)) {
        target = document;
    } else if (LooksLikeWebAddress(document)) {
        target = QStringLiteral("http://") + document;
    } else {
        return kFileNotFound;
    }
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (opener.isEmpty() && CurrentLauncher().target<decltype(&StartDetached)>() != nullptr) {
        return kNoAssociation;
    }
    const QString folder =
        !workingFolder.isEmpty() && QFileInfo(workingFolder).isDir() ? workingFolder : QString();
    return CurrentLauncher()(opener.isEmpty() ? QStringLiteral("xdg-open") : opener, {target},
                             folder)
               ? kOpened
               : kNoAssociation;
}

}  // namespace Platform::Shell
