// Start-up and shutdown of the console.

#include <QCloseEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QTimer>

#include "console/Frm_Messages.h"
#include "desktop/Mod_SystemTray.h"
#include "support/Mod_Version.h"

void Frm_Messages::Form_Load() {
    Mod_SystemTray::TrayAddIcon(this, QStringLiteral("Corvane"));
    Lbl_Version->setText(QStringLiteral("V") + Mod_Version::VersionString());
    player_.Load();
    // Assigning a value runs the control's change handler, as a user's change would; a value that
    // equals the control's current one changes nothing, so the read-out is written here as well.
    HScroll1->SetValue(player_.Get(Player::kInterval));
    HScroll1_Change();
    for (int i = 0; i < 3; ++i) {
        sVolume[i]->SetValue(player_.Get(static_cast<Player::Value>(Player::kMusicHigh + i)));
    }
    ShowOptions();
    player_.Start(WindowHandle());
    ShowDaypart(player_.Daypart());
}

void Frm_Messages::Form_QueryUnload(qint16& cancel, qint16& unloadMode) {
    if (shutdownDone_ || shuttingDown_) {
        return;  // already on the way out: close without running the shutdown again
    }
    if (unloadMode == kUserClose) {
        // The user's close command only puts the console away. Without a notification area there
        // would be no way back to a hidden window, so it is minimised instead.
        if (Mod_SystemTray::TrayAvailable()) {
            hide();
        } else {
            showMinimized();
        }
        cancel = -1;
        return;
    }
    Shutdown();
}

void Frm_Messages::Shutdown() {
    shuttingDown_ = true;
    Timer1->stop();
    player_.Shutdown();
    ProcessPendingEvents();
    Mod_SystemTray::TrayRemoveIcon();
    shutdownDone_ = true;
}

void Frm_Messages::RequestShutdown(qint16 unloadMode) {
    pendingUnloadMode_ = unloadMode;
    if (!close() && !shutdownDone_) {
        // The window system delivered no close request (a hidden window, say): ask directly.
        qint16 cancel = 0;
        qint16 mode = unloadMode;
        Form_QueryUnload(cancel, mode);
    }
    pendingUnloadMode_.reset();
    if (shutdownDone_) {
        QCoreApplication::quit();
    }
}

void Frm_Messages::Mnu_File_Exit_Click() {
    RequestShutdown(kProgramEnd);
}

void Frm_Messages::Mnu_PopUp_Exit_Click() {
    RequestShutdown(kProgramEnd);
}

void Frm_Messages::closeEvent(QCloseEvent* event) {
    // The window system's own close request (close box, Alt+F4) arrives spontaneously; a close
    // the program asks for, its own quit included, does not.
    qint16 mode = pendingUnloadMode_.value_or(event->spontaneous() ? kUserClose : kProgramEnd);
    qint16 cancel = 0;
    Form_QueryUnload(cancel, mode);
    if (cancel != 0) {
        event->ignore();
    } else {
        event->accept();
    }
}
