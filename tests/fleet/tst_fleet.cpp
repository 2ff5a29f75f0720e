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
#include "remote/RemoteApi.h"
#include "support/ProgramLocation.h"

namespace {

const QString kTopic = "corvane/test/zone";

quint16 FreePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

QJsonObject Json(const QByteArray& text) {
    return QJsonDocument::fromJson(text).object();
}

// Run in `folder` with the event loop turning, as the player under test needs it to answer; what
// it printed.
QByteArray Run(const QString& program, const QStringList& args, const QString& folder = {}) {
    QProcess process;
    process.setWorkingDirectory(folder);
    process.start(program, args);
    if (!QTest::qWaitFor([&process] { return process.state() == QProcess::NotRunning; }, 20000))
        process.kill();
    return process.readAllStandardOutput().trimmed();
}
// A key and a certificate made in `folder` as `rest` says.
void NewCertificate(const QString& folder, const QString& rest) {
    Run("openssl", QProcess::splitCommand("req -x509 -newkey rsa:2048 -nodes -days 2 " + rest),
        folder);
}

// A broker of the test's own; with a user, it admits only that user and password. With TLS, its
// certificate for localhost is signed by an authority of the test's own, ca.crt.
struct Broker {
    QTemporaryDir dir;
    quint16 port = FreePort();
    QProcess process;
    QStringList args{"-p", QString::number(port)};  // for the test's own clients
    explicit Broker(const QString& user = {}, const QString& password = {}, bool tls = false) {
        QByteArray conf = "listener " + QByteArray::number(port) + " 127.0.0.1\nuser root\n";
        if (tls) {
            NewCertificate(dir.path(), "-subj /CN=test-ca -keyout ca.key -out ca.crt");
            NewCertificate(dir.path(),
                           "-subj /CN=localhost -addext subjectAltName=DNS:localhost -addext "
                           "basicConstraints=CA:FALSE -CA ca.crt -CAkey ca.key -keyout server.key "
                           "-out server.crt");
            conf += "cafile ca.crt\ncertfile server.crt\nkeyfile server.key\n";
            args += {"--cafile", dir.filePath("ca.crt"), "-h", "localhost"};
        }
        if (user.isEmpty()) {
            conf += "allow_anonymous true\n";
        } else {
            Run("mosquitto_passwd", {"-b", "-c", "passwd", user, password}, dir.path());
            conf += "allow_anonymous false\npassword_file passwd\n";
            args += {"-u", user, "-P", password};
        }
        MediaFixtures::MakeFile(dir.filePath("mosquitto.conf"), conf);
        process.setWorkingDirectory(dir.path());
        process.start("mosquitto", {"-c", "mosquitto.conf"});
        // One that does not come up fails the test at its first connection.
        (void)QTest::qWaitFor([this] {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, port);
            return probe.waitForConnected(50);
        });
    }
    ~Broker() {
        process.terminate();
        process.waitForFinished(3000);
    }
    void Publish(const QString& topic, const QByteArray& payload, bool retain = false) const {
        QStringList all = args + QStringList{"-t", topic, "-m", QString::fromUtf8(payload)};
        Run("mosquitto_pub", retain ? all << "-r" : all);
    }
    // The retained message on `topic`, or empty.
    QByteArray Retained(const QString& topic) const {
        return Run("mosquitto_sub", args + QStringList{"-t", topic, "-C", "1", "-W", "1"});
    }
};

struct Rig : PlayerRig {
    Fleet fleet{player};
    Rig() : PlayerRig("[Settings]\r\nMessageInterval=0\r\n") {}
    QString Problems() const { return player.ProblemsInEnglish().join(' '); }
    // Connected and subscribed: the state goes out after the subscriptions, so once the broker
    // holds it, they are in place.
    bool Connect(const Broker& broker, const QString& user = {}, const QString& password = {},
                 const QString& caFile = {}) {
        fleet.Start({"localhost", broker.port, user, password, !caFile.isEmpty(), caFile, kTopic});
        return QTest::qWaitFor([this] { return fleet.IsConnected(); }, 5000) &&
               QTest::qWaitFor([&] { return !broker.Retained(kTopic + "/state").isEmpty(); }, 5000);
    }
};

// The effects an order can have that show on the player; `music` is what played before it.
QString Effects(const Player& player, const QByteArray& music) {
    QStringList seen;
    if (player.Get(Player::kMusicHigh) == 40)
        seen << "music at 40";
    if (player.Get(Player::kMusicLow) == 5 && player.Opts().crossfade == 2)
        seen << "low 5, crossfade 2";
    if (player.Paused())
        seen << "paused";
    if (!player.Playing(Player::kMusic).isEmpty() && player.Playing(Player::kMusic) != music)
        seen << "next track";
    if (player.Playing(Player::kMessages).endsWith("/m1.mp3"))
        seen << "message m1";
    return seen.join(", ");
}

