#include "scheduler/Scheduler.h"

#include <QLoggingCategory>
#include <algorithm>

#include "scheduler/MediaList.h"

// Warnings by default; each file start too with QT_LOGGING_RULES="corvane.playback.info=true".
Q_LOGGING_CATEGORY(lcPlayback, "corvane.playback", QtWarningMsg)

const QString Scheduler::kCuedMusicAlias = QStringLiteral("ZEL0Next");

QString Scheduler::ChannelAlias(int index) {
    return QStringLiteral("ZEL") + QString::number(index);
}

Scheduler::Scheduler(Inputs inputs, MediaList& music, MediaList& messages, QObject* parent)
    : QObject(parent),
      inputs_(std::move(inputs)),
      lists_{&music, &messages},
      channels_{Channel(ChannelAlias(kMusic)), Channel(ChannelAlias(kMessages))},
      cued_(kCuedMusicAlias) {
    cueTimer_.setSingleShot(true);
    connect(&cueTimer_, &QTimer::timeout, this, &Scheduler::CueNextMusic);
    songEndTimer_.setSingleShot(true);
    connect(&songEndTimer_, &QTimer::timeout, this, &Scheduler::SongEnding);
    runOnTimer_.setSingleShot(true);
    connect(&runOnTimer_, &QTimer::timeout, this, &Scheduler::RunOnOver);
}

void Scheduler::OnNotice(const QString& alias, Mod_MCI::MciNotice notice) {
    switch (notice) {
        case Mod_MCI::MciNotice::Stopped:
            OnDeviceStopped(alias);
            break;
        case Mod_MCI::MciNotice::Advanced:
        case Mod_MCI::MciNotice::Crossfading:
            OnMusicAdvanced(notice == Mod_MCI::MciNotice::Crossfading);
            break;
        case Mod_MCI::MciNotice::Crossfaded:
            OnCrossfadeOver();
            break;
    }
}

qint64 Scheduler::PositionMs(int channel) const {
    return playing_[channel].isEmpty() ? -1 : channels_[channel].PositionMs();
}

void Scheduler::Tick() {
    if (day_ == Day::Stopped || (fader_.Running() && !fader_.Held())) {
        return;
    }
    if (day_ != Day::Open || paused_) {
        ReadMode(kMusic);
        ReadMode(kMessages);
        return;
    }
    musicStarts_ = 0;
    if (ReadMode(kMusic) != Channel::Mode::Playing) {
        StartMusic();
    } else {
        CountStreamTick();
    }
    const bool messagePlaying = ReadMode(kMessages) == Channel::Mode::Playing;
    if (!messagePlaying) {
        if (AfterMessage()) {
            return;
        }
        if (!MusicDown() && MusicBelowHigh()) {
            Rise([this] { CountTick(false); });
            return;
        }
    }
    CountTick(messagePlaying);
}

void Scheduler::CountTick(bool messagePlaying) {
    if (inputs_.interval() == 0 || messagePlaying || EverySongs() > 0) {
        return;
    }
    ++messageTicks_;
    if (messageTicks_ > inputs_.interval()) {
        PlayNextFile(kMessages);
        messageTicks_ = 0;
    }
}

Channel::Mode Scheduler::ReadMode(int channel) {
    const Channel::Status status = channels_[channel].Read();
    emit StatusChanged(channel, status.word);
    return status.mode;
}

// The message channel is found stopped: the message, if one played, is over. True when the next
// one waiting starts.
bool Scheduler::AfterMessage() {
    SetPlaying(kMessages, {});
    FinishStoppedMessage();
    if (message_ == Message::Playing) {
        message_ = Message::Idle;
    }
    return StartWaitingMessage();
}

bool Scheduler::PlayNextFile(int index) {
    if (day_ != Day::Open) {
        return false;
    }
    const QByteArray path = NextFileOf(index);
    if (path.isEmpty()) {
        return false;
    }
    if (index == kMessages) {
        Queue({path, true});
        return true;
    }
    ForgetCuedMusic();
    return OpenAndPlay(kMusic, path, NewMusicLevel());
}

