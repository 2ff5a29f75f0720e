// Starts the real program, copied into a fresh program folder with real media files, and checks
// from outside what only the executable shows: folders made, music and messages playing, the
// settings written when the program is told to end, and nothing written when the window is only
// closed. How stored values are brought into range is the console test's.

#include <ebur128.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <list>
#include <optional>

#include "Icecast.h"
#include "MediaFixtures.h"
#include "WindowClose.h"

using MediaFixtures::ReadFile;

namespace {

const QByteArray kSettingsHeader = "[Settings]\r\n";
constexpr uid_t kNobody = 65534;

// The test's own environment with `changes`; an empty value removes the variable.
QProcessEnvironment Environment(const QList<std::pair<QString, QString>>& changes) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const auto& [name, value] : changes) {
        value.isEmpty() ? environment.remove(name) : environment.insert(name, value);
    }
    return environment;
}

// Runs `program` to its end: its exit code, -1 when it crashed or did not end within `ms`, and
// what it printed on either channel.
std::pair<int, QString> Run(QProcess& process, const QString& program,
                            const QStringList& arguments = {}, int ms = 10000) {
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    const bool ended = process.waitForFinished(ms) && process.exitStatus() == QProcess::NormalExit;
    return {ended ? process.exitCode() : -1, QString::fromLocal8Bit(process.readAll())};
}

// Runs `process` as another user than root, whom no permission of a file or folder stops;
// `folder`, holding the program, is opened to that user.
void AsOtherUser(QProcess& process, const QString& folder) {
    QVERIFY(QFile::setPermissions(
        folder, QFile(folder).permissions() | QFileDevice::ReadOther | QFileDevice::ExeOther));
    process.setChildProcessModifier([] {
        if (::geteuid() == 0 && (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) {
            ::_exit(3);
        }
    });
}

// A server of the test's own, asked to end with the test.
struct Server : QProcess {
    // False when `name` is not installed or does not become `ready`.
    bool Launch(const QString& name, const QStringList& arguments, auto ready) {
        const QString program = QStandardPaths::findExecutable(name);
        return !program.isEmpty() && (start(program, arguments), QTest::qWaitFor(ready, 10000));
    }
    ~Server() override {
        terminate();
        waitForFinished(3000);
    }
};

// PipeWire with its session manager and its PulseAudio-protocol server, as on Debian 12's desktop,
// in the runtime folder `runtime`, with a null sink "e2e"; its address, or "" if it does not come
// up. The processes end with `processes`.
QString StartPipeWire(std::list<Server>& processes, const QString& runtime) {
    Server& bus = processes.emplace_back();  // wireplumber wants a session bus
    if (!bus.Launch("dbus-daemon", {"--session", "--nofork", "--print-address=1"},
                    [&] { return bus.canReadLine(); })) {
        return {};
    }
    const QProcessEnvironment environment =
        Environment({{"XDG_RUNTIME_DIR", runtime},
                     {"DBUS_SESSION_BUS_ADDRESS", QString(bus.readLine().trimmed())},
                     {"PULSE_RUNTIME_PATH", ""}});
    // The session manager and the PulseAudio server give up when PipeWire's socket is not there
    // yet, which on a loaded machine it may not be for a while.
    const QString core = runtime + "/pipewire-0";
    for (const char* name : {"pipewire", "wireplumber", "pipewire-pulse"}) {
        Server& server = processes.emplace_back();
        server.setProcessEnvironment(environment);
        if (!server.Launch(name, {}, [&] {
                return server.state() == QProcess::Running && QFileInfo::exists(core);
            })) {
            qWarning("%s did not start", name);
            return {};
        }
    }
    const QString socket = runtime + "/pulse/native";
    QProcess pactl;
    pactl.setProcessEnvironment(Environment({{"PULSE_SERVER", "unix:" + socket}}));
    std::pair<int, QString> step;
    const auto succeeds = [&](const QStringList& arguments) {
        return QTest::qWaitFor([&] { return (step = Run(pactl, "pactl", arguments)).first == 0; },
                               20000);
    };
    // The default sink is kept by the session manager, which the PulseAudio server may answer
    // before: until then, setting it is "Not supported".
    const bool ready =
        succeeds({"info"}) &&
        (step = Run(pactl, "pactl", {"load-module", "module-null-sink", "sink_name=e2e"})).first ==
            0 &&
        succeeds({"set-default-sink", "e2e"});
    if (!ready) {
        qWarning("pactl: %s", qPrintable(step.second));
    }
    return ready ? "unix:" + socket : QString();
}

// Recorded stereo float samples, as floats.
std::vector<float> Floats(const QByteArray& samples) {
    std::vector<float> values(static_cast<std::size_t>(samples.size()) / sizeof(float));
    std::memcpy(values.data(), samples.constData(), values.size() * sizeof(float));
    return values;
}

}  // namespace

// clang-format off
struct SaveRow { QByteArray stored, saved; QStringList playing; rlim_t fileSizeLimit = RLIM_INFINITY; bool closed = false; };  // stored "-": no settings file, no media; closed: as by a window manager
struct LineRow { QStringList arguments; int exit; QString output; };  // output: a pattern the printed text matches
struct ClockRow { const char* start; int recordMs, quietBeforeMs, soundBeforeMs, quietAfterMs; };  // quietAfterMs -1: sound to the end
struct DaypartRow { QByteArray sections; int hzAfter; double levelAfter; };  // after 11:00, the tone of that folder at that share of the level before
// clang-format on