// topic: under corvane/; retained: there before the player comes up; effect: of Effects(), or
// null when it must not be obeyed. A login with no user: the broker lets anyone in.
// clang-format off
struct OrderRow { const char* topic; QByteArray payload; bool retained; const char* effect; };
struct LoginRow { QString user, password; bool tls; const char* refused; };
// clang-format on

// What a two-way template, {{ 'A' if value_json.field else 'B' }} or one that asks for the
// field's length, gives for `state` as Home Assistant renders it; empty when of another form.
QString TwoWay(const QString& shown, const QJsonObject& state) {
    static const QRegularExpression form(
        R"(^\{\{ '(\w+)' if value_json\.(\w+)(?: \| length > 0)? else '(\w+)' \}\}$)");
    const QRegularExpressionMatch match = form.match(shown);
    const QJsonValue field = state[match.captured(2)];
    const bool on = field.isArray() ? !field.toArray().isEmpty() : field.toBool();
    return match.captured(on ? 1 : 3);
}

}  // namespace

class FleetTest : public QObject {
    Q_OBJECT
    QTemporaryDir folder_;

private slots:
    void initTestCase() { QCOMPARE(UseFolder(folder_), QString()); }

    // Bad settings are refused by the web remote's rows; here, that nothing of a refused change is
    // applied.
    void orders_data() {
        QTest::addColumn<OrderRow>("r");
        // clang-format off
        const OrderRow rows[] = {
            {"test/zone/set", R"({"MusicVolumeHigh": 40})", false, "music at 40"},
            {"all/set", R"({"MusicVolumeLow": 5, "Crossfade": 2})", false, "low 5, crossfade 2"},
            {"test/zone/set", R"({"MusicVolumeHigh": 40})", true, nullptr},
            {"test/zone/set", R"({"WebKey": "x", "MusicVolumeHigh": 40})", false, nullptr},
            {"test/zone/command", "pause", false, "paused"},
            {"all/command", "pause", true, nullptr},
            {"test/zone/command", "PAUSE now", false, nullptr},
            {"test/zone/command", "next", false, "next track"},
            {"test/zone/command", "message", false, "message m1"},
            {"all/command", R"({"command": "message", "file": "m1.mp3"})", false, "message m1"},
            {"all/command", R"({"command": "message", "file": "../Music/a.mp3"})", false, nullptr},
            {"other/zone/command", "pause", false, nullptr},
        };
        // clang-format on
        for (const OrderRow& row : rows)
            QTest::addRow("%s %s%s", row.topic, row.payload.constData(),
                          row.retained ? " retained" : "")
                << row;
    }
    // Each order as another client sends it.
    void orders() {
        QFETCH(OrderRow, r);
        Broker broker;
        const QString topic = "corvane/" + QLatin1String(r.topic);
        if (r.retained)
            broker.Publish(topic, r.payload, true);
        Rig rig;
        QVERIFY(rig.Connect(broker));
        const QByteArray music = rig.player.Playing(Player::kMusic);
        if (!r.retained)
            broker.Publish(topic, r.payload);
        if (!r.effect)  // longer than the fade before a message or the next track
            QTest::qWait(1500);
        QTRY_COMPARE(Effects(rig.player, music), QString(r.effect));
        // The state published after shows it.
        QTRY_COMPARE(Json(broker.Retained(kTopic + "/state"))["MusicVolumeHigh"].toInt(),
                     rig.player.Get(Player::kMusicHigh));
    }

    void login_data() {
        QTest::addColumn<LoginRow>("r");
        QTest::newRow("password") << LoginRow{"shop", "right", false, "refuses the login"};
        QTest::newRow("TLS") << LoginRow{{}, {}, true, "no connection to the broker"};
    }
    // Online while let in, retained, with the state beside it, and obeyed; offline once it says
    // goodbye. A wrong password, or an authority that did not sign the broker's certificate, is
    // said plainly among the problems and tried again, the music plays on, and it is never online.
    void login() {
        QFETCH(LoginRow, r);
        Broker broker(r.user, r.password, r.tls);
        {
            Rig rig;
            QVERIFY(rig.Connect(broker, r.user, r.password,
                                r.tls ? broker.dir.filePath("ca.crt") : QString()));
            QCOMPARE(rig.Problems(), QString());
            QCOMPARE(broker.Retained(kTopic + "/availability"), QByteArray("online"));
            const QJsonObject state = Json(broker.Retained(kTopic + "/state"));
            QCOMPARE(state["music"]["file"].toString(),
                     QFileInfo(QFile::decodeName(rig.player.Playing(Player::kMusic))).fileName());
            QVERIFY2(!state.contains("nextMessageSeconds") && state.contains("nextMessageAt"),
                     QJsonDocument(state).toJson());
            broker.Publish(kTopic + "/command", "pause");
            QTRY_VERIFY(rig.player.Paused());
        }
        QCOMPARE(broker.Retained(kTopic + "/availability"), QByteArray("offline"));
        QTemporaryDir other;  // an authority that did not sign the broker's certificate
        NewCertificate(other.path(), "-subj /CN=other -keyout ca.key -out ca.crt");
        Rig rig;
        QVERIFY(!rig.Connect(broker, r.user, r.tls ? r.password : "wrong",
                             r.tls ? other.filePath("ca.crt") : QString()));
        QVERIFY2(rig.Problems().contains(r.refused), qPrintable(rig.Problems()));
        QCOMPARE(rig.fake->devices["ZEL0"].mode, std::string("playing"));
        QCOMPARE(broker.Retained(kTopic + "/availability"), QByteArray("offline"));
    }

