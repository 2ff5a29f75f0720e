#include <QtTest>
#include <functional>

#include "Recorder.h"
#include "TestHome.h"
#include "audio/Mod_MCI.h"
#include "platform/files.h"
#include "platform/mci/mci.h"

using namespace Mod_MCI;
using namespace Platform::Mci;

// One call into the channel layer, its result as text so every row compares it alike; the
// commands it sends; the reply to every command, and the start of the commands that are refused.
// clang-format off
struct Row { std::function<QString()> call; QStringList sent; QString result = "Success"; std::string reply = {}, failOn = {}; };
// clang-format on

namespace {

const QString kOpenTail = QStringLiteral(" type MPEGVideo Alias ZEL0 parent 460 Style 1073741824");

// Fixed fields are counted in bytes of the command as sent.
QString Padded(const QString& command, int field = 128) {
    return command + QString(std::max<qsizetype>(field - command.toUtf8().size(), 0), u' ');
}

QString ErrorText(MciError code) {
    char text[128] = {};
    mciGetErrorString(code, text, sizeof text);
    return QString::fromLocal8Bit(text);
}

}  // namespace

class ModMciTest : public QObject {
    Q_OBJECT

    TestHome dir_;
    std::string reply_, failOn_;  // the row's, for the recorder
    Recorder* recorder_ = nullptr;

    // Sends `name`, made to exist, through MciOpen.
    QString Open(const QString& name) {
        return dir_.Make({{name, "x"}}) ? MciOpen(460, "ZEL0", dir_.filePath(name), "MPEGVideo")
                                        : "";
    }

private slots:
    void init() {
        recorder_ = new Recorder([this](std::string_view command, std::string& reply) {
            reply = reply_;
            return !failOn_.empty() && command.starts_with(failOn_) ? kErrDeviceNotOpen : kNoError;
        });
        SetService(std::unique_ptr<Service>(recorder_));
    }

    void examples_data() {
        QTest::addColumn<Row>("r");
        const QStringList length{"set ZEL0 time format frames", "status ZEL0 length"};
        const QString longName = "a/" + QString(250, u'b') + ".mp3";
        // clang-format off
        QTest::newRow("open quotes a blank") << Row{[this] { return Open("my song.mp3"); }, {Padded("open \"" + dir_.filePath("my song.mp3") + '"' + kOpenTail, 255)}};
        QTest::newRow("open refused") << Row{[this] { return Open("SONG1.MP3"); }, {Padded("open " + dir_.filePath("SONG1.MP3") + kOpenTail, 255)}, ErrorText(kErrDeviceNotOpen), "", "open"};
        // Cutting a command to its field would name another file or drop the alias.
        QTest::newRow("long path sent whole") << Row{[=, this] { return Open(longName); }, {"open " + dir_.filePath(longName) + kOpenTail}};
        QTest::newRow("play 10 to 20") << Row{[] { return MciPlay("ZEL0", "10", "20"); }, {Padded("play ZEL0 from 10 to 20")}};
        QTest::newRow("play to the length") << Row{[] { return MciPlay("ZEL0", "", ""); }, length + QStringList{Padded("play ZEL0 from 0 to 750")}, "Success", "750"};
        QTest::newRow("play, length refused") << Row{[] { return MciPlay("ZEL0", "", ""); }, length + QStringList{Padded("play ZEL0 from 0 to -1")}, "Success", "750", "status"};
        QTest::newRow("close, close all") << Row{[] { const QString one = MciClose("ZEL0"); return one + MciCloseAll(); }, {"Close ZEL0", "Close All"}, "SuccessSuccess"};
        QTest::newRow("mode cut to 127") << Row{[] { return MciGetMode("ZEL0"); }, {"status ZEL0 mode"}, QString(127, u'p'), std::string(300, 'p')};
        QTest::newRow("mode refused") << Row{[] { return MciGetMode("ZEL0"); }, {"status ZEL0 mode"}, "ERROR", "playing", "status"};
        QTest::newRow("volume Left 0") << Row{[] { return MciSetVolume("ZEL0", "Left", 0); }, {Padded("setaudio ZEL0 Left Volume to 0")}};
        QTest::newRow("volume lefty 100: both sides") << Row{[] { return MciSetVolume("ZEL0", "lefty", 100); }, {Padded("setaudio ZEL0 Volume to 1000")}};
        QTest::newRow("volume -1 and 101 not sent") << Row{[] { return MciSetVolume("ZEL0", "Both", -1) == "Success" || MciSetVolume("ZEL0", "Both", 101) == "Success" ? "sent" : "refused"; }, {}, "refused"};
        QTest::newRow("get 505 halves to even 50") << Row{[] { return QString::number(MciGetVolume("ZEL0", "both")); }, {Padded("status ZEL0 Volume")}, "50", "505"};
        QTest::newRow("get right 515 halves to even 52") << Row{[] { return QString::number(MciGetVolume("ZEL0", "right")); }, {Padded("status ZEL0 right Volume")}, "52", "515"};
        QTest::newRow("get refused") << Row{[] { return QString::number(MciGetVolume("ZEL0", "both")); }, {Padded("status ZEL0 Volume")}, "-1", "500", "status"};
        // clang-format on
    }
    // Every command goes out byte for byte: padded to its field or not at all.
    void examples() {
        QFETCH(Row, r);
        reply_ = r.reply;
        failOn_ = r.failOn;
        QCOMPARE(r.call(), r.result);
        QStringList sent;
        for (const std::string& command : recorder_->Commands()) {
            sent << QString::fromStdString(command);
        }
        QCOMPARE(sent, r.sent);
    }

    void unsafeNamesOpenThroughLinks_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("quote") << "say \"hi\".mp3";
        QTest::newRow("control character") << "tab\tname.mp3";
        QTest::newRow("delete") << "del\x7f.mp3";
    }
    // A character a command cannot carry: the file is opened under a plain name of its own that
    // leads to it, the same each time it is asked for.
    void unsafeNamesOpenThroughLinks() {
        QFETCH(QString, name);
        QCOMPARE(Open(name), QStringLiteral("Success"));
        QCOMPARE(Open(name), QStringLiteral("Success"));
        const auto& sent = recorder_->Commands();
        QCOMPARE(sent.size(), std::size_t(2));
        QCOMPARE(sent[0], sent[1]);
        const QString opened = QString::fromStdString(sent[0]).section(' ', 1, 1);
        QVERIFY2(!opened.contains('"') && !opened.contains('\t') && !opened.contains('\x7f'),
                 qPrintable(opened));
        QCOMPARE(QFileInfo(opened).canonicalFilePath(),
                 QFileInfo(dir_.filePath(name)).canonicalFilePath());
        QCOMPARE(Platform::Files::LongPathName(QFile::encodeName(opened)),
                 QFile::encodeName(dir_.filePath(name)));
    }
};

QTEST_GUILESS_MAIN(ModMciTest)
#include "tst_mod_mci.moc"
