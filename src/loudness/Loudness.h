#pragma once

#include <QByteArray>
#include <QLoggingCategory>
#include <atomic>
#include <optional>

// Even loudness: each file's integrated loudness and true peak (EBU R128), and the gain that
// brings it to a common target without its peaks reaching full scale.
namespace Loudness {

// Warnings by default; each measurement with QT_LOGGING_RULES="corvane.loudness.info=true".
Q_DECLARE_LOGGING_CATEGORY(lcLoudness)

enum class Source {
    Analysis,      // decoded whole and measured
    Tags,          // its ReplayGain tags, relative to the target
    Unmeasurable,  // cannot be decoded: plays at its own level
};

struct Measurement {
    double integratedLufs = 0.0;  // below kSilenceLufs for a file with nothing audible
    double truePeakDbtp = 0.0;
    Source source = Source::Analysis;
    // Where its sound starts and ends, past digital silence at either end, when it was decoded
    // for that; an end of -1: nothing in it rises above the silence.
    bool bounded = false;
    qint64 soundStartNs = 0;
    qint64 soundEndNs = -1;
};

constexpr double kSilenceDbfs = -60.0;  // what counts as digital silence at a file's ends

constexpr double kTargetLufs = -18.0;  // ReplayGain 2's reference level too
constexpr double kPeakCeilingDbtp = -1.0;
constexpr double kMaxGainDb = 20.0;     // no more for a near-silent file
constexpr double kSilenceLufs = -70.0;  // EBU R128's absolute gate

// The gain in dB that brings a file to the target, limited so that its true peak stays at or below
// the ceiling; 0 for a file with nothing to go by.
double GainDb(const Measurement& measurement);
double GainFactor(const Measurement& measurement);

// Measures a file, from its ReplayGain tags when it carries them, else by decoding it whole, as a
// stereo output would play it; with `bounds`, it is decoded whole for where its sound starts and
// ends in any case. Nothing when `stop` was set before the end, or when the decoder
// made no progress for a long while (the file is worth another try later).
std::optional<Measurement> Measure(const QByteArray& path, const std::atomic<bool>& stop,
                                   bool bounds = false);

}  // namespace Loudness
