// Soak: file starts as the playback core makes them (close, open, volume, play) on a short file
// into a fakesink, every tenth played to its end and left to linger, with the event loop running.
// Prints resident memory, open descriptors and threads at the start, the middle and the end.
//
//   bench_soak [STARTS]   (default 10000)

#include <gst/gst.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>

#include "MediaFixtures.h"
#include "audio/Mod_MCI.h"
#include "platform/mci/gstdevices.h"

namespace {

long StatusField(const char* name) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(name)) {
            return line.mid(static_cast<qsizetype>(std::strlen(name)))
                .trimmed()
                .split(' ')[0]
                .toLong();
        }
    }
    return -1;
}

void Report(int starts) {
    const qsizetype descriptors =
        QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::System).size();
    std::printf("after %6d starts: RSS %6.1f MB, %3lld descriptors, %2ld threads\n", starts,
                static_cast<double>(StatusField("VmRSS:")) / 1024.0,
                static_cast<long long>(descriptors), StatusField("Threads:"));
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const int total = argc > 1 ? std::atoi(argv[1]) : 10'000;
    Platform::Mci::SetService(
        std::make_unique<Platform::Mci::GstDevices>(Platform::Mci::GstDevices::FakeSink()));
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("jingle.wav"));
    MediaFixtures::MakeWav(file, 60);
    const QString alias = QStringLiteral("ZEL0");
    const auto start = [&] {
        Mod_MCI::MciClose(alias);
        Mod_MCI::MciOpen(0, alias, file, QStringLiteral("MPEGVideo"));
        Mod_MCI::MciSetVolume(alias, QStringLiteral("Both"), 80);
        Mod_MCI::MciPlay(alias, QString(), QString());
    };
    for (int i = 1; i <= 100; ++i) {  // warm-up: plugins loaded, pools filled
        start();
    }
    Report(0);
    for (int i = 1; i <= total; ++i) {
        start();
        if (i % 10 == 0) {
            while (Mod_MCI::MciGetMode(alias) == u"playing") {
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            }
        }
        QCoreApplication::processEvents();
        if (i == total / 2 || i == total) {
            Report(i);
        }
    }
    Mod_MCI::MciCloseAll();
    Platform::Mci::SetService(nullptr);
    gst_deinit();  // lets GStreamer's leak tracer (GST_TRACERS=leaks) list what is still alive
    return 0;
}
