#include <QDir>
#include <QFile>
#include <QFutureWatcher>
#include <QLoggingCategory>
#include <QtConcurrent/QtConcurrentRun>

#include "platform/tags.h"
#include "player/Player.h"

// The music's folder by the daypart, and its order when shuffled.

namespace {

Q_LOGGING_CATEGORY(lcMusic, "corvane.music")

}  // namespace

void Player::SetShuffle(bool on) {
    options_.shuffle = on;
    ReadArtists();
    StoreOption(kMusicOrderKey, on ? QStringLiteral("Shuffle") : QStringLiteral("Name"));
}

// The daypart's folder when it has music, else the music folder itself, with one warning.
void Player::ApplyDaypart(const QString& name) {
    QString folder = musicRoot_;
    if (!name.isEmpty()) {
        const QString own = musicRoot_ + u'/' + name;
        if (!MediaList::ReadFolder(own, QString::fromLatin1(kMusicPattern)).isEmpty()) {
            folder = own;
            emptyDayparts_.remove(name);
        } else if (!emptyDayparts_.contains(name)) {
            emptyDayparts_.insert(name);
            qCWarning(lcMusic, "the daypart %s has no music in %s: the music folder plays",
                      qPrintable(name), qPrintable(own));
        }
    }
    const bool changed = daypart_ != name;
    daypart_ = name;
    scheduler_->ChangeMusicFolder(folder);
    if (changed) {
        emit DaypartChanged(name);
    }
}

int Player::NextShuffled(const MediaList& list) {
    if (!options_.shuffle) {
        return -1;
    }
    // One that failed stays out of the deck until it plays, or it would be drawn again at once.
    const QString folder = list.Path();
    const QByteArray prefix = QFile::encodeName(folder) + '/';
    QList<QByteArray> names;
    for (int i = 0; i < list.ListCount(); ++i) {
        if (!scheduler_->Unplayable(prefix + list.ListBytes(i))) {
            names.append(list.ListBytes(i));
        }
    }
    return list.Find(shuffle_.Next(
        folder, names, [this, &folder](const QByteArray& name) { return ArtistOf(folder, name); }));
}

// The artist tag once it is read, else what the file's name tells.
QString Player::ArtistOf(const QString& folder, const QByteArray& name) const {
    const QString tagged = artists_.value(QFile::encodeName(folder) + '/' + name);
    return tagged.isEmpty() ? Shuffle::ArtistFromName(QFile::decodeName(name)) : tagged;
}

// The music's tags are read one folder at a time, away from the event loop, while shuffled.
void Player::ReadArtists() {
    if (!options_.shuffle || shuttingDown_) {
        return;
    }
    if (readingArtists_) {
        artistsAgain_ = true;
        return;
    }
    QList<QByteArray> paths;
    for (const QByteArray& path : lists_[kMusic].FilePaths()) {
        if (!artists_.contains(path)) {
            paths.append(path);
        }
    }
    if (paths.isEmpty()) {
        return;
    }
    readingArtists_ = true;
    auto* watcher = new QFutureWatcher<QHash<QByteArray, QString>>(this);
    connect(watcher, &QFutureWatcher<QHash<QByteArray, QString>>::finished, this, [this, watcher] {
        artists_.insert(watcher->result());
        watcher->deleteLater();
        readingArtists_ = false;
        if (std::exchange(artistsAgain_, false)) {
            ReadArtists();
        }
    });
    watcher->setFuture(QtConcurrent::run(&artistReader_, [paths, stop = stopReading_] {
        QHash<QByteArray, QString> artists;
        for (const QByteArray& path : paths) {
            if (stop->load()) {
                break;
            }
            artists.insert(path, Platform::Tags::Read(path).artists.value(0).trimmed());
        }
        return artists;
    }));
}

// A music file began: the shuffle's round counts it.
void Player::MusicStarted(const MediaList& list) {
    if (options_.shuffle) {
        shuffle_.Played(list.Path(), list.FileBytes(), ArtistOf(list.Path(), list.FileBytes()));
    }
}
