#include "player/Player.h"

#include <utility>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QSet>
#include <QTime>
#include <algorithm>
#include <cmath>

#include "audio/Mod_MCI.h"
#include "platform/mci/mci.h"
#include "platform/mci/playlist.h"
#include "settings/Mod_INI.h"
#include "settings/SettingValue.h"
#include "support/Mod_Diskinfo.h"
#include "support/ProgramLocation.h"

namespace {

Q_LOGGING_CATEGORY(lcPlayLog, "corvane.playlog")

QString Latin1(const char* text) {
    return QString::fromLatin1(text);
}

QString ReadOption(const char* key, const QString& fallback) {
    return Mod_INI::GetIniValue(QString(), Latin1(key), fallback, Latin1(Player::kOptionsSection))
        .trimmed();
}

void ProcessPendingEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

}  // namespace

Player::Player(const Clock& clock, QObject* parent)
    : QObject(parent),
      clock_(clock),
      loudness_(std::make_unique<Loudness::Library>(Loudness::Library::DefaultCacheFile())),
      playLog_(Program().folder + QStringLiteral("/Play Log")),
      musicRoot_(Program().folder + QStringLiteral("/Music")),
      shuffle_(Program().folder + u'/' + Program().baseName + QStringLiteral(".shuffle")) {
    for (std::size_t i = 0; i < kValues.size(); ++i) {
        values_[i] = kValues[i].defaultValue;
    }
    lists_[kMusic].SetPattern(Latin1(kMusicPattern));
    lists_[kMessages].SetPattern(Latin1(kFilePattern));
    scheduler_ = new Scheduler(CoreInputs(), lists_[kMusic], lists_[kMessages], this);
    Mod_MCI::MciSetNotify(
        [scheduler = scheduler_](const QString& alias, Mod_MCI::MciNotice notice) {
            scheduler->OnNotice(alias, notice);
        });
    planner_ = new DayPlanner(
        clock_, *scheduler_,
        Program().folder + u'/' + Program().baseName + QStringLiteral(".timed"), this);
    ConnectParts();
    artistReader_.setMaxThreadCount(1);
}

// The values and options the core reads afresh at every use, and how the music's order is kept.
Scheduler::Inputs Player::CoreInputs() {
    return {
        [this] { return values_[kInterval]; },
        [this] { return values_[kMusicHigh]; },
        [this] { return values_[kMusicLow]; },
        [this] { return values_[kMessageVolume]; },
        [this] { return options_.crossfade; },
        [this] { return options_.everySongs; },
        [this](const MediaList& list) { return NextShuffled(list); },
        [this](const MediaList& list) { MusicStarted(list); },
    };
}

// What the core, the day's plan, the lists and the save timer tell the player.
void Player::ConnectParts() {
    saveTimer_.setSingleShot(true);
    saveTimer_.setInterval(kSaveDelayMilliseconds);
    connect(&saveTimer_, &QTimer::timeout, this, &Player::SaveValues);
    // The mode is read at every tick; told only when it changes, which is all a view shows.
    connect(scheduler_, &Scheduler::StatusChanged, this, [this](int channel, const QString& mode) {
        if (std::exchange(modes_[channel], mode) != mode) {
            emit StatusChanged(channel, mode);
        }
    });
    connect(scheduler_, &Scheduler::VolumeShown, this, &Player::VolumeShown);
    // A stream's title goes with it, before any view hears of the next file.
    connect(scheduler_, &Scheduler::PlayingChanged, this, [this](int channel) {
        if (channel == kMusic) {
            streamTitle_.clear();
        }
    });
    connect(scheduler_, &Scheduler::PlayingChanged, this, &Player::PlayingChanged);
    connect(scheduler_, &Scheduler::PausedChanged, this, &Player::PausedChanged);
    // The views show the last message whether or not the log is kept.
    scheduler_->SetMessageReports(true);
    connect(scheduler_, &Scheduler::MessageFinished, this, &Player::LogMessage);
    connect(planner_, &DayPlanner::Missed, this, &Player::LogMessage);
    connect(planner_, &DayPlanner::ClosedTextChanged, this, &Player::ClosedTextChanged);
    connect(planner_, &DayPlanner::DaypartChanged, this, &Player::ApplyDaypart);
    connect(planner_, &DayPlanner::LevelDue, this, [this](int level, bool fade) {
        SetValue(kMusicHigh, level, fade ? kLevelLineFade : std::chrono::milliseconds{});
    });
    // Every file the lists show is measured ahead of its start, while even loudness is on.
    for (MediaList& list : lists_) {
        connect(&list, &MediaList::modelReset, this,
                [this, &list] { loudness_->Queue(list.FilePaths()); });
    }
    connect(&lists_[kMusic], &MediaList::modelReset, this, &Player::ReadArtists);
}