class EndToEndTest : public QObject {
    Q_OBJECT

private:
    std::optional<QTemporaryDir> folder_;  // a fresh one for every case
    QTemporaryDir soundRuntime_;
    Server soundServer_;
    QString sound_;                 // the case's sound server's address, once it takes connections
    QString pulseaudio_;            // the test's own server's
    std::list<Server> caseServer_;  // a case's own PipeWire, with its bus
    std::optional<QTemporaryDir> caseRuntime_;  // and its runtime folder
    QProcess program_;
    QList<std::pair<QString, QString>> environment_;  // the case's own additions
    QElapsedTimer sinceStart_;

    QString Path(const QString& name) const { return folder_->filePath(name); }
    QString SettingsFile() const { return Path("corvane.ini"); }

    // Whether the program holds open, within `ms`, a media file whose path holds `part`: GStreamer
    // keeps each open device's file open, so this shows what plays (or has just played).
    bool Plays(const QString& part = "/", int ms = 15000) const {
        const auto open = [&] {
            QStringList files;
            const QDir fds(QString("/proc/%1/fd").arg(program_.processId()));
            for (const QFileInfo& fd : fds.entryInfoList(QDir::System | QDir::Files)) {
                files << fd.symLinkTarget();
            }
            return !files.filter(QRegularExpression("/(Music|Messages)/")).filter(part).isEmpty();
        };
        return QTest::qWaitFor(open, ms);
    }

    void InstallProgram() {
        const QString built = qEnvironmentVariable("CORVANE_PROGRAM_DIR");
        QVERIFY2(!built.isEmpty(), "CORVANE_PROGRAM_DIR names the built program's folder");
        QVERIFY(QFile::copy(built + "/corvane", Path("corvane")));
    }

    // The settings, the two folders and, with `tunes`, two tunes and a message in them.
    void AddMedia(const QByteArray& settings, bool tunes = true) {
        QVERIFY(QDir(folder_->path()).mkpath("Music") && QDir(folder_->path()).mkpath("Messages"));
        QVERIFY(MediaFixtures::MakeFile(SettingsFile(), kSettingsHeader + settings));
        if (tunes) {
            QVERIFY(MediaFixtures::MakeWav(Path("Music/Tune A.wav"), 4000, 330));
            QVERIFY(MediaFixtures::MakeMp3(Path("Music/tune b.mp3"), 4000, 440));
            QVERIFY(MediaFixtures::MakeWav(Path("Messages/Notice.wav"), 600, 880));
        }
    }

    // `fileSizeLimit`: the largest file the program may write, in bytes.
    void Start(const QString& display = {}, rlim_t fileSizeLimit = RLIM_INFINITY) {
        QVERIFY2(!sound_.isEmpty(), "pulseaudio could not be started");
        program_.setChildProcessModifier([fileSizeLimit] {
            const rlimit limit{fileSizeLimit, fileSizeLimit};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        });
        program_.setProcessEnvironment(
            Environment(QList<std::pair<QString, QString>>{
                            {"PULSE_SERVER", sound_},
                            {"QT_QPA_PLATFORM", display.isEmpty() ? "offscreen" : "xcb"},
                            {"DISPLAY", display}} +
                        environment_));
        program_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // Started from elsewhere: the program must find its folder by itself.
        program_.setWorkingDirectory(QDir::tempPath());
        program_.start(Path("corvane"), {});
        QVERIFY(program_.waitForStarted(5000));
    }

    // What the sink "e2e" plays while the program runs for `ms` from its start, `during` done
    // meanwhile; sinceStart_ tells how far into the recording it is.
    QByteArray RecordProgram(int ms, const std::function<void()>& during = {}) {
        // An idle sink's monitor sends nothing, and the recording would start at the program's
        // first sound: zeros keep it running, so that the recording's start is the program's.
        Server zeros;
        zeros.setProcessEnvironment(Environment({{"PULSE_SERVER", sound_}}));
        zeros.setStandardInputFile("/dev/zero");
        if (!zeros.Launch("pacat",
                          {"-d", "e2e", "--raw", "--format=s16le", "--rate=44100", "--channels=2",
                           "--latency-msec=20"},
                          [&] { return zeros.waitForStarted(5000); })) {
            return {};
        }
        Server recorder;
        recorder.setProcessEnvironment(Environment({{"PULSE_SERVER", sound_}}));
        if (!recorder.Launch("parec",
                             {"-d", "e2e.monitor", "--raw", "--format=float32le", "--rate=44100",
                              "--channels=2", "--latency-msec=10"},
                             [&] { return recorder.waitForStarted(5000); })) {
            return {};
        }
        // From its first samples, so that the recording's start is the program's.
        recorder.waitForReadyRead(5000);
        Start();
        sinceStart_.start();
        if (during) {
            during();
        }
        QTest::qWait(static_cast<int>(std::max<qint64>(0, ms - sinceStart_.elapsed())));
        Terminate();
        recorder.terminate();
        recorder.waitForFinished(5000);
        return recorder.readAllStandardOutput();
    }

    void Terminate() {
        // A program already gone has no pid, and kill(0) would end this test's whole group.
        QVERIFY2(program_.state() == QProcess::Running,
                 qPrintable(program_.readAllStandardError()));
        ::kill(static_cast<pid_t>(program_.processId()), SIGTERM);
        QVERIFY2(program_.waitForFinished(10000), "the program ends on SIGTERM");
        QCOMPARE(program_.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program_.exitCode(), 0);
    }

