#include "tst_scheduler.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "FakeMci.h"
#include "MediaFixtures.h"
#include "audio/Mod_MCI.h"
#include "console/Frm_Messages.h"
#include "platform/mci/gstdevices.h"
#include "settings/Mod_INI.h"

namespace {

const QString kMusicMode = QStringLiteral("status ZEL0 mode");
const QString kMessageMode = QStringLiteral("status ZEL1 mode");
const QString kMusicVolume = QStringLiteral("status ZEL0 Volume");
const QStringList kShutdownCloses{QStringLiteral("Close ZEL0"), QStringLiteral("Close ZEL1"),
                                  QStringLiteral("Close All")};

// The window handle in an open command differs from run to run.
QString Normalized(const std::string& command) {
    static const QRegularExpression handle(QStringLiteral(" parent \\d+ "));
    return QString::fromStdString(command).replace(handle, QStringLiteral(" parent * "));
}

QString OpenCommand(const QString& alias, const QString& path) {
    return QStringLiteral("open %1 type MPEGVideo Alias %2 parent * Style 1073741824")
        .arg(path, alias);
}

QString VolumeCommand(const QString& alias, int level) {
    return QStringLiteral("setaudio %1 Volume to %2").arg(alias).arg(level * 10);
}

// What starting a file on a channel sends, the fake reporting a length of 750 frames.
QStringList FileStart(const QString& alias, const QString& path, int level) {
    return {QStringLiteral("Close ") + alias,
            OpenCommand(alias, path),
            VolumeCommand(alias, level),
            QStringLiteral("set %1 time format frames").arg(alias),
            QStringLiteral("status %1 length").arg(alias),
            QStringLiteral("play %1 from 0 to 750").arg(alias)};
}

// Every step of a fade sets the music level and redraws the meter, which reads the level back.
QStringList FadeSteps(int from, int to) {
    QStringList steps;
    const int direction = from <= to ? 1 : -1;
    for (int v = from;; v += direction) {
        steps << VolumeCommand(QStringLiteral("ZEL0"), v) << kMusicVolume;
        if (v == to) {
            break;
        }
    }
    return steps;
}

QList<int> Range(int from, int to) {
    QList<int> values;
    for (int v = from; v <= to; ++v) {
        values << v;
    }
    return values;
}

QList<int> MusicVolumesSent(const FakeMci& fake) {
    const std::vector<int> volumes = fake.VolumesSentTo("ZEL0");
    return QList<int>(volumes.begin(), volumes.end());
}

bool MakeMedia(const QString& path) {
    return MediaFixtures::MakeFile(path, QByteArrayLiteral("not decoded by the fake"));
}

// A console on two temporary media folders, its timer stopped so that only the test ticks it,
// and a scripted media service behind it.
class Console {
public:
    Console() {
        window.Timer1->stop();
        QDir(dir.path()).mkpath(QStringLiteral("Music"));
        QDir(dir.path()).mkpath(QStringLiteral("Messages"));
        window.File1[0]->SetPath(dir.path() + QStringLiteral("/Music"));
        window.File1[1]->SetPath(dir.path() + QStringLiteral("/Messages"));
    }

    QString Music(const QString& name) const {
        return dir.path() + QStringLiteral("/Music/") + name;
    }
    QString Message(const QString& name) const {
        return dir.path() + QStringLiteral("/Messages/") + name;
    }
    QString AddMusic(const QString& name) const {
        const QString path = Music(name);
        MakeMedia(path);
        return path;
    }
    QString AddMessage(const QString& name) const {
        const QString path = Message(name);
        MakeMedia(path);
        return path;
    }

    // Setting a slider applies the levels at once; those commands are no part of what is tested.
    void SetLevels(int high, int low, int message = 100) {
        window.sVolume[0]->SetValue(high);
        window.sVolume[1]->SetValue(low);
        window.sVolume[2]->SetValue(message);
        fake->commands.clear();
    }
    void SetInterval(int seconds) { window.HScroll1->SetValue(seconds); }

