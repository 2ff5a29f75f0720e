#include "desktop/Autostart.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include "support/SafeWrite.h"

namespace Autostart {

namespace {

// An argument of an Exec line: quoted, with the characters the entry format reserves escaped.
QString Quoted(QString argument) {
    for (const QString special : {"\\", "\"", "`", "$"}) {
        argument.replace(special, u'\\' + special);
    }
    return u'"' + argument + u'"';
}

}  // namespace

QString EntryPath(const QString& folder) {
    const QByteArray id = QCryptographicHash::hash(folder.toUtf8(), QCryptographicHash::Sha1);
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart/corvane-") + QString::fromLatin1(id.toHex().left(12)) +
           QStringLiteral(".desktop");
}

bool IsEnabled(const QString& folder) {
    return QFileInfo::exists(EntryPath(folder));
}

bool Enable(const QString& executable, const QString& folder) {
    const QString path = EntryPath(folder);
    if (!QDir().mkpath(QFileInfo(path).path())) {
        return false;
    }
    const QString entry = QStringLiteral(
                              "[Desktop Entry]\nType=Application\nName=Corvane\n"
                              "Comment=Plays the music and announcements of %1\n"
                              "Exec=%2 --folder %3\nIcon=corvane\nTerminal=false\n"
                              "X-GNOME-Autostart-enabled=true\n")
                              .arg(folder, Quoted(executable), Quoted(folder));
    return static_cast<bool>(SafeWrite::ReplaceFile(path, entry.toUtf8()));
}

bool Disable(const QString& folder) {
    const QString path = EntryPath(folder);
    return !QFileInfo::exists(path) || QFile::remove(path);
}

}  // namespace Autostart
