#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include "loudness/Loudness.h"

namespace Loudness {

// The measurements of the files met so far and a worker that measures the ones given to it, one
// after another, at the lowest priority there is. Measurements are kept in a cache file, so a file
// is measured once across runs; a file is known by its path, size and modification time, so one
// that changes is measured again. Asking for a gain never waits for a measurement.
class Library {
public:
    explicit Library(QString cacheFile);
    ~Library();  // ends the worker
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    // In the user's cache folder.
    static QString DefaultCacheFile();

    // Off, nothing is measured and every file plays at its own level; on, the worker starts.
    void SetEnabled(bool enabled);
    bool Enabled() const;
    // On, files are measured for where their sound starts and ends too, even loudness or not.
    void SetTrimming(bool on);

    // Where the file's sound starts and ends (ns), as it is now, while trimming; nothing while it
    // is not yet measured so (it is queued then) or has no sound at all.
    std::optional<std::pair<qint64, qint64>> Sound(const QByteArray& path);

    // Measures those of these files not known as they are now, in the background.
    void Queue(const QList<QByteArray>& paths);
    // The gain factor for the file as it is now: 1 while it is not yet measured (it is queued
    // then), or while off.
    double Gain(const QByteArray& path);
    // The file's measurement, if it has one as the file is now.
    std::optional<Measurement> Find(const QByteArray& path) const;

    int MeasuredCount() const;  // files measured, from samples or tags, by this library
    bool Idle() const;          // nothing queued and nothing being measured

    // Ends a measurement under way and the worker, promptly: for shutdown.
    void Stop();

private:
    struct Identity {
        qint64 size = 0;
        qint64 modifiedNs = 0;
        bool operator==(const Identity&) const = default;
    };
    struct Entry {
        Identity identity;
        Measurement measurement;
    };

    static std::optional<Identity> Identify(const QByteArray& path);
    std::optional<Measurement> FindLocked(const QByteArray& path, const Identity& identity) const;
    bool Measuring() const { return enabled_ || trimming_; }
    void SetMeasuring(bool& what, bool on);
    // Known as well as it must be: with its sound's bounds while trimming.
    bool KnownLocked(const QByteArray& path, const Identity& identity) const;
    void QueueLocked(const QByteArray& path);
    void Load();
    static QByteArray Line(const QByteArray& path, const Entry& entry);
    void Append(const QByteArray& path, const Entry& entry);
    void Run();

    QString cacheFile_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::map<QByteArray, Entry> entries_;
    std::deque<QByteArray> queue_;
    std::set<QByteArray> queued_;
    std::set<QByteArray> streamsTold_;  // streams said to play unmeasured
    bool enabled_ = false;
    bool trimming_ = false;
    bool stopping_ = false;
    bool busy_ = false;
    int measured_ = 0;
    std::atomic<bool> interrupt_{false};  // ends the measurement under way
    std::thread worker_;
};

}  // namespace Loudness