    // The commands one tick sends.
    QStringList Tick() {
        const std::size_t before = fake->commands.size();
        window.Timer1_Timer();
        return Since(before);
    }
    QStringList Since(std::size_t first) const {
        QStringList sent;
        for (std::size_t i = first; i < fake->commands.size(); ++i) {
            sent << Normalized(fake->commands[i]);
        }
        return sent;
    }

    // The names of the files opened on `alias` so far, in order.
    QStringList Opened(const QString& alias) const {
        static const QRegularExpression open(
            QStringLiteral("^open (.*) type MPEGVideo Alias (\\S+) "));
        QStringList names;
        for (const std::string& command : fake->commands) {
            const QRegularExpressionMatch match = open.match(QString::fromStdString(command));
            if (match.hasMatch() && match.captured(2) == alias) {
                names << match.captured(1).section(u'/', -1);
            }
        }
        return names;
    }

    QTemporaryDir dir;
    FakeMciInstaller fake;
    Frm_Messages window;
};

// Shutdown writes the settings beside the test program; leave that file as it was found.
class IniFileKeeper {
public:
    IniFileKeeper() : path_(Mod_INI::IniFilePath()) {
        QFile file(path_);
        existed_ = file.open(QIODevice::ReadOnly);
        if (existed_) {
            content_ = file.readAll();
        }
    }
    ~IniFileKeeper() {
        if (!existed_) {
            QFile::remove(path_);
            return;
        }
        QFile file(path_);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            file.write(content_);
        }
    }
    IniFileKeeper(const IniFileKeeper&) = delete;
    IniFileKeeper& operator=(const IniFileKeeper&) = delete;

private:
    QString path_;
    bool existed_ = false;
    QByteArray content_;
};

// Passes commands on to the real media service and keeps a copy of each.
class RecordingService : public Platform::Mci::Service {
public:
    explicit RecordingService(std::unique_ptr<Platform::Mci::Service> inner)
        : inner_(std::move(inner)) {}
    Platform::Mci::MciError Execute(std::string_view command, std::string& reply) override {
        std::string trimmed(command);
        trimmed.erase(trimmed.find_last_not_of(' ') + 1);
        commands.push_back(trimmed);
        return inner_->Execute(command, reply);
    }
    std::vector<std::string> commands;

private:
    std::unique_ptr<Platform::Mci::Service> inner_;
};

}  // namespace

void SchedulerTest::messageTiming_data() {
    QTest::addColumn<int>("interval");
    QTest::newRow("1 second") << 1;
    QTest::newRow("5 seconds") << 5;
    QTest::newRow("60 seconds") << 60;
    QTest::newRow("600 seconds") << 600;
}

void SchedulerTest::messageTiming() {
    QFETCH(int, interval);
    Console c;
    c.AddMusic(QStringLiteral("tune.mp3"));
    c.AddMessage(QStringLiteral("notice.mp3"));
    c.SetLevels(100, 99);
    c.SetInterval(interval);

    // Counting starts at the first tick; after a message it starts again once the message ended.
    for (int round = 1; round <= 2; ++round) {
        for (int tick = 1; tick <= interval; ++tick) {
            c.Tick();
            QCOMPARE(c.window.MessageTicks(), tick);
        }
        QCOMPARE(c.Opened(QStringLiteral("ZEL1")).size(), round - 1);
        c.Tick();
        QCOMPARE(c.Opened(QStringLiteral("ZEL1")).size(), round);
        QCOMPARE(c.window.MessageTicks(), 0);

        for (int tick = 0; tick < 3; ++tick) {
            QCOMPARE(c.Tick(), (QStringList{kMusicMode, kMessageMode}));
            QCOMPARE(c.window.MessageTicks(), 0);
        }
        c.fake->Finish("ZEL1");
    }
}

void SchedulerTest::countAcrossIntervalChanges_data() {
    QTest::addColumn<int>("countedTicks");
    QTest::addColumn<int>("laterInterval");
    QTest::addColumn<int>("ticksUntilMessage");  // -1: none within 20 ticks

    QTest::newRow("left at 0") << 3 << 0 << -1;
    QTest::newRow("set below the count") << 3 << 2 << 1;
    QTest::newRow("set to the count") << 3 << 3 << 1;
    QTest::newRow("set one above the count") << 3 << 4 << 2;
    QTest::newRow("set back to where it was") << 3 << 5 << 3;
}

