// Figures for the channel layer over GStreamer: how long one file start takes (close, open,
// volume, play, as the console does it), how long a mode query takes, and what playing a file costs
// in CPU time and memory next to gst-play-1.0 playing the same file.
//
//   bench_mci [--runs N]
//
// The media files are made in a temporary folder first; the 60-minute MP3 takes a while.

#include <gst/gst.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "MediaFixtures.h"
#include "audio/Mod_MCI.h"
#include "platform/mci/gstdevices.h"

extern char** environ;

namespace {

constexpr char kAlias[] = "ZEL0";
constexpr char kChildFlag[] = "--play-child";

void Say(const QString& text) {
    std::printf("%s\n", qPrintable(text));
    std::fflush(stdout);
}

double Median(std::vector<double> values) {
    if (values.empty()) {
        return 0.0;
    }
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2.0;
}

Platform::Mci::GstDevices::SinkFactory SinkFrom(const QByteArray& description) {
    return [description] {
        GError* error = nullptr;
        GstElement* sink = gst_parse_bin_from_description(description.constData(), TRUE, &error);
        if (error != nullptr) {
            std::fprintf(stderr, "sink: %s\n", error->message);
            g_error_free(error);
        }
        return sink;
    };
}

// One file start as the console does it; milliseconds, or -1 when a step failed.
double TimeOneStart(const QString& path) {
    QElapsedTimer clock;
    clock.start();
    Mod_MCI::MciClose(kAlias);
    const QString opened = Mod_MCI::MciOpen(0, kAlias, path, "MPEGVideo");
    Mod_MCI::MciSetVolume(kAlias, "Both", 100);
    const QString played = Mod_MCI::MciPlay(kAlias, "", "");
    const double ms = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    return opened == u"Success" && played == u"Success" ? ms : -1.0;
}

void BenchStarts(const QString& label, const QString& path, int runs) {
    TimeOneStart(path);  // the first start also loads the plugins
    std::vector<double> times;
    int failed = 0;
    for (int i = 0; i < runs; ++i) {
        const double ms = TimeOneStart(path);
        if (ms < 0) {
            ++failed;
        } else {
            times.push_back(ms);
        }
    }
    Mod_MCI::MciClose(kAlias);
    const auto [low, high] = std::minmax_element(times.begin(), times.end());
    Say(QStringLiteral("  %1 median %2 ms (min %3, max %4, %5 runs%6)")
            .arg(label, -24)
            .arg(Median(times), 7, 'f', 2)
            .arg(times.empty() ? 0.0 : *low, 0, 'f', 2)
            .arg(times.empty() ? 0.0 : *high, 0, 'f', 2)
            .arg(times.size())
            .arg(failed == 0 ? QString() : QStringLiteral(", %1 FAILED").arg(failed)));
}

void BenchMode(const QString& path) {
    Mod_MCI::MciClose(kAlias);
    Mod_MCI::MciOpen(0, kAlias, path, "MPEGVideo");
    Mod_MCI::MciPlay(kAlias, "", "");
    std::vector<double> times;
    QString mode;
    for (int i = 0; i < 2000; ++i) {
        QElapsedTimer clock;
        clock.start();
        mode = Mod_MCI::MciGetMode(kAlias);
        times.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e3);
    }
    Mod_MCI::MciClose(kAlias);
    Say(QStringLiteral("  MciGetMode while %1: median %2 us over %3 calls")
            .arg(mode)
            .arg(Median(times), 0, 'f', 2)
            .arg(times.size()));
}

struct Cost {
    bool ok = false;
    double cpuSeconds = 0.0;
    double wallSeconds = 0.0;
    double peakMb = 0.0;
};

Cost RunChild(const QStringList& command) {
    std::vector<QByteArray> bytes;
    for (const QString& word : command) {
        bytes.push_back(word.toLocal8Bit());
    }
    std::vector<char*> argv;
    for (QByteArray& word : bytes) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);

    Cost cost;
    QElapsedTimer clock;
    clock.start();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        return cost;
    }
    // ru_maxrss of a spawned child starts from this process's own peak, so the child's peak is
    // read from its VmHWM while it runs instead.
    int status = 0;
    rusage usage{};
    double peakKb = 0.0;
    for (;;) {
        const pid_t done = wait4(pid, &status, WNOHANG, &usage);
        if (done == pid) {
            break;
        }
        if (done < 0) {
            return cost;
        }
        QFile file(QStringLiteral("/proc/%1/status").arg(pid));
        if (file.open(QIODevice::ReadOnly)) {
            for (const QByteArray& line : file.readAll().split('\n')) {
                if (line.startsWith("VmHWM:")) {
                    peakKb = std::max(peakKb, line.mid(6).trimmed().split(' ').value(0).toDouble());
                }
            }
        }
        QThread::msleep(100);
    }
    cost.wallSeconds = static_cast<double>(clock.elapsed()) / 1000.0;
    cost.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    cost.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                      static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    cost.peakMb = peakKb / 1024.0;
    return cost;
}

