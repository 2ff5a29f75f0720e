#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// What a media file says about itself, read from its tags; what it does not say stays empty.
namespace Platform::Tags {

struct Tags {
    QString title;
    QStringList artists;
    qint64 durationUs = -1;  // -1 when not known
};

// Reads the tags of the file at `path` (file-system bytes). Blocks for as long as the file takes
// to open, at most a few seconds: call it away from the event loop.
Tags Read(const QByteArray& path);

}  // namespace Platform::Tags