void SchedulerTest::countAcrossIntervalChanges() {
    QFETCH(int, countedTicks);
    QFETCH(int, laterInterval);
    QFETCH(int, ticksUntilMessage);
    Console c;
    c.AddMusic(QStringLiteral("tune.mp3"));
    c.AddMessage(QStringLiteral("notice.mp3"));
    c.SetLevels(100, 99);
    c.SetInterval(5);
    for (int tick = 0; tick < countedTicks; ++tick) {
        c.Tick();
    }
    QCOMPARE(c.window.MessageTicks(), countedTicks);

    // Interval 0: the count stands still, and nothing but the two channels is looked at.
    c.SetInterval(0);
    for (int tick = 0; tick < 20; ++tick) {
        QCOMPARE(c.Tick(), (QStringList{kMusicMode, kMessageMode, kMusicVolume}));
    }
    QCOMPARE(c.window.MessageTicks(), countedTicks);
    if (ticksUntilMessage < 0) {
        return;
    }

    c.SetInterval(laterInterval);
    for (int tick = 1; tick < ticksUntilMessage; ++tick) {
        c.Tick();
        QCOMPARE(c.Opened(QStringLiteral("ZEL1")).size(), 0);
    }
    c.Tick();
    QCOMPARE(c.Opened(QStringLiteral("ZEL1")), QStringList{QStringLiteral("notice.mp3")});
    QCOMPARE(c.window.MessageTicks(), 0);
}

void SchedulerTest::fadesAroundMessage_data() {
    QTest::addColumn<int>("high");
    QTest::addColumn<int>("low");
    QTest::addColumn<int>("message");

    QTest::newRow("default levels") << 100 << 10 << 100;
    QTest::newRow("levels of their own") << 80 << 30 << 70;
    QTest::newRow("low equal to high") << 50 << 50 << 100;
    QTest::newRow("low above high") << 40 << 60 << 90;
}

void SchedulerTest::fadesAroundMessage() {
    QFETCH(int, high);
    QFETCH(int, low);
    QFETCH(int, message);
    Console c;
    const QString tune = c.AddMusic(QStringLiteral("tune.mp3"));
    const QString notice = c.AddMessage(QStringLiteral("notice.wav"));
    c.SetLevels(high, low, message);
    c.SetInterval(1);

    QCOMPARE(c.Tick(), (QStringList{kMusicMode} + FileStart(QStringLiteral("ZEL0"), tune, high) +
                        QStringList{kMessageMode, kMusicVolume}));

    // The whole fade-down runs before the message is opened; a low level above the high one
    // takes no step and the music stays at the high level.
    const QStringList fadeDown = high >= low ? FadeSteps(high, low) : QStringList();
    QCOMPARE(c.Tick(), (QStringList{kMusicMode, kMessageMode, kMusicVolume} + fadeDown +
                        FileStart(QStringLiteral("ZEL1"), notice, message)));
    const int during = std::min(high, low);
    QCOMPARE(c.fake->Find("ZEL0")->volume, during * 10);
    if (!fadeDown.isEmpty()) {
        QCOMPARE(c.window.Pic_Volume->Level(), during);
    }

    QCOMPARE(c.Tick(), (QStringList{kMusicMode, kMessageMode}));
    QCOMPARE(c.fake->Find("ZEL0")->volume, during * 10);

    // The first tick after the message rises from the low level, whatever was read.
    c.fake->Finish("ZEL1");
    const QStringList fadeUp = high > low ? FadeSteps(low, high) : QStringList();
    QCOMPARE(c.Tick(), (QStringList{kMusicMode, kMessageMode, kMusicVolume} + fadeUp));
    QCOMPARE(c.fake->Find("ZEL0")->volume, high * 10);
    if (!fadeUp.isEmpty()) {
        QCOMPARE(c.window.Pic_Volume->Level(), high);
    }
}

