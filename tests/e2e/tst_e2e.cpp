// Starts the real program, copied into a fresh program folder with real media files, and checks
// from outside what a user would see: folders made, music and messages playing, the settings
// written when the program is told to end, and nothing written when the window is only closed.
// How stored values are brought into range is the console test's.

#include <ebur128.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <functional>

#include "MediaFixtures.h"
#include "WindowClose.h"

namespace {

const QByteArray kSettingsHeader = "[Settings]\r\n";

bool WaitFor(const std::function<bool()>& condition, int milliseconds, int stepMs = 100) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < milliseconds) {
        if (condition()) {
            return true;
        }
        QTest::qWait(stepMs);
    }
    return condition();
}

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Whether the process has its own handler for SIGTERM: the "SigCgt" mask of its status.
bool CatchesTerminate(qint64 pid) {
    for (const QByteArray& line : ReadAll(QString("/proc/%1/status").arg(pid)).split('\n')) {
        if (line.startsWith("SigCgt:")) {
            return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (SIGTERM - 1)) & 1;
        }
    }
    return false;
}

constexpr uid_t kNobody = 65534;

// Runs `process` as another user than root, whom no permission of a file or folder stops.
void AsOtherUser(QProcess& process) {
    process.setChildProcessModifier([] {
        if (::geteuid() == 0 && (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) {
            ::_exit(3);
        }
    });
}

// A server of the test's own, asked to end with the test.
struct Server : QProcess {
    ~Server() override {
        terminate();
        waitForFinished(3000);
    }
};

// An X server, so that the window can be closed as a window manager would: its display name, once
// it takes connections. Xvfb picks a free display itself.
QString StartDisplay(Server& xvfb) {
    const QString program = QStandardPaths::findExecutable("Xvfb");
    if (program.isEmpty()) {
        return {};
    }
    xvfb.start(program, {"-displayfd", "1", "-screen", "0", "800x600x24", "-nolisten", "tcp"});
    return WaitFor([&] { return xvfb.canReadLine(); }, 5000)
               ? ':' + QString::fromLatin1(xvfb.readLine().trimmed())
               : QString();
}

// A sound server with a sink that plays into nothing, so the program has a real sound output
// whether or not the machine has one: its address, once it takes connections.
QString StartSound(Server& pulseaudio, const QTemporaryDir& runtime) {
    const QString program = QStandardPaths::findExecutable("pulseaudio");
    if (program.isEmpty() || !runtime.isValid()) {
        return {};
    }
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("PULSE_RUNTIME_PATH", runtime.path());
    pulseaudio.setProcessEnvironment(environment);
    pulseaudio.start(
        program, {"-n", "--daemonize=no", "--exit-idle-time=-1",
                  "--load=module-null-sink sink_name=e2e", "--load=module-native-protocol-unix"});
    const QString socket = runtime.filePath("native");
    return WaitFor([&] { return QFileInfo::exists(socket); }, 10000) ? "unix:" + socket : QString();
}

}  // namespace

// clang-format off
struct SaveRow { QByteArray stored, saved; int fileSizeLimit; };  // stored "-": no settings file, no media folders
struct LineRow { QStringList arguments; int exit; QString output; };  // output: a pattern the printed text matches
// clang-format on

class EndToEndTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir folder_;
    QTemporaryDir soundRuntime_;
    Server soundServer_;
    const QString sound_ = StartSound(soundServer_, soundRuntime_);
    QProcess program_;

    QString Path(const QString& name) const { return folder_.filePath(name); }
    QString SettingsFile() const { return Path("corvane.ini"); }

    // The media files the program holds open whose path holds `part`: GStreamer keeps each open
    // device's file open, so these show what plays (or has just played) on the two channels.
    QStringList OpenMedia(const QString& part = "/") const {
        QStringList files;
        const QDir fds(QString("/proc/%1/fd").arg(program_.processId()));
        for (const QFileInfo& fd : fds.entryInfoList(QDir::System | QDir::Files)) {
            const QString target = fd.symLinkTarget();
            if ((target.contains("/Music/") || target.contains("/Messages/")) &&
                target.contains(part)) {
                files.append(target);
            }
        }
        return files;
    }

    void InstallProgram() {
        const QString built = qEnvironmentVariable("CORVANE_PROGRAM_DIR");
        QVERIFY2(!built.isEmpty(), "CORVANE_PROGRAM_DIR names the built program's folder");
        QVERIFY(QFile::copy(built + "/corvane", Path("corvane")));
        QFile::copy(built + "/MESSAGES.html", Path("MESSAGES.html"));
    }

    void AddMedia(const QByteArray& settings) {
        QVERIFY(QDir(folder_.path()).mkpath("Music") && QDir(folder_.path()).mkpath("Messages"));
        QVERIFY(MediaFixtures::MakeWav(Path("Music/Tune A.wav"), 4000, 330));
        QVERIFY(MediaFixtures::MakeMp3(Path("Music/tune b.mp3"), 4000, 440));
        QVERIFY(MediaFixtures::MakeWav(Path("Messages/Notice.wav"), 600, 880));
        QVERIFY(MediaFixtures::MakeFile(SettingsFile(), kSettingsHeader + settings));
    }

    // `fileSizeLimit`: the largest file the program may write, in bytes; 0 for no limit.
    void Start(const QString& display = {}, rlim_t fileSizeLimit = 0) {
        program_.setChildProcessModifier([fileSizeLimit] {
            const rlimit limit{fileSizeLimit, fileSizeLimit};
            if (fileSizeLimit > 0) {
                ::setrlimit(RLIMIT_FSIZE, &limit);
            }
        });
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        QVERIFY2(!sound_.isEmpty(), "pulseaudio could not be started");
        environment.insert("PULSE_SERVER", sound_);
        environment.insert("QT_QPA_PLATFORM", display.isEmpty() ? "offscreen" : "xcb");
        if (!display.isEmpty()) {
            environment.insert("DISPLAY", display);
        }
        program_.setProcessEnvironment(environment);
        program_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // Started from elsewhere: the program must find its folder by itself.
        program_.setWorkingDirectory(QDir::tempPath());
        program_.start(Path("corvane"), {});
        QVERIFY(program_.waitForStarted(5000));
    }

    void Terminate() {
        ::kill(static_cast<pid_t>(program_.processId()), SIGTERM);
        QVERIFY2(program_.waitForFinished(10000), "the program ends on SIGTERM");
        QCOMPARE(program_.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program_.exitCode(), 0);
    }

