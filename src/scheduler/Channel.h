#pragma once

#include <QString>

// One alias of the media layer as the playback core sees it: the layer's words (the mode, the
// result of a command) read once into types, its frames turned into milliseconds.
class Channel {
public:
    enum class Mode { Playing, Paused, Stopped, Error };
    struct Status {
        Mode mode = Mode::Error;
        QString word;  // as the layer gave it, for the views; "ERROR" when the query failed
    };

    explicit Channel(QString alias) : alias_(std::move(alias)) {}
    const QString& Alias() const { return alias_; }

    Status Read() const;
    Mode GetMode() const { return Read().mode; }
    bool Playing() const { return GetMode() == Mode::Playing; }
    // The mode a file is in while it is the channel's, whether it sounds or is held.
    bool Holds() const;
    // 0..100; -1 when it cannot be read.
    int Volume() const;
    void SetVolume(int level) const;
    // Closes what is open and opens `path`. Empty when it opened; else why not.
    QString Open(qint32 parentWindow, const QByteArray& path) const;
    // Plays the open file from its start. Empty when it plays; else why not.
    QString Play() const;
    void Close() const;
    void Pause() const;
    void Resume() const;
    bool Failed() const;
    // The file's length and how far it has played, in milliseconds; -1 when they cannot be told.
    qint64 LengthMs() const;
    qint64 PositionMs() const;
    // Has the file open on this channel follow the one playing on `leader`, overlapping it for
    // `overlapMs`. True when it will.
    bool Follow(const Channel& leader, int overlapMs) const;

private:
    QString alias_;
};
