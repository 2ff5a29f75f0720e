// The loudness cache as a crash, a full disk or a second player may leave it: whatever comes before
// it, a whole line for a file is read back as it was written, and survives the file being written
// afresh; nothing read from it is ever other than a finite number, and a sound never ends before
// it starts.
// Input: the cache file's content.

#include <sys/stat.h>

#include <QFile>
#include <QTemporaryDir>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "loudness/LoudnessLibrary.h"

namespace {

void Write(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
        std::abort();
    }
}

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static QTemporaryDir dir;
    static const QString media = dir.filePath(QStringLiteral("a song, 100%.mp3"));
    static const QByteArray mediaBytes = QFile::encodeName(media);
    static const QByteArray line = [] {
        Write(media, "x");
        struct stat info {};
        Check(::stat(mediaBytes.constData(), &info) == 0);
        const qint64 ns = qint64{info.st_mtim.tv_sec} * 1'000'000'000 + info.st_mtim.tv_nsec;
        return "1 " + QByteArray::number(ns) + " -23.25 -4.50 a " +
               mediaBytes.toPercentEncoding("/") + " 1000 2000\n";
    }();
    const QString cache = dir.filePath(QStringLiteral("loudness.txt"));
    const QByteArray before(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));

    Write(cache, before);
    if (const std::optional<Loudness::Measurement> m = Loudness::Library(cache).Find(mediaBytes)) {
        Check(std::isfinite(m->integratedLufs) && std::isfinite(m->truePeakDbtp));
        Check(!m->bounded ||
              (m->soundStartNs >= 0 && (m->soundEndNs < 0 || m->soundEndNs >= m->soundStartNs)));
    }

    Write(cache, before + '\n' + line);
    for (int pass = 0; pass < 2; ++pass) {  // the second after any rewrite the first made
        const std::optional<Loudness::Measurement> m = Loudness::Library(cache).Find(mediaBytes);
        Check(m && m->integratedLufs == -23.25 && m->truePeakDbtp == -4.5 &&
              m->source == Loudness::Source::Analysis && m->bounded && m->soundStartNs == 1000 &&
              m->soundEndNs == 2000);
    }
    return 0;
}
