// The console against a scripted media service; one case plays real files through GStreamer.

#include <QtTest/qtestspontaneevent.h>
#include <QtTest>
#include <QtWidgets>

#include "FakeMci.h"
#include "MediaFixtures.h"
#include "audio/Mod_MCI.h"
#include "console/Frm_Messages.h"
#include "console/SettingValue.h"
#include "desktop/Mod_SystemTray.h"
#include "platform/mci/gstdevices.h"
#include "settings/Mod_INI.h"

const QString kMode0 = "status ZEL0 mode", kMode1 = "status ZEL1 mode", kVol = "status ZEL0 Volume";
const QStringList kIdle{kMode0, kMode1, kVol};  // a tick that starts and fades nothing
const QStringList kCloses{"Close ZEL0", "Close ZEL1", "Close All"};

QString Vol(const QString& alias, int level) {
    return QString("setaudio %1 Volume to %2").arg(alias).arg(level * 10);
}

// Each fade step sets the music level and redraws the meter, which reads the level back.
QStringList Fade(int from, int to) {
    const QStringList step{Vol("ZEL0", from), kVol};
    return from == to ? step : step + Fade(from < to ? from + 1 : from - 1, to);
}

// What starting a file on a channel sends; the fake reports a length of 750 frames.
QStringList Start(const QString& alias, const QString& path, int level) {
    return QString(
               "Close %1|open %2 type MPEGVideo Alias %1 parent * Style 1073741824|%3|set %1 "
               "time format frames|status %1 length|play %1 from 0 to 750")
        .arg(alias, path, Vol(alias, level))
        .split('|');
}

QString Prog(const QString& name) {
    return Frm_Messages::ProgramFolder() + '/' + name;
}

QByteArray Read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Start-up and shutdown use the program's own media folders and settings file.
void Clean() {
    for (const QString& path : {Prog("Music"), Prog("Messages"), Mod_INI::IniFilePath()})
        QFile::remove(path) || QDir(path).removeRecursively();
}

// clang-format off
struct CycleRow { int interval, high, low; bool musicEnds; int interrupt; };  // at level 98: 1 a tick, 2 a shutdown
struct NextRow { int started; QString removed, unplayable, next; };
struct SlideRow { int control, start, action, value; std::string messageMode; QStringList sent; };  // control 3: interval; action -1: drag
struct ValueRow { QString text; double number; int low, high, value; };
struct LifeRow { QByteArray ini; QByteArray saved; QString readout; int exit; };  // ini "/": a folder
struct MouseRow { bool minimised; int button; QList<bool> visibleMinimisedPopUp; };  // button 0: Show
// clang-format on

// A console on temporary media folders, its timer stopped so that only the test ticks it.
struct Console {
    QTemporaryDir dir;
    FakeMciInstaller fake;
    Frm_Messages w;
    Console() {
        Clean();
        w.Timer1->stop();
        w.File1[0]->SetPath(dir.path());
        QDir(dir.path()).mkdir("m.mp3");  // a folder named like music: never a list entry
        w.File1[1]->SetPath(dir.filePath("m.mp3"));
    }
    ~Console() { Clean(); }
    QString Path(int list, const QString& name) const { return w.File1[list]->Path() + '/' + name; }
    void Add(int list, const QString& n) const { MediaFixtures::MakeFile(Path(list, n), "x"); }
    // One music file and one message; the levels the sliders apply at once are not under test.
    void Setup(int interval, int high = 100, int low = 95) {
        Add(0, "tune.mp3");
        Add(1, "notice.mp3");
        w.HScroll1->SetValue(interval);
        for (int i : {0, 1, 2})
            w.sVolume[i]->SetValue(QList{high, low, 80}[i]);
        fake->commands.clear();
    }
    // The commands sent from the `from`th on, the window handle in an open masked.
    QStringList Sent(std::size_t from = 0) const {
        QStringList sent;
        for (std::size_t i = from; i < fake->commands.size(); ++i)
            sent << QString::fromStdString(fake->commands[i])
                        .replace(QRegularExpression(" parent \\d+ "), " parent * ");
        return sent;
    }
    QStringList Tick(int times = 1) {
        const std::size_t before = fake->commands.size();
        while (times-- > 0)
            w.Timer1_Timer();
        return Sent(before);
    }
};

