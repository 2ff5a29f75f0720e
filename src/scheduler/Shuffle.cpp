#include "scheduler/Shuffle.h"

#include <QFile>
#include <QHash>
#include <QLoggingCategory>
#include <QSet>
#include <algorithm>
#include <optional>
#include <queue>
#include <utility>
#include <vector>

#include "support/SafeWrite.h"

namespace {

Q_LOGGING_CATEGORY(lcShuffle, "corvane.shuffle", QtWarningMsg)

// "Queen" and "queen " are one artist to the listener.
QString ArtistKey(const QString& artist) {
    return artist.simplified().toCaseFolded();
}

// The state file keeps every field percent-encoded, so names and folders may hold blanks, tabs,
// line breaks and bytes of any encoding, and a field never holds the separators ' ', ':', '\t'.
QByteArray Encoded(const QByteArray& bytes) {
    return bytes.toPercentEncoding();
}

bool IsHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// Nothing when the field holds what encoding never gives: the line was damaged.
std::optional<QByteArray> Decoded(QByteArrayView field) {
    for (qsizetype i = 0; i < field.size(); ++i) {
        const char c = field[i];
        if (c == '%' && i + 2 < field.size() && IsHex(field[i + 1]) && IsHex(field[i + 2])) {
            i += 2;
        } else if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                     c == '-' || c == '.' || c == '_' || c == '~')) {
            return std::nullopt;
        }
    }
    return QByteArray::fromPercentEncoding(field.toByteArray());
}

// The fields of a list, "" giving none.
QList<QByteArray> Fields(const QByteArray& list) {
    return list.isEmpty() ? QList<QByteArray>() : list.split(' ');
}

// Whether all the files left can play with every artist `separation` files away from its last.
// `left` counts each artist's files, `blocked` the plays each must still wait, and `free` the
// files of no artist. Playing the artist with the most files left whenever one may play finds
// such an order when there is one.
bool CanKeepApart(std::vector<int> left, const std::vector<int>& blocked, int free,
                  int separation) {
    std::priority_queue<std::pair<int, int>> ready;  // files left, artist
    using Waiting = std::pair<int, int>;             // the play it may come at, artist
    std::priority_queue<Waiting, std::vector<Waiting>, std::greater<>> waiting;
    int plays = free;
    for (int artist = 0; artist < static_cast<int>(left.size()); ++artist) {
        plays += left[artist];
        if (left[artist] > 0) {
            waiting.push({blocked[artist], artist});
        }
    }
    for (int play = 0; play < plays; ++play) {
        while (!waiting.empty() && waiting.top().first <= play) {
            const int artist = waiting.top().second;
            waiting.pop();
            ready.push({left[artist], artist});
        }
        if (!ready.empty()) {
            const int artist = ready.top().second;
            ready.pop();
            if (--left[artist] > 0) {
                waiting.push({play + separation + 1, artist});
            }
        } else if (free > 0) {
            --free;
        } else {
            return false;
        }
    }
    return true;
}

// One of `files` at random, each as likely as its weight; its index among the files drawn from.
template <typename Weight>
int PickWeighted(QRandomGenerator& random, const std::vector<int>& files, Weight weight) {
    qint64 total = 0;
    for (const int file : files) {
        total += weight(file);
    }
    qint64 at = static_cast<qint64>(random.bounded(static_cast<quint64>(total)));
    for (const int file : files) {
        at -= weight(file);
        if (at < 0) {
            return file;
        }
    }
    return files.back();
}

}  // namespace

Shuffle::Shuffle(QString stateFile, quint32 seed)
    : stateFile_(std::move(stateFile)), random_(seed) {
    Load();
}

void Shuffle::SetSeparation(int files) {
    separation_ = std::max(files, 0);
}

QByteArray Shuffle::Next(const QString& folder, const QList<QByteArray>& names,
                         const ArtistOf& artistOf) {
    QList<QByteArray> sorted = names;
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    sorted.removeAll(QByteArray());
    if (sorted.isEmpty()) {
        // A folder that cannot be read for a while keeps its round for when it can.
        if (const auto deck = decks_.find(folder); deck != decks_.end()) {
            deck->names.clear();
            deck->next.clear();
        }
        return {};
    }
    Deck& deck = decks_[folder];
    if (deck.next.isEmpty() || deck.names != sorted) {
        deck.names = std::move(sorted);
        deck.next = Draw(deck, artistOf);
    }
    return deck.next;
}

