#include "audio/Mod_MCI.h"

#include <QFile>
#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "platform/files.h"
#include "platform/mci/mci.h"

namespace Mod_MCI {

namespace {

using Platform::Mci::MciError;

constexpr std::size_t kOpenField = 255;
constexpr std::size_t kCommandField = 128;
constexpr unsigned kReplyLength = 128;
constexpr unsigned kErrorLength = 128;
// The window style an opened device is given: a child of its parent window.
constexpr qint64 kChildWindowStyle = 0x40000000;

using ReplyBuffer = std::array<char, kReplyLength>;

std::string Bytes(const QString& text) {
    return text.toStdString();
}

// Commands assembled in a fixed field go out padded with blanks to the field's length. A longer
// command is sent whole: cutting it would name another file or drop its alias.
std::string InField(std::string command, std::size_t field) {
    if (command.size() < field) {
        command.append(field - command.size(), ' ');
    }
    return command;
}

MciError Send(const std::string& command) {
    return Platform::Mci::mciSendString(command, nullptr, 0, 0);
}

MciError Query(const std::string& command, ReplyBuffer& reply) {
    reply.fill('\0');
    return Platform::Mci::mciSendString(command, reply.data(), kReplyLength, 0);
}

QString Outcome(MciError code) {
    if (code == Platform::Mci::kNoError) {
        return QStringLiteral("Success");
    }
    std::array<char, kErrorLength> text{};
    Platform::Mci::mciGetErrorString(code, text.data(), kErrorLength);
    return QString::fromLocal8Bit(text.data());
}

bool IsOneSide(const QString& side) {
    const QString lower = side.toLower();
    return lower == u"left" || lower == u"right";
}

// A file name goes into the open command quoted when it holds a blank. A quote or a control
// character cannot be carried safely at all.
bool IsSafeFileName(const QByteArray& name) {
    return std::none_of(name.begin(), name.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return c == '"' || u < 0x20 || u == 0x7f;
    });
}

QByteArray QuotedIfBlank(const QByteArray& name) {
    return name.contains(' ') || name.contains('\t') ? '"' + name + '"' : name;
}

}  // namespace

qint32 ReplyToNumber(const char* reply, double divisor) {
    // Read in the C convention whatever the user's locale, after blanks and a plus sign.
    const char* first = reply;
    while (*first == ' ' || *first == '\t') {
        ++first;
    }
    first += *first == '+' ? 1 : 0;
    double value = 0.0;
    if (std::from_chars(first, first + std::strlen(first), value).ec != std::errc() ||
        !std::isfinite(value)) {
        value = 0.0;
    }
    // nearbyint rounds half to even in the default rounding mode.
    const double rounded = std::nearbyint(value / divisor);
    constexpr double kLow = std::numeric_limits<qint32>::min();
    constexpr double kHigh = std::numeric_limits<qint32>::max();
    return static_cast<qint32>(std::clamp(rounded, kLow, kHigh));
}

QString MciOpen(qint32 parentWindow, const QString& alias, const QString& fileName,
                const QString& deviceType) {
    return MciOpen(parentWindow, alias, QFile::encodeName(fileName), deviceType);
}

QString MciOpen(qint32 parentWindow, const QString& alias, const QByteArray& fileName,
                const QString& deviceType) {
    const QByteArray shortName = Platform::Files::ShortPathName(fileName);
    if (!IsSafeFileName(shortName)) {
        return Outcome(Platform::Mci::kErrUnsafeFileName);
    }
    const std::string command =
        "open " + QuotedIfBlank(shortName).toStdString() +
        Bytes(QStringLiteral(" type ") + deviceType + QStringLiteral(" Alias ") + alias +
              QStringLiteral(" parent ") + QString::number(parentWindow) +
              QStringLiteral(" Style ") + QString::number(kChildWindowStyle));
    return Outcome(Send(InField(command, kOpenField)));
}

QString MciPlay(const QString& alias, const QString& from, const QString& to) {
    const QString start = from.isEmpty() ? QStringLiteral("0") : from;
    const QString end = to.isEmpty() ? QString::number(MciGetLength(alias)) : to;
    const QString command = QStringLiteral("play ") + alias + QStringLiteral(" from ") + start +
                            QStringLiteral(" to ") + end;
    return Outcome(Send(InField(Bytes(command), kCommandField)));
}

