#pragma once

#include <QString>
#include <QStringList>
#include <functional>

// Opens a document, folder or web address with the desktop's associated program, the way a file
// manager's "Open" does. The opener is started directly, never through a shell command line.
namespace Platform::Shell {

// Answers of Open, as a launcher of the original desktop gives them: above 32 is success.
inline constexpr int kOpened = 42;
inline constexpr int kFileNotFound = 2;
inline constexpr int kNoAssociation = 31;

// Starts `program` with `arguments` in `workingFolder` ("" keeps ours) without waiting; false when
// it cannot be started.
using Launcher = std::function<bool(const QString& program, const QStringList& arguments,
                                    const QString& workingFolder)>;
void SetLauncher(Launcher launcher);  // an empty launcher restores the real one

// `document` is a path (absolute, or relative to `workingFolder`) or a web address, with or
// without its scheme ("www.example.org" is taken for a web address).
int Open(const QString& document, const QString& workingFolder);

}  // namespace Platform::Shell
