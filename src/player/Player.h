#pragma once

#include <QHash>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QThreadPool>
#include <QTimer>
#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include "loudness/LoudnessLibrary.h"
#include "player/SilenceWatch.h"
#include "scheduler/DayPlanner.h"
#include "scheduler/MediaList.h"
#include "scheduler/PlayLog.h"
#include "scheduler/Scheduler.h"
#include "scheduler/Shuffle.h"
#include "support/Text.h"

// The player, without a widget: the music and message lists, the playback core and the day's plan
// on it, the loudness library and the play log, with the four values and the options the user
// sets, read from the settings file at start-up and written back to it. The window, the tray, the
// desktop's media controls and the web remote are views of it: they steer it through here and
// show what its signals tell.
class Player : public QObject {
    Q_OBJECT

public:
    static constexpr int kMusic = Scheduler::kMusic;
    static constexpr int kMessages = Scheduler::kMessages;
    // The kinds of file the lists hold: the first three the oldest, then what music stores and
    // ripping tools give today.
    static constexpr const char* kFilePattern =
        "*.mp3;*.wav;*.mid;*.ogg;*.oga;*.opus;*.flac;*.m4a;*.aac";
    // Music also plays internet radio: a playlist naming a stream. Never as a message.
    static constexpr const char* kMusicPattern =
        "*.mp3;*.wav;*.mid;*.ogg;*.oga;*.opus;*.flac;*.m4a;*.aac;*.m3u;*.m3u8;*.pls";

    // The four values, by their index in kValues.
    enum Value { kInterval = 0, kMusicHigh = 1, kMusicLow = 2, kMessageVolume = 3 };
    struct ValueKey {
        const char* key;  // in the settings section
        int defaultValue;
        int low;
        int high;
    };
    static constexpr std::array<ValueKey, 4> kValues{{
        {"MessageInterval", 30, 0, 600},
        {"MusicVolumeHigh", 100, 0, 100},
        {"MusicVolumeLow", 10, 0, 100},
        {"MessageVolume", 100, 0, 100},
    }};
    static constexpr const char* kSettingsSection = "Settings";
    // A changed value reaches the settings file this long after the last change, so that a power
    // cut loses nothing and a dragged slider is not written at every step.
    static constexpr int kSaveDelayMilliseconds = 1000;

    // The options, in a section of their own; each is stored the moment it changes.
    static constexpr const char* kOptionsSection = "Options";
    static constexpr const char* kEvenLoudnessKey = "EvenLoudness";
    static constexpr const char* kKeepPlayLogKey = "KeepPlayLog";
    static constexpr const char* kOutputDeviceKey = "OutputDevice";
    static constexpr const char* kCrossfadeKey = "Crossfade";
    // "de", "fr", "es", "it", "nl" or "en"; empty for the system's. Read at start.
    static constexpr const char* kLanguageKey = "Language";
    static constexpr const char* kTrimSilenceKey = "TrimSilence";
    static constexpr const char* kEverySongsKey = "MessageEverySongs";
    static constexpr const char* kScheduleSection = "Schedule";
    static constexpr const char* kTimedSection = "Timed";
    static constexpr const char* kDaypartsSection = "Dayparts";
    static constexpr const char* kLevelsSection = "Levels";
    static constexpr const char* kMusicOrderKey = "MusicOrder";  // "Name" or "Shuffle"
    static constexpr const char* kArtistSeparationKey = "ArtistSeparation";
    static constexpr const char* kSilenceAlarmKey = "SilenceAlarmSeconds";
    static constexpr int kLongestSilenceAlarm = 3600;
    static constexpr int kLongestCrossfade = 10;
    static constexpr int kMostSongs = 100;
    static constexpr int kMostSeparation = 50;
    // A level line's level is reached over this.
    static constexpr std::chrono::seconds kLevelLineFade{10};

    struct Options {
        bool evenLoudness = false;
        bool keepPlayLog = false;
        bool trimSilence = false;
        int crossfade = 0;     // seconds; 0: gapless
        int everySongs = 0;    // a message after every that many music files; 0: by the interval
        QString output;        // the sound server's name for it; empty: the desktop's
        bool shuffle = false;  // the music shuffled rather than in the order of names
        int artistSeparation = Shuffle::kDefaultSeparation;  // files between one artist's, shuffled
        // Seconds of a quiet output, while music should be heard, that raise the alarm; 0: off.
        int silenceAlarm = SilenceWatch::kDefaultSeconds;
    };

    explicit Player(const Clock& clock, QObject* parent = nullptr);
    ~Player() override;

    // Start-up, before anything plays: the media folders, the values and options, the day's plan
    // and a random starting entry in each list.
    void Load();
    // The first music file, when the shop is open. `parentWindow` is what media devices are told.
    void Start(qint32 parentWindow);
    // Once a second.
    void Tick();
    // The end: playback stops, every channel closes, the values are stored. Once.
    void Shutdown();
    bool ShuttingDown() const { return shuttingDown_; }

    int Get(Value value) const { return values_[value]; }
    // Clamped into its range; heard at once and stored shortly.
    void Set(Value value, int level);
    // The values as the settings file has them, written all four in one replacement of it.
    void SaveValues();

    const Options& Opts() const { return options_; }
    void SetEvenLoudness(bool on);
    void SetKeepPlayLog(bool on);
    void SetTrimSilence(bool on);
    void SetCrossfade(int seconds);
    void SetEverySongs(int songs);
    void SetOutput(const QString& name);
    // From the next music file on.
    void SetShuffle(bool on);
    struct Output {
        QString name;  // as Options::output keeps it
        QString description;
    };
    // The sound outputs there are now, by description; the chosen one may not be among them.
    // Asked afresh each time, as outputs come and go.
    QList<Output> Outputs() const;

