#include "console/Frm_Messages.h"

#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QSvgRenderer>
#include <QTimer>

#include "about/Frm_About.h"
#include "desktop/Mod_SystemTray.h"
#include "support/ProgramLocation.h"

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

Frm_Messages::~Frm_Messages() {
    // The tray keeps a warning for an icon to come; this window's goes with it.
    if (!problems_.isEmpty()) {
        Mod_SystemTray::TraySetWarning(false);
    }
}

// What the player tells, shown; what the controls change, told to the player.
void Frm_Messages::BindPlayer() {
    connect(&player_, &Player::StatusChanged, this,
            [this](int channel, const QString& mode) { Lbl_Status[channel]->setText(mode); });
    connect(&player_, &Player::VolumeShown, Pic_Volume, &VolumeMeter::Draw);
    connect(&player_, &Player::ClosedTextChanged, this, &Frm_Messages::ShowClosed);
    connect(&player_, &Player::DaypartChanged, this, &Frm_Messages::ShowDaypart);
    connect(&player_, &Player::PlayingChanged, this, [this](int channel) {
        if (channel == Player::kMusic) {
            ShowDaypart(daypart_);
        }
    });
    connect(&player_, &Player::OptionsChanged, this, &Frm_Messages::ShowOptions);
    connect(&player_, &Player::PausedChanged, Mnu_Play_Pause, &QAction::setChecked);
    // The problems follow what plays and what the views report, without a signal of their own
    // for every way they change.
    player_.OnShownChange(this, [this] { ShowProblems(); });
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

void Frm_Messages::ShowClosed(const QString& text) {
    Lbl_Closed->setText(text);
    ShowTrayTip();
}

void Frm_Messages::ShowDaypart(const QString& name) {
    daypart_ = name;
    QString folder = player_.MusicFolder();
    // Shorter inside the program's folder, where the music folder normally is.
    if (const QString inside = QDir(Program().folder).relativeFilePath(folder);
        inside != u".." && !inside.startsWith(u"../")) {
        folder = inside;
    }
    // A stream's title joins the line: it says what the station plays now.
    QStringList parts;
    if (!name.isEmpty()) {
        parts << name + QStringLiteral(" — ") + folder;
    }
    if (!player_.StreamTitle().isEmpty()) {
        parts << player_.StreamTitle();
    }
    const QString line = parts.join(QStringLiteral(" · "));
    Lbl_Daypart->setText(
        Lbl_Daypart->fontMetrics().elidedText(line, Qt::ElideRight, Lbl_Daypart->width()));
    Lbl_Daypart->setToolTip(line);
    ShowTrayTip();
}

void Frm_Messages::ShowProblems() {
    QStringList problems;
    for (const Language::Text& problem : player_.Problems()) {
        problems << problem.Shown();
    }
    // Most changes leave the problems as they were: the tray's icon is drawn again only when they
    // change.
    if (problems != problems_) {
        problems_ = problems;
        Mod_SystemTray::TraySetWarning(!problems_.isEmpty());
        ShowTrayTip();
    }
    // The band's lower row, up to the version's text on its right.
    const QString text = problems_.join(QStringLiteral("; "));
    const int gap = Lbl_Problems->fontMetrics().horizontalAdvance(u' ') * 2;
    const int versionLeft = Lbl_Version->geometry().right() -
                            Lbl_Version->fontMetrics().horizontalAdvance(Lbl_Version->text());
    Lbl_Problems->resize(versionLeft - gap - Lbl_Problems->x(), Lbl_Problems->height());
    Lbl_Problems->setText(
        Lbl_Problems->fontMetrics().elidedText(text, Qt::ElideRight, Lbl_Problems->width()));
    Lbl_Problems->setToolTip(text);
    Lbl_Problems->setVisible(!text.isEmpty());
    Label3->setVisible(text.isEmpty());
}

void Frm_Messages::ShowTrayTip() {
    QStringList lines{QStringLiteral("Corvane")};
    if (!Lbl_Closed->text().isEmpty()) {
        lines.append(Lbl_Closed->text());
    }
    if (!daypart_.isEmpty()) {
        lines.append(tr("Daypart: %1").arg(daypart_));
    }
    lines.append(problems_);
    Mod_SystemTray::TraySetTip(lines.join(u'\n'));
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