    // The Debian package unpacked into a temporary root, as `make package` builds it; "" when it
    // cannot be built. Made once for the cases that need it.
    static QString UnpackedPackage() {
        static QTemporaryDir root;
        static const bool unpacked = [] {
            const QString build = QFileInfo(qEnvironmentVariable("CORVANE_PROGRAM_DIR")).path();
            QProcess cpack;
            cpack.setWorkingDirectory(build);
            const QStringList debs = Run(cpack, "cpack", {"-G", "DEB"}, 180000).first == 0
                                         ? QDir(build).entryList({"corvane_*.deb"}, QDir::Files)
                                         : QStringList();
            return !debs.isEmpty() &&
                   QProcess::execute("dpkg-deb", {"-x", build + '/' + debs[0], root.path()}) == 0;
        }();
        return unpacked ? root.path() : QString();
    }

    // The program's wall clock starts at `start` ("2026-12-07 10:59:52"); its timers' monotonic
    // clock stays true. False when the case is skipped.
    bool FakeClock(const QString& start) {
        if (CORVANE_SANITIZED) {
            QTest::qSkip(
                "the sanitizers' runtime must load first, so libfaketime cannot be "
                "preloaded",
                __FILE__, __LINE__);
            return false;
        }
        // The library itself rather than its launcher, which would stand between the test and
        // the program's signals.
        QString library;
        for (const QFileInfo& dir : QDir("/usr/lib").entryInfoList(QDir::Dirs))
            if (QFileInfo::exists(dir.filePath() + "/faketime/libfaketime.so.1"))
                library = dir.filePath() + "/faketime/libfaketime.so.1";
        if (library.isEmpty()) {
            QTest::qSkip("faketime is not installed (scripts/install-deps.sh)", __FILE__, __LINE__);
            return false;
        }
        environment_ = {{"LD_PRELOAD", library},
                        {"FAKETIME", '@' + start},
                        {"FAKETIME_DONT_FAKE_MONOTONIC", "1"}};
        return true;
    }

    static void ServerRows() {
        QTest::addColumn<QString>("server");
        QTest::newRow("PulseAudio") << "pulseaudio";
        QTest::newRow("PipeWire") << "pipewire";
    }
    // The case's sound server, as sound_ until cleanup(): the test's PulseAudio, or a PipeWire of
    // the case's own. False when the case is skipped or failed, and must end: a skip here only
    // leaves this function.
    bool UseServer() {
        QFETCH(QString, server);
        if (server != "pipewire") {
            return true;
        }
        if (QStandardPaths::findExecutable("pipewire-pulse").isEmpty()) {
            QTest::qSkip("PipeWire is not installed (scripts/install-deps.sh)", __FILE__, __LINE__);
            return false;
        }
        sound_ = StartPipeWire(caseServer_, caseRuntime_.emplace().path());
        return QTest::qVerify(!sound_.isEmpty(), "!sound_.isEmpty()",
                              "PipeWire could not be started", __FILE__, __LINE__);
    }

private slots:
    // A sound server with a sink that plays into nothing, so the program has a real sound output
    // whether or not the machine has one.
    void initTestCase() {
        const QString socket = soundRuntime_.filePath("native");
        soundServer_.setProcessEnvironment(
            Environment({{"PULSE_RUNTIME_PATH", soundRuntime_.path()}}));
        if (soundServer_.Launch(
                "pulseaudio",
                {"-n", "--daemonize=no", "--exit-idle-time=-1",
                 "--load=module-null-sink sink_name=e2e", "--load=module-native-protocol-unix"},
                [&] { return QFileInfo::exists(socket); })) {
            sound_ = pulseaudio_ = "unix:" + socket;
        }
    }

    void init() {
        QVERIFY(folder_.emplace().isValid());
        qputenv("XDG_CACHE_HOME", QFile::encodeName(Path("cache")));
        InstallProgram();
    }

    void cleanup() {
        program_.kill();
        program_.waitForFinished(5000);
        caseServer_.clear();
        caseRuntime_.reset();
        environment_.clear();
        sound_ = pulseaudio_;
    }

    void savesOnTerminate_data() {
        QTest::addColumn<SaveRow>("r");
        const QByteArray stored = "MessageInterval=45\r\nMusicVolumeHigh=70\r\n";
        const QByteArray defaults = "MusicVolumeLow=10\r\nMessageVolume=100\r\n";
        // clang-format off
        QTest::newRow("plays music and messages") << SaveRow{"MessageInterval=2\r\nMusicVolumeLow=20\r\n", "MessageInterval=2\r\nMusicVolumeLow=20\r\nMusicVolumeHigh=100\r\nMessageVolume=100\r\n", {"/Music/", "/Messages/Notice.wav"}};
        // The close box only puts the window away: the music goes on.
        QTest::newRow("window closed") << SaveRow{stored, stored + defaults, {"/Music/"}, RLIM_INFINITY, true};
        // A write past the limit fails instead of ending the program, and the old file stays; the
        // lock that cannot be written either keeps nothing from playing.
        QTest::newRow("file size limit") << SaveRow{stored, stored, {"/Music/"}, 16};
        // Ended during start-up: the request waits until the stored values are loaded, and those
        // are saved, not the controls' initial ones.
        QTest::newRow("first start, ended at once") << SaveRow{"-", "MessageInterval=30\r\nMusicVolumeHigh=100\r\n" + defaults, {}};
        QTest::newRow("ended at once") << SaveRow{stored, stored + defaults, {}};
        // clang-format on
    }
    // SIGTERM as soon as the program has its own handler for it, without which the signal would
    // kill it, or once the `playing` media files have been opened in turn.
    void savesOnTerminate() {
        QFETCH(SaveRow, r);
        Server xvfb;  // picks a free display, and prints its number once it takes connections
        if (r.closed &&
            !xvfb.Launch("Xvfb",
                         {"-displayfd", "1", "-screen", "0", "800x600x24", "-nolisten", "tcp"},
                         [&] { return xvfb.canReadLine(); })) {
            QSKIP("Xvfb is not installed");
        }
        const QString display = r.closed ? ':' + QString(xvfb.readLine().trimmed()) : QString();
        if (r.stored != "-") {
            AddMedia(r.stored);
        }
        Start(display, r.fileSizeLimit);
        const auto caught = [&] {  // in the mask of the signals it has its own handlers for
            const QByteArray status =
                ReadFile(QString("/proc/%1/status").arg(program_.processId()));
            const QString mask = QRegularExpression("SigCgt:\\s*(\\w+)").match(status).captured(1);
            return (mask.toULongLong(nullptr, 16) >> (SIGTERM - 1)) & 1;
        };
        QVERIFY(QTest::qWaitFor(caught, 10000));
        for (const QString& part : r.playing) {
            QVERIFY2(Plays(part), qPrintable(part));
        }
        if (r.closed) {
            QVERIFY2(
                QTest::qWaitFor([&] { return SendCloseRequest(qPrintable(display), "ZEL"); }, 5000),
                "the console window is found");
            QTest::qWait(2000);
            QVERIFY(program_.state() == QProcess::Running && Plays("/Music/", 0));
        }
        if (!r.playing.isEmpty()) {
            QCOMPARE(ReadFile(SettingsFile()), kSettingsHeader + r.stored);  // nothing written yet
            // An upgrade replaces the executable while it runs; the settings still go beside it.
            QVERIFY(QFile::remove(Path("corvane")));
            InstallProgram();
        }
        Terminate();
        QVERIFY(QFileInfo(Path("Music")).isDir() && QFileInfo(Path("Messages")).isDir());
        QCOMPARE(ReadFile(SettingsFile()), kSettingsHeader + r.saved);
    }