void SchedulerTest::fadeUp_data() {
    QTest::addColumn<int>("musicVolume");  // -1: nothing open on the music channel
    QTest::addColumn<int>("high");
    QTest::addColumn<int>("low");
    QTest::addColumn<QList<int>>("steps");

    QTest::newRow("volume cannot be read") << -1 << 100 << 10 << Range(10, 100);
    QTest::newRow("below high, starts at low") << 50 << 100 << 10 << Range(10, 100);
    QTest::newRow("below low, starts at low") << 5 << 60 << 20 << Range(20, 60);
    QTest::newRow("at high") << 100 << 100 << 10 << QList<int>();
    QTest::newRow("above high") << 100 << 80 << 10 << QList<int>();
    QTest::newRow("low above high") << 20 << 40 << 60 << QList<int>();
}

void SchedulerTest::fadeUp() {
    QFETCH(int, musicVolume);
    QFETCH(int, high);
    QFETCH(int, low);
    QFETCH(QList<int>, steps);
    Console c;
    c.SetLevels(high, low);
    if (musicVolume >= 0) {
        c.AddMusic(QStringLiteral("tune.mp3"));
        c.fake->devices["ZEL0"] = {c.Music(QStringLiteral("tune.mp3")).toStdString(), "playing",
                                   musicVolume * 10};
    }

    const QStringList sent = c.Tick();
    QStringList expected{kMusicMode, kMessageMode, kMusicVolume};
    if (!steps.isEmpty()) {
        expected += FadeSteps(steps.first(), steps.last());
    }
    QCOMPARE(sent, expected);
    QCOMPARE(MusicVolumesSent(*c.fake), steps);
}

void SchedulerTest::emptyMusicFolder() {
    Console c;
    c.AddMessage(QStringLiteral("notice.mp3"));
    c.SetLevels(100, 95);
    const QStringList idle =
        QStringList{kMusicMode, kMessageMode, kMusicVolume} + FadeSteps(95, 100);

    QCOMPARE(c.Tick(), idle);
    QCOMPARE(c.window.Lbl_Status[0]->text(), QStringLiteral("ERROR"));
    QCOMPARE(c.window.File1[0]->ListCount(), 0);

    // Each tick re-reads the messages folder too, though no message is due.
    c.AddMessage(QStringLiteral("other.mp3"));
    QCOMPARE(c.Tick(), idle);
    QCOMPARE(c.window.File1[1]->ListCount(), 2);
    QCOMPARE(c.window.Lbl_Status[0]->text(), QStringLiteral("ERROR"));

    const QString tune = c.AddMusic(QStringLiteral("tune.mp3"));
    QCOMPARE(c.Tick(), (QStringList{kMusicMode} + FileStart(QStringLiteral("ZEL0"), tune, 100) +
                        QStringList{kMessageMode, kMusicVolume}));
    QCOMPARE(c.window.Lbl_Status[0]->text(), QStringLiteral("ERROR"));
    QCOMPARE(c.Tick(), (QStringList{kMusicMode, kMessageMode, kMusicVolume}));
    QCOMPARE(c.window.Lbl_Status[0]->text(), QStringLiteral("playing"));
}

void SchedulerTest::emptyMessagesFolder() {
    Console c;
    c.AddMusic(QStringLiteral("tune.mp3"));
    c.SetLevels(100, 95);
    c.SetInterval(2);

    QList<int> counts;
    for (int tick = 1; tick <= 6; ++tick) {
        const QStringList sent = c.Tick();
        counts << c.window.MessageTicks();
        if (tick > 1) {
            QCOMPARE(sent, (QStringList{kMusicMode, kMessageMode, kMusicVolume}));
        }
    }
    QCOMPARE(counts, (QList<int>{1, 2, 0, 1, 2, 0}));
    QCOMPARE(MusicVolumesSent(*c.fake), QList<int>{100});

    // A message put in the folder is played at the next attempt, not before.
    const QString notice = c.AddMessage(QStringLiteral("notice.mp3"));
    c.Tick();
    c.Tick();
    QVERIFY(c.Opened(QStringLiteral("ZEL1")).isEmpty());
    QCOMPARE(c.Tick(), (QStringList{kMusicMode, kMessageMode, kMusicVolume} + FadeSteps(100, 95) +
                        FileStart(QStringLiteral("ZEL1"), notice, 100)));
}

