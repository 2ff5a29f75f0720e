#include "plays/PlaysDatabase.h"

#include <QAtomicInt>
#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QUrl>
#include <QUrlQuery>
#include <QVariant>
#include <algorithm>

namespace {

QSqlDatabase Db(const QString& connection) {
    return QSqlDatabase::database(connection, false);
}

// SQLite keeps the instant as text in UTC, which sorts as time does; PostgreSQL as its own type.
QVariant Instant(const QDateTime& time) {
    return time.toUTC().toString(Qt::ISODateWithMs);
}

}  // namespace

std::optional<PlaysDatabase::Address> PlaysDatabase::Parse(const QString& url, QString* fault) {
    Address address;
    if (url.startsWith(QLatin1String("sqlite:"))) {
        address.driver = QStringLiteral("QSQLITE");
        address.path = url.mid(7);
        if (address.path.isEmpty()) {
            *fault = QStringLiteral("sqlite: needs the path of the file");
            return std::nullopt;
        }
        return address;
    }
    const QUrl parsed(url, QUrl::StrictMode);
    if (!parsed.isValid() || (parsed.scheme() != u"postgresql" && parsed.scheme() != u"postgres")) {
        *fault = QStringLiteral("%1 is neither sqlite:PATH nor postgresql://…").arg(url);
        return std::nullopt;
    }
    address.driver = QStringLiteral("QPSQL");
    address.user = parsed.userName();
    address.password = parsed.password();
    address.host = parsed.host();
    address.port = parsed.port();
    address.database = parsed.path().mid(1);
    const QUrlQuery query(parsed);
    if (query.hasQueryItem(QStringLiteral("host"))) {
        address.host = query.queryItemValue(QStringLiteral("host"), QUrl::FullyDecoded);
    }
    if (address.database.isEmpty() || address.database.contains(u'/')) {
        *fault = QStringLiteral("%1 names no database").arg(url);
        return std::nullopt;
    }
    return address;
}

QString PlaysDatabase::DefaultUrl() {
    return QStringLiteral("sqlite:") +
           QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/corvane/plays.sqlite");
}

PlaysDatabase::PlaysDatabase(Address address) : address_(std::move(address)) {
    static QAtomicInt next;
    connection_ = QStringLiteral("plays-%1").arg(next.fetchAndAddRelaxed(1));
}

PlaysDatabase::~PlaysDatabase() {
    Close();
}

QString PlaysDatabase::Describe() const {
    if (address_.driver == u"QSQLITE") {
        return address_.path;
    }
    return QStringLiteral("PostgreSQL database %1 at %2")
        .arg(address_.database,
             address_.host.isEmpty() ? QStringLiteral("localhost") : address_.host);
}

bool PlaysDatabase::Fail(const QString& what, const QString& why) {
    error_ = what + QStringLiteral(": ") + why;
    return false;
}

bool PlaysDatabase::Open(bool create) {
    Close();
    QSqlDatabase db = QSqlDatabase::addDatabase(address_.driver, connection_);
    if (!db.isValid()) {
        return Fail(Describe(), QStringLiteral("Qt has no %1 driver").arg(address_.driver));
    }
    if (address_.driver == u"QSQLITE") {
        if (!create && !QFileInfo::exists(address_.path)) {
            return Fail(address_.path, QStringLiteral("no such file"));
        }
        QDir().mkpath(QFileInfo(address_.path).absolutePath());
        db.setDatabaseName(address_.path);
        // Two collectors may write one file: one waits for the other's transaction.
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    } else {
        db.setHostName(address_.host);
        db.setPort(address_.port);
        db.setUserName(address_.user);
        db.setPassword(address_.password);
        db.setDatabaseName(address_.database);
        db.setConnectOptions(QStringLiteral("connect_timeout=5"));
    }
    if (!db.open()) {
        return Fail(Describe(), db.lastError().text());
    }
    return MakeSchema(create);
}

void PlaysDatabase::Close() {
    if (QSqlDatabase::contains(connection_)) {
        Db(connection_).close();
        QSqlDatabase::removeDatabase(connection_);
    }
}

