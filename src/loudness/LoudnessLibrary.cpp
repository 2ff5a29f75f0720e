#include "loudness/LoudnessLibrary.h"

#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <algorithm>
#include <cmath>

#include "platform/mci/playlist.h"
#include "support/SafeWrite.h"

namespace Loudness {

namespace {

// One line a file: size, modification time (ns), loudness, true peak, source letter and the
// percent-encoded path, separated by spaces, and where its sound starts and ends (ns) when it was
// measured for that. A later line for the same path wins.
struct SourceText {
    Source source;
    char letter;
    const char* name;  // for the log
};
constexpr SourceText kSources[] = {{Source::Analysis, 'a', "analysis"},
                                   {Source::Tags, 't', "tags"},
                                   {Source::Unmeasurable, 'u', "unmeasurable"}};

const SourceText& TextOf(Source source) {
    return *std::find_if(std::begin(kSources), std::end(kSources),
                         [source](const SourceText& text) { return text.source == source; });
}

std::optional<Source> LetterSource(QByteArrayView letter) {
    for (const SourceText& text : kSources) {
        if (letter == QByteArrayView(&text.letter, 1)) {
            return text.source;
        }
    }
    return std::nullopt;
}

}  // namespace

Library::Library(QString cacheFile) : cacheFile_(std::move(cacheFile)) {
    Load();
}

Library::~Library() {
    Stop();
}

QString Library::DefaultCacheFile() {
    return QStandardPaths::writableLocation(QStandardPaths::CacheLocation) +
           QStringLiteral("/loudness.txt");
}

void Library::SetEnabled(bool enabled) {
    SetMeasuring(enabled_, enabled);
}

void Library::SetTrimming(bool on) {
    SetMeasuring(trimming_, on);
}

void Library::SetMeasuring(bool& what, bool on) {
    {
        const std::lock_guard lock(mutex_);
        if (stopping_ || on == what) {
            return;
        }
        what = on;
        if (!Measuring()) {
            queue_.clear();
            queued_.clear();
            interrupt_ = true;
        }
    }
    if (Measuring() && !worker_.joinable()) {
        worker_ = std::thread([this] { Run(); });
    }
    wake_.notify_all();
}

bool Library::Enabled() const {
    const std::lock_guard lock(mutex_);
    return enabled_;
}

void Library::Queue(const QList<QByteArray>& paths) {
    {
        const std::lock_guard lock(mutex_);
        if (!Measuring()) {
            return;
        }
        for (const QByteArray& path : paths) {
            QueueLocked(path);
        }
    }
    wake_.notify_all();
}

void Library::QueueLocked(const QByteArray& path) {
    // A playlist names a live stream: there is nothing of it to measure ahead.
    if (!Platform::Mci::Playlist::IsPlaylist(path.toStdString()) && queued_.insert(path).second) {
        queue_.push_back(path);
    }
}

double Library::Gain(const QByteArray& path) {
    if (!Enabled()) {
        return 1.0;  // without even a look at the file
    }
    if (Platform::Mci::Playlist::IsPlaylist(path.toStdString())) {
        const std::lock_guard lock(mutex_);
        if (streamsTold_.insert(path).second) {
            qCInfo(lcLoudness, "%s: a stream is not measured; it plays at 0 dB", path.constData());
        }
        return 1.0;
    }
    const std::optional<Identity> identity = Identify(path);
    {
        const std::lock_guard lock(mutex_);
        if (!enabled_ || !identity) {
            return 1.0;
        }
        if (const std::optional<Measurement> known = FindLocked(path, *identity)) {
            return GainFactor(*known);
        }
        QueueLocked(path);  // for its next start
    }
    wake_.notify_all();
    return 1.0;
}

std::optional<std::pair<qint64, qint64>> Library::Sound(const QByteArray& path) {
    const std::optional<Identity> identity = Identify(path);
    {
        const std::lock_guard lock(mutex_);
        if (!trimming_ || !identity) {
            return std::nullopt;
        }
        if (KnownLocked(path, *identity)) {
            const Measurement m = *FindLocked(path, *identity);
            return m.soundEndNs > m.soundStartNs
                       ? std::optional(std::pair(m.soundStartNs, m.soundEndNs))
                       : std::nullopt;
        }
        QueueLocked(path);
    }
    wake_.notify_all();
    return std::nullopt;
}

bool Library::KnownLocked(const QByteArray& path, const Identity& identity) const {
    const std::optional<Measurement> known = FindLocked(path, identity);
    return known && (!trimming_ || known->bounded || known->source == Source::Unmeasurable);
}

std::optional<Measurement> Library::Find(const QByteArray& path) const {
    const std::optional<Identity> identity = Identify(path);
    if (!identity) {
        return std::nullopt;
    }
    const std::lock_guard lock(mutex_);
    return FindLocked(path, *identity);
}

std::optional<Measurement> Library::FindLocked(const QByteArray& path,
                                               const Identity& identity) const {
    const auto found = entries_.find(path);
    if (found == entries_.end() || !(found->second.identity == identity)) {
        return std::nullopt;
    }
    return found->second.measurement;
}

int Library::MeasuredCount() const {
    const std::lock_guard lock(mutex_);
    return measured_;
}

bool Library::Idle() const {
    const std::lock_guard lock(mutex_);
    return queue_.empty() && !busy_;
}

void Library::Stop() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
        interrupt_ = true;
    }
    wake_.notify_all();
    if (worker_.joinable()) {
        worker_.join();
    }
}