class ConsoleTest : public QObject {
    Q_OBJECT

    std::optional<Console> c;

private slots:
    void init() { c.emplace(); }
    void cleanup() { c.reset(); }

    void messageCycle_data() {
        QTest::addColumn<CycleRow>("r");
        QTest::newRow("1 s, 100 down to 10") << CycleRow{1, 100, 10, false, 0};
        QTest::newRow("60 s") << CycleRow{60, 100, 99, false, 0};
        QTest::newRow("low above high: no fade") << CycleRow{1, 40, 60, false, 0};
        QTest::newRow("music ends during the message") << CycleRow{1, 100, 95, true, 0};
        QTest::newRow("a tick due in the fade is dropped") << CycleRow{1, 100, 95, false, 1};
        QTest::newRow("shutdown in the fade") << CycleRow{1, 100, 95, false, 2};
    }
    // Ticks while the message plays don't count; music restarted then plays at the high level.
    void messageCycle() {
        QFETCH(CycleRow, r);
        c->Setup(r.interval, r.high, r.low);
        QCOMPARE(c->Tick(r.interval).filter("Alias ZEL1"), QStringList());
        bool fired = r.interrupt == 0;
        c->fake->onCommand = [&](const std::string& command) {
            if (command == "setaudio ZEL0 Volume to 980" && !std::exchange(fired, true))
                r.interrupt == 2 ? QTimer::singleShot(0, &c->w, [&] { c->w.RequestShutdown(1); })
                                 : c->w.Timer1_Timer();
        };
        const bool fade = r.high > r.low, stop = r.interrupt == 2;
        const QStringList down = fade ? Fade(r.high, r.low) : QStringList();
        const QStringList message = stop ? kCloses : Start("ZEL1", c->Path(1, "notice.mp3"), 80);
        QCOMPARE(c->Tick(), kIdle + (stop ? down.mid(0, 5) : down) + message);
        if (stop)
            return;  // the interrupted tick left the closed channels alone
        if (r.musicEnds)
            c->fake->Finish("ZEL0");
        const QStringList music =
            r.musicEnds ? Start("ZEL0", c->Path(0, "tune.mp3"), r.high) : QStringList();
        QCOMPARE(c->Tick(), QStringList{kMode0} + music + QStringList{kMode1});
        QCOMPARE(c->w.MessageTicks(), 0);
        c->fake->Finish("ZEL1");
        QCOMPARE(c->Tick(), kIdle + (fade && !r.musicEnds ? Fade(r.low, r.high) : QStringList()));
        QCOMPARE(c->w.MessageTicks(), 1);
    }

    // Folders are read on every tick; an unreadable level fades up fully, a missing message not.
    void countAndEmptyFolders() {
        c->w.HScroll1->SetValue(2);
        QCOMPARE(c->Tick(), kIdle + Fade(10, 100));
        QCOMPARE(c->w.Lbl_Status[0]->text(), "ERROR");
        c->Add(0, "tune.mp3");
        QCOMPARE(c->Tick(),
                 QStringList{kMode0} + Start("ZEL0", c->Path(0, "tune.mp3"), 100) + kIdle.mid(1));
        QCOMPARE(c->Tick(4), kIdle + kIdle + kIdle + kIdle);
        QCOMPARE(c->w.MessageTicks(), 0);  // attempts on ticks 3 and 6
        c->w.HScroll1->SetValue(5);
        c->Tick(3);
        c->w.HScroll1->SetValue(0);  // holds the count
        QCOMPARE(c->Tick(5), kIdle + kIdle + kIdle + kIdle + kIdle);
        QCOMPARE(c->w.MessageTicks(), 3);
        c->Add(1, "notice.mp3");
        c->w.HScroll1->SetValue(2);  // now below the count
        QCOMPARE(c->Tick().filter("Alias ZEL1").size(), 1);
    }

