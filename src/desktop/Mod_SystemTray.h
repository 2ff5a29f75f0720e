#pragma once

#include <QString>

class QSystemTrayIcon;
class QWidget;

// The program's one icon in the notification area. Its clicks reach the owning window as mouse
// moves with the button held: the left button as Qt::LeftButton, the right one as Qt::RightButton.
namespace Mod_SystemTray {

// What the icon was made from; all empty before the first TrayAddIcon. The warning is kept without
// an icon too, for the next one.
struct IconRecord {
    QWidget* window = nullptr;
    QString tip;
    QSystemTrayIcon* icon = nullptr;
    bool warning = false;  // the icon carries a warning badge
};

// Adds the icon showing `window`'s own icon, with `tip` as its tool tip (cut to 63 characters).
void TrayAddIcon(QWidget* window, const QString& tip);
// Changes the icon's tool tip (cut as above); without an icon it changes nothing.
void TraySetTip(const QString& tip);
// Puts a warning badge on the icon, or takes it off; without an icon, the next one gets it.
void TraySetWarning(bool on);
// Removes the icon; without an icon it changes nothing.
void TrayRemoveIcon();

const IconRecord& Record();
// True when the desktop offers a notification area to put the icon in.
bool TrayAvailable();

}  // namespace Mod_SystemTray
