// Starts the real program, copied into a fresh program folder with real media files, and checks
// from outside what a user would see: folders made, music and messages playing, the settings
// written when the program is told to end, and nothing written when the window is only closed.

#include <signal.h>
#include <sys/resource.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <functional>

#include "MediaFixtures.h"
#include "WindowClose.h"

namespace {

const QByteArray kSettingsHeader = "[Settings]\r\n";

// The media files the program holds open: GStreamer keeps each open device's file open, so these
// show which files are playing (or have just played) on the two channels.
QStringList OpenMediaFiles(qint64 pid) {
    QStringList files;
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    for (const QFileInfo& fd :
         fds.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot)) {
        const QString target = fd.symLinkTarget();
        if (target.contains(QStringLiteral("/Music/")) ||
            target.contains(QStringLiteral("/Messages/"))) {
            files.append(target);
        }
    }
    return files;
}

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

// Whether the process has its own handler for SIGTERM: the "SigCgt" mask of its status.
bool CatchesTerminate(qint64 pid) {
    const QByteArray status = [&] {
        QFile file(QStringLiteral("/proc/%1/status").arg(pid));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    const qsizetype at = status.indexOf("SigCgt:");
    bool ok = false;
    const qulonglong caught =
        at < 0
            ? 0
            : status.mid(at + 7, status.indexOf('\n', at) - at - 7).trimmed().toULongLong(&ok, 16);
    return ok && (caught & (1ULL << (SIGTERM - 1))) != 0;
}

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// An X server of the test's own, so that the window can be closed as a window manager would.
class VirtualDisplay {
public:
    VirtualDisplay() {
        const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
        if (xvfb.isEmpty()) {
            return;
        }
        for (int number = 91; number < 120 && name_.isEmpty(); ++number) {
            if (QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number)) ||
                QFileInfo::exists(QStringLiteral("/tmp/.X%1-lock").arg(number))) {
                continue;
            }
            server_.start(xvfb, {QStringLiteral(":%1").arg(number), QStringLiteral("-screen"),
                                 QStringLiteral("0"), QStringLiteral("800x600x24"),
                                 QStringLiteral("-nolisten"), QStringLiteral("tcp")});
            const QString candidate = QStringLiteral(":%1").arg(number);
            if (WaitFor(
                    [&] {
                        return QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number));
                    },
                    5000)) {
                name_ = candidate;
            } else {
                server_.kill();
                server_.waitForFinished();
            }
        }
    }
    ~VirtualDisplay() {
        if (server_.state() != QProcess::NotRunning) {
            server_.terminate();
            server_.waitForFinished(3000);
        }
    }
    QString Name() const { return name_; }

private:
    QProcess server_;
    QString name_;
};

// A sound server of the test's own, with a sink that plays into nothing, so the program has a real
// sound output whether or not the machine has one.
class SoundServer {
public:
    SoundServer() {
        const QString pulseaudio = QStandardPaths::findExecutable(QStringLiteral("pulseaudio"));
        if (pulseaudio.isEmpty() || !runtime_.isValid()) {
            return;
        }
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("PULSE_RUNTIME_PATH"), runtime_.path());
        server_.setProcessEnvironment(environment);
        server_.start(pulseaudio, {QStringLiteral("-n"), QStringLiteral("--daemonize=no"),
                                   QStringLiteral("--exit-idle-time=-1"),
                                   QStringLiteral("--load=module-null-sink sink_name=e2e"),
                                   QStringLiteral("--load=module-native-protocol-unix")});
        const QString socket = runtime_.filePath(QStringLiteral("native"));
        if (WaitFor([&] { return QFileInfo::exists(socket); }, 10000)) {
            address_ = QStringLiteral("unix:") + socket;
        }
    }
    ~SoundServer() {
        server_.terminate();
        server_.waitForFinished(3000);
    }
    QString Address() const { return address_; }

private:
    QTemporaryDir runtime_;
    QProcess server_;
    QString address_;
};

}  // namespace

class EndToEndTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir folder_;
    SoundServer sound_;
    QProcess program_;

    QString Path(const QString& name) const { return folder_.filePath(name); }
    QString SettingsFile() const { return Path(QStringLiteral("corvane.ini")); }

    void InstallProgram() {
        const QString built = qEnvironmentVariable("CORVANE_PROGRAM_DIR");
        QVERIFY2(!built.isEmpty(), "CORVANE_PROGRAM_DIR names the built program's folder");
        QVERIFY(QFile::copy(built + QStringLiteral("/corvane"), Path(QStringLiteral("corvane"))));
        QFile::copy(built + QStringLiteral("/MESSAGES.html"),
                    Path(QStringLiteral("MESSAGES.html")));
    }

    void AddMedia() {
        QVERIFY(QDir(folder_.path()).mkpath(QStringLiteral("Music")));
        QVERIFY(QDir(folder_.path()).mkpath(QStringLiteral("Messages")));
        QVERIFY(MediaFixtures::MakeWav(Path(QStringLiteral("Music/Tune A.wav")), 4000, 330));
        QVERIFY(MediaFixtures::MakeMp3(Path(QStringLiteral("Music/tune b.mp3")), 4000, 440));
        QVERIFY(MediaFixtures::MakeWav(Path(QStringLiteral("Messages/Notice.wav")), 600, 880));
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
        QVERIFY2(!sound_.Address().isEmpty(), "pulseaudio could not be started");
        environment.insert(QStringLiteral("PULSE_SERVER"), sound_.Address());
        if (display.isEmpty()) {
            environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        } else {
            environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
            environment.insert(QStringLiteral("DISPLAY"), display);
        }
        program_.setProcessEnvironment(environment);
        program_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // Started from elsewhere: the program must find its folder by itself.
        program_.setWorkingDirectory(QDir::tempPath());
        program_.start(Path(QStringLiteral("corvane")), {});
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
        InstallProgram();
    }

    void cleanup() {
        if (program_.state() != QProcess::NotRunning) {
            program_.kill();
            program_.waitForFinished(5000);
        }
    }

    void playsMusicAndMessagesAndSavesOnTerminate() {
        AddMedia();
        QVERIFY(MediaFixtures::MakeFile(
            SettingsFile(), kSettingsHeader + "MessageInterval=2\r\nMusicVolumeLow=20\r\n"));
        Start();
        const qint64 pid = program_.processId();
        QVERIFY2(
            WaitFor(
                [&] { return OpenMediaFiles(pid).filter(QStringLiteral("/Music/")).size() == 1; },
                10000),
            "a music file is open");
        QVERIFY2(WaitFor(
                     [&] {
                         return !OpenMediaFiles(pid)
                                     .filter(QStringLiteral("/Messages/Notice.wav"))
                                     .isEmpty();
                     },
                     15000),
                 "the message is started at the interval");
        // Music files follow one another: the second tune is started when the first one ends.
        const QString firstTune = OpenMediaFiles(pid).filter(QStringLiteral("/Music/")).value(0);
        QVERIFY2(WaitFor(
                     [&] {
                         const QStringList music =
                             OpenMediaFiles(pid).filter(QStringLiteral("/Music/"));
                         return !music.isEmpty() && music.first() != firstTune;
                     },
                     15000),
                 "the next music file starts after the first ends");
        // An upgrade replaces the executable while it runs; the settings still go beside it.
        QVERIFY(QFile::remove(Path(QStringLiteral("corvane"))));
        InstallProgram();
        Terminate();
        QCOMPARE(ReadAll(SettingsFile()), kSettingsHeader +
                                              "MessageInterval=2\r\nMusicVolumeLow=20\r\n"
                                              "MusicVolumeHigh=100\r\nMessageVolume=100\r\n");
    }

    void storedValuesAreBroughtIntoRange_data() {
        QTest::addColumn<QByteArray>("stored");  // "-": no settings file, no media folders
        QTest::addColumn<QByteArray>("saved");
        QTest::addColumn<int>("fileSizeLimit");
        QTest::newRow("first start: defaults")
            << QByteArray("-")
            << QByteArray(
                   "MessageInterval=30\r\nMusicVolumeHigh=100\r\nMusicVolumeLow=10\r\n"
                   "MessageVolume=100\r\n")
            << 0;
        QTest::newRow("not numbers") << QByteArray("MessageInterval=abc\r\nMusicVolumeHigh=\r\n")
                                     << QByteArray(
                                            "MessageInterval=0\r\nMusicVolumeHigh=0\r\n"
                                            "MusicVolumeLow=10\r\nMessageVolume=100\r\n")
                                     << 0;
        QTest::newRow("out of range") << QByteArray(
                                             "MessageInterval=99999\r\nMusicVolumeHigh=-7\r\n"
                                             "MusicVolumeLow=1E9\r\nMessageVolume=&H40\r\n")
                                      << QByteArray(
                                             "MessageInterval=600\r\nMusicVolumeHigh=0\r\n"
                                             "MusicVolumeLow=100\r\nMessageVolume=64\r\n")
                                      << 0;
        // A write past the limit fails instead of ending the program, and the old file stays.
        QTest::newRow("file size limit")
            << QByteArray("MessageInterval=45\r\nMusicVolumeHigh=70\r\n")
            << QByteArray("MessageInterval=45\r\nMusicVolumeHigh=70\r\n") << 16;
    }

    // The media folders are made at the first start; what was stored comes back in range.
    void storedValuesAreBroughtIntoRange() {
        QFETCH(QByteArray, stored);
        QFETCH(QByteArray, saved);
        QFETCH(int, fileSizeLimit);
        if (stored != "-") {
            AddMedia();
            QVERIFY(MediaFixtures::MakeFile(SettingsFile(), kSettingsHeader + stored));
        }
        Start({}, static_cast<rlim_t>(fileSizeLimit));
        QVERIFY(WaitFor(
            [&] {
                return stored == "-" ? QFileInfo(Path(QStringLiteral("Messages"))).isDir()
                                     : !OpenMediaFiles(program_.processId()).isEmpty();
            },
            10000));
        QVERIFY(stored != "-" || !QFileInfo::exists(SettingsFile()));
        QTest::qWait(1500);
        QCOMPARE(program_.state(), QProcess::Running);
        Terminate();
        QCOMPARE(ReadAll(SettingsFile()), kSettingsHeader + saved);
    }

    // An ending request during start-up ends the program without saving anything but what it
    // loaded: the stored values survive.
    void terminateDuringStartUpKeepsStoredSettings() {
        AddMedia();
        const QByteArray stored = kSettingsHeader + "MessageInterval=45\r\nMusicVolumeHigh=70\r\n";
        QVERIFY(MediaFixtures::MakeFile(SettingsFile(), stored));
        Start();
        // Until the program catches SIGTERM, the signal would kill it before it has started.
        QVERIFY(WaitFor([&] { return CatchesTerminate(program_.processId()); }, 10000, 1));
        Terminate();
        const QByteArray saved = ReadAll(SettingsFile());
        QVERIFY2(saved.startsWith(stored), saved.constData());
    }

    void closingTheWindowKeepsPlayingAndWritesNothing() {
        VirtualDisplay display;
        if (display.Name().isEmpty()) {
            QSKIP("Xvfb is not installed");
        }
        AddMedia();
        const QByteArray stored = kSettingsHeader + "MessageInterval=45\r\n";
        QVERIFY(MediaFixtures::MakeFile(SettingsFile(), stored));
        Start(display.Name());
        const qint64 pid = program_.processId();
        QVERIFY(WaitFor([&] { return !OpenMediaFiles(pid).isEmpty(); }, 10000));
        QVERIFY2(
            WaitFor(
                [&] { return SendCloseRequest(display.Name().toLocal8Bit().constData(), "ZEL"); },
                5000),
            "the console window is found");
        QTest::qWait(2000);
        QCOMPARE(program_.state(), QProcess::Running);
        QVERIFY(!OpenMediaFiles(pid).filter(QStringLiteral("/Music/")).isEmpty());
        QCOMPARE(ReadAll(SettingsFile()), stored);
        Terminate();
        QVERIFY(ReadAll(SettingsFile()).startsWith(kSettingsHeader + "MessageInterval=45\r\n"));
    }
};

QTEST_GUILESS_MAIN(EndToEndTest)
#include "tst_e2e.moc"