QString Describe(const Cost& cost) {
    if (!cost.ok) {
        return QStringLiteral("FAILED");
    }
    return QStringLiteral("CPU %1 s, peak RSS %2 MB, wall %3 s")
        .arg(cost.cpuSeconds, 0, 'f', 3)
        .arg(cost.peakMb, 0, 'f', 1)
        .arg(cost.wallSeconds, 0, 'f', 1);
}

void BenchPlaying(const QString& path, const QString& sink) {
    const QString self = QCoreApplication::applicationFilePath();
    const Cost ours = RunChild({self, kChildFlag, path, sink});
    Say(QStringLiteral("  %1 corvane channel layer: %2").arg(sink, -20).arg(Describe(ours)));
    const QString gstPlay = QStandardPaths::findExecutable(QStringLiteral("gst-play-1.0"));
    if (gstPlay.isEmpty()) {
        Say(QStringLiteral("  %1 gst-play-1.0: not installed").arg(sink, -20));
        return;
    }
    const Cost theirs = RunChild({gstPlay, "--no-interactive", "--audiosink=" + sink, "-q", path});
    Say(QStringLiteral("  %1 gst-play-1.0:          %2").arg(sink, -20).arg(Describe(theirs)));
    if (ours.ok && theirs.ok && theirs.cpuSeconds > 0) {
        Say(QStringLiteral("  %1 CPU ratio %2x")
                .arg(sink, -20)
                .arg(ours.cpuSeconds / theirs.cpuSeconds, 0, 'f', 2));
    }
}

// The child plays one file to its end as the console would: one start, then a mode query once a
// second.
int PlayChild(const QString& path, const QString& sink) {
    Platform::Mci::SetService(std::make_unique<Platform::Mci::GstDevices>(SinkFrom(sink.toUtf8())));
    if (Mod_MCI::MciOpen(0, kAlias, path, "MPEGVideo") != u"Success") {
        return 1;
    }
    Mod_MCI::MciSetVolume(kAlias, "Both", 100);
    if (Mod_MCI::MciPlay(kAlias, "", "") != u"Success") {
        return 1;
    }
    while (Mod_MCI::MciGetMode(kAlias) == u"playing") {
        QThread::msleep(1000);
    }
    Mod_MCI::MciCloseAll();
    Platform::Mci::SetService(nullptr);
    return 0;
}

bool Make(const QString& label, const std::function<bool()>& make) {
    QElapsedTimer clock;
    clock.start();
    const bool ok = make();
    Say(QStringLiteral("  %1 %2 (%3 s)")
            .arg(label, -24)
            .arg(ok ? "made" : "FAILED")
            .arg(static_cast<double>(clock.elapsed()) / 1000.0, 0, 'f', 1));
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    gst_init(nullptr, nullptr);
    const QStringList args = app.arguments();
    if (args.size() == 4 && args[1] == QLatin1String(kChildFlag)) {
        return PlayChild(args[2], args[3]);
    }
    int runs = 20;
    if (args.size() == 3 && args[1] == u"--runs") {
        runs = std::max(1, args[2].toInt());
    }

    QTemporaryDir dir;
    if (!dir.isValid()) {
        Say("no temporary folder");
        return 1;
    }
    const QString fiveMinutes = dir.filePath("five-minutes.mp3");
    const QString hour = dir.filePath("sixty-minutes.mp3");
    const QString minute = dir.filePath("one-minute.mp3");
    const QString wav = dir.filePath("one-minute.wav");
    const QString midi = dir.filePath("tune.mid");
    QList<int> notes;
    for (int i = 0; i < 240; ++i) {
        notes << 48 + (i * 7) % 36;
    }

    Say("Media files:");
    bool ok = Make("MP3, 5 minutes", [&] { return MediaFixtures::MakeMp3(fiveMinutes, 300'000); });
    ok = Make("MP3, 60 minutes", [&] { return MediaFixtures::MakeMp3(hour, 3'600'000); }) && ok;
    ok = Make("MP3, 60 seconds", [&] { return MediaFixtures::MakeMp3(minute, 60'000); }) && ok;
    ok = Make("WAV, 60 seconds", [&] { return MediaFixtures::MakeWav(wav, 60'000); }) && ok;
    ok = Make("MIDI, 60 seconds", [&] { return MediaFixtures::MakeMidi(midi, notes, 250); }) && ok;
    if (!ok) {
        return 1;
    }

    for (const char* sink : {"fakesink sync=true", "autoaudiosink"}) {
        Platform::Mci::SetService(std::make_unique<Platform::Mci::GstDevices>(SinkFrom(sink)));
        Say(QStringLiteral("\nFile start (close, open, volume, play), sink %1:").arg(sink));
        BenchStarts("MP3, 5 minutes", fiveMinutes, runs);
        BenchStarts("MP3, 60 minutes", hour, runs);
        BenchStarts("WAV, 60 seconds", wav, runs);
        BenchStarts("MIDI, 60 seconds", midi, runs);
        Say(QStringLiteral("Mode query, sink %1:").arg(sink));
        BenchMode(fiveMinutes);
        Platform::Mci::SetService(nullptr);
    }

    Say("\nPlaying the 60-second MP3 to its end, in a child process:");
    BenchPlaying(minute, "fakesink sync=true");
    BenchPlaying(minute, "autoaudiosink");
    return 0;
}