// The files the round may still draw from, with what the draw must know of their artists.
struct Shuffle::Round {
    QList<QByteArray> files;
    std::vector<int> artistOfFile;  // each file's artist as a number, -1 for none
    std::vector<int> filesLeft;     // by artist
    std::vector<int> since;  // plays since each artist's last; separation_ when more, or never
    int free = 0;            // files of no artist
};

QList<QByteArray> Shuffle::RoundFiles(Deck& deck) {
    const QSet<QByteArray> present(deck.names.cbegin(), deck.names.cend());
    deck.played.removeIf([&](const QByteArray& name) { return !present.contains(name); });
    const QSet<QByteArray> done(deck.played.cbegin(), deck.played.cend());
    QList<QByteArray> left;
    for (const QByteArray& name : deck.names) {
        if (!done.contains(name)) {
            left.append(name);
        }
    }
    if (left.isEmpty()) {
        deck.played.clear();
        left = deck.names;
    }
    if (deck.played.isEmpty() && left.size() > 1 && !deck.recent.isEmpty()) {
        left.removeOne(deck.recent.last().name);  // the round does not begin with what just ended
    }
    return left;
}

Shuffle::Round Shuffle::Gather(Deck& deck, const ArtistOf& artistOf) const {
    Round round;
    round.files = RoundFiles(deck);
    QHash<QString, int> numbers;
    for (const QByteArray& name : round.files) {
        const QString key = ArtistKey(artistOf(name));
        int number = -1;
        if (key.isEmpty()) {
            ++round.free;
        } else {
            number = numbers.value(key, static_cast<int>(round.filesLeft.size()));
            if (number == static_cast<int>(round.filesLeft.size())) {
                numbers.insert(key, number);
                round.filesLeft.push_back(0);
            }
            ++round.filesLeft[number];
        }
        round.artistOfFile.push_back(number);
    }
    // An artist's latest play among the last `separation_` counts.
    round.since.assign(round.filesLeft.size(), separation_);
    for (qsizetype i = 0; i < separation_ && i < deck.recent.size(); ++i) {
        const QString key = ArtistKey(deck.recent[deck.recent.size() - 1 - i].artist);
        if (const auto number = numbers.find(key); number != numbers.end()) {
            round.since[*number] = std::min(round.since[*number], static_cast<int>(i));
        }
    }
    return round;
}

QByteArray Shuffle::Draw(Deck& deck, const ArtistOf& artistOf) {
    const Round round = Gather(deck, artistOf);
    std::vector<int> keeping;  // files whose artist has been apart long enough
    for (int file = 0; file < static_cast<int>(round.files.size()); ++file) {
        if (round.artistOfFile[file] < 0 || round.since[round.artistOfFile[file]] >= separation_) {
            keeping.push_back(file);
        }
    }
    return keeping.empty() ? PickOldest(round) : PickKeepingApart(round, keeping);
}

// No file keeps the rule: the artist heard longest ago, any of its files. Every file then has an
// artist, as a file of none always keeps it.
QByteArray Shuffle::PickOldest(const Round& round) {
    int longest = 0;
    for (const int artist : round.artistOfFile) {
        longest = std::max(longest, round.since[artist]);
    }
    std::vector<int> oldest;
    for (int file = 0; file < static_cast<int>(round.files.size()); ++file) {
        if (round.since[round.artistOfFile[file]] == longest) {
            oldest.push_back(file);
        }
    }
    return round.files[PickWeighted(random_, oldest, [](int) { return 1; })];
}

// A file at random, but not one after which the rest of the round can no longer keep its artists
// apart, when another allows it.
QByteArray Shuffle::PickKeepingApart(const Round& round, const std::vector<int>& keeping) {
    const size_t artists = round.filesLeft.size();
    std::vector<int> blockedNow(artists, 0);  // the plays each artist must still wait
    for (size_t artist = 0; artist < artists; ++artist) {
        blockedNow[artist] = std::max(separation_ - round.since[artist] - 1, 0);
    }
    std::vector<int> pool = keeping;
    std::vector<std::optional<bool>> keepsApart(artists + 1);  // by artist, then none
    while (!pool.empty()) {
        const int file = pool[random_.bounded(static_cast<int>(pool.size()))];
        const int artist = round.artistOfFile[file];
        std::optional<bool>& known = keepsApart[artist < 0 ? artists : static_cast<size_t>(artist)];
        if (!known) {
            std::vector<int> after = round.filesLeft;
            std::vector<int> blocked = blockedNow;
            if (artist >= 0) {
                --after[artist];
                blocked[artist] = separation_;
            }
            known = CanKeepApart(std::move(after), blocked, round.free - (artist < 0 ? 1 : 0),
                                 separation_);
        }
        if (*known) {
            return round.files[file];
        }
        std::erase_if(pool, [&](int other) { return round.artistOfFile[other] == artist; });
    }
    // The round cannot keep them apart to its end: the artists with the most files left first,
    // so that as few as possible end up together.
    return round.files[PickWeighted(random_, keeping, [&](int file) {
        return round.artistOfFile[file] < 0 ? 1 : round.filesLeft[round.artistOfFile[file]];
    })];
}

