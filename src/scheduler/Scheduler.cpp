#include "scheduler/Scheduler.h"

#include <QFile>
#include <QLoggingCategory>
#include <algorithm>

#include "audio/Mod_MCI.h"
#include "scheduler/MediaList.h"

namespace {

// Warnings by default; each file start too with QT_LOGGING_RULES="corvane.playback.info=true".
Q_LOGGING_CATEGORY(lcPlayback, "corvane.playback", QtWarningMsg)

const QString kPlaying = QStringLiteral("playing");
// Any side but "left" and "right" addresses both loudspeakers; the fade up and the volume query
// have always said it in lower case, the fade down and a file's start capitalised.
const QString kBoth = QStringLiteral("Both");
const QString kBothLower = QStringLiteral("both");

// Lengths are read in frames, 25 to the second.
constexpr qint64 kMillisecondsPerFrame = 40;

}  // namespace

const QString Scheduler::kCuedMusicAlias = QStringLiteral("ZEL0Next");

QString Scheduler::ChannelAlias(int index) {
    return QStringLiteral("ZEL") + QString::number(index);
}

Scheduler::Scheduler(Inputs inputs, MediaList& music, MediaList& messages, QObject* parent)
    : QObject(parent), inputs_(std::move(inputs)), lists_{&music, &messages} {
    fadeTimer_.setTimerType(Qt::PreciseTimer);
    fadeTimer_.setInterval(kFadeStepMilliseconds);
    connect(&fadeTimer_, &QTimer::timeout, this, &Scheduler::FadeStep);
    cueTimer_.setSingleShot(true);
    connect(&cueTimer_, &QTimer::timeout, this, &Scheduler::CueNextMusic);
    crossfadeTimer_.setSingleShot(true);
    connect(&crossfadeTimer_, &QTimer::timeout, this, [this] {
        if (std::exchange(messageWaits_, false)) {
            PlayNextFile(kMessages);
        }
    });
    Mod_MCI::MciSetNotify([this](const QString& alias, Mod_MCI::MciNotice notice) {
        if (notice == Mod_MCI::MciNotice::Advanced) {
            OnMusicAdvanced();
        } else {
            OnDeviceStopped(alias);
        }
    });
}

Scheduler::~Scheduler() {
    Mod_MCI::MciSetNotify({});
}

void Scheduler::Tick() {
    if (stopped_ || Fading()) {
        return;
    }
    musicStarts_ = 0;
    if (ReadMode(kMusic) != kPlaying) {
        StartMusic();
    }
    const bool messagePlaying = ReadMode(kMessages) == kPlaying;
    if (!messagePlaying) {
        FinishStoppedMessage();
    }
    if (!messagePlaying && MusicBelowHigh()) {
        StartFade(inputs_.musicLow(), inputs_.musicHigh(), +1, kBothLower,
                  [this] { CountTick(false); });
        return;
    }
    CountTick(messagePlaying);
}

void Scheduler::CountTick(bool messagePlaying) {
    if (inputs_.interval() == 0 || messagePlaying) {
        return;
    }
    ++messageTicks_;
    if (messageTicks_ > inputs_.interval()) {
        PlayNextFile(kMessages);
        messageTicks_ = 0;
    }
}

QString Scheduler::ReadMode(int channel) {
    const QString mode = Mod_MCI::MciGetMode(ChannelAlias(channel));
    emit StatusChanged(channel, mode);
    return mode;
}

bool Scheduler::MusicBelowHigh() {
    return Mod_MCI::MciGetVolume(ChannelAlias(kMusic), kBothLower) < inputs_.musicHigh();
}

void Scheduler::StartMusic() {
    while (!stopped_ && musicStarts_ < std::max(1, lists_[kMusic]->ListCount())) {
        ++musicStarts_;
        if (PlayNextFile(kMusic) || lists_[kMusic]->ListCount() == 0) {
            return;
        }
    }
}

