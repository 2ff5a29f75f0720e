#pragma once

#include <QMainWindow>
#include <array>
#include <optional>

#include "console/FileListBox.h"
#include "console/ScrollBar.h"
#include "console/VolumeMeter.h"

class QAction;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTimer;

// The console: the program's main window. It shows the music and message lists with the state of
// each channel, carries the settings panel, and its one-second timer drives playback: music on
// channel 0 without a break and, at the set interval, a message on channel 1 with the music faded
// down around it.
class Frm_Messages : public QMainWindow {
    Q_OBJECT

public:
    // Channel 0 plays music, channel 1 messages; "ZEL" + the channel's digit is its media alias.
    static constexpr int kMusic = 0;
    static constexpr int kMessages = 1;
    static QString ChannelAlias(int index);

    static constexpr int kTickMilliseconds = 1000;
    static constexpr int kFadeStepMilliseconds = 10;
    static constexpr const char* kFilePattern = "*.mp3;*.wav;*.mid";

    explicit Frm_Messages(QWidget* parent = nullptr);
    ~Frm_Messages() override;

    // Start-up: icon, media folders, random starting entries, settings, first music file.
    void Form_Load();
    // A request to close the window. `unloadMode` 0 is the user's close command, which only hides
    // the window; any other cause shuts the program down (once) and leaves `cancel` false.
    void Form_QueryUnload(qint16& cancel, qint16& unloadMode);
    // Buttons as a bit set: 1 left, 2 right, 4 middle. The tray icon reports its clicks here.
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
    void Mnu_Help_Contents_Click();
    void Mnu_Help_About_Click();
    void Mnu_PopUp_Show_Click();
    void Mnu_PopUp_Exit_Click();

    // Ends the program for a cause other than the user's close command: 1 the program itself,
    // 2 the session ending, 3 a termination request from outside.
    void RequestShutdown(qint16 unloadMode);
    bool ShutdownDone() const { return shutdownDone_; }
    qint16 MessageTicks() const { return messageTicks_; }

    // The folder that holds the program; the media folders and settings file sit in it.
    static QString ProgramFolder();
    static QIcon ConsoleIcon();

    // Controls, by the names the rest of the program knows them by.
    QTimer* Timer1;
    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Lbl_Version;
    QLabel* Label4;
    QLabel* Label5;
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
    QAction* Mnu_File_Sep1;
    QAction* Mnu_File_Exit;
    QMenu* Mnu_Help;
    QAction* Mnu_Help_Contents;
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
    void BuildMenus();
    void FadeMusic(int from, int to, int step, const QString& side);
    void CloseAboutWindow();
    void ProcessPendingEvents();
    void Shutdown();
    qint32 WindowHandle();

    qint16 messageTicks_ = 0;
    bool inTick_ = false;
    bool shuttingDown_ = false;
    bool shutdownDone_ = false;
    std::optional<qint16> pendingUnloadMode_;
};
