// Writes two short General MIDI tunes of our own into a folder, as demo music for a first run.

#include <QCoreApplication>
#include <QDir>
#include <QList>
#include <cstdio>

#include "MediaFixtures.h"

namespace {

// Repeats a phrase so that a tune lasts long enough to hear the fades around a message.
QList<int> Repeat(const QList<int>& phrase, int times) {
    QList<int> notes;
    for (int i = 0; i < times; ++i) {
        notes += phrase;
    }
    return notes;
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_demo_media <music folder>\n");
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    const QList<int> morning = {60, 64, 67, 72, 67, 64, 62, 65, 69, 74, 69, 65,
                                64, 67, 71, 76, 71, 67, 65, 64, 62, 60, 62, 64};
    const QList<int> evening = {57, 60, 64, 69, 64, 60, 55, 59, 62, 67, 62, 59,
                                53, 57, 60, 65, 60, 57, 52, 56, 59, 64, 59, 56};
    const bool ok = MediaFixtures::MakeMidi(folder.filePath(QStringLiteral("Morning Walk.mid")),
                                            Repeat(morning, 4), 300, 0) &&
                    MediaFixtures::MakeMidi(folder.filePath(QStringLiteral("Evening Light.mid")),
                                            Repeat(evening, 4), 320, 4);
    if (!ok) {
        std::fprintf(stderr, "make_demo_media: could not write the tunes into %s\n", argv[1]);
        return 1;
    }
    return 0;
}
