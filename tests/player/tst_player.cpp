// The player against a scripted media service: levels changed mid-fade, the actions a remote
// asks for, and the values reaching the settings file without an exit.

#include <QtTest>

#include "PlayerRig.h"
#include "platform/mci/gstdevices.h"
#include "player/Player.h"
#include "settings/Mod_INI.h"

// clang-format off
// Changed while the music fades down for a message: the music's level once the message plays, none
// lower sent on the way, and the level it comes back up to.
struct FadeRow { Player::Value value; int level; int during, after; };
struct DaypartRow { QByteArray lines; bool hasMusic; QString daypart, folder; };  // folder: of the program's
// One tick a second, each a letter: q quiet while music should sound, s sound, p paused (quiet,
// and music not meant to sound), o the output not measured. What the watch says at each: . nothing,
// R raised, r raised again, X output rebuilt, C cleared.
struct SilenceRow { int seconds; QByteArray ticks, says; };
// Through the real pipeline, a silent file alone in the music folder; then: a tone added once the
// alarm is raised, a pause after the first tick, a day closed all day, or the music's level at 0.
enum class Then { AddTone, Pause, Close, LevelZero };
struct DeadAirRow { Then then; bool raised, clears; };
// clang-format on

struct Rig : PlayerRig {
    explicit Rig(const QByteArray& ini = "[Settings]\nMessageInterval=1\n")
        : PlayerRig(ini, {"m1.mp3", "m2.mp3"}) {}
    std::vector<int> Levels(const std::string& alias) const {
        std::vector<int> levels;
        for (const std::string& c : fake->commands)
            if (c.rfind("setaudio " + alias + " Volume to ", 0) == 0)
                levels.push_back(std::stoi(c.substr(c.rfind(' ') + 1)));
        return levels;
    }
    // The name of the file last opened on `alias`; empty when none was.
    QString Opened(const QString& alias) const {
        static const QRegularExpression open(R"re(^open "?.*/(.*?)"? type \S+ Alias (\S+) )re");
        QString name;
        for (const std::string& c : fake->commands)
            if (const auto m = open.match(QString::fromStdString(c)); m.captured(2) == alias)
                name = m.captured(1);
        return name;
    }
};

class PlayerTest : public QObject {
    Q_OBJECT
    QTemporaryDir folder_;

private slots:
    void initTestCase() { QCOMPARE(UseFolder(folder_), QString()); }

    void levelDuringFade_data() {
        QTest::addColumn<FadeRow>("r");
        // clang-format off
        QTest::newRow("low raised: the fade ends there") << FadeRow{Player::kMusicLow, 50, 500, 1000};
        QTest::newRow("low lowered: it goes on down") << FadeRow{Player::kMusicLow, 0, 0, 1000};
        QTest::newRow("full level: heard after the message") << FadeRow{Player::kMusicHigh, 80, 100, 800};
        // clang-format on
    }
    void levelDuringFade() {
        QFETCH(FadeRow, r);
        Rig rig;
        rig.player.Tick();
        rig.player.Tick();  // the interval of 1 s is over: the music fades down
        QVERIFY(rig.player.Playback().Fading());
        QTest::qWait(300);
        rig.fake->commands.clear();
        rig.player.Set(r.value, r.level);
        QTRY_VERIFY(!rig.player.Playback().Fading());
        QCOMPARE(rig.fake->devices["ZEL1"].mode, std::string("playing"));
        QCOMPARE(rig.fake->devices["ZEL0"].volume, r.during);
        const std::vector<int> levels = rig.Levels("ZEL0");
        QCOMPARE(*std::min_element(levels.begin(), levels.end()), r.during);
        rig.fake->Finish("ZEL1");
        QTRY_VERIFY(rig.player.Playback().Fading());
        QTRY_VERIFY(!rig.player.Playback().Fading());
        QCOMPARE(rig.fake->devices["ZEL0"].volume, r.after);
    }

