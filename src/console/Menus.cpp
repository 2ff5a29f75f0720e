// The console's menus, what their items do, and the checks they show from the player's options.

#include <QActionGroup>
#include <QDialogButtonBox>
#include <QDir>
#include <QGroupBox>
#include <QMenuBar>
#include <functional>

#include "about/Frm_About.h"
#include "console/Frm_Messages.h"
#include "console/Frm_Remote.h"
#include "console/Frm_Schedule.h"
#include "desktop/Autostart.h"
#include "desktop/Mod_Help.h"
#include "desktop/Mod_StartDoc.h"
#include "fleet/Fleet.h"
#include "settings/Mod_INI.h"
#include "support/Language.h"
#include "support/ProgramLocation.h"

namespace {

// An item that is on or off, handed to `click` when the user changes it.
QAction* AddCheckable(QMenu* menu, const QString& text, Frm_Messages* window,
                      void (Frm_Messages::*click)(bool)) {
    QAction* action = menu->addAction(text);
    action->setCheckable(true);
    QObject::connect(action, &QAction::triggered, window, click);
    return action;
}

// One of the exclusive choices of the menu that holds `group`, checked when it is the one chosen.
void AddChoice(QMenu* menu, QActionGroup* group, const QString& text, bool chosen,
               const std::function<void()>& pick) {
    QAction* action = menu->addAction(text);
    action->setCheckable(true);
    action->setChecked(chosen);
    group->addAction(action);
    QObject::connect(action, &QAction::triggered, group, pick);
}

}  // namespace

void Frm_Messages::BuildMenus() {
    BuildFileMenu();
    BuildPlayMenu();
    Mnu_Help = menuBar()->addMenu(tr("&Help"));
    Mnu_Help_Contents = Mnu_Help->addAction(tr("&Contents"));
    Mnu_Help_PlayLog = Mnu_Help->addAction(tr("&Play Log"));
    Mnu_Help_About = Mnu_Help->addAction(tr("&About"));
    connect(Mnu_Help_Contents, &QAction::triggered, this, &Frm_Messages::Mnu_Help_Contents_Click);
    connect(Mnu_Help_PlayLog, &QAction::triggered, this, &Frm_Messages::Mnu_Help_PlayLog_Click);
    connect(Mnu_Help_About, &QAction::triggered, this, &Frm_Messages::Mnu_Help_About_Click);

    Mnu_PopUp = new QMenu(QStringLiteral("POPUP"), this);
    Mnu_PopUp_Show = Mnu_PopUp->addAction(tr("&Show"));
    Mnu_PopUp->addSeparator();
    Mnu_PopUp->addActions({Mnu_Play_NextTrack, Mnu_Play_Message->menuAction(), Mnu_Play_Pause});
    Mnu_PopUp->addSeparator();
    Mnu_PopUp_Exit = Mnu_PopUp->addAction(tr("E&xit"));
    connect(Mnu_PopUp_Show, &QAction::triggered, this, &Frm_Messages::Mnu_PopUp_Show_Click);
    connect(Mnu_PopUp_Exit, &QAction::triggered, this, &Frm_Messages::Mnu_PopUp_Exit_Click);
}

