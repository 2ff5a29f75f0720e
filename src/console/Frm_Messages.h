#pragma once

#include <QMainWindow>
#include <array>
#include <memory>
#include <optional>

#include "console/FileListBox.h"
#include "console/ScrollBar.h"
#include "console/VolumeMeter.h"
#include "player/Player.h"

class QAction;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTimer;
class Fleet;
class WebRemote;

// The console: the program's main window, a view of the player. It shows the music and message
// lists with the state of each channel and carries the settings panel; its one-second timer ticks
// the player, which plays music on channel 0 without a break and, at the set interval, a message on
// channel 1 with the music faded down around it.
class Frm_Messages : public QMainWindow {
    Q_OBJECT

public:
    static constexpr int kMusic = Scheduler::kMusic;
    static constexpr int kMessages = Scheduler::kMessages;
    static constexpr int kTickMilliseconds = 1000;

    // Why the window is asked to close. Only the user's close command leaves the program running.
    enum UnloadMode : qint16 {
        kUserClose = 0,     // the close box, Alt+F4
        kProgramEnd = 1,    // File > Exit, the icon's Exit, the application quitting
        kSessionEnd = 2,    // logging out or shutting down
        kEndRequested = 3,  // a termination request from outside (a signal)
    };
    // Mouse buttons as the icon reports them, a bit each.
    enum MouseButton : qint16 { kLeftButton = 1, kRightButton = 2, kMiddleButton = 4 };

    explicit Frm_Messages(Player& player, QWidget* parent = nullptr);
    ~Frm_Messages() override;

    // Start-up: icon, media folders, random starting entries, settings, first music file.
    void Form_Load();
    // A request to close the window. The user's close command only hides the window; any other
    // cause shuts the program down (once) and leaves `cancel` false.
    void Form_QueryUnload(qint16& cancel, qint16& unloadMode);
    // `button` is a set of MouseButton bits. The tray icon reports its clicks here.
    void Form_MouseMove(qint16 button, qint16 shift, float x, float y);

    void Timer1_Timer();
    void PlayNextFile(qint16 index);
    void RefreshFileLists();
    void ShowVolume();

    void sVolume_Change(qint16 index);
    void HScroll1_Change();
    void Cmd_OK_Click();
    void Mnu_File_Settings_Click();
    void Mnu_File_Exit_Click();
    void Mnu_File_OpenFolder_Click(int channel);
    void Mnu_File_StartAtLogin_Click(bool checked);
    void Mnu_File_EvenLoudness_Click(bool checked);
    void Mnu_File_KeepPlayLog_Click(bool checked);
    void Mnu_File_Output_Click(const QString& name);  // the sound server's name; empty: default
    void Mnu_File_Crossfade_Click(int seconds);       // 0: off
    void Mnu_File_TrimSilence_Click(bool checked);
    void Mnu_File_Shuffle_Click(bool checked);
    void Mnu_File_Schedule_Click();
    void Mnu_File_Remote_Click();
    // The web remote that File > Remote Control sets up; none: the item is unavailable.
    void SetRemote(WebRemote* remote, Fleet* fleet = nullptr);
    void Mnu_Play_NextTrack_Click();
    void Mnu_Play_Message_Click(const QString& file);  // empty: the next of the rotation
    void Mnu_Play_Pause_Click(bool checked);
    void Mnu_Help_Contents_Click();
    void Mnu_Help_PlayLog_Click();
    void Mnu_Help_About_Click();
    void Mnu_PopUp_Show_Click();
    void Mnu_PopUp_Exit_Click();

    // Ends the program for a cause other than the user's close command.
    void RequestShutdown(qint16 unloadMode);
    bool ShutdownDone() const { return shutdownDone_; }
    qint16 MessageTicks() const { return player_.Playback().MessageTicks(); }
    Player& Play() const { return player_; }

    static QIcon ConsoleIcon();

    // Controls, by the names the rest of the program knows them by.
    QTimer* Timer1;
    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    // In the credit line's place while anything keeps the player from playing as it should.
    QLabel* Lbl_Problems;
    QLabel* Lbl_Version;
    QLabel* Label4;
    // Under Label4: "Lunch — Music/Lunch", and what a stream says it plays; empty without either.
    QLabel* Lbl_Daypart;
    QLabel* Label5;
    QLabel* Lbl_Closed;  // "Closed until Mon 08:00" outside the opening hours
    std::array<FileListBox*, 2> File1{};
    std::array<QLabel*, 2> Lbl_Status{};
    QGroupBox* Fme_Settings;
    QLabel* Label6;
    std::array<QLabel*, 4> Label7{};
    ScrollBar* HScroll1;
    QLineEdit* Txt_Interval;
    QPushButton* Cmd_OK;
    std::array<ScrollBar*, 3> sVolume{};
    VolumeMeter* Pic_Volume;

    QMenu* Mnu_File;
    QAction* Mnu_File_Settings;
    QAction* Mnu_File_OpenMusic;
    QAction* Mnu_File_OpenMessages;
    QAction* Mnu_File_EvenLoudness;
    QAction* Mnu_File_KeepPlayLog;
    QMenu* Mnu_File_Output;  // the outputs there are when it opens, and the chosen one
    QAction* Mnu_File_Remote;
    QMenu* Mnu_File_Crossfade;  // Off, or 1 to Player::kLongestCrossfade seconds
    QMenu* Mnu_File_Language;   // the system's, or one the program has; from the next start
    QAction* Mnu_File_TrimSilence;
    QAction* Mnu_File_Shuffle;
    QAction* Mnu_File_Schedule;
    QAction* Mnu_File_StartAtLogin;  // checked from the file system each time the menu opens
    QAction* Mnu_File_Sep1;
    QAction* Mnu_File_Exit;
    QMenu* Mnu_Play;  // on the menu bar and in the pop-up menu alike
    QAction* Mnu_Play_NextTrack;
    QMenu* Mnu_Play_Message;  // the next of the rotation, then the messages folder's files
    QAction* Mnu_Play_Pause;
    QMenu* Mnu_Help;
    QAction* Mnu_Help_Contents;
    QAction* Mnu_Help_PlayLog;
    QAction* Mnu_Help_About;
    QMenu* Mnu_PopUp;  // never on the menu bar: the tray icon shows it
    QAction* Mnu_PopUp_Show;
    QAction* Mnu_PopUp_Exit;

protected:
    void closeEvent(QCloseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    void BuildControls();
    void BuildHeader(QWidget* client);
    void BuildLists(QWidget* client);
    void BuildSettingsPanel(QWidget* client);
    void BuildMenus();
    void BuildFileMenu();
    void BuildCrossfadeMenu();
    void BuildLanguageMenu();
    void BuildPlayMenu();
    void BindPlayer();
    void ShowOptions();
    void FillOutputMenu();
    void FillMessageMenu();
    void ShowClosed(const QString& text);
    void ShowDaypart(const QString& name);
    void ShowProblems();
    void ShowTrayTip();
    void CloseAboutWindow();
    void ProcessPendingEvents();
    void Shutdown();
    qint32 WindowHandle();

    Player& player_;
    WebRemote* remote_ = nullptr;
    Fleet* fleet_ = nullptr;
    bool shuttingDown_ = false;
    bool shutdownDone_ = false;
    std::optional<qint16> pendingUnloadMode_;
    QString daypart_;       // as last told, for the tray's tip
    QStringList problems_;  // as last shown
};