    // Each round plays every file of the folder once, with no artist twice within two plays; a
    // restart goes on with the round, and a new round never starts with the last file.
    void silenceWatch_data() {
        QTest::addColumn<SilenceRow>("r");
        // clang-format off
        QTest::newRow("raised after the time, cleared by sound") << SilenceRow{3, "sqqqqs", "...R.C"};
        QTest::newRow("a pause neither raises nor counts")      << SilenceRow{3, "pppppqqqq", "........R"};
        QTest::newRow("a pause ends the alarm")                 << SilenceRow{3, "sqqqpp", "...RC."};
        QTest::newRow("the third in a row rebuilds the output") << SilenceRow{2, "sqqqqqqqq", "..R.r.X.r"};
        QTest::newRow("sound between alarms: never rebuilt")    << SilenceRow{2, "sqqqsqqqsqqq", "..R.C.R.C.R."};
        QTest::newRow("quiet shorter than the time")            << SilenceRow{3, "sqqsqqsqq", "........."};
        QTest::newRow("off")                                    << SilenceRow{0, "sqqqqq", "......"};
        QTest::newRow("not measured")                           << SilenceRow{2, "oooooo", "......"};
        // clang-format on
    }
    void silenceWatch() {
        QFETCH(SilenceRow, r);
        SilenceWatch watch;
        std::chrono::milliseconds quiet{0};
        QByteArray says;
        for (qsizetype t = 0; t < r.ticks.size(); ++t) {
            const char tick = r.ticks[t];
            quiet = tick == 's' ? std::chrono::milliseconds{0} : quiet + std::chrono::seconds(1);
            const SilenceWatch::Action action =
                watch.Step({.seconds = r.seconds,
                            .expected = tick == 'q' || tick == 's',
                            .quiet = tick == 'o' ? std::nullopt : std::optional(quiet),
                            .now = std::chrono::seconds(t)});
            says += ".RrXC"[static_cast<int>(action)];
        }
        QCOMPARE(says, r.says);
    }

    void deadAir_data() {
        QTest::addColumn<DeadAirRow>("r");
        QTest::newRow("raised, then a file with sound clears it")
            << DeadAirRow{Then::AddTone, true, true};
        QTest::newRow("paused: never") << DeadAirRow{Then::Pause, false, false};
        QTest::newRow("closed: never") << DeadAirRow{Then::Close, false, false};
        QTest::newRow("level 0: never") << DeadAirRow{Then::LevelZero, false, false};
    }
    void deadAir() {
        QFETCH(DeadAirRow, r);
        auto previous = Platform::Mci::SetService(
            std::make_unique<Platform::Mci::GstDevices>(Platform::Mci::GstDevices::FakeSink()));
        const QString music = Program().folder + "/Music/";
        QVERIFY(QDir(music).removeRecursively() && QDir().mkpath(music));
        QVERIFY(MediaFixtures::MakeWav(music + "a silent.wav", 20000, 440.0, 0.0));
        const QByteArray closed =
            "[Schedule]\nClosed=" + QDate::currentDate().toString(Qt::ISODate).toLatin1() + '\n';
        const QByteArray level = r.then == Then::LevelZero ? "MusicVolumeHigh=0\n" : "";
        QVERIFY(MediaFixtures::MakeFile(Mod_INI::IniFilePath(),
                                        "[Settings]\nMessageInterval=0\n" + level +
                                            "[Options]\nSilenceAlarmSeconds=2\n" +
                                            (r.then == Then::Close ? closed : QByteArray())));
        const auto silent = [](const Player& p) {
            return p.ProblemsInEnglish().filter("silence on the output for 2 s").size() == 1;
        };
        bool raised = false;
        {
            SystemClock clock;
            Player player(clock);
            player.Load();
            player.Start(0);
            for (int tick = 0; tick < 12 && !(raised && !silent(player)); ++tick) {
                player.Tick();
                if (tick == 0 && r.then == Then::Pause)
                    player.Pause();
                raised = raised || silent(player);
                if (raised && r.then == Then::AddTone)
                    QVERIFY(MediaFixtures::MakeWav(music + "b tone.wav", 20000, 440.0, 0.5));
                QTest::qWait(1000);
            }
            QCOMPARE(raised, r.raised);
            QCOMPARE(!silent(player), r.clears || !r.raised);
            player.Shutdown();
        }
        QDir(music).removeRecursively();
        Platform::Mci::SetService(std::move(previous));
    }

