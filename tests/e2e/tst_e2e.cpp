// Runs the real program, copied into a fresh folder with real media files, and checks from outside
// what only the executable shows: what it writes, plays and prints, recorded from a sound server.

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
#include <functional>
#include <limits>
#include <list>
#include <optional>

#include "Icecast.h"
#include "MediaFixtures.h"
#include "WindowClose.h"

using namespace MediaFixtures;

namespace {

const QByteArray kSettingsHeader = "[Settings]\r\n";
constexpr uid_t kNobody = 65534;

using Changes = QList<std::pair<QString, QString>>;

// The test's own environment with `changes`; an empty value removes the variable.
QProcessEnvironment Environment(const Changes& changes) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const auto& [name, value] : changes)
        value.isEmpty() ? environment.remove(name) : environment.insert(name, value);
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

std::pair<int, QString> Pactl(const QString& server, const QStringList& arguments) {
    QProcess pactl;
    pactl.setProcessEnvironment(Environment({{"PULSE_SERVER", server}}));
    return Run(pactl, "pactl", arguments);
}

// `text` with its %1, %2... filled in, for a failed check's message.
template <typename... Values>
QByteArray Say(const char* text, const Values&... values) {
    QString said(text);
    ((said = said.arg(values)), ...);
    return said.toLocal8Bit();
}

// The first of `levels` from `from` on above `level`: its index, or levels.size().
qsizetype FirstAbove(const QList<double>& levels, double level, qsizetype from = 0) {
    return std::find_if(levels.begin() + from, levels.end(), [&](double l) { return l > level; }) -
           levels.begin();
}

// The highest of `levels` from `from` to before `to`; 0 for none.
double Peak(const QList<double>& levels, qsizetype from = 0,
            qsizetype to = std::numeric_limits<qsizetype>::max()) {
    to = std::min(to, levels.size());
    return from < to ? *std::max_element(levels.begin() + from, levels.begin() + to) : 0;
}

