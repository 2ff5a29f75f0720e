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
const QByteArray kTextsElement = R"(<script id="texts" type="application/json">)";

struct Answer {
    int status = 0;
    QByteArray head, body;
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
    socket.write(
        method + ' ' + path + " HTTP/1.1\r\n" + headers +
        (headers.contains("Host:") ? "" : "Host: 127.0.0.1:" + QByteArray::number(port) + "\r\n") +
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
// An error always says what was wrong, in words of its own but for the names it gives.
// clang-format off
struct RequestRow { const char* name; QByteArray method, path, headers, body; int status; const char* said; QByteArray header = {}; };
struct LanguageRow { const char* name; QString query; QByteArray acceptLanguage; QString program, chosen; };
struct PageRow { const char* name; QByteArray path, headers; QString language; };
// clang-format on

// A table's rows, each under its name.
template <typename Row>
void AddRows(std::initializer_list<Row> rows) {
    QTest::addColumn<Row>("r");
    for (const Row& row : rows)
        QTest::newRow(row.name) << row;
}

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
    quint16 port = [] {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        return probe.serverPort();
    }();
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
        const QByteArray big(RemoteApi::kMostBodyBytes + 1, ' ');
        const QByteArray justFits = QByteArray(RemoteApi::kMostBodyBytes - 2, ' ') + "{}";
        // clang-format off
        AddRows<RequestRow>({
            {"no key", "GET", "/api/v1/status", "", "", 401, "", "WWW-Authenticate: Bearer"},
            {"header and scheme in any case", "GET", "/api/v1/status", "authorization: bearer " + kKey + "\r\n", "", 200, "music"},
            {"IPv6 loopback", "GET", "/api/v1/status", kAuth + "Host: [::1]\r\n", "", 200, "music"},
            // The checks in their order: the size, the name, the key, then the route.
            {"another name, before the key", "GET", "/api/v1/status", "Host: rebound.example\r\n", "", 421, ""},
            {"too long, before the name", "PUT", "/api/v1/settings", "Host: rebound.example\r\n", big, 413, ""},
            {"just fits", "PUT", "/api/v1/settings", kAuth, justFits, 200, "music"},
            {"no such path, without a key", "GET", "/nowhere", "", "", 401, ""},
            {"no such path", "GET", "/nowhere", kAuth, "", 404, ""},
            {"status by DELETE", "DELETE", "/api/v1/status", kAuth, "", 405, "", "Allow: GET"},
            {"next by GET", "GET", "/api/v1/next", kAuth, "", 405, "", "Allow: POST"},
            {"settings not JSON", "PUT", "/api/v1/settings", kAuth, "{", 400, ""},
            {"settings not an object", "PUT", "/api/v1/settings", kAuth, "[40]", 400, ""},
            {"level above 100", "PUT", "/api/v1/settings", kAuth, R"({"MusicVolumeHigh": 101})", 400, "MusicVolumeHigh"},
            {"level not whole", "PUT", "/api/v1/settings", kAuth, R"({"MusicVolumeLow": 10.5})", 400, "MusicVolumeLow"},
            {"interval as text", "PUT", "/api/v1/settings", kAuth, R"({"MessageInterval": "30"})", 400, "MessageInterval"},
            {"interval past any integer", "PUT", "/api/v1/settings", kAuth, R"({"MessageInterval": 1e300})", 400, "MessageInterval"},
            {"crossfade above 10", "PUT", "/api/v1/settings", kAuth, R"({"Crossfade": 11})", 400, "Crossfade"},
            {"a switch as a number", "PUT", "/api/v1/settings", kAuth, R"({"EvenLoudness": 1})", 400, "EvenLoudness"},
            {"an order of no name", "PUT", "/api/v1/settings", kAuth, R"({"MusicOrder": "shuffled"})", 400, "MusicOrder"},
            {"the key is not a setting", "PUT", "/api/v1/settings", kAuth, R"({"WebKey": "x"})", 400, "WebKey"},
            {"a message outside the folder", "POST", "/api/v1/message", kAuth, R"({"file": "../Music/a.mp3"})", 400, "../Music/a.mp3"},
            {"a message by number", "POST", "/api/v1/message", kAuth, R"({"file": 3})", 400, "file"},
            // Going live: refused before the upgrade, whatever the key that would come after.
            {"live by another name", "GET", "/api/v1/live", kUpgrade + "Host: rebound.example\r\nOrigin: http://rebound.example\r\n", "", 421, ""},
            {"live from another page", "GET", "/api/v1/live", kUpgrade + "Origin: http://rebound.example\r\n", "", 403, ""},
            {"live on no such path", "GET", "/elsewhere", kUpgrade, "", 404, ""},
        });
        // clang-format on
    }
    void requests() {
        QFETCH(RequestRow, r);
        Rig rig;
        const Answer answer = Send(rig.port, r.method, r.path, r.headers, r.body);
        QCOMPARE(answer.status, r.status);
        QVERIFY2(
            answer.head.contains(r.header) && !answer.head.toLower().contains("access-control-"),
            answer.head);
        const QString error = answer.Json()["error"].toString();
        QVERIFY2(r.status < 300 ? answer.Json().contains(QLatin1String(r.said))
                                : !error.isEmpty() && error.contains(r.said),
                 answer.body);
    }