    // A playlist names a stream: music plays it, the messages never list nor play it.
    void playlistsOnlyAsMusic() {
        for (const char* folder : {"/Music/", "/Messages/"})
            QVERIFY(QDir().mkpath(Program().folder + folder) &&
                    MediaFixtures::MakeFile(Program().folder + folder + "radio.pls", "x"));
        Rig rig;
        QVERIFY(rig.player.List(Player::kMusic).Find("radio.pls") >= 0);
        QCOMPARE(rig.player.List(Player::kMessages).Find("radio.pls"), -1);
        QVERIFY(!rig.player.PlayMessageNow("radio.pls"));  // nor by name, as a remote asks
        for (const char* folder : {"/Music/", "/Messages/"})
            QFile::remove(Program().folder + folder + "radio.pls");
    }

    void shuffled() {
        const QDir music(Program().folder + "/Music");
        QFile::remove(Program().folder + '/' + Program().baseName + ".shuffle");
        QVERIFY(music.mkpath("."));
        const QStringList files{"A - 1.mp3", "A - 2.mp3", "B - 1.mp3",
                                "B - 2.mp3", "C - 1.mp3", "C - 2.mp3"};
        for (const QString& file : files)
            QVERIFY(MediaFixtures::MakeFile(music.filePath(file), "x"));
        const auto clean = qScopeGuard([&] {
            for (const QString& file : files + QStringList{"D - bad.mp3"})
                QFile::remove(music.filePath(file));
        });
        QStringList played;
        for (int part : {3, 13}) {  // started again after the third play
            Rig rig("[Settings]\nMessageInterval=0\n[Options]\nMusicOrder=Shuffle\n");
            for (played << rig.Opened("ZEL0"); --part > 0;) {
                rig.fake->Finish("ZEL0");
                rig.player.Tick();  // files start one pass of the folder a tick at most
                QTRY_COMPARE(rig.fake->devices["ZEL0"].mode, std::string("playing"));
                played << rig.Opened("ZEL0");
            }
        }
        QStringList all = files + QStringList{"a.mp3", "b.mp3"};
        all.sort();
        for (qsizetype round = 0; round + all.size() <= played.size(); round += all.size()) {
            QStringList one = played.mid(round, all.size());
            one.sort();
            QCOMPARE(one, all);
            QVERIFY(round == 0 || played[round] != played[round - 1]);
        }
        for (qsizetype i = 1; i < played.size(); ++i)
            for (qsizetype back = 1; back <= 2 && back <= i; ++back)
                QVERIFY2(Shuffle::ArtistFromName(played[i]).isEmpty() ||
                             Shuffle::ArtistFromName(played[i]) !=
                                 Shuffle::ArtistFromName(played[i - back]),
                         qPrintable(played.join(", ")));
        // One more that fails to open is not drawn again and again: the music goes on.
        QVERIFY(MediaFixtures::MakeFile(music.filePath("D - bad.mp3"), "x"));
        Rig rig("[Settings]\nMessageInterval=0\n[Options]\nMusicOrder=Shuffle\n");
        rig.fake->unplayable.insert("D - bad.mp3");
        for (int i = 0; i < 10; ++i) {
            rig.fake->Finish("ZEL0");
            rig.player.Tick();
            QTRY_COMPARE(rig.fake->devices["ZEL0"].mode, std::string("playing"));
            QVERIFY(rig.Opened("ZEL0") != "D - bad.mp3");
        }
    }

