#include "support/ProgramLocation.h"

#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <optional>

#include "platform/files.h"

namespace {

std::optional<ProgramLocation>& Chosen() {
    static std::optional<ProgramLocation> location;
    return location;
}

// The program folder beside the executable.
ProgramLocation Executable() {
    return {Platform::Files::ExecutableFolder(), Platform::Files::ExecutableBaseName(),
            Platform::Files::ExecutableFolder(), Platform::Files::ExecutablePath()};
}

// An installed program has its help in ../share/corvane; a portable folder has it beside itself.
bool Installed(const QString& executableFolder) {
    return !QFileInfo::exists(executableFolder + QStringLiteral("/MESSAGES.html")) &&
           QFileInfo::exists(executableFolder + QStringLiteral("/../share/corvane/MESSAGES.html"));
}

bool Writable(const QString& folder) {
    return ::access(QFile::encodeName(folder).constData(), W_OK) == 0;
}

}  // namespace

QString ChooseProgramFolder(const QString& requested) {
    ProgramLocation location = Executable();
    if (!requested.isEmpty()) {
        // Canonical, so that every way of naming one folder finds the one player it has.
        const QString folder = QFileInfo(requested).canonicalFilePath();
        if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
            return QStringLiteral("the folder %1 does not exist").arg(requested);
        }
        if (!Writable(folder)) {
            return QStringLiteral("the folder %1 cannot be written").arg(folder);
        }
        location.folder = folder;
    } else if (!Writable(location.folder) || Installed(location.executableFolder)) {
        // Installed, beside nothing the user may (or, as root, should) write: the user's own data
        // folder.
        const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
        location.folder = data + QStringLiteral("/corvane");
        if (data.isEmpty() || !QDir().mkpath(location.folder)) {
            return QStringLiteral("the folder %1 cannot be made").arg(location.folder);
        }
    }
    Chosen() = location;
    return {};
}

const ProgramLocation& Program() {
    if (!Chosen()) {
        Chosen() = Executable();
    }
    return *Chosen();
}
