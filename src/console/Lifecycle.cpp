// Start-up and shutdown of the console.

#include <QCloseEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QRandomGenerator>
#include <QTime>
#include <QTimer>
#include <cmath>

#include "audio/Mod_MCI.h"
#include "console/Frm_Messages.h"
#include "console/SettingValue.h"
#include "desktop/Mod_SystemTray.h"
#include "settings/Mod_INI.h"
#include "support/Mod_Diskinfo.h"
#include "support/Mod_Version.h"
#include "support/ProgramLocation.h"

namespace {

struct SettingKey {
    const char* key;
    int defaultValue;
};

constexpr SettingKey kInterval{"MessageInterval", 30};
constexpr SettingKey kMusicHigh{"MusicVolumeHigh", 100};
constexpr SettingKey kMusicLow{"MusicVolumeLow", 10};
constexpr SettingKey kMessageVolume{"MessageVolume", 100};
const QString kSection = QStringLiteral("Settings");

int LoadSetting(const SettingKey& setting, const ScrollBar& control) {
    const QString text = Mod_INI::GetIniValue(QString(), QString::fromLatin1(setting.key),
                                              QString::number(setting.defaultValue), kSection);
    return TextToSettingValue(text, std::min(control.Min(), control.Max()),
                              std::max(control.Min(), control.Max()));
}

std::pair<QString, QString> Setting(const SettingKey& setting, int value) {
    return {QString::fromLatin1(setting.key), QString::number(value)};
}

}  // namespace

void Frm_Messages::Form_Load() {
    Mod_SystemTray::TrayAddIcon(this, QStringLiteral("Corvane"));

    const QString musicFolder = Program().folder + QStringLiteral("/Music");
    const QString messagesFolder = Program().folder + QStringLiteral("/Messages");
    for (const QString& folder : {musicFolder, messagesFolder}) {
        if (!Mod_Diskinfo::PathExists(folder)) {
            Mod_Diskinfo::CreatePath(folder);
        }
    }

    // Seeded from the time of day, so each start picks other starting entries.
    QRandomGenerator random(static_cast<quint32>(QTime::currentTime().msecsSinceStartOfDay()));

    Lbl_Version->setText(QStringLiteral("V") + Mod_Version::VersionString());

    lists_[kMusic].SetPath(musicFolder);
    lists_[kMessages].SetPath(messagesFolder);
    // Campaign folders rotate on their dates.
    lists_[kMessages].SetCampaigns([this] { return clock_.Now().date(); });
    Schedule::Plan plan = ReadSchedule();
    ProcessPendingEvents();
    for (MediaList& list : lists_) {
        if (list.ListCount() > 0) {
            list.SetListIndex(
                static_cast<int>(std::floor(random.generateDouble() * list.ListCount())));
        }
    }

    // Assigning a value runs the control's change handler, as a user's change would; a value that
    // equals the control's current one changes nothing, so the read-out is written here as well.
    HScroll1->SetValue(LoadSetting(kInterval, *HScroll1));
    HScroll1_Change();
    sVolume[0]->SetValue(LoadSetting(kMusicHigh, *sVolume[0]));
    sVolume[1]->SetValue(LoadSetting(kMusicLow, *sVolume[1]));
    sVolume[2]->SetValue(LoadSetting(kMessageVolume, *sVolume[2]));

    const auto option = [](const char* key) {
        return Mod_INI::GetIniValue(QString(), QString::fromLatin1(key), QStringLiteral("0"),
                                    QString::fromLatin1(kOptionsSection))
                   .trimmed() == u"1";
    };
    ApplyEvenLoudness(option(kEvenLoudnessKey));
    ApplyKeepPlayLog(option(kKeepPlayLogKey));
    ApplyTrimSilence(option(kTrimSilenceKey));
    // A value that is no number of seconds is off.
    ApplyCrossfade(Mod_INI::GetIniValue(QString(), QString::fromLatin1(kCrossfadeKey),
                                        QStringLiteral("0"), QString::fromLatin1(kOptionsSection))
                       .trimmed()
                       .toInt());
    everySongs_ =
        std::max(0, Mod_INI::GetIniValue(QString(), QString::fromLatin1(kEverySongsKey),
                                         QStringLiteral("0"), QString::fromLatin1(kOptionsSection))
                        .trimmed()
                        .toInt());
    ApplyOutput(Mod_INI::GetIniValue(QString(), QString::fromLatin1(kOutputDeviceKey), QString(),
                                     QString::fromLatin1(kOptionsSection))
                    .trimmed());

    ShowVolume();
    scheduler_->SetParentWindow(WindowHandle());
    // Outside the hours nothing starts.
    planner_->SetPlan(std::move(plan));
    scheduler_->StartMusic();
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
    scheduler_->Stop();
    ProcessPendingEvents();
    Mod_MCI::MciClose(Scheduler::ChannelAlias(kMusic));
    Mod_MCI::MciClose(Scheduler::ChannelAlias(kMessages));
    Mod_MCI::MciCloseAll();
    loudness_->Stop();
    ProcessPendingEvents();
    // The four in one replacement of the file, so an end between them cannot leave a mix.
    Mod_INI::PutIniValues(
        QString(),
        {Setting(kInterval, HScroll1->Value()), Setting(kMusicHigh, sVolume[0]->Value()),
         Setting(kMusicLow, sVolume[1]->Value()), Setting(kMessageVolume, sVolume[2]->Value())},
        kSection);
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