    // Quick retries for the first minute of an outage, then twice the wait each time, up to the
    // longest.
    void retryDelays() {
        // No digit separators: moc takes them for quotes.
        const auto next = [](qint64 outageSeconds, int lastMs) {
            return MqttClient::NextRetryMs(outageSeconds * 1000, lastMs);
        };
        QCOMPARE((QList<int>{next(59, 2000), next(60, 2000), next(200, 32000)}),
                 (QList<int>{2000, 4000, MqttClient::kLongestRetryMs}));
    }

    // Every entity has what Home Assistant requires of its kind, is named after the zone, and
    // reads only what the state really holds, where it is published; a number commands the
    // setting it shows, and the problem sensor is on exactly while there are problems. Sent again
    // when Home Assistant comes back.
    void discovery() {
        const QHash<QString, QStringList> required{
            {"number", {"command_topic", "state_topic", "min", "max"}},
            {"button", {"command_topic", "payload_press"}},
            {"switch", {"command_topic", "state_topic", "payload_on", "payload_off"}},
            {"sensor", {"state_topic"}},
            {"binary_sensor", {"state_topic", "payload_on", "payload_off", "device_class"}},
        };
        const QList<std::pair<QString, QJsonObject>> entities = Fleet::Discovery(kTopic);
        Rig rig;
        rig.player.SetProblem("test", QStringLiteral("silence on the output for 30 s"));
        const QJsonObject troubled = rig.fleet.State();
        rig.player.SetProblem("test", {});
        const QJsonObject state = rig.fleet.State();
        QSet<QString> ids, kinds, stateTopics, problemSensors;
        const QRegularExpression reads("value_json\\.(\\w+)");
        for (const auto& [where, config] : entities) {
            const QStringList parts = where.split('/');  // homeassistant/KIND/NODE/OBJECT/config
            QVERIFY2(parts.size() == 5 && parts[0] == "homeassistant" && parts[4] == "config" &&
                         required.contains(parts[1]),
                     qPrintable(where));
            kinds << parts[1];
            for (const QString& field :
                 required[parts[1]] + QStringList{"name", "unique_id", "availability_topic"})
                QVERIFY2(config.contains(field), qPrintable(where + ": " + field));
            ids << config["unique_id"].toString();
            QVERIFY2(parts[3].startsWith(Fleet::Zone() + '_') &&
                         config["unique_id"].toString().endsWith('_' + parts[3]),
                     qPrintable(where));
            for (const char* field : {"state_topic", "json_attributes_topic"})
                if (config.contains(field))
                    stateTopics << config[field].toString();
            if (config["device_class"] == "problem") {
                problemSensors << parts[1] + '/' + parts[3];
                const QString shown = config["value_template"].toString();
                QCOMPARE(TwoWay(shown, troubled), config["payload_on"].toString());
                QCOMPARE(TwoWay(shown, state), config["payload_off"].toString());
            }
            QVERIFY(!config["device"]["identifiers"].toArray().isEmpty());
            QVERIFY(!config.contains("command_topic") ||
                    config["command_topic"].toString().startsWith(kTopic + '/'));
            for (const char* field :
                 {"value_template", "json_attributes_template", "command_template"})
                for (const auto& read : reads.globalMatch(config[field].toString()))
                    QVERIFY2(state.contains(read.captured(1)),
                             qPrintable(where + ": " + read.captured(1)));
            // A switch that sets a setting sends what the settings take.
            if (config["command_topic"].toString().endsWith("/set"))
                for (const char* payload : {"payload_on", "payload_off"})
                    QVERIFY2(std::holds_alternative<RemoteApi::SettingsChange>(
                                 RemoteApi::DecodeSettings(config[payload].toString().toUtf8())) ||
                                 !config.contains(payload),
                             qPrintable(where));
            if (parts[1] == "number") {
                QString change = config["command_template"].toString();
                change.replace("{{ value | int }}", "7");
                const QString shown = reads.match(config["value_template"].toString()).captured(1);
                QVERIFY2(Json(change.toUtf8())[shown] == 7, qPrintable(where + ": " + change));
            }
        }
        QCOMPARE(ids.size(), entities.size());
        QCOMPARE(kinds.size(), required.size());
        QCOMPARE(stateTopics, QSet<QString>{kTopic + "/state"});
        QCOMPARE(problemSensors, QSet<QString>{"binary_sensor/" + Fleet::Zone() + "_problem"});

        Broker broker;
        QVERIFY(rig.Connect(broker));
        const auto& [first, config] = entities.first();
        QTRY_VERIFY(!broker.Retained(first).isEmpty());
        broker.Publish(first, {}, true);  // forgotten, as a broker that lost its store would
        broker.Publish("homeassistant/status", "online");
        QTRY_COMPARE(Json(broker.Retained(first))["unique_id"], config["unique_id"]);
    }

