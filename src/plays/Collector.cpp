#include "plays/Collector.h"

#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcPlays, "corvane.plays")

Collector::Collector(MqttClient::Settings broker, QString topic, PlaysDatabase::Address database,
                     QObject* parent)
    : QObject(parent),
      broker_(std::move(broker)),
      topic_(std::move(topic)),
      database_(std::move(database)) {
    broker_.keepSession = true;
    broker_.name = QStringLiteral("plays");
    deadline_.setSingleShot(true);
    deadline_.setInterval(kBatchMs);
    connect(&deadline_, &QTimer::timeout, this, &Collector::Commit);
    retry_.setSingleShot(true);
    retry_.setInterval(kDatabaseRetryMs);
    connect(&retry_, &QTimer::timeout, this, &Collector::RetryDatabase);
    connect(&client_, &MqttClient::Connected, this, [this] {
        everConnected_ = true;
        // Kept by the broker with the session; asked again in case this is a new one.
        if (!client_.Subscribe(topic_, 1)) {
            qCWarning(lcPlays, "cannot subscribe to %s", qPrintable(topic_));
        }
    });
    connect(
        &client_, &MqttClient::MessageReceived, this,
        [this](const QString& from, const QByteArray& payload, bool) { OnMessage(from, payload); });
    connect(&client_, &MqttClient::Drained, this, [this] {
        if (!batch_.isEmpty()) {
            Commit();
        }
    });
    for (auto signal : {&MqttClient::Refused, &MqttClient::Unreachable}) {
        connect(&client_, signal, this, [this](const QString& reason) {
            if (!everConnected_) {
                emit NeverConnected(reason);
            }
        });
    }
}

bool Collector::Start() {
    if (!database_.Open()) {
        return false;
    }
    qCInfo(lcPlays, "storing the plays of %s in %s", qPrintable(topic_),
           qPrintable(database_.Describe()));
    client_.Start(broker_);
    return true;
}

// The acknowledgement of every message received waits in the library's queue, held, until
// the batch it belongs to is committed.
void Collector::OnMessage(const QString& topic, const QByteArray& payload) {
    client_.HoldWrites(true);
    QString fault;
    if (std::optional<Play> play = Play::Decode(topic, payload, &fault)) {
        if (!batchIds_.contains(play->id)) {
            batchIds_.insert(play->id);
            batch_ << *play;
        }
    } else {
        WarnBad(fault);
    }
    if (batch_.isEmpty()) {
        client_.HoldWrites(false);
    } else if (batch_.size() >= kBatchPlays) {
        Commit();
    } else if (!deadline_.isActive()) {
        deadline_.start();
    }
}

// A poison message must not stop the queue: it is acknowledged, counted and told about once a
// minute, with how many there were since.
void Collector::WarnBad(const QString& fault) {
    ++totals_.bad;
    ++badSinceWarning_;
    if (!lastBadWarning_.isValid() || lastBadWarning_.elapsed() >= kBadWarningEveryMs) {
        qCWarning(lcPlays, "%lld message(s) that are not plays skipped, the last: %s",
                  badSinceWarning_, qPrintable(fault));
        badSinceWarning_ = 0;
        lastBadWarning_.start();
    }
}

void Collector::Commit() {
    deadline_.stop();
    if (batch_.isEmpty()) {
        return;
    }
    const int stored = database_.Store(batch_);
    if (stored < 0) {
        DatabaseLost();
        return;
    }
    totals_.stored += stored;
    totals_.again += batch_.size() - stored;
    batch_.clear();
    batchIds_.clear();
    client_.HoldWrites(false);
}

// Nothing of the batch is acknowledged: the connection is dropped as it is, and the broker keeps
// the plays for the session until the database is back and the collector with it.
void Collector::DatabaseLost() {
    qCWarning(lcPlays, "%lld play(s) not stored, to come again from the broker: %s",
              static_cast<long long>(batch_.size()), qPrintable(database_.Error()));
    batch_.clear();
    batchIds_.clear();
    client_.Drop();
    client_.HoldWrites(false);
    database_.Close();
    retry_.start();
}

void Collector::RetryDatabase() {
    if (!database_.Open()) {
        retry_.start();
        return;
    }
    qCInfo(lcPlays, "%s is back", qPrintable(database_.Describe()));
    client_.Start(broker_);
}

void Collector::Finish() {
    retry_.stop();
    if (!batch_.isEmpty()) {
        Commit();
    }
    // Dropped after a failed commit; otherwise the acknowledgements go out with the goodbye.
    client_.Stop();
    qCInfo(lcPlays, "%lld stored, %lld already there, %lld not plays",
           static_cast<long long>(totals_.stored), static_cast<long long>(totals_.again),
           static_cast<long long>(totals_.bad));
    emit Finished();
}
