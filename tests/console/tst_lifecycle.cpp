#include "tst_lifecycle.h"

#include <QtTest/qtestspontaneevent.h>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>
#include <memory>

#include "FakeMci.h"
#include "console/Frm_Messages.h"
#include "desktop/Mod_SystemTray.h"
#include "platform/files.h"
#include "settings/Mod_INI.h"

namespace {

// The console with its close handler reachable, so that a test can hand it a close request the
// way the window system delivers the close box: as a spontaneous event.
class ConsoleWindow : public Frm_Messages {
public:
    using Frm_Messages::closeEvent;
};

// One console over a media-service recorder. The icon goes before the window does, as at a real
// shutdown, so that no test leaves an icon behind for the next one.
struct Console {
    FakeMciInstaller mci;
    ConsoleWindow window;
    ~Console() { Mod_SystemTray::TrayRemoveIcon(); }
};

QString MusicFolder() {
    return Platform::Files::ExecutableFolder() + QStringLiteral("/Music");
}

QString MessagesFolder() {
    return Platform::Files::ExecutableFolder() + QStringLiteral("/Messages");
}

QString IniPath() {
    return Mod_INI::IniFilePath();
}

void RemoveProgramFiles() {
    QDir(MusicFolder()).removeRecursively();
    QDir(MessagesFolder()).removeRecursively();
    if (QFileInfo(IniPath()).isDir()) {
        QDir(IniPath()).removeRecursively();
    } else {
        QFile::remove(IniPath());
    }
}

bool WriteFile(const QString& path, const QByteArray& content) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// Empty files are enough: the recorder opens any name it is given.
void MakeMediaFiles(const QString& folder, int count, const QString& extension) {
    QVERIFY(QDir().mkpath(folder));
    for (int i = 0; i < count; ++i) {
        QVERIFY(WriteFile(folder + QStringLiteral("/tune %1.%2").arg(i).arg(extension), {}));
    }
}

QStringList Recorded(const FakeMci& fake) {
    QStringList result;
    for (const std::string& command : fake.commands) {
        result << QString::fromStdString(command);
    }
    return result;
}

QByteArray SettingsBytes(int interval, int high, int low, int message) {
    return QStringLiteral(
               "[Settings]\r\nMessageInterval=%1\r\nMusicVolumeHigh=%2\r\nMusicVolumeLow=%3\r\n"
               "MessageVolume=%4\r\n")
        .arg(interval)
        .arg(high)
        .arg(low)
        .arg(message)
        .toLatin1();
}

enum class End { FileExit, PopUpExit, QueryUnload1, QueryUnload2, QueryUnload3, ProgramClose };

// Ends the program one way; false when the request was refused.
bool RequestEnd(ConsoleWindow& w, End end) {
    qint16 cancel = 0;
    qint16 mode = 0;
    switch (end) {
        case End::FileExit:
            w.Mnu_File_Exit_Click();
            return true;
        case End::PopUpExit:
            w.Mnu_PopUp_Exit_Click();
            return true;
        case End::QueryUnload1:
        case End::QueryUnload2:
        case End::QueryUnload3:
            mode = static_cast<qint16>(static_cast<int>(end) - static_cast<int>(End::QueryUnload1) +
                                       1);
            w.Form_QueryUnload(cancel, mode);
            return cancel == 0;
        case End::ProgramClose: {
            // How the application's own quit reaches the window: a close event that the window
            // system did not send.
            QCloseEvent event;
            QCoreApplication::sendEvent(&w, &event);
            return event.isAccepted();
        }
    }
    return false;
}

enum class WindowStart { Shown, Hidden, Minimised, HiddenMinimised };

void PutInState(QWidget& w, WindowStart start) {
    switch (start) {
        case WindowStart::Shown:
            w.show();
            break;
        case WindowStart::Hidden:
            w.hide();
            break;
        case WindowStart::Minimised:
            w.showMinimized();
            break;
        case WindowStart::HiddenMinimised:
            w.showMinimized();
            w.hide();
            break;
    }
}

}  // namespace

void LifecycleTest::init() {
    RemoveProgramFiles();
    QVERIFY(Mod_SystemTray::Record().icon == nullptr);
}

void LifecycleTest::cleanup() {
    Mod_SystemTray::TrayRemoveIcon();
    RemoveProgramFiles();
}

