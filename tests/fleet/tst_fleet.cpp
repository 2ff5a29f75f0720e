// The fleet connection against a real Mosquitto broker on a free port, with mosquitto_pub and
// mosquitto_sub as the other side and a scripted media service as the sound: what is obeyed and
// what is not, the login, Home Assistant's discovery, and the outbox on the disk.

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include "PlayerRig.h"
#include "fleet/Fleet.h"
#include "player/Player.h"
#include "settings/Mod_INI.h"
#include "support/ProgramLocation.h"

namespace {

quint16 FreePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// A broker of the test's own; with a user, it admits only that user and password.
struct Broker {
    QTemporaryDir dir;
    quint16 port = FreePort();
    QProcess process;
    QStringList login;  // for the test's own clients
    explicit Broker(const QString& user = {}, const QString& password = {}, bool tls = false) {
        QByteArray conf = "listener " + QByteArray::number(port) + " 127.0.0.1\nuser root\n";
        if (tls) {
            // A certificate authority of the test's own, and the broker's certificate for
            // localhost.
            const auto openssl = [this](const QString& line) {
                QProcess run;
                run.setWorkingDirectory(dir.path());
                run.start(QStringLiteral("openssl"), QProcess::splitCommand(line));
                run.waitForFinished(20000);
            };
            openssl(
                QStringLiteral("req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=test-ca "
                               "-keyout ca.key -out ca.crt"));
            openssl(
                QStringLiteral("req -newkey rsa:2048 -nodes -subj /CN=localhost -keyout server.key "
                               "-out server.csr"));
            MediaFixtures::MakeFile(dir.filePath("ext"), "subjectAltName=DNS:localhost\n");
            openssl(
                QStringLiteral("x509 -req -in server.csr -CA ca.crt -CAkey ca.key -CAcreateserial "
                               "-days 2 -extfile ext -out server.crt"));
            conf += "cafile " + dir.filePath("ca.crt").toUtf8() + "\ncertfile " +
                    dir.filePath("server.crt").toUtf8() + "\nkeyfile " +
                    dir.filePath("server.key").toUtf8() + '\n';
            login << QStringLiteral("--cafile") << dir.filePath("ca.crt") << QStringLiteral("-h")
                  << QStringLiteral("localhost");
        }
        if (user.isEmpty()) {
            conf += "allow_anonymous true\n";
        } else {
            QProcess::execute(QStringLiteral("mosquitto_passwd"),
                              {QStringLiteral("-b"), QStringLiteral("-c"), dir.filePath("passwd"),
                               user, password});
            login << QStringLiteral("-u") << user << QStringLiteral("-P") << password;
            conf +=
                "allow_anonymous false\npassword_file " + dir.filePath("passwd").toUtf8() + '\n';
        }
        MediaFixtures::MakeFile(dir.filePath("mosquitto.conf"), conf);
        process.start(QStringLiteral("mosquitto"),
                      {QStringLiteral("-c"), dir.filePath("mosquitto.conf")});
        for (int i = 0; i < 100; ++i) {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, port);
            if (probe.waitForConnected(50))
                return;
            QTest::qWait(20);
        }
    }
    ~Broker() {
        process.terminate();
        process.waitForFinished(3000);
    }
    QStringList Args() const {
        return QStringList{QStringLiteral("-p"), QString::number(port)} + login;
    }
    // Run with the event loop turning, as the player under test needs it to answer.
    static QByteArray Run(const QString& program, const QStringList& args) {
        QProcess process;
        process.start(program, args);
        if (!QTest::qWaitFor([&process] { return process.state() == QProcess::NotRunning; }, 5000))
            process.kill();
        return process.readAllStandardOutput().trimmed();
    }
    void Publish(const QString& topic, const QByteArray& payload, bool retain = false) const {
        QStringList args = Args() << QStringLiteral("-t") << topic << QStringLiteral("-m")
                                  << QString::fromUtf8(payload);
        if (retain)
            args << QStringLiteral("-r");
        Run(QStringLiteral("mosquitto_pub"), args);
    }
    // The retained message on `topic`, or empty.
    QByteArray Retained(const QString& topic) const {
        return Run(QStringLiteral("mosquitto_sub"),
                   Args() << QStringLiteral("-t") << topic << QStringLiteral("-C")
                          << QStringLiteral("1") << QStringLiteral("-W") << QStringLiteral("1"));
    }
};