    void nextFile_data() {
        QTest::addColumn<NextRow>("r");
        QTest::newRow("wraps to the first") << NextRow{4, "", "", "a.mp3"};
        QTest::newRow("last started deleted: first") << NextRow{2, "b.mp3", "", "a.mp3"};
        QTest::newRow("unplayable file skipped") << NextRow{2, "", "b.mp3", "c.mp3"};
    }
    void nextFile() {
        QFETCH(NextRow, r);
        for (const char* name : {"a.mp3", "b.mp3", "c.mp3", "d.mp3"})
            c->Add(0, name);
        c->fake->unplayable.insert(r.unplayable.toStdString());
        for (int i = 0; i < r.started; ++i) {
            c->Tick();
            c->fake->Finish("ZEL0");
        }
        QFile::remove(c->Path(0, r.removed));  // "" names the folder: nothing removed
        QCOMPARE(c->Tick(),
                 QStringList{kMode0} + Start("ZEL0", c->Path(0, r.next), 100) + kIdle.mid(1));
    }

    // Real files: the music, outlasting the case, is low during the message and high after it.
    void realInterpreter() {
        auto fake = Platform::Mci::SetService(
            std::make_unique<Platform::Mci::GstDevices>(Platform::Mci::GstDevices::FakeSink()));
        const auto restore = qScopeGuard([&] { Platform::Mci::SetService(std::move(fake)); });
        QVERIFY(MediaFixtures::MakeWav(c->Path(0, "tune.wav"), 8000));
        QVERIFY(MediaFixtures::MakeWav(c->Path(1, "notice.wav"), 500, 880));
        c->w.HScroll1->SetValue(1);
        const auto level = [] { return Mod_MCI::MciGetVolume("ZEL0", "both"); };
        c->w.Timer1_Timer();
        QCOMPARE(level(), 100);
        c->w.Timer1_Timer();
        QCOMPARE(level(), 10);
        QTRY_VERIFY_WITH_TIMEOUT(Mod_MCI::MciGetMode("ZEL1") != "playing", 10000);
        c->w.Timer1_Timer();
        QCOMPARE(level(), 100);
    }

    void sliders_data() {
        using A = QAbstractSlider;
        QTest::addColumn<SlideRow>("r");
        // clang-format off
        QTest::newRow("music: arrow up") << SlideRow{0, 50, A::SliderSingleStepSub, 51, "stopped", {Vol("ZEL0", 51)}};
        QTest::newRow("music: page down") << SlideRow{0, 50, A::SliderPageStepAdd, 40, "stopped", {Vol("ZEL0", 40)}};
        QTest::newRow("music: thumb dragged") << SlideRow{0, 100, -1, 70, "stopped", {Vol("ZEL0", 70)}};
        QTest::newRow("low level: top is 100") << SlideRow{1, 10, A::SliderToMinimum, 100, "stopped", {Vol("ZEL0", 100)}};
        QTest::newRow("message: bottom is 0, during a message") << SlideRow{2, 80, A::SliderToMaximum, 0, "playing", {Vol("ZEL0", 10), Vol("ZEL1", 0)}};
        QTest::newRow("interval: page is 1") << SlideRow{3, 30, A::SliderPageStepSub, 29, "stopped", {}};
        QTest::newRow("interval: stops at 600") << SlideRow{3, 600, A::SliderSingleStepAdd, 600, "stopped", {}};
        // clang-format on
    }
    // One Change per completed change, none while the thumb is held; during a message both levels.
    void sliders() {
        QFETCH(SlideRow, r);
        ScrollBar* bar = r.control == 3 ? c->w.HScroll1 : c->w.sVolume[r.control];
        bar->SetValue(r.start);
        c->fake->devices["ZEL1"].mode = r.messageMode;
        c->fake->commands.clear();
        QSignalSpy changes(bar, &ScrollBar::Change);
        if (r.action < 0) {
            bar->setSliderDown(true);
            bar->setSliderPosition(30);
            QCOMPARE(changes.count() + c->Sent().size(), 0);
            bar->setSliderDown(false);
        } else {
            bar->triggerAction(QAbstractSlider::SliderAction(r.action));
        }
        QCOMPARE(bar->Value(), r.value);
        QCOMPARE(changes.count(), r.value == r.start ? 0 : 1);
        QCOMPARE(c->Sent().filter("setaudio"), r.sent);
    }

