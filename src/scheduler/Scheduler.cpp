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

qint64 Scheduler::PositionMs(int channel) const {
    if (playing_[channel].isEmpty()) {
        return -1;
    }
    const qint32 frames = Mod_MCI::MciGetPosition(ChannelAlias(channel));
    return frames < 0 ? -1 : qint64{frames} * kMillisecondsPerFrame;
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
        } else {
            PlayTimedNext();
        }
    });
    songDuckTimer_.setSingleShot(true);
    connect(&songDuckTimer_, &QTimer::timeout, this, [this] {
        if (!closed_ && !MessageBusy()) {
            DuckThen(DuckFrom(false), {});
            songMessageDue_ = true;
        }
    });
    nextTimer_.setTimerType(Qt::PreciseTimer);
    nextTimer_.setInterval(kFadeStepMilliseconds);
    connect(&nextTimer_, &QTimer::timeout, this, &Scheduler::NextTrackStep);
    closeTimer_.setTimerType(Qt::PreciseTimer);
    closeTimer_.setInterval(kFadeStepMilliseconds);
    connect(&closeTimer_, &QTimer::timeout, this, &Scheduler::CloseStep);
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
    if (stopped_ || Fading() || closeTimer_.isActive() || nextTimer_.isActive()) {
        return;
    }
    if (closed_ || paused_) {
        ReadMode(kMusic);
        ReadMode(kMessages);
        return;
    }
    musicStarts_ = 0;
    if (ReadMode(kMusic) != kPlaying) {
        StartMusic();
    }
    const bool messagePlaying = ReadMode(kMessages) == kPlaying;
    if (!messagePlaying) {
        SetPlaying(kMessages, {});
        FinishStoppedMessage();
        if (PlayTimedNext()) {
            return;
        }
    }
    if (!messagePlaying && !songMessageDue_ && MusicBelowHigh()) {
        StartFade(inputs_.musicLow(), inputs_.musicHigh(), +1, kBothLower,
                  [this] { CountTick(false); });
        return;
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
        if (PlayNextFile(kMusic)) {
            return;
        }
        if (lists_[kMusic]->ListCount() == 0) {
            break;
        }
    }
    SetPlaying(kMusic, {});  // each file tried was closed first
}

bool Scheduler::PlayNextFile(int index) {
    if (stopped_ || closed_) {
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
        DuckThen(DuckFrom(false),
                 [this, path] { OpenAndPlay(kMessages, path, inputs_.messageLevel()); });
        return true;
    }
    ForgetCuedMusic();
    // Music that starts while a fade runs joins the fade at its level instead of jumping; music
    // that a message is about to play over starts down.
    const bool underMessage = songMessageDue_ || ducking_ || nextUnderMessage_;
    const int level = Fading()       ? fade_.level
                      : underMessage ? inputs_.musicLow()
                                     : inputs_.musicHigh();
    return OpenAndPlay(kMusic, path, level);
}

// The music's level while no fade runs: down while a message plays or is about to play over it.
int Scheduler::MusicLevelNow() {
    const QString message = Mod_MCI::MciGetMode(ChannelAlias(kMessages));
    const bool underMessage =
        songMessageDue_ || ducking_ || message == kPlaying || message == u"paused";
    return underMessage ? inputs_.musicLow() : inputs_.musicHigh();
}

void Scheduler::LevelsChanged() {
    if (stopped_ || closed_ || closeTimer_.isActive()) {
        return;
    }
    const QString messages = ChannelAlias(kMessages);
    const QString message = Mod_MCI::MciGetMode(messages);
    if (Fading()) {
        // A fade down heads to the low level, a fade up to the full one.
        fade_.to = fade_.step < 0 ? inputs_.musicLow() : inputs_.musicHigh();
        fade_.step = fade_.to >= fade_.level ? +1 : -1;
    } else if (!nextTimer_.isActive()) {
        Mod_MCI::MciSetVolume(ChannelAlias(kMusic), kBoth, MusicLevelNow());
    }
    if (message == kPlaying || message == u"paused") {
        Mod_MCI::MciSetVolume(messages, kBoth, inputs_.messageLevel());
    }
    ShowVolume();
}