bool Scheduler::PlayNextFile(int index) {
    if (stopped_) {
        return false;
    }
    RefreshFileLists();
    MediaList& list = *lists_[index];
    if (list.ListCount() == 0) {
        return false;
    }
    if (index == kMessages && crossfadeTimer_.isActive()) {
        messageWaits_ = true;
        return true;
    }
    int next = list.ListIndex() + 1;
    if (next >= list.ListCount()) {
        next = 0;
    }
    list.SetListIndex(next);
    const QByteArray path = list.FilePath();
    if (index == kMessages) {
        StartFade(inputs_.musicHigh(), inputs_.musicLow(), -1, kBoth,
                  [this, path] { OpenAndPlay(kMessages, path, inputs_.messageLevel()); });
        return true;
    }
    ForgetCuedMusic();
    // Music that starts while a fade runs joins the fade at its level instead of jumping.
    return OpenAndPlay(kMusic, path, Fading() ? fade_.level : inputs_.musicHigh());
}

bool Scheduler::OpenAndPlay(int index, const QByteArray& path, int level) {
    const QString alias = ChannelAlias(index);
    if (index == kMessages) {
        FinishStoppedMessage();
    }
    Mod_MCI::MciClose(alias);
    const QDateTime start = QDateTime::currentDateTime();
    const QString opened =
        Mod_MCI::MciOpen(parentWindow_, alias, path, QStringLiteral("MPEGVideo"));
    Mod_MCI::MciSetVolume(alias, kBoth, level);
    const QString played = Mod_MCI::MciPlay(alias, QString(), QString());
    if (index == kMessages && reportMessages_) {
        const qint32 frames = opened == u"Success" ? Mod_MCI::MciGetLength(alias) : 0;
        message_ = MessagePlay{start, path, std::max(frames, 0) * kMillisecondsPerFrame};
        if (played != u"Success") {
            FinishMessage(Outcome::Failed);
        }
    }
    if (played != u"Success") {
        // Once until it plays: a file tried every tick would fill the log.
        if (unplayable_.insert(path).second) {
            qCWarning(lcPlayback, "%s: %s cannot be played: %s", qPrintable(alias),
                      path.constData(), qPrintable(opened != u"Success" ? opened : played));
        }
        return false;
    }
    unplayable_.erase(path);
    qCInfo(lcPlayback, "%s: %s started", qPrintable(alias), path.constData());
    if (index == kMusic) {
        CueBeforeTheEnd();
    }
    return true;
}

// The next file of the list, opened and cued to follow the music playing. One that cannot be
// opened is left to the end of the music, which starts the files after it as always.
void Scheduler::CueNextMusic() {
    if (stopped_ || !cuedName_.isEmpty() || Mod_MCI::MciGetMode(ChannelAlias(kMusic)) != kPlaying) {
        return;
    }
    RefreshFileLists();
    const MediaList& list = *lists_[kMusic];
    if (list.ListCount() == 0) {
        return;
    }
    const QByteArray name = list.ListBytes((list.ListIndex() + 1) % list.ListCount());
    const QByteArray path = QFile::encodeName(list.Path()) + '/' + name;
    Mod_MCI::MciClose(kCuedMusicAlias);
    const QString opened =
        Mod_MCI::MciOpen(parentWindow_, kCuedMusicAlias, path, QStringLiteral("MPEGVideo"));
    if (opened == u"Success" && Mod_MCI::MciCue(kCuedMusicAlias, ChannelAlias(kMusic),
                                                CrossfadeMilliseconds()) == u"Success") {
        cuedName_ = name;
        return;
    }
    Mod_MCI::MciClose(kCuedMusicAlias);
}

// The cued file took over the music at the sample where the last one ended.
void Scheduler::OnMusicAdvanced() {
    if (stopped_ || cuedName_.isEmpty()) {
        return;
    }
    const QByteArray name = std::exchange(cuedName_, {});
    // Before anyone hears of the new file. A message waits for one crossfade only: with tracks
    // shorter than two crossfades, the music is never without one.
    if (const int crossfade = CrossfadeMilliseconds(); crossfade > 0 && !messageWaits_) {
        crossfadeTimer_.start(crossfade);
    }
    RefreshFileLists();
    MediaList& list = *lists_[kMusic];
    list.SetListIndex(list.Find(name));
    const QByteArray path = QFile::encodeName(list.Path()) + '/' + name;
    unplayable_.erase(path);
    qCInfo(lcPlayback, "%s: %s started", qPrintable(ChannelAlias(kMusic)), path.constData());
    CueBeforeTheEnd();
}

