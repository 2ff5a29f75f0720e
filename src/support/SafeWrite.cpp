#include "support/SafeWrite.h"

#include <QSaveFile>

namespace SafeWrite {

Result ReplaceFile(const QString& path, const QByteArray& bytes) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return {Outcome::NotOpened, file.errorString()};
    }
    // Flushed here: Qt 6.4's commit() ignores a failed final flush and renames a cut-short file.
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        return {Outcome::NotWritten, file.errorString()};  // uncommitted, so the new file goes
    }
    if (!file.commit()) {
        return {Outcome::NotWritten, file.errorString()};
    }
    return {Outcome::Written, {}};
}

}  // namespace SafeWrite