void Scheduler::NextTrack() {
    if (stopped_ || closed_ || paused_ || nextTimer_.isActive()) {
        return;
    }
    if (ReadMode(kMusic) != kPlaying) {
        musicStarts_ = 0;
        StartMusic();
        return;
    }
    ForgetCuedMusic();
    nextFrom_ = Mod_MCI::MciGetVolume(ChannelAlias(kMusic), kBothLower);
    nextStep_ = 0;
    nextTimer_.start();
}

// A fade of the music's own that any other fade running leaves alone: that one carries on
// unheard, and the next file joins it at its level.
void Scheduler::NextTrackStep() {
    constexpr int kSteps = kNextTrackFadeMilliseconds / kFadeStepMilliseconds;
    ++nextStep_;
    Mod_MCI::MciSetVolume(ChannelAlias(kMusic), kBoth, nextFrom_ * (kSteps - nextStep_) / kSteps);
    if (nextStep_ < kSteps) {
        return;
    }
    nextTimer_.stop();
    musicStarts_ = 0;
    nextUnderMessage_ = Mod_MCI::MciGetMode(ChannelAlias(kMessages)) == kPlaying;
    StartMusic();
    nextUnderMessage_ = false;
}

void Scheduler::Pause() {
    if (stopped_ || paused_) {
        return;
    }
    if (closeTimer_.isActive()) {
        FinishClose();
    }
    paused_ = true;
    pausedFade_ = Fading();
    fadeTimer_.stop();
    pausedNext_ = nextTimer_.isActive();
    nextTimer_.stop();
    if (crossfadeTimer_.isActive()) {
        pausedCrossfade_ = std::chrono::milliseconds(crossfadeTimer_.remainingTime());
        crossfadeTimer_.stop();
    }
    // Cued again from where the music is when it carries on.
    ForgetCuedMusic();
    songDuckTimer_.stop();
    if (!closed_) {
        for (const int channel : {kMusic, kMessages}) {
            Mod_MCI::MciPause(ChannelAlias(channel));
            ReadMode(channel);
        }
    }
    emit PausedChanged(true);
}

void Scheduler::Resume() {
    if (stopped_ || !paused_) {
        return;
    }
    paused_ = false;
    if (!closed_) {
        for (const int channel : {kMusic, kMessages}) {
            Mod_MCI::MciResume(ChannelAlias(channel));
        }
        if (std::exchange(pausedFade_, false)) {
            fadeTimer_.start();
        }
        if (std::exchange(pausedNext_, false)) {
            nextTimer_.start();
        }
        if (pausedCrossfade_) {
            crossfadeTimer_.start(*std::exchange(pausedCrossfade_, std::nullopt));
        }
        if (ReadMode(kMusic) == kPlaying) {
            CueBeforeTheEnd(qint64{std::max(0, Mod_MCI::MciGetPosition(ChannelAlias(kMusic)))} *
                            kMillisecondsPerFrame);
        } else if (!nextTimer_.isActive()) {
            musicStarts_ = 0;
            StartMusic();
        }
        ReadMode(kMessages);
    }
    pausedFade_ = pausedNext_ = false;
    pausedCrossfade_.reset();
    emit PausedChanged(false);
}