    // The meter: a green column from the bottom as high as the music level, empty when unreadable.
    void settingsPanel() {
        const int h = c->w.Pic_Volume->height(), top = h - h * 6 / 10;
        const auto green = [&](int y) {
            return c->w.Pic_Volume->grab().toImage().pixelColor(0, y) == QColor(0, 128, 0);
        };
        c->fake->devices["ZEL0"].volume = 600;
        QVERIFY(c->w.Fme_Settings->isHidden());
        c->w.Mnu_File_Settings->trigger();
        QVERIFY(!c->w.Fme_Settings->isHidden() && green(h - 1) && green(top) && !green(top - 1));
        c->fake->devices.clear();
        c->w.ShowVolume();
        QVERIFY(!green(h - 1));
        c->w.Cmd_OK->click();
        // The pop-up menu belongs to the tray icon, not the menu bar.
        QVERIFY(c->w.Fme_Settings->isHidden() &&
                !c->w.menuBar()->actions().contains(c->w.Mnu_PopUp->menuAction()));
    }

    // Matching files only (case ignored; no folders or hidden files), sorted with case ignored.
    void fileList() {
        for (const QString name : {"b.Wav", "C.mid", "a.MP3", "e.txt", "f.mp3.bak", ".h.mp3"})
            c->Add(0, name);
        c->w.File1[0]->Refresh();
        QCOMPARE(qobject_cast<QStringListModel*>(c->w.File1[0]->model())->stringList(),
                 (QStringList{"a.MP3", "b.Wav", "C.mid"}));
        c->w.File1[0]->SetPath(c->dir.filePath("missing"));
        QCOMPARE(c->w.File1[0]->ListCount(), 0);
    }

    void settingValue_data() {
        QTest::addColumn<ValueRow>("r");
        QTest::newRow("blanks and tabs; half to even") << ValueRow{" 4 \t5 . 5 ", 45.5, 0, 100, 46};
        QTest::newRow("exponent") << ValueRow{"2.5E1", 25, 0, 100, 25};
        QTest::newRow("D exponent, negative; half to even") << ValueRow{"25d-1", 2.5, 0, 100, 2};
        QTest::newRow("hexadecimal") << ValueRow{"&h1F", 31, 0, 100, 31};
        QTest::newRow("octal stops at 8") << ValueRow{"&O178", 15, 0, 100, 15};
        QTest::newRow("stops at junk; half to even") << ValueRow{"4.5x6", 4.5, 0, 100, 4};
        QTest::newRow("no number") << ValueRow{"abc", 0, 0, 100, 0};
        QTest::newRow("16-bit top") << ValueRow{"99999", 99999, -100000, 100000, 32767};
        QTest::newRow("16-bit bottom") << ValueRow{"- 99999", -99999, -100000, 100000, -32768};
        QTest::newRow("range") << ValueRow{"601", 601, 0, 600, 600};
    }
    void settingValue() {
        QFETCH(ValueRow, r);
        QCOMPARE(TextToNumber(r.text), r.number);
        QCOMPARE(TextToSettingValue(r.text, r.low, r.high), r.value);
    }

