// corvane-plays: the plays of every shop's player, collected from the broker into a database,
// and reports of them.
#include <QCoreApplication>
#include <QLocale>
#include <QSaveFile>
#include <QSocketNotifier>
#include <QTextStream>
#include <csignal>
#include <cstdio>

#include <sys/socket.h>
#include <unistd.h>

#include "plays/Collector.h"
#include "plays/CommandLine.h"
#include "plays/Report.h"
#include "support/Language.h"

namespace {

int signalPipe[2] = {-1, -1};

void OnSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

int UsageError(const QString& fault) {
    QTextStream(stderr) << "corvane-plays: " << fault << "\n\n" << CommandLine::Usage();
    return CommandLine::kUsageError;
}

int Fail(const QString& text) {
    QTextStream(stderr) << "corvane-plays: " << text << '\n';
    return CommandLine::kUnreachable;
}

// SIGTERM and SIGINT end the collection on the event loop, where the batch can be committed.
void EndOnSignals(Collector& collector) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) {
        return;
    }
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &collector);
    QObject::connect(notifier, &QSocketNotifier::activated, &collector, [&collector, notifier] {
        char byte = 0;
        [[maybe_unused]] const ssize_t got = ::read(signalPipe[0], &byte, 1);
        notifier->setEnabled(false);
        collector.Finish();
    });
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

int Collect(const CommandLine::Collect& options) {
    Collector collector(options.broker, options.topic, options.database);
    // Before the database is opened, so that a signal then is not the default's sudden end.
    EndOnSignals(collector);
    if (!collector.Start()) {
        return Fail(collector.Error());
    }
    int status = 0;
    QObject::connect(&collector, &Collector::Finished, qApp, [] { QCoreApplication::exit(0); });
    QObject::connect(&collector, &Collector::NeverConnected, qApp, [&](const QString& reason) {
        Fail(QStringLiteral("the broker cannot be reached: ") + reason);
        status = CommandLine::kUnreachable;
        QCoreApplication::exit(status);
    });
    const int loop = QCoreApplication::exec();
    return status != 0 ? status : loop;
}

int WriteReport(const CommandLine::Report& options) {
    PlaysDatabase database(options.database);
    if (!database.Open(false)) {
        return Fail(database.Error());
    }
    const auto counts = database.Report(options.by, options.from, options.to);
    if (!counts) {
        return Fail(database.Error());
    }
    const QByteArray text = options.html
                                ? Report::Html({options.by, options.from, options.to}, *counts)
                                : Report::Csv(*counts);
    if (options.out.isEmpty()) {
        return std::fwrite(text.constData(), 1, text.size(), stdout) == std::size_t(text.size())
                   ? 0
                   : Fail(QStringLiteral("standard output cannot be written"));
    }
    QSaveFile file(options.out);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        return Fail(QStringLiteral("%1: %2").arg(options.out, file.errorString()));
    }
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("corvane-plays"));
    Language::Install(app, Language::Choose({}, QLocale::system()));
    QStringList arguments = QCoreApplication::arguments().mid(1);
    if (arguments.contains(QStringLiteral("--help")) || arguments.contains(QStringLiteral("-h"))) {
        QTextStream(stdout) << CommandLine::Usage();
        return 0;
    }
    const QString command = arguments.isEmpty() ? QString() : arguments.takeFirst();
    QString fault;
    if (command == u"collect") {
        const auto options = CommandLine::ParseCollect(arguments, &fault);
        return options ? Collect(*options) : UsageError(fault);
    }
    if (command == u"report") {
        const auto options = CommandLine::ParseReport(arguments, &fault);
        return options ? WriteReport(*options) : UsageError(fault);
    }
    return UsageError(command.isEmpty() ? QStringLiteral("collect or report?")
                                        : QStringLiteral("%1 is not a command").arg(command));
}