std::optional<Library::Identity> Library::Identify(const QByteArray& path) {
    struct stat info {};
    if (::stat(path.constData(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return std::nullopt;
    }
    return Identity{static_cast<qint64>(info.st_size),
                    static_cast<qint64>(info.st_mtim.tv_sec) * 1'000'000'000 +
                        static_cast<qint64>(info.st_mtim.tv_nsec)};
}

void Library::Run() {
    // Measuring is worth nothing next to playing: it takes the processor only when it is idle.
    const sched_param lowest{};
    pthread_setschedparam(pthread_self(), SCHED_IDLE, &lowest);

    std::unique_lock lock(mutex_);
    while (true) {
        wake_.wait(lock, [this] { return stopping_ || (Measuring() && !queue_.empty()); });
        if (stopping_) {
            return;
        }
        const QByteArray path = queue_.front();
        queue_.pop_front();
        queued_.erase(path);
        busy_ = true;
        interrupt_ = false;
        lock.unlock();
        const std::optional<Identity> identity = Identify(path);
        lock.lock();
        // Known already: queued again by a list re-read, or measured while it waited.
        const bool known = !identity || KnownLocked(path, *identity);
        const bool bounds = trimming_;
        lock.unlock();

        std::optional<Measurement> measurement;
        if (!known) {
            measurement = Measure(path, interrupt_, bounds);
        }

        lock.lock();
        busy_ = false;
        if (measurement && identity && Measuring()) {
            const Entry entry{*identity, *measurement};
            entries_[path] = entry;
            ++measured_;
            lock.unlock();  // a slow disk must not hold up a file's start asking for its gain
            Append(path, entry);
            qCInfo(lcLoudness, "%s: %.1f LUFS, %.1f dBTP from %s: %+.1f dB", path.constData(),
                   measurement->integratedLufs, measurement->truePeakDbtp,
                   TextOf(measurement->source).name, GainDb(*measurement));
            lock.lock();
        }
    }
}

void Library::Load() {
    QFile file(cacheFile_);
    if (!file.open(QIODevice::ReadOnly)) {
        return;
    }
    int lines = 0;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        ++lines;
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() != 6 && fields.size() != 8) {
            continue;  // a line cut short by a crash, say
        }
        bool ok[4] = {};
        Entry entry{
            Identity{fields[0].toLongLong(&ok[0]), fields[1].toLongLong(&ok[1])},
            Measurement{fields[2].toDouble(&ok[2]), fields[3].toDouble(&ok[3]), Source::Analysis}};
        const std::optional<Source> source = LetterSource(fields[4]);
        const QByteArray path = QByteArray::fromPercentEncoding(fields[5]);
        if (!ok[0] || !ok[1] || !ok[2] || !ok[3] || !source || path.isEmpty() ||
            !std::isfinite(entry.measurement.integratedLufs) ||
            !std::isfinite(entry.measurement.truePeakDbtp)) {
            continue;
        }
        bool bounds[2] = {true, true};
        if (fields.size() == 8) {
            const qint64 start = fields[6].toLongLong(&bounds[0]);
            const qint64 end = fields[7].toLongLong(&bounds[1]);
            if (!bounds[0] || !bounds[1] || start < 0 || (end >= 0 && end < start)) {
                continue;
            }
            entry.measurement.bounded = true;
            entry.measurement.soundStartNs = start;
            entry.measurement.soundEndNs = end;
        }
        entries_[path] = entry;
        entries_[path].measurement.source = *source;
    }
    file.close();

    // Lines of files measured again pile up; once they are most of the file, write it afresh.
    constexpr int kSpareLines = 64;
    if (lines <= 2 * static_cast<int>(entries_.size()) + kSpareLines) {
        return;
    }
    QByteArray fresh;
    for (const auto& [path, entry] : entries_) {
        fresh += Line(path, entry);
    }
    SafeWrite::ReplaceFile(cacheFile_, fresh);  // if not, the old cache stays: only longer
}

QByteArray Library::Line(const QByteArray& path, const Entry& entry) {
    return QByteArray::number(entry.identity.size) + ' ' +
           QByteArray::number(entry.identity.modifiedNs) + ' ' +
           QByteArray::number(entry.measurement.integratedLufs, 'f', 2) + ' ' +
           QByteArray::number(entry.measurement.truePeakDbtp, 'f', 2) + ' ' +
           TextOf(entry.measurement.source).letter + ' ' + path.toPercentEncoding("/") +
           (entry.measurement.bounded ? ' ' + QByteArray::number(entry.measurement.soundStartNs) +
                                            ' ' + QByteArray::number(entry.measurement.soundEndNs)
                                      : QByteArray()) +
           '\n';
}

void Library::Append(const QByteArray& path, const Entry& entry) {
    QDir().mkpath(QFileInfo(cacheFile_).absolutePath());
    // One write of a whole line in append mode: a crash loses at most that line. A line a crash
    // left unfinished is ended first, so that it cannot swallow this one.
    const QByteArray name = QFile::encodeName(cacheFile_);
    const int fd = ::open(name.constData(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        return;
    }
    QByteArray line = Line(path, entry);
    struct stat info {};
    char last = '\n';
    if (::fstat(fd, &info) == 0 && info.st_size > 0 &&
        ::pread(fd, &last, 1, info.st_size - 1) == 1 && last != '\n') {
        line.prepend('\n');
    }
    if (::write(fd, line.constData(), static_cast<size_t>(line.size())) != line.size()) {
        qCWarning(lcLoudness, "cannot write to %s", name.constData());
    }
    ::close(fd);
}

}  // namespace Loudness