    void NextTrack();
    // A message at once, with the music ducked: `file` from the messages folder, or the next of
    // the rotation when empty. False when it cannot play now, or there is no such file.
    bool PlayMessageNow(const QString& file = {});
    void Pause();
    void Resume();
    bool Paused() const { return scheduler_->Paused(); }
    bool Closed() const { return scheduler_->Closed(); }

    // The file playing on a channel, as its path, and its mode as last read.
    QByteArray Playing(int channel) const { return scheduler_->Playing(channel); }
    QString Mode(int channel) const { return modes_[channel]; }
    // What the stream playing as music says it plays; empty for a file, or until it says.
    QString StreamTitle() const { return streamTitle_; }
    // Seconds until the next message: the rotation's or a timed one's, whichever comes first.
    std::optional<qint64> SecondsToNextMessage() const;
    std::optional<Scheduler::MessagePlay> LastMessage() const { return lastMessage_; }
    // What keeps it from playing as it should, in a few words each; empty when all is well. In
    // English for the API and MQTT, in the program's language for the window.
    QList<Language::Text> Problems() const;
    QStringList ProblemsInEnglish() const;
    // A view's own trouble, such as a broker refusing the login, shown with the player's; an
    // empty text clears it.
    void SetProblem(const QString& view, const Language::Text& text);
    // Calls `changed`, in `receiver`'s thread and lifetime, whenever anything a view shows may
    // have changed: what plays and its mode, pause, the values, the options, the day's closing, a
    // message logged, a problem.
    void OnShownChange(QObject* receiver, const std::function<void()>& changed) const;

    // The daypart whose music plays, by its name in the settings file; empty when none applies.
    QString Daypart() const { return daypart_; }
    // Where the music comes from now: the daypart's folder, or the music folder.
    QString MusicFolder() const { return lists_[kMusic].Path(); }

    // The opening hours, timed messages, dayparts and levels as the settings file has them. The
    // messages named there leave the rotation.
    Schedule::Plan ReadSchedule();
    // The four schedule sections' lines, as they are to be written.
    struct ScheduleText {
        QByteArrayList schedule = {};
        QByteArrayList timed = {};
        QByteArrayList dayparts = {};
        QByteArrayList levels = {};
    };
    // Stores a new schedule, which takes effect at once.
    void SetSchedule(const ScheduleText& text);
    // Finds a timed message: in the messages folder, or from the program's folder.
    Schedule::Locate LocateMessage() const;

    MediaList& List(int channel) { return lists_[channel]; }
    const MediaList& List(int channel) const { return lists_[channel]; }
    Scheduler& Playback() const { return *scheduler_; }
    DayPlanner& Day() const { return *planner_; }
    Loudness::Library& Loudness() const { return *loudness_; }
    const PlayLog& Log() const { return playLog_; }
    // Where a file's sound starts and ends, for a music file while silent ends are trimmed.
    std::optional<std::pair<qint64, qint64>> Sound(const QByteArray& path) const;

signals:
    void ValueChanged(Player::Value value, int level);
    void OptionsChanged();
    void StatusChanged(int channel, const QString& mode);
    void VolumeShown(qint32 volume);
    void PlayingChanged(int channel);
    void PausedChanged(bool paused);
    void ClosedTextChanged(const QString& text);
    // A message's play ended, or a timed one was missed.
    void MessageLogged(const Scheduler::MessagePlay& play);
    void ProblemsChanged();
    void DaypartChanged(const QString& name);

private:
    Scheduler::Inputs CoreInputs();
    void ConnectParts();
    void MusicStarted(const MediaList& list);
    void SetValue(Value value, int level, std::chrono::milliseconds over);
    void ApplyDaypart(const QString& name);
    int NextShuffled(const MediaList& list);
    QString ArtistOf(const QString& folder, const QByteArray& name) const;
    void ReadArtists();
    void ApplyEvenLoudness(bool on);
    void ApplyTrimSilence(bool on);
    void StoreOption(const char* key, const QString& value);
    void ApplyOutput();
    void LogMessage(const Scheduler::MessagePlay& play);
    // The output watched for dead air, and the stream's title read (PlayerWatch.cpp).
    void ReadSilenceAlarm();
    void Watch();
    bool MusicShouldSound() const;
    void OnSilence(SilenceWatch::Action action);

    const Clock& clock_;
    std::array<MediaList, 2> lists_;
    std::array<int, 4> values_{};
    Options options_;
    std::array<QString, 2> modes_;
    Scheduler* scheduler_;
    DayPlanner* planner_;
    std::unique_ptr<Loudness::Library> loudness_;
    PlayLog playLog_;
    QTimer saveTimer_;
    std::optional<Scheduler::MessagePlay> lastMessage_;
    bool playLogFailed_ = false;  // warned of once, until a line is written again
    bool shuttingDown_ = false;
    QMap<QString, Language::Text> viewProblems_;
    SilenceWatch silence_;
    QString streamTitle_;
    QString musicRoot_;  // the music folder; the dayparts' folders are in it
    QString daypart_;
    QSet<QString> emptyDayparts_;  // warned of, until they have music
    Shuffle shuffle_;
    // Music files' artists from their tags, by path; read in the background while shuffled.
    QHash<QByteArray, QString> artists_;
    QThreadPool artistReader_;  // of one thread: a large folder takes long, and others wait not
    bool readingArtists_ = false;
    bool artistsAgain_ = false;
    std::shared_ptr<std::atomic<bool>> stopReading_ = std::make_shared<std::atomic<bool>>(false);
};