void Shuffle::Played(const QString& folder, const QByteArray& name, const QString& artist) {
    if (name.isEmpty()) {
        return;  // no file
    }
    Deck& deck = decks_[folder];
    if (!deck.played.contains(name)) {
        deck.played.append(name);
    }
    deck.recent.append({name, artist});
    const qsizetype keep = std::max(kRecentPlays, separation_);
    if (deck.recent.size() > keep) {
        deck.recent.remove(0, deck.recent.size() - keep);
    }
    deck.next.clear();
    Save();
}

QString Shuffle::ArtistFromName(const QString& fileName) {
    const QStringView name = QStringView(fileName).mid(fileName.lastIndexOf(u'/') + 1);
    const qsizetype dash = name.indexOf(u" - ");
    return dash < 0 ? QString() : name.left(dash).trimmed().toString();
}

// One line a folder: the folder, a tab, the names played in the round, a tab, the last plays as
// name:artist; lists are parted by blanks.
void Shuffle::Load() {
    QFile file(stateFile_);
    if (stateFile_.isEmpty() || !file.open(QIODevice::ReadOnly)) {
        return;
    }
    QList<QByteArray> lines = file.readAll().split('\n');
    // What follows the last line break is a line cut short.
    int ignored = lines.takeLast().isEmpty() ? 0 : 1;
    for (const QByteArray& line : lines) {
        const QList<QByteArray> fields = line.split('\t');
        if (line.isEmpty() || fields.size() != 3) {
            ignored += line.isEmpty() ? 0 : 1;
            continue;
        }
        const std::optional<QByteArray> folder = Decoded(fields[0]);
        Deck deck;
        bool good = folder && !folder->isEmpty();
        for (const QByteArray& field : Fields(fields[1])) {
            const std::optional<QByteArray> name = Decoded(field);
            good = good && name && !name->isEmpty();
            deck.played.append(name.value_or(QByteArray()));
        }
        for (const QByteArray& field : Fields(fields[2])) {
            const QList<QByteArray> parts = field.split(':');
            const std::optional<QByteArray> name = Decoded(parts[0]);
            const std::optional<QByteArray> artist =
                parts.size() == 2 ? Decoded(parts[1]) : std::nullopt;
            good = good && name && !name->isEmpty() && artist;
            deck.recent.append(
                {name.value_or(QByteArray()), QString::fromUtf8(artist.value_or(QByteArray()))});
        }
        if (!good) {
            ++ignored;
            continue;
        }
        if (deck.recent.size() > kRecentPlays) {
            deck.recent.remove(0, deck.recent.size() - kRecentPlays);
        }
        decks_[QString::fromUtf8(*folder)] = std::move(deck);
    }
    if (ignored > 0) {
        qCWarning(lcShuffle, "%s: %d damaged lines ignored", qPrintable(stateFile_), ignored);
    }
}

void Shuffle::Save() const {
    if (stateFile_.isEmpty()) {
        return;
    }
    QByteArray out;
    for (auto deck = decks_.cbegin(); deck != decks_.cend(); ++deck) {
        if (deck->played.isEmpty() && deck->recent.isEmpty()) {
            continue;
        }
        QByteArrayList played;
        for (const QByteArray& name : deck->played) {
            played.append(Encoded(name));
        }
        QByteArrayList recent;
        for (const Play& play : deck->recent) {
            recent.append(Encoded(play.name) + ':' + Encoded(play.artist.toUtf8()));
        }
        out +=
            Encoded(deck.key().toUtf8()) + '\t' + played.join(' ') + '\t' + recent.join(' ') + '\n';
    }
    if (!SafeWrite::ReplaceFile(stateFile_, out)) {
        qCWarning(lcShuffle, "%s could not be written: a restart may begin the rounds anew",
                  qPrintable(stateFile_));
    }
}
