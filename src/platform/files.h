#pragma once

#include <QString>
#include <QStringList>

// File-system services the rest of the program expects from the operating system: a directory
// search with wildcards, short path names, folder creation with an error code, attributes and the
// running executable's location.
namespace Platform::Files {

// The separator of paths on this platform.
inline constexpr QChar kSeparator = u'/';

// The directory attribute bit, as reported by Attributes().
inline constexpr int kAttributeDirectory = 16;

// True when at least one entry matches `path`. The last component may hold "*" and "?". A path
// that ends with the separator, and a bare root, are reported as not found.
bool FindFirstMatch(const QString& path);

// This platform has no short names: the short form of an existing path is the path itself, of a
// missing path "". A name that a media command cannot hold (one with a double quote or a control
// character) gets a short form of its own: a link with a plain name in a private folder, made
// when first asked for and removed when the program ends.
QString ShortPathName(const QString& path);
QByteArray ShortPathName(const QByteArray& path);
// The path a short form stands for; any other path as it is.
QByteArray LongPathName(const QByteArray& path);

// The attributes of an existing path (kAttributeDirectory for a folder, 0 otherwise), -1 when
// the path cannot be examined.
int Attributes(const QString& path);

// Creates one folder. Returns 0 on success, otherwise the error code; `errorText` receives the
// platform's description of that code.
int CreateFolder(const QString& path, QString* errorText);

// Case-insensitive match of `name` against a pattern of "*" and "?" wildcards.
bool WildcardMatch(QStringView pattern, QStringView name);

// The running executable, the folder that holds it, and its file name without extension.
QString ExecutablePath();
QString ExecutableFolder();
QString ExecutableBaseName();

}  // namespace Platform::Files
