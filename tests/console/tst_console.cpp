// The console against a scripted media service: controls, settings panel, start-up and shutdown.

#include <QtTest/qtestspontaneevent.h>
#include <QtTest>
#include <QtWidgets>

#include "FakeMci.h"
#include "MediaFixtures.h"
#include "console/Frm_Messages.h"
#include "console/Frm_Remote.h"
#include "console/Frm_Schedule.h"
#include "desktop/Autostart.h"
#include "desktop/Mod_SystemTray.h"
#include "settings/Mod_INI.h"
#include "support/Language.h"
#include "support/Mod_Version.h"
#include "support/ProgramLocation.h"

QString Prog(const QString& name) {
    return Program().folder + '/' + name;
}

// Start-up and shutdown use the program's own media folders and settings file.
void Clean() {
    for (const QString& path :
         {Prog("Music"), Prog("Messages"), Prog("Play Log"), Mod_INI::IniFilePath()})
        QFile::remove(path) || QDir(path).removeRecursively();
}

// clang-format off
struct SlideRow { int control, start, action, value; std::string messageMode; QStringList sent; };  // control 3: interval; action -1: drag
struct LifeRow { QByteArray ini; QByteArray saved; QString readout; int exit; };  // ini "/": a folder
struct ScheduleRow { int day; QString hours, closed, timed, problem, dayparts = {}, levels = {}; };  // day: the field typed in, Monday 0
struct MouseRow { bool minimised; int button; QList<bool> visibleMinimisedPopUp; };  // button 0: Show
struct DaypartRow { QString closed, name, folder, shown, tip; QStringList problems = {}; QString warnedTip = {}; std::string title = {}; };  // folder: from the program folder; problems: views' own; title: the stream's
struct OutputRow { QString chosen; std::vector<Platform::Mci::OutputChoice> connected; QStringList shown; QString checked, pick, told; };  // told: the name the service gets
// clang-format on

// A console whose timer is stopped, so that only the test ticks it.
struct Console {
    FakeMciInstaller fake;
    SystemClock clock;
    Player player{clock};
    Frm_Messages w{player};
    Console() { Clean(), w.Timer1->stop(); }
    ~Console() { Clean(); }
    QStringList Sent() const {
        QStringList sent;
        for (const std::string& command : fake->commands)
            sent << QString::fromStdString(command);
        return sent;
    }
};

// The texts of a menu's items as it opens, or of its checked ones.
QStringList Texts(QMenu* menu, bool checkedOnly) {
    emit menu->aboutToShow();
    QStringList texts;
    for (const QAction* action : menu->actions())
        if (!checkedOnly || action->isChecked())
            texts << action->text();
    return texts;
}

QList<std::pair<int, QByteArray>> Numbered(const QByteArrayList& lines) {
    QList<std::pair<int, QByteArray>> numbered;
    for (const QByteArray& line : lines)
        numbered.append({static_cast<int>(numbered.size()) + 1, line});
    return numbered;
}

class ConsoleTest : public QObject {
    Q_OBJECT

    std::optional<Console> c;
    QTemporaryDir home_;

private slots:
    void initTestCase() {
        qputenv("XDG_CACHE_HOME", QFile::encodeName(home_.path()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home_.filePath("config")));
    }
    void init() { c.emplace(); }
    void cleanup() { c.reset(); }

