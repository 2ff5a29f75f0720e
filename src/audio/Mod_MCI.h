#pragma once

#include <QString>
#include <functional>

// The audio channels: every media device is opened, played, queried, set and closed here, by alias,
// through media command strings. The layer keeps no state; the media service keeps the devices.
namespace Mod_MCI {

QString MciOpen(qint32 parentWindow, const QString& alias, const QString& fileName,
                const QString& deviceType);
// The same for a file name in the bytes the file system knows it by, whatever their encoding.
QString MciOpen(qint32 parentWindow, const QString& alias, const QByteArray& fileName,
                const QString& deviceType);
QString MciPlay(const QString& alias, const QString& from, const QString& to);
QString MciClose(const QString& alias);
QString MciCloseAll();
QString MciGetMode(const QString& alias);
qint32 MciGetLength(const QString& alias);
// Where the file plays now, in frames; -1 when it cannot be told.
qint32 MciGetPosition(const QString& alias);
// Holds a playing device where it is; resuming carries on from there.
QString MciPause(const QString& alias);
QString MciResume(const QString& alias);
// True when the device says it has failed (its file broke off, its sound output went away).
bool MciFailed(const QString& alias);
QString MciSetVolume(const QString& alias, const QString& side, qint32 volume);
qint32 MciGetVolume(const QString& alias, const QString& side);

// Has the device open under `alias` start at the sample where the file playing on `after` ends,
// and take over that alias and its volume there; with an overlap, the two crossfade for that
// long, and the alias passes over as the crossfade begins.
QString MciCue(const QString& alias, const QString& after, int overlapMs = 0);

// What a device tells without being asked: it stopped by itself (it played to its end, or it
// failed), the device cued after it took over its alias, at the sample where the other ended or
// as a crossfade into it began, and that crossfade is over.
enum class MciNotice { Stopped, Advanced, Crossfading, Crossfaded };
// Tells `handler`, from the event loop, the alias of a device and what happened to it. An empty
// handler tells no one.
void MciSetNotify(std::function<void(const QString& alias, MciNotice notice)> handler);

// Reads the number at the start of a reply (0 when there is none), rounded half to even and held
// in 32 bits.
qint32 ReplyToNumber(const char* reply, double divisor = 1.0);

}  // namespace Mod_MCI