void SchedulerTest::musicEndsDuringMessage() {
    Console c;
    c.AddMusic(QStringLiteral("a.mp3"));
    const QString second = c.AddMusic(QStringLiteral("b.mp3"));
    c.AddMessage(QStringLiteral("notice.mp3"));
    c.SetLevels(100, 95, 80);
    c.SetInterval(1);
    c.Tick();
    c.Tick();
    QCOMPARE(c.Opened(QStringLiteral("ZEL1")), QStringList{QStringLiteral("notice.mp3")});

    // The next music file starts at the high level while the message goes on.
    c.fake->Finish("ZEL0");
    QCOMPARE(c.Tick(), (QStringList{kMusicMode} + FileStart(QStringLiteral("ZEL0"), second, 100) +
                        QStringList{kMessageMode}));
    QCOMPARE(c.Tick(), (QStringList{kMusicMode, kMessageMode}));

    // Already at the high level, so no fade-up follows the message.
    c.fake->Finish("ZEL1");
    QCOMPARE(c.Tick(), (QStringList{kMusicMode, kMessageMode, kMusicVolume}));
    QCOMPARE(c.fake->Find("ZEL0")->volume, 1000);
}

void SchedulerTest::playOrder_data() {
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("played");

    QTest::newRow("names in order, case ignored")
        << QStringList{"b.mp3", "A.mp3", "C.wav", "d.MID"}
        << QStringList{"A.mp3", "b.mp3", "C.wav", "d.MID", "A.mp3", "b.mp3"};
    QTest::newRow("one file again and again")
        << QStringList{"only.mp3"} << QStringList{"only.mp3", "only.mp3", "only.mp3"};
    QTest::newRow("other files left out")
        << QStringList{"a.mp3", "notes.txt", "b.wav", "c.mp3.part"}
        << QStringList{"a.mp3", "b.wav", "a.mp3"};
}

void SchedulerTest::playOrder() {
    QFETCH(QStringList, files);
    QFETCH(QStringList, played);
    Console c;
    for (const QString& name : files) {
        c.AddMusic(name);
    }
    for (const QString& name : played) {
        QCOMPARE(c.Tick(),
                 (QStringList{kMusicMode} + FileStart(QStringLiteral("ZEL0"), c.Music(name), 100) +
                  QStringList{kMessageMode, kMusicVolume}));
        QCOMPARE(c.window.File1[0]->FileName(), name);
        c.fake->Finish("ZEL0");
    }
}

void SchedulerTest::nextFileAfterFolderChange_data() {
    QTest::addColumn<int>("started");
    QTest::addColumn<QString>("removed");
    QTest::addColumn<QString>("renamedTo");  // new name of the file last started
    QTest::addColumn<QString>("added");
    QTest::addColumn<QString>("next");

    QTest::newRow("unchanged") << 2 << ""
                               << ""
                               << ""
                               << "c.mp3";
    QTest::newRow("last started deleted") << 2 << "b.mp3"
                                          << ""
                                          << ""
                                          << "a.mp3";
    QTest::newRow("last started renamed in case") << 2 << ""
                                                  << "B.mp3"
                                                  << ""
                                                  << "a.mp3";
    QTest::newRow("earlier file deleted") << 2 << "a.mp3"
                                          << ""
                                          << ""
                                          << "c.mp3";
    QTest::newRow("file added before it") << 2 << ""
                                          << ""
                                          << "0.mp3"
                                          << "c.mp3";
    QTest::newRow("file added after it") << 2 << ""
                                         << ""
                                         << "ba.mp3"
                                         << "ba.mp3";
    QTest::newRow("last entry wraps") << 3 << ""
                                      << ""
                                      << ""
                                      << "a.mp3";
    QTest::newRow("last entry deleted") << 3 << "c.mp3"
                                        << ""
                                        << ""
                                        << "a.mp3";
}