// Runs `process` as a user whom permissions stop, unlike root; `folder`, the program's, is opened.
void AsOtherUser(QProcess& process, const QString& folder) {
    QVERIFY(QFile::setPermissions(
        folder, QFile(folder).permissions() | QFileDevice::ReadOther | QFileDevice::ExeOther));
    process.setChildProcessModifier([] {
        if (::geteuid() == 0 && (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0))
            ::_exit(3);
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

// PipeWire as on Debian 12's desktop, with a null sink "e2e", in `runtime`: its PulseAudio address,
// or "" if it does not come up. The processes end with `processes`.
QString StartPipeWire(std::list<Server>& processes, const QString& runtime) {
    Server& bus = processes.emplace_back();  // wireplumber wants a session bus
    if (!bus.Launch("dbus-daemon", {"--session", "--nofork", "--print-address=1"},
                    [&] { return bus.canReadLine(); }))
        return {};
    const QProcessEnvironment environment =
        Environment({{"XDG_RUNTIME_DIR", runtime},
                     {"DBUS_SESSION_BUS_ADDRESS", QString(bus.readLine().trimmed())},
                     {"PULSE_RUNTIME_PATH", ""}});
    // The session manager and the PulseAudio server give up while PipeWire's socket is not there.
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
    const QString address = "unix:" + runtime + "/pulse/native";
    std::pair<int, QString> step;
    // Retried: setting the default sink is "Not supported" until the session manager is up.
    const auto succeeds = [&](const QStringList& arguments) {
        return QTest::qWaitFor([&] { return (step = Pactl(address, arguments)).first == 0; },
                               20000);
    };
    const bool ready =
        succeeds({"info"}) &&
        (step = Pactl(address, {"load-module", "module-null-sink", "sink_name=e2e"})).first == 0 &&
        succeeds({"set-default-sink", "e2e"});
    if (!ready)
        qWarning("pactl: %s", qPrintable(step.second));
    return ready ? address : QString();
}

}  // namespace

// clang-format off
struct SaveRow { QByteArray stored, saved; QStringList playing; rlim_t fileSizeLimit = RLIM_INFINITY; bool closed = false; };  // stored "-": no settings file, no media; closed: as by a window manager
struct LineRow { QStringList arguments; int exit; QString output; };  // output: a pattern the printed text matches
struct ClockRow { const char* start; int recordMs, quietBeforeMs, soundBeforeMs, quietAfterMs; };  // quietAfterMs -1: sound to the end
struct DaypartRow { QByteArray sections; int hzAfter; double levelAfter; };  // after 11:00, the tone of that folder at that share of the level before
struct Tone { QString path; int ms; double hz, amplitude = 0.5; };  // a media file in the program's folder
struct MessageRow { QByteArray settings; int messageMs, recordMs, backWithin; bool paused = false; };  // backWithin: windows of 10 ms after the message by which the music is high again, short of the next message
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
    Changes environment_;  // the case's own additions
    QElapsedTimer sinceStart_;

    QString Path(const QString& name) const { return folder_->filePath(name); }

    // Whether the program holds open, within `ms`, a media file whose path holds `part`: GStreamer
    // keeps each open device's file open, so this shows what plays (or has just played).
    bool Plays(const QString& part = "/", int ms = 15000) const {
        const auto open = [&] {
            QStringList files;
            const QDir fds(QString("/proc/%1/fd").arg(program_.processId()));
            for (const QFileInfo& fd : fds.entryInfoList(QDir::System | QDir::Files))
                files << fd.symLinkTarget();
            return !files.filter(QRegularExpression("/(Music|Messages)/")).filter(part).isEmpty();
        };
        return QTest::qWaitFor(open, ms);
    }

    void InstallProgram() {
        const QString built = qEnvironmentVariable("CORVANE_PROGRAM_DIR");
        QVERIFY2(!built.isEmpty(), "CORVANE_PROGRAM_DIR names the built program's folder");
        QVERIFY(QFile::copy(built + "/corvane", Path("corvane")));
    }

    // The settings, the two folders and `tones`, by default two tunes and a message.
    void AddMedia(const QByteArray& settings,
                  const QList<Tone>& tones = {{"Music/Tune A.wav", 4000, 330},
                                              {"Music/tune b.mp3", 4000, 440},
                                              {"Messages/Notice.wav", 600, 880}}) {
        QVERIFY(QDir(folder_->path()).mkpath("Music") && QDir(folder_->path()).mkpath("Messages"));
        QVERIFY(MakeFile(Path("corvane.ini"), kSettingsHeader + settings));
        for (const Tone& t : tones) {
            const auto make = t.path.endsWith(".mp3") ? MakeMp3 : MakeWav;
            QVERIFY(QDir().mkpath(QFileInfo(Path(t.path)).path()) &&
                    make(Path(t.path), t.ms, t.hz, t.amplitude));
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
            Environment(Changes{{"PULSE_SERVER", sound_},
                                {"QT_QPA_PLATFORM", display.isEmpty() ? "offscreen" : "xcb"},
                                {"DISPLAY", display}} +
                        environment_));
        program_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // Started from elsewhere: the program must find its folder by itself.
        program_.setWorkingDirectory(QDir::tempPath());
        program_.start(Path("corvane"), {});
        QVERIFY(program_.waitForStarted(5000));
    }

    // The stereo samples the sink "e2e" plays while the program runs for `ms` from its start,
    // `during` done meanwhile; sinceStart_ tells how far into the recording it is.
    std::vector<float> RecordProgram(int ms, const std::function<void()>& during = {}) {
        // Zeros keep the sink's monitor sending from the start: an idle one sends nothing, and the
        // recording would start at the program's first sound.
        Server zeros, recorder;
        const auto launch = [&](Server& server, const char* name, QStringList arguments) {
            server.setProcessEnvironment(Environment({{"PULSE_SERVER", sound_}}));
            arguments += {"--raw", "--rate=44100", "--channels=2"};
            return server.Launch(name, arguments, [&] { return server.waitForStarted(5000); });
        };
        zeros.setStandardInputFile("/dev/zero");
        if (!launch(zeros, "pacat", {"-d", "e2e", "--format=s16le", "--latency-msec=20"}) ||
            !launch(recorder, "parec",
                    {"-d", "e2e.monitor", "--format=float32le", "--latency-msec=10"}))
            return {};
        recorder.waitForReadyRead(5000);  // so that the recording's start is the program's
        Start();
        sinceStart_.start();
        if (during)
            during();
        QTest::qWait(static_cast<int>(std::max<qint64>(0, ms - sinceStart_.elapsed())));
        Terminate();
        recorder.terminate();
        recorder.waitForFinished(5000);
        const QByteArray bytes = recorder.readAllStandardOutput();
        const auto* floats = reinterpret_cast<const float*>(bytes.constData());
        return {floats, floats + bytes.size() / sizeof(float)};
    }

    void Terminate() {
        // A program already gone has no pid, and kill(0) would end this test's whole group.
        QVERIFY2(program_.state() == QProcess::Running, "the program still runs");
        ::kill(static_cast<pid_t>(program_.processId()), SIGTERM);
        QVERIFY2(program_.waitForFinished(10000), "the program ends on SIGTERM");
        QCOMPARE(program_.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program_.exitCode(), 0);
    }

    // The Debian package (`make package`), unpacked once into a temporary root; "" if it fails.
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
            QTest::qSkip("the sanitizers must load before libfaketime", __FILE__, __LINE__);
            return false;
        }
        // The library, not its launcher, which would stand between the test and the signals.
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

    // Each of `rows` once on the test's PulseAudio and once on a PipeWire of the case's own.
    template <typename Row = int>
    static void ServerRows(const QList<std::pair<const char*, Row>>& rows = {{"", {}}}) {
        QTest::addColumn<QString>("server");
        QTest::addColumn<Row>("r");
        for (const QString server : {"PulseAudio", "PipeWire"})
            for (const auto& [name, row] : rows)
                QTest::newRow(qPrintable(*name ? name + (':' + server) : server))
                    << server.toLower() << row;
    }
    // The case's sound server, as sound_ until cleanup(). False when the case is skipped or
    // failed, and must end: a skip here only leaves this function.
    bool UseServer() {
        QFETCH(QString, server);
        if (server != "pipewire")
            return true;
        if (QStandardPaths::findExecutable("pipewire-pulse").isEmpty()) {
            QTest::qSkip("PipeWire is not installed (scripts/install-deps.sh)", __FILE__, __LINE__);
            return false;
        }
        sound_ = StartPipeWire(caseServer_, caseRuntime_.emplace().path());
        return QTest::qVerify(!sound_.isEmpty(), "!sound_.isEmpty()",
                              "PipeWire could not be started", __FILE__, __LINE__);
    }

private slots:
    // A real sound output, whether or not the machine has one: a sink that plays into nothing.
    void initTestCase() {
        const QString socket = soundRuntime_.filePath("native");
        soundServer_.setProcessEnvironment(
            Environment({{"PULSE_RUNTIME_PATH", soundRuntime_.path()}}));
        if (soundServer_.Launch(
                "pulseaudio",
                {"-n", "--daemonize=no", "--exit-idle-time=-1",
                 "--load=module-null-sink sink_name=e2e", "--load=module-native-protocol-unix"},
                [&] { return QFileInfo::exists(socket); }))
            sound_ = pulseaudio_ = "unix:" + socket;
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
        // A write past the limit fails instead of ending the program; the unwritten lock stops nothing.
        QTest::newRow("file size limit") << SaveRow{stored, stored, {"/Music/"}, 16};
        // Ended during start-up: the stored values are saved, not the controls' initial ones.
        QTest::newRow("first start, ended at once") << SaveRow{"-", "MessageInterval=30\r\nMusicVolumeHigh=100\r\n" + defaults, {}};
        QTest::newRow("ended at once") << SaveRow{stored, stored + defaults, {}};
        // clang-format on
    }
    // SIGTERM once the program handles it itself, or once the `playing` files were opened in turn.
    void savesOnTerminate() {
        QFETCH(SaveRow, r);
        Server xvfb;  // picks a free display, and prints its number once it takes connections
        if (r.closed &&
            !xvfb.Launch("Xvfb",
                         {"-displayfd", "1", "-screen", "0", "800x600x24", "-nolisten", "tcp"},
                         [&] { return xvfb.canReadLine(); }))
            QSKIP("Xvfb is not installed");
        const QString display = r.closed ? ':' + QString(xvfb.readLine().trimmed()) : QString();
        if (r.stored != "-")
            AddMedia(r.stored);
        Start(display, r.fileSizeLimit);
        const auto caught = [&] {  // in the mask of the signals it has its own handlers for
            const QString status = ReadFile(QString("/proc/%1/status").arg(program_.processId()));
            const QString mask = QRegularExpression("SigCgt:\\s*(\\w+)").match(status).captured(1);
            return (mask.toULongLong(nullptr, 16) >> (SIGTERM - 1)) & 1;
        };
        QVERIFY(QTest::qWaitFor(caught, 10000));
        for (const QString& part : r.playing)
            QVERIFY2(Plays(part), qPrintable(part));
        if (r.closed) {
            QVERIFY2(
                QTest::qWaitFor([&] { return SendCloseRequest(qPrintable(display), "ZEL"); }, 5000),
                "the console window is found");
            QTest::qWait(2000);
            QVERIFY(program_.state() == QProcess::Running && Plays("/Music/", 0));
        }
        if (!r.playing.isEmpty()) {
            QCOMPARE(ReadFile(Path("corvane.ini")), kSettingsHeader + r.stored);  // untouched
            // An upgrade replaces the executable while it runs; the settings still go beside it.
            QVERIFY(QFile::remove(Path("corvane")));
            InstallProgram();
        }
        Terminate();
        QVERIFY(QFileInfo(Path("Music")).isDir() && QFileInfo(Path("Messages")).isDir());
        QCOMPARE(ReadFile(Path("corvane.ini")), kSettingsHeader + r.saved);
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
    // Answered before the window system is reached: no display is given.
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

    // A second start on the folder brings the first forward and ends; a killed one's lock is moot.
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

    // Installed from the package, where /usr/bin cannot be written: the user's data folder is used.
    void installedPackage() {
        const QString root = UnpackedPackage();
        QVERIFY2(!root.isEmpty(), "the package is built and unpacked");
        QTemporaryDir home;
        const QString h = home.path(), own = h + "/share/corvane";
        QVERIFY(::geteuid() != 0 ||
                ::chown(QFile::encodeName(h).constData(), kNobody, kNobody) == 0);
        AsOtherUser(program_, root);
        program_.setProcessEnvironment(Environment({{"QT_QPA_PLATFORM", "offscreen"},
                                                    {"HOME", h},
                                                    {"XDG_DATA_HOME", h + "/share"},
                                                    {"XDG_CONFIG_HOME", h + "/config"},
                                                    {"XDG_RUNTIME_DIR", h}}));
        program_.start(root + "/usr/bin/corvane", {});
        QVERIFY(QTest::qWaitFor([&] { return QFileInfo(own + "/Messages").isDir(); }, 10000));
        Terminate();
        QVERIFY(ReadFile(own + "/corvane.ini").startsWith(kSettingsHeader));
    }

    void packageFilesValidate_data() {
        QTest::addColumn<QStringList>("command");  // the validator, its arguments, then the file
        // clang-format off
        QTest::newRow("menu entry") << QStringList{"desktop-file-validate", "/usr/share/applications/org.example.Corvane.desktop"};
        QTest::newRow("software-centre description") << QStringList{"appstreamcli", "validate", "--no-net", "/usr/share/metainfo/org.example.Corvane.metainfo.xml"};
        // clang-format on
    }
    void packageFilesValidate() {
        QFETCH(QStringList, command);
        const QString validator = QStandardPaths::findExecutable(command.first());
        if (validator.isEmpty())
            QSKIP(qPrintable(command.first() + " is not installed (scripts/install-deps.sh)"));
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
    // Seconds before the opening hours begin or end: music from the opening, faded at the close.
    void opensAndClosesByTheClock() {
        QFETCH(ClockRow, r);
        if (!FakeClock(QString("2026-12-07 ") + r.start))
            return;
        AddMedia("MessageInterval=0\r\n[Schedule]\r\nMonday=08:00-20:00\r\n");
        const std::vector<float> samples = RecordProgram(r.recordMs);
        // The 10 ms blocks that hold any sound, in ms.
        QList<int> sounding;
        for (std::size_t i = 0; i + 882 <= samples.size(); i += 882) {
            const auto [low, high] = std::minmax_element(&samples[i], &samples[i] + 882);
            if (std::max(-*low, *high) > 1e-3F)
                sounding << static_cast<int>(i / 882) * 10;
        }
        QVERIFY2(!sounding.isEmpty() && sounding.first() >= r.quietBeforeMs &&
                     sounding.first() < r.soundBeforeMs,
                 Say("first sound at %1 ms", sounding.value(0, -1)));
        QVERIFY2(r.quietAfterMs < 0 ? sounding.last() >= r.recordMs - 1000
                                    : sounding.last() < r.quietAfterMs,
                 Say("last sound at %1 ms", sounding.last()));
    }

    void musicByTheClock_data() {
        const QByteArray lunch =
            "[Dayparts]\r\nMon-Fri 07:00-11:00=Morning\r\n11:00-14:00=Lunch\r\n";
        // clang-format off
        ServerRows<DaypartRow>({
            {"the next daypart at the track change", {lunch, 800, 1.0}},
            {"a dated line beats a weekday's", {lunch + "2026-12-07 11:00-12:00=Christmas\r\n", 1200, 1.0}},
            {"a level line heard", {lunch + "[Levels]\r\n07:00=100\r\n11:00=40\r\n", 800, 0.4}}});
        // clang-format on
    }
    // 8 s before 11:00 on a Monday: the morning's one 10 s file (400 Hz) plays to its end, the
    // next daypart's follows without a millisecond's silence; a level line fades over 10 s.
    void musicByTheClock() {
        QFETCH(DaypartRow, r);
        if (!UseServer() || !FakeClock("2026-12-07 10:59:52"))
            return;
        AddMedia("MessageInterval=0\r\n" + r.sections, {{"Music/Morning/m.wav", 10000, 400},
                                                        {"Music/Lunch/l.wav", 15000, 800},
                                                        {"Music/Christmas/c.wav", 15000, 1200},
                                                        {"Music/root.wav", 15000, 600}});
        // Windows of 10 ms: a fresh PipeWire may take seconds to link the stream; 11:00 is 800.
        // A server that records nothing of the morning is no fault of the program: once more.
        std::vector<float> samples;
        QList<double> before, after;
        qsizetype start = 0;
        double full = 0;
        for (int attempt = 0; attempt < 2 && full < 0.2; ++attempt) {
            samples = RecordProgram(22000);
            before = ToneLevels(samples, 400, 2);
            after = ToneLevels(samples, r.hzAfter, 2);
            start = FirstAbove(before, 0.1);
            full = before.size() > 2150 && start < 700
                       ? Peak(before, start + 20, std::min<qsizetype>(start + 300, 800))
                       : 0;
        }
        QVERIFY2(before.size() > 2150, "the sink is recorded");
        QVERIFY2(start < 700 && full >= 0.2,
                 Say("the morning's tone from window %1, at %2", start, full));
        // PipeWire drops out now and then, most often as a file starts: a window with a hole of
        // half a millisecond or more, and its neighbours, leak into every frequency, and count
        // as no tone. A tone that plays where it should not fills the windows between.
        QSet<qsizetype> holes;
        for (qsizetype x = 0, quiet = 0; x + 1 < qsizetype(samples.size()); x += 2) {
            quiet = std::abs(samples[x]) < 1e-4F ? quiet + 1 : 0;
            if (quiet >= 22 && x / 882 > start)
                holes.unite({x / 882 - 1, x / 882, x / 882 + 1});
        }
        const auto windows = [&holes](const QList<double>& levels, qsizetype from, qsizetype to,
                                      double level) {
            qsizetype count = 0;
            for (qsizetype w = from; w < to; ++w)
                count += levels[w] >= level && !holes.contains(w);
            return count;
        };
        const qsizetype early = windows(after, start, 800, full / 2);
        QVERIFY2(early <= 3, Say("the next folder's tone in %1 windows before 11:00", early));
        const qsizetype change = FirstAbove(after, full / 2, 800);
        // The morning's 10 s from the program's start, at window 0 or a little after; a stream
        // PipeWire links late is heard from `start` on, and ends no later than 10 s after it.
        QVERIFY2(
            change > 970 && change < start + 1030,
            Say("the next folder's tone from window %1, the morning's from %2", change, start));
        const qsizetype leaks = windows(before, change + 10, change + 200, 0.05 * full);
        QVERIFY2(leaks <= 3, Say("the morning's tone in %1 windows after the change", leaks));
        const double last = Peak(after, 2050, 2150);
        QVERIFY2(std::abs(last / full - r.levelAfter) < 0.1,
                 Say("at %1 of the level before", last / full));
        // No silence of a millisecond between the two tones within 200 ms of the change. One with
        // the same tone on both sides is a dropout. PipeWire's dropouts here, up to 10 ms, come
        // mid-track and as a file starts alike: between the tones, only a longer one is a gap.
        QFETCH(QString, server);
        const qsizetype allowed = server == "pipewire" ? 441 : 44;
        for (qsizetype x = (change - 20) * 882, quiet = 0; x < (change + 20) * 882; x += 2) {
            quiet = std::abs(samples[x]) < 1e-4F ? quiet + 1 : 0;
            if (quiet != 44)
                continue;
            qsizetype end = x;
            while (end + 2 < qsizetype(samples.size()) && std::abs(samples[end + 2]) < 1e-4F)
                end += 2;
            const qsizetype was = (x - 88) / 882 - 1, is = end / 882 + 1;
            const bool between = before[was] > after[was] && after[is] > before[is];
            const qsizetype frames = (end - x) / 2 + 44;
            QVERIFY2(!between || frames < allowed, Say("silent for %1 ms between the tones at %2 s",
                                                       double(frames) / 44.1, double(x) / 88200));
            QWARN(Say("a dropout of %1 ms at %2 s", double(frames) / 44.1, double(x) / 88200));
        }
    }

    void radioWithTheFolderBehind_data() { ServerRows(); }
    // A station (500 Hz) plays; a 5 s file (1000 Hz) joins, the station dies and the file is heard
    // within 8 s; the station, back on the air, plays after it.
    void radioWithTheFolderBehind() {
        if (!UseServer())
            return;
        IcecastServer icecast;
        QVERIFY(icecast.Start() && icecast.Feed("radio.mp3", 500));
        AddMedia("MessageInterval=0\r\n", {});
        QVERIFY(MakeFile(Path("Music/radio.m3u"), icecast.Url("radio.mp3").toUtf8() + "\n"));
        qint64 killedAt = 0;
        const std::vector<float> samples = RecordProgram(22000, [&] {
            QTest::qWait(5000);
            QVERIFY(MakeWav(Path("Music/z.wav"), 5000, 1000));
            QTest::qWait(1000);
            icecast.StopFeed("radio.mp3");
            killedAt = sinceStart_.elapsed() / 10;  // in windows of 10 ms
            QTest::qWait(1000);
            QVERIFY(icecast.Feed("radio.mp3", 500));
        });
        const QList<double> radio = ToneLevels(samples, 500, 2);
        const QList<double> file = ToneLevels(samples, 1000, 2);
        QVERIFY2(radio.size() > 2000 && killedAt > 0, "the sink is recorded");
        const qsizetype onAir = FirstAbove(radio, 0.1);
        QVERIFY2(onAir < 500, Say("the station from window %1", onAir));
        const qsizetype takeover = FirstAbove(file, 0.1, onAir);
        QVERIFY2(takeover > killedAt && takeover < killedAt + 800,
                 Say("the file from window %1, the feeder killed at %2", takeover, killedAt));
        const qsizetype back = FirstAbove(radio, 0.1, takeover + 400);
        QVERIFY2(back < takeover + 800,
                 Say("the station again from window %1, the file from %2", back, takeover));
    }

    // A tone at -30 LUFS and one at -10 are heard at one level once the first start measured them.
    void evenLoudnessHeardInTheOutput() {
        AddMedia("MessageInterval=0\r\n[Options]\r\nEvenLoudness=1\r\n",
                 {{"Music/quiet.wav", 3000, 1000, 0.0316}, {"Music/loud.wav", 3000, 1000, 0.316}});
        Start();
        const QString measured = Path("cache/Corvane/loudness.txt");
        QVERIFY2(QTest::qWaitFor([&] { return ReadFile(measured).count('\n') == 2; }, 20000),
                 "both files are measured");
        Terminate();
        const std::vector<float> samples = RecordProgram(7000);  // two tracks and more
        // Momentary loudness (400 ms every 100 ms) of the blocks holding no silence of 5 ms or
        // more, which a loaded machine may stretch at the start, a track change or the end.
        ebur128_state* meter = ebur128_init(2, 44100, EBUR128_MODE_M);
        const auto release = qScopeGuard([&meter] { ebur128_destroy(&meter); });
        constexpr int kStep = 4410;  // frames, of two floats each
        QList<double> heard;
        for (qsizetype step = 0, sound = 0; (step + 1) * 2 * kStep <= std::ssize(samples); ++step) {
            const float* at = samples.data() + 2 * kStep * step;
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
        // A 3 s track gives at most 27 whole blocks: 30 need both tracks.
        QVERIFY2(heard.size() >= 30, Say("%1 blocks", heard.size()));
        const auto [quietest, loudest] = std::minmax_element(heard.begin(), heard.end());
        QVERIFY2(*quietest >= -19 && *loudest <= -17, Say("%1 to %2 LUFS", *quietest, *loudest));
    }

    void messageOverLoweredMusic_data() {
        // clang-format off
        ServerRows<MessageRow>({
            {"heard whole", {"MessageInterval=4\r\n", 1000, 16000, 300}},
            {"paused and resumed", {"MessageInterval=3\r\n[Remote]\r\nWebPort=18471\r\nWebLan=0\r\nWebKey=k\r\n", 3000, 20000, 150, true}}});
        // clang-format on
    }
    // The music (400 Hz) is at its low level by the message's (1200 Hz) first sound and high again
    // after it. Paused through the web remote 1 s into the message, all is silent within 0.3 s;
    // resumed, the rest of the message plays over the music at its low level.
    void messageOverLoweredMusic() {
        QFETCH(MessageRow, r);
        if (!UseServer())
            return;
        AddMedia(r.settings,
                 {{"Music/long.wav", 30000, 400}, {"Messages/message.wav", r.messageMs, 1200}});
        qint64 pausedAt = -1, resumedAt = -1, openedAt = -1;
        const auto post = [](const QString& verb) {
            return QProcess::execute("curl", {"-sfo", "/dev/null", "-m", "10", "-X", "POST", "-H",
                                              "Authorization: Bearer k",
                                              "http://127.0.0.1:18471/api/v1/" + verb}) == 0;
        };
        const std::vector<float> samples = RecordProgram(r.recordMs, [&] {
            if (!r.paused)
                return;
            QVERIFY(Plays("Messages", 12000));
            openedAt = sinceStart_.elapsed();
            QTest::qWait(1000);
            pausedAt = sinceStart_.elapsed();
            QVERIFY(post("pause"));
            QTest::qWait(1500);
            resumedAt = sinceStart_.elapsed();
            QVERIFY(post("resume"));
        });
        QVERIFY(!r.paused || resumedAt > 0);
        const QList<double> music = ToneLevels(samples, 400, 2);
        const QList<double> message = ToneLevels(samples, 1200, 2);
        const double musicFull = Peak(music), messageFull = Peak(message);
        // The start of `windows` of quiet, of the message or everything: a dropout is neither.
        const auto quietFrom = [&](qsizetype from, qsizetype windows, bool everything) {
            for (; from + windows < message.size(); ++from)
                if (Peak(message, from, from + windows) <= messageFull / 2 &&
                    (!everything || Peak(music, from, from + windows) < 0.02 * musicFull))
                    return from;
            return message.size();
        };
        const qsizetype onset = FirstAbove(message, messageFull / 2);
        QVERIFY2(messageFull > 0.2 && onset > 0 && onset < message.size(), "the message is heard");
        QVERIFY2(Peak(music, 0, onset) > 0.9 * musicFull,
                 "the music plays at its high level before the message");
        const double under = std::max(music[onset - 1], music[onset]);
        QVERIFY2(under < 0.2 * musicFull,
                 Say("music at %1% of its high level at the message", 100 * under / musicFull));
        const qsizetype held = r.paused ? quietFrom(onset, 30, true) : onset;
        const qsizetype back = r.paused ? FirstAbove(message, messageFull / 2, held) : onset;
        const qsizetype ended = quietFrom(back, 10, false);
        QVERIFY2(ended < message.size(),
                 Say("the message heard at %1, held at %2, back at %3 of %4 windows", onset, held,
                     back, message.size()));
        if (r.paused) {
            // Silent up to 0.5 s before the message is back: the music may be ready a little
            // sooner.
            const double paused = Peak(music, held, back - 50);
            QVERIFY2(paused < 0.02 * musicFull,
                     Say("music at %1% in the pause", 100 * paused / musicFull));
            // Timed from the message's first sound: the server's latencies shift the recording.
            const qint64 heldLate = (held - onset) * 10 - (pausedAt - openedAt);
            const qsizetype before = held - onset, after = ended - back, silence = back - held;
            QVERIFY2(before >= 50 && after >= 50,
                     Say("%1 + %2 windows of the message", before, after));
            // In time, and all of the message once: not under the sanitizers, which keep no time.
            if (!CORVANE_SANITIZED) {
                QVERIFY2(heldLate <= 300, Say("the pause heard %1 ms late", heldLate));
                QVERIFY2(std::abs(silence * 10 - (resumedAt - pausedAt)) <= 150,
                         Say("silent for %1 ms", silence * 10));
                QVERIFY2(std::abs(before + after - 300) <= 5,
                         Say("%1 + %2 windows of the message", before, after));
            }
            // The median of half a second, which a dropout of the server's does not move.
            QList<double> resumed(music.begin() + back, music.begin() + back + 50);
            std::nth_element(resumed.begin(), resumed.begin() + 25, resumed.end());
            QVERIFY2(resumed[25] < 0.2 * musicFull && resumed[25] > 0.02 * musicFull,
                     Say("music at %1% under the resumed message", 100 * resumed[25] / musicFull));
        }
        const double rise = Peak(music, ended, ended + r.backWithin);
        QVERIFY2(music.size() > ended + r.backWithin && rise > 0.9 * musicFull,
                 Say("music at most %1% in the %2 windows from the message's end, %3 of %4",
                     100 * rise / musicFull, r.backWithin, ended, music.size()));
    }

    void followsTheChosenOutput_data() { ServerRows(); }
    // On the output the settings name, the default within 2 s of its removal, back on its return.
    void followsTheChosenOutput() {
        if (!UseServer())
            return;
        QString module;
        const auto plug = [&] {
            module = Pactl(sound_, {"load-module", "module-null-sink", "sink_name=second",
                                    "sink_properties=device.description=Second"})
                         .second.trimmed();
        };
        const auto unplug = [&] { Pactl(sound_, {"unload-module", module}); };
        const auto unplugAtEnd = qScopeGuard(unplug);
        // The sink the program's stream plays on, by name.
        const auto playsOn = [&] {
            QHash<QString, QString> sinks;
            for (const QString& line : Pactl(sound_, {"list", "short", "sinks"}).second.split('\n'))
                sinks[line.section('\t', 0, 0)] = line.section('\t', 1, 1);
            return sinks.value(
                Pactl(sound_, {"list", "short", "sink-inputs"}).second.section('\t', 1, 1));
        };
        // The sink three readings in a row name, or the last: a new stream is listed without one.
        const auto settlesOn = [&](const QString& sink, int ms) {
            QString last;
            int held = 0;
            const auto steady = [&] {
                return (held = (last = playsOn()) == sink ? held + 1 : 0) == 3;
            };
            return QTest::qWaitFor(steady, ms) ? sink : last;
        };
        plug();
        AddMedia("MessageInterval=0\r\n[Options]\r\nOutputDevice=second\r\n",
                 {{"Music/long.wav", 30000, 400}});
        Start();
        // Only a bound: the sanitized program takes more than 10 s to start on PipeWire.
        QCOMPARE(settlesOn("second", 30000), "second");
        // Well under a second unsanitized; the sanitized program takes seconds to build an output.
        const int rebuilt = CORVANE_SANITIZED ? 15000 : 2000;
        unplug();
        QCOMPARE(settlesOn("e2e", rebuilt), "e2e");
        plug();
        QCOMPARE(settlesOn("second", rebuilt), "second");
        Terminate();
    }
};

QTEST_GUILESS_MAIN(EndToEndTest)
#include "tst_e2e.moc"