    void commandLine_data() {
        QTest::addColumn<LineRow>("r");
        // clang-format off
        QTest::newRow("version") << LineRow{{"--version"}, 0, "^Corvane \\d+\\.\\d+\\.\\d+\n$"};
        QTest::newRow("help") << LineRow{{"--help"}, 0, "Usage: corvane .*--folder <DIR>"};
        QTest::newRow("unknown option") << LineRow{{"--shuffle"}, 2, "^corvane: .*'shuffle'"};
        QTest::newRow("stray argument") << LineRow{{"Music"}, 2, "^corvane: .*'Music'"};
        QTest::newRow("missing folder") << LineRow{{"--folder", "/nonexistent/zone"}, 2, "^corvane: the folder /nonexistent/zone does not exist\n$"};
        QTest::newRow("folder that cannot be written") << LineRow{{"--folder", "/usr/share"}, 2, "^corvane: the folder /usr/share cannot be written\n$"};
        // clang-format on
    }
    // Answered before the window system is reached: no display is given. Run as another user than
    // root, whom no folder refuses.
    void commandLine() {
        QFETCH(LineRow, r);
        QProcess run;
        AsOtherUser(run, folder_->path());
        run.setProcessEnvironment(Environment({{"DISPLAY", ""}, {"QT_QPA_PLATFORM", ""}}));
        const auto [code, output] = Run(run, Path("corvane"), r.arguments);
        QCOMPARE(code, r.exit);
        const QRegularExpression expected(r.output, QRegularExpression::DotMatchesEverythingOption);
        QVERIFY2(output.contains(expected), qPrintable(output));
        QVERIFY(!QFileInfo::exists(Path("Music")));  // nothing started
    }

    // A second start on the same folder, named on the command line, brings the first forward and
    // ends; a lock left by a killed player blocks nothing.
    void onePlayerPerFolder() {
        AddMedia("MessageInterval=45\r\n");
        Start();
        QVERIFY(Plays());
        QProcess second;
        second.setProcessEnvironment(program_.processEnvironment());
        QCOMPARE(Run(second, Path("corvane"), {"--folder", folder_->path()}).first, 0);
        QCOMPARE(program_.state(), QProcess::Running);
        program_.kill();
        QVERIFY(program_.waitForFinished(5000));
        Start();
        QVERIFY2(Plays(), "plays after a kill");
    }

    // Installed from the package, where nothing beside /usr/bin/corvane may be written, the
    // program keeps its folders and settings in the user's data folder.
    void installedPackage() {
        const QString root = UnpackedPackage();
        QVERIFY2(!root.isEmpty(), "the package is built and unpacked");
        QTemporaryDir home;
        QVERIFY(::geteuid() != 0 ||
                ::chown(QFile::encodeName(home.path()).constData(), kNobody, kNobody) == 0);
        AsOtherUser(program_, root);
        program_.setProcessEnvironment(Environment({{"QT_QPA_PLATFORM", "offscreen"},
                                                    {"HOME", home.path()},
                                                    {"XDG_DATA_HOME", home.path() + "/share"},
                                                    {"XDG_CONFIG_HOME", home.path() + "/config"},
                                                    {"XDG_RUNTIME_DIR", home.path()}}));
        program_.start(root + "/usr/bin/corvane", {});
        const QString own = home.path() + "/share/corvane";
        QVERIFY(QTest::qWaitFor([&] { return QFileInfo(own + "/Messages").isDir(); }, 10000));
        Terminate();
        QVERIFY(ReadFile(own + "/corvane.ini").startsWith(kSettingsHeader));
    }

