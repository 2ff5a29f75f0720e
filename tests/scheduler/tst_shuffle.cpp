// The music shuffle: rounds of a folder, artists kept apart, and the round carried on across a
// restart, over many seeds since any one seed's order proves little.

#include <QtTest>
#include <memory>

#include "MediaFixtures.h"
#include "scheduler/Shuffle.h"

namespace {

// One file for each letter of `artists`, of that letter's artist, '_' of none. The names hold
// what the state file must carry whole: blanks, a tab, a line break, '%', ':' and a byte that is
// not UTF-8.
QList<QByteArray> Files(const QByteArray& artists, int first = 0) {
    QList<QByteArray> names;
    for (int i = 0; i < artists.size(); ++i)
        names.append(artists[i] + QByteArray::number(first + i) + " %:\t\n\xff.mp3");
    return names;
}

QString ArtistOf(const QByteArray& name) {
    return name.startsWith('_') ? QString() : QString(QChar::fromLatin1(name[0]));
}

}  // namespace

// clang-format off
// The folder's files are Files(artists). After `changeAt` plays Files(added) join it and its first
// `removed` leave; after `restartAt` plays a new Shuffle carries on from the state file; play
// `chosenAt` is the user's choice of the last file not yet played. `apart`: the files allow the
// separation throughout, so it must hold.
struct ShuffleRow { QByteArray artists = {}; int separation = Shuffle::kDefaultSeparation; bool apart = false; int changeAt = -1; QByteArray added = {}; int removed = 0; int restartAt = -1; int chosenAt = -1; };
struct ArtistRow { QString name, artist; };
// clang-format on

class ShuffleTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules("corvane.shuffle.warning=false"); }

    void rounds_data() {
        QTest::addColumn<ShuffleRow>("r");
        // clang-format off
        QTest::newRow("no artists") << ShuffleRow{.artists = "______", .chosenAt = 2};
        QTest::newRow("two files") << ShuffleRow{.artists = "__"};
        QTest::newRow("one file") << ShuffleRow{.artists = "_"};
        QTest::newRow("wider, with no-artist files") << ShuffleRow{.artists = "aabbcde__", .separation = 3, .apart = true};
        QTest::newRow("one artist") << ShuffleRow{.artists = "aaaaa"};
        QTest::newRow("four artists, restart mid-round") << ShuffleRow{.artists = "aaabbbccdd", .apart = true, .restartAt = 4};
        QTest::newRow("files come and go") << ShuffleRow{.artists = "abcdefgh", .apart = true, .changeAt = 3, .added = "ij", .removed = 3};
        // clang-format on
    }
    // Every file once a round, a round never opening with the file that closed the last, the
    // artists apart when the files allow it, and the proposal steady until something plays.
    void rounds() {
        QFETCH(ShuffleRow, r);
        const QString folder = "/music/shop floor\tB";
        QSet<QByteArray> firstRounds;
        for (quint32 seed = 1; seed <= 50; ++seed) {
            QTemporaryDir dir;
            const QString state = dir.filePath("shuffle");
            QRandomGenerator random(seed);
            std::unique_ptr<Shuffle> shuffle;
            QList<QByteArray> names = Files(r.artists), plays, round;
            QByteArray trace = "seed " + QByteArray::number(seed) + ":";  // the plays' first words
            int rounds = 0;
            while (rounds < 3) {
                QVERIFY2(plays.size() < 3 * (r.artists.size() + r.added.size()) + 1, trace);
                if (plays.size() == r.changeAt)
                    names = names.mid(r.removed) + Files(r.added, 100);
                // Each start reads damage before the good line and a cut-off copy of it after:
                // both ignored.
                if (!shuffle || plays.size() == r.restartAt) {
                    QByteArray junk(300, '\0');
                    for (char& byte : junk)
                        byte = static_cast<char>(random.bounded(256));
                    const QByteArray kept = MediaFixtures::ReadFile(state);
                    QVERIFY(MediaFixtures::MakeFile(
                        state, junk + "\n\t\t\n%zz\t%4\t:\n" + kept + kept.left(kept.size() - 2)));
                    shuffle = std::make_unique<Shuffle>(state, random.generate());
                    shuffle->SetSeparation(r.separation);
                }
                QByteArray next = shuffle->Next(folder, names, ArtistOf);
                QCOMPARE(shuffle->Next(folder, names, ArtistOf), next);
                QVERIFY2(names.contains(next), trace);
                if (std::all_of(names.begin(), names.end(),
                                [&](const QByteArray& name) { return round.contains(name); })) {
                    QVERIFY2(names.size() == 1 || next != plays.last(), trace);
                    if (rounds++ == 0)
                        firstRounds.insert(round.join('/'));
                    round.clear();
                }
                if (plays.size() == r.chosenAt)
                    for (const QByteArray& name : names)
                        next = round.contains(name) ? next : name;
                QVERIFY2(!round.contains(next), trace);
                for (int back = 1; r.apart && back <= r.separation && back <= plays.size(); ++back)
                    QVERIFY2(ArtistOf(next).isEmpty() ||
                                 ArtistOf(plays[plays.size() - back]) != ArtistOf(next),
                             trace + " then " + next.left(2));
                shuffle->Played(folder, next, ArtistOf(next));
                trace += ' ' + next.left(next.indexOf(' '));
                plays << next;
                round << next;
            }
        }
        // Shuffled, not one fixed order.
        QVERIFY(r.artists.size() < 4 || firstRounds.size() >= 10);
    }

    void artistFromName_data() {
        QTest::addColumn<ArtistRow>("r");
        // clang-format off
        QTest::newRow("trimmed, first dash only") << ArtistRow{"  Nina Simone  -  Feeling Good - Live.ogg", "Nina Simone"};
        QTest::newRow("no blank-dash-blank") << ArtistRow{"Jay-Z.wav", ""};
        QTest::newRow("nothing before") << ArtistRow{" - Intro.mp3", ""};
        QTest::newRow("in a subfolder") << ArtistRow{"2026-12-01..2026-12-24/Wham! - Last.mp3", "Wham!"};
        // clang-format on
    }
    // The artist is what comes before the first " - " of the file's own name.
    void artistFromName() {
        QFETCH(ArtistRow, r);
        QCOMPARE(Shuffle::ArtistFromName(r.name), r.artist);
    }
};

int RunShuffleTests(int argc, char** argv) {
    ShuffleTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_shuffle.moc"