private slots:
    void init() {
        QVERIFY(folder_.isValid());
        QDir(folder_.path()).removeRecursively();
        QVERIFY(QDir().mkpath(folder_.path()));
        qputenv("XDG_CACHE_HOME", QFile::encodeName(Path("cache")));
        InstallProgram();
    }

    void cleanup() {
        if (program_.state() != QProcess::NotRunning) {
            program_.kill();
            program_.waitForFinished(5000);
        }
    }

    void playsMusicAndMessagesAndSavesOnTerminate() {
        AddMedia("MessageInterval=2\r\nMusicVolumeLow=20\r\n");
        Start();
        QVERIFY2(WaitFor([&] { return OpenMedia("/Music/").size() == 1; }, 10000),
                 "a music file is open");
        QVERIFY2(WaitFor([&] { return !OpenMedia("/Messages/Notice.wav").isEmpty(); }, 15000),
                 "the message is started at the interval");
        // Music files follow one another: the second tune is started when the first one ends.
        const QString firstTune = OpenMedia("/Music/").value(0);
        QVERIFY2(
            WaitFor([&] { return OpenMedia("/Music/").value(0, firstTune) != firstTune; }, 15000),
            "the next music file starts after the first ends");
        // An upgrade replaces the executable while it runs; the settings still go beside it.
        QVERIFY(QFile::remove(Path("corvane")));
        InstallProgram();
        Terminate();
        QCOMPARE(ReadAll(SettingsFile()), kSettingsHeader +
                                              "MessageInterval=2\r\nMusicVolumeLow=20\r\n"
                                              "MusicVolumeHigh=100\r\nMessageVolume=100\r\n");
    }

    void savesOnTerminate_data() {
        QTest::addColumn<SaveRow>("r");
        // clang-format off
        QTest::newRow("first start: folders made, defaults saved") << SaveRow{"-", "MessageInterval=30\r\nMusicVolumeHigh=100\r\nMusicVolumeLow=10\r\nMessageVolume=100\r\n", 0};
        // A write past the limit fails instead of ending the program, and the old file stays.
        QTest::newRow("file size limit") << SaveRow{"MessageInterval=45\r\nMusicVolumeHigh=70\r\n", "MessageInterval=45\r\nMusicVolumeHigh=70\r\n", 16};
        // clang-format on
    }
    void savesOnTerminate() {
        QFETCH(SaveRow, r);
        if (r.stored != "-") {
            AddMedia(r.stored);
        }
        Start({}, static_cast<rlim_t>(r.fileSizeLimit));
        QVERIFY(WaitFor(
            [&] {
                return r.stored == "-" ? QFileInfo(Path("Messages")).isDir()
                                       : !OpenMedia().isEmpty();
            },
            10000));
        QVERIFY(r.stored != "-" || !QFileInfo::exists(SettingsFile()));
        QTest::qWait(1500);
        QCOMPARE(program_.state(), QProcess::Running);
        Terminate();
        QCOMPARE(ReadAll(SettingsFile()), kSettingsHeader + r.saved);
    }

    void commandLine_data() {
        QTest::addColumn<LineRow>("r");
        // clang-format off
        QTest::newRow("version") << LineRow{{"--version"}, 0, "^Corvane \\d\\.\\d\\d\\.\\d{4}\n$"};
        QTest::newRow("help") << LineRow{{"--help"}, 0, "Usage: corvane .*--folder <DIR>"};
        QTest::newRow("unknown option") << LineRow{{"--shuffle"}, 2, "^corvane: Unknown option 'shuffle'"};
        QTest::newRow("stray argument") << LineRow{{"Music"}, 2, "^corvane: unexpected argument 'Music'"};
        QTest::newRow("missing folder") << LineRow{{"--folder", "/nonexistent/zone"}, 2, "^corvane: the folder /nonexistent/zone does not exist\n$"};
        QTest::newRow("folder that cannot be written") << LineRow{{"--folder", "/usr/share"}, 2, "^corvane: the folder /usr/share cannot be written\n$"};
        QTest::newRow("folder without a name") << LineRow{{"--folder"}, 2, "^corvane: Missing value after '--folder'"};
        // clang-format on
    }
    // Answered before the window system is reached: no display is given. Run as another user than
    // root, whom no folder refuses.
    void commandLine() {
        QFETCH(LineRow, r);
        QVERIFY(QFile::setPermissions(folder_.path(), QFile(folder_.path()).permissions() |
                                                          QFileDevice::ReadOther |
                                                          QFileDevice::ExeOther));
        QProcess run;
        AsOtherUser(run);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove("DISPLAY");
        environment.remove("QT_QPA_PLATFORM");
        run.setProcessEnvironment(environment);
        run.setProcessChannelMode(QProcess::MergedChannels);
        run.start(Path("corvane"), r.arguments);
        QVERIFY(run.waitForFinished(10000));
        const QString output = QString::fromLocal8Bit(run.readAll());
        QCOMPARE(run.exitStatus(), QProcess::NormalExit);
        QCOMPARE(run.exitCode(), r.exit);
        QVERIFY2(QRegularExpression(r.output, QRegularExpression::DotMatchesEverythingOption)
                     .match(output)
                     .hasMatch(),
                 qPrintable(output));
        QVERIFY(!QFileInfo::exists(Path("Music")));  // nothing started
    }

    // A second start on the same folder brings the first forward and ends; a lock left by a killed
    // player blocks nothing.
    void onePlayerPerFolder() {
        AddMedia("MessageInterval=45\r\n");
        Start();
        QVERIFY(WaitFor([&] { return !OpenMedia().isEmpty(); }, 10000));
        QProcess second;
        second.setProcessEnvironment(program_.processEnvironment());
        second.start(Path("corvane"), {"--folder", folder_.path()});
        QVERIFY(second.waitForFinished(10000));
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(program_.state(), QProcess::Running);
        program_.kill();
        QVERIFY(program_.waitForFinished(5000));
        Start();
        QVERIFY2(WaitFor([&] { return !OpenMedia().isEmpty(); }, 10000), "plays after a kill");
        Terminate();
    }

    // The Debian package unpacked into a temporary root, as `make package` builds it; "" when it
    // cannot be built. Made once for the cases that need it.
    QString UnpackedPackage() {
        static QTemporaryDir root;
        static bool unpacked = false;
        if (!unpacked) {
            const QString build = QFileInfo(qEnvironmentVariable("CORVANE_PROGRAM_DIR")).path();
            QProcess cpack;
            cpack.setWorkingDirectory(build);
            cpack.start("cpack", {"-G", "DEB"});
            const QStringList debs = cpack.waitForFinished(180000) && cpack.exitCode() == 0
                                         ? QDir(build).entryList({"corvane_*.deb"}, QDir::Files)
                                         : QStringList();
            unpacked = !debs.isEmpty() &&
                       QProcess::execute("dpkg-deb",
                                         {"-x", build + '/' + debs.first(), root.path()}) == 0 &&
                       QFile::setPermissions(root.path(), QFile(root.path()).permissions() |
                                                              QFileDevice::ReadOther |
                                                              QFileDevice::ExeOther);
        }
        return unpacked ? root.path() : QString();
    }

    // Installed from the package, where nothing beside /usr/bin/corvane may be written, the
    // program keeps its folders and settings in the user's data folder, and a second start
    // leaves one player. Run as another user than root, whom nothing stops.
    void installedPackage() {
        const QString root = UnpackedPackage();
        QVERIFY2(!root.isEmpty(), "the package is built and unpacked");
        QTemporaryDir home;
        QVERIFY(::geteuid() != 0 ||
                ::chown(QFile::encodeName(home.path()).constData(), kNobody, kNobody) == 0);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.insert("HOME", home.path());
        environment.insert("XDG_DATA_HOME", home.path() + "/share");
        environment.insert("XDG_CONFIG_HOME", home.path() + "/config");
        environment.insert("XDG_RUNTIME_DIR", home.path());
        QProcess second;
        for (QProcess* run : {&program_, &second}) {
            AsOtherUser(*run);
            run->setProcessEnvironment(environment);
        }
        program_.start(root + "/usr/bin/corvane", {});
        const QString own = home.path() + "/share/corvane";
        QVERIFY(WaitFor([&] { return QFileInfo(own + "/Messages").isDir(); }, 10000));
        second.start(root + "/usr/bin/corvane", {});
        QVERIFY(second.waitForFinished(10000));
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(program_.state(), QProcess::Running);
        Terminate();
        QVERIFY(ReadAll(own + "/corvane.ini").startsWith(kSettingsHeader + "MessageInterval=30"));
        QVERIFY(!QFileInfo::exists(root + "/usr/bin/Music"));
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
            QSKIP(
                qPrintable(command.first() + " is not installed: scripts/install-deps.sh has it"));
        }
        const QString root = UnpackedPackage();
        QVERIFY2(!root.isEmpty(), "the package is built and unpacked");
        QProcess run;
        run.setProcessChannelMode(QProcess::MergedChannels);
        run.start(validator,
                  command.mid(1, command.size() - 2) + QStringList{root + command.last()});
        QVERIFY(run.waitForFinished(60000));
        QVERIFY2(run.exitCode() == 0, run.readAll().constData());
    }

    // An ending request during start-up ends the program without saving anything but what it
    // loaded: the stored values survive.
    void terminateDuringStartUpKeepsStoredSettings() {
        AddMedia("MessageInterval=45\r\nMusicVolumeHigh=70\r\n");
        const QByteArray stored = ReadAll(SettingsFile());
        Start();
        // Until the program catches SIGTERM, the signal would kill it before it has started.
        QVERIFY(WaitFor([&] { return CatchesTerminate(program_.processId()); }, 10000, 1));
        Terminate();
        const QByteArray saved = ReadAll(SettingsFile());
        QVERIFY2(saved.startsWith(stored), saved.constData());
    }

    // A tone at -30 LUFS and one at -10 play at one level, as recorded from the sound server, once
    // the first start has measured them.
    void evenLoudnessHeardInTheOutput() {
        QVERIFY(QDir(folder_.path()).mkpath("Music") && QDir(folder_.path()).mkpath("Messages"));
        for (const auto& [name, amplitude] : {std::pair{"quiet.wav", 0.0316}, {"loud.wav", 0.316}})
            QVERIFY(MediaFixtures::MakeWav(Path("Music/") + name, 3000, 1000, amplitude));
        QVERIFY(MediaFixtures::MakeFile(
            SettingsFile(),
            kSettingsHeader + "MessageInterval=0\r\n[Options]\r\nEvenLoudness=1\r\n"));
        Start();
        QVERIFY2(
            WaitFor([&] { return ReadAll(Path("cache/Corvane/loudness.txt")).count('\n') == 2; },
                    20000),
            "both files are measured");
        Terminate();

        QProcess recorder;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("PULSE_SERVER", sound_);
        recorder.setProcessEnvironment(environment);
        recorder.start("parec", {"-d", "e2e.monitor", "--raw", "--format=float32le", "--rate=44100",
                                 "--channels=2"});
        QVERIFY(recorder.waitForStarted(5000));
        Start();
        QTest::qWait(7000);  // two tracks and more
        Terminate();
        recorder.terminate();
        QVERIFY(recorder.waitForFinished(5000));
        const QByteArray samples = recorder.readAllStandardOutput();

        // Momentary loudness, 400 ms blocks every 100 ms, of the blocks heard whole within one
        // track: none holding a silence (before the first sound, at a track change, after the
        // end) of 5 ms or more, however long a loaded machine makes it.
        ebur128_state* meter = ebur128_init(2, 44100, EBUR128_MODE_M);
        const auto release = qScopeGuard([&meter] { ebur128_destroy(&meter); });
        constexpr int kStepFrames = 4410, kSilentFrames = 220, kStepsPerBlock = 4;
        const auto* frames = reinterpret_cast<const float*>(samples.constData());
        const qsizetype steps = samples.size() / qsizetype(2 * sizeof(float) * kStepFrames);
        QList<double> heard;
        int sinceSilence = 0;
        for (qsizetype step = 0; step < steps; ++step) {
            const float* at = frames + 2 * kStepFrames * step;
            ebur128_add_frames_float(meter, at, kStepFrames);
            int quiet = 0, longest = 0;
            for (int i = 0; i < kStepFrames; ++i) {
                quiet = std::abs(at[2 * i]) + std::abs(at[2 * i + 1]) < 1e-4F ? quiet + 1 : 0;
                longest = std::max(longest, quiet);
            }
            sinceSilence = longest >= kSilentFrames ? 0 : sinceSilence + 1;
            double momentary = -HUGE_VAL;
            ebur128_loudness_momentary(meter, &momentary);
            if (sinceSilence >= kStepsPerBlock)
                heard.append(momentary);
        }
        QVERIFY2(heard.size() >= 30, qPrintable(QString::number(heard.size())));
        const auto [quietest, loudest] = std::minmax_element(heard.begin(), heard.end());
        QVERIFY2(*quietest >= -19 && *loudest <= -17,
                 qPrintable(QString("%1 to %2 LUFS").arg(*quietest).arg(*loudest)));
    }

    void closingTheWindowKeepsPlayingAndWritesNothing() {
        Server xvfb;
        const QString display = StartDisplay(xvfb);
        if (display.isEmpty()) {
            QSKIP("Xvfb is not installed");
        }
        AddMedia("MessageInterval=45\r\n");
        const QByteArray stored = ReadAll(SettingsFile());
        Start(display);
        QVERIFY(WaitFor([&] { return !OpenMedia().isEmpty(); }, 10000));
        QVERIFY2(WaitFor([&] { return SendCloseRequest(display.toLocal8Bit().constData(), "ZEL"); },
                         5000),
                 "the console window is found");
        QTest::qWait(2000);
        QCOMPARE(program_.state(), QProcess::Running);
        QVERIFY(!OpenMedia("/Music/").isEmpty());
        QCOMPARE(ReadAll(SettingsFile()), stored);
        Terminate();
        QVERIFY(ReadAll(SettingsFile()).startsWith(stored));
    }
};

QTEST_GUILESS_MAIN(EndToEndTest)
#include "tst_e2e.moc"