void SchedulerTest::nextFileAfterFolderChange() {
    QFETCH(int, started);
    QFETCH(QString, removed);
    QFETCH(QString, renamedTo);
    QFETCH(QString, added);
    QFETCH(QString, next);
    Console c;
    for (const char* name : {"a.mp3", "b.mp3", "c.mp3"}) {
        c.AddMusic(QString::fromLatin1(name));
    }
    for (int i = 0; i < started; ++i) {
        c.Tick();
        c.fake->Finish("ZEL0");
    }
    if (!removed.isEmpty()) {
        QVERIFY(QFile::remove(c.Music(removed)));
    }
    if (!renamedTo.isEmpty()) {
        QVERIFY(QFile::rename(c.Music(c.window.File1[0]->FileName()), c.Music(renamedTo)));
    }
    if (!added.isEmpty()) {
        QVERIFY(MakeMedia(c.Music(added)));
    }

    QCOMPARE(c.Tick(),
             (QStringList{kMusicMode} + FileStart(QStringLiteral("ZEL0"), c.Music(next), 100) +
              QStringList{kMessageMode, kMusicVolume}));
    QCOMPARE(c.window.File1[0]->FileName(), next);
}

void SchedulerTest::unplayableFile_data() {
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("unplayable");
    QTest::addColumn<QStringList>("opened");
    QTest::addColumn<QStringList>("statusShown");

    QTest::newRow("one file will not open")
        << QStringList{"a.mp3", "b.mp3", "c.mp3"} << QStringList{"b.mp3"}
        << QStringList{"a.mp3", "b.mp3", "c.mp3", "a.mp3"}
        << QStringList{"ERROR", "stopped", "ERROR", "stopped"};
    QTest::newRow("no file will open")
        << QStringList{"a.mp3", "b.mp3"} << QStringList{"a.mp3", "b.mp3"}
        << QStringList{"a.mp3", "b.mp3", "a.mp3", "b.mp3"}
        << QStringList{"ERROR", "ERROR", "ERROR", "ERROR"};
    QTest::newRow("only file will not open")
        << QStringList{"a.mp3"} << QStringList{"a.mp3"} << QStringList{"a.mp3", "a.mp3", "a.mp3"}
        << QStringList{"ERROR", "ERROR", "ERROR"};
}

// A file that will not open leaves the music channel without a device: the next tick reads
// "ERROR", shows it and moves on to the following file.
void SchedulerTest::unplayableFile() {
    QFETCH(QStringList, files);
    QFETCH(QStringList, unplayable);
    QFETCH(QStringList, opened);
    QFETCH(QStringList, statusShown);
    Console c;
    c.SetLevels(100, 95);
    for (const QString& name : files) {
        c.AddMusic(name);
    }
    for (const QString& name : unplayable) {
        c.fake->unplayable.insert(name.toStdString());
    }
    QStringList shown;
    for (int tick = 0; tick < opened.size(); ++tick) {
        c.Tick();
        shown << c.window.Lbl_Status[0]->text();
        QCOMPARE(c.fake->IsOpen("ZEL0"), !unplayable.contains(opened[tick]));
        c.fake->Finish("ZEL0");
    }
    QCOMPARE(c.Opened(QStringLiteral("ZEL0")), opened);
    QCOMPARE(shown, statusShown);
}

void SchedulerTest::noNestedTick_data() {
    QTest::addColumn<QString>("during");
    QTest::addColumn<QString>("how");

    for (const char* during : {"fade-down", "message start", "fade-up"}) {
        for (const char* how : {"called", "posted", "timer due"}) {
            QTest::addRow("%s, %s", during, how) << during << how;
        }
    }
}

