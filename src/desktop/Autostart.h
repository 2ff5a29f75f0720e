#pragma once

#include <QString>

// Starting the player at login: an XDG autostart entry of the current user, one for each program
// folder, so that two zones (shop floor, café) each start their own. Whether it is on is read from
// the file system every time, never kept in the settings file.
namespace Autostart {

QString EntryPath(const QString& folder);
bool IsEnabled(const QString& folder);
// Writes the entry that starts `executable` for `folder`; false when it cannot be written.
bool Enable(const QString& executable, const QString& folder);
// Removes the entry; false when one is left.
bool Disable(const QString& folder);

}  // namespace Autostart
