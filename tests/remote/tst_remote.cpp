// The web remote through real HTTP and a real WebSocket on a free port, against a scripted media
// service: the order of the checks, the key, the limit on failures, the Host check, every route,
// the page in the browser's language.

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkInterface>
#include <QTcpServer>
#include <QTcpSocket>
#include <QWebSocket>
#include <QtTest>
#include <filesystem>

#include "PlayerRig.h"
#include "player/Player.h"
#include "remote/PageTexts.h"
#include "remote/RemoteApi.h"
#include "remote/WebRemote.h"
#include "settings/Mod_INI.h"
#include "support/Language.h"

namespace {

const QByteArray kKey = "00112233445566778899aabbccddeeff";
const QByteArray kAuth = "Authorization: Bearer " + kKey + "\r\n";
const QByteArray kUpgrade =
    "Upgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Version: 13\r\n"
    "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n";

quint16 FreePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

struct Answer {
    int status = 0;
    QByteArray head;
    QByteArray body;
    QJsonObject Json() const { return QJsonDocument::fromJson(body).object(); }
};

// One request as raw bytes, so that every header, the Host among them, is the test's own; an
// answer of status 0 when none comes whole.
Answer Send(quint16 port, const QByteArray& method, const QByteArray& path,
            const QByteArray& headers, const QByteArray& body = {},
            const QHostAddress& from = QHostAddress::LocalHost) {
    QTcpSocket socket;
    socket.bind(from);
    socket.connectToHost(QHostAddress::LocalHost, port);
    const QByteArray host = "Host: 127.0.0.1:" + QByteArray::number(port) + "\r\n";
    socket.write(method + ' ' + path + " HTTP/1.1\r\n" + headers +
                 (headers.contains("Host:") ? "" : host) +
                 "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
    static const QRegularExpression length("content-length: *(\\d+)",
                                           QRegularExpression::CaseInsensitiveOption);
    QByteArray got;
    Answer answer;
    const bool whole = QTest::qWaitFor([&] {
        got += socket.readAll();
        const qsizetype end = got.indexOf("\r\n\r\n");
        answer = {got.mid(9, 3).toInt(), got.left(end), got.mid(end + 4)};
        return end >= 0 && answer.body.size() >= length.match(answer.head).captured(1).toInt();
    });
    return whole ? answer : Answer{};
}

// said: in the error's text, or a key of the status; header: a line the answer's head must hold.
// clang-format off
struct RequestRow { const char* name; QByteArray method, path, headers, body; int status; const char* said; QByteArray header = {}; };
struct LanguageRow { const char* name; QString query; QByteArray acceptLanguage; QString program, chosen; };
struct PageRow { const char* name; QByteArray path, headers; QString language; };
// clang-format on

const QByteArray kTextsElement = R"(<script id="texts" type="application/json">)";

// The page as the program has it, before any language is put in.
QByteArray PageFile() {
    QFile file(":/remote/remote.html");
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// What a browser shows of the page's markup for `text`: entities read, white space as one space.
QString Shown(QString text) {
    return text.replace("&lt;", "<")
        .replace("&gt;", ">")
        .replace("&quot;", "\"")
        .replace("&amp;", "&")
        .simplified();
}

}  // namespace

struct Rig : PlayerRig {
    WebRemote remote{player};
    quint16 port = FreePort();
    Rig() : PlayerRig("[Settings]\r\nMessageInterval=30\r\n") {
        remote.Start({port, false, QString::fromLatin1(kKey)});
    }
    Answer Get(const QByteArray& path, const QByteArray& headers = kAuth) const {
        return Send(port, "GET", path, headers);
    }
    Answer Post(const QByteArray& path, const QByteArray& body = {}) const {
        return Send(port, "POST", path, kAuth, body);
    }
};

class RemoteTest : public QObject {
    Q_OBJECT
    QTemporaryDir folder_;

private slots:
    void initTestCase() { QCOMPARE(UseFolder(folder_), QString()); }

    void requests_data() {
        QTest::addColumn<RequestRow>("r");
        const QByteArray big(RemoteApi::kMostBodyBytes + 1, ' ');
        const QByteArray justFits = QByteArray(RemoteApi::kMostBodyBytes - 2, ' ') + "{}";
        // clang-format off
        const RequestRow rows[] = {
            {"no key", "GET", "/api/v1/status", "", "", 401, "key", "WWW-Authenticate: Bearer"},
            {"one digit off", "GET", "/api/v1/status", "Authorization: Bearer " + kKey.chopped(1) + "e\r\n", "", 401, "key"},
            {"header and scheme in any case", "GET", "/api/v1/status", "authorization: bearer " + kKey + "\r\n", "", 200, "music"},
            {"the page without a key", "GET", "/", "", "", 200, nullptr, "Content-Security-Policy: default-src 'none'"},
            {"localhost", "GET", "/api/v1/status", kAuth + "Host: localhost\r\n", "", 200, "daypart"},
            {"IPv6 loopback", "GET", "/api/v1/status", kAuth + "Host: [::1]\r\n", "", 200, "music"},
            // The checks in their order: the size, the name, the key, then the route.
            {"another name, before the key", "GET", "/api/v1/status", "Host: rebound.example\r\n", "", 421, "name"},
            {"too long, before the name", "PUT", "/api/v1/settings", "Host: rebound.example\r\n", big, 413, "long"},
            {"just fits", "PUT", "/api/v1/settings", kAuth, justFits, 200, "music"},
            {"no such path, without a key", "GET", "/nowhere", "", "", 401, "key"},
            {"no such path", "GET", "/nowhere", kAuth, "", 404, "path"},
            {"status by DELETE", "DELETE", "/api/v1/status", kAuth, "", 405, "GET", "Allow: GET"},
            {"next by GET", "GET", "/api/v1/next", kAuth, "", 405, "POST", "Allow: POST"},
            {"settings not JSON", "PUT", "/api/v1/settings", kAuth, "{", 400, "JSON"},
            {"settings not an object", "PUT", "/api/v1/settings", kAuth, "[40]", 400, "object"},
            {"level above 100", "PUT", "/api/v1/settings", kAuth, R"({"MusicVolumeHigh": 101})", 400, "MusicVolumeHigh"},
            {"level not whole", "PUT", "/api/v1/settings", kAuth, R"({"MusicVolumeLow": 10.5})", 400, "MusicVolumeLow"},
            {"interval as text", "PUT", "/api/v1/settings", kAuth, R"({"MessageInterval": "30"})", 400, "MessageInterval"},
            {"interval past any integer", "PUT", "/api/v1/settings", kAuth, R"({"MessageInterval": 1e300})", 400, "MessageInterval"},
            {"crossfade above 10", "PUT", "/api/v1/settings", kAuth, R"({"Crossfade": 11})", 400, "Crossfade"},
            {"a switch as a number", "PUT", "/api/v1/settings", kAuth, R"({"EvenLoudness": 1})", 400, "EvenLoudness"},
            {"an order of no name", "PUT", "/api/v1/settings", kAuth, R"({"MusicOrder": "shuffled"})", 400, "MusicOrder"},
            {"the key is not a setting", "PUT", "/api/v1/settings", kAuth, R"({"WebKey": "x"})", 400, "WebKey"},
            {"a message outside the folder", "POST", "/api/v1/message", kAuth, R"({"file": "../Music/a.mp3"})", 400, "no such message"},
            {"a message by number", "POST", "/api/v1/message", kAuth, R"({"file": 3})", 400, "file"},
            // Going live: refused before the upgrade, whatever the key that would come after.
            {"live by another name", "GET", "/api/v1/live", kUpgrade + "Host: rebound.example\r\nOrigin: http://rebound.example\r\n", "", 421, "name"},
            {"live from another page", "GET", "/api/v1/live", kUpgrade + "Origin: http://rebound.example\r\n", "", 403, "page"},
            {"live on no such path", "GET", "/elsewhere", kUpgrade, "", 404, "path"},
        };
        // clang-format on
        for (const RequestRow& row : rows)
            QTest::newRow(row.name) << row;
    }
    void requests() {
        QFETCH(RequestRow, r);
        Rig rig;
        const Answer answer = Send(rig.port, r.method, r.path, r.headers, r.body);
        QCOMPARE(answer.status, r.status);
        QVERIFY2(!answer.head.toLower().contains("access-control-"), answer.head);
        QVERIFY2(answer.head.contains(r.header), answer.head);
        if (r.said)
            QVERIFY2(r.status < 300 ? answer.Json().contains(QLatin1String(r.said))
                                    : answer.Json()["error"].toString().contains(r.said),
                     answer.body);
    }

    // Taken at once, as a slider would be, and stored within two seconds; the remote's own settings
    // stay as they are.
    void settingsApplied() {
        Rig rig;
        WebRemote::StoreConfig({rig.port, false, QString::fromLatin1(kKey)});
        const Answer answer = Send(
            rig.port, "PUT", "/api/v1/settings", kAuth,
            R"({"MusicVolumeHigh": 40, "EvenLoudness": true, "Crossfade": 3, "MessageEverySongs": 2,
                "MusicOrder": "Shuffle"})");
        // The answer is the status after the change.
        QVERIFY2(answer.status == 200 && answer.Json()["MusicVolumeHigh"] == 40 &&
                     answer.Json()["MusicOrder"] == "Shuffle",
                 answer.body);
        const Player::Options& options = rig.player.Opts();
        QCOMPARE((QList<int>{rig.player.Get(Player::kMusicHigh), rig.fake->devices["ZEL0"].volume,
                             options.evenLoudness, options.crossfade, options.everySongs,
                             options.shuffle}),
                 (QList<int>{40, 400, true, 3, 2, true}));
        QTRY_VERIFY_WITH_TIMEOUT(
            MediaFixtures::ReadFile(Mod_INI::IniFilePath()).contains("MusicVolumeHigh=40\r\n"),
            2000);
        const WebRemote::Config remote = WebRemote::ReadConfig();
        QVERIFY(remote.port == rig.port && remote.key == kKey);
        // Once the file holds the key, only its owner reads it, as it is rewritten too.
        namespace fs = std::filesystem;
        QCOMPARE(fs::status(Mod_INI::IniFilePath().toStdString()).permissions(),
                 fs::perms::owner_read | fs::perms::owner_write);
    }

    void actions() {
        Rig rig;
        const QByteArray first = rig.player.Playing(Player::kMusic);
        QCOMPARE(rig.Get("/api/v1/status").Json().value("music")["file"].toString(),
                 QFileInfo(QFile::decodeName(first)).fileName());
        QCOMPARE(rig.Post("/api/v1/next").status, 200);
        QTRY_VERIFY(!rig.player.Playing(Player::kMusic).isEmpty() &&
                    rig.player.Playing(Player::kMusic) != first);

        QCOMPARE(rig.Post("/api/v1/message", R"({"file": "m1.mp3"})").status, 200);
        QTRY_VERIFY(rig.player.Playing(Player::kMessages).endsWith("/m1.mp3"));
        QTRY_COMPARE(rig.Get("/api/v1/status").Json().value("message")["file"].toString(),
                     QString("m1.mp3"));
        QJsonObject status = rig.Post("/api/v1/pause").Json();
        QVERIFY(rig.player.Paused() && status["paused"] == true &&
                status.value("music")["mode"] == "paused");
        QCOMPARE(rig.Post("/api/v1/pause").status, 200);    // twice is once
        QCOMPARE(rig.Post("/api/v1/message").status, 409);  // nothing plays while paused
        QVERIFY(rig.Post("/api/v1/resume").Json()["paused"] == false && !rig.player.Paused());

        rig.fake->Finish("ZEL1");
        QTRY_VERIFY(rig.player.LastMessage().has_value());
        status = rig.Get("/api/v1/status").Json();
        QCOMPARE(status.value("lastMessage")["file"].toString(), QString("m1.mp3"));
        QVERIFY(status["nextMessageSeconds"].isDouble());
        QCOMPARE(status["problems"].toArray(), QJsonArray());
    }

    // Five wrong keys from one address within a minute: that address is refused for a minute,
    // whatever key it sends next; another address is not. Failures older than the minute count
    // no more.
    void failuresRefused() {
        Rig rig;
        const QHostAddress other("127.0.0.2");
        for (int i = 0; i < RemoteApi::FailureLimit::kMostFailures; ++i)
            QCOMPARE(rig.Get("/api/v1/status", "Authorization: Bearer wrong\r\n").status, 401);
        const Answer refused = rig.Get("/api/v1/status");
        QCOMPARE(refused.status, 429);
        const qint64 minute = RemoteApi::FailureLimit::kWindowMs;
        QVERIFY2(refused.head.contains("Retry-After: " + QByteArray::number(minute / 1000)),
                 refused.head);
        QCOMPARE(rig.Get("/").status, 429);
        QCOMPARE(Send(rig.port, "GET", "/api/v1/status", kAuth, {}, other).status, 200);

        RemoteApi::FailureLimit limit;
        const QHostAddress a("10.0.0.1");
        for (int i = 0; i < 4; ++i)
            limit.Failed(a, i * 1000);
        limit.Failed(a, minute + 5000);  // the first four are out of the window by then
        QVERIFY(!limit.Refused(a, minute + 5000));
        for (int i = 0; i < 4; ++i)
            limit.Failed(a, minute + 6000 + i);
        QCOMPARE((QList<bool>{limit.Refused(a, minute + 6004), limit.Refused(a, 2 * minute + 6002),
                              limit.Refused(a, 2 * minute + 6004)}),
                 (QList<bool>{true, true, false}));
    }

    void keys() {
        const QString key = RemoteApi::NewKey();
        QVERIFY2(QRegularExpression("^[0-9a-f]{32}$").match(key).hasMatch() &&
                     RemoteApi::NewKey() != key && RemoteApi::KeyMatches(key.toLatin1(), key),
                 qPrintable(key));
        for (const QByteArray& wrong : {key.toLatin1().chopped(1), key.toLatin1() + "0",
                                        key.toUpper().toLatin1(), QByteArray()})
            QVERIFY2(!RemoteApi::KeyMatches(wrong, key), wrong);
        QVERIFY(!RemoteApi::KeyMatches({}, {}));
    }

    void pageLanguage_data() {
        QTest::addColumn<LanguageRow>("r");
        // clang-format off
        const LanguageRow rows[] = {
            {"the query before the header", "lang=fr", "de", "it", "fr"},
            {"the query in English", "x=1&lang=en", "de", "de", "en"},
            {"a query of a locale name", "lang=nl_BE", "", "en", "nl"},
            {"a query the program lacks", "lang=ja", "es", "en", "es"},
            {"by q, the equal in order", "", "de;q=0.5, it ;Q=0.8,es;q=0.8 ,fr;q=0.7", "en", "it"},
            {"no q is 1", "", "it;q=0.999, es-MX", "en", "es"},
            {"q=0 refused", "", "fr;q=0, de-AT;q=0.001", "en", "de"},
            {"the unknown passed over", "", "ja, zh-CN;q=0.9, nl;q=0.1", "en", "nl"},
            {"nothing known", "", "ja, *;q=0.5", "de", "de"},
            {"q unreadable or above 1", "", "fr;q=high, it;q=2, de;q=, es;q=0.3", "en", "es"},
            {"malformed", "lang", ";;, ,q=1;de", "fr", "fr"},
            {"English asked of a German program", "", "en-US,en;q=0.9,de;q=0.8", "de", "en"},
        };
        // clang-format on
        for (const LanguageRow& row : rows)
            QTest::newRow(row.name) << row;
    }
    void pageLanguage() {
        QFETCH(LanguageRow, r);
        QCOMPARE(WebRemote::PageLanguage(r.query, r.acceptLanguage, r.program), r.chosen);
    }

    // Every text the page shows, in its markup or from its script, is one the program has
    // translations of; and the page asks for every one of them.
    void pageTexts() {
        Rig rig;
        const QString page = QString::fromUtf8(rig.Get("/?lang=en").body);
        const qsizetype script = page.lastIndexOf("<script>");
        QVERIFY(script > 0);
        const QString markup = page.left(script), code = page.mid(script);
        QSet<QString> asked;
        static const QRegularExpression tag(R"(<[a-z][^>]*>)");
        static const QRegularExpression own(R"(\sdata-t(?=[\s>]))");
        static const QRegularExpression attribute(R"(\sdata-t-([a-z-]+))");
        for (const auto& found : tag.globalMatch(markup)) {
            const QString element = found.captured();
            if (own.match(element).hasMatch())
                asked << Shown(markup.mid(found.capturedEnd()).section('<', 0, 0));
            for (const auto& named : attribute.globalMatch(element)) {
                const QRegularExpression value("\\s" + named.captured(1) + "=\"([^\"]*)\"");
                const QString text = value.match(element).captured(1);
                QVERIFY2(!text.isEmpty(), qPrintable(element));
                asked << Shown(text);
            }
        }
        // Only a text written out can be found by the translators.
        static const QRegularExpression unwritten("\\bT\\((?!\")[^\n]*");
        QCOMPARE(unwritten.match(code).captured(), QString());
        static const QRegularExpression call("\\bT\\(\"((?:[^\"\\\\]|\\\\.)*)\"");
        for (const auto& found : call.globalMatch(code))
            asked << found.captured(1);
        QStringList listed;
        for (const char* text : kPageTexts)
            listed << QString::fromUtf8(text);
        QStringList shown = asked.values();
        shown.sort();
        listed.sort();
        QCOMPARE(shown, listed);
    }

    void pageInLanguage_data() {
        QTest::addColumn<PageRow>("r");
        // clang-format off
        const PageRow rows[] = {
            {"asked in the query", "/?lang=de", "Accept-Language: fr\r\n", "de"},
            {"the browser's", "/", "Accept-Language: fr-CH, fr;q=0.9, de;q=0.8\r\n", "fr"},
            {"the program's, English", "/", "", "en"},
        };
        // clang-format on
        for (const PageRow& row : rows)
            QTest::newRow(row.name) << row;
    }
    // The page in a language says so and carries that language's translations of its texts, those
    // that have one; otherwise it is the page as written.
    void pageInLanguage() {
        QFETCH(PageRow, r);
        Rig rig;
        const Answer answer = rig.Get(r.path, r.headers);
        QVERIFY2(answer.status == 200 && answer.head.contains("\r\nVary: Accept-Language"),
                 answer.head);
        QByteArray page = answer.body;
        const qsizetype start = page.indexOf(kTextsElement) + kTextsElement.size();
        const qsizetype end = page.indexOf("</script>", start);
        QVERIFY(start >= kTextsElement.size() && end > start);
        QJsonObject expected;
        for (const char* text : kPageTexts) {
            const QString translation = Language::Translate(r.language, "WebRemote", text);
            if (translation != QString::fromUtf8(text))
                expected.insert(QString::fromUtf8(text), translation);
        }
        QCOMPARE(QJsonDocument::fromJson(page.mid(start, end - start)).object(), expected);
        const QByteArray lang = "<html lang=\"" + r.language.toLatin1() + "\">";
        QVERIFY2(page.contains(lang), page.left(100));
        page.replace(start, end - start, "{}").replace(lang, R"(<html lang="en">)");
        QCOMPARE(page, PageFile());
    }

    // Whatever a translation holds, the texts' element ends where the program ends it.
    void scriptJson_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("the element's end") << "</script><script>alert(1)</script>";
        QTest::newRow("in capitals, as a comment") << "<!-- </SCRIPT >";
        QTest::newRow("quotes, slashes, umlauts") << R"(Nächster "Titel" \ <\/script>)";
    }
    void scriptJson() {
        QFETCH(QString, text);
        const QJsonObject texts{{text, text}, {"Pause", "Pause <" + text}};
        const QByteArray json = WebRemote::ScriptJson(texts);
        QVERIFY2(!json.contains('<'), json);
        QCOMPARE(QJsonDocument::fromJson(json).object(), texts);
    }