std::optional<int> Scheduler::SecondsToNextMessage() const {
    if (closed_ || stopped_ || !inputs_.interval || inputs_.interval() <= 0 || EverySongs() > 0) {
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

// Where the music fades down from: the level of a fade running, or low when it is down already
// for a message. Otherwise its full level, or with `ask`, the level the music's device has.
int Scheduler::DuckFrom(bool ask) {
    const int low = inputs_.musicLow();
    const int high = inputs_.musicHigh();
    if (Fading()) {
        return fade_.level;
    }
    if (songMessageDue_) {
        return low;
    }
    return ask ? std::clamp(Mod_MCI::MciGetVolume(ChannelAlias(kMusic), kBothLower),
                            std::min(low, high), high)
               : high;
}

// Fades the music down to its low level, then runs `then`: at once when it is down already.
void Scheduler::DuckThen(int from, std::function<void()> then) {
    const int low = inputs_.musicLow();
    if (from == low && !Fading()) {
        if (then) {
            then();
        }
        return;
    }
    ducking_ = static_cast<bool>(then);
    StartFade(from, low, -1, kBoth, [this, then = std::move(then)] {
        ducking_ = false;
        if (then) {
            then();
        }
    });
}

bool Scheduler::MessageBusy() {
    return ducking_ || crossfadeTimer_.isActive() ||
           Mod_MCI::MciGetMode(ChannelAlias(kMessages)) == kPlaying;
}

bool Scheduler::PlayTimed(const QByteArray& path) {
    if (stopped_ || closed_ || paused_) {
        return false;
    }
    timed_.push_back(path);
    PlayTimedNext();
    return true;
}

bool Scheduler::PlayMessageNow(const QByteArray& path) {
    if (stopped_ || closed_ || paused_) {
        return false;
    }
    QByteArray file = path;
    if (file.isEmpty()) {
        RefreshFileLists();
        MediaList& list = *lists_[kMessages];
        if (list.ListCount() == 0) {
            return false;
        }
        list.SetListIndex((list.ListIndex() + 1) % list.ListCount());
        file = list.FilePath();
    }
    messageTicks_ = 0;
    songsEnded_ = 0;
    return PlayTimed(file);
}

// The next timed message, when the message channel is free. True when one starts.
bool Scheduler::PlayTimedNext() {
    if (timed_.empty() || closed_ || stopped_ || paused_ || MessageBusy()) {
        return false;
    }
    const QByteArray path = timed_.front();
    timed_.pop_front();
    songDuckTimer_.stop();
    DuckThen(DuckFrom(true),
             [this, path] { OpenAndPlay(kMessages, path, inputs_.messageLevel()); });
    return true;
}

int Scheduler::EverySongs() const {
    return inputs_.everySongs ? std::max(0, inputs_.everySongs()) : 0;
}

// A music file began: the one before it has ended, which may be the one a message follows.
// The music stays down from the end of the file the message follows until the message starts.
void Scheduler::MusicStarted() {
    if (EverySongs() == 0 || !std::exchange(musicStarted_, true)) {
        songMessageDue_ = false;
        return;
    }
    if (++songsEnded_ >= EverySongs() || songMessageDue_) {
        songsEnded_ = 0;
        if (!PlayNextFile(kMessages)) {
            songMessageDue_ = false;
        }
    }
}

bool Scheduler::OpenAndPlay(int index, const QByteArray& path, int level) {
    const QString alias = ChannelAlias(index);
    if (index == kMessages) {
        FinishStoppedMessage();
        songMessageDue_ = false;
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
    SetPlaying(index, path);
    if (index == kMusic) {
        MusicStarted();
        CueBeforeTheEnd();
    }
    return true;
}

// The next file of the list, opened and cued to follow the music playing. One that cannot be
// opened is left to the end of the music, which starts the files after it as always.
void Scheduler::CueNextMusic() {
    if (stopped_ || closed_ || !cuedName_.isEmpty() ||
        Mod_MCI::MciGetMode(ChannelAlias(kMusic)) != kPlaying) {
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
    if (stopped_ || closed_ || cuedName_.isEmpty()) {
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
    SetPlaying(kMusic, path);
    MusicStarted();
    CueBeforeTheEnd();
}

int Scheduler::CrossfadeMilliseconds() const {
    return inputs_.crossfade ? std::max(0, inputs_.crossfade()) * 1000 : 0;
}

void Scheduler::CueBeforeTheEnd(qint64 playedMs) {
    const qint64 lengthMs =
        qint64{Mod_MCI::MciGetLength(ChannelAlias(kMusic))} * kMillisecondsPerFrame - playedMs;
    const qint64 ahead = kCueAheadMilliseconds + CrossfadeMilliseconds();
    cueTimer_.start(std::chrono::milliseconds(std::max<qint64>(0, lengthMs - ahead)));
    // The file a message follows fades down as it ends, so that the next one starts under it.
    songDuckTimer_.stop();
    if (EverySongs() > 0 && songsEnded_ + 1 >= EverySongs() && lengthMs > 0) {
        const qint64 fadeMs =
            qint64{std::max(0, inputs_.musicHigh() - inputs_.musicLow())} * kFadeStepMilliseconds;
        songDuckTimer_.start(std::chrono::milliseconds(
            std::max<qint64>(0, lengthMs - CrossfadeMilliseconds() - fadeMs)));
    }
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
    songDuckTimer_.stop();
    closeTimer_.stop();
    nextTimer_.stop();
    timed_.clear();
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
    if (!nextTimer_.isActive()) {
        Mod_MCI::MciSetVolume(ChannelAlias(kMusic), side, from);
    }
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
    if (!nextTimer_.isActive()) {
        Mod_MCI::MciSetVolume(ChannelAlias(kMusic), fade_.side, fade_.level);
    }
}

// A channel's file ended or failed: do at once what the next tick would do about it. Its mode is
// read first, since the notice may be stale by the time it arrives.
void Scheduler::OnDeviceStopped(const QString& alias) {
    if (stopped_ || closed_ || paused_) {
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
        SetPlaying(kMessages, {});
        FinishStoppedMessage();
        if (PlayTimedNext()) {
            return;
        }
        if (!Fading() && !songMessageDue_ && MusicBelowHigh()) {
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

void Scheduler::Close(std::chrono::milliseconds fade) {
    if (stopped_ || closed_) {
        return;
    }
    closed_ = true;
    fadeTimer_.stop();
    nextTimer_.stop();
    fade_ = {};
    ducking_ = false;
    cueTimer_.stop();
    crossfadeTimer_.stop();
    songDuckTimer_.stop();
    messageWaits_ = false;
    songMessageDue_ = false;
    timed_.clear();
    closeFrom_ = {Mod_MCI::MciGetVolume(ChannelAlias(kMusic), kBothLower),
                  Mod_MCI::MciGetVolume(ChannelAlias(kMessages), kBothLower)};
    closeStep_ = 0;
    closeSteps_ = static_cast<int>(fade.count() / kFadeStepMilliseconds);
    const bool sounding = ReadMode(kMusic) == kPlaying || ReadMode(kMessages) == kPlaying;
    if (closeSteps_ > 0 && sounding) {
        closeTimer_.start();
    } else {
        FinishClose();
    }
}

void Scheduler::CloseStep() {
    ++closeStep_;
    for (const int channel : {kMusic, kMessages}) {
        const int level = closeFrom_[channel] * (closeSteps_ - closeStep_) / closeSteps_;
        Mod_MCI::MciSetVolume(ChannelAlias(channel), kBoth, level);
    }
    if (closeStep_ >= closeSteps_) {
        FinishClose();
    }
}

void Scheduler::FinishClose() {
    closeTimer_.stop();
    if (message_) {
        if (ReadMode(kMessages) == kPlaying) {
            FinishMessage(Outcome::CutShort);
        } else {
            FinishStoppedMessage();
        }
    }
    cuedName_.clear();
    Mod_MCI::MciCloseAll();
    SetPlaying(kMusic, {});
    SetPlaying(kMessages, {});
    ReadMode(kMusic);
    ReadMode(kMessages);
}

void Scheduler::Open() {
    if (stopped_ || !closed_) {
        return;
    }
    if (closeTimer_.isActive()) {
        FinishClose();
    }
    closed_ = false;
    musicStarted_ = false;
    musicStarts_ = 0;
    if (!paused_) {
        StartMusic();
    }
}