struct Rig : PlayerRig {
    Fleet fleet{player};
    Rig() : PlayerRig("[Settings]\r\nMessageInterval=0\r\n") {}
    bool Connect(const Broker& broker, const QString& user = {}, const QString& password = {},
                 const QString& caFile = {}) {
        Fleet::Config config;
        config.tls = !caFile.isEmpty();
        config.caFile = caFile;
        config.host = QStringLiteral("localhost");
        config.port = broker.port;
        config.user = user;
        config.password = password;
        config.topic = QStringLiteral("corvane/test/zone");
        fleet.Start(config);
        // The state goes out after the subscriptions: once the broker holds it, they are in place.
        return QTest::qWaitFor([this] { return fleet.IsConnected(); }, 5000) &&
               QTest::qWaitFor([&] { return !broker.Retained(config.topic + "/state").isEmpty(); },
                               5000);
    }
};

// clang-format off
struct OrderRow {
    const char* topic;  // under corvane/
    QByteArray payload;
    bool retained;
    const char* obeyed;  // what shows it was, or null when it must not be
};
// clang-format on

QJsonObject Json(const QByteArray& text) {
    return QJsonDocument::fromJson(text).object();
}

}  // namespace

class FleetTest : public QObject {
    Q_OBJECT
    QTemporaryDir folder_;

private slots:
    void initTestCase() {
        qputenv("XDG_CACHE_HOME", QFile::encodeName(folder_.filePath("cache")));
        QCOMPARE(ChooseProgramFolder(folder_.path()), QString());
    }

    void orders_data() {
        QTest::addColumn<OrderRow>("r");
        // clang-format off
        const OrderRow rows[] = {
            {"test/zone/set", R"({"MusicVolumeHigh": 40})", false, "high 40"},
            {"all/set", R"({"MusicVolumeLow": 5, "Crossfade": 2})", false, "low 5"},
            {"test/zone/set", R"({"MusicVolumeHigh": 40})", true, nullptr},
            {"test/zone/set", R"({"MusicVolumeHigh": 500})", false, nullptr},
            {"test/zone/set", "not json", false, nullptr},
            {"test/zone/set", R"({"WebKey": "x", "MusicVolumeHigh": 40})", false, nullptr},
            {"test/zone/command", "pause", false, "paused"},
            {"all/command", "pause", false, "paused"},
            {"all/command", "pause", true, nullptr},
            {"test/zone/command", "PAUSE now", false, nullptr},
            {"test/zone/command", "next", false, "next"},
            {"test/zone/command", "message", false, "message"},
            {"all/command", R"({"command": "message", "file": "m1.mp3"})", false, "message"},
            {"all/command", R"({"command": "message", "file": "../Music/a.mp3"})", false, nullptr},
            {"other/zone/command", "pause", false, nullptr},
        };
        // clang-format on
        for (const OrderRow& row : rows)
            QTest::addRow("%s %s%s", row.topic, row.payload.constData(),
                          row.retained ? " retained" : "")
                << row;
    }
    // Each order as another client sends it; the state published after shows what it did.
    void orders() {
        QFETCH(OrderRow, r);
        Broker broker;
        const QString topic = QStringLiteral("corvane/") + QLatin1String(r.topic);
        if (r.retained)  // there before the player comes up
            broker.Publish(topic, r.payload, true);
        Rig rig;
        QVERIFY(rig.Connect(broker));
        const QByteArray music = rig.player.Playing(Player::kMusic);
        if (!r.retained)
            broker.Publish(topic, r.payload);
        const auto done = [&](const QByteArray& obeyed) {
            if (obeyed == "high 40")
                return rig.player.Get(Player::kMusicHigh) == 40;
            if (obeyed == "low 5")
                return rig.player.Get(Player::kMusicLow) == 5 && rig.player.Opts().crossfade == 2;
            if (obeyed == "paused")
                return rig.player.Paused();
            if (obeyed == "next")
                return !rig.player.Playing(Player::kMusic).isEmpty() &&
                       rig.player.Playing(Player::kMusic) != music;
            return rig.player.Playing(Player::kMessages).endsWith("/m1.mp3");
        };
        if (r.obeyed) {
            QTRY_VERIFY(done(r.obeyed));
            if (QByteArray(r.obeyed) == "high 40")
                QTRY_COMPARE(Json(broker.Retained(QStringLiteral("corvane/test/zone/state")))
                                 .value("MusicVolumeHigh")
                                 .toInt(),
                             40);
            return;
        }
        QTest::qWait(500);
        for (const char* kind : {"high 40", "paused", "next", "message"})
            QVERIFY2(!done(kind), kind);
        QCOMPARE(rig.player.Get(Player::kMusicLow), 10);
    }

