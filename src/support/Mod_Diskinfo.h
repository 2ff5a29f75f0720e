#pragma once

#include <QString>
#include <functional>

// Small, stateless functions that test, create and take apart paths.
namespace Mod_Diskinfo {

bool PathExists(const QString& path);
qint16 CreatePath(const QString& path);
QString StripTrailingBackslash(const QString& text);
QString FolderOfPath(const QString& path);
bool PathRootExists(const QString& path);
QString GetShortPath(const QString& path);
QString PathRoot(const QString& path);
bool IsUncPath(const QString& path);
bool HasDriveLetter(const QString& path);

// Shows CreatePath's error. The program installs a modal message box; until then the error goes
// to the standard error stream.
using ErrorBox = std::function<void(const QString& text, const QString& title)>;
void SetErrorBox(ErrorBox box);

}  // namespace Mod_Diskinfo