// A tick that falls due while another one processes events is dropped: the running tick's
// commands come out exactly as without it, and nothing of it runs afterwards.
void SchedulerTest::noNestedTick() {
    QFETCH(QString, during);
    QFETCH(QString, how);
    Console c;
    c.AddMusic(QStringLiteral("tune.mp3"));
    const QString notice = c.AddMessage(QStringLiteral("notice.mp3"));
    c.SetLevels(100, 95);
    c.SetInterval(1);
    c.Tick();
    QStringList expected{kMusicMode, kMessageMode, kMusicVolume};
    if (during == u"fade-up") {
        c.Tick();
        c.fake->Finish("ZEL1");
        expected += FadeSteps(95, 100);
    } else {
        expected += FadeSteps(100, 95) + FileStart(QStringLiteral("ZEL1"), notice, 100);
    }
    const QString trigger =
        during == u"message start" ? QStringLiteral("open ") : QStringLiteral("setaudio ZEL0");

    int nestedCalls = 0;
    QObject::connect(c.window.Timer1, &QTimer::timeout, &c.window, [&] { ++nestedCalls; });
    bool fired = false;
    c.fake->onCommand = [&](const std::string& command) {
        if (fired || !QString::fromStdString(command).startsWith(trigger)) {
            return;
        }
        fired = true;
        if (how == u"called") {
            ++nestedCalls;
            c.window.Timer1_Timer();
        } else if (how == u"posted") {
            QTimer::singleShot(0, &c.window, [&] {
                ++nestedCalls;
                c.window.Timer1_Timer();
            });
        } else {
            c.window.Timer1->start(0);
        }
    };
    const QStringList sent = c.Tick();
    c.window.Timer1->stop();
    c.fake->onCommand = nullptr;

    QVERIFY(fired);
    QVERIFY(nestedCalls > 0);
    QCOMPARE(sent, expected);
    QCOMPARE(c.window.MessageTicks(), during == u"fade-up" ? 1 : 0);
    const std::size_t after = c.fake->commands.size();
    QCoreApplication::processEvents();
    QCOMPARE(c.Since(after), QStringList());
    // The guard went with the tick that held it.
    QCOMPARE(c.Tick().value(0), kMusicMode);
}

void SchedulerTest::noChannelTouchedAfterShutdown_data() {
    QTest::addColumn<int>("tick");  // the tick, counted from 1, that the shutdown interrupts
    QTest::addColumn<QString>("trigger");
    QTest::addColumn<QString>("how");

    const struct {
        const char* during;
        int tick;
        const char* trigger;
    } points[] = {
        {"music start", 1, "open "},
        {"fade-down", 2, "setaudio ZEL0 Volume to 980"},
        {"message start", 2, "open "},
        {"fade-up", 3, "setaudio ZEL0 Volume to 970"},
    };
    for (const auto& point : points) {
        for (const char* how : {"called", "posted"}) {
            QTest::addRow("%s, %s", point.during, how)
                << point.tick << QString::fromLatin1(point.trigger) << how;
        }
    }
}

// A request to end the program that arrives while a tick processes events closes the channels;
// the interrupted tick then leaves them alone.
void SchedulerTest::noChannelTouchedAfterShutdown() {
    QFETCH(int, tick);
    QFETCH(QString, trigger);
    QFETCH(QString, how);
    IniFileKeeper keeper;
    Console c;
    const QString tune = c.AddMusic(QStringLiteral("tune.mp3"));
    const QString notice = c.AddMessage(QStringLiteral("notice.mp3"));
    c.SetLevels(100, 95);
    c.SetInterval(1);

    QStringList expected;
    if (tick == 1) {
        expected = QStringList{kMusicMode} + FileStart(QStringLiteral("ZEL0"), tune, 100) +
                   QStringList{kMessageMode, kMusicVolume};
    } else if (tick == 2) {
        c.Tick();
        expected = QStringList{kMusicMode, kMessageMode, kMusicVolume} + FadeSteps(100, 95) +
                   FileStart(QStringLiteral("ZEL1"), notice, 100);
    } else {
        c.Tick();
        c.Tick();
        c.fake->Finish("ZEL1");
        expected = QStringList{kMusicMode, kMessageMode, kMusicVolume} + FadeSteps(95, 100);
    }
    const auto at = std::find_if(expected.begin(), expected.end(), [&](const QString& command) {
        return command.startsWith(trigger);
    });
    QVERIFY(at != expected.end());
    expected.erase(at + 1, expected.end());
    expected += kShutdownCloses;

    bool fired = false;
    c.fake->onCommand = [&](const std::string& command) {
        if (fired || !QString::fromStdString(command).startsWith(trigger)) {
            return;
        }
        fired = true;
        if (how == u"called") {
            c.window.RequestShutdown(1);
        } else {
            QTimer::singleShot(0, &c.window, [&] { c.window.RequestShutdown(1); });
        }
    };
    const QStringList sent = c.Tick();
    c.fake->onCommand = nullptr;

    QVERIFY(fired);
    QVERIFY(c.window.ShutdownDone());
    QVERIFY(!c.window.Timer1->isActive());
    QCOMPARE(sent, expected);
    const std::size_t after = c.fake->commands.size();
    c.window.Timer1_Timer();
    QCoreApplication::processEvents();
    QCOMPARE(c.Since(after), QStringList());
}