    // Online while connected, retained, with the state beside it; offline once it says goodbye.
    void availability() {
        Broker broker;
        {
            Rig rig;
            QVERIFY(rig.Connect(broker));
            QTRY_COMPARE(broker.Retained(QStringLiteral("corvane/test/zone/availability")),
                         QByteArray("online"));
            const QJsonObject state =
                Json(broker.Retained(QStringLiteral("corvane/test/zone/state")));
            QCOMPARE(state.value("music").toObject().value("file").toString(),
                     QFileInfo(QFile::decodeName(rig.player.Playing(Player::kMusic))).fileName());
            QVERIFY2(!state.contains("nextMessageSeconds") && state.contains("nextMessageAt"),
                     QJsonDocument(state).toJson());
        }
        QCOMPARE(broker.Retained(QStringLiteral("corvane/test/zone/availability")),
                 QByteArray("offline"));
    }

    // The right password is let in; a wrong one is said plainly among the problems, tried again,
    // and the music plays on.
    void login() {
        Broker broker(QStringLiteral("shop"), QStringLiteral("right"));
        {
            Rig rig;
            QVERIFY(rig.Connect(broker, QStringLiteral("shop"), QStringLiteral("right")));
            QVERIFY(rig.player.Problems().isEmpty());
        }
        Rig rig;
        QVERIFY(!rig.Connect(broker, QStringLiteral("shop"), QStringLiteral("wrong")));
        QVERIFY2(rig.player.Problems().join(' ').contains("refuses the login"),
                 qPrintable(rig.player.Problems().join(' ')));
        QCOMPARE(rig.fake->devices["ZEL0"].mode, std::string("playing"));
        // Never let in, so never online: what the first left stands.
        QCOMPARE(broker.Retained(QStringLiteral("corvane/test/zone/availability")),
                 QByteArray("offline"));
    }

    // Encrypted, with the broker's certificate checked against the authority given.
    void tls() {
        Broker broker({}, {}, true);
        Rig rig;
        QVERIFY(rig.Connect(broker, {}, {}, broker.dir.filePath("ca.crt")));
        broker.Publish(QStringLiteral("corvane/test/zone/command"), "pause");
        QTRY_VERIFY(rig.player.Paused());
        // An authority that did not sign it: refused, and said.
        QTemporaryDir other;
        Broker::Run(
            QStringLiteral("openssl"),
            QProcess::splitCommand(QStringLiteral("req -x509 -newkey rsa:2048 -nodes -days 2 -subj "
                                                  "/CN=other -keyout %1/k -out %1/c")
                                       .arg(other.path())));
        QVERIFY(!rig.Connect(broker, {}, {}, other.filePath("c")));
        QVERIFY2(rig.player.Problems().join(' ').contains("no connection to the broker"),
                 qPrintable(rig.player.Problems().join(' ')));
    }