bool PlaysDatabase::MakeSchema(bool create) {
    const bool sqlite = address_.driver == u"QSQLITE";
    QStringList statements;
    if (!sqlite) {
        // Not "relation already exists, skipping" on standard error at every start.
        statements << QStringLiteral("SET client_min_messages TO warning");
    }
    if (sqlite) {
        // Committed is on the disk before the broker hears that it is: a play acknowledged
        // and then lost to a power cut would be lost for good.
        statements << QStringLiteral("PRAGMA journal_mode=WAL")
                   << QStringLiteral("PRAGMA synchronous=FULL");
    }
    statements << QStringLiteral(
                      "CREATE TABLE IF NOT EXISTS plays (id TEXT PRIMARY KEY, host TEXT NOT NULL, "
                      "zone TEXT NOT NULL, time %1 NOT NULL, local_date %2 NOT NULL, "
                      "file TEXT NOT NULL, length_seconds %3 NOT NULL, outcome TEXT NOT NULL)")
                      .arg(sqlite ? "TEXT" : "TIMESTAMPTZ", sqlite ? "TEXT" : "DATE",
                           sqlite ? "REAL" : "DOUBLE PRECISION")
               << QStringLiteral(
                      "CREATE INDEX IF NOT EXISTS plays_by_day ON plays (local_date, outcome)")
               << QStringLiteral("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER)");
    if (!create) {
        statements.clear();
    }
    QSqlQuery query(Db(connection_));
    for (const QString& statement : statements) {
        if (!query.exec(statement)) {
            return Fail(Describe(), query.lastError().text());
        }
    }
    if (!query.exec(QStringLiteral("SELECT MAX(version) FROM schema_version")) || !query.next()) {
        return Fail(Describe(), query.lastError().text());
    }
    if (query.isNull(0)) {
        query.prepare(QStringLiteral("INSERT INTO schema_version (version) VALUES (?)"));
        query.addBindValue(kSchemaVersion);
        if (!query.exec()) {
            return Fail(Describe(), query.lastError().text());
        }
    } else if (query.value(0).toInt() > kSchemaVersion) {
        return Fail(
            Describe(),
            QStringLiteral("made by a newer version (schema %1)").arg(query.value(0).toInt()));
    }
    return true;
}

namespace {

QString InsertRows(qsizetype rows) {
    QString sql = QStringLiteral(
        "INSERT INTO plays (id, host, zone, time, local_date, file, length_seconds, outcome) "
        "VALUES ");
    for (qsizetype i = 0; i < rows; ++i) {
        sql += i == 0 ? QStringLiteral("(?,?,?,?,?,?,?,?)") : QStringLiteral(",(?,?,?,?,?,?,?,?)");
    }
    return sql + QStringLiteral(" ON CONFLICT (id) DO NOTHING");
}

void Bind(QSqlQuery& query, const Play& play) {
    for (const QVariant& value :
         {QVariant(play.id), QVariant(play.host), QVariant(play.zone), Instant(play.time),
          QVariant(play.localDate.toString(Qt::ISODate)), QVariant(play.file),
          QVariant(play.lengthSeconds), QVariant(play.outcome)}) {
        query.addBindValue(value);
    }
}

}  // namespace

// PostgreSQL takes the batch as one statement, as a round trip per play would make a fleet's
// backlog slow. SQLite has no round trip, but looks up each of a statement's parameters by name
// through all the others: one row a statement, prepared once, is far quicker there.
int PlaysDatabase::Store(const QList<Play>& plays) {
    if (plays.isEmpty()) {
        return 0;
    }
    QSqlDatabase db = Db(connection_);
    if (!db.isOpen() || !db.transaction()) {
        Fail(Describe(), db.lastError().text());
        return -1;
    }
    const bool rowByRow = address_.driver == u"QSQLITE";
    QSqlQuery query(db);
    bool ok = query.prepare(InsertRows(rowByRow ? 1 : plays.size()));
    int stored = 0;
    for (qsizetype i = 0; ok && i < plays.size(); ++i) {
        Bind(query, plays[i]);
        if (rowByRow || i + 1 == plays.size()) {
            ok = query.exec();
            stored += ok ? query.numRowsAffected() : 0;
        }
    }
    if (!ok || !db.commit()) {
        Fail(Describe(), (ok ? db.lastError() : query.lastError()).text());
        query.finish();
        db.rollback();
        return -1;
    }
    return stored;
}

std::optional<QList<PlaysDatabase::Count>> PlaysDatabase::Report(By by, QDate from, QDate to) {
    const QString key = by == By::File   ? QStringLiteral("file")
                        : by == By::Zone ? QStringLiteral("host, zone")
                                         : QStringLiteral("local_date");
    const int columns = by == By::Zone ? 2 : 1;
    QSqlQuery query(Db(connection_));
    query.prepare(QStringLiteral("SELECT %1, COUNT(*), SUM(length_seconds) FROM plays "
                                 "WHERE outcome = 'played' AND local_date >= ? AND local_date <= ? "
                                 "GROUP BY %1")
                      .arg(key));
    query.addBindValue(from.toString(Qt::ISODate));
    query.addBindValue(to.toString(Qt::ISODate));
    if (!query.exec()) {
        Fail(Describe(), query.lastError().text());
        return std::nullopt;
    }
    QList<Count> counts;
    while (query.next()) {
        Count count;
        count.key = by == By::Zone  ? query.value(0).toString() + u'/' + query.value(1).toString()
                    : by == By::Day ? query.value(0).toDate().toString(Qt::ISODate)
                                    : query.value(0).toString();
        count.plays = query.value(columns).toLongLong();
        count.seconds = query.value(columns + 1).toDouble();
        counts << count;
    }
    // Bytes, not the database's collation, so every database gives the same order.
    std::sort(counts.begin(), counts.end(),
              [](const Count& a, const Count& b) { return a.key.toUtf8() < b.key.toUtf8(); });
    return counts;
}
