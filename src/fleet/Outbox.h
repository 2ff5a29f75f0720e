#pragma once

#include <QByteArray>
#include <QSet>
#include <QString>
#include <deque>

// Plays not yet acknowledged by the broker, kept on the disk so that neither a lost connection
// nor a crash loses one. Each play is a line appended to the outbox as the play log appends, and
// each acknowledgement a line appended beside it naming the play's id; when every play is
// acknowledged both files go. So nothing is ever rewritten in place.
//
//     plays.outbox       {"id":"…","time":"…","file":"…","length_seconds":12.04,"outcome":"played"}
//     plays.outbox.sent  …id…
class Outbox {
public:
    struct Entry {
        QByteArray id;
        QByteArray line;  // without its newline
    };

    // What an earlier run left unacknowledged is read back, in the order it was written.
    explicit Outbox(QString path);

    QString Path() const { return path_; }
    // False when the line could not be written whole; it is kept in memory all the same.
    bool Add(const QByteArray& id, const QByteArray& line);
    // The broker has it; once only, for an id still pending.
    void Acknowledge(const QByteArray& id);
    const std::deque<Entry>& Pending() const { return pending_; }

    // An acknowledgement file this much longer than what is pending is worth folding in.
    static constexpr int kFoldAfter = 1000;

private:
    void Fold();
    QString SentPath() const { return path_ + QStringLiteral(".sent"); }

    QString path_;
    std::deque<Entry> pending_;
    int sentLines_ = 0;
};
