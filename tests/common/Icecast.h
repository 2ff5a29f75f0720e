#pragma once

#include <QProcess>
#include <QString>
#include <QTcpServer>
#include <QTemporaryDir>
#include <map>
#include <memory>

// An Icecast server of the test's own on 127.0.0.1, at a free port, in a temporary folder that
// goes with it. Its stations are fed by gst-launch-1.0: a sine tone a mount, sent as 128 kbit/s
// MP3 through shout2send, as a real station would. Every process it starts ends with it.
class IcecastServer {
public:
    IcecastServer();
    ~IcecastServer();
    IcecastServer(const IcecastServer&) = delete;
    IcecastServer& operator=(const IcecastServer&) = delete;

    // Starts the server and returns once it answers; false, with a warning that says why, when
    // there is no icecast2 program or it never listened.
    bool Start();
    quint16 Port() const { return port_; }
    // http://127.0.0.1:<port>/<mount>; `mount` with or without its leading slash.
    QString Url(const QString& mount) const;

    // Starts a station on `mount`, in place of the one there, and returns once a listener hears
    // it; false, with a warning, when it is not on the air within seconds. The tone decodes about
    // 0.45 dB below `amplitude`: the MP3 encoder's doing.
    bool Feed(const QString& mount, int toneHz, double amplitude = 0.5);
    // Kills the station on `mount` outright, as one that crashes or loses its line: the server
    // notices and ends its listeners' connections.
    void StopFeed(const QString& mount);
    // What the station on `mount` says it plays, as its listeners are told in the stream.
    bool SetTitle(const QString& mount, const QString& title);

private:
    bool Launch(const QString& program, quint16 port);
    QString LogOf(const QString& name) const;

    QTemporaryDir dir_;
    QProcess server_;
    std::map<QString, std::unique_ptr<QProcess>> feeders_;  // by mount, without its slash
    QString password_;
    quint16 port_ = 0;
};

// A server on 127.0.0.1 that accepts connections, holds them open and never answers: a station
// that hangs before its first byte. Listens from the start, on the event loop of the thread that
// made it.
class SilentServer {
public:
    SilentServer();
    SilentServer(const SilentServer&) = delete;
    SilentServer& operator=(const SilentServer&) = delete;

    quint16 Port() const { return server_.serverPort(); }
    // The connections accepted so far, so a test can tell a client came and is kept waiting.
    int Connections() const { return connections_; }

private:
    QTcpServer server_;  // owns the sockets it accepted
    int connections_ = 0;
};
