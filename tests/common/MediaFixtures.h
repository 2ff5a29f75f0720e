#pragma once

#include <QString>

// Short media files made on the spot for tests, benchmarks and demo folders.
namespace MediaFixtures {

// A sine tone of `milliseconds` at `frequency` Hz, stereo 44.1 kHz. False when the encoder fails.
bool MakeWav(const QString& path, int milliseconds, double frequency = 440.0);
bool MakeMp3(const QString& path, int milliseconds, double frequency = 440.0);

// A General MIDI file of one track: `notes` are MIDI note numbers, each held `noteMs` long, played
// on `program` (0 = acoustic grand piano).
bool MakeMidi(const QString& path, const QList<int>& notes, int noteMs = 250, int program = 0);

// A file with the given bytes, for "media" that is not media.
bool MakeFile(const QString& path, const QByteArray& bytes);

}  // namespace MediaFixtures
