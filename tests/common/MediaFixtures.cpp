#include "MediaFixtures.h"

#include <QFile>
#include <QHash>
#include <QProcess>
#include <algorithm>
#include <cmath>

namespace MediaFixtures {

namespace {

// Waits at most `limit` for the pipeline to finish, so a broken encoder never hangs a test.
bool RunPipeline(const QString& description, GstClockTime limit) {
    gst_init(nullptr, nullptr);  // nothing once done
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(description.toUtf8().constData(), &error);
    if (pipeline == nullptr || error != nullptr) {
        g_clear_error(&error);
        gst_clear_object(&pipeline);
        return false;
    }
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* message = gst_bus_timed_pop_filtered(
        bus, limit, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    const bool ok = message != nullptr && GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS;
    gst_clear_message(&message);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(bus);
    gst_object_unref(pipeline);
    return ok;
}

QString ToneSource(int milliseconds, double frequency, double amplitude = 0.5) {
    // 1024 samples a buffer at 44.1 kHz; round up so the file is at least as long as asked.
    // In 64 bits: an hour of samples does not fit the product in an int.
    const qint64 buffers = (qint64{milliseconds} * 44100 / 1000 + 1023) / 1024;
    return QStringLiteral(
               "audiotestsrc wave=sine freq=%1 volume=%3 num-buffers=%2 samplesperbuffer=1024 ! "
               "audio/x-raw,rate=44100,channels=2 ! audioconvert ! ")
        .arg(frequency)
        .arg(buffers)
        .arg(amplitude);
}

// A minute, and more for long files: encoding runs far faster than real time, but not unboundedly.
GstClockTime EncodingLimit(int milliseconds) {
    return 60 * GST_SECOND + static_cast<GstClockTime>(std::max(milliseconds, 0)) * GST_MSECOND / 4;
}

QString Quoted(const QString& path) {
    QString escaped = path;
    escaped.replace(u'\\', QStringLiteral("\\\\")).replace(u'"', QStringLiteral("\\\""));
    return u'"' + escaped + u'"';
}

void AppendVarLen(QByteArray& out, quint32 value) {
    QByteArray bytes;
    bytes.prepend(static_cast<char>(value & 0x7F));
    while ((value >>= 7) != 0) {
        bytes.prepend(static_cast<char>((value & 0x7F) | 0x80));
    }
    out += bytes;
}

void AppendBigEndian(QByteArray& out, quint32 value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) {
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

void AppendLittleEndian(QByteArray& out, quint32 value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

}  // namespace

bool MakeWav(const QString& path, int milliseconds, double frequency, double amplitude) {
    return RunPipeline(ToneSource(milliseconds, frequency, amplitude) +
                           QStringLiteral("wavenc ! filesink location=") + Quoted(path),
                       EncodingLimit(milliseconds));
}

bool MakePadded(const QString& path, int leadMs, int toneMs, int tailMs, double frequency,
                double amplitude) {
    constexpr int kRate = 44100;
    const auto frames = [](int ms) { return static_cast<qint64>(ms) * kRate / 1000; };
    const qint64 lead = frames(leadMs), tone = frames(toneMs), total = lead + tone + frames(tailMs);
    QByteArray data;
    for (qint64 i = 0; i < total; ++i) {
        const bool inTone = i >= lead && i < lead + tone;
        const double x =
            inTone ? amplitude * std::sin(2 * M_PI * frequency * double(i - lead) / kRate) : 0.0;
        const auto sample = static_cast<qint16>(std::lround(x * 32767));
        for (int channel = 0; channel < 2; ++channel) {
            AppendLittleEndian(data, static_cast<quint16>(sample), 2);
        }
    }
    QByteArray wav = "RIFF";
    AppendLittleEndian(wav, static_cast<quint32>(36 + data.size()), 4);
    wav += "WAVEfmt ";
    for (const auto& [value, bytes] : {std::pair<quint32, int>{16, 4},
                                       {1, 2},
                                       {2, 2},
                                       {kRate, 4},
                                       {kRate * 4, 4},
                                       {4, 2},
                                       {16, 2}}) {
        AppendLittleEndian(wav, value, bytes);
    }
    wav += "data";
    AppendLittleEndian(wav, static_cast<quint32>(data.size()), 4);
    return MakeFile(path, wav + data);
}

// Encoded by the lame tool, as most MP3 files are: its header holds the encoder delay and the
// padding, so a decoder gives back exactly the samples that went in.
bool MakeMp3(const QString& path, int milliseconds, double frequency, double amplitude) {
    const QString wav = path + QStringLiteral(".wav");
    if (!MakeWav(wav, milliseconds, frequency, amplitude)) {
        return false;
    }
    QProcess lame;
    lame.start(QStringLiteral("lame"), {"--quiet", "-b", "128", wav, path});
    const bool encoded =
        lame.waitForFinished(static_cast<int>(EncodingLimit(milliseconds) / GST_MSECOND)) &&
        lame.exitStatus() == QProcess::NormalExit && lame.exitCode() == 0;
    QFile::remove(wav);
    return encoded;
}

bool MakeEncoded(const QString& path, int milliseconds, double frequency, double amplitude,
                 const QString& tags) {
    const QHash<QString, QString> encoders = {
        {"mp3", "lamemp3enc target=bitrate bitrate=128 cbr=true ! id3v2mux"},
        {"flac", "flacenc"},
        {"ogg", "vorbisenc ! oggmux"},
        {"opus", "audioresample ! opusenc ! oggmux"},
        {"m4a", "voaacenc ! mp4mux"},
        {"aac", "voaacenc ! audio/mpeg,stream-format=adts"},
    };
    const QString encoder = encoders.value(path.section(u'.', -1).toLower());
    if (encoder.isEmpty()) {
        return false;
    }
    QString escaped = tags;
    escaped.replace(u'"', QStringLiteral("\\\""));
    return RunPipeline(
        ToneSource(milliseconds, frequency, amplitude) +
            (tags.isEmpty() ? QString() : QStringLiteral("taginject tags=\"%1\" ! ").arg(escaped)) +
            encoder + QStringLiteral(" ! filesink location=") + Quoted(path),
        EncodingLimit(milliseconds));
}

GstElement* MakeSampleSink(GstElement*& samples) {
    GstElement* bin = gst_parse_bin_from_description(
        "audioconvert ! audioresample ! "
        "audio/x-raw,format=F32LE,layout=interleaved,channels=2,rate=44100 ! "
        "appsink name=samples sync=false wait-on-eos=false",
        TRUE, nullptr);
    samples = gst_bin_get_by_name(GST_BIN(bin), "samples");
    return bin;
}

bool MakeMidi(const QString& path, const QList<int>& notes, int noteMs, int program) {
    constexpr quint32 kTicksPerQuarter = 480;
    constexpr quint32 kMicrosPerQuarter = 500'000;  // 120 beats a minute
    const auto ticks = static_cast<quint32>(static_cast<qint64>(noteMs) * 1000 * kTicksPerQuarter /
                                            kMicrosPerQuarter);

    QByteArray track;
    AppendVarLen(track, 0);
    track += QByteArray::fromHex("ff5103");
    AppendBigEndian(track, kMicrosPerQuarter, 3);
    AppendVarLen(track, 0);
    track += static_cast<char>(0xC0);
    track += static_cast<char>(program & 0x7F);
    for (const int note : notes) {
        AppendVarLen(track, 0);
        track += static_cast<char>(0x90);
        track += static_cast<char>(note & 0x7F);
        track += static_cast<char>(100);
        AppendVarLen(track, ticks);
        track += static_cast<char>(0x80);
        track += static_cast<char>(note & 0x7F);
        track += static_cast<char>(0);
    }
    AppendVarLen(track, 0);
    track += QByteArray::fromHex("ff2f00");

    QByteArray file = "MThd";
    AppendBigEndian(file, 6, 4);
    AppendBigEndian(file, 0, 2);  // format 0: one track
    AppendBigEndian(file, 1, 2);
    AppendBigEndian(file, kTicksPerQuarter, 2);
    file += "MTrk";
    AppendBigEndian(file, static_cast<quint32>(track.size()), 4);
    file += track;
    return MakeFile(path, file);
}

QList<double> ToneLevels(const std::vector<float>& samples, double hz, std::size_t stride) {
    constexpr std::size_t kWindow = 441;
    QList<double> levels;
    for (std::size_t start = 0; (start + kWindow) * stride <= samples.size(); start += kWindow) {
        double re = 0, im = 0, weights = 0;
        for (std::size_t i = 0; i < kWindow; ++i) {
            const double weight = 0.5 - 0.5 * std::cos(2 * M_PI * double(i) / (kWindow - 1));
            const double phase = 2 * M_PI * hz * double(i) / 44100;
            const double x = samples[(start + i) * stride];
            re += weight * x * std::cos(phase);
            im += weight * x * std::sin(phase);
            weights += weight;
        }
        levels.append(2 * std::hypot(re, im) / weights);
    }
    return levels;
}

bool MakeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace MediaFixtures
