// The player against a scripted media service: levels changed mid-fade, the actions a remote
// asks for, and the values reaching the settings file without an exit.

#include <QtTest>

#include "PlayerRig.h"
#include "player/Player.h"
#include "settings/Mod_INI.h"

// clang-format off
// Changed while the music fades down for a message: the music's level once the message plays,
// the lowest level sent on the way, and the level it comes back up to.
struct FadeRow { Player::Value value; int level; int during, lowest, after; };
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
    std::string Opened(const std::string& alias) const {
        for (auto c = fake->commands.rbegin(); c != fake->commands.rend(); ++c)
            if (c->rfind("open ", 0) == 0 && c->find(" Alias " + alias + " ") != std::string::npos)
                return c->substr(c->find_last_of('/', c->find(" type")) + 1,
                                 c->find(" type") - c->find_last_of('/', c->find(" type")) - 1);
        return {};
    }
};

class PlayerTest : public QObject {
    Q_OBJECT
    QTemporaryDir folder_;

private slots:
    void initTestCase() { QCOMPARE(UseFolder(folder_), QString()); }

    void levelDuringFade_data() {
        QTest::addColumn<FadeRow>("r");
        QTest::newRow("low raised: the fade ends there")
            << FadeRow{Player::kMusicLow, 50, 500, 500, 1000};
        QTest::newRow("low lowered: it goes on down") << FadeRow{Player::kMusicLow, 0, 0, 0, 1000};
        QTest::newRow("full level: heard after the message")
            << FadeRow{Player::kMusicHigh, 80, 100, 100, 800};
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
        QCOMPARE(*std::min_element(levels.begin(), levels.end()), r.lowest);
        rig.fake->Finish("ZEL1");
        QTRY_VERIFY(rig.player.Playback().Fading());
        QTRY_VERIFY(!rig.player.Playback().Fading());
        QCOMPARE(rig.fake->devices["ZEL0"].volume, r.after);
    }

    // Next Track fades the music out before the next file; a message asked for plays with the
    // music down and restarts the count; paused, nothing plays, counts or starts.
    void actions() {
        Rig rig("[Settings]\nMessageInterval=5\nMusicVolumeLow=20\n");
        const std::string first = rig.Opened("ZEL0");
        rig.fake->commands.clear();
        rig.player.NextTrack();
        QTRY_VERIFY(rig.Opened("ZEL0") != "");
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
        QVERIFY(rig.Levels("ZEL0").empty() && rig.Opened("ZEL0").empty());
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