    void packageFilesValidate_data() {
        QTest::addColumn<QStringList>("command");  // the validator, its arguments, then the file
        QTest::newRow("menu entry") << QStringList{
            "desktop-file-validate", "/usr/share/applications/org.example.Corvane.desktop"};
        QTest::newRow("software-centre description")
            << QStringList{"appstreamcli", "validate", "--no-net",
                           "/usr/share/metainfo/org.example.Corvane.metainfo.xml"};
    }
    void packageFilesValidate() {
        QFETCH(QStringList, command);
        const QString validator = QStandardPaths::findExecutable(command.first());
        if (validator.isEmpty()) {
            QSKIP(qPrintable(command.first() + " is not installed (scripts/install-deps.sh)"));
        }
        const QString root = UnpackedPackage();
        QVERIFY2(!root.isEmpty(), "the package is built and unpacked");
        QProcess run;
        const auto [code, output] =
            Run(run, validator, command.mid(1, command.size() - 2) << root + command.last(), 60000);
        QVERIFY2(code == 0, qPrintable(output));
    }

    void opensAndClosesByTheClock_data() {
        QTest::addColumn<ClockRow>("r");
        QTest::newRow("opening at 08:00") << ClockRow{"07:59:55", 10000, 4500, 9000, -1};
        QTest::newRow("closing at 20:00") << ClockRow{"19:59:45", 20000, 0, 15000, 17600};
    }
    // With the clock set a few seconds before the opening hours begin or end (a Monday), the
    // music is heard from the opening and not before, and fades out at the closing.
    void opensAndClosesByTheClock() {
        QFETCH(ClockRow, r);
        if (!FakeClock(QString("2026-12-07 ") + r.start))
            return;
        AddMedia("MessageInterval=0\r\n[Schedule]\r\nMonday=08:00-20:00\r\n");
        const std::vector<float> samples = Floats(RecordProgram(r.recordMs));
        // Sound in 10 ms blocks: whether each holds any.
        QList<int> sounding;
        for (std::size_t i = 0; i + 882 <= samples.size(); i += 882) {
            const auto [low, high] = std::minmax_element(&samples[i], &samples[i] + 882);
            if (std::max(-*low, *high) > 1e-3F)
                sounding << static_cast<int>(i / 882) * 10;
        }
        QVERIFY2(!sounding.isEmpty() && sounding.first() >= r.quietBeforeMs &&
                     sounding.first() < r.soundBeforeMs,
                 qPrintable(QString("first sound at %1 ms").arg(sounding.value(0, -1))));
        const int last = sounding.last();
        QVERIFY2(r.quietAfterMs < 0 ? last >= r.recordMs - 1000 : last < r.quietAfterMs,
                 qPrintable(QString("last sound at %1 ms").arg(last)));
    }

    void musicByTheClock_data() {
        QTest::addColumn<QString>("server");
        QTest::addColumn<DaypartRow>("r");
        const QByteArray lunch =
            "[Dayparts]\r\nMon-Fri 07:00-11:00=Morning\r\n11:00-14:00=Lunch\r\n";
        for (const char* server : {"pulseaudio", "pipewire"}) {
            const QString name = server == QString("pipewire") ? ":PipeWire" : ":PulseAudio";
            // clang-format off
            QTest::newRow(qPrintable("the next daypart at the track change" + name)) << server << DaypartRow{lunch, 800, 1.0};
            QTest::newRow(qPrintable("a dated line beats a weekday's" + name)) << server << DaypartRow{lunch + "2026-12-07 11:00-12:00=Christmas\r\n", 1200, 1.0};
            QTest::newRow(qPrintable("a level line heard" + name)) << server << DaypartRow{lunch + "[Levels]\r\n07:00=100\r\n11:00=40\r\n", 800, 0.4};
            // clang-format on
        }
    }
    // Under a clock set to 8 s before 11:00 on a Monday: the morning's file (400 Hz, one file,
    // cued again to follow itself before 11:00) plays to its end, and the lunch folder's file
    // follows at once, without a millisecond's silence there; a level line fades the music over
    // 10 s.
    void musicByTheClock() {
        QFETCH(DaypartRow, r);
        if (!UseServer() || !FakeClock("2026-12-07 10:59:52"))
            return;
        AddMedia("MessageInterval=0\r\n" + r.sections, false);
        QVERIFY(QDir(Path("Music")).mkpath("Morning") && QDir(Path("Music")).mkpath("Lunch") &&
                QDir(Path("Music")).mkpath("Christmas"));
        QVERIFY(MediaFixtures::MakeWav(Path("Music/Morning/m.wav"), 10000, 400) &&
                MediaFixtures::MakeWav(Path("Music/Lunch/l.wav"), 15000, 800) &&
                MediaFixtures::MakeWav(Path("Music/Christmas/c.wav"), 15000, 1200) &&
                MediaFixtures::MakeWav(Path("Music/root.wav"), 15000, 600));
        const std::vector<float> samples = Floats(RecordProgram(22000));
        const QList<double> before = MediaFixtures::ToneLevels(samples, 400, 2);
        const QList<double> after = MediaFixtures::ToneLevels(samples, r.hzAfter, 2);
        QVERIFY2(before.size() > 2150, "the sink is recorded");
        // Windows of 10 ms. The morning's tone from its start (a fresh PipeWire may take seconds
        // to link the stream) to its end 10 s later, well after 11:00 (window 800).
        const qsizetype start =
            std::find_if(before.begin(), before.end(), [](double l) { return l > 0.1; }) -
            before.begin();
        QVERIFY2(start < 700, qPrintable(QString("the morning's tone from window %1").arg(start)));
        const auto heard = [](const QList<double>& levels, qsizetype from, qsizetype to) {
            return *std::max_element(levels.begin() + from, levels.begin() + to);
        };
        const double full = heard(before, start + 20, std::min<qsizetype>(start + 300, 800));
        // At half its level, the other tone plays; a dropout's click only leaks into its windows.
        QVERIFY2(heard(after, start, 800) < full / 2, "only the morning's tone plays");
        const qsizetype change =
            std::find_if(after.begin() + 800, after.end(), [&](double l) { return l > full / 2; }) -
            after.begin();
        QVERIFY2(std::abs(change - (start + 1000)) < 30,
                 qPrintable(QString("the next folder's tone from window %1, the morning's from %2")
                                .arg(change)
                                .arg(start)));
        // Over: a dropout's click may leak into a window or two, a tone that goes on into all.
        const qsizetype leaks =
            std::count_if(before.begin() + change + 10, before.begin() + change + 200,
                          [&](double l) { return l >= 0.05 * full; });
        QVERIFY2(
            leaks <= 3,
            qPrintable(QString("the morning's tone in %1 windows after the change").arg(leaks)));
        const double last = heard(after, 2050, 2150);
        QVERIFY2(std::abs(last / full - r.levelAfter) < 0.1,
                 qPrintable(QString("at %1 of the level before").arg(last / full)));
        // No silence of a millisecond at the change, 200 ms either side: this machine's PipeWire
        // drops out now and then mid-track, gst-play-1.0 too, which is no fault of the change.
        int quiet = 0;
        for (qsizetype x = (change - 20) * 882; x < (change + 20) * 882; x += 2) {
            quiet = std::abs(samples[x]) < 1e-4F ? quiet + 1 : 0;
            QVERIFY2(quiet < 44, qPrintable(QString("silent at %1 s").arg(double(x) / 88200)));
        }
    }