    void sliders_data() {
        using A = QAbstractSlider;
        QTest::addColumn<SlideRow>("r");
        // clang-format off
        QTest::newRow("music: arrow up") << SlideRow{0, 50, A::SliderSingleStepSub, 51, "stopped", {"setaudio ZEL0 Volume to 510"}};
        QTest::newRow("music: page down") << SlideRow{0, 50, A::SliderPageStepAdd, 40, "stopped", {"setaudio ZEL0 Volume to 400"}};
        QTest::newRow("music: thumb dragged") << SlideRow{0, 100, -1, 70, "stopped", {"setaudio ZEL0 Volume to 700"}};
        QTest::newRow("low level: top is 100") << SlideRow{1, 10, A::SliderToMinimum, 100, "stopped", {"setaudio ZEL0 Volume to 1000"}};
        QTest::newRow("message: bottom is 0, during a message") << SlideRow{2, 80, A::SliderToMaximum, 0, "playing", {"setaudio ZEL0 Volume to 100", "setaudio ZEL1 Volume to 0"}};
        QTest::newRow("interval: no level sent") << SlideRow{3, 30, A::SliderPageStepSub, 29, "stopped", {}};
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

    // The status labels show the channels' modes; the meter a green column as high as the music
    // level, none when unreadable. Start at Login writes and removes the entry. The pop-up menu is
    // the tray icon's, not on the menu bar.
    void settingsPanel() {
        const int h = c->w.Pic_Volume->height(), top = h - h * 6 / 10;
        const auto green = [&](int y) {
            return c->w.Pic_Volume->grab().toImage().pixelColor(0, y) == QColor(0, 128, 0);
        };
        c->fake->devices["ZEL0"].mode = "playing";
        c->w.Timer1_Timer();
        QCOMPARE(c->w.Lbl_Status[0]->text() + c->w.Lbl_Status[1]->text(), "playingERROR");
        c->fake->devices["ZEL0"].volume = 600;
        QVERIFY(c->w.Fme_Settings->isHidden());
        c->w.Mnu_File_Settings->trigger();
        QVERIFY(!c->w.Fme_Settings->isHidden() && green(h - 1) && green(top) && !green(top - 1));
        c->fake->devices.clear();
        c->w.ShowVolume();
        QVERIFY(!green(h - 1));
        c->w.Cmd_OK->click();
        for (const bool on : {true, false}) {
            c->w.Mnu_File_StartAtLogin->trigger();
            QCOMPARE(QFileInfo::exists(Autostart::EntryPath(Program().folder)), on);
            QCOMPARE(c->w.Mnu_File_StartAtLogin->isChecked(), on);
        }
        QVERIFY(c->w.Fme_Settings->isHidden() &&
                !c->w.menuBar()->actions().contains(c->w.Mnu_PopUp->menuAction()));
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
        // Every kind of music file is listed, in name order; nothing else is.
        const QStringList kinds = {"a.mp3",  "b.WAV",  "c.mid", "d.ogg", "e.oga",
                                   "f.opus", "g.flac", "h.m4a", "i.aac"};
        for (const QString& name : kinds + QStringList{"cover.jpg", "notes.txt"})
            MediaFixtures::MakeFile(Prog("Music/") + name, "x");
        const QByteArray before = MediaFixtures::ReadFile(ini);
        int chosen = -2;
        bool early = false;  // a step out of order at the first command or at the first close
        c->fake->onCommand = [&](const std::string& command) {
            if (chosen == -2) {
                chosen = c->w.File1[0]->Items().ListIndex();
                early = !Mod_SystemTray::Record().icon || !QDir(Prog("Messages")).exists() ||
                        c->w.Lbl_Version->text() != "V" + Mod_Version::VersionString();
            }
            if (command == "Close ZEL0")
                early |= c->w.Timer1->isActive() || MediaFixtures::ReadFile(ini) != before ||
                         !Mod_SystemTray::Record().icon;
        };
        c->w.Form_Load();
        QCOMPARE(c->w.Txt_Interval->text(), r.readout);
        const int listed = static_cast<int>(kinds.size());
        QCOMPARE(c->w.File1[0]->Items().ListCount(), listed);
        QCOMPARE(c->w.File1[0]->Items().List(listed - 1), kinds.last());
        QCOMPARE(c->Sent().filter("open ").value(0).section(' ', 1, 1),
                 Prog("Music/") + c->w.File1[0]->Items().List((chosen + 1) % listed));
        c->w.Timer1->start();
        c->fake->commands.clear();
        QCloseEvent box;
        QSpontaneKeyEvent::setSpontaneous(&box);
        qApp->notify(&c->w, &box);  // unlike sendEvent, keeps the event spontaneous
        QVERIFY(!box.isAccepted() && c->Sent().isEmpty() && MediaFixtures::ReadFile(ini) == before);
        QCOMPARE(c->w.isVisible() && c->w.isMinimized(), !Mod_SystemTray::TrayAvailable());
        QCloseEvent event;  // not spontaneous: the application quitting
        for (const QStringList& sent :
             {QStringList{"Close ZEL0", "Close ZEL1", "Close All"}, QStringList()}) {
            c->fake->commands.clear();
            r.exit == 2 ? void(QCoreApplication::sendEvent(&c->w, &event))
                        : (r.exit ? c->w.Mnu_PopUp_Exit : c->w.Mnu_File_Exit)->trigger();
            QCOMPARE(c->Sent(), sent);
        }
        QVERIFY(chosen >= 0 && !early && !c->w.Timer1->isActive() &&
                !Mod_SystemTray::Record().icon);
        QCOMPARE(MediaFixtures::ReadFile(ini), r.saved);
    }

    // The options come from a section of their own and are stored the moment they change, leaving
    // the settings section as it was; with the play log kept, a message that the end of the
    // program cuts off is logged so. The chosen output is the service's from the start.
    void options() {
        const QString ini = Mod_INI::IniFilePath();
        const QByteArray settings = "[Settings]\r\nMessageInterval=1\r\nMusicVolumeLow=95\r\n";
        const QByteArray options =
            "[Options]\r\nMusicOrder=shuffle\r\nKeepPlayLog=1\r\n"
            "OutputDevice=usb-speakers\r\nCrossfade=3\r\nTrimSilence=1\r\n";
        QVERIFY(MediaFixtures::MakeFile(ini, settings + options));
        c->w.Form_Load();
        QCOMPARE(c->fake->outputs, std::vector<std::string>{"usb-speakers"});
        QVERIFY(c->w.Mnu_File_KeepPlayLog->isChecked() && c->w.Mnu_File_TrimSilence->isChecked() &&
                c->w.Mnu_File_Shuffle->isChecked() && !c->w.Mnu_File_EvenLoudness->isChecked() &&
                !c->player.Loudness().Enabled());
        QCOMPARE(Texts(c->w.Mnu_File_Crossfade, true), QStringList{"3 s"});
        c->w.Mnu_File_EvenLoudness->trigger();
        QVERIFY(c->player.Loudness().Enabled());
        QCOMPARE(MediaFixtures::ReadFile(ini), settings + options + "EvenLoudness=1\r\n");
        for (const char* name : {"Music/a.mp3", "Messages/notice.mp3"})
            MediaFixtures::MakeFile(Prog(name), "x");
        c->w.Timer1_Timer();
        c->w.Timer1_Timer();
        QTRY_COMPARE(c->fake->devices["ZEL1"].mode, "playing");
        c->w.Mnu_File_Exit->trigger();
        const QDir logs(c->player.Log().Folder());  // the header and one line
        const QByteArray played =
            MediaFixtures::ReadFile(logs.filePath(logs.entryList(QDir::Files).value(0)));
        QVERIFY2(played.count('\n') == 2 && played.endsWith(",\"notice.mp3\",30.00,cut short\n"),
                 played);
        // Off, the next start leaves both off.
        c->w.Mnu_File_KeepPlayLog->trigger();
        c->w.Mnu_File_EvenLoudness->trigger();
        QVERIFY(MediaFixtures::ReadFile(ini).endsWith(
            "KeepPlayLog=0\r\nOutputDevice=usb-speakers\r\n"
            "Crossfade=3\r\nTrimSilence=1\r\nEvenLoudness=0\r\n"));
        QAction* off = c->w.Mnu_File_Crossfade->actions().first();
        off->trigger();
        QVERIFY(MediaFixtures::ReadFile(ini).contains("\r\nCrossfade=0\r\n") && off->isChecked());
        c->w.Mnu_File_Shuffle->trigger();
        QVERIFY(!c->player.Opts().shuffle &&
                MediaFixtures::ReadFile(ini).contains("[Options]\r\nMusicOrder=Name\r\n"));
        c->player.SetShuffle(true);
        QVERIFY(c->w.Mnu_File_Shuffle->isChecked());
    }

    void outputs_data() {
        QTest::addColumn<OutputRow>("r");
        const Platform::Mci::OutputChoice hdmi{"hdmi-1", "HDMI"}, usb{"usb-2", "USB speakers"};
        // clang-format off
        QTest::newRow("chosen one connected") << OutputRow{"usb-2", {hdmi, usb}, {"System default", "HDMI", "USB speakers"}, "USB speakers", "HDMI", "hdmi-1"};
        QTest::newRow("chosen one gone: listed last, still chosen") << OutputRow{"usb-2", {hdmi}, {"System default", "HDMI", "usb-2 (not connected)"}, "usb-2 (not connected)", "System default", ""};
        QTest::newRow("the default, none connected") << OutputRow{"", {}, {"System default"}, "System default", "System default", ""};
        // clang-format on
    }
    // The Output menu lists the player's outputs as they are when it opens, by description; the
    // item picked hands its name to the service and is the one checked next time.
    void outputs() {
        QFETCH(OutputRow, r);
        c->player.SetOutput(r.chosen);
        c->fake->connected = r.connected;
        QMenu* menu = c->w.Mnu_File_Output;
        QCOMPARE(Texts(menu, false), r.shown);
        QCOMPARE(Texts(menu, true), QStringList{r.checked});
        menu->actions().at(r.shown.indexOf(r.pick))->trigger();
        QCOMPARE(c->fake->outputs, (std::vector{r.chosen.toStdString(), r.told.toStdString()}));
        QCOMPARE(Texts(menu, true), QStringList{r.pick});
    }

    // File > Language keeps the choice for the next start, where the menu shows it chosen; the
    // system's (the first choice) is kept as none.
    void language() {
        QMenu* menu = c->w.Mnu_File_Language;
        const auto choose = [menu](qsizetype index) {
            menu->actions().at(index)->trigger();
            return Language::Choose(Mod_INI::GetIniValue({}, "Language", {}, "Options"),
                                    QLocale(QLocale::French));
        };
        const QStringList texts = Texts(menu, false);
        const qsizetype system = 2;  // after the note and a separator
        QCOMPARE(choose(texts.indexOf("Deutsch")), "de");
        QCOMPARE(choose(system), "fr");
        QCOMPARE(choose(texts.indexOf("English")), "en");
        Console next;
        QCOMPARE(Texts(next.w.Mnu_File_Language, true), QStringList{"English"});
    }

    void daypart_data() {
        QTest::addColumn<DaypartRow>("r");
        const QString outside = home_.filePath("Evening");
        const QStringList two{"silence on the output for 30 s",
                              "no connection to the broker: the host closed the connection "
                              "before the login was answered"};
        // clang-format off
        QTest::newRow("in the program folder") << DaypartRow{"", "Lunch", "Music/Lunch", "Lunch — Music/Lunch", "Corvane\nDaypart: Lunch"};
        QTest::newRow("elsewhere: the whole path; a problem") << DaypartRow{"", "Evening", outside, "Evening — " + outside, "Corvane\nDaypart: Evening", {two[0]}, "Corvane\nDaypart: Evening\nsilence on the output for 30 s"};
        QTest::newRow("closed as well; two problems, too long") << DaypartRow{"Closed until Mon 08:00", "Lunch", "Music/Lunch", "Lunch — Music/Lunch", "Corvane\nClosed until Mon 08:00\nDaypart: Lunch", two, "Corvane\nClosed until Mon 08:00\nDaypart: Lunch\nsilence on the ou"};
        QTest::newRow("none: the music folder") << DaypartRow{"", "", "Music", "", "Corvane"};
        QTest::newRow("a stream's title") << DaypartRow{"", "Lunch", "Music/Lunch", "Lunch — Music/Lunch · News", "Corvane\nDaypart: Lunch", {}, {}, "News"};
        QTest::newRow("a stream's title alone") << DaypartRow{"", "", "Music", "News", "Corvane", {}, {}, "News"};
        // clang-format on
    }
    // Under the music list, the daypart and the folder it plays; in the tray's tip, its name. The
    // problems, some told before the icon is there, take the credit line's place in the band, cut
    // to end short of the version, and are added to the tip; the icon is badged until they go.
    void daypart() {
        QFETCH(DaypartRow, r);
        const QString folder = QDir(Program().folder).filePath(r.folder);
        QVERIFY(QDir().mkpath(folder) && QDir().mkpath(Prog("Music")) &&
                MediaFixtures::MakeFile(folder + "/a.mp3", "x") &&
                MediaFixtures::MakeFile(Prog("Music/b.mp3"), "x"));
        for (int i = 0; i < r.problems.size(); ++i)
            c->player.SetProblem(QString::number(i), r.problems[i]);
        c->w.Form_Load();
        QCOMPARE(c->w.Lbl_Daypart->text(), QString());
        emit c->player.DaypartChanged("Morning");
        emit c->player.ClosedTextChanged(r.closed);
        c->player.List(Player::kMusic).SetPath(folder);
        emit c->player.DaypartChanged(r.name);
        c->fake->titles["ZEL0"] = r.title;
        c->player.Tick();
        // Whole in its tool tip; cut to fit the line, as a long folder's path is.
        const QLabel* line = c->w.Lbl_Daypart;
        QCOMPARE(line->toolTip(), r.shown);
        QVERIFY2(line->text() == r.shown ||
                     (line->text().endsWith("…") && r.shown.startsWith(line->text().chopped(1)) &&
                      line->fontMetrics().horizontalAdvance(line->text()) <= line->width()),
                 qPrintable(line->text()));
        const QLabel* band = c->w.Lbl_Problems;
        const QFontMetrics metrics = band->fontMetrics();
        const int versionLeft =
            c->w.Lbl_Version->geometry().right() -
            c->w.Lbl_Version->fontMetrics().horizontalAdvance(c->w.Lbl_Version->text());
        for (const QStringList& problems : {r.problems, QStringList()}) {
            for (int i = 0; i < r.problems.size(); ++i)
                c->player.SetProblem(QString::number(i), problems.value(i));
            const QString all = problems.join("; ");
            QCOMPARE(Mod_SystemTray::Record().tip, problems.isEmpty() ? r.tip : r.warnedTip);
            QCOMPARE(band->toolTip(), all);
            QCOMPARE((QList<bool>{c->w.Label3->isHidden(), band->isHidden()}),
                     (QList<bool>{!problems.isEmpty(), problems.isEmpty()}));
            QVERIFY2(band->text() == all ||
                         (band->text().endsWith("…") && all.startsWith(band->text().chopped(1)) &&
                          metrics.horizontalAdvance(all) > band->width()),
                     qPrintable(band->text()));
            QVERIFY(metrics.horizontalAdvance(band->text()) <= band->width() &&
                    band->geometry().right() < versionLeft);
            // The badge, in the lower right quarter only.
            const QImage icon = Mod_SystemTray::Record().icon->icon().pixmap(32).toImage();
            const QImage plain = c->w.windowIcon().pixmap(32).toImage();
            QCOMPARE(Mod_SystemTray::Record().warning, !problems.isEmpty());
            QCOMPARE(icon == plain, problems.isEmpty());
            QVERIFY(icon.copy(0, 0, 32, 16) == plain.copy(0, 0, 32, 16) &&
                    icon.copy(0, 16, 16, 16) == plain.copy(0, 16, 16, 16));
        }
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
        QCOMPARE((QList<bool>{c->w.isVisible(), c->w.isMinimized(), c->w.Mnu_PopUp->isVisible()}),
                 r.visibleMinimisedPopUp);
    }

    void scheduleWindow_data() {
        QTest::addColumn<ScheduleRow>("r");
        // clang-format off
        QTest::newRow("all well") << ScheduleRow{0, "08:00-12:30, 14:00-19:00", "2026-12-24..2026-12-26", "Mon-Fri 12:00=a.mp3", "", "Mon-Fri 07:00-11:00=Morning\n 2026-12-24 08:00-14:00=Christmas Eve ", "Mon-Sat 07:00=60\n\n19:00=70"};
        QTest::newRow("no such hour, on the last day") << ScheduleRow{6, "25:00-26:00", "", "", "Sunday: 25:00 is not a time"};
        QTest::newRow("bad date") << ScheduleRow{0, "closed", "2026-02-30", "", "Closed: 2026-02-30 is not a date"};
        QTest::newRow("missing file") << ScheduleRow{0, "", "", "12:00=a.mp3\n\n13:00=b.mp3", "Timed messages, line 2: there is no file b.mp3"};
        QTest::newRow("daypart out of the music folder") << ScheduleRow{0, "", "", "", "Dayparts, line 2: ../Other is not the name of a folder in the music folder", "Mon-Fri 07:00-11:00=Morning\n\nSat=../Other", "19:00=70"};
        QTest::newRow("level above 100") << ScheduleRow{0, "", "", "", "Levels, line 1: 150 is not a level from 0 to 100", "Sat,Sun=Weekend", "19:00=150\nMon 07:00=x"};
        // clang-format on
    }
    // The window shows the file's lines, faults too; OK stays off while one field is wrong, and
    // the lines it writes are the ones the program reads.
    void scheduleWindow() {
        QFETCH(ScheduleRow, r);
        const Schedule::Locate locate = [](const QString& f) {
            return f == "a.mp3" ? f : QString();
        };
        Frm_Schedule window({.schedule = Numbered({"sat = 09:00-14:00", "Closed=2026-13-01"}),
                             .timed = Numbered({"19:45=a.mp3"}),
                             .dayparts = {{3, " Sat=Weekend"}},
                             .levels = {{5, "Sat=x"}}},
                            locate);
        QCOMPARE(window.Txt_Day[5]->text() + window.Txt_Dayparts->toPlainText(),
                 QString("09:00-14:00Sat=Weekend"));
        QVERIFY(!window.Buttons->button(QDialogButtonBox::Ok)->isEnabled());
        window.Txt_Day[r.day]->setText(r.hours);
        window.Txt_Closed->setText(r.closed);
        window.Txt_Timed->setPlainText(r.timed);
        window.Txt_Dayparts->setPlainText(r.dayparts);
        window.Txt_Levels->setPlainText(r.levels);
        QCOMPARE(window.Lbl_Problem->text(), r.problem);
        QCOMPARE(window.Buttons->button(QDialogButtonBox::Ok)->isEnabled(), r.problem.isEmpty());
        if (!r.problem.isEmpty())
            return;
        const Schedule::Plan plan = Schedule::Parse({.schedule = Numbered(window.ScheduleLines()),
                                                     .timed = Numbered(window.TimedLines()),
                                                     .dayparts = Numbered(window.DaypartLines()),
                                                     .levels = Numbered(window.LevelLines())},
                                                    locate);
        QVERIFY(plan.faults.isEmpty());
        QCOMPARE((QList<qsizetype>{plan.hours.days[0]->size(), plan.hours.closed.size(),
                                   plan.timed.size(), plan.dayparts.size(), plan.levels.size()}),
                 (QList<qsizetype>{2, 1, 1, 2, 2}));
        QCOMPARE(plan.hours.days[5]->first().start, 9 * 60);
        QCOMPARE(plan.dayparts[1].name, QString("Christmas Eve"));
        QCOMPARE(plan.dayparts[1].when.dates->first, QDate(2026, 12, 24));
        QCOMPARE(plan.dayparts[0].when.time->end, 11 * 60);
        QCOMPARE((QList<int>{plan.levels[0].level, plan.levels[1].minute}),
                 (QList<int>{60, 19 * 60}));
    }

    // What the remote-control window holds is what the program reads back from the file: a
    // remote turned on gets a key of its own, and the broker's fields land where they belong.
    void remoteWindow() {
        Frm_Remote window({}, Fleet::ReadConfig());
        QVERIFY(!window.Txt_Port->isEnabled());
        window.Chk_On->setChecked(true);
        QVERIFY(QRegularExpression("^[0-9a-f]{32}$").match(window.Txt_Key->text()).hasMatch());
        window.Opt_Lan->setChecked(true);
        window.Txt_MqttHost->setText(" broker.example ");
        window.Txt_MqttPort->setValue(8883);
        window.Txt_MqttUser->setText("shop-3");
        window.Txt_MqttPassword->setText("p=ss;word");
        window.Chk_MqttTls->setChecked(true);
        window.Txt_MqttTopic->setText("corvane/north/till");
        WebRemote::StoreConfig(window.Config());
        Fleet::StoreConfig(window.FleetConfig());
        const WebRemote::Config web = WebRemote::ReadConfig();
        QVERIFY(web.port == WebRemote::kDefaultPort && web.lan &&
                web.key == window.Txt_Key->text());
        const Fleet::Config broker = Fleet::ReadConfig();
        QVERIFY(broker == window.FleetConfig());
        QCOMPARE(broker.host + ' ' + broker.password, QString("broker.example p=ss;word"));
        QCOMPARE(QFile::permissions(Mod_INI::IniFilePath()) & (QFile::ReadOther | QFile::ReadGroup),
                 QFileDevice::Permissions());
    }
};

QTEST_MAIN(ConsoleTest)
#include "tst_console.moc"