    void lifecycle_data() {
        QTest::addColumn<LifeRow>("r");
        // clang-format off
        QTest::newRow("defaults; File > Exit") << LifeRow{"", "[Settings]\r\nMessageInterval=30\r\nMusicVolumeHigh=100\r\nMusicVolumeLow=10\r\nMessageVolume=100\r\n", "30", 0};
        QTest::newRow("junk and empty read as 0; pop-up Exit") << LifeRow{"[Settings]\nMessageInterval=x\nMusicVolumeHigh=\nMusicVolumeLow=abc\n", "[Settings]\r\nMessageInterval=0\r\nMusicVolumeHigh=0\r\nMusicVolumeLow=0\r\nMessageVolume=100\r\n", "0", 1};
        QTest::newRow("out of range clamped; the application's close") << LifeRow{"[Settings]\nMessageInterval=999\nMusicVolumeHigh=-5\n", "[Settings]\r\nMessageInterval=600\r\nMusicVolumeHigh=0\r\nMusicVolumeLow=10\r\nMessageVolume=100\r\n", "600", 2};
        QTest::newRow("settings file unwritable") << LifeRow{"/", "", "30", 0};
        // clang-format on
    }
    // The first music file follows the random entry. The close box only puts the console away
    // (minimised without a tray); ending closes the channels before settings and icon, once.
    void lifecycle() {
        QFETCH(LifeRow, r);
        const QString ini = Mod_INI::IniFilePath();
        QVERIFY(r.ini == "/" ? QDir().mkpath(ini)
                             : r.ini.isEmpty() || MediaFixtures::MakeFile(ini, r.ini));
        QDir().mkpath(Prog("Music"));
        for (const char* name : {"a.mp3", "b.mp3", "c.mp3"})
            MediaFixtures::MakeFile(Prog("Music/") + name, "x");
        Mod_SystemTray::TrayRemoveIcon();  // without an icon, nothing to remove
        const QByteArray before = Read(ini);
        int chosen = -2;
        bool early = false;  // a step out of order at the first command or at the first close
        bool probed = false;
        c->fake->onCommand = [&](const std::string& command) {
            if (chosen == -2) {
                chosen = c->w.File1[0]->ListIndex();
                early = !Mod_SystemTray::Record().icon || !QDir(Prog("Messages")).exists() ||
                        c->w.Lbl_Version->text() != "V1.00.0009";
            }
            if (command.rfind("open ", 0) == 0 && !probed) {
                probed = true;  // a tick due while the first file opens is dropped
                const std::size_t sent = c->fake->commands.size();
                c->w.Timer1_Timer();
                early |= c->fake->commands.size() != sent;
            }
            if (command == "Close ZEL0")
                early |= c->w.Timer1->isActive() || Read(ini) != before ||
                         !Mod_SystemTray::Record().icon;
        };
        c->w.Form_Load();
        QCOMPARE(c->w.Txt_Interval->text(), r.readout);
        QCOMPARE(c->Sent().filter("open ").value(0).section(' ', 1, 1),
                 Prog("Music/") + c->w.File1[0]->List((chosen + 1) % 3));
        c->w.Timer1->start();
        c->fake->commands.clear();
        QCloseEvent box;
        QSpontaneKeyEvent::setSpontaneous(&box);
        qApp->notify(&c->w, &box);  // unlike sendEvent, keeps the event spontaneous
        QVERIFY(!box.isAccepted() && c->Sent().isEmpty() && Read(ini) == before);
        QCOMPARE(c->w.isVisible() && c->w.isMinimized(), !Mod_SystemTray::TrayAvailable());
        QCloseEvent event;  // not spontaneous: the application quitting
        for (const QStringList& sent : {kCloses, QStringList()}) {
            c->fake->commands.clear();
            r.exit == 2 ? void(QCoreApplication::sendEvent(&c->w, &event))
                        : (r.exit ? c->w.Mnu_PopUp_Exit : c->w.Mnu_File_Exit)->trigger();
            QCOMPARE(c->Sent(), sent);
        }
        QVERIFY(chosen >= 0 && !early && !c->w.Timer1->isActive() &&
                !Mod_SystemTray::Record().icon);
        QCOMPARE(Read(ini), r.saved);
    }

    void mouse_data() {
        QTest::addColumn<MouseRow>("r");
        QTest::newRow("left shows a hidden window") << MouseRow{false, 1, {true, false, false}};
        QTest::newRow("left restores a minimised one") << MouseRow{true, 1, {true, false, false}};
        QTest::newRow("right opens the pop-up menu") << MouseRow{false, 2, {false, false, true}};
        QTest::newRow("middle does nothing") << MouseRow{true, 4, {true, true, false}};
        QTest::newRow("Show: still minimised") << MouseRow{true, 0, {true, true, false}};
    }
    void mouse() {
        QFETCH(MouseRow, r);
        r.minimised ? c->w.showMinimized() : c->w.hide();
        r.button ? c->w.Form_MouseMove(qint16(r.button), 0, 0, 0) : c->w.Mnu_PopUp_Show->trigger();
        const QList<bool> state{c->w.isVisible(), c->w.isMinimized(), c->w.Mnu_PopUp->isVisible()};
        c->w.Mnu_PopUp->hide();
        QCOMPARE(state, r.visibleMinimisedPopUp);
    }
};

QTEST_MAIN(ConsoleTest)
#include "tst_console.moc"
