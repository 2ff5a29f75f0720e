#include "tst_startdoc.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>
#include <QUrl>
#include <vector>

#include "desktop/Mod_StartDoc.h"
#include "platform/shell.h"

namespace {

struct Launch {
    QString program;
    QStringList arguments;
    QString workingFolder;
};

// Stands in for the desktop's opener: records what would have been started.
std::vector<Launch> launches;
bool launcherSucceeds = true;

const QString kOddName = QStringLiteral("a b \"c\";d 'e' $(x).txt");

QString Expand(QString text, const QString& dir) {
    return text.replace(QStringLiteral("<dir>"), dir);
}

// A local document reaches the opener as its path or as a file URL naming exactly that path.
bool NamesLocalFile(const QString& argument, const QString& path) {
    if (argument == path) {
        return true;
    }
    const QUrl url(argument);
    return url.isLocalFile() && url.toLocalFile() == path;
}

}  // namespace

void StartDocTest::initTestCase() {
    QVERIFY(dir_.isValid());
    const QDir dir(dir_.path());
    QVERIFY(dir.mkdir(QStringLiteral("docs")));
    for (const QString& name : {QStringLiteral("song.mp3"), kOddName}) {
        QFile file(dir.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
}

void StartDocTest::init() {
    launches.clear();
    launcherSucceeds = true;
    Platform::Shell::SetLauncher(
        [](const QString& program, const QStringList& arguments, const QString& workingFolder) {
            launches.push_back({program, arguments, workingFolder});
            return launcherSucceeds;
        });
}

void StartDocTest::cleanup() {
    // Back to a launcher that records, never the real opener, should a later test slip.
    Platform::Shell::SetLauncher(
        [](const QString&, const QStringList&, const QString&) { return false; });
}

void StartDocTest::startDoc_data() {
    QTest::addColumn<QString>("document");  // "<dir>" stands for a folder that exists
    QTest::addColumn<bool>("launcherWorks");
    QTest::addColumn<bool>("launched");
    QTest::addColumn<bool>("local");      // the target names a local file or folder
    QTest::addColumn<QString>("target");  // what the opener is given to open
    QTest::addColumn<QString>("folder");  // the working folder it is started in
    QTest::addColumn<bool>("success");

    QTest::newRow("file in an existing folder")
        << "<dir>/song.mp3" << true << true << true << "<dir>/song.mp3"
        << "<dir>" << true;
    QTest::newRow("an existing folder is its own working folder")
        << "<dir>/docs" << true << true << true << "<dir>/docs"
        << "<dir>/docs" << true;
    QTest::newRow("blanks, quotes and ; in a file name")
        << "<dir>/" + kOddName << true << true << true << "<dir>/" + kOddName << "<dir>" << true;
    QTest::newRow("web address without scheme")
        << "www.example.org" << true << true << false << "http://www.example.org"
        << "" << true;
    QTest::newRow("web address without scheme, with a path")
        << "www.example.org/corvane" << true << true << false << "http://www.example.org/corvane"
        << "" << true;
    QTest::newRow("web address in capitals")
        << "WWW.Example.org" << true << true << false << "http://WWW.Example.org"
        << "" << true;
    QTest::newRow("web address with scheme passes unchanged")
        << "https://example.org/x" << true << true << false << "https://example.org/x"
        << "" << true;
    QTest::newRow("web address with blanks and ; stays one argument")
        << "https://example.org/a b;c \"d\"" << true << true << false
        << "https://example.org/a b;c \"d\""
        << "" << true;
    QTest::newRow("opener fails on a file")
        << "<dir>/song.mp3" << false << true << true << "<dir>/song.mp3"
        << "<dir>" << false;
    QTest::newRow("opener fails on a web address")
        << "www.example.org" << false << true << false << "http://www.example.org"
        << "" << false;
    QTest::newRow("missing file in an existing folder")
        << "<dir>/missing.mp3" << true << false << false << ""
        << "" << false;
    QTest::newRow("file in a missing folder")
        << "/no-such-folder-of-corvane/song.mp3" << true << false << false << ""
        << "" << false;
    QTest::newRow("missing file given without a folder")
        << "missing-song-of-corvane.mp3" << true << false << false << ""
        << "" << false;
    QTest::newRow("empty") << "" << true << false << false << ""
                           << "" << false;
}

void StartDocTest::startDoc() {
    QFETCH(QString, document);
    QFETCH(bool, launcherWorks);
    QFETCH(bool, launched);
    QFETCH(bool, local);
    QFETCH(QString, target);
    QFETCH(QString, folder);
    QFETCH(bool, success);

    launcherSucceeds = launcherWorks;
    const qint32 result = Mod_StartDoc::StartDoc(Expand(document, dir_.path()));

    if (success) {
        QVERIFY2(result > 32, qPrintable(QString::number(result)));
    } else {
        QVERIFY2(result <= 32, qPrintable(QString::number(result)));
    }
    QCOMPARE(launches.size(), std::size_t{launched ? 1u : 0u});
    if (!launched) {
        return;
    }
    const Launch& launch = launches.front();
    // Started directly, never through a shell that would split or interpret the name.
    const QString program = QFileInfo(launch.program).fileName();
    QVERIFY2(!QStringList({"sh", "bash", "dash", "zsh", "cmd", "cmd.exe"}).contains(program),
             qPrintable(launch.program));
    QCOMPARE(launch.arguments.size(), 1);
    if (local) {
        QVERIFY2(NamesLocalFile(launch.arguments.front(), Expand(target, dir_.path())),
                 qPrintable(launch.arguments.front()));
    } else {
        QCOMPARE(launch.arguments.front(), target);
    }
    QCOMPARE(launch.workingFolder, Expand(folder, dir_.path()));
}
