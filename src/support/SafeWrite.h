#pragma once

#include <QByteArray>
#include <QString>

namespace SafeWrite {

enum class Outcome {
    Written,
    NotOpened,   // no new file could be made beside the old one; nothing was touched
    NotWritten,  // the new content did not reach the disk whole; the old file is as it was
};

struct Result {
    Outcome outcome;
    QString reason;  // the system's words for a failure, "" when written

    explicit operator bool() const { return outcome == Outcome::Written; }
};

// Replaces the file at `path` with `bytes` in one step: a new file written whole and renamed over
// the old, so a crash, a cut power or a full disk at any point leaves either the old content or
// the new, never a mix and never a file cut short.
Result ReplaceFile(const QString& path, const QByteArray& bytes);

}  // namespace SafeWrite