void Frm_Messages::BuildFileMenu() {
    Mnu_File = menuBar()->addMenu(tr("&File"));
    Mnu_File_Settings = Mnu_File->addAction(tr("&Settings"));
    connect(Mnu_File_Settings, &QAction::triggered, this, &Frm_Messages::Mnu_File_Settings_Click);
    Mnu_File_OpenMusic = Mnu_File->addAction(tr("Open &Music Folder"));
    connect(Mnu_File_OpenMusic, &QAction::triggered, this,
            [this] { Mnu_File_OpenFolder_Click(kMusic); });
    Mnu_File_OpenMessages = Mnu_File->addAction(tr("Open M&essages Folder"));
    connect(Mnu_File_OpenMessages, &QAction::triggered, this,
            [this] { Mnu_File_OpenFolder_Click(kMessages); });
    Mnu_File_EvenLoudness = AddCheckable(Mnu_File, tr("Even &Loudness"), this,
                                         &Frm_Messages::Mnu_File_EvenLoudness_Click);
    Mnu_File_KeepPlayLog = AddCheckable(Mnu_File, tr("Keep &Play Log"), this,
                                        &Frm_Messages::Mnu_File_KeepPlayLog_Click);
    Mnu_File_Output = Mnu_File->addMenu(tr("&Output"));
    connect(Mnu_File_Output, &QMenu::aboutToShow, this, &Frm_Messages::FillOutputMenu);
    Mnu_File_TrimSilence = AddCheckable(Mnu_File, tr("&Trim Silence"), this,
                                        &Frm_Messages::Mnu_File_TrimSilence_Click);
    Mnu_File_Shuffle =
        AddCheckable(Mnu_File, tr("Shu&ffle"), this, &Frm_Messages::Mnu_File_Shuffle_Click);
    Mnu_File_Schedule = Mnu_File->addAction(tr("Sc&hedule..."));
    connect(Mnu_File_Schedule, &QAction::triggered, this, &Frm_Messages::Mnu_File_Schedule_Click);
    Mnu_File_Remote = Mnu_File->addAction(tr("&Remote Control..."));
    Mnu_File_Remote->setEnabled(false);
    connect(Mnu_File_Remote, &QAction::triggered, this, &Frm_Messages::Mnu_File_Remote_Click);
    BuildCrossfadeMenu();
    Mnu_File_StartAtLogin = AddCheckable(Mnu_File, tr("Start at Lo&gin"), this,
                                         &Frm_Messages::Mnu_File_StartAtLogin_Click);
    connect(Mnu_File, &QMenu::aboutToShow, this,
            [this] { Mnu_File_StartAtLogin->setChecked(Autostart::IsEnabled(Program().folder)); });
    BuildLanguageMenu();
    Mnu_File_Sep1 = Mnu_File->addSeparator();
    Mnu_File_Exit = Mnu_File->addAction(tr("E&xit"));
    connect(Mnu_File_Exit, &QAction::triggered, this, &Frm_Messages::Mnu_File_Exit_Click);
}

void Frm_Messages::BuildCrossfadeMenu() {
    Mnu_File_Crossfade = Mnu_File->addMenu(tr("&Crossfade"));
    auto* crossfades = new QActionGroup(Mnu_File_Crossfade);
    for (int seconds = 0; seconds <= Player::kLongestCrossfade; ++seconds) {
        QAction* action =
            Mnu_File_Crossfade->addAction(seconds == 0 ? tr("&Off") : tr("%1 s").arg(seconds));
        action->setCheckable(true);
        action->setData(seconds);
        crossfades->addAction(action);
        connect(action, &QAction::triggered, this,
                [this, seconds] { Mnu_File_Crossfade_Click(seconds); });
    }
}

// Each language by its own name, so that it can be found by someone who cannot read the one shown.
// Qt builds its texts and the window's at start, so a choice holds from the next start.
void Frm_Messages::BuildLanguageMenu() {
    Mnu_File_Language = Mnu_File->addMenu(tr("&Language"));
    QAction* note = Mnu_File_Language->addAction(tr("From the next start"));
    note->setEnabled(false);
    Mnu_File_Language->addSeparator();
    const QString key = QString::fromLatin1(Player::kLanguageKey);
    const QString section = QString::fromLatin1(Player::kOptionsSection);
    const QString chosen = Language::FirstKnown({Mod_INI::GetIniValue({}, key, {}, section)});
    auto* group = new QActionGroup(Mnu_File_Language);
    const auto add = [&](const QString& text, const QString& code) {
        AddChoice(Mnu_File_Language, group, text, code == chosen,
                  [key, section, code] { Mod_INI::PutIniValue({}, key, code, section); });
    };
    add(tr("The System's"), QString());
    for (const QString& code : QStringList{QStringLiteral("en")} + Language::Translated()) {
        add(Language::NativeName(code), code);
    }
}