int Scheduler::CrossfadeMilliseconds() const {
    return inputs_.crossfade ? std::max(0, inputs_.crossfade()) * 1000 : 0;
}

void Scheduler::CueBeforeTheEnd() {
    const qint64 lengthMs =
        qint64{Mod_MCI::MciGetLength(ChannelAlias(kMusic))} * kMillisecondsPerFrame;
    const qint64 ahead = kCueAheadMilliseconds + CrossfadeMilliseconds();
    cueTimer_.start(std::chrono::milliseconds(std::max<qint64>(0, lengthMs - ahead)));
}

void Scheduler::ForgetCuedMusic() {
    cueTimer_.stop();
    if (!std::exchange(cuedName_, {}).isEmpty()) {
        Mod_MCI::MciClose(kCuedMusicAlias);
    }
}

void Scheduler::RefreshFileLists() {
    for (MediaList* list : lists_) {
        const QByteArray last = list->FileBytes();
        list->Refresh();
        if (last.isEmpty()) {
            continue;
        }
        list->SetListIndex(list->Find(last));
    }
}

void Scheduler::ShowVolume() {
    if (!stopped_) {
        emit VolumeShown(Mod_MCI::MciGetVolume(ChannelAlias(kMusic), kBothLower));
    }
}

void Scheduler::Stop() {
    if (message_ && !stopped_) {
        // Ended by itself, its notice still on the way, or cut off by the close that follows.
        if (ReadMode(kMessages) == kPlaying) {
            FinishMessage(Outcome::CutShort);
        } else {
            FinishStoppedMessage();
        }
    }
    stopped_ = true;
    fadeTimer_.stop();
    cueTimer_.stop();
    crossfadeTimer_.stop();
    messageWaits_ = false;
    fade_ = {};
}

// Each step sets the level and, one step time later, shows it; `then` runs after the last one. An
// empty range (a low level set above the high one) takes no step at all.
void Scheduler::StartFade(int from, int to, int step, const QString& side,
                          std::function<void()> then) {
    if (stopped_) {
        return;
    }
    if (step > 0 ? from > to : from < to) {
        if (then) {
            then();
        }
        return;
    }
    fade_ = Fade{from, to, step, side, std::move(then)};
    Mod_MCI::MciSetVolume(ChannelAlias(kMusic), side, from);
    fadeTimer_.start();
}

void Scheduler::FadeStep() {
    ShowVolume();
    if (fade_.level == fade_.to) {
        fadeTimer_.stop();
        const std::function<void()> then = std::exchange(fade_, {}).then;
        if (then) {
            then();
        }
        return;
    }
    fade_.level += fade_.step;
    Mod_MCI::MciSetVolume(ChannelAlias(kMusic), fade_.side, fade_.level);
}

// A channel's file ended or failed: do at once what the next tick would do about it. Its mode is
// read first, since the notice may be stale by the time it arrives.
void Scheduler::OnDeviceStopped(const QString& alias) {
    if (stopped_) {
        return;
    }
    if (alias.compare(ChannelAlias(kMusic), Qt::CaseInsensitive) == 0) {
        if (ReadMode(kMusic) != kPlaying) {
            StartMusic();
        }
    } else if (alias.compare(ChannelAlias(kMessages), Qt::CaseInsensitive) == 0) {
        if (ReadMode(kMessages) == kPlaying) {
            return;
        }
        FinishStoppedMessage();
        if (!Fading() && MusicBelowHigh()) {
            StartFade(inputs_.musicLow(), inputs_.musicHigh(), +1, kBothLower, {});
        }
    }
}

// The message channel has stopped by itself: it played to its end, or its device failed.
void Scheduler::FinishStoppedMessage() {
    if (message_) {
        FinishMessage(Mod_MCI::MciFailed(ChannelAlias(kMessages)) ? Outcome::Failed
                                                                  : Outcome::Played);
    }
}

void Scheduler::FinishMessage(Outcome outcome) {
    if (std::optional<MessagePlay> play = std::exchange(message_, std::nullopt)) {
        play->outcome = outcome;
        emit MessageFinished(*play);
    }
}