    void names() {
        QStringList clean;
        for (const char* given : {"Shop-1_a", "café bar", "a/b+#", ""})
            clean << Fleet::CleanName(QString::fromUtf8(given));
        QCOMPARE(clean, (QStringList{"Shop-1_a", "caf__bar", "a_b__", "_"}));
    }

    // Written line by line and read back after a crash: what was acknowledged is not sent again,
    // a line cut short is not sent at all, the order is kept, and when nothing is owed nothing
    // is left on the disk.
    void outbox() {
        const QString path = folder_.filePath("plays.outbox");
        const auto line = [](const QByteArray& id) { return "{\"id\":\"" + id + "\"}"; };
        const auto pending = [&path] {
            const Outbox box(path);
            QByteArrayList ids;
            for (const Outbox::Entry& entry : box.Pending())
                ids << entry.id;
            return ids.join(' ');
        };
        {
            Outbox box(path);
            for (const char* id : {"a", "b", "c"})
                QVERIFY(box.Add(id, line(id)));
            box.Acknowledge("b");
            box.Acknowledge("zzz");
        }
        // Cut short before its newline.
        MediaFixtures::MakeFile(path, MediaFixtures::ReadFile(path) + line("d"));
        QCOMPARE(pending(), QByteArray("a c"));
        {
            Outbox box(path);
            box.Acknowledge("c");
            box.Acknowledge("a");
            QVERIFY(!QFile::exists(path) && !QFile::exists(path + ".sent"));
        }
        // A long run of acknowledgements is folded in rather than kept for ever.
        Outbox box(path);
        for (int i = 0; i <= Outbox::kFoldAfter + 1; ++i)
            box.Add(QByteArray::number(i), line(QByteArray::number(i)));
        for (int i = 0; i <= Outbox::kFoldAfter; ++i)
            box.Acknowledge(QByteArray::number(i));
        QVERIFY(MediaFixtures::ReadFile(path + ".sent").size() < 100);
        QCOMPARE(pending(), QByteArray::number(Outbox::kFoldAfter + 1));
    }

    // Every message's outcome is queued and sent, whether or not the play log is kept; with no
    // broker named, nothing is queued.
    void plays() {
        Broker broker;
        QProcess sub;
        sub.start("mosquitto_sub", broker.args + QStringList{"-t", kTopic + "/plays", "-C", "1"});
        QTest::qWait(300);
        Rig rig;
        QVERIFY(rig.Connect(broker));
        QVERIFY(!rig.player.Opts().keepPlayLog);
        QVERIFY(rig.player.PlayMessageNow("m1.mp3"));
        QTRY_VERIFY(!rig.player.Playing(Player::kMessages).isEmpty());
        rig.fake->Finish("ZEL1");
        QTRY_COMPARE(sub.state(), QProcess::NotRunning);
        const QJsonObject play = Json(sub.readAllStandardOutput());
        QCOMPARE(play["file"].toString() + ' ' + play["outcome"].toString(),
                 QString("m1.mp3 played"));
        QCOMPARE(QUuid::fromString(play["id"].toString()).version(), QUuid::Random);
        QTRY_VERIFY(rig.fleet.Box()->Pending().empty());

        rig.fleet.Start({});
        QSignalSpy logged(&rig.player, &Player::MessageLogged);
        QVERIFY(rig.player.PlayMessageNow());
        QTRY_VERIFY(!rig.player.Playing(Player::kMessages).isEmpty());
        rig.fake->Finish("ZEL1");
        QTRY_COMPARE(logged.count(), 1);
        QVERIFY(!rig.fleet.Box() && !QFile::exists(Program().folder + "/Play Log/plays.outbox"));
    }
};

QTEST_MAIN(FleetTest)
#include "tst_fleet.moc"