void Frm_Messages::BuildPlayMenu() {
    Mnu_Play = menuBar()->addMenu(tr("&Play"));
    Mnu_Play_NextTrack = Mnu_Play->addAction(tr("&Next Track"));
    Mnu_Play_Message = Mnu_Play->addMenu(tr("Play &Message Now"));
    Mnu_Play_Pause = Mnu_Play->addAction(tr("&Pause"));
    Mnu_Play_Pause->setCheckable(true);
    connect(Mnu_Play_NextTrack, &QAction::triggered, this, &Frm_Messages::Mnu_Play_NextTrack_Click);
    connect(Mnu_Play_Message, &QMenu::aboutToShow, this, &Frm_Messages::FillMessageMenu);
    connect(Mnu_Play_Pause, &QAction::triggered, this, &Frm_Messages::Mnu_Play_Pause_Click);
    FillMessageMenu();
}

void Frm_Messages::ShowOptions() {
    const Player::Options& options = player_.Opts();
    Mnu_File_EvenLoudness->setChecked(options.evenLoudness);
    Mnu_File_KeepPlayLog->setChecked(options.keepPlayLog);
    Mnu_File_TrimSilence->setChecked(options.trimSilence);
    Mnu_File_Shuffle->setChecked(options.shuffle);
    for (QAction* action : Mnu_File_Crossfade->actions()) {
        action->setChecked(action->data().toInt() == options.crossfade);
    }
}

// Listed afresh each time: outputs come and go. A chosen one that is not there now stays listed,
// and chosen, so that the music goes back to it when it returns.
void Frm_Messages::FillOutputMenu() {
    const QString chosen = player_.Opts().output;
    Mnu_File_Output->clear();
    auto* group = new QActionGroup(Mnu_File_Output);
    const auto add = [&](const QString& text, const QString& name) {
        AddChoice(Mnu_File_Output, group, text, name == chosen,
                  [this, name] { Mnu_File_Output_Click(name); });
    };
    add(tr("System default"), QString());
    bool listed = chosen.isEmpty();
    for (const Player::Output& output : player_.Outputs()) {
        add(output.description, output.name);
        listed |= output.name == chosen;
    }
    if (!listed) {
        add(tr("%1 (not connected)").arg(chosen), chosen);
    }
}

// The messages as the folder has them when the menu opens.
void Frm_Messages::FillMessageMenu() {
    Mnu_Play_Message->clear();
    connect(Mnu_Play_Message->addAction(tr("&Next in Turn")), &QAction::triggered, this,
            [this] { Mnu_Play_Message_Click({}); });
    Mnu_Play_Message->addSeparator();
    MediaList& list = player_.List(kMessages);
    list.Refresh();
    for (int i = 0; i < list.ListCount(); ++i) {
        const QString name = list.List(i);
        // An ampersand in a file name is shown, not taken for a shortcut.
        QAction* action = Mnu_Play_Message->addAction(
            QString(name).replace(QStringLiteral("&"), QStringLiteral("&&")));
        connect(action, &QAction::triggered, this, [this, name] { Mnu_Play_Message_Click(name); });
    }
}

void Frm_Messages::Mnu_File_Settings_Click() {
    Fme_Settings->setVisible(true);
    ShowVolume();
}

void Frm_Messages::Mnu_File_OpenFolder_Click(int channel) {
    // The desktop's file manager, so files can be dropped in without a terminal. The music's is
    // the folder playing now: a daypart's, when one applies.
    Mod_StartDoc::StartDoc(channel == kMusic ? player_.MusicFolder()
                                             : player_.List(channel).Path());
}

void Frm_Messages::Mnu_File_StartAtLogin_Click(bool checked) {
    if (checked) {
        Autostart::Enable(Program().executable, Program().folder);
    } else {
        Autostart::Disable(Program().folder);
    }
    Mnu_File_StartAtLogin->setChecked(Autostart::IsEnabled(Program().folder));
}

