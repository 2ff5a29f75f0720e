#include "tst_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>
#include <cerrno>
#include <cstring>

#include "platform/files.h"

using Platform::Files::kAttributeDirectory;

namespace {

void Touch(const QString& path) {
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
    file.write("x");
}

}  // namespace

void FilesTest::initTestCase() {
    QVERIFY(root_.isValid());
    const QDir dir(root_.path());
    QVERIFY(dir.mkpath(QStringLiteral("music")));
    QVERIFY(dir.mkpath(QStringLiteral("empty")));
    Touch(dir.filePath(QStringLiteral("music/a.mp3")));
    Touch(dir.filePath(QStringLiteral("music/song.mp3")));
    Touch(dir.filePath(QStringLiteral("music/Track.MID")));
    Touch(dir.filePath(QStringLiteral("plain.txt")));
    QVERIFY(QFile::link(dir.filePath(QStringLiteral("music")),
                        dir.filePath(QStringLiteral("music-link"))));
    QVERIFY(QFile::link(dir.filePath(QStringLiteral("nowhere")),
                        dir.filePath(QStringLiteral("dangling"))));
}

// Relative rows are resolved against the fixture folder.
void FilesTest::init() {
    savedCurrent_ = QDir::currentPath();
    QVERIFY(QDir::setCurrent(root_.path()));
}

void FilesTest::cleanup() {
    QDir::setCurrent(savedCurrent_);
    QDir(root_.path()).rmdir(QStringLiteral("new"));
}

QString FilesTest::Resolve(QString path) const {
    return path.replace(QStringLiteral("$T"), root_.path());
}

void FilesTest::findFirstMatch_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("expected");

    QTest::newRow("folder") << "$T/music" << true;
    QTest::newRow("folder with trailing separator") << "$T/music/" << false;
    QTest::newRow("file") << "$T/music/a.mp3" << true;
    QTest::newRow("file with trailing separator") << "$T/music/a.mp3/" << false;
    QTest::newRow("missing file") << "$T/music/b.mp3" << false;
    QTest::newRow("missing folder") << "$T/missing" << false;
    QTest::newRow("file below missing folder") << "$T/missing/a.mp3" << false;
    QTest::newRow("star pattern matches") << "$T/music/*.mp3" << true;
    QTest::newRow("star pattern matches nothing") << "$T/music/*.wav" << false;
    QTest::newRow("pattern ignores case") << "$T/music/*.mid" << true;
    QTest::newRow("question mark is one character") << "$T/music/?.mp3" << true;
    QTest::newRow("two question marks need two") << "$T/music/??.mp3" << false;
    QTest::newRow("pattern must cover whole name") << "$T/music/*.mp" << false;
    QTest::newRow("star in empty folder") << "$T/empty/*" << false;
    QTest::newRow("pattern in missing folder") << "$T/missing/*.mp3" << false;
    QTest::newRow("pattern in folder part") << "$T/mu*/a.mp3" << false;
    QTest::newRow("pattern below a file") << "$T/plain.txt/*" << false;
    QTest::newRow("symbolic link to folder") << "$T/music-link" << true;
    QTest::newRow("dangling link is an entry") << "$T/dangling" << true;
    QTest::newRow("bare root") << "/" << false;
    QTest::newRow("pattern in root") << "/*" << true;
    QTest::newRow("empty path") << "" << false;
    QTest::newRow("relative folder") << "music" << true;
    QTest::newRow("relative pattern") << "music/s*.mp3" << true;
    QTest::newRow("pattern in current folder") << "*.txt" << true;
    QTest::newRow("pattern in current folder, no match") << "*.mp3" << false;
}

void FilesTest::findFirstMatch() {
    QFETCH(QString, path);
    QFETCH(bool, expected);
    QCOMPARE(Platform::Files::FindFirstMatch(Resolve(path)), expected);
}

void FilesTest::shortPathName_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");

    QTest::newRow("folder") << "$T/music"
                            << "$T/music";
    QTest::newRow("file") << "$T/music/song.mp3"
                          << "$T/music/song.mp3";
    QTest::newRow("relative file") << "plain.txt"
                                   << "plain.txt";
    QTest::newRow("root") << "/"
                          << "/";
    QTest::newRow("missing") << "$T/missing"
                             << "";
    QTest::newRow("below a file") << "$T/plain.txt/x"
                                  << "";
    QTest::newRow("pattern is no path") << "$T/music/*.mp3"
                                        << "";
    QTest::newRow("empty") << ""
                           << "";
}

void FilesTest::shortPathName() {
    QFETCH(QString, path);
    QFETCH(QString, expected);
    QCOMPARE(Platform::Files::ShortPathName(Resolve(path)), Resolve(expected));
}