Player::~Player() {
    stopReading_->store(true);
    Mod_MCI::MciSetNotify({});
    loudness_->Stop();
}

void Player::Load() {
    const QString messagesFolder = Program().folder + QStringLiteral("/Messages");
    for (const QString& folder : {musicRoot_, messagesFolder}) {
        if (!Mod_Diskinfo::PathExists(folder)) {
            Mod_Diskinfo::CreatePath(folder);
        }
    }
    // Seeded from the time of day, so each start picks other starting entries.
    QRandomGenerator random(static_cast<quint32>(QTime::currentTime().msecsSinceStartOfDay()));
    lists_[kMusic].SetPath(musicRoot_);
    lists_[kMessages].SetPath(messagesFolder);
    // Campaign folders rotate on their dates.
    lists_[kMessages].SetCampaigns([this] { return clock_.Now().date(); });
    Schedule::Plan plan = ReadSchedule();
    const auto on = [](const char* key) { return ReadOption(key, QStringLiteral("0")) == u"1"; };
    options_.shuffle =
        ReadOption(kMusicOrderKey, QString()).compare(u"Shuffle", Qt::CaseInsensitive) == 0;
    bool isNumber = false;
    const int separation = ReadOption(kArtistSeparationKey, QString()).toInt(&isNumber);
    options_.artistSeparation =
        isNumber ? std::clamp(separation, 0, kMostSeparation) : Shuffle::kDefaultSeparation;
    shuffle_.SetSeparation(options_.artistSeparation);
    // The first music comes from the daypart in force.
    const Schedule::Daypart* daypart = Schedule::DaypartAt(plan.dayparts, clock_.Now());
    ApplyDaypart(daypart ? daypart->name : QString());
    // The lists have told their views they are filled; those views draw before the random pick
    // below selects in them, as after any other change of the lists.
    ProcessPendingEvents();
    for (MediaList& list : lists_) {
        // Shuffled music carries on with its round instead.
        if (list.ListCount() > 0 && !(&list == &lists_[kMusic] && options_.shuffle)) {
            list.SetListIndex(
                static_cast<int>(std::floor(random.generateDouble() * list.ListCount())));
        }
    }

    for (std::size_t i = 0; i < kValues.size(); ++i) {
        const ValueKey& value = kValues[i];
        values_[i] = TextToSettingValue(
            Mod_INI::GetIniValue(QString(), Latin1(value.key), QString::number(value.defaultValue),
                                 Latin1(kSettingsSection)),
            value.low, value.high);
    }
    ApplyEvenLoudness(on(kEvenLoudnessKey));
    options_.keepPlayLog = on(kKeepPlayLogKey);
    ApplyTrimSilence(on(kTrimSilenceKey));
    // A value that is no number is off.
    options_.crossfade =
        std::clamp(ReadOption(kCrossfadeKey, QStringLiteral("0")).toInt(), 0, kLongestCrossfade);
    options_.everySongs =
        std::clamp(ReadOption(kEverySongsKey, QStringLiteral("0")).toInt(), 0, kMostSongs);
    options_.output = ReadOption(kOutputDeviceKey, QString());
    ReadSilenceAlarm();
    // The media service is installed before the player loads.
    ApplyOutput();
    // Outside the hours nothing starts.
    planner_->SetPlan(std::move(plan));
}

