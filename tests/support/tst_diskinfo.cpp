#include "tst_diskinfo.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTest>
#include <QUuid>
#include <cerrno>

#include "support/Mod_Diskinfo.h"

namespace {

void Touch(const QString& path) {
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
    file.write("x");
}

// The first component of the temporary folder serves as a "server", so that a network path
// "//server/share" maps onto a real folder here.
QString TempServer() {
    return QDir::tempPath().section(QLatin1Char('/'), 1, 1);
}

qsizetype CountEntries(const QString& folder) {
    qsizetype count = 0;
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        ++count;
    }
    return count;
}

}  // namespace

void DiskinfoTest::initTestCase() {
    QVERIFY(root_.isValid());
    // A network path needs at least a server and a share above the fixture folder.
    QVERIFY2(root_.path().count(QLatin1Char('/')) >= 2, qPrintable(root_.path()));
    const QDir dir(root_.path());
    QVERIFY(dir.mkpath(QStringLiteral("music")));
    QVERIFY(dir.mkpath(QStringLiteral("empty")));
    // A real folder whose name holds a wildcard: only the pattern rule keeps it from being
    // taken as a folder.
    QVERIFY(dir.mkpath(QStringLiteral("fold?r")));
    Touch(dir.filePath(QStringLiteral("music/a.mp3")));
    Touch(dir.filePath(QStringLiteral("music/song.mp3")));
    Touch(dir.filePath(QStringLiteral("plain.txt")));
    missingShareName_ =
        QStringLiteral("corvane-no-share-") + QUuid::createUuid().toString(QUuid::Id128);
}

void DiskinfoTest::init() {
    boxes_.clear();
    Mod_Diskinfo::SetErrorBox([this](const QString& text, const QString& title) {
        boxes_.append({text, title});
    });
    savedCurrent_ = QDir::currentPath();
    QVERIFY(QDir::setCurrent(root_.path()));
}

void DiskinfoTest::cleanup() {
    Mod_Diskinfo::SetErrorBox(nullptr);
    QDir::setCurrent(savedCurrent_);
    QDir(root_.path() + QStringLiteral("/new")).removeRecursively();
    QDir(root_.path() + QStringLiteral("/empty/new")).removeRecursively();
    // Only a faulty CreatePath would make the share; do not leave it behind.
    QDir(QLatin1Char('/') + TempServer() + QLatin1Char('/') + missingShareName_)
        .removeRecursively();
}

QString DiskinfoTest::Resolve(QString path) const {
    path.replace(QStringLiteral("$S"),
                 QStringLiteral("//") + TempServer() + QLatin1Char('/') + missingShareName_);
    return path.replace(QStringLiteral("$T"), root_.path());
}

void DiskinfoTest::pathExists_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("expected");

    QTest::newRow("existing folder") << "$T/music" << true;
    QTest::newRow("existing folder with trailing separator") << "$T/music/" << false;
    QTest::newRow("existing file") << "$T/music/a.mp3" << true;
    QTest::newRow("pattern with a match") << "$T/music/*.mp3" << true;
    QTest::newRow("pattern with question mark") << "$T/music/?.mp3" << true;
    QTest::newRow("pattern without a match") << "$T/music/*.wav" << false;
    QTest::newRow("pattern in empty folder") << "$T/empty/*" << false;
    QTest::newRow("missing") << "$T/missing" << false;
    QTest::newRow("below a file") << "$T/plain.txt/x" << false;
    QTest::newRow("relative") << "music/song.mp3" << true;
    QTest::newRow("root") << "/" << false;
    QTest::newRow("empty") << "" << false;
}

void DiskinfoTest::pathExists() {
    QFETCH(QString, path);
    QFETCH(bool, expected);
    QCOMPARE(Mod_Diskinfo::PathExists(Resolve(path)), expected);
}

void DiskinfoTest::createPath_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QStringList>("mustExist");
    QTest::addColumn<QString>("mustNotExist");

    QTest::newRow("two missing levels") << "$T/new/a" << QStringList{"$T/new", "$T/new/a"} << "";
    QTest::newRow("three missing levels, trailing separator")
        << "$T/new/a/b/" << QStringList{"$T/new", "$T/new/a", "$T/new/a/b"} << "";
    QTest::newRow("existing folder") << "$T/music" << QStringList{} << "";
    QTest::newRow("existing parent") << "$T/empty/new" << QStringList{"$T/empty/new"} << "";
    QTest::newRow("doubled separator") << "$T/new//a" << QStringList{"$T/new", "$T/new/a"} << "";
    QTest::newRow("relative") << "new/rel" << QStringList{"$T/new", "$T/new/rel"} << "";
    QTest::newRow("network path below an existing share")
        << "/$T/new/unc" << QStringList{"$T/new", "$T/new/unc"} << "";
    // The share is never created, so with nothing below it there is nothing to do.
    QTest::newRow("network share alone") << "$S" << QStringList{} << "$S";
}

