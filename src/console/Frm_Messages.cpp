#include "console/Frm_Messages.h"

#include <QActionGroup>
#include <QApplication>
#include <QCursor>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QSvgRenderer>
#include <QTimer>
#include <algorithm>

#include "about/Frm_About.h"
#include "audio/Mod_MCI.h"
#include "console/Frm_Remote.h"
#include "console/Frm_Schedule.h"
#include "desktop/Autostart.h"
#include "desktop/Mod_Help.h"
#include "desktop/Mod_StartDoc.h"
#include "desktop/Mod_SystemTray.h"
#include "fleet/Fleet.h"
#include "platform/files.h"
#include "platform/mci/mci.h"
#include "platform/mci/outputs.h"
#include "settings/Mod_INI.h"
#include "support/ProgramLocation.h"

namespace {

constexpr QSize kClientSize{421, 415};
constexpr int kHeaderHeight = 61;

QFont ArialFont(double points, bool bold = false) {
    QFont font(QStringLiteral("Arial"));
    font.setStyleHint(QFont::SansSerif);  // a metric-compatible face where Arial is missing
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

QLabel* MakeLabel(QWidget* parent, const QString& caption, const QRect& place,
                  Qt::Alignment alignment = Qt::AlignHCenter | Qt::AlignVCenter) {
    auto* label = new QLabel(caption, parent);
    label->setGeometry(place);
    label->setAlignment(alignment);
    return label;
}

void MakeWhite(QLabel* label) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, Qt::white);
    label->setPalette(palette);
}

}  // namespace

