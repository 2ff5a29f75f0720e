// How fast a file's loudness is measured, against peers measuring the same file in the same run:
// ffmpeg's ebur128 filter (integrated loudness and true peak, as here) and sox's stats (levels
// and peaks only, no loudness). Each is run in turn, RUNS times; medians, as multiples of real
// time, and the ratio of each peer's time to ours.
//
//   bench_loudness [--runs N] [--minutes M] [FILE]
//
// Without FILE, a pink-noise MP3 of M minutes (default 5) is made in a temporary folder.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "loudness/Loudness.h"

namespace {

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

// Seconds one run of `program` takes; negative when it is missing or fails.
double TimeProcess(const QString& program, const QStringList& arguments) {
    QElapsedTimer clock;
    clock.start();
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(-1) || process.exitCode() != 0) {
        return -1.0;
    }
    return static_cast<double>(clock.nsecsElapsed()) / 1e9;
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    int runs = 5;
    int minutes = 5;
    for (const auto& [flag, value] : {std::pair{"--runs", &runs}, {"--minutes", &minutes}}) {
        if (const qsizetype at = args.indexOf(QString::fromLatin1(flag)); at >= 0) {
            *value = args.value(at + 1).toInt();
            args.remove(at, 2);
        }
    }
    QTemporaryDir dir;
    QString file = args.value(0);
    if (file.isEmpty()) {
        file = dir.filePath(QStringLiteral("pink.mp3"));
        const QString seconds = QString::number(minutes * 60);
        if (QProcess::execute(
                QStringLiteral("gst-launch-1.0"),
                {QStringLiteral("-q"), QStringLiteral("audiotestsrc"),
                 QStringLiteral("wave=pink-noise"), QStringLiteral("volume=0.2"),
                 QStringLiteral("num-buffers=") + QString::number(minutes * 60 * 44100 / 1024),
                 QStringLiteral("samplesperbuffer=1024"), QStringLiteral("!"),
                 QStringLiteral("audio/x-raw,rate=44100,channels=2"), QStringLiteral("!"),
                 QStringLiteral("audioconvert"), QStringLiteral("!"), QStringLiteral("lamemp3enc"),
                 QStringLiteral("!"), QStringLiteral("filesink"),
                 QStringLiteral("location=") + file}) != 0) {
            std::fprintf(stderr, "bench_loudness: cannot make %s\n", qPrintable(file));
            return 1;
        }
        std::printf("file: %s, pink noise, %s s\n", qPrintable(file), qPrintable(seconds));
    }
    const double length = minutes * 60.0;

    struct Peer {
        const char* name;
        QString program;
        QStringList arguments;
        std::vector<double> seconds;
    };
    std::vector<Peer> peers{
        {"ffmpeg -af ebur128=peak=true",
         QStandardPaths::findExecutable(QStringLiteral("ffmpeg")),
         {QStringLiteral("-nostdin"), QStringLiteral("-hide_banner"), QStringLiteral("-nostats"),
          QStringLiteral("-i"), file, QStringLiteral("-af"), QStringLiteral("ebur128=peak=true"),
          QStringLiteral("-f"), QStringLiteral("null"), QStringLiteral("-")},
         {}},
        {"sox stats",
         QStandardPaths::findExecutable(QStringLiteral("sox")),
         {file, QStringLiteral("-n"), QStringLiteral("stats")},
         {}},
    };
    std::vector<double> ours;
    std::optional<Loudness::Measurement> result;
    const std::atomic<bool> keepGoing{false};
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer clock;
        clock.start();
        result = Loudness::Measure(QFile::encodeName(file), keepGoing);
        ours.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e9);
        for (Peer& peer : peers) {
            if (!peer.program.isEmpty()) {
                peer.seconds.push_back(TimeProcess(peer.program, peer.arguments));
            }
        }
    }
    if (result) {
        std::printf("measured: %.2f LUFS, %.2f dBTP\n", result->integratedLufs,
                    result->truePeakDbtp);
    }
    if (!peers[0].program.isEmpty()) {  // what ffmpeg makes of the same file, as a check
        QProcess ffmpeg;
        ffmpeg.start(peers[0].program, peers[0].arguments);
        ffmpeg.waitForFinished(-1);
        const QString summary = QString::fromUtf8(ffmpeg.readAllStandardError());
        const QRegularExpression integrated(QStringLiteral("I:\\s+(-?[0-9.]+) LUFS"));
        const QRegularExpression peak(QStringLiteral("Peak:\\s+(-?[0-9.]+) dBFS"));
        // The summary comes last, after a line for every tenth of a second.
        const auto last = [&summary](const QRegularExpression& pattern) {
            QString found;
            for (auto it = pattern.globalMatch(summary); it.hasNext();) {
                found = it.next().captured(1);
            }
            return found;
        };
        std::printf("ffmpeg says:  %s LUFS, %s dBTP\n", qPrintable(last(integrated)),
                    qPrintable(last(peak)));
    }
    const double ourMedian = Median(ours);
    std::printf("%-30s median %6.2f s  %6.0fx real time\n", "corvane (libebur128, true peak)",
                ourMedian, length / ourMedian);
    for (const Peer& peer : peers) {
        if (peer.seconds.empty() || Median(peer.seconds) < 0) {
            std::printf("%-30s not available\n", peer.name);
            continue;
        }
        const double median = Median(peer.seconds);
        std::printf("%-30s median %6.2f s  %6.0fx real time  (%.2f x our time)\n", peer.name,
                    median, length / median, median / ourMedian);
    }
    return 0;
}