void Frm_Messages::Mnu_File_EvenLoudness_Click(bool checked) {
    player_.SetEvenLoudness(checked);
}

void Frm_Messages::Mnu_File_KeepPlayLog_Click(bool checked) {
    player_.SetKeepPlayLog(checked);
}

void Frm_Messages::Mnu_File_Output_Click(const QString& name) {
    player_.SetOutput(name);
}

void Frm_Messages::Mnu_File_TrimSilence_Click(bool checked) {
    player_.SetTrimSilence(checked);
}

void Frm_Messages::Mnu_File_Crossfade_Click(int seconds) {
    player_.SetCrossfade(seconds);
}

void Frm_Messages::Mnu_File_Shuffle_Click(bool checked) {
    player_.SetShuffle(checked);
}

void Frm_Messages::Mnu_File_Schedule_Click() {
    const QString ini = Mod_INI::IniFilePath();
    const auto read = [&ini](const char* section) {
        return Mod_INI::GetIniSection(ini, QString::fromLatin1(section));
    };
    Frm_Schedule window({.schedule = read(Player::kScheduleSection),
                         .timed = read(Player::kTimedSection),
                         .dayparts = read(Player::kDaypartsSection),
                         .levels = read(Player::kLevelsSection)},
                        player_.LocateMessage(), this);
    if (window.exec() == QDialog::Accepted) {
        player_.SetSchedule({.schedule = window.ScheduleLines(),
                             .timed = window.TimedLines(),
                             .dayparts = window.DaypartLines(),
                             .levels = window.LevelLines()});
    }
}

void Frm_Messages::SetRemote(WebRemote* remote, Fleet* fleet) {
    remote_ = remote;
    fleet_ = fleet;
    Mnu_File_Remote->setEnabled(remote != nullptr);
}

void Frm_Messages::Mnu_File_Remote_Click() {
    if (!remote_) {
        return;
    }
    Frm_Remote window(remote_->Current(), fleet_ ? fleet_->Current() : Fleet::ReadConfig(), this);
    // The choice is kept only once the server has taken it: a port in use is said at once.
    connect(window.Buttons, &QDialogButtonBox::accepted, &window, [this, &window] {
        const WebRemote::Config config = window.Config();
        if (!remote_->Start(config)) {
            window.ShowProblem(tr("The remote cannot be turned on: %1").arg(remote_->Error()));
            remote_->Start(WebRemote::ReadConfig());
            return;
        }
        WebRemote::StoreConfig(config);
        const Fleet::Config broker = window.FleetConfig();
        if (fleet_ && !(broker == fleet_->Current())) {
            Fleet::StoreConfig(broker);
            fleet_->Start(broker);
        }
        window.done(QDialog::Accepted);
    });
    disconnect(window.Buttons, &QDialogButtonBox::accepted, &window, &QDialog::accept);
    window.exec();
}

void Frm_Messages::Mnu_Play_NextTrack_Click() {
    player_.NextTrack();
}

void Frm_Messages::Mnu_Play_Message_Click(const QString& file) {
    player_.PlayMessageNow(file);
}

void Frm_Messages::Mnu_Play_Pause_Click(bool checked) {
    checked ? player_.Pause() : player_.Resume();
    Mnu_Play_Pause->setChecked(player_.Paused());
}

void Frm_Messages::Mnu_Help_PlayLog_Click() {
    QDir().mkpath(player_.Log().Folder());
    Mod_StartDoc::StartDoc(player_.Log().Folder());
}

void Frm_Messages::Mnu_Help_Contents_Click() {
    QString helpFile;
    Mod_Help::ShowHelp(this, helpFile);
}

void Frm_Messages::Mnu_Help_About_Click() {
    Frm_About about(this);
    about.SetWWW(QString::fromLatin1(Frm_About::kMakerWebAddress));
    about.exec();
}