    void daypart_data() {
        QTest::addColumn<DaypartRow>("r");
        // clang-format off
        QTest::newRow("its folder plays") << DaypartRow{"Mon-Sun=All day", true, "All day", "Music/All day"};
        QTest::newRow("an empty folder: the music folder") << DaypartRow{"Mon-Sun=All day", false, "All day", "Music"};
        QTest::newRow("none applies") << DaypartRow{"2000-01-01=All day", true, "", "Music"};
        // clang-format on
    }
    // The daypart in force at start-up chooses the music's folder; the files directly in the music
    // folder play when none applies or its folder has no music.
    void daypart() {
        QFETCH(DaypartRow, r);
        const QString folder = Program().folder + "/Music/All day";
        QDir(folder).removeRecursively();
        QVERIFY(QDir().mkpath(folder));
        if (r.hasMusic)
            QVERIFY(MediaFixtures::MakeFile(folder + "/tune.mp3", "x"));
        Rig rig("[Settings]\nMessageInterval=0\n[Dayparts]\n" + r.lines + "\n");
        QCOMPARE(rig.player.Daypart(), r.daypart);
        QCOMPARE(rig.player.MusicFolder(), Program().folder + '/' + r.folder);
        QCOMPARE(rig.player.Playing(Player::kMusic).startsWith(QFile::encodeName(folder)),
                 r.folder.endsWith("All day"));
        QDir(folder).removeRecursively();
    }

    // Next Track fades the music out before the next file; a message asked for plays with the
    // music down and restarts the count; paused, nothing plays, counts or starts.
    void actions() {
        Rig rig("[Settings]\nMessageInterval=5\nMusicVolumeLow=20\n");
        const QString first = rig.Opened("ZEL0");
        rig.fake->commands.clear();
        rig.player.NextTrack();
        QTRY_VERIFY(!rig.Opened("ZEL0").isEmpty());
        QVERIFY(rig.Opened("ZEL0") != first);
        std::vector<int> levels = rig.Levels("ZEL0");
        QVERIFY(levels.size() > 10 && std::is_sorted(levels.rbegin() + 1, levels.rend()));
        QCOMPARE(levels.back(), 1000);  // the next file at its full level

        rig.player.Tick();
        rig.player.Tick();
        QVERIFY(!rig.player.PlayMessageNow("../Music/a.mp3"));
        QVERIFY(rig.player.PlayMessageNow("m2.mp3"));
        QTRY_COMPARE(rig.fake->devices["ZEL1"].mode, std::string("playing"));
        QCOMPARE(rig.Opened("ZEL1"), "m2.mp3");
        QCOMPARE(rig.fake->devices["ZEL0"].volume, 200);
        QCOMPARE(rig.player.Playback().MessageTicks(), 0);
        QCOMPARE(rig.player.Playing(Player::kMessages).endsWith("/m2.mp3"), true);

        rig.player.Pause();
        QCOMPARE(rig.fake->devices["ZEL0"].mode + rig.fake->devices["ZEL1"].mode, "pausedpaused");
        rig.fake->Finish("ZEL1");  // as good as a stopped message: it must not bring the music up
        rig.fake->devices["ZEL0"].mode = "paused";
        rig.fake->commands.clear();
        for (int i = 0; i < 8; ++i)
            rig.player.Tick();
        QVERIFY(!rig.player.PlayMessageNow());
        QVERIFY(rig.Levels("ZEL0").empty() && rig.Opened("ZEL0").isEmpty());
        rig.player.Resume();
        QCOMPARE(rig.fake->devices["ZEL0"].mode, std::string("playing"));
        QVERIFY(!rig.player.Paused());
    }

    // A change reaches the file within two seconds, as the exit would write it; loading alone
    // writes nothing.
    void storedWithoutExit() {
        const QByteArray ini = "[Settings]\r\nMessageInterval=1\r\n";
        QByteArray atExit;
        {
            Rig rig(ini);
            QTest::qWait(Player::kSaveDelayMilliseconds + 200);
            QCOMPARE(MediaFixtures::ReadFile(Mod_INI::IniFilePath()), ini);
            rig.player.Set(Player::kMusicHigh, 70);
            rig.player.Set(Player::kMusicHigh, 170);  // clamped
            QTRY_VERIFY_WITH_TIMEOUT(MediaFixtures::ReadFile(Mod_INI::IniFilePath()) != ini, 2000);
            atExit = MediaFixtures::ReadFile(Mod_INI::IniFilePath());
            QVERIFY2(atExit.contains("MusicVolumeHigh=100\r\n"), atExit);
        }
        QCOMPARE(MediaFixtures::ReadFile(Mod_INI::IniFilePath()), atExit);
    }
};

QTEST_MAIN(PlayerTest)
#include "tst_player.moc"