void LifecycleTest::startUp_data() {
    QTest::addColumn<QByteArray>("settings");  // empty: no settings file
    QTest::addColumn<QList<int>>("controls");  // HScroll1, sVolume(0), sVolume(1), sVolume(2)
    QTest::addColumn<QString>("intervalText");
    QTest::addColumn<QStringList>("commands");

    // The values equal the controls' initial ones, so no change handler sends anything.
    QTest::newRow("first start, no settings file") << QByteArray() << QList<int>{30, 100, 10, 100}
                                                   << "30" << QStringList{"status ZEL0 Volume"};
    QTest::newRow("empty, junk and too large values")
        << QByteArray(
               "[Settings]\r\nMessageInterval=0\r\nMusicVolumeLow=\r\n"
               "MusicVolumeHigh=abc\r\nMessageVolume=99999\r\n")
        << QList<int>{0, 0, 0, 100} << "0"
        << QStringList{"status ZEL1 mode",  "setaudio ZEL0 Volume to 0", "status ZEL0 Volume",
                       "status ZEL1 mode",  "setaudio ZEL0 Volume to 0", "status ZEL0 Volume",
                       "status ZEL0 Volume"};
    QTest::newRow("absent keys keep their defaults")
        << QByteArray("[Settings]\r\nMusicVolumeLow=25\r\n") << QList<int>{30, 100, 25, 100} << "30"
        << QStringList{"status ZEL1 mode", "setaudio ZEL0 Volume to 1000", "status ZEL0 Volume",
                       "status ZEL0 Volume"};
    QTest::newRow("out of range both ways, each control its own range")
        << QByteArray(
               "[Settings]\r\nMessageInterval=99999\r\nMusicVolumeHigh=-5\r\n"
               "MusicVolumeLow=1E9\r\nMessageVolume=&H20\r\n")
        << QList<int>{600, 0, 100, 32} << "600"
        << QStringList{"status ZEL1 mode",  "setaudio ZEL0 Volume to 0", "status ZEL0 Volume",
                       "status ZEL1 mode",  "setaudio ZEL0 Volume to 0", "status ZEL0 Volume",
                       "status ZEL1 mode",  "setaudio ZEL0 Volume to 0", "status ZEL0 Volume",
                       "status ZEL0 Volume"};
    QTest::newRow("keys of another section are not ours")
        << QByteArray("[Other]\r\nMessageInterval=5\r\nMusicVolumeHigh=7\r\n")
        << QList<int>{30, 100, 10, 100} << "30" << QStringList{"status ZEL0 Volume"};
}

void LifecycleTest::startUp() {
    QFETCH(QByteArray, settings);
    QFETCH(QList<int>, controls);
    QFETCH(QString, intervalText);
    QFETCH(QStringList, commands);

    if (!settings.isEmpty()) {
        QVERIFY(WriteFile(IniPath(), settings));
    }
    Console console;
    ConsoleWindow& w = console.window;
    w.Timer1->stop();

    // Icon, folders and version label all come before the first media command.
    bool seenFirst = false;
    bool readyAtFirstCommand = false;
    console.mci->onCommand = [&](const std::string&) {
        if (!seenFirst) {
            seenFirst = true;
            readyAtFirstCommand =
                Mod_SystemTray::Record().icon != nullptr && QFileInfo(MusicFolder()).isDir() &&
                QFileInfo(MessagesFolder()).isDir() && w.Lbl_Version->text() == u"V1.00.0009";
        }
    };
    w.Form_Load();

    QVERIFY(QFileInfo(MusicFolder()).isDir());
    QVERIFY(QFileInfo(MessagesFolder()).isDir());
    QVERIFY(readyAtFirstCommand);
    QCOMPARE(Recorded(*console.mci), commands);
    QVERIFY(console.mci->devices.empty());

    QCOMPARE(w.HScroll1->Value(), controls[0]);
    QCOMPARE(w.sVolume[0]->Value(), controls[1]);
    QCOMPARE(w.sVolume[1]->Value(), controls[2]);
    QCOMPARE(w.sVolume[2]->Value(), controls[3]);
    QCOMPARE(w.Txt_Interval->text(), intervalText);
    QCOMPARE(w.Lbl_Version->text(), QStringLiteral("V1.00.0009"));
    QCOMPARE(w.MessageTicks(), qint16{0});
    QCOMPARE(w.File1[0]->ListCount(), 0);
    QCOMPARE(w.File1[0]->ListIndex(), -1);
    QCOMPARE(w.File1[1]->ListIndex(), -1);

    // Reading changes nothing on disk: the settings are written at the end only.
    if (settings.isEmpty()) {
        QVERIFY(!QFileInfo::exists(IniPath()));
    } else {
        QCOMPARE(ReadFile(IniPath()), settings);
    }
}

