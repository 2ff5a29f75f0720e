#include <QtTest>
#include <functional>

#include "MediaFixtures.h"
#include "Recorder.h"
#include "audio/Mod_MCI.h"
#include "platform/mci/mci.h"

using namespace Mod_MCI;
using namespace Platform::Mci;

// One call into the channel layer, its result as text so every row compares it alike.
using Call = std::function<QString()>;
Q_DECLARE_METATYPE(Call)

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

    QTemporaryDir dir_;
    std::string reply_;   // the recorder's reply to every command
    std::string failOn_;  // commands starting with this are refused
    Recorder* recorder_ = nullptr;

    QStringList Sent() const {
        QStringList sent;
        for (const std::string& command : recorder_->Commands()) {
            sent << QString::fromStdString(command);
        }
        return sent;
    }

    // Sends `name`, made to exist, through MciOpen.
    QString Open(const QString& name) {
        const QString path = dir_.filePath(name);
        return MediaFixtures::MakeFile(path, "x") ? MciOpen(460, "ZEL0", path, "MPEGVideo") : "";
    }

private slots:
    void initTestCase() { QVERIFY(dir_.isValid() && QDir().mkpath(dir_.filePath("a"))); }
    void init() {
        reply_.clear();
        failOn_.clear();
        recorder_ = new Recorder([this](std::string_view command, std::string& reply) {
            reply = reply_;
            return !failOn_.empty() && command.starts_with(failOn_) ? kErrDeviceNotOpen : kNoError;
        });
        SetService(std::unique_ptr<Service>(recorder_));
    }

    void examples_data() {
        QTest::addColumn<Call>("call");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QByteArray>("failOn");
        QTest::addColumn<QStringList>("sent");
        QTest::addColumn<QString>("result");
        const QString song = dir_.filePath("SONG1.MP3");
        const QString blank = dir_.filePath("my song.mp3");
        const QStringList length{"set ZEL0 time format frames", "status ZEL0 length"};
        const QString notOpen = ErrorText(kErrDeviceNotOpen);
        // clang-format off
        QTest::newRow("open") << Call([this] { return Open("SONG1.MP3"); }) << QByteArray() << QByteArray() << QStringList{Padded("open " + song + kOpenTail, 255)} << "Success";
        QTest::newRow("open quotes a blank") << Call([this] { return Open("my song.mp3"); }) << QByteArray() << QByteArray() << QStringList{Padded("open \"" + blank + '"' + kOpenTail, 255)} << "Success";
        QTest::newRow("open refused") << Call([this] { return Open("SONG1.MP3"); }) << QByteArray() << QByteArray("open") << QStringList{Padded("open " + song + kOpenTail, 255)} << notOpen;
        QTest::newRow("play 10 to 20") << Call([] { return MciPlay("ZEL0", "10", "20"); }) << QByteArray() << QByteArray() << QStringList{Padded("play ZEL0 from 10 to 20")} << "Success";
        QTest::newRow("play to the length") << Call([] { return MciPlay("ZEL0", "", ""); }) << QByteArray("750") << QByteArray() << length + QStringList{Padded("play ZEL0 from 0 to 750")} << "Success";
        QTest::newRow("play, length refused") << Call([] { return MciPlay("ZEL0", "", ""); }) << QByteArray("750") << QByteArray("status") << length + QStringList{Padded("play ZEL0 from 0 to -1")} << "Success";
        QTest::newRow("close") << Call([] { return MciClose("ZEL0"); }) << QByteArray() << QByteArray() << QStringList{"Close ZEL0"} << "Success";
        QTest::newRow("close all") << Call([] { return MciCloseAll(); }) << QByteArray() << QByteArray() << QStringList{"Close All"} << "Success";
        QTest::newRow("mode") << Call([] { return MciGetMode("ZEL0"); }) << QByteArray("playing") << QByteArray() << QStringList{"status ZEL0 mode"} << "playing";
        QTest::newRow("mode cut to 127") << Call([] { return MciGetMode("ZEL0"); }) << QByteArray(300, 'p') << QByteArray() << QStringList{"status ZEL0 mode"} << QString(127, u'p');
        QTest::newRow("mode refused") << Call([] { return MciGetMode("ZEL0"); }) << QByteArray("playing") << QByteArray("status") << QStringList{"status ZEL0 mode"} << "ERROR";
        QTest::newRow("length") << Call([] { return QString::number(MciGetLength("ZEL0")); }) << QByteArray("750") << QByteArray() << length << "750";
        QTest::newRow("length refused") << Call([] { return QString::number(MciGetLength("ZEL0")); }) << QByteArray("750") << QByteArray("status") << length << "-1";
        QTest::newRow("volume Both 50") << Call([] { return MciSetVolume("ZEL0", "Both", 50); }) << QByteArray() << QByteArray() << QStringList{Padded("setaudio ZEL0 Volume to 500")} << "Success";
        QTest::newRow("volume Left 0") << Call([] { return MciSetVolume("ZEL0", "Left", 0); }) << QByteArray() << QByteArray() << QStringList{Padded("setaudio ZEL0 Left Volume to 0")} << "Success";
        QTest::newRow("volume lefty 100") << Call([] { return MciSetVolume("ZEL0", "lefty", 100); }) << QByteArray() << QByteArray() << QStringList{Padded("setaudio ZEL0 Volume to 1000")} << "Success";
        QTest::newRow("volume -1") << Call([] { return MciSetVolume("ZEL0", "Both", -1); }) << QByteArray() << QByteArray() << QStringList() << "out of volume";
        QTest::newRow("volume 101") << Call([] { return MciSetVolume("ZEL0", "Both", 101); }) << QByteArray() << QByteArray() << QStringList() << "out of volume";
        QTest::newRow("volume refused") << Call([] { return MciSetVolume("ZEL0", "Both", 5); }) << QByteArray() << QByteArray("setaudio") << QStringList{Padded("setaudio ZEL0 Volume to 50")} << notOpen;
        QTest::newRow("get 505 halves to 50") << Call([] { return QString::number(MciGetVolume("ZEL0", "both")); }) << QByteArray("505") << QByteArray() << QStringList{Padded("status ZEL0 Volume")} << "50";
        QTest::newRow("get 515 halves to 52") << Call([] { return QString::number(MciGetVolume("ZEL0", "")); }) << QByteArray("515") << QByteArray() << QStringList{Padded("status ZEL0 Volume")} << "52";
        QTest::newRow("get right 400") << Call([] { return QString::number(MciGetVolume("ZEL0", "right")); }) << QByteArray("400") << QByteArray() << QStringList{Padded("status ZEL0 right Volume")} << "40";
        QTest::newRow("get refused") << Call([] { return QString::number(MciGetVolume("ZEL0", "both")); }) << QByteArray("500") << QByteArray("status") << QStringList{Padded("status ZEL0 Volume")} << "-1";
        // clang-format on
    }
    // Every command goes out byte for byte: padded to its field or not at all.
    void examples() {
        QFETCH(Call, call);
        QFETCH(QByteArray, reply);
        QFETCH(QByteArray, failOn);
        QFETCH(QStringList, sent);
        QFETCH(QString, result);
        reply_ = reply.toStdString();
        failOn_ = failOn.toStdString();
        QCOMPARE(call(), result);
        QCOMPARE(Sent(), sent);
    }

    void unsafeNamesAreNeverSent() {
        for (const char* name : {"say \"hi\".mp3", "tab\tname.mp3", "del\x7f.mp3"}) {
            QCOMPARE(Open(name), ErrorText(kErrUnsafeFileName));
        }
        QCOMPARE(Sent(), QStringList());
    }

    // Cutting a command to its field would name another file or drop the alias.
    void longPathIsSentWhole() {
        const QString name = "a/" + QString(250, u'b') + ".mp3";
        QCOMPARE(Open(name), QStringLiteral("Success"));
        QCOMPARE(Sent(), QStringList{"open " + dir_.filePath(name) + kOpenTail});
    }
};

QTEST_GUILESS_MAIN(ModMciTest)
#include "tst_mod_mci.moc"
