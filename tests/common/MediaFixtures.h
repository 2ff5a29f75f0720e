#pragma once

#include <gst/gst.h>

#include <QList>
#include <QString>
#include <vector>

// Short media files made on the spot for tests, benchmarks and demo folders.
namespace MediaFixtures {

// A sine tone of `milliseconds` at `frequency` Hz, stereo 44.1 kHz, with its peaks at `amplitude`
// of full scale. False when the encoder fails. A 1 kHz tone in both channels measures as loud in
// LUFS as its peak level in dBFS.
bool MakeWav(const QString& path, int milliseconds, double frequency = 440.0,
             double amplitude = 0.5);
bool MakeMp3(const QString& path, int milliseconds, double frequency = 440.0,
             double amplitude = 0.5);
// A 16-bit wave file: `leadMs` of digital silence, the tone, then `tailMs` of silence.
bool MakePadded(const QString& path, int leadMs, int toneMs, int tailMs, double frequency = 1000.0,
                double amplitude = 0.5);
// The same tone in the format its extension names (.mp3, .flac, .ogg, .opus, .m4a, .aac), with
// `tags` (a tag list such as "replaygain-track-gain=(double)-5") written by the format's own
// means, when it has any.
bool MakeEncoded(const QString& path, int milliseconds, double frequency, double amplitude,
                 const QString& tags = {});

// A General MIDI file of one track: `notes` are MIDI note numbers, each held `noteMs` long, played
// on `program` (0 = acoustic grand piano).
bool MakeMidi(const QString& path, const QList<int>& notes, int noteMs = 250, int program = 0);

// A sink for a media device that keeps every sample it plays, as 44.1 kHz stereo floats, in the
// appsink it names in `samples` (a reference of the caller's to drop).
GstElement* MakeSampleSink(GstElement*& samples);

// The level of a `hz` tone in each 10 ms window (Hann) of 44.1 kHz samples, taking every
// `stride`-th one (2: the left channel of stereo). Tones on multiples of 100 Hz do not leak into
// each other's windows.
QList<double> ToneLevels(const std::vector<float>& samples, double hz, std::size_t stride = 1);

// A file with the given bytes, for "media" that is not media.
bool MakeFile(const QString& path, const QByteArray& bytes);
// A file's bytes; empty when it cannot be read.
QByteArray ReadFile(const QString& path);

}  // namespace MediaFixtures