void LifecycleTest::firstFiles_data() {
    QTest::addColumn<int>("musicCount");
    QTest::addColumn<int>("messageCount");

    QTest::newRow("one music file") << 1 << 0;
    QTest::newRow("two music files, one message") << 2 << 1;
    QTest::newRow("several of each") << 7 << 5;
}

void LifecycleTest::firstFiles() {
    QFETCH(int, musicCount);
    QFETCH(int, messageCount);

    MakeMediaFiles(MusicFolder(), musicCount, QStringLiteral("mp3"));
    MakeMediaFiles(MessagesFolder(), messageCount, QStringLiteral("wav"));
    // Something that is not music must not be taken for it.
    QVERIFY(WriteFile(MusicFolder() + QStringLiteral("/notes.txt"), "x"));

    Console console;
    ConsoleWindow& w = console.window;
    w.Timer1->stop();
    // The random starting entries are chosen before the first media command is sent.
    int musicAtLoad = -2;
    int messagesAtLoad = -2;
    console.mci->onCommand = [&](const std::string&) {
        if (musicAtLoad == -2) {
            musicAtLoad = w.File1[0]->ListIndex();
            messagesAtLoad = w.File1[1]->ListIndex();
        }
    };
    w.Form_Load();

    QCOMPARE(w.File1[0]->ListCount(), musicCount);
    QVERIFY2(musicAtLoad >= 0 && musicAtLoad < musicCount,
             qPrintable(QString::number(musicAtLoad)));
    if (messageCount == 0) {
        QCOMPARE(messagesAtLoad, -1);
    } else {
        QVERIFY2(messagesAtLoad >= 0 && messagesAtLoad < messageCount,
                 qPrintable(QString::number(messagesAtLoad)));
    }

    const QString expected =
        MusicFolder() + u'/' + w.File1[0]->List((musicAtLoad + 1) % musicCount);
    QCOMPARE(console.mci->CommandsStartingWith("open ").size(), std::size_t{1});
    const FakeMci::Device* music = console.mci->Find("ZEL0");
    QVERIFY(music != nullptr);
    QCOMPARE(QString::fromStdString(music->file), expected);
    QCOMPARE(music->mode, std::string("playing"));
    QCOMPARE(music->volume, 1000);
    // The list shows the file that plays; the message list keeps its random entry for later.
    QCOMPARE(MusicFolder() + u'/' + w.File1[0]->FileName(), expected);
    QCOMPARE(w.File1[1]->ListIndex(), messagesAtLoad);
    QVERIFY(!console.mci->IsOpen("ZEL1"));
}

void LifecycleTest::shutdown_data() {
    QTest::addColumn<int>("end");
    QTest::addColumn<bool>("shown");
    QTest::addColumn<bool>("changeControls");

    QTest::newRow("File > Exit, first start writes the defaults")
        << int(End::FileExit) << true << false;
    QTest::newRow("File > Exit, changed values") << int(End::FileExit) << true << true;
    QTest::newRow("File > Exit, window hidden") << int(End::FileExit) << false << true;
    QTest::newRow("icon's Exit, window hidden") << int(End::PopUpExit) << false << true;
    QTest::newRow("icon's Exit, window shown") << int(End::PopUpExit) << true << true;
    QTest::newRow("close request of the program") << int(End::QueryUnload1) << true << true;
    QTest::newRow("session ending") << int(End::QueryUnload2) << false << true;
    QTest::newRow("task manager") << int(End::QueryUnload3) << true << true;
    QTest::newRow("application quitting (close event not from the window system)")
        << int(End::ProgramClose) << true << true;
}