    void radioWithTheFolderBehind_data() { ServerRows(); }
    // A station (500 Hz) alone in the music folder plays; a file (1000 Hz, 5 s) joins the folder,
    // the station's feeder dies, and the file is heard within 8 s; the station is back on the air
    // by the file's end and plays again when its turn comes.
    void radioWithTheFolderBehind() {
        if (!UseServer())
            return;
        IcecastServer icecast;
        QVERIFY(icecast.Start() && icecast.Feed("radio.mp3", 500));
        AddMedia("MessageInterval=0\r\n", false);
        QVERIFY(MediaFixtures::MakeFile(Path("Music/radio.m3u"),
                                        icecast.Url("radio.mp3").toUtf8() + "\n"));
        qint64 killedAt = 0;
        const std::vector<float> samples = Floats(RecordProgram(22000, [&] {
            QTest::qWait(5000);
            QVERIFY(MediaFixtures::MakeWav(Path("Music/z.wav"), 5000, 1000));
            QTest::qWait(1000);
            icecast.StopFeed("radio.mp3");
            killedAt = sinceStart_.elapsed() / 10;  // in windows of 10 ms
            QTest::qWait(1000);
            QVERIFY(icecast.Feed("radio.mp3", 500));
        }));
        const QList<double> radio = MediaFixtures::ToneLevels(samples, 500, 2);
        const QList<double> file = MediaFixtures::ToneLevels(samples, 1000, 2);
        QVERIFY2(radio.size() > 2000 && killedAt > 0, "the sink is recorded");
        const auto first = [](const QList<double>& levels, qsizetype from) {
            return std::find_if(levels.begin() + from, levels.end(),
                                [](double l) { return l > 0.1; }) -
                   levels.begin();
        };
        const qsizetype onAir = first(radio, 0);
        QVERIFY2(onAir < 500, qPrintable(QString("the station from window %1").arg(onAir)));
        const qsizetype takeover = first(file, onAir);
        QVERIFY2(takeover > killedAt && takeover < killedAt + 800,
                 qPrintable(QString("the file from window %1, the feeder killed at %2")
                                .arg(takeover)
                                .arg(killedAt)));
        const qsizetype back = first(radio, takeover + 400);
        QVERIFY2(back < takeover + 800,
                 qPrintable(QString("the station again from window %1, the file from %2")
                                .arg(back)
                                .arg(takeover)));
    }

    // A tone at -30 LUFS and one at -10 play at one level, as recorded from the sound server, once
    // the first start has measured them.
    void evenLoudnessHeardInTheOutput() {
        AddMedia("MessageInterval=0\r\n[Options]\r\nEvenLoudness=1\r\n", false);
        for (const auto& [name, amplitude] : {std::pair{"quiet.wav", 0.0316}, {"loud.wav", 0.316}})
            QVERIFY(MediaFixtures::MakeWav(Path("Music/") + name, 3000, 1000, amplitude));
        Start();
        QVERIFY2(QTest::qWaitFor(
                     [&] { return ReadFile(Path("cache/Corvane/loudness.txt")).count('\n') == 2; },
                     20000),
                 "both files are measured");
        Terminate();

        const QByteArray samples = RecordProgram(7000);  // two tracks and more

        // Momentary loudness, 400 ms blocks every 100 ms, of the blocks heard whole within one
        // track: none holding a silence (before the first sound, at a track change, after the
        // end) of 5 ms or more, however long a loaded machine makes it.
        ebur128_state* meter = ebur128_init(2, 44100, EBUR128_MODE_M);
        const auto release = qScopeGuard([&meter] { ebur128_destroy(&meter); });
        constexpr int kStep = 4410;  // frames, of two floats each
        const auto* frames = reinterpret_cast<const float*>(samples.constData());
        QList<double> heard;
        for (qsizetype step = 0, sound = 0; step < samples.size() / (8 * kStep); ++step) {
            const float* at = frames + 2 * kStep * step;
            ebur128_add_frames_float(meter, at, kStep);
            for (int i = 0, quiet = 0; i < kStep; ++i) {
                quiet = std::abs(at[2 * i]) + std::abs(at[2 * i + 1]) < 1e-4F ? quiet + 1 : 0;
                sound = quiet >= 220 ? -1 : sound;  // 5 ms of silence
            }
            double momentary = -HUGE_VAL;
            ebur128_loudness_momentary(meter, &momentary);
            if (++sound >= 4)  // steps of sound since the last silence
                heard.append(momentary);
        }
        // A 3 s track gives at most 27 whole blocks: 30 need both, the second started by the end
        // of the first.
        QVERIFY2(heard.size() >= 30, qPrintable(QString::number(heard.size())));
        const auto [quietest, loudest] = std::minmax_element(heard.begin(), heard.end());
        QVERIFY2(*quietest >= -19 && *loudest <= -17,
                 qPrintable(QString("%1 to %2 LUFS").arg(*quietest).arg(*loudest)));
    }