// The folders read afresh and the channel's next entry selected, after the last wrapping to the
// first; its path, or nothing from an empty folder.
QByteArray Scheduler::NextFileOf(int index) {
    RefreshFileLists();
    MediaList& list = *lists_[index];
    if (list.ListCount() == 0) {
        return {};
    }
    if (index == kMusic) {
        list.SetListIndex(NextMusicIndex());
    } else {
        list.SetListIndex(list.ListIndex() + 1 >= list.ListCount() ? 0 : list.ListIndex() + 1);
    }
    return list.FilePath();
}

void Scheduler::RefreshFileLists() {
    for (MediaList* list : lists_) {
        const QByteArray last = list->FileBytes();
        list->Refresh();
        if (!last.isEmpty()) {
            list->SetListIndex(list->Find(last));
        }
    }
}

void Scheduler::ShowVolume() {
    if (day_ != Day::Stopped) {
        emit VolumeShown(channels_[kMusic].Volume());
    }
}

std::optional<int> Scheduler::SecondsToNextMessage() const {
    if (day_ != Day::Open || !inputs_.interval || inputs_.interval() <= 0 || EverySongs() > 0) {
        return std::nullopt;
    }
    return std::max(0, inputs_.interval() + 1 - messageTicks_);
}

void Scheduler::SetPlaying(int channel, const QByteArray& path) {
    if (playing_[channel] != path) {
        playing_[channel] = path;
        emit PlayingChanged(channel);
    }
}

// A channel's file ended or failed: do at once what the next tick would do about it. Its mode is
// read first, since the notice may be stale by the time it arrives.
void Scheduler::OnDeviceStopped(const QString& alias) {
    if (day_ != Day::Open || paused_) {
        return;
    }
    if (alias.compare(ChannelAlias(kMusic), Qt::CaseInsensitive) == 0) {
        if (ReadMode(kMusic) != Channel::Mode::Playing && music_ != Music::Skipping) {
            StartMusic();
        }
    } else if (alias.compare(ChannelAlias(kMessages), Qt::CaseInsensitive) == 0) {
        if (ReadMode(kMessages) == Channel::Mode::Playing || AfterMessage()) {
            return;
        }
        if (!fader_.Running() && !MusicDown() && MusicBelowHigh()) {
            Rise({});
        }
    }
}

// Closes what the channel had, opens `path` and plays it at `level`. No result stops the next
// step, as with any media command here: a file that did not open does not play either.
bool Scheduler::OpenAndPlay(int index, const QByteArray& path, int level) {
    const Channel& channel = channels_[index];
    if (index == kMessages) {
        FinishStoppedMessage();
    }
    const QDateTime start = QDateTime::currentDateTime();
    const QString openError = channel.Open(parentWindow_, path);
    channel.SetVolume(level);
    const QString playError = channel.Play();
    if (index == kMessages && reportMessages_) {
        const qint64 length = openError.isEmpty() ? std::max<qint64>(channel.LengthMs(), 0) : 0;
        report_ = MessagePlay{start, path, length};
        if (!playError.isEmpty()) {
            FinishMessage(Outcome::Failed);
        }
    }
    if (!playError.isEmpty()) {
        // Once until it plays: a file tried every tick would fill the log.
        if (unplayable_.insert(path).second) {
            qCWarning(lcPlayback, "%s: %s cannot be played: %s", qPrintable(channel.Alias()),
                      path.constData(), qPrintable(openError.isEmpty() ? playError : openError));
        }
        return false;
    }
    unplayable_.erase(path);
    qCInfo(lcPlayback, "%s: %s started", qPrintable(channel.Alias()), path.constData());
    SetPlaying(index, path);
    if (index == kMusic) {
        music_ = Music::Playing;
        MusicStarted();
        CueBeforeTheEnd();
    }
    return true;
}