void LifecycleTest::shutdown() {
    QFETCH(int, end);
    QFETCH(bool, shown);
    QFETCH(bool, changeControls);

    MakeMediaFiles(MusicFolder(), 1, QStringLiteral("mid"));
    Console console;
    ConsoleWindow& w = console.window;
    // The timer keeps running here: the shutdown itself must stop it.
    w.Form_Load();
    QVERIFY(console.mci->IsOpen("ZEL0"));
    QVERIFY(w.Timer1->isActive());
    if (changeControls) {
        w.HScroll1->SetValue(45);
        w.sVolume[0]->SetValue(80);
        w.sVolume[1]->SetValue(5);
        w.sVolume[2]->SetValue(70);
    }
    if (shown) {
        w.show();
    }
    console.mci->commands.clear();

    bool timerActiveAtClose = true;
    bool settingsAtClose = true;
    bool iconAtClose = false;
    console.mci->onCommand = [&](const std::string& command) {
        if (command == "Close ZEL0") {
            timerActiveAtClose = w.Timer1->isActive();
            settingsAtClose = QFileInfo::exists(IniPath());
            iconAtClose = Mod_SystemTray::Record().icon != nullptr;
        }
    };
    QVERIFY(RequestEnd(w, static_cast<End>(end)));

    QCOMPARE(Recorded(*console.mci), (QStringList{"Close ZEL0", "Close ZEL1", "Close All"}));
    QVERIFY(console.mci->devices.empty());
    QVERIFY(!timerActiveAtClose);
    QVERIFY(!settingsAtClose);
    QVERIFY(iconAtClose);
    const QByteArray expected =
        changeControls ? SettingsBytes(45, 80, 5, 70) : SettingsBytes(30, 100, 10, 100);
    QCOMPARE(ReadFile(IniPath()), expected);
    QVERIFY(!w.Timer1->isActive());
    QVERIFY(Mod_SystemTray::Record().icon == nullptr);
    QVERIFY(Mod_SystemTray::Record().window == nullptr);
    QVERIFY(w.ShutdownDone());
    if (static_cast<End>(end) == End::FileExit || static_cast<End>(end) == End::PopUpExit) {
        QVERIFY(!w.isVisible());
    }

    // A second request finds the work done: nothing is sent, nothing rewritten.
    w.sVolume[0]->SetValue(33);
    const QStringList before = Recorded(*console.mci);
    RequestEnd(w, static_cast<End>(end));
    QCOMPARE(Recorded(*console.mci), before);
    QCOMPARE(ReadFile(IniPath()), expected);
    QVERIFY(Mod_SystemTray::Record().icon == nullptr);
}

void LifecycleTest::closeBox_data() {
    QTest::addColumn<bool>("asEvent");

    QTest::newRow("close box (spontaneous close event)") << true;
    QTest::newRow("close request with unload mode 0") << false;
}

void LifecycleTest::closeBox() {
    QFETCH(bool, asEvent);

    MakeMediaFiles(MusicFolder(), 2, QStringLiteral("mp3"));
    Console console;
    ConsoleWindow& w = console.window;
    w.Form_Load();
    w.show();
    console.mci->commands.clear();
    QSystemTrayIcon* const icon = Mod_SystemTray::Record().icon;
    QVERIFY(icon != nullptr);

    if (asEvent) {
        QCloseEvent event;
        QSpontaneKeyEvent::setSpontaneous(&event);
        w.closeEvent(&event);
        QVERIFY(!event.isAccepted());
    } else {
        qint16 cancel = 0;
        qint16 mode = 0;
        w.Form_QueryUnload(cancel, mode);
        QCOMPARE(cancel, qint16{-1});
    }

    QCOMPARE(Recorded(*console.mci), QStringList{});
    QVERIFY(!QFileInfo::exists(IniPath()));
    QVERIFY(console.mci->IsOpen("ZEL0"));
    QCOMPARE(console.mci->Find("ZEL0")->mode, std::string("playing"));
    QVERIFY(w.Timer1->isActive());
    QCOMPARE(Mod_SystemTray::Record().icon, icon);
    QVERIFY(!w.ShutdownDone());
    if (Mod_SystemTray::TrayAvailable()) {
        QVERIFY(!w.isVisible());
    } else {
        // With no icon to come back through, a hidden window would be lost for good.
        QVERIFY(w.isVisible());
        QVERIFY(w.isMinimized());
    }

    // The program is still whole: its Exit ends it as usual.
    w.Mnu_File_Exit_Click();
    QVERIFY(w.ShutdownDone());
    QCOMPARE(ReadFile(IniPath()), SettingsBytes(30, 100, 10, 100));
}