    void retryDelays() {
        struct Row {
            qint64 outage;
            int last;
            int next;
        };
        for (const Row& row : {Row{0, 2000, 2000}, Row{59'000, 2000, 2000}, Row{60'000, 2000, 4000},
                               Row{200'000, 32'000, 60'000}, Row{900'000, 60'000, 60'000}})
            QCOMPARE(MqttClient::NextRetryMs(row.outage, row.last), row.next);
    }

    // Every entity has what Home Assistant requires of its kind, and reads only what the state
    // really holds. Sent again when Home Assistant comes back.
    void discovery() {
        const QString topic = QStringLiteral("corvane/test/zone");
        const QList<std::pair<QString, QJsonObject>> entities = Fleet::Discovery(topic);
        const QHash<QString, QStringList> required{
            {"number", {"command_topic", "state_topic", "min", "max"}},
            {"button", {"command_topic", "payload_press"}},
            {"switch", {"command_topic", "state_topic", "payload_on", "payload_off"}},
            {"sensor", {"state_topic"}},
        };
        Rig rig;
        const QJsonObject state = rig.fleet.State();
        QSet<QString> ids, kinds;
        const QRegularExpression reads(QStringLiteral("value_json\\.(\\w+)"));
        for (const auto& [where, config] : entities) {
            const QStringList parts = where.split('/');
            QCOMPARE(parts.size(), 5);
            QCOMPARE(parts.first(), QStringLiteral("homeassistant"));
            QCOMPARE(parts.last(), QStringLiteral("config"));
            kinds << parts[1];
            QVERIFY2(required.contains(parts[1]), qPrintable(where));
            for (const QString& field :
                 required[parts[1]] + QStringList{"name", "unique_id", "availability_topic"})
                QVERIFY2(config.contains(field), qPrintable(where + ": " + field));
            QVERIFY(!ids.contains(config["unique_id"].toString()));
            ids << config["unique_id"].toString();
            QVERIFY(!config["device"].toObject()["identifiers"].toArray().isEmpty());
            QVERIFY(config["command_topic"].toString().isEmpty() ||
                    config["command_topic"].toString().startsWith(topic + '/'));
            for (const char* field :
                 {"value_template", "json_attributes_template", "command_template"}) {
                for (const auto& match : reads.globalMatch(config[field].toString()))
                    QVERIFY2(state.contains(match.captured(1)),
                             qPrintable(where + ": " + match.captured(1)));
                // A number's command is a settings change the player takes.
                if (QLatin1String(field) == QLatin1String("command_template")) {
                    QString change = config[field].toString();
                    change.replace(QStringLiteral("{{ value | int }}"), QStringLiteral("7"));
                    QVERIFY2(change.isEmpty() ||
                                 Json(change.toUtf8())
                                         .value(parts[3].mid(parts[3].lastIndexOf('_') + 1))
                                         .toInt() == 7,
                             qPrintable(change));
                }
            }
        }
        QCOMPARE(kinds.size(), required.size());

        Broker broker;
        QVERIFY(rig.Connect(broker));
        const QString first = entities.first().first;
        QTRY_VERIFY(!broker.Retained(first).isEmpty());
        broker.Publish(first, {}, true);  // forgotten, as a broker that lost its store would
        broker.Publish(QStringLiteral("homeassistant/status"), "online");
        QTRY_COMPARE(Json(broker.Retained(first)).value("unique_id"),
                     entities.first().second.value("unique_id"));
    }