void Player::Start(qint32 parentWindow) {
    scheduler_->SetParentWindow(parentWindow);
    scheduler_->ShowVolume();
    scheduler_->StartMusic();
}

void Player::Tick() {
    if (!shuttingDown_) {
        planner_->Check();
        // A daypart's folder emptied meanwhile gives way to the music folder, and one filled takes
        // over from it.
        if (!daypart_.isEmpty() &&
            (lists_[kMusic].ListCount() == 0 || lists_[kMusic].Path() == musicRoot_)) {
            ApplyDaypart(daypart_);
        }
        scheduler_->Tick();
        Watch();
    }
}

void Player::Shutdown() {
    if (std::exchange(shuttingDown_, true)) {
        return;
    }
    saveTimer_.stop();
    stopReading_->store(true);
    scheduler_->Stop();
    ProcessPendingEvents();
    // Each channel by its name first, then whatever else is open (the music file cued next).
    Mod_MCI::MciClose(Scheduler::ChannelAlias(kMusic));
    Mod_MCI::MciClose(Scheduler::ChannelAlias(kMessages));
    Mod_MCI::MciCloseAll();
    loudness_->Stop();
    ProcessPendingEvents();
    SaveValues();
}

void Player::Set(Value value, int level) {
    SetValue(value, level, {});
}

void Player::SetValue(Value value, int level, std::chrono::milliseconds over) {
    level = std::clamp(level, kValues[value].low, kValues[value].high);
    if (shuttingDown_ || values_[value] == level) {
        return;
    }
    values_[value] = level;
    if (value != kInterval) {
        scheduler_->LevelsChanged(over);
    }
    saveTimer_.start();
    emit ValueChanged(value, level);
}

void Player::SaveValues() {
    saveTimer_.stop();
    // The four in one replacement of the file, so an end between them cannot leave a mix.
    QList<std::pair<QString, QString>> pairs;
    for (std::size_t i = 0; i < kValues.size(); ++i) {
        pairs.append({Latin1(kValues[i].key), QString::number(values_[i])});
    }
    Mod_INI::PutIniValues(QString(), pairs, Latin1(kSettingsSection));
}

void Player::StoreOption(const char* key, const QString& value) {
    Mod_INI::PutIniValue(QString(), Latin1(key), value, Latin1(kOptionsSection));
    emit OptionsChanged();
}

void Player::SetEvenLoudness(bool on) {
    ApplyEvenLoudness(on);
    StoreOption(kEvenLoudnessKey, QString::number(on ? 1 : 0));
}

void Player::SetKeepPlayLog(bool on) {
    options_.keepPlayLog = on;
    StoreOption(kKeepPlayLogKey, QString::number(on ? 1 : 0));
}

void Player::SetTrimSilence(bool on) {
    ApplyTrimSilence(on);
    StoreOption(kTrimSilenceKey, QString::number(on ? 1 : 0));
}

// Takes effect from the next track change on.
void Player::SetCrossfade(int seconds) {
    options_.crossfade = std::clamp(seconds, 0, kLongestCrossfade);
    StoreOption(kCrossfadeKey, QString::number(options_.crossfade));
}

void Player::SetEverySongs(int songs) {
    options_.everySongs = std::clamp(songs, 0, kMostSongs);
    StoreOption(kEverySongsKey, QString::number(options_.everySongs));
}

void Player::ApplyEvenLoudness(bool on) {
    options_.evenLoudness = on;
    loudness_->SetEnabled(on);
    for (const MediaList& list : lists_) {
        loudness_->Queue(list.FilePaths());
    }
}

// The music is measured for where its sound starts and ends; a file not yet measured plays whole.
void Player::ApplyTrimSilence(bool on) {
    options_.trimSilence = on;
    loudness_->SetTrimming(on);
    loudness_->Queue(lists_[kMusic].FilePaths());
}

