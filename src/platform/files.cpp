#include "platform/files.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <map>

namespace Platform::Files {

namespace {

bool HasWildcard(QStringView text) {
    return text.contains(u'*') || text.contains(u'?');
}

bool CommandCannotHold(const QByteArray& path) {
    return std::any_of(path.begin(), path.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return c == '"' || u < 0x20 || u == 0x7f;
    });
}

// The links that stand for names a media command cannot hold.
struct ShortNames {
    ShortNames() = default;
    ShortNames(const ShortNames&) = delete;
    ShortNames& operator=(const ShortNames&) = delete;
    ~ShortNames() {
        for (const auto& [link, target] : targets) {
            ::unlink(link.constData());
        }
        if (!folder.isEmpty()) {
            ::rmdir(folder.constData());
        }
    }
    QByteArray folder;                         // readable by this user alone
    std::map<QByteArray, QByteArray> targets;  // link -> the path it stands for
};

ShortNames& Links() {
    static ShortNames links;
    return links;
}

QByteArray LinkFor(const QByteArray& path) {
    ShortNames& links = Links();
    for (const auto& [link, target] : links.targets) {
        struct stat info {};
        if (target == path && ::lstat(link.constData(), &info) == 0) {
            return link;
        }
    }
    if (links.folder.isEmpty()) {
        QByteArray folder = QFile::encodeName(QDir::tempPath()) + "/corvane-names-XXXXXX";
        if (::mkdtemp(folder.data()) == nullptr) {
            return {};
        }
        links.folder = folder;
    }
    // The extension too, when it is plain: a name that says what it holds.
    const qsizetype dot = path.lastIndexOf('.');
    const QByteArray extension = path.mid(dot);
    const bool plain = dot > path.lastIndexOf('/') && extension.size() <= 6 &&
                       std::all_of(extension.begin() + 1, extension.end(), [](char c) {
                           return std::isalnum(static_cast<unsigned char>(c));
                       });
    const QByteArray link = links.folder + '/' + QByteArray::number(links.targets.size()) +
                            (plain ? extension : QByteArray());
    if (::symlink(path.constData(), link.constData()) != 0) {
        return {};
    }
    links.targets[link] = path;
    return link;
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
    if (path.isEmpty() || ::stat(path.constData(), &info) != 0) {
        return {};
    }
    return CommandCannotHold(path) ? LinkFor(path) : path;
}

QByteArray LongPathName(const QByteArray& path) {
    const ShortNames& links = Links();
    const auto found = links.targets.find(path);
    return found == links.targets.end() ? path : found->second;
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