void FilesTest::attributes_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("expected");

    QTest::newRow("folder") << "$T/music" << kAttributeDirectory;
    QTest::newRow("root") << "/" << kAttributeDirectory;
    QTest::newRow("link to folder") << "$T/music-link" << kAttributeDirectory;
    QTest::newRow("file") << "$T/plain.txt" << 0;
    QTest::newRow("missing") << "$T/missing" << -1;
    QTest::newRow("dangling link") << "$T/dangling" << -1;
    QTest::newRow("empty") << "" << -1;
}

void FilesTest::attributes() {
    QFETCH(QString, path);
    QFETCH(int, expected);
    QCOMPARE(Platform::Files::Attributes(Resolve(path)), expected);
}

void FilesTest::createFolder_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("expected");

    QTest::newRow("new folder") << "$T/new" << 0;
    QTest::newRow("existing folder") << "$T/music" << EEXIST;
    QTest::newRow("existing file") << "$T/plain.txt" << EEXIST;
    QTest::newRow("below a file") << "$T/plain.txt/sub" << ENOTDIR;
    QTest::newRow("parent missing") << "$T/missing/sub" << ENOENT;
}

void FilesTest::createFolder() {
    QFETCH(QString, path);
    QFETCH(int, expected);
    const QString resolved = Resolve(path);

    QString errorText = QStringLiteral("untouched");
    QCOMPARE(Platform::Files::CreateFolder(resolved, &errorText), expected);
    if (expected == 0) {
        QVERIFY(QFileInfo(resolved).isDir());
        QCOMPARE(errorText, QStringLiteral("untouched"));
    } else {
        // The description is the platform's own text for the code, shown to the user as is.
        QCOMPARE(errorText, QString::fromLocal8Bit(std::strerror(expected)));
        QVERIFY(!errorText.isEmpty());
    }
}

void FilesTest::createFolderWithoutErrorText() {
    // Callers that only want the code pass no text.
    QCOMPARE(Platform::Files::CreateFolder(Resolve("$T/missing/sub"), nullptr), ENOENT);
    QCOMPARE(Platform::Files::CreateFolder(Resolve("$T/new"), nullptr), 0);
}

void FilesTest::wildcardMatch_data() {
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("expected");

    QTest::newRow("empty matches empty") << ""
                                         << "" << true;
    QTest::newRow("empty pattern, some name") << ""
                                              << "a" << false;
    QTest::newRow("star matches empty") << "*"
                                        << "" << true;
    QTest::newRow("double star") << "**"
                                 << "x" << true;
    QTest::newRow("question mark needs a character") << "?"
                                                     << "" << false;
    QTest::newRow("question mark") << "?"
                                   << "a" << true;
    QTest::newRow("two question marks, one character") << "??"
                                                       << "a" << false;
    QTest::newRow("literal") << "song.mp3"
                             << "song.mp3" << true;
    QTest::newRow("literal prefix only") << "song"
                                         << "song.mp3" << false;
    QTest::newRow("extension") << "*.mp3"
                               << "song.mp3" << true;
    QTest::newRow("extension must end the name") << "*.mp3"
                                                 << "song.mp3.bak" << false;
    QTest::newRow("upper-case name") << "*.mp3"
                                     << "SONG.MP3" << true;
    QTest::newRow("upper-case pattern") << "*.MP3"
                                        << "song.mp3" << true;
    QTest::newRow("non-ASCII case") << "É*"
                                    << "école" << true;
    QTest::newRow("star inside") << "s*g.mp3"
                                 << "song.mp3" << true;
    QTest::newRow("star inside, wrong end") << "s*g.mp3"
                                            << "sing.wav" << false;
    QTest::newRow("several stars") << "a*b*c"
                                   << "axxbyyc" << true;
    QTest::newRow("several stars, wrong order") << "a*b*c"
                                                << "acb" << false;
    QTest::newRow("star must back-track") << "*ab"
                                          << "aaab" << true;
    QTest::newRow("stars need enough characters") << "*a*a*a*"
                                                  << "aa" << false;
    QTest::newRow("stars with exact characters") << "*a*a*a*"
                                                 << "aaa" << true;
    QTest::newRow("question mark inside") << "a?c"
                                          << "abc" << true;
    QTest::newRow("question mark inside, too short") << "a?c"
                                                     << "ac" << false;
    QTest::newRow("dot is literal") << "a.c"
                                    << "abc" << false;
    QTest::newRow("brackets are literal") << "[a]"
                                          << "a" << false;
    QTest::newRow("brackets match themselves") << "[a]"
                                               << "[a]" << true;
    QTest::newRow("trailing star after literal") << "song*"
                                                 << "song" << true;
}

void FilesTest::wildcardMatch() {
    QFETCH(QString, pattern);
    QFETCH(QString, name);
    QFETCH(bool, expected);
    QCOMPARE(Platform::Files::WildcardMatch(pattern, name), expected);
}
