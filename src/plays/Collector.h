#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QSet>
#include <QTimer>

#include "mqtt/MqttClient.h"
#include "plays/Play.h"
#include "plays/PlaysDatabase.h"

// Takes the plays the players publish from the broker and stores them, each acknowledged to the
// broker only once it is committed: killed at any moment, what was not committed the broker
// delivers again, and what was committed twice is stored once, by its id.
//
// The session is kept while away, so the broker queues what arrives meanwhile. Plays are
// committed in batches: at 100, when the broker has sent all it has (it sends only so many
// before it hears our acknowledgements), and at the latest 200 ms after the first one waiting.
class Collector : public QObject {
    Q_OBJECT

public:
    static constexpr int kBatchPlays = 100;
    static constexpr int kBatchMs = 200;
    static constexpr int kDatabaseRetryMs = 2000;
    static constexpr int kBadWarningEveryMs = 60'000;

    struct Totals {
        qint64 stored = 0;  // new to the table
        qint64 again = 0;   // already there
        qint64 bad = 0;     // not a play: acknowledged all the same
    };

    Collector(MqttClient::Settings broker, QString topic, PlaysDatabase::Address database,
              QObject* parent = nullptr);

    // False with Error() when the database cannot be opened.
    bool Start();
    // Commits what was received, says goodbye to the broker, then Finished().
    void Finish();
    QString Error() const { return database_.Error(); }
    const Totals& Counted() const { return totals_; }
    MqttClient& Client() { return client_; }

signals:
    void Finished();
    // The broker could not be reached, or refused us, before the first connection.
    void NeverConnected(const QString& reason);

private:
    void OnMessage(const QString& topic, const QByteArray& payload);
    void Commit();
    void DatabaseLost();
    void RetryDatabase();
    void WarnBad(const QString& fault);

    MqttClient::Settings broker_;
    QString topic_;
    MqttClient client_;
    PlaysDatabase database_;
    QList<Play> batch_;
    QSet<QString> batchIds_;
    QTimer deadline_;
    QTimer retry_;
    bool everConnected_ = false;
    Totals totals_;
    qint64 badSinceWarning_ = 0;
    QElapsedTimer lastBadWarning_;
};
