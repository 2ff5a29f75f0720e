#include "platform/files.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFileInfo>
#include <array>
#include <cerrno>
#include <cstring>

namespace Platform::Files {

namespace {

bool HasWildcard(QStringView text) {
    return text.contains(u'*') || text.contains(u'?');
}

}  // namespace

bool WildcardMatch(QStringView pattern, QStringView name) {
    // Iterative match with one back-tracking point for the last "*": linear in practice and
    // never recursive, whatever the pattern.
    qsizetype p = 0;
    qsizetype n = 0;
    qsizetype starP = -1;
    qsizetype starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == u'*') {
            starP = p++;
            starN = n;
        } else if (p < pattern.size() &&
                   (pattern[p] == u'?' || pattern[p].toCaseFolded() == name[n].toCaseFolded())) {
            ++p;
            ++n;
        } else if (starP >= 0) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*') {
        ++p;
    }
    return p == pattern.size();
}

bool FindFirstMatch(const QString& path) {
    if (path.isEmpty() || path.endsWith(kSeparator)) {
        return false;
    }
    const qsizetype cut = path.lastIndexOf(kSeparator);
    const QString name = path.mid(cut + 1);
    if (!HasWildcard(name)) {
        struct stat info {};
        return ::lstat(QFile::encodeName(path).constData(), &info) == 0;
    }
    const QString folder =
        cut < 0 ? QStringLiteral(".") : (cut == 0 ? QStringLiteral("/") : path.left(cut));
    if (HasWildcard(folder)) {
        return false;
    }
    DIR* dir = ::opendir(QFile::encodeName(folder).constData());
    if (dir == nullptr) {
        return false;
    }
    bool found = false;
    while (const dirent* entry = ::readdir(dir)) {
        const QString entryName = QFile::decodeName(entry->d_name);
        if (entryName != u"." && entryName != u".." && WildcardMatch(name, entryName)) {
            found = true;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

QString ShortPathName(const QString& path) {
    return ShortPathName(QFile::encodeName(path)).isEmpty() ? QString() : path;
}

QByteArray ShortPathName(const QByteArray& path) {
    struct stat info {};
    return !path.isEmpty() && ::stat(path.constData(), &info) == 0 ? path : QByteArray();
}

int Attributes(const QString& path) {
    struct stat info {};
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &info) != 0) {
        return -1;
    }
    return S_ISDIR(info.st_mode) ? kAttributeDirectory : 0;
}

int CreateFolder(const QString& path, QString* errorText) {
    if (::mkdir(QFile::encodeName(path).constData(), 0777) == 0) {
        return 0;
    }
    const int code = errno;
    if (errorText != nullptr) {
        *errorText = QString::fromLocal8Bit(std::strerror(code));
    }
    return code;
}

QString ExecutablePath() {
    std::array<char, 4096> buffer{};
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (n <= 0) {
        return {};
    }
    return QString::fromLocal8Bit(buffer.data(), static_cast<qsizetype>(n));
}

QString ExecutableFolder() {
    const QString exe = ExecutablePath();
    const qsizetype cut = exe.lastIndexOf(kSeparator);
    return cut <= 0 ? QString(kSeparator) : exe.left(cut);
}

QString ExecutableBaseName() {
    return QFileInfo(ExecutablePath()).completeBaseName();
}

}  // namespace Platform::Files