void DiskinfoTest::createPath() {
    QFETCH(QString, path);
    QFETCH(QStringList, mustExist);
    QFETCH(QString, mustNotExist);

    const qsizetype entriesBefore = CountEntries(root_.path());
    QCOMPARE(Mod_Diskinfo::CreatePath(Resolve(path)), qint16(0));
    QCOMPARE(boxes_.size(), 0);
    for (const QString& folder : mustExist) {
        QVERIFY2(QFileInfo(Resolve(folder)).isDir(), qPrintable(Resolve(folder)));
    }
    // Exactly the missing folders, nothing beside them.
    QCOMPARE(CountEntries(root_.path()), entriesBefore + mustExist.size());
    if (!mustNotExist.isEmpty()) {
        QVERIFY2(!QFileInfo::exists(Resolve(mustNotExist)), qPrintable(Resolve(mustNotExist)));
    }
    // Running it again finds everything in place.
    QCOMPARE(Mod_Diskinfo::CreatePath(Resolve(path)), qint16(0));
    QCOMPARE(boxes_.size(), 0);
    QCOMPARE(CountEntries(root_.path()), entriesBefore + mustExist.size());
}

void DiskinfoTest::createPathFailure_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("failingFolder");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("mustNotExist");

    QTest::newRow("below a file") << "$T/plain.txt/sub"
                                  << "$T/plain.txt/sub" << ENOTDIR << "";
    // Scanning past the first failure would fail again, one level deeper, with a second box.
    QTest::newRow("two levels below a file") << "$T/plain.txt/sub/deeper"
                                             << "$T/plain.txt/sub" << ENOTDIR << "";
    QTest::newRow("network share missing") << "$S/sub/deeper"
                                           << "$S/sub" << ENOENT << "$S";
    QTest::newRow("drive missing") << "Q:/sub"
                                   << "Q:/sub" << ENOENT << "$T/Q:";
}

void DiskinfoTest::createPathFailure() {
    QFETCH(QString, path);
    QFETCH(QString, failingFolder);
    QFETCH(int, code);
    QFETCH(QString, mustNotExist);

    QCOMPARE(Mod_Diskinfo::CreatePath(Resolve(path)), qint16(code));
    QCOMPARE(boxes_.size(), 1);
    QCOMPARE(boxes_.front().title, QStringLiteral("Error"));
    const QString suffix = QStringLiteral(" creating path ") + Resolve(failingFolder);
    QVERIFY2(boxes_.front().text.endsWith(suffix), qPrintable(boxes_.front().text));
    // The error's description comes first.
    QVERIFY2(boxes_.front().text.size() > suffix.size(), qPrintable(boxes_.front().text));
    if (!mustNotExist.isEmpty()) {
        QVERIFY2(!QFileInfo::exists(Resolve(mustNotExist)), qPrintable(Resolve(mustNotExist)));
    }
}

void DiskinfoTest::stripTrailingBackslash_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    QTest::newRow("plain folder") << "/home/user"
                                  << "/home/user";
    QTest::newRow("one separator") << "/home/user/"
                                   << "/home/user";
    QTest::newRow("two separators") << "/home/user//"
                                    << "/home/user";
    QTest::newRow("drive root") << "C:/"
                                << "C:";
    QTest::newRow("root") << "/"
                          << "";
    QTest::newRow("only separators") << "///"
                                     << "";
    QTest::newRow("trailing spaces") << "/home/user  "
                                     << "/home/user";
    QTest::newRow("spaces after separator") << "/home/user/  "
                                            << "/home/user";
    QTest::newRow("spaces before separator stay") << "/home/user  /"
                                                  << "/home/user  ";
    QTest::newRow("spaces removed only once") << "/home/user/ / "
                                              << "/home/user/ ";
    QTest::newRow("inner separators stay") << "a//b"
                                           << "a//b";
    QTest::newRow("only spaces") << "   "
                                 << "";
    QTest::newRow("empty") << ""
                           << "";
}

void DiskinfoTest::stripTrailingBackslash() {
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(Mod_Diskinfo::StripTrailingBackslash(text), expected);
}

void DiskinfoTest::folderOfPath_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");

    QTest::newRow("existing folder") << "$T/music"
                                     << "$T/music";
    QTest::newRow("existing folder, trailing separator") << "$T/music/"
                                                         << "$T/music";
    QTest::newRow("existing folder, two separators") << "$T/music//"
                                                     << "$T/music";
    QTest::newRow("file in folder") << "$T/music/a.mp3"
                                    << "$T/music";
    QTest::newRow("existing file") << "$T/plain.txt"
                                   << "$T";
    QTest::newRow("missing file in folder") << "$T/music/missing.mp3"
                                            << "$T/music";
    QTest::newRow("pattern in folder") << "$T/music/*.mp3"
                                       << "$T/music";
    QTest::newRow("star alone") << "$T/music/*"
                                << "$T/music";
    QTest::newRow("star in folder part") << "$T/mu*/a.mp3"
                                         << "$T";
    QTest::newRow("question mark is no folder") << "$T/fold?r"
                                                << "$T";
    QTest::newRow("missing folder, trailing separator") << "$T/missing/"
                                                        << "$T/missing";
    QTest::newRow("file in missing folder") << "$T/missing/x.txt"
                                            << "$T/missing";
    QTest::newRow("web address") << "www.example.org"
                                 << "";
    QTest::newRow("relative folder without separator") << "music"
                                                       << "";
    QTest::newRow("relative file") << "music/a.mp3"
                                   << "music";
    QTest::newRow("relative existing folder") << "music/"
                                              << "music";
    QTest::newRow("bare drive") << "C:"
                                << "C:";
    QTest::newRow("drive root") << "C:/"
                                << "C:";
    QTest::newRow("file on drive") << "C:/x/y.txt"
                                   << "C:/x";
    QTest::newRow("root") << "/"
                          << "/";
    QTest::newRow("file in root") << "/corvane-missing.txt"
                                  << "/";
    QTest::newRow("empty") << ""
                           << "";
}