QIcon Frm_Messages::ConsoleIcon() {
    // Drawn from the program's scalable icon at the sizes a title bar and a tray ask for; the
    // renderer needs no image plug-in.
    Q_INIT_RESOURCE(corvane);  // the resources sit in a static library
    QSvgRenderer renderer(QStringLiteral(":/corvane.svg"));
    QIcon icon;
    for (const int size : {16, 22, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        renderer.render(&painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

Frm_Messages::Frm_Messages(Player& player, QWidget* parent) : QMainWindow(parent), player_(player) {
    setWindowTitle(QStringLiteral("ZEL"));
    setWindowIcon(ConsoleIcon());
    BuildControls();
    BuildMenus();
    BindPlayer();
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    adjustSize();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }

    Timer1 = new QTimer(this);
    Timer1->setInterval(kTickMilliseconds);
    connect(Timer1, &QTimer::timeout, this, &Frm_Messages::Timer1_Timer);
    Timer1->start();
}

Frm_Messages::~Frm_Messages() = default;

// What the player tells, shown; what the controls change, told to the player.
void Frm_Messages::BindPlayer() {
    connect(&player_, &Player::StatusChanged, this,
            [this](int channel, const QString& mode) { Lbl_Status[channel]->setText(mode); });
    connect(&player_, &Player::VolumeShown, Pic_Volume, &VolumeMeter::Draw);
    connect(&player_, &Player::ClosedTextChanged, this, &Frm_Messages::ShowClosed);
    connect(&player_, &Player::OptionsChanged, this, &Frm_Messages::ShowOptions);
    connect(&player_, &Player::PausedChanged, Mnu_Play_Pause, &QAction::setChecked);
    // Assigning a value runs the control's change handler, which hands the same value back: the
    // player takes it as no change.
    connect(&player_, &Player::ValueChanged, this, [this](Player::Value value, int level) {
        if (value == Player::kInterval) {
            HScroll1->SetValue(level);
        } else {
            sVolume[value - Player::kMusicHigh]->SetValue(level);
        }
    });
}

void Frm_Messages::BuildControls() {
    auto* client = new QWidget(this);
    client->setFixedSize(kClientSize);
    setCentralWidget(client);

    // Created back to front: a control made later is drawn over the ones before it.
    Label1 = MakeLabel(client, {}, QRect(0, 0, kClientSize.width(), kHeaderHeight));
    Label1->setAutoFillBackground(true);
    QPalette band = Label1->palette();
    band.setColor(QPalette::Window, Qt::black);
    Label1->setPalette(band);

    Label2 = MakeLabel(client, QStringLiteral("Corvane"), QRect(10, 4, 250, 34),
                       Qt::AlignLeft | Qt::AlignVCenter);
    Label2->setFont(ArialFont(18, true));
    MakeWhite(Label2);
    // The credit line is centred in the band; its box stops short of the version on the right.
    Label3 = MakeLabel(client, QStringLiteral("Music and announcements, without a break"),
                       QRect(kClientSize.width() / 2 - 140, 38, 280, 16));
    Label3->setFont(ArialFont(8.25));
    MakeWhite(Label3);
    Lbl_Version = MakeLabel(client, QStringLiteral("V"), QRect(300, 38, 113, 16),
                            Qt::AlignRight | Qt::AlignVCenter);
    Lbl_Version->setFont(ArialFont(8.25));
    MakeWhite(Lbl_Version);
    Lbl_Closed = MakeLabel(client, {}, QRect(260, 4, kClientSize.width() - 270, 34),
                           Qt::AlignRight | Qt::AlignVCenter);
    Lbl_Closed->setFont(ArialFont(10, true));
    MakeWhite(Lbl_Closed);

    const int half = kClientSize.width() / 2;
    Label4 = MakeLabel(client, QStringLiteral("Music Playlist"), QRect(0, 66, half, 30));
    Label5 = MakeLabel(client, QStringLiteral("Messages"), QRect(half, 66, half, 30));
    for (int i = 0; i < 2; ++i) {
        File1[i] = new FileListBox(player_.List(i), client);
        File1[i]->setGeometry(i * half + 5, 100, half - 10, 270);
        Lbl_Status[i] = MakeLabel(client, {}, QRect(i * half, 374, half, 34));
    }
    for (QLabel* label : {Label4, Label5, Lbl_Status[0], Lbl_Status[1]}) {
        label->setFont(ArialFont(18, true));
    }

    Fme_Settings = new QGroupBox(QStringLiteral("Settings"), client);
    Fme_Settings->setGeometry(0, kHeaderHeight, kClientSize.width(),
                              kClientSize.height() - kHeaderHeight);
    Fme_Settings->setAutoFillBackground(true);
    Fme_Settings->setVisible(false);

    Label6 =
        MakeLabel(Fme_Settings, QStringLiteral("Message interval in seconds (0 for no messages)"),
                  QRect(10, 24, 200, 34), Qt::AlignLeft | Qt::AlignVCenter);
    Label6->setWordWrap(true);
    HScroll1 = new ScrollBar(Qt::Horizontal, 0, 600, 1, 1, 0, Fme_Settings);
    HScroll1->setGeometry(220, 28, 110, 24);
    // The read-out covers the scroll bar's track, leaving its two arrows: together a spin box.
    Txt_Interval = new QLineEdit(QStringLiteral("60"), Fme_Settings);
    Txt_Interval->setGeometry(240, 28, 70, 24);
    Txt_Interval->setAlignment(Qt::AlignCenter);
    Txt_Interval->setReadOnly(true);
    Cmd_OK = new QPushButton(QStringLiteral("&OK"), Fme_Settings);
    Cmd_OK->setGeometry(345, 24, 64, 30);

    Label7[0] = MakeLabel(Fme_Settings, QStringLiteral("Music Volume"), QRect(10, 72, 200, 18));
    Label7[3] = MakeLabel(Fme_Settings, QStringLiteral("Message Volume"), QRect(240, 72, 160, 18));
    sVolume[0] = new ScrollBar(Qt::Vertical, 100, 0, 1, 10, 100, Fme_Settings);
    sVolume[0]->setGeometry(48, 96, 20, 200);
    Pic_Volume = new VolumeMeter(Fme_Settings);
    Pic_Volume->setGeometry(101, 96, 14, 200);
    sVolume[1] = new ScrollBar(Qt::Vertical, 100, 0, 1, 10, 10, Fme_Settings);
    sVolume[1]->setGeometry(148, 96, 20, 200);
    sVolume[2] = new ScrollBar(Qt::Vertical, 100, 0, 1, 10, 100, Fme_Settings);
    sVolume[2]->setGeometry(310, 96, 20, 200);
    Label7[1] = MakeLabel(Fme_Settings, QStringLiteral("Normal Playback"), QRect(8, 300, 100, 34));
    Label7[2] = MakeLabel(Fme_Settings, QStringLiteral("During Message"), QRect(108, 300, 100, 34));
    Label7[1]->setWordWrap(true);
    Label7[2]->setWordWrap(true);

    for (int i = 0; i < 3; ++i) {
        connect(sVolume[i], &ScrollBar::Change, this,
                [this, i] { sVolume_Change(static_cast<qint16>(i)); });
    }
    connect(HScroll1, &ScrollBar::Change, this, &Frm_Messages::HScroll1_Change);
    connect(Cmd_OK, &QPushButton::clicked, this, &Frm_Messages::Cmd_OK_Click);
}

void Frm_Messages::BuildMenus() {
    Mnu_File = menuBar()->addMenu(QStringLiteral("&File"));
    Mnu_File_Settings = Mnu_File->addAction(QStringLiteral("&Settings"));
    Mnu_File_OpenMusic = Mnu_File->addAction(QStringLiteral("Open &Music Folder"));
    Mnu_File_OpenMessages = Mnu_File->addAction(QStringLiteral("Open M&essages Folder"));
    Mnu_File_EvenLoudness = Mnu_File->addAction(QStringLiteral("Even &Loudness"));
    Mnu_File_EvenLoudness->setCheckable(true);
    Mnu_File_KeepPlayLog = Mnu_File->addAction(QStringLiteral("Keep &Play Log"));
    Mnu_File_KeepPlayLog->setCheckable(true);
    Mnu_File_Output = Mnu_File->addMenu(QStringLiteral("&Output"));
    Mnu_File_TrimSilence = Mnu_File->addAction(QStringLiteral("&Trim Silence"));
    Mnu_File_TrimSilence->setCheckable(true);
    connect(Mnu_File_TrimSilence, &QAction::triggered, this,
            &Frm_Messages::Mnu_File_TrimSilence_Click);
    Mnu_File_Schedule = Mnu_File->addAction(QStringLiteral("Sc&hedule..."));
    connect(Mnu_File_Schedule, &QAction::triggered, this, &Frm_Messages::Mnu_File_Schedule_Click);
    Mnu_File_Remote = Mnu_File->addAction(QStringLiteral("&Remote Control..."));
    Mnu_File_Remote->setEnabled(false);
    connect(Mnu_File_Remote, &QAction::triggered, this, &Frm_Messages::Mnu_File_Remote_Click);
    Mnu_File_Crossfade = Mnu_File->addMenu(QStringLiteral("&Crossfade"));
    auto* crossfades = new QActionGroup(Mnu_File_Crossfade);
    for (int seconds = 0; seconds <= Player::kLongestCrossfade; ++seconds) {
        QAction* action = Mnu_File_Crossfade->addAction(
            seconds == 0 ? QStringLiteral("&Off") : QStringLiteral("%1 s").arg(seconds));
        action->setCheckable(true);
        action->setData(seconds);
        crossfades->addAction(action);
        connect(action, &QAction::triggered, this,
                [this, seconds] { Mnu_File_Crossfade_Click(seconds); });
    }
    Mnu_File_StartAtLogin = Mnu_File->addAction(QStringLiteral("Start at Lo&gin"));
    Mnu_File_StartAtLogin->setCheckable(true);
    Mnu_File_Sep1 = Mnu_File->addSeparator();
    Mnu_File_Exit = Mnu_File->addAction(QStringLiteral("E&xit"));
    Mnu_Play = menuBar()->addMenu(QStringLiteral("&Play"));
    Mnu_Play_NextTrack = Mnu_Play->addAction(QStringLiteral("&Next Track"));
    Mnu_Play_Message = Mnu_Play->addMenu(QStringLiteral("Play &Message Now"));
    Mnu_Play_Pause = Mnu_Play->addAction(QStringLiteral("&Pause"));
    Mnu_Play_Pause->setCheckable(true);
    connect(Mnu_Play_NextTrack, &QAction::triggered, this, &Frm_Messages::Mnu_Play_NextTrack_Click);
    connect(Mnu_Play_Message, &QMenu::aboutToShow, this, &Frm_Messages::FillMessageMenu);
    connect(Mnu_Play_Pause, &QAction::triggered, this, &Frm_Messages::Mnu_Play_Pause_Click);
    FillMessageMenu();
    Mnu_Help = menuBar()->addMenu(QStringLiteral("&Help"));
    Mnu_Help_Contents = Mnu_Help->addAction(QStringLiteral("&Contents"));
    Mnu_Help_PlayLog = Mnu_Help->addAction(QStringLiteral("&Play Log"));
    Mnu_Help_About = Mnu_Help->addAction(QStringLiteral("&About"));
    Mnu_PopUp = new QMenu(QStringLiteral("POPUP"), this);
    Mnu_PopUp_Show = Mnu_PopUp->addAction(QStringLiteral("&Show"));
    Mnu_PopUp->addSeparator();
    Mnu_PopUp->addActions({Mnu_Play_NextTrack, Mnu_Play_Message->menuAction(), Mnu_Play_Pause});
    Mnu_PopUp->addSeparator();
    Mnu_PopUp_Exit = Mnu_PopUp->addAction(QStringLiteral("E&xit"));

    connect(Mnu_File_Settings, &QAction::triggered, this, &Frm_Messages::Mnu_File_Settings_Click);
    connect(Mnu_File_Exit, &QAction::triggered, this, &Frm_Messages::Mnu_File_Exit_Click);
    connect(Mnu_File_OpenMusic, &QAction::triggered, this,
            [this] { Mnu_File_OpenFolder_Click(kMusic); });
    connect(Mnu_File_OpenMessages, &QAction::triggered, this,
            [this] { Mnu_File_OpenFolder_Click(kMessages); });
    connect(Mnu_File_EvenLoudness, &QAction::triggered, this,
            &Frm_Messages::Mnu_File_EvenLoudness_Click);
    connect(Mnu_File_KeepPlayLog, &QAction::triggered, this,
            &Frm_Messages::Mnu_File_KeepPlayLog_Click);
    connect(Mnu_File_Output, &QMenu::aboutToShow, this, &Frm_Messages::FillOutputMenu);
    connect(Mnu_Help_PlayLog, &QAction::triggered, this, &Frm_Messages::Mnu_Help_PlayLog_Click);
    connect(Mnu_File_StartAtLogin, &QAction::triggered, this,
            &Frm_Messages::Mnu_File_StartAtLogin_Click);
    connect(Mnu_File, &QMenu::aboutToShow, this,
            [this] { Mnu_File_StartAtLogin->setChecked(Autostart::IsEnabled(Program().folder)); });
    connect(Mnu_Help_Contents, &QAction::triggered, this, &Frm_Messages::Mnu_Help_Contents_Click);
    connect(Mnu_Help_About, &QAction::triggered, this, &Frm_Messages::Mnu_Help_About_Click);
    connect(Mnu_PopUp_Show, &QAction::triggered, this, &Frm_Messages::Mnu_PopUp_Show_Click);
    connect(Mnu_PopUp_Exit, &QAction::triggered, this, &Frm_Messages::Mnu_PopUp_Exit_Click);
}

void Frm_Messages::Timer1_Timer() {
    player_.Tick();
}

void Frm_Messages::PlayNextFile(qint16 index) {
    player_.Playback().PlayNextFile(index);
}

void Frm_Messages::RefreshFileLists() {
    player_.Playback().RefreshFileLists();
}

void Frm_Messages::ShowVolume() {
    player_.Playback().ShowVolume();
}

void Frm_Messages::sVolume_Change(qint16 index) {
    if (!shuttingDown_) {
        player_.Set(static_cast<Player::Value>(Player::kMusicHigh + index),
                    sVolume[index]->Value());
    }
}

void Frm_Messages::HScroll1_Change() {
    Txt_Interval->setText(QString::number(HScroll1->Value()));
    if (!shuttingDown_) {
        player_.Set(Player::kInterval, HScroll1->Value());
    }
}

void Frm_Messages::Cmd_OK_Click() {
    Fme_Settings->setVisible(false);
}

void Frm_Messages::Mnu_File_Settings_Click() {
    Fme_Settings->setVisible(true);
    ShowVolume();
}

void Frm_Messages::Mnu_File_OpenFolder_Click(int channel) {
    // The desktop's file manager, so files can be dropped in without a terminal.
    Mod_StartDoc::StartDoc(player_.List(channel).Path());
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

void Frm_Messages::ShowOptions() {
    const Player::Options& options = player_.Opts();
    Mnu_File_EvenLoudness->setChecked(options.evenLoudness);
    Mnu_File_KeepPlayLog->setChecked(options.keepPlayLog);
    Mnu_File_TrimSilence->setChecked(options.trimSilence);
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
        QAction* action = Mnu_File_Output->addAction(text);
        action->setCheckable(true);
        action->setChecked(name == chosen);
        group->addAction(action);
        connect(action, &QAction::triggered, this, [this, name] { Mnu_File_Output_Click(name); });
    };
    add(QStringLiteral("System default"), QString());
    bool listed = chosen.isEmpty();
    for (const Platform::Mci::OutputChoice& output :
         Platform::Mci::OutputWatch::Instance().List()) {
        const QString name = QString::fromStdString(output.name);
        add(QString::fromStdString(output.description), name);
        listed |= name == chosen;
    }
    if (!listed) {
        add(chosen + QStringLiteral(" (not connected)"), chosen);
    }
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

// The messages as the folder has them when the menu opens.
void Frm_Messages::FillMessageMenu() {
    Mnu_Play_Message->clear();
    connect(Mnu_Play_Message->addAction(QStringLiteral("&Next in Turn")), &QAction::triggered, this,
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

void Frm_Messages::Mnu_File_Schedule_Click() {
    const QString ini = Mod_INI::IniFilePath();
    Frm_Schedule window(Mod_INI::GetIniSection(ini, QString::fromLatin1(Player::kScheduleSection)),
                        Mod_INI::GetIniSection(ini, QString::fromLatin1(Player::kTimedSection)),
                        player_.LocateMessage(), this);
    if (window.exec() == QDialog::Accepted) {
        player_.SetSchedule(window.ScheduleLines(), window.TimedLines());
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
            window.ShowProblem(QStringLiteral("The remote cannot be turned on: ") +
                               remote_->Error());
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

void Frm_Messages::ShowClosed(const QString& text) {
    Lbl_Closed->setText(text);
    Mod_SystemTray::TraySetTip(text.isEmpty() ? QStringLiteral("Corvane")
                                              : QStringLiteral("Corvane\n") + text);
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

void Frm_Messages::Form_MouseMove(qint16 button, qint16 /*shift*/, float /*x*/, float /*y*/) {
    if (button == kLeftButton) {
        CloseAboutWindow();
        ProcessPendingEvents();
        setWindowState(windowState() & ~Qt::WindowMinimized);
        show();
        activateWindow();
        raise();
        ProcessPendingEvents();
    }
    if (button == kRightButton) {
        Mnu_PopUp->popup(QCursor::pos());
    }
}

void Frm_Messages::Mnu_PopUp_Show_Click() {
    CloseAboutWindow();
    show();
    activateWindow();
    raise();
}

void Frm_Messages::mouseMoveEvent(QMouseEvent* event) {
    qint16 button = 0;
    if (event->buttons() & Qt::LeftButton) {
        button |= kLeftButton;
    }
    if (event->buttons() & Qt::RightButton) {
        button |= kRightButton;
    }
    if (event->buttons() & Qt::MiddleButton) {
        button |= kMiddleButton;
    }
    const QPointF at = event->position();
    Form_MouseMove(button, static_cast<qint16>(event->modifiers() >> 25),
                   static_cast<float>(at.x()), static_cast<float>(at.y()));
}

void Frm_Messages::mousePressEvent(QMouseEvent* event) {
    // Accepting the press keeps the moves that follow, button held, coming to the window.
    event->accept();
}

void Frm_Messages::CloseAboutWindow() {
    // The console coming forward takes the activation from an open About window, which closes
    // it; a desktop may not pass the activation on while the About window holds the input.
    if (auto* about = qobject_cast<Frm_About*>(QApplication::activeModalWidget())) {
        about->Form_Deactivate();
    }
}

void Frm_Messages::ProcessPendingEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

qint32 Frm_Messages::WindowHandle() {
    return static_cast<qint32>(winId() & 0x7fffffff);
}