    // Taken at once, as a slider would take them, the ends of each range among them, and stored
    // within two seconds; the remote's own settings stay as they are, and the file that holds its
    // key is its owner's alone. The answer is the status after the change.
    void settingsApplied() {
        Rig rig;
        QCOMPARE(WebRemote::ReadConfig().port, quint16{0});  // off until stored
        WebRemote::StoreConfig({rig.port, false, QString::fromLatin1(kKey)});
        const Answer answer = Send(
            rig.port, "PUT", "/api/v1/settings", kAuth,
            R"({"MusicVolumeHigh": 0, "MusicVolumeLow": 100, "EvenLoudness": true, "Crossfade": 10,
                "MessageEverySongs": 100, "MusicOrder": "Shuffle"})");
        QVERIFY2(answer.Json()["MusicVolumeHigh"] == 0 && answer.Json()["MusicOrder"] == "Shuffle",
                 answer.body);
        const Player::Options& options = rig.player.Opts();
        QCOMPARE((QList<int>{rig.player.Get(Player::kMusicHigh), rig.player.Get(Player::kMusicLow),
                             rig.fake->devices["ZEL0"].volume, options.evenLoudness,
                             options.crossfade, options.everySongs, options.shuffle}),
                 (QList<int>{0, 100, 0, true, 10, 100, true}));
        QTRY_VERIFY_WITH_TIMEOUT(
            MediaFixtures::ReadFile(Mod_INI::IniFilePath()).contains("MusicVolumeHigh=0\r\n"),
            2000);
        const WebRemote::Config remote = WebRemote::ReadConfig();
        QVERIFY(remote.port == rig.port && remote.key == kKey);
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
        // Twice is once: still paused, so no message can play.
        QVERIFY(rig.Post("/api/v1/pause").status == 200 &&
                rig.Post("/api/v1/message").status == 409);
        QVERIFY(rig.Post("/api/v1/resume").Json()["paused"] == false && !rig.player.Paused());