void LifecycleTest::shutdownWithUnwritableSettings() {
    MakeMediaFiles(MusicFolder(), 1, QStringLiteral("mp3"));
    MakeMediaFiles(MessagesFolder(), 1, QStringLiteral("mp3"));
    // A folder where the settings file should be: it can be neither read nor replaced.
    QVERIFY(QDir().mkpath(IniPath()));

    Console console;
    ConsoleWindow& w = console.window;
    w.Timer1->stop();
    w.Form_Load();
    QCOMPARE(w.HScroll1->Value(), 30);
    QVERIFY(console.mci->IsOpen("ZEL0"));
    console.mci->commands.clear();

    w.Mnu_File_Exit_Click();

    QCOMPARE(Recorded(*console.mci), (QStringList{"Close ZEL0", "Close ZEL1", "Close All"}));
    QVERIFY(console.mci->devices.empty());
    QVERIFY(Mod_SystemTray::Record().icon == nullptr);
    QVERIFY(w.ShutdownDone());
    QVERIFY(QFileInfo(IniPath()).isDir());
    QVERIFY(!w.isVisible());
}

void LifecycleTest::mouseMove_data() {
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("button");
    QTest::addColumn<bool>("throughIcon");
    QTest::addColumn<bool>("visible");
    QTest::addColumn<bool>("minimised");
    QTest::addColumn<bool>("popUp");

    const int hidden = int(WindowStart::Hidden);
    const int minimised = int(WindowStart::Minimised);
    const int hiddenMinimised = int(WindowStart::HiddenMinimised);
    const int shown = int(WindowStart::Shown);

    QTest::newRow("left shows a hidden window") << hidden << 1 << false << true << false << false;
    QTest::newRow("left restores a minimised window")
        << minimised << 1 << false << true << false << false;
    QTest::newRow("left shows and restores a hidden minimised window")
        << hiddenMinimised << 1 << false << true << false << false;
    QTest::newRow("left on a shown window") << shown << 1 << false << true << false << false;
    QTest::newRow("icon's left click") << hidden << 1 << true << true << false << false;
    QTest::newRow("icon's left click, minimised")
        << minimised << 1 << true << true << false << false;
    QTest::newRow("right opens the pop-up menu") << hidden << 2 << false << false << false << true;
    QTest::newRow("right leaves a minimised window so")
        << minimised << 2 << false << true << true << true;
    QTest::newRow("icon's right click") << hidden << 2 << true << false << false << true;
    QTest::newRow("no button") << hidden << 0 << false << false << false << false;
    QTest::newRow("no button, minimised") << minimised << 0 << false << true << true << false;
    QTest::newRow("left and right together") << hidden << 3 << false << false << false << false;
    QTest::newRow("middle") << hidden << 4 << false << false << false << false;
    QTest::newRow("middle, minimised") << minimised << 4 << false << true << true << false;
}

void LifecycleTest::mouseMove() {
    QFETCH(int, start);
    QFETCH(int, button);
    QFETCH(bool, throughIcon);
    QFETCH(bool, visible);
    QFETCH(bool, minimised);
    QFETCH(bool, popUp);

    Console console;
    ConsoleWindow& w = console.window;
    w.Timer1->stop();
    Mod_SystemTray::TrayAddIcon(&w, QStringLiteral("Corvane"));
    PutInState(w, static_cast<WindowStart>(start));

    if (throughIcon) {
        QSystemTrayIcon* icon = Mod_SystemTray::Record().icon;
        QVERIFY(icon != nullptr);
        emit icon->activated(button == 1 ? QSystemTrayIcon::Trigger : QSystemTrayIcon::Context);
    } else {
        w.Form_MouseMove(static_cast<qint16>(button), 0, 0.0f, 0.0f);
    }

    const bool popUpShown = w.Mnu_PopUp->isVisible();
    w.Mnu_PopUp->hide();
    QCOMPARE(w.isVisible(), visible);
    QCOMPARE(w.isMinimized(), minimised);
    QCOMPARE(popUpShown, popUp);
    QVERIFY(console.mci->commands.empty());
}

