// Plays media files through the channel layer and the media control interface, the way the console
// starts a file: close, open, volume, play, then poll the mode until the file has ended.
//
//   mci_play [--volume 0..100] [--sink "<GStreamer sink description>"] FILE...
//
// Without --sink the sound goes to autoaudiosink. To keep a copy, for instance:
//   mci_play --sink "audioconvert ! wavenc ! filesink location=out.wav" song.mp3

#include <gst/gst.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QStringList>
#include <QThread>
#include <cstdio>

#include "audio/Mod_MCI.h"
#include "platform/mci/gstdevices.h"

namespace {

constexpr char kAlias[] = "ZEL0";
constexpr int kPollMs = 250;

void Say(const QString& text) {
    std::printf("%s\n", qPrintable(text));
    std::fflush(stdout);
}

int Usage() {
    Say("usage: mci_play [--volume 0..100] [--sink \"<sink description>\"] FILE...");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    gst_init(nullptr, nullptr);

    int volume = 100;
    QString sinkDescription;
    QStringList files;
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == u"--volume" && i + 1 < args.size()) {
            volume = args[++i].toInt();
        } else if (args[i] == u"--sink" && i + 1 < args.size()) {
            sinkDescription = args[++i];
        } else if (args[i].startsWith(u"--")) {
            return Usage();
        } else {
            files << args[i];
        }
    }
    if (files.isEmpty()) {
        return Usage();
    }

    Platform::Mci::GstDevices::SinkFactory sink;
    if (!sinkDescription.isEmpty()) {
        const QByteArray description = sinkDescription.toUtf8();
        sink = [description] {
            GError* error = nullptr;
            GstElement* bin = gst_parse_bin_from_description(description.constData(), TRUE, &error);
            if (error != nullptr) {
                std::fprintf(stderr, "sink: %s\n", error->message);
                g_error_free(error);
            }
            return bin;
        };
    }
    Platform::Mci::SetService(std::make_unique<Platform::Mci::GstDevices>(sink));
    Say(QStringLiteral("sink: %1")
            .arg(sinkDescription.isEmpty() ? "autoaudiosink" : sinkDescription));

    int failures = 0;
    for (const QString& file : files) {
        const QString path = QFileInfo(file).absoluteFilePath();
        Say(QStringLiteral("MciClose(%1): %2").arg(kAlias, Mod_MCI::MciClose(kAlias)));
        const QString opened = Mod_MCI::MciOpen(0, kAlias, path, "MPEGVideo");
        Say(QStringLiteral("MciOpen(%1, %2): %3").arg(kAlias, path, opened));
        Say(QStringLiteral("MciSetVolume(%1, Both, %2): %3")
                .arg(kAlias)
                .arg(volume)
                .arg(Mod_MCI::MciSetVolume(kAlias, "Both", volume)));
        const qint32 frames = Mod_MCI::MciGetLength(kAlias);
        Say(QStringLiteral("MciGetLength(%1): %2 frames (%3 s)")
                .arg(kAlias)
                .arg(frames)
                .arg(frames * 0.04, 0, 'f', 1));
        const QString played = Mod_MCI::MciPlay(kAlias, "", "");
        Say(QStringLiteral("MciPlay(%1, \"\", \"\"): %2").arg(kAlias, played));
        if (opened != u"Success" || played != u"Success") {
            ++failures;
            continue;
        }

        QElapsedTimer clock;
        clock.start();
        QString mode = Mod_MCI::MciGetMode(kAlias);
        Say(QStringLiteral("MciGetMode(%1): %2").arg(kAlias, mode));
        while (mode == u"playing") {
            QThread::msleep(kPollMs);
            mode = Mod_MCI::MciGetMode(kAlias);
        }
        Say(QStringLiteral("MciGetMode(%1): %2 after %3 s")
                .arg(kAlias, mode)
                .arg(static_cast<double>(clock.elapsed()) / 1000.0, 0, 'f', 2));
    }
    Say(QStringLiteral("MciClose(%1): %2").arg(kAlias, Mod_MCI::MciClose(kAlias)));
    Say(QStringLiteral("MciCloseAll: %1").arg(Mod_MCI::MciCloseAll()));
    Platform::Mci::SetService(nullptr);
    return failures == 0 ? 0 : 1;
}
