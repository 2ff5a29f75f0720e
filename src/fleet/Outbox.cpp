#include "fleet/Outbox.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>

#include "scheduler/PlayLog.h"
#include "support/SafeWrite.h"

namespace {

QList<QByteArray> Lines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    QList<QByteArray> lines = file.readAll().split('\n');
    // A line cut short by a crash has no newline: it was never whole.
    lines.removeLast();
    return lines;
}

}  // namespace

Outbox::Outbox(QString path) : path_(std::move(path)) {
    const QList<QByteArray> sent = Lines(SentPath());
    const QSet<QByteArray> done(sent.begin(), sent.end());
    sentLines_ = static_cast<int>(sent.size());
    for (const QByteArray& line : Lines(path_)) {
        const QByteArray id =
            QJsonDocument::fromJson(line).object().value(QStringLiteral("id")).toString().toUtf8();
        if (!id.isEmpty() && !done.contains(id)) {
            pending_.push_back({id, line});
        }
    }
    if (pending_.empty()) {
        QFile::remove(path_);
        QFile::remove(SentPath());
        sentLines_ = 0;
    } else if (sentLines_ > kFoldAfter) {
        Fold();
    }
}

bool Outbox::Add(const QByteArray& id, const QByteArray& line) {
    pending_.push_back({id, line});
    return PlayLog::AppendLine(path_, {}, line + '\n');
}

void Outbox::Acknowledge(const QByteArray& id) {
    const auto it = std::find_if(pending_.begin(), pending_.end(),
                                 [&id](const Entry& entry) { return entry.id == id; });
    if (it == pending_.end()) {
        return;
    }
    pending_.erase(it);
    if (pending_.empty()) {
        QFile::remove(path_);
        QFile::remove(SentPath());
        sentLines_ = 0;
        return;
    }
    // Not waited for: one lost in a power cut only sends that play again, and waiting for each
    // would hold the sending to the disk's pace.
    PlayLog::AppendLine(SentPath(), {}, id + '\n', false);
    if (++sentLines_ > kFoldAfter && sentLines_ > static_cast<int>(pending_.size())) {
        Fold();
    }
}

// The pending plays written afresh, and the acknowledgements with them gone. The new outbox
// replaces the old whole before the acknowledgements go, so a crash between them loses nothing.
void Outbox::Fold() {
    QByteArray lines;
    for (const Entry& entry : pending_) {
        lines += entry.line + '\n';
    }
    if (SafeWrite::ReplaceFile(path_, lines)) {
        QFile::remove(SentPath());
        sentLines_ = 0;
    }
}