void DiskinfoTest::folderOfPath() {
    QFETCH(QString, path);
    QFETCH(QString, expected);
    QCOMPARE(Mod_Diskinfo::FolderOfPath(Resolve(path)), Resolve(expected));
}

void DiskinfoTest::pathRoot_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");

    QTest::newRow("network path") << "//server/share/x"
                                  << "//server/share";
    QTest::newRow("network share alone") << "//server/share"
                                         << "//server/share";
    QTest::newRow("network share, trailing separator") << "//server/share/"
                                                       << "//server/share";
    QTest::newRow("network server alone") << "//server"
                                          << "";
    QTest::newRow("two separators only") << "//"
                                         << "";
    QTest::newRow("drive path") << "C:/x"
                                << "C:";
    QTest::newRow("bare drive") << "C:"
                                << "C:";
    QTest::newRow("absolute path") << "/home/x"
                                   << "/";
    QTest::newRow("root") << "/"
                          << "/";
    QTest::newRow("relative path") << "rel/x"
                                   << "rel";
    QTest::newRow("relative name") << "rel"
                                   << "rel";
    QTest::newRow("empty") << ""
                           << "";
}

void DiskinfoTest::pathRoot() {
    QFETCH(QString, path);
    QFETCH(QString, expected);
    QCOMPARE(Mod_Diskinfo::PathRoot(path), expected);
}

void DiskinfoTest::isUncPath_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("expected");

    QTest::newRow("network path") << "//server/share" << true;
    QTest::newRow("two separators") << "//" << true;
    QTest::newRow("absolute path") << "/home" << false;
    QTest::newRow("one separator") << "/" << false;
    QTest::newRow("separator later") << "a//b" << false;
    QTest::newRow("drive path") << "C:/x" << false;
    QTest::newRow("empty") << "" << false;
}

void DiskinfoTest::isUncPath() {
    QFETCH(QString, path);
    QFETCH(bool, expected);
    QCOMPARE(Mod_Diskinfo::IsUncPath(path), expected);
}

void DiskinfoTest::hasDriveLetter_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("expected");

    QTest::newRow("bare drive") << "C:" << true;
    QTest::newRow("drive path") << "d:/x" << true;
    QTest::newRow("colon later") << "ab:c" << false;
    QTest::newRow("colon first") << ":C" << false;
    QTest::newRow("letter alone") << "C" << false;
    QTest::newRow("absolute path") << "/home" << false;
    QTest::newRow("empty") << "" << false;
}

void DiskinfoTest::hasDriveLetter() {
    QFETCH(QString, path);
    QFETCH(bool, expected);
    QCOMPARE(Mod_Diskinfo::HasDriveLetter(path), expected);
}

void DiskinfoTest::pathRootExists_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("expected");

    QTest::newRow("absolute, missing below root") << "/corvane-missing/x" << true;
    QTest::newRow("fixture file") << "$T/music/a.mp3" << true;
    QTest::newRow("relative, first folder exists") << "music/missing" << true;
    QTest::newRow("relative, first folder missing") << "missing/music" << false;
    QTest::newRow("network path, share exists") << "/$T/x" << true;
    QTest::newRow("network path, share missing") << "$S/x" << false;
    QTest::newRow("network server alone") << "//server" << false;
    QTest::newRow("drive missing") << "Q:/x" << false;
    QTest::newRow("empty") << "" << false;
}

void DiskinfoTest::pathRootExists() {
    QFETCH(QString, path);
    QFETCH(bool, expected);
    QCOMPARE(Mod_Diskinfo::PathRootExists(Resolve(path)), expected);
}

void DiskinfoTest::getShortPath_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");

    QTest::newRow("existing folder") << "$T/music"
                                     << "$T/music";
    QTest::newRow("existing file") << "$T/music/song.mp3"
                                   << "$T/music/song.mp3";
    QTest::newRow("missing") << "$T/missing.mp3"
                             << "";
    QTest::newRow("pattern") << "$T/music/*.mp3"
                             << "";
    QTest::newRow("empty") << ""
                           << "";
}

void DiskinfoTest::getShortPath() {
    QFETCH(QString, path);
    QFETCH(QString, expected);
    QCOMPARE(Mod_Diskinfo::GetShortPath(Resolve(path)), Resolve(expected));
}