// Real files through the GStreamer service: music starts, a message plays at an interval of one
// second, and the music level read back is low during the message and high again after it.
void SchedulerTest::realInterpreter() {
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("Music")));
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("Messages")));
    // The music outlasts the whole case, so the level seen at the end is the fade's, not that of
    // a new music file.
    QVERIFY(MediaFixtures::MakeWav(dir.path() + QStringLiteral("/Music/tune.wav"), 8000));
    QVERIFY(MediaFixtures::MakeWav(dir.path() + QStringLiteral("/Messages/notice.wav"), 500, 880));

    auto recorder = std::make_unique<RecordingService>(
        std::make_unique<Platform::Mci::GstDevices>(Platform::Mci::GstDevices::FakeSink()));
    RecordingService* recording = recorder.get();
    auto previous = Platform::Mci::SetService(std::move(recorder));
    const auto restore = qScopeGuard([&] { Platform::Mci::SetService(std::move(previous)); });

    const QString music = QStringLiteral("ZEL0");
    const QString messages = QStringLiteral("ZEL1");
    const QString both = QStringLiteral("both");
    {
        Frm_Messages window;
        window.Timer1->stop();
        window.File1[0]->SetPath(dir.path() + QStringLiteral("/Music"));
        window.File1[1]->SetPath(dir.path() + QStringLiteral("/Messages"));
        window.HScroll1->SetValue(1);

        window.Timer1_Timer();
        QCOMPARE(Mod_MCI::MciGetMode(music), QStringLiteral("playing"));
        QCOMPARE(Mod_MCI::MciGetVolume(music, both), 100);
        QCOMPARE(Mod_MCI::MciGetMode(messages), QStringLiteral("ERROR"));

        // The second counted tick with an interval of 1 starts the message.
        window.Timer1_Timer();
        QCOMPARE(Mod_MCI::MciGetMode(messages), QStringLiteral("playing"));
        QCOMPARE(Mod_MCI::MciGetVolume(music, both), 10);
        QCOMPARE(window.Lbl_Status[0]->text(), QStringLiteral("playing"));

        // The message ends by itself; the next tick brings the music back up.
        QTRY_VERIFY_WITH_TIMEOUT(Mod_MCI::MciGetMode(messages) != u"playing", 10000);
        QCOMPARE(Mod_MCI::MciGetVolume(music, both), 10);
        window.Timer1_Timer();
        QCOMPARE(Mod_MCI::MciGetVolume(music, both), 100);
        QCOMPARE(Mod_MCI::MciGetMode(music), QStringLiteral("playing"));
        QCOMPARE(window.Lbl_Status[1]->text(), QStringLiteral("stopped"));
    }

    const auto opens = [&](const char* alias) {
        return static_cast<int>(std::count_if(
            recording->commands.begin(), recording->commands.end(),
            [&](const std::string& command) {
                return command.rfind("open ", 0) == 0 &&
                       command.find(std::string(" Alias ") + alias + " ") != std::string::npos;
            }));
    };
    QCOMPARE(opens("ZEL0"), 1);
    QCOMPARE(opens("ZEL1"), 1);
}