QString MciClose(const QString& alias) {
    return Outcome(Send(Bytes(QStringLiteral("Close ") + alias)));
}

QString MciCloseAll() {
    return Outcome(Send("Close All"));
}

QString MciGetMode(const QString& alias) {
    ReplyBuffer reply;
    if (Query(Bytes(QStringLiteral("status ") + alias + QStringLiteral(" mode")), reply) !=
        Platform::Mci::kNoError) {
        return QStringLiteral("ERROR");
    }
    return QString::fromLocal8Bit(reply.data());
}

namespace {

// A length or position in frames; -1 when the device cannot tell.
qint32 FramesOf(const QString& alias, const QString& item) {
    ReplyBuffer reply;
    Query(Bytes(QStringLiteral("set ") + alias + QStringLiteral(" time format frames")), reply);
    if (Query(Bytes(QStringLiteral("status ") + alias + u' ' + item), reply) !=
        Platform::Mci::kNoError) {
        return -1;
    }
    return ReplyToNumber(reply.data());
}

}  // namespace

qint32 MciGetLength(const QString& alias) {
    return FramesOf(alias, QStringLiteral("length"));
}

qint32 MciGetPosition(const QString& alias) {
    return FramesOf(alias, QStringLiteral("position"));
}

QString MciPause(const QString& alias) {
    return Outcome(Send(Bytes(QStringLiteral("pause ") + alias)));
}

QString MciResume(const QString& alias) {
    return Outcome(Send(Bytes(QStringLiteral("resume ") + alias)));
}

bool MciFailed(const QString& alias) {
    ReplyBuffer reply;
    return Query(Bytes(QStringLiteral("status ") + alias + QStringLiteral(" ready")), reply) ==
               Platform::Mci::kNoError &&
           std::string_view(reply.data()) == "false";
}

QString MciSetVolume(const QString& alias, const QString& side, qint32 volume) {
    if (volume < 0 || volume > 100) {
        return QStringLiteral("out of volume");
    }
    const QString level = QString::number(volume * 10);
    const QString command = IsOneSide(side) ? QStringLiteral("setaudio ") + alias + u' ' + side +
                                                  QStringLiteral(" Volume to ") + level
                                            : QStringLiteral("setaudio ") + alias +
                                                  QStringLiteral(" Volume to ") + level;
    return Outcome(Send(InField(Bytes(command), kCommandField)));
}

QString MciCue(const QString& alias, const QString& after, int overlapMs) {
    QString command = QStringLiteral("cue ") + alias + QStringLiteral(" after ") + after;
    if (overlapMs > 0) {
        command += QStringLiteral(" overlap ") + QString::number(overlapMs);
    }
    return Outcome(Send(Bytes(command)));
}

namespace {

MciNotice NoticeOf(Platform::Mci::Notice notice) {
    switch (notice) {
        case Platform::Mci::Notice::Advanced:
            return MciNotice::Advanced;
        case Platform::Mci::Notice::Crossfading:
            return MciNotice::Crossfading;
        case Platform::Mci::Notice::Crossfaded:
            return MciNotice::Crossfaded;
        case Platform::Mci::Notice::Ended:
        case Platform::Mci::Notice::Failed:
            break;
    }
    return MciNotice::Stopped;
}

}  // namespace

void MciSetNotify(std::function<void(const QString& alias, MciNotice notice)> handler) {
    if (!handler) {
        Platform::Mci::SetNoticeHandler({});
        return;
    }
    Platform::Mci::SetNoticeHandler(
        [handler = std::move(handler)](const std::string& alias, Platform::Mci::Notice notice) {
            handler(QString::fromStdString(alias), NoticeOf(notice));
        });
}

qint32 MciGetVolume(const QString& alias, const QString& side) {
    const QString command =
        IsOneSide(side)
            ? QStringLiteral("status ") + alias + u' ' + side + QStringLiteral(" Volume")
            : QStringLiteral("status ") + alias + QStringLiteral(" Volume");
    ReplyBuffer reply;
    if (Query(InField(Bytes(command), kCommandField), reply) != Platform::Mci::kNoError) {
        return -1;
    }
    return ReplyToNumber(reply.data(), 10.0);
}

}  // namespace Mod_MCI