    void names() {
        struct Row {
            const char* given;
            const char* clean;
        };
        for (const Row& row : {Row{"Shop-1_a", "Shop-1_a"}, Row{"café bar", "caf__bar"},
                               Row{"a/b+#", "a_b__"}, Row{"", "_"}})
            QCOMPARE(Fleet::CleanName(QString::fromUtf8(row.given)), QString::fromUtf8(row.clean));
    }

    // Written line by line and read back after a crash: what was acknowledged is not sent again,
    // a line cut short is not sent at all, the order is kept, and when nothing is owed nothing
    // is left on the disk.
    void outbox() {
        const QString path = folder_.filePath("plays.outbox");
        {
            Outbox box(path);
            for (const char* id : {"a", "b", "c"})
                QVERIFY(box.Add(id, R"({"id":")" + QByteArray(id) + R"("})"));
            box.Acknowledge("b");
            box.Acknowledge("zzz");
        }
        QFile torn(path);
        QVERIFY(torn.open(QIODevice::Append));
        torn.write(R"({"id":"d")");
        torn.close();
        {
            Outbox box(path);
            QCOMPARE(box.Pending().size(), std::size_t{2});
            QCOMPARE(box.Pending().front().id, QByteArray("a"));
            QCOMPARE(box.Pending().back().id, QByteArray("c"));
            box.Acknowledge("c");
            box.Acknowledge("a");
            QVERIFY(!QFile::exists(path) && !QFile::exists(path + ".sent"));
        }
        // A long run of acknowledgements is folded in rather than kept for ever.
        Outbox box(path);
        for (int i = 0; i <= Outbox::kFoldAfter + 1; ++i)
            box.Add(QByteArray::number(i), R"({"id":")" + QByteArray::number(i) + R"("})");
        for (int i = 0; i <= Outbox::kFoldAfter; ++i)
            box.Acknowledge(QByteArray::number(i));
        QVERIFY(MediaFixtures::ReadFile(path + ".sent").size() < 100);
        QCOMPARE(Outbox(path).Pending().size(), std::size_t{1});
    }

    // Every message's outcome is queued and sent, whether or not the play log is kept; with no
    // broker named, nothing is queued.
    void plays() {
        Broker broker;
        QProcess sub;
        sub.start(
            QStringLiteral("mosquitto_sub"),
            broker.Args() << QStringLiteral("-t") << QStringLiteral("corvane/test/zone/plays"));
        QTest::qWait(300);
        Rig rig;
        QVERIFY(rig.Connect(broker));
        QVERIFY(rig.player.PlayMessageNow(QStringLiteral("m1.mp3")));
        QTRY_VERIFY(!rig.player.Playing(Player::kMessages).isEmpty());
        rig.fake->Finish("ZEL1");
        QTRY_VERIFY(sub.bytesAvailable() > 0 || sub.waitForReadyRead(100));
        const QJsonObject play = Json(sub.readAllStandardOutput().trimmed());
        QCOMPARE(play.value("file").toString(), QStringLiteral("m1.mp3"));
        QCOMPARE(play.value("outcome").toString(), QStringLiteral("played"));
        QVERIFY(QUuid::fromString(play.value("id").toString()).version() == QUuid::Random);
        QVERIFY(!rig.player.Opts().keepPlayLog);
        QTRY_VERIFY(rig.fleet.Box()->Pending().empty());
        sub.kill();
        sub.waitForFinished();

        rig.fleet.Start({});
        QSignalSpy logged(&rig.player, &Player::MessageLogged);
        QVERIFY(rig.player.PlayMessageNow());
        QTRY_VERIFY(!rig.player.Playing(Player::kMessages).isEmpty());
        rig.fake->Finish("ZEL1");
        QTRY_COMPARE(logged.count(), 1);
        QVERIFY(!QFile::exists(Program().folder + QStringLiteral("/Play Log/plays.outbox")));
    }
};

QTEST_MAIN(FleetTest)
#include "tst_fleet.moc"
