#include <QLoggingCategory>

#include "platform/mci/mci.h"
#include "player/Player.h"
#include "settings/Mod_INI.h"

// What the player watches at every tick beyond the core: an output that has gone quiet while
// music should be heard, and the title a stream says it plays.

namespace {

Q_LOGGING_CATEGORY(lcSilence, "corvane.silence")

const QString kSilenceView = QStringLiteral("silence");

}  // namespace

void Player::ReadSilenceAlarm() {
    bool isNumber = false;
    const int seconds = Mod_INI::GetIniValue(QString(), QString::fromLatin1(kSilenceAlarmKey),
                                             QString::number(SilenceWatch::kDefaultSeconds),
                                             QString::fromLatin1(kOptionsSection))
                            .trimmed()
                            .toInt(&isNumber);
    options_.silenceAlarm =
        isNumber ? std::clamp(seconds, 0, kLongestSilenceAlarm) : SilenceWatch::kDefaultSeconds;
    Platform::Mci::MeasureQuiet(options_.silenceAlarm > 0);
}

void Player::Watch() {
    const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
    OnSilence(silence_.Step({.seconds = options_.silenceAlarm,
                             .expected = MusicShouldSound(),
                             .quiet = Platform::Mci::Quiet(),
                             .now = now}));
    const QByteArray music = Playing(kMusic);
    const QString title = music.isEmpty() ? QString()
                                          : QString::fromStdString(Platform::Mci::StreamTitle(
                                                Scheduler::ChannelAlias(kMusic).toStdString()));
    if (std::exchange(streamTitle_, title) != title) {
        emit PlayingChanged(kMusic);
    }
}

// Music plays and is meant to be heard: not paused nor closed, and at a level above 0. Under a
// message it is meant to be heard at its low level, or the message is.
bool Player::MusicShouldSound() const {
    if (Closed() || Paused() || shuttingDown_ || Playing(kMusic).isEmpty() ||
        modes_[kMusic] != u"playing") {
        return false;
    }
    if (scheduler_->MessageState() == Scheduler::Message::Idle) {
        return values_[kMusicHigh] > 0;
    }
    return values_[kMusicLow] > 0 ||
           (modes_[kMessages] == u"playing" && values_[kMessageVolume] > 0);
}

void Player::OnSilence(SilenceWatch::Action action) {
    using Action = SilenceWatch::Action;
    if (action == Action::None) {
        return;
    }
    if (action == Action::Clear) {
        qCInfo(lcSilence, "sound on the output again");
        SetProblem(kSilenceView, {});
        return;
    }
    const Language::Text problem(QT_TRANSLATE_NOOP("Problems", "silence on the output for %1 s"),
                                 {QString::number(options_.silenceAlarm)});
    if (action == Action::Raise) {
        qCWarning(lcSilence, "%s while %s plays: the next file plays",
                  qPrintable(problem.English()), Playing(kMusic).constData());
    }
    SetProblem(kSilenceView, problem);
    if (action == Action::Restart) {
        Platform::Mci::RestartOutput();
    } else {
        scheduler_->NextTrack();
    }
}
