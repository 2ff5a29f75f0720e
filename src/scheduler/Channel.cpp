#include "scheduler/Channel.h"

#include "audio/Mod_MCI.h"

namespace {

const QString kSuccess = QStringLiteral("Success");
// Any side but "left" and "right" addresses both loudspeakers.
const QString kBoth = QStringLiteral("both");
// Lengths and positions are read in frames, 25 to the second.
constexpr qint64 kMillisecondsPerFrame = 40;

QString ErrorOf(const QString& result) {
    return result == kSuccess ? QString() : result;
}

qint64 Milliseconds(qint32 frames) {
    return frames < 0 ? -1 : qint64{frames} * kMillisecondsPerFrame;
}

}  // namespace

Channel::Status Channel::Read() const {
    Status status{Mode::Error, Mod_MCI::MciGetMode(alias_)};
    if (status.word == u"playing") {
        status.mode = Mode::Playing;
    } else if (status.word == u"paused") {
        status.mode = Mode::Paused;
    } else if (status.word == u"stopped") {
        status.mode = Mode::Stopped;
    }
    return status;
}

bool Channel::Holds() const {
    const Mode mode = GetMode();
    return mode == Mode::Playing || mode == Mode::Paused;
}

int Channel::Volume() const {
    return Mod_MCI::MciGetVolume(alias_, kBoth);
}

void Channel::SetVolume(int level) const {
    Mod_MCI::MciSetVolume(alias_, kBoth, level);
}

QString Channel::Open(qint32 parentWindow, const QByteArray& path) const {
    Mod_MCI::MciClose(alias_);
    return ErrorOf(Mod_MCI::MciOpen(parentWindow, alias_, path, QStringLiteral("MPEGVideo")));
}

QString Channel::Play() const {
    return ErrorOf(Mod_MCI::MciPlay(alias_, QString(), QString()));
}

void Channel::Close() const {
    Mod_MCI::MciClose(alias_);
}

void Channel::Pause() const {
    Mod_MCI::MciPause(alias_);
}

void Channel::Resume() const {
    Mod_MCI::MciResume(alias_);
}

bool Channel::Failed() const {
    return Mod_MCI::MciFailed(alias_);
}

qint64 Channel::LengthMs() const {
    return Milliseconds(Mod_MCI::MciGetLength(alias_));
}

qint64 Channel::PositionMs() const {
    return Milliseconds(Mod_MCI::MciGetPosition(alias_));
}

bool Channel::Follow(const Channel& leader, int overlapMs) const {
    return Mod_MCI::MciCue(alias_, leader.alias_, overlapMs) == kSuccess;
}