void LifecycleTest::popUpShow_data() {
    QTest::addColumn<int>("start");
    QTest::addColumn<bool>("minimised");

    QTest::newRow("hidden") << int(WindowStart::Hidden) << false;
    QTest::newRow("shown") << int(WindowStart::Shown) << false;
    QTest::newRow("minimised stays minimised") << int(WindowStart::Minimised) << true;
    QTest::newRow("hidden while minimised comes back minimised")
        << int(WindowStart::HiddenMinimised) << true;
}

void LifecycleTest::popUpShow() {
    QFETCH(int, start);
    QFETCH(bool, minimised);

    Console console;
    ConsoleWindow& w = console.window;
    w.Timer1->stop();
    PutInState(w, static_cast<WindowStart>(start));

    w.Mnu_PopUp_Show_Click();

    QVERIFY(w.isVisible());
    QCOMPARE(w.isMinimized(), minimised);
}

void LifecycleTest::trayRemoveWithoutAdd() {
    Mod_SystemTray::TrayRemoveIcon();
    const Mod_SystemTray::IconRecord& record = Mod_SystemTray::Record();
    QVERIFY(record.window == nullptr);
    QVERIFY(record.icon == nullptr);
    QVERIFY(record.tip.isEmpty());
}

void LifecycleTest::trayAdd_data() {
    QTest::addColumn<QString>("tip");
    QTest::addColumn<QString>("expected");

    const QString longest(63, u'x');
    QTest::newRow("program title") << "Corvane"
                                   << "Corvane";
    QTest::newRow("63 characters fit") << longest << longest;
    QTest::newRow("64 characters are cut") << longest + u'y' << longest;
    QTest::newRow("far too long") << QString(200, u'z') << QString(63, u'z');
    QTest::newRow("empty") << ""
                           << "";
}

void LifecycleTest::trayAdd() {
    QFETCH(QString, tip);
    QFETCH(QString, expected);

    Console console;
    ConsoleWindow& w = console.window;
    w.Timer1->stop();
    Mod_SystemTray::TrayAddIcon(&w, tip);

    const Mod_SystemTray::IconRecord& record = Mod_SystemTray::Record();
    QCOMPARE(record.window, static_cast<QWidget*>(&w));
    QCOMPARE(record.tip, expected);
    QVERIFY(record.icon != nullptr);
    QCOMPARE(record.icon->toolTip(), expected);
    // The console's own icon, in both sizes a notification area asks for.
    const QList<QSize> sizes = record.icon->icon().availableSizes();
    QVERIFY(sizes.contains(QSize(16, 16)));
    QVERIFY(sizes.contains(QSize(32, 32)));

    QSystemTrayIcon* const first = record.icon;
    Mod_SystemTray::TrayAddIcon(&w, QStringLiteral("another"));
    QCOMPARE(Mod_SystemTray::Record().icon, first);
    QCOMPARE(Mod_SystemTray::Record().tip, expected);
    QCOMPARE(w.findChildren<QSystemTrayIcon*>().size(), 1);

    Mod_SystemTray::TrayRemoveIcon();
    QVERIFY(Mod_SystemTray::Record().icon == nullptr);
    QVERIFY(Mod_SystemTray::Record().window == nullptr);
    QVERIFY(Mod_SystemTray::Record().tip.isEmpty());
    QCOMPARE(w.findChildren<QSystemTrayIcon*>().size(), 0);
}

void LifecycleTest::trayRecordGoesWithItsWindow() {
    // A console that goes away without a shutdown takes its icon along; the record must not be
    // left naming the icon or window that are gone.
    auto first = std::make_unique<QWidget>();
    Mod_SystemTray::TrayAddIcon(first.get(), QStringLiteral("Corvane"));
    QVERIFY(Mod_SystemTray::Record().icon != nullptr);
    first.reset();
    QVERIFY(Mod_SystemTray::Record().icon == nullptr);
    QVERIFY(Mod_SystemTray::Record().window == nullptr);

    QWidget second;
    Mod_SystemTray::TrayAddIcon(&second, QStringLiteral("Corvane"));
    QCOMPARE(Mod_SystemTray::Record().window, &second);
    QCOMPARE(second.findChildren<QSystemTrayIcon*>().size(), 1);
    Mod_SystemTray::TrayRemoveIcon();
    QVERIFY(Mod_SystemTray::Record().icon == nullptr);
}
