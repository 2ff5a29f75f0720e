#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QRandomGenerator>
#include <QString>
#include <functional>
#include <vector>

// The order music plays in when it is shuffled. Each folder is a deck: every file plays once in a
// round, in an order drawn at random, before any plays again, and a new round never starts with
// the file that ended the last. Files added to the folder join the round under way; removed ones
// leave it. Files of one artist are kept at least `separation` other files apart whenever the
// files left allow it; when they do not, the file whose artist played longest ago goes next.
//
// Each folder's round and the artists played last are kept in a file, so that a restart carries
// on with the round rather than beginning a new one.
class Shuffle {
public:
    // The artist of a file, by its name in the folder; empty when it has none.
    using ArtistOf = std::function<QString(const QByteArray& name)>;
    static constexpr int kDefaultSeparation = 2;

    // `stateFile` empty: the rounds are kept in memory only.
    explicit Shuffle(QString stateFile, quint32 seed = QRandomGenerator::global()->generate());

    void SetSeparation(int files);
    int Separation() const { return separation_; }

    // The file to play next in `folder`, one of `names` (the files it holds now); the same one
    // until a file is played there or the names change. Empty when there are no names.
    QByteArray Next(const QString& folder, const QList<QByteArray>& names,
                    const ArtistOf& artistOf);
    // `name` began to play: it leaves the folder's round, and the rounds are stored.
    void Played(const QString& folder, const QByteArray& name, const QString& artist);

    // The artist a file's name tells: what stands before " - " in "Artist - Title.mp3"; empty when
    // the name has no such part.
    static QString ArtistFromName(const QString& fileName);

private:
    struct Play {
        QByteArray name;
        QString artist;
    };
    struct Deck {
        QList<QByteArray> played;  // this round's, in the order they played
        QList<Play> recent;        // the last plays, the latest last; they outlive the round
        QList<QByteArray> names;   // what `next` was drawn from, sorted
        QByteArray next;           // "" until drawn
    };
    // Enough for the widest separation the settings offer.
    static constexpr int kRecentPlays = 50;

    struct Round;

    // The files left in the round; a round that is over begins anew.
    static QList<QByteArray> RoundFiles(Deck& deck);
    Round Gather(Deck& deck, const ArtistOf& artistOf) const;
    QByteArray Draw(Deck& deck, const ArtistOf& artistOf);
    QByteArray PickOldest(const Round& round);
    QByteArray PickKeepingApart(const Round& round, const std::vector<int>& keeping);
    void Load();
    void Save() const;

    QString stateFile_;
    QRandomGenerator random_;
    int separation_ = kDefaultSeparation;
    QMap<QString, Deck> decks_;  // by folder
};