    void messageHeardOverLoweredMusic_data() { ServerRows(); }
    // Recorded from the sound server: the music (400 Hz) is down at its low level when the first
    // sound of the message (1200 Hz) is heard, and back at its high level soon after the message.
    void messageHeardOverLoweredMusic() {
        if (!UseServer()) {
            return;
        }
        AddMedia("MessageInterval=4\r\n", false);
        QVERIFY(MediaFixtures::MakeWav(Path("Music/long.wav"), 20000, 400));
        QVERIFY(MediaFixtures::MakeWav(Path("Messages/message.wav"), 1000, 1200));
        // A fresh PipeWire may take seconds to link the streams.
        const std::vector<float> samples = Floats(RecordProgram(13000));
        const QList<double> music = MediaFixtures::ToneLevels(samples, 400, 2);
        const QList<double> message = MediaFixtures::ToneLevels(samples, 1200, 2);
        QVERIFY2(!music.isEmpty(), "the sink is recorded");

        const double musicFull = *std::max_element(music.begin(), music.end());
        const double heard = *std::max_element(message.begin(), message.end()) / 2;
        const auto onset = std::find_if(message.begin(), message.end(),
                                        [&](double level) { return level >= heard; });
        QVERIFY2(heard > 0.1 && onset != message.end(), "the message is heard");
        const qsizetype start = onset - message.begin();
        const auto end = std::find_if(onset, message.end(), [&](double l) { return l < heard; });
        QVERIFY2(
            end != message.end(),
            qPrintable(
                QString("message heard from %1 of %2 windows").arg(start).arg(message.size())));
        const qsizetype stop = end - message.begin();
        QVERIFY2(std::any_of(music.begin(), music.begin() + start,
                             [&](double level) { return level > 0.9 * musicFull; }),
                 "the music plays at its high level before the message");
        for (qsizetype window : {start - 1, start}) {
            QVERIFY2(music[window] < 0.2 * musicFull,
                     qPrintable(QString("music at %1%% of its high level at the message")
                                    .arg(100 * music[window] / musicFull)));
        }
        // The fade back up takes 90 steps of 10 ms, later on a slow machine (the sanitizers'); the
        // next message is 4 s away, so its fade down cannot cut the rise short.
        constexpr qsizetype kBackWithin = 300;  // windows of 10 ms
        const auto after = music.begin() + stop;
        const double back =
            *std::max_element(after, after + std::min(kBackWithin, music.end() - after));
        QVERIFY2(back > 0.9 * musicFull,
                 qPrintable(QString("the music at most %1%% of its high level in the %2 windows "
                                    "after the message, from %3 of %4")
                                .arg(100 * back / musicFull)
                                .arg(kBackWithin)
                                .arg(stop)
                                .arg(music.size())));
    }