        rig.fake->Finish("ZEL1");
        QTRY_VERIFY(rig.player.LastMessage().has_value());
        status = rig.Get("/api/v1/status").Json();
        QCOMPARE(status.value("lastMessage")["file"].toString(), QString("m1.mp3"));
        QVERIFY(status["nextMessageSeconds"].isDouble() && status["problems"] == QJsonArray());
    }

    // Five wrong keys from one address within a minute: it is refused for a minute, whatever key
    // it sends next; another address is not. Failures older than the minute count no more.
    void failuresRefused() {
        Rig rig;
        for (int i = 0; i < RemoteApi::FailureLimit::kMostFailures; ++i)
            QCOMPARE(rig.Get("/api/v1/status", "Authorization: Bearer wrong\r\n").status, 401);
        const Answer refused = rig.Get("/api/v1/status");
        const qint64 minute = RemoteApi::FailureLimit::kWindowMs;
        QVERIFY2(refused.status == 429 &&
                     refused.head.contains("Retry-After: " + QByteArray::number(minute / 1000)),
                 refused.head);
        QCOMPARE(rig.Get("/").status, 429);
        QCOMPARE(
            Send(rig.port, "GET", "/api/v1/status", kAuth, {}, QHostAddress("127.0.0.2")).status,
            200);

        RemoteApi::FailureLimit limit;
        const QHostAddress a("10.0.0.1");
        for (qint64 at : {qint64{0}, qint64{1000}, qint64{2000}, qint64{3000}, minute + 5000})
            limit.Failed(a, at);  // the first four are out of the window by the last
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
        // clang-format off
        AddRows<LanguageRow>({
            {"the query before the header", "lang=fr", "de", "it", "fr"},
            {"the query in English", "x=1&lang=en", "de", "de", "en"},
            {"a query of a locale name", "lang=nl_BE", "", "en", "nl"},
            {"a query the program lacks", "lang=ja", "es", "en", "es"},
            {"by q, the equal in order", "", "de;q=0.5, it ;Q=0.8,es;q=0.8 ,fr;q=0.7", "en", "it"},
            {"no q is 1", "", "it;q=0.999, es-MX", "en", "es"},
            {"q=0 refused", "", "fr;q=0, ja, de-AT;q=0", "en", "en"},
            {"the unknown passed over", "", "ja, zh-CN;q=0.9, nl;q=0.1", "en", "nl"},
            {"nothing known", "", "ja, *;q=0.5", "de", "de"},
            {"q unreadable or above 1", "", "fr;q=high, it;q=2, de;q=, es;q=0.3", "en", "es"},
            {"malformed", "lang", ";;, ,q=1;de", "fr", "fr"},
        });
        // clang-format on
    }
    void pageLanguage() {
        QFETCH(LanguageRow, r);
        QCOMPARE(WebRemote::PageLanguage(r.query, r.acceptLanguage, r.program), r.chosen);
    }

    // Every text the page shows, in its markup or from its script, is one the program has
    // translations of; and the page asks for every one of them.
    void pageTexts() {
        const QString page = QString::fromUtf8(PageFile());
        const qsizetype script = page.lastIndexOf("<script>");
        QVERIFY(script > 0);
        const QString markup = page.left(script), code = page.mid(script);
        QSet<QString> asked;
        static const QRegularExpression own(R"(\sdata-t(?=[\s>])[^>]*>([^<]*))");
        for (const auto& found : own.globalMatch(markup))
            asked << Shown(found.captured(1));
        // A marked attribute that is missing adds an empty text, which no list holds.
        static const QRegularExpression tag(R"(<[a-z][^>]*>)"), attribute(R"(\sdata-t-([a-z-]+))");
        for (const auto& element : tag.globalMatch(markup)) {
            for (const auto& named : attribute.globalMatch(element.captured())) {
                const QRegularExpression value("\\s" + named.captured(1) + "=\"([^\"]*)\"");
                asked << Shown(value.match(element.captured()).captured(1));
            }
        }
        // Only a text written out can be found by the translators.
        static const QRegularExpression unwritten("\\bT\\((?!\")[^\n]*");
        QCOMPARE(unwritten.match(code).captured(), QString());
        static const QRegularExpression call("\\bT\\(\"((?:[^\"\\\\]|\\\\.)*)\"");
        for (const auto& found : call.globalMatch(code))
            asked << found.captured(1);
        QStringList shown = asked.values(), listed(kPageTexts.begin(), kPageTexts.end());
        shown.sort();
        listed.sort();
        QCOMPARE(shown, listed);
    }

    void pageInLanguage_data() {
        // clang-format off
        AddRows<PageRow>({
            {"asked in the query", "/?lang=de", "Accept-Language: fr\r\n", "de"},
            {"the browser's", "/", "Accept-Language: fr-CH, fr;q=0.9, de;q=0.8\r\n", "fr"},
            {"the program's, English", "/", "", "en"},
        });
        // clang-format on
    }
    // The page, without a key, says its language and carries the translations of its texts that
    // have one; otherwise it is the page as written. Nothing of another site may run in it.
    void pageInLanguage() {
        QFETCH(PageRow, r);
        const Answer answer = Rig().Get(r.path, r.headers);
        QVERIFY2(answer.status == 200 && answer.head.contains("\r\nVary: Accept-Language") &&
                     answer.head.contains("\r\nContent-Security-Policy: default-src 'none'"),
                 answer.head);
        QJsonObject expected;
        for (const char* text : kPageTexts) {
            const QString translation = Language::Translate(r.language, "WebRemote", text);
            if (translation != QString::fromUtf8(text))
                expected.insert(QString::fromUtf8(text), translation);
        }
        QCOMPARE(expected.isEmpty(), r.language == "en");  // else nothing here is tested
        QByteArray page = answer.body;
        const qsizetype start = page.indexOf(kTextsElement) + kTextsElement.size();
        const qsizetype end = page.indexOf("</script>", start);
        QCOMPARE(QJsonDocument::fromJson(page.mid(start, end - start)).object(), expected);
        page.replace(start, end - start, "{}")
            .replace("<html lang=\"" + r.language.toLatin1() + "\">", R"(<html lang="en">)");
        QCOMPARE(page, PageFile());
    }

    // Whatever a translation holds, the texts' element ends where the program ends it.
    void scriptJson_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("the element's end, in any case")
            << "</script><script>alert(1)</SCRIPT ><!--";
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

    // The live status: the first message is the key, and each change is told; the wrong key
    // closes the connection before anything is told.
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
            if (first != kKey) {
                QTRY_COMPARE(socket.state(), QAbstractSocket::UnconnectedState);
                QCOMPARE(told, QStringList());
                continue;
            }
            QTRY_VERIFY(!told.isEmpty() && told.first().contains("\"music\":{"));
            rig.player.Set(Player::kMusicLow, 33);
            QTRY_VERIFY(told.size() > 1 && told.last().contains("\"MusicVolumeLow\":33"));
        }
    }

    // It listens on the loopback address only until the network is chosen; a port another
    // program holds is said, and nothing listens.
    void listening() {
        Rig rig;
        for (const QHostAddress& address : QNetworkInterface::allAddresses()) {
            QTcpSocket probe;
            probe.connectToHost(address, rig.port);
            QVERIFY2(address.isLoopback() || !probe.waitForConnected(500),
                     qPrintable(address.toString()));
        }
        QTcpServer holder;
        QVERIFY(holder.listen(QHostAddress::LocalHost, 0));
        WebRemote second(rig.player);
        QVERIFY(!second.Start({holder.serverPort(), false, QString::fromLatin1(kKey)}) &&
                !second.Error().isEmpty());
    }
};

QTEST_MAIN(RemoteTest)
#include "tst_remote.moc"
