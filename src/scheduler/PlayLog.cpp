#include "scheduler/PlayLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <cstdlib>

namespace {

constexpr QByteArrayView kHeader = "time,file,length_seconds,outcome\n";

// A name as a spreadsheet reads it back: in quotes, quotes doubled, and never taken for a formula.
QByteArray CsvText(const QString& text) {
    QByteArray bytes = text.toUtf8();
    if (!bytes.isEmpty() && QByteArrayView("=+-@\t\r").contains(bytes.front())) {
        bytes.prepend('\'');
    }
    bytes.replace('"', "\"\"");
    return '"' + bytes + '"';
}

bool WriteAll(int fd, QByteArrayView bytes) {
    while (!bytes.isEmpty()) {
        const ssize_t written = ::write(fd, bytes.data(), static_cast<size_t>(bytes.size()));
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        bytes = bytes.sliced(written);
    }
    return true;
}

}  // namespace

QByteArray PlayLog::OutcomeText(Scheduler::Outcome outcome) {
    switch (outcome) {
        case Scheduler::Outcome::CutShort:
            return "cut short";
        case Scheduler::Outcome::Failed:
            return "failed";
        case Scheduler::Outcome::Missed:
            return "missed";
        case Scheduler::Outcome::Played:
            break;
    }
    return "played";
}

QString PlayLog::FileFor(const Scheduler::MessagePlay& play) const {
    return folder_ + QStringLiteral("/plays-") + play.start.toString(QStringLiteral("yyyy-MM")) +
           QStringLiteral(".csv");
}

// With the offset written out, as +HH:MM even at UTC, so a line means one moment wherever and
// whenever it is read, and every line has the same shape.
QString PlayLog::Moment(const QDateTime& time) {
    const int offset = time.offsetFromUtc();
    return time.toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss")) + (offset < 0 ? u'-' : u'+') +
           QString::asprintf("%02d:%02d", std::abs(offset) / 3600, std::abs(offset) / 60 % 60);
}

QByteArray PlayLog::Line(const Scheduler::MessagePlay& play) {
    const QByteArray time = Moment(play.start).toUtf8();
    const QByteArray name = play.path.mid(play.path.lastIndexOf('/') + 1);
    return time + ',' + CsvText(QFile::decodeName(name)) + ',' +
           QByteArray::number(static_cast<double>(play.lengthMs) / 1000.0, 'f', 2) + ',' +
           OutcomeText(play.outcome) + '\n';
}

bool PlayLog::Append(const Scheduler::MessagePlay& play) const {
    return QDir().mkpath(folder_) && AppendLine(FileFor(play), kHeader, Line(play));
}

bool PlayLog::AppendLine(const QString& path, QByteArrayView header, QByteArrayView line,
                         bool toDisk) {
    const QByteArray file = QFile::encodeName(path);
    const int fd = ::open(file.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    struct stat info {};
    bool ok = ::fstat(fd, &info) == 0;
    if (ok && info.st_size == 0 && !header.isEmpty()) {
        ok = WriteAll(fd, header);
    }
    ok = ok && WriteAll(fd, line) && (!toDisk || ::fdatasync(fd) == 0);
    return ::close(fd) == 0 && ok;
}