std::optional<std::pair<qint64, qint64>> Player::Sound(const QByteArray& path) const {
    const QByteArray folder = QFile::encodeName(QDir::cleanPath(musicRoot_)) + '/';
    if (!options_.trimSilence || !path.startsWith(folder)) {
        return std::nullopt;
    }
    return loudness_->Sound(path);
}

void Player::NextTrack() {
    scheduler_->NextTrack();
}

bool Player::PlayMessageNow(const QString& file) {
    if (file.isEmpty()) {
        return scheduler_->PlayMessageNow();
    }
    // Only a file of the messages folder, whatever the name says, and never a playlist: the
    // remotes must not make the player connect anywhere.
    const QString folder = QDir::cleanPath(lists_[kMessages].Path());
    const QFileInfo found(QDir(folder), file);
    const QString path = QDir::cleanPath(found.absoluteFilePath());
    if (!path.startsWith(folder + u'/') || !found.isFile() ||
        Platform::Mci::Playlist::IsPlaylist(path.toStdString())) {
        return false;
    }
    return scheduler_->PlayMessageNow(QFile::encodeName(path));
}

void Player::Pause() {
    scheduler_->Pause();
}

void Player::Resume() {
    scheduler_->Resume();
}

std::optional<qint64> Player::SecondsToNextMessage() const {
    const std::optional<qint64> rotation = scheduler_->SecondsToNextMessage();
    const std::optional<qint64> timed = Closed() ? std::nullopt : planner_->SecondsToNextTimed();
    if (rotation && timed) {
        return std::min(*rotation, *timed);
    }
    return rotation ? rotation : timed;
}

QList<Language::Text> Player::Problems() const {
    QList<Language::Text> problems;
    if (lists_[kMusic].ListCount() == 0) {
        problems << Language::Text(QT_TRANSLATE_NOOP("Problems", "the music folder is empty"), {});
    } else if (!Closed() && !shuttingDown_ && !modes_[kMusic].isEmpty() &&
               modes_[kMusic] != u"playing" && modes_[kMusic] != u"paused") {
        problems << Language::Text(
            QT_TRANSLATE_NOOP("Problems",
                              "no music plays: no sound output, or no file that can be played"),
            {});
    }
    for (const Schedule::Fault& fault : planner_->Plan().faults) {
        problems << fault.Warning();
    }
    return problems + viewProblems_.values();
}

QStringList Player::ProblemsInEnglish() const {
    QStringList english;
    for (const Language::Text& problem : Problems()) {
        english << problem.English();
    }
    return english;
}

void Player::OnShownChange(QObject* receiver, const std::function<void()>& changed) const {
    const auto call = [changed] { changed(); };
    connect(this, &Player::StatusChanged, receiver, call);
    connect(this, &Player::PlayingChanged, receiver, call);
    connect(this, &Player::PausedChanged, receiver, call);
    connect(this, &Player::ValueChanged, receiver, call);
    connect(this, &Player::OptionsChanged, receiver, call);
    connect(this, &Player::ClosedTextChanged, receiver, call);
    connect(this, &Player::MessageLogged, receiver, call);
    connect(this, &Player::ProblemsChanged, receiver, call);
    connect(this, &Player::DaypartChanged, receiver, call);
}

void Player::SetProblem(const QString& view, const Language::Text& text) {
    if (viewProblems_.value(view) == text) {
        return;
    }
    if (text.IsEmpty()) {
        viewProblems_.remove(view);
    } else {
        viewProblems_.insert(view, text);
    }
    emit ProblemsChanged();
}

void Player::LogMessage(const Scheduler::MessagePlay& play) {
    lastMessage_ = play;
    emit MessageLogged(play);
    if (!options_.keepPlayLog) {
        return;
    }
    const bool written = playLog_.Append(play);
    if (!written && !playLogFailed_) {
        qCWarning(lcPlayLog, "cannot write to the play log %s", qPrintable(playLog_.FileFor(play)));
    }
    playLogFailed_ = !written;
}
