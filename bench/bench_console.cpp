// Console figures: the user-interface time of a tick that starts no file, of a 91-step fade, and of
// re-reading a folder of 10,000 and 100,000 files, each beside a peer measured in the same run.
// Prints medians; asserts nothing.

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
#include "console/Frm_Messages.h"
#include "platform/mci/gstdevices.h"

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

}  // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Platform::Mci::SetService(
        std::make_unique<Platform::Mci::GstDevices>(Platform::Mci::GstDevices::FakeSink()));

    QTemporaryDir dir;
    const QString music = dir.filePath(QStringLiteral("Music"));
    const QString messages = dir.filePath(QStringLiteral("Messages"));
    QDir().mkpath(music);
    QDir().mkpath(messages);
    MediaFixtures::MakeMp3(music + QStringLiteral("/long.mp3"), 120'000);

    Frm_Messages console;
    console.Timer1->stop();
    console.File1[0]->SetPath(music);
    console.File1[1]->SetPath(messages);
    console.HScroll1->SetValue(0);
    console.show();
    console.PlayNextFile(0);

    // A tick that finds the music playing and no message due: two mode queries and one volume
    // query. Its peer is one bare mode query.
    const double tick = MedianMs(500, [&] { console.Timer1_Timer(); });
    const double modeQuery = MedianMs(500, [] { Mod_MCI::MciGetMode(QStringLiteral("ZEL0")); });
    std::printf("tick that starts no file: median %.1f us (one mode query %.1f us, ratio %.1f)\n",
                tick * 1000, modeQuery * 1000, tick / modeQuery);

    // A fade-up from the low level (10) to the high level (100): 91 steps. Peer: 91 bare sleeps
    // of the step's 10 ms.
    const double fade = MedianMs(5, [&] {
        Mod_MCI::MciSetVolume(QStringLiteral("ZEL0"), QStringLiteral("both"), 10);
        console.Timer1_Timer();
    });
    const double sleeps = MedianMs(5, [] {
        for (int i = 0; i < 91; ++i) {
            QThread::msleep(Frm_Messages::kFadeStepMilliseconds);
        }
    });
    std::printf("fade of 91 steps: median %.1f ms (91 bare 10 ms sleeps %.1f ms, ratio %.3f)\n",
                fade, sleeps, fade / sleeps);

    for (const int count : {10'000, 100'000}) {
        const QString big = dir.filePath(QStringLiteral("big%1").arg(count));
        MakeEmptyFiles(big, count);
        console.File1[0]->SetPath(big);
        const double refresh = MedianMs(9, [&] { console.RefreshFileLists(); });
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
    console.File1[0]->SetPath(music);
    Mod_MCI::MciCloseAll();
    Platform::Mci::SetService(nullptr);
    return 0;
}
