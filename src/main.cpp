// Corvane: background music without a break, with a recorded announcement at a set interval.

#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QMessageBox>
#include <QSessionManager>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <cstdio>

#include "console/Frm_Messages.h"
#include "platform/mci/gstdevices.h"
#include "support/Mod_Diskinfo.h"
#include "support/ProgramLocation.h"

namespace {

// Signals are turned into a byte on a socket and handled in the event loop: a signal handler may
// do nothing but write.
int signalPipe[2] = {-1, -1};

void OnSignal(int signalNumber) {
    const int savedErrno = errno;
    const char byte = static_cast<char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[0], &byte, 1);
    errno = savedErrno;
}

void CatchEndingSignals() {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalPipe) != 0) {
        std::perror("corvane: socketpair");
        return;
    }
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signalNumber : {SIGTERM, SIGINT, SIGHUP}) {
        sigaction(signalNumber, &action, nullptr);
    }
    // A write beyond the file-size limit must fail like any other, not end the program.
    std::signal(SIGXFSZ, SIG_IGN);
}

}  // namespace

int main(int argc, char* argv[]) {
    Program();  // where the program is now, before anything can replace its executable
    CatchEndingSignals();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvane"));
    // The program ends through its shutdown, never because its window was put away.
    QApplication::setQuitOnLastWindowClosed(false);

    Platform::Mci::SetService(std::make_unique<Platform::Mci::GstDevices>());
    Mod_Diskinfo::SetErrorBox([](const QString& text, const QString& title) {
        QMessageBox box(QMessageBox::Critical, title, text, QMessageBox::Ok);
        box.exec();
    });

    Frm_Messages console;
    console.Form_Load();
    // Ending requests are taken only once the settings are loaded: a request during start-up waits
    // in the socket until then, so it can never save the controls' initial values over the file.
    if (signalPipe[1] >= 0) {
        auto* notifier = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &console, [&console] {
            char byte = 0;
            while (::read(signalPipe[1], &byte, 1) == 1) {
                console.RequestShutdown(Frm_Messages::kEndRequested);
            }
        });
    }
    QObject::connect(
        &app, &QGuiApplication::commitDataRequest, &console,
        [&console](QSessionManager&) { console.RequestShutdown(Frm_Messages::kSessionEnd); });
    // Whatever ends the event loop, the settings are saved and the devices closed.
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &console, [&console] {
        if (!console.ShutdownDone()) {
            qint16 cancel = 0;
            qint16 mode = Frm_Messages::kProgramEnd;
            console.Form_QueryUnload(cancel, mode);
        }
    });
    console.show();
    const int result = QApplication::exec();
    Platform::Mci::SetService(nullptr);
    return result;
}
