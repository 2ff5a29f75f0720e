#include "support/Mod_Diskinfo.h"

#include <QCoreApplication>
#include <cstdio>

#include "platform/files.h"

namespace Mod_Diskinfo {

namespace {

constexpr QChar kSep = Platform::Files::kSeparator;

// Until a window system is there to show a box, the error goes to the standard error stream.
void ShowErrorBox(const QString& text, const QString& title) {
    std::fprintf(stderr, "%s: %s\n", qPrintable(title), qPrintable(text));
}

ErrorBox& CurrentErrorBox() {
    static ErrorBox box = ShowErrorBox;
    return box;
}

// Where CreatePath's scan starts: past the root, which is never tested or created.
qsizetype ScanStart(const QString& path) {
    if (IsUncPath(path)) {
        int found = 0;
        for (qsizetype i = 2; i < path.size(); ++i) {
            if (path[i] == kSep && ++found == 2) {
                return i + 1;
            }
        }
        return 3;
    }
    if (HasDriveLetter(path)) {
        return 3;
    }
    return 1;
}

}  // namespace

void SetErrorBox(ErrorBox box) {
    CurrentErrorBox() = box ? std::move(box) : ErrorBox(ShowErrorBox);
}

bool PathExists(const QString& path) {
    return Platform::Files::FindFirstMatch(path);
}

qint16 CreatePath(const QString& path) {
    QString full = path;
    if (!full.endsWith(kSep)) {
        full += kSep;
    }
    for (qsizetype i = ScanStart(full); i < full.size(); ++i) {
        // A doubled separator names no new folder.
        if (full[i] != kSep || full[i - 1] == kSep) {
            continue;
        }
        const QString folder = full.left(i);
        if (PathExists(folder)) {
            continue;
        }
        QString description;
        const int code = Platform::Files::CreateFolder(folder, &description);
        if (code != 0) {
            CurrentErrorBox()(QCoreApplication::translate("Mod_Diskinfo", "%1 creating path %2")
                                  .arg(description, folder),
                              QCoreApplication::translate("Mod_Diskinfo", "Error"));
            return static_cast<qint16>(code);
        }
    }
    return 0;
}

QString StripTrailingBackslash(const QString& text) {
    QString result = text;
    while (result.endsWith(u' ')) {
        result.chop(1);
    }
    while (result.endsWith(kSep)) {
        result.chop(1);
    }
    return result;
}

QString FolderOfPath(const QString& path) {
    // A web address is no path, even where its slashes are this platform's separator.
    if (path.contains(QStringLiteral("://")) ||
        path.startsWith(QStringLiteral("www."), Qt::CaseInsensitive)) {
        return {};
    }
    QString p = path;
    if (p.size() == 2 && p[1] == u':') {
        p += kSep;
    }
    if (const qsizetype star = p.indexOf(u'*'); star >= 0) {
        p.truncate(star);
    }
    const qsizetype lastSep = p.lastIndexOf(kSep);
    if (lastSep < 0) {
        return {};
    }
    while (p.endsWith(kSep)) {
        p.chop(1);
    }
    // A path still holding "?" is a pattern, never a folder.
    if (!p.contains(u'?') && PathRootExists(p) && PathExists(p)) {
        const int attributes = Platform::Files::Attributes(p);
        if (attributes >= 0 && (attributes & Platform::Files::kAttributeDirectory) != 0) {
            return p;
        }
    }
    if (lastSep == 0) {
        return QString(kSep);  // a file in the root folder belongs to the root
    }
    return p.left(lastSep);
}

bool PathRootExists(const QString& path) {
    return !GetShortPath(PathRoot(path)).isEmpty();
}

QString GetShortPath(const QString& path) {
    return Platform::Files::ShortPathName(path);
}

QString PathRoot(const QString& path) {
    if (IsUncPath(path)) {
        const qsizetype shareStart = path.indexOf(kSep, 2);
        if (shareStart < 0) {
            return {};
        }
        qsizetype end = path.indexOf(kSep, shareStart + 1);
        if (end < 0) {
            end = path.size();
        }
        return path.left(end);
    }
    if (HasDriveLetter(path)) {
        return path.left(2);
    }
    if (path.startsWith(kSep)) {
        return QString(kSep);
    }
    const qsizetype first = path.indexOf(kSep);
    return first < 0 ? path : path.left(first);
}

bool IsUncPath(const QString& path) {
    return path.size() >= 2 && path[0] == kSep && path[1] == kSep;
}

bool HasDriveLetter(const QString& path) {
    return path.size() >= 2 && path[1] == u':';
}

}  // namespace Mod_Diskinfo