    // On the local network, the machine's own names and addresses; never a name of elsewhere.
    void lanHosts() {
        const RemoteApi::Listening lan{
            true, 8470, {"shop-pc", "shop-pc.local", "192.168.1.20", "[fe80::1]"}};
        for (const char* host :
             {"shop-pc", "SHOP-PC.local:8470", "192.168.1.20:8470", "[fe80::1]:8470", "localhost"})
            QVERIFY2(RemoteApi::HostAllowed(host, lan), host);
        for (const char* host :
             {"shop-pc:8471", "evil.example", "192.168.1.21", "", ":8470", "[fe80::1]:x"})
            QVERIFY2(!RemoteApi::HostAllowed(host, lan), host);
        QVERIFY(!RemoteApi::HostAllowed("shop-pc", {false, 8470, lan.names}));
    }

    // The live status: the first message is the key; the wrong key closes the connection before
    // anything is told.
    void live() {
        Rig rig;
        for (const QByteArray& first : {kKey, QByteArray("wrong")}) {
            QWebSocket socket(QString("http://127.0.0.1:%1").arg(rig.port));
            QStringList told;
            connect(&socket, &QWebSocket::textMessageReceived,
                    [&told](const QString& t) { told << t; });
            socket.open(QUrl(QString("ws://127.0.0.1:%1/api/v1/live").arg(rig.port)));
            QTRY_COMPARE(socket.state(), QAbstractSocket::ConnectedState);
            socket.sendTextMessage(QString::fromLatin1(first));
            if (first == kKey) {
                QTRY_COMPARE(told.size(), 1);
                QVERIFY(QJsonDocument::fromJson(told.first().toUtf8()).object().contains("music"));
                rig.player.Set(Player::kMusicLow, 33);
                QTRY_VERIFY(told.size() > 1 && told.last().contains("\"MusicVolumeLow\":33"));
            } else {
                QTRY_COMPARE(socket.state(), QAbstractSocket::UnconnectedState);
                QCOMPARE(told, QStringList());
            }
        }
    }

    // Off by default; on, it listens on the loopback address only until the network is chosen.
    void listening() {
        QCOMPARE(WebRemote::ReadConfig().port, quint16{0});
        Rig rig;
        QTcpSocket probe;
        for (const QHostAddress& address : QNetworkInterface::allAddresses()) {
            if (address.isLoopback())
                continue;
            probe.connectToHost(address, rig.port);
            QVERIFY2(!probe.waitForConnected(500), qPrintable(address.toString()));
            probe.abort();
        }
        // A port another program holds is said, and nothing listens.
        QTcpServer holder;
        QVERIFY(holder.listen(QHostAddress::LocalHost, 0));
        WebRemote second(rig.player);
        QVERIFY(!second.Start({holder.serverPort(), false, QString::fromLatin1(kKey)}) &&
                !second.Error().isEmpty());
    }
};

QTEST_MAIN(RemoteTest)
#include "tst_remote.moc"