    void pauseHoldsAMessage_data() { ServerRows(); }
    // Paused through the web remote while a message plays over the lowered music: silent within
    // 0.3 s; resumed, the rest of the message plays over the music at the level it had, and the
    // music rises after it.
    void pauseHoldsAMessage() {
        if (!UseServer()) {
            return;
        }
        AddMedia("MessageInterval=3\r\n[Remote]\r\nWebPort=18471\r\nWebLan=0\r\nWebKey=k\r\n",
                 false);
        QVERIFY(MediaFixtures::MakeWav(Path("Music/long.wav"), 30000, 400));
        QVERIFY(MediaFixtures::MakeWav(Path("Messages/message.wav"), 3000, 1200));
        qint64 pausedAt = -1, resumedAt = -1, openedAt = -1;
        const auto post = [](const char* verb) {
            QProcess curl;
            return Run(curl, "curl",
                       {"-sf", "-X", "POST", "-H", "Authorization: Bearer k",
                        QString("http://127.0.0.1:18471/api/v1/") + verb})
                       .first == 0;
        };
        const std::vector<float> samples = Floats(RecordProgram(20000, [&] {
            QVERIFY(Plays("Messages", 12000));
            openedAt = sinceStart_.elapsed();
            QTest::qWait(1000);
            pausedAt = sinceStart_.elapsed();
            QVERIFY(post("pause"));
            QTest::qWait(1500);
            resumedAt = sinceStart_.elapsed();
            QVERIFY(post("resume"));
        }));
        QVERIFY(resumedAt > 0);
        const QList<double> music = MediaFixtures::ToneLevels(samples, 400, 2);
        const QList<double> message = MediaFixtures::ToneLevels(samples, 1200, 2);
        const double musicFull = *std::max_element(music.begin(), music.end());
        const double messageFull = *std::max_element(message.begin(), message.end());
        // The recording's start and the program's differ by the server's latencies, so the
        // message's first sound is the mark: the pause is heard no later after it was asked
        // for than the message was after it was opened, and 0.3 s.
        const auto loud = [&](double l) { return l > 0.5 * messageFull; };
        // The start of `windows` of quiet, of the message alone or of everything: a dropout of a
        // few ms is neither the message's end nor the pause.
        const auto quietFrom = [&](QList<double>::const_iterator from, qsizetype windows,
                                   bool everything) {
            for (; from + windows < message.end(); ++from) {
                const qsizetype w = from - message.begin();
                if (std::none_of(from, from + windows, loud) &&
                    (!everything || std::all_of(music.begin() + w, music.begin() + w + windows,
                                                [&](double l) { return l < 0.02 * musicFull; })))
                    return from;
            }
            return message.cend();
        };
        const auto onset = std::find_if(message.cbegin(), message.cend(), loud);
        const auto held = quietFrom(onset, 30, true);
        const auto back = std::find_if(held, message.cend(), loud);
        const auto ended = quietFrom(back, 10, false);
        QVERIFY2(ended != message.end(),
                 qPrintable(QString("the message heard at %1, held at %2, back at %3 of %4 windows")
                                .arg(onset - message.begin())
                                .arg(held - message.begin())
                                .arg(back - message.begin())
                                .arg(message.size())));
        // Up to half a second before the message is back: the music may come back a little
        // sooner, as each channel is ready to play from where it was.
        for (auto w = held - message.begin(); w < back - message.begin() - 50; ++w)
            QVERIFY2(music[w] < 0.02 * musicFull,
                     qPrintable(QString("music %1 ms into the pause").arg(w * 10)));
        const qint64 heldLate = (held - onset) * 10 - (pausedAt - openedAt);
        const qsizetype before = held - onset, after = ended - back, silence = back - held;
        qInfo(
            "the pause heard %lld ms later than the message's start; %lld + %lld windows of the "
            "message, %lld of silence",
            heldLate, before, after, silence);
        QVERIFY(before >= 50 && after >= 50);
        // In time and whole, of the message: all of it, once. Not under the sanitizers, whose
        // program keeps no real time.
        if (!CORVANE_SANITIZED) {
            QVERIFY2(heldLate <= 300, qPrintable(QString::number(heldLate)));
            QVERIFY2(std::abs(silence * 10 - (resumedAt - pausedAt)) <= 150,
                     qPrintable(QString("silent for %1 ms").arg(silence * 10)));
            QVERIFY2(std::abs(before + after - 300) <= 5,
                     qPrintable(QString("%1 + %2 windows of the message").arg(before).arg(after)));
        }
        // The median of half a second, which a dropout of the server's does not move.
        QList<double> under(music.begin() + (back - message.begin()),
                            music.begin() + (back - message.begin()) + 50);
        std::nth_element(under.begin(), under.begin() + 25, under.end());
        QVERIFY2(under[25] < 0.2 * musicFull && under[25] > 0.02 * musicFull,
                 qPrintable(QString("music at %1%% under the resumed message")
                                .arg(100 * under[25] / musicFull)));
        const qsizetype end = ended - message.begin();
        QVERIFY2(
            music.size() > end + 150 &&
                *std::max_element(music.begin() + end, music.begin() + end + 150) > 0.9 * musicFull,
            "the music rises within 1.5 s of the message's end");
    }

    void followsTheChosenOutput_data() { ServerRows(); }
    // Played to the output its settings name, "second"; on the default within 2 s of that
    // output's removal, and back on it once it returns.
    void followsTheChosenOutput() {
        if (!UseServer()) {
            return;
        }
        QProcess pactl;
        pactl.setProcessEnvironment(Environment({{"PULSE_SERVER", sound_}}));
        QString module;
        const auto plug = [&] {
            module = Run(pactl, "pactl",
                         {"load-module", "module-null-sink", "sink_name=second",
                          "sink_properties=device.description=Second"})
                         .second.trimmed();
        };
        const auto unplug = [&] { Run(pactl, "pactl", {"unload-module", module}); };
        const auto unplugAtEnd = qScopeGuard(unplug);
        // The sink the program's stream plays on, by name.
        const auto playsOn = [&] {
            QHash<QString, QString> sinks;
            for (const QString& line :
                 Run(pactl, "pactl", {"list", "short", "sinks"}).second.split('\n'))
                sinks[line.section('\t', 0, 0)] = line.section('\t', 1, 1);
            return sinks.value(
                Run(pactl, "pactl", {"list", "short", "sink-inputs"}).second.section('\t', 1, 1));
        };
        // `sink`, once three readings in a row say so within `ms`, or the last reading: a new
        // stream is listed without a sink until the server has linked it.
        const auto settlesOn = [&](const QString& sink, int ms) {
            QString last;
            int held = 0;
            const auto steady = [&] {
                last = playsOn();
                held = last == sink ? held + 1 : 0;
                return held == 3;
            };
            return QTest::qWaitFor(steady, ms) ? sink : last;
        };
        plug();
        AddMedia("MessageInterval=0\r\n[Options]\r\nOutputDevice=second\r\n", false);
        QVERIFY(MediaFixtures::MakeWav(Path("Music/long.wav"), 30000, 400));
        Start();
        // Only a bound: the sanitized program takes more than 10 s to start on PipeWire.
        QCOMPARE(settlesOn("second", 30000), "second");
        unplug();
        QCOMPARE(settlesOn("e2e", 2000), "e2e");
        plug();
        // Well under a second unsanitized; the sanitized program takes seconds to build an output.
        QCOMPARE(settlesOn("second", 15000), "second");
        Terminate();
    }
};

QTEST_GUILESS_MAIN(EndToEndTest)
#include "tst_e2e.moc"
