// Playback-core figures on the user-interface thread: the time of a tick that starts no file, of a
// 91-step fade, the longest delay a 1 ms timer sees while fades run, and re-reading a folder of
// 10,000 and 100,000 files, each beside a peer measured in the same run. The fade's peer is the
// earlier way of fading: 10 ms sleeps with the pending events processed after each. Prints
// medians; asserts nothing.

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include "MediaFixtures.h"
#include "audio/Mod_MCI.h"
#include "platform/mci/gstdevices.h"
#include "scheduler/MediaList.h"
#include "scheduler/Scheduler.h"

namespace {

double MedianMs(int runs, const std::function<void()>& work) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        times.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

void MakeEmptyFiles(const QString& folder, int count) {
    QDir().mkpath(folder);
    for (int i = 0; i < count; ++i) {
        QFile file(QStringLiteral("%1/Track %2.mp3").arg(folder).arg(i, 6, 10, QLatin1Char('0')));
        file.open(QIODevice::WriteOnly);
    }
}

// The longest gap between two firings of a 1 ms timer while `work` runs, in milliseconds.
double LongestTimerDelay(const std::function<void()>& work) {
    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.nsecsElapsed();
    qint64 longest = 0;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(1);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longest = std::max(longest, now - last);
        last = now;
    });
    probe.start();
    work();
    return static_cast<double>(longest) / 1e6;
}

void RunUntil(const std::function<bool()>& done) {
    while (!done()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}

}  // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Platform::Mci::SetService(
        std::make_unique<Platform::Mci::GstDevices>(Platform::Mci::GstDevices::FakeSink()));

    QTemporaryDir dir;
    MediaList music;
    MediaList messages;
    music.SetPattern(QStringLiteral("*.mp3;*.wav;*.mid"));
    music.SetPath(dir.filePath(QStringLiteral("Music")));
    messages.SetPath(dir.filePath(QStringLiteral("Messages")));
    QDir().mkpath(music.Path());
    MediaFixtures::MakeMp3(music.Path() + QStringLiteral("/long.mp3"), 120'000);
    Scheduler core({[] { return 0; }, [] { return 100; }, [] { return 10; }, [] { return 100; },
                    [] { return 0; }, [] { return 0; }},
                   music, messages);
    core.PlayNextFile(Scheduler::kMusic);

    // A tick that finds the music playing and no message due: two mode queries and one volume
    // query. Its peer is one bare mode query.
    const double tick = MedianMs(500, [&] { core.Tick(); });
    const double modeQuery = MedianMs(500, [] { Mod_MCI::MciGetMode(QStringLiteral("ZEL0")); });
    std::printf("tick that starts no file: median %.1f us (one mode query %.1f us, ratio %.1f)\n",
                tick * 1000, modeQuery * 1000, tick / modeQuery);

    // A fade-up from the low level (10) to the high level (100): 91 steps, started by a tick.
    const auto fadeUp = [&] {
        Mod_MCI::MciSetVolume(QStringLiteral("ZEL0"), QStringLiteral("both"), 10);
        core.Tick();
        RunUntil([&] { return !core.Fading(); });
    };
    // The same 91 volume steps the earlier way: each step sleeps, then processes pending events.
    const auto sleepingFade = [] {
        for (int v = 10; v <= 100; ++v) {
            Mod_MCI::MciSetVolume(QStringLiteral("ZEL0"), QStringLiteral("both"), v);
            QThread::msleep(static_cast<unsigned long>(Fader::kStep.count()));
            QCoreApplication::processEvents();
            Mod_MCI::MciGetVolume(QStringLiteral("ZEL0"), QStringLiteral("both"));
        }
    };
    const double fade = MedianMs(5, fadeUp);
    const double sleeps = MedianMs(5, sleepingFade);
    std::printf("fade of 91 steps: median %.1f ms (sleeping fade %.1f ms, ratio %.3f)\n", fade,
                sleeps, fade / sleeps);

    std::vector<double> timerDelay;
    std::vector<double> timerDelayPeer;
    for (int i = 0; i < 5; ++i) {
        timerDelay.push_back(LongestTimerDelay(fadeUp));
        timerDelayPeer.push_back(LongestTimerDelay(sleepingFade));
    }
    std::sort(timerDelay.begin(), timerDelay.end());
    std::sort(timerDelayPeer.begin(), timerDelayPeer.end());
    std::printf(
        "longest delay of a 1 ms timer during a fade: median of 5 fades %.2f ms (sleeping fade "
        "%.2f ms, ratio %.2f)\n",
        timerDelay[2], timerDelayPeer[2], timerDelay[2] / timerDelayPeer[2]);

    for (const int count : {10'000, 100'000}) {
        const QString big = dir.filePath(QStringLiteral("big%1").arg(count));
        MakeEmptyFiles(big, count);
        music.SetPath(big);
        const double refresh = MedianMs(9, [&] { core.RefreshFileLists(); });
        const double peer = MedianMs(9, [&] {
            QDir(big).entryList(
                {QStringLiteral("*.mp3"), QStringLiteral("*.wav"), QStringLiteral("*.mid")},
                QDir::Files, QDir::Name | QDir::IgnoreCase);
        });
        std::printf(
            "RefreshFileLists, %6d files: median %.1f ms (QDir::entryList of the same folder "
            "%.1f ms, ratio %.2f)\n",
            count, refresh, peer, refresh / peer);
    }
    Mod_MCI::MciCloseAll();
    Platform::Mci::SetService(nullptr);
    return 0;
}
