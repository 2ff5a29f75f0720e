// The fleet connection's costs, against a Mosquitto broker of its own on a free port:
//
//   bench_fleet outbox [N]   N plays (default 10000) queued while the broker is away; then the
//                            broker starts, and the time until the outbox is empty, whether a
//                            subscriber got them all in order, and the peak resident memory.
//   bench_fleet peer [N]     the same N lines sent by mosquitto_pub at QoS 1 once the broker is up:
//                            the library's own client, as the peer for the time.
//   bench_fleet idle [S]     a connected player doing nothing for S seconds (default 60): its CPU
//                            time, as seconds per hour, with an idle mosquitto_sub's beside it.
//
// Plays are as real as they get without sound: the player's own signal, from a scripted media
// service.

#include <sys/resource.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>

#include "FakeMci.h"
#include "fleet/Fleet.h"
#include "player/Player.h"
#include "support/ProgramLocation.h"

namespace {

quint16 FreePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long PeakKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// utime + stime of another process, in seconds.
double ProcessCpuSeconds(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) {
        return -1;
    }
    const QList<QByteArray> fields = stat.readAll().split(')').last().split(' ');
    return (fields.value(12).toDouble() + fields.value(13).toDouble()) / 100.0;  // USER_HZ
}

bool WaitFor(const std::function<bool()>& done, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

struct Broker {
    QTemporaryDir dir;
    quint16 port = FreePort();
    QProcess process;
    void Start() {
        QFile conf(dir.filePath("mosquitto.conf"));
        conf.open(QIODevice::WriteOnly);
        conf.write("listener " + QByteArray::number(port) + " 127.0.0.1\nallow_anonymous true\n" +
                   "user root\nmax_queued_messages 0\n");
        conf.close();
        process.start(QStringLiteral("mosquitto"), {QStringLiteral("-c"), conf.fileName()});
        WaitFor(
            [this] {
                QTcpSocket probe;
                probe.connectToHost(QHostAddress::LocalHost, port);
                return probe.waitForConnected(20);
            },
            5000);
    }
    ~Broker() {
        process.terminate();
        process.waitForFinished(3000);
    }
    // A subscriber that keeps what it gets in `file`, one line each; started once it is listening.
    void Subscribe(QProcess& sub, const QString& topic, const QString& file) {
        sub.setStandardOutputFile(file);
        sub.start(QStringLiteral("mosquitto_sub"),
                  {QStringLiteral("-p"), QString::number(port), QStringLiteral("-q"),
                   QStringLiteral("1"), QStringLiteral("-t"), topic});
        QTest::qWait(300);
    }
};

int Lines(const QString& file) {
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? static_cast<int>(f.readAll().count('\n')) : 0;
}

// A player with no sound, and its fleet connection.
struct Rig {
    FakeMciInstaller fake;
    SystemClock clock;
    Player player{clock};
    Fleet fleet{player};
    Rig() { player.Load(); }
    void Start(quint16 port) {
        fleet.Start({QStringLiteral("127.0.0.1"),
                     port,
                     {},
                     {},
                     false,
                     {},
                     QStringLiteral("corvane/bench/zone")});
    }
};

int SendOutbox(int plays) {
    Rig rig;
    Broker broker;
    rig.Start(broker.port);
    QElapsedTimer queued;
    queued.start();
    for (int i = 0; i < plays; ++i) {
        emit rig.player.MessageLogged({QDateTime::currentDateTime(),
                                       "Messages/m" + QByteArray::number(i) + ".mp3", 1000,
                                       Scheduler::Outcome::Played});
    }
    const double queueSeconds = static_cast<double>(queued.nsecsElapsed()) / 1e9;
    const long queuedKb = PeakKb();
    broker.Start();
    QProcess sub;
    const QString got = broker.dir.filePath("got");
    broker.Subscribe(sub, QStringLiteral("corvane/bench/zone/plays"), got);
    // The player tries again every 2 s; the time counts from its connection.
    WaitFor([&rig] { return rig.fleet.IsConnected(); }, 10'000);
    QElapsedTimer sent;
    sent.start();
    const bool empty = WaitFor([&rig] { return rig.fleet.Box()->Pending().empty(); }, 600'000);
    const double sendSeconds = static_cast<double>(sent.nsecsElapsed()) / 1e9;
    WaitFor([&] { return Lines(got) >= plays; }, 10'000);
    QFile file(got);
    file.open(QIODevice::ReadOnly);
    int inOrder = 0;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QString name = QJsonDocument::fromJson(line).object().value("file").toString();
        inOrder += name == QStringLiteral("m%1.mp3").arg(inOrder) ? 1 : 0;
    }
    std::printf(
        "outbox: %d plays queued in %.2f s (%.0f us each); sent in %.3f s once connected "
        "(%.0f a second); outbox %s; %d of %d received in order; peak RSS %ld kB "
        "(%ld kB when queued)\n",
        plays, queueSeconds, queueSeconds / plays * 1e6, sendSeconds, plays / sendSeconds,
        empty ? "empty" : "NOT EMPTY", inOrder, plays, PeakKb(), queuedKb);
    sub.terminate();
    sub.waitForFinished();
    return empty && inOrder == plays ? 0 : 1;
}

int Peer(int plays) {
    Broker broker;
    broker.Start();
    QProcess sub;
    const QString got = broker.dir.filePath("got");
    broker.Subscribe(sub, QStringLiteral("corvane/bench/zone/plays"), got);
    QByteArray lines;
    for (int i = 0; i < plays; ++i) {
        lines += R"({"id":")" + QByteArray::number(i) + R"(","file":"m)" + QByteArray::number(i) +
                 ".mp3\"}\n";
    }
    QElapsedTimer sent;
    sent.start();
    QProcess pub;
    pub.start(QStringLiteral("mosquitto_pub"),
              {QStringLiteral("-p"), QString::number(broker.port), QStringLiteral("-q"),
               QStringLiteral("1"), QStringLiteral("-t"),
               QStringLiteral("corvane/bench/zone/plays"), QStringLiteral("-l")});
    pub.write(lines);
    pub.closeWriteChannel();
    pub.waitForFinished(600'000);
    const double sendSeconds = static_cast<double>(sent.nsecsElapsed()) / 1e9;
    WaitFor([&] { return Lines(got) >= plays; }, 10'000);
    std::printf(
        "peer: mosquitto_pub sent %d lines at QoS 1 in %.3f s (%.0f a second); %d received\n",
        plays, sendSeconds, plays / sendSeconds, Lines(got));
    sub.terminate();
    sub.waitForFinished();
    return 0;
}

int Idle(int seconds) {
    Rig rig;
    Broker broker;
    broker.Start();
    QProcess sub;
    broker.Subscribe(sub, QStringLiteral("corvane/none"), QStringLiteral("/dev/null"));
    rig.Start(broker.port);
    WaitFor([&rig] { return rig.fleet.IsConnected(); }, 5000);
    QTest::qWait(500);
    const double before = CpuSeconds();
    const double peerBefore = ProcessCpuSeconds(sub.processId());
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    const double used = CpuSeconds() - before;
    const double peer = ProcessCpuSeconds(sub.processId()) - peerBefore;
    std::printf(
        "idle: a connected player used %.3f s of CPU in %d s: %.2f s an hour; an idle "
        "mosquitto_sub %.2f s an hour (its clock ticks are 10 ms)\n",
        used, seconds, used * 3600 / seconds, peer * 3600 / seconds);
    sub.terminate();
    sub.waitForFinished();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString mode = args.value(1);
    QTemporaryDir folder;
    ChooseProgramFolder(folder.path());
    QDir(folder.path()).mkpath(QStringLiteral("Music"));
    QDir(folder.path()).mkpath(QStringLiteral("Messages"));
    if (mode == u"outbox") {
        return SendOutbox(args.value(2, QStringLiteral("10000")).toInt());
    }
    if (mode == u"peer") {
        return Peer(args.value(2, QStringLiteral("10000")).toInt());
    }
    if (mode == u"idle") {
        return Idle(args.value(2, QStringLiteral("60")).toInt());
    }
    std::fprintf(stderr, "usage: bench_fleet outbox|peer [PLAYS] | idle [SECONDS]\n");
    return 2;
}
