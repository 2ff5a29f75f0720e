// Corvane: background music without a break, with a recorded announcement at a set interval.

#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QLocale>
#include <QMessageBox>
#include <QSessionManager>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <functional>
#include <optional>

#include "console/Frm_Messages.h"
#include "desktop/SingleInstance.h"
#include "fleet/Fleet.h"
#include "platform/mci/gstdevices.h"
#include "remote/Mpris.h"
#include "remote/WebRemote.h"
#include "settings/Mod_INI.h"
#include "support/Language.h"
#include "support/Mod_Diskinfo.h"
#include "support/Mod_Version.h"
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

// What the command line asks for. Read before the window system is reached, so that --help and
// --version answer on a machine without a display. Returns the exit status when the program is
// to end at once.
std::optional<int> ReadCommandLine(int argc, char* argv[]) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    QCommandLineParser parser;
    parser.setApplicationDescription(QCoreApplication::translate(
        "main", "Plays background music without a break and, at a set interval, an announcement."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption folder(
        QStringLiteral("folder"),
        QCoreApplication::translate("main",
                                    "Keep the Music and Messages folders and the settings in DIR."),
        QCoreApplication::translate("main", "DIR"));
    parser.addOption(folder);
    if (!parser.parse(arguments)) {
        std::fprintf(stderr, "corvane: %s\nTry 'corvane --help'.\n",
                     qPrintable(parser.errorText()));
        return 2;
    }
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "corvane: unexpected argument '%s'\nTry 'corvane --help'.\n",
                     qPrintable(parser.positionalArguments().first()));
        return 2;
    }
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        QString text = parser.helpText();
        text.replace(QStringLiteral("<executable_name>"), QStringLiteral("corvane"));
        std::printf("%s", qPrintable(text));
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("Corvane %s\n", qPrintable(Mod_Version::VersionString()));
        return 0;
    }
    // Decided now, before anything can replace the executable.
    if (const QString error = ChooseProgramFolder(parser.value(folder)); !error.isEmpty()) {
        std::fprintf(stderr, "corvane: %s\n", qPrintable(error));
        return 2;
    }
    return std::nullopt;
}

void UseMediaService(Player& player) {
    // Every file plays at the gain the player's loudness library has for it,
    auto devices = std::make_unique<Platform::Mci::GstDevices>(
        Platform::Mci::GstDevices::SinkFactory{}, std::chrono::seconds(5),
        [&player](const std::string& file) {
            return player.Loudness().Gain(QByteArray::fromStdString(file));
        });
    // and plays from where its sound starts to where it ends, while silent ends are trimmed.
    devices->SetTrimLookup([&player](const std::string& file) {
        return player.Sound(QByteArray::fromStdString(file));
    });
    Platform::Mci::SetService(std::move(devices));
}

void ShowConsole(Frm_Messages& console) {
    console.Form_MouseMove(Frm_Messages::kLeftButton, 0, 0, 0);
}

// What the media controls may do to the window: raise it only where there is a screen to show it
// on, and end the program as its menu would.
MprisBridge::Window MediaControlsWindow(Frm_Messages& console) {
    const bool screen = !QGuiApplication::screens().isEmpty() &&
                        QGuiApplication::platformName() != u"offscreen" &&
                        QGuiApplication::platformName() != u"minimal";
    return {screen ? std::function<void()>([&console] { ShowConsole(console); })
                   : std::function<void()>(),
            [&console] { console.RequestShutdown(Frm_Messages::kProgramEnd); }};
}

// The web remote, when the user has turned it on.
void StartWebRemote(WebRemote& remote) {
    if (const WebRemote::Config config = WebRemote::ReadConfig(); config.port != 0) {
        WebRemote::KeepKeyPrivate(config);
        if (!remote.Start(config)) {
            std::fprintf(stderr, "corvane: the web remote is off: %s\n",
                         qPrintable(remote.Error()));
        }
    }
}

// One of a chain of shops, when a broker is named.
void StartFleet(Fleet& fleet) {
    if (const Fleet::Config config = Fleet::ReadConfig(); !config.host.isEmpty()) {
        Fleet::KeepPasswordPrivate(config);
        fleet.Start(config);
    }
}

// The signals caught at start, the session's end, and whatever else ends the event loop: each
// goes through the console's shutdown, so the settings are saved and the devices closed.
void TakeEndingRequests(QApplication& app, Frm_Messages& console) {
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
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &console, [&console] {
        if (!console.ShutdownDone()) {
            qint16 cancel = 0;
            qint16 mode = Frm_Messages::kProgramEnd;
            console.Form_QueryUnload(cancel, mode);
        }
    });
}

// The language chosen in the settings, or the system's.
void UseLanguage(QApplication& app) {
    Language::Install(app, Language::Choose(Mod_INI::GetIniValue(
                                                {}, QString::fromLatin1(Player::kLanguageKey), {},
                                                QString::fromLatin1(Player::kOptionsSection)),
                                            QLocale::system()));
}

// The command line is answered before the settings are known: in the system's language, with an
// application of its own to carry the translators. Its name alone, so that the help says
// "corvane" however the program was started.
std::optional<int> AnswerCommandLine(int argc, char* argv[]) {
    int nameOnlyCount = 1;
    char name[] = "corvane";
    char* nameOnly[] = {name, nullptr};
    QCoreApplication commandLine(nameOnlyCount, nameOnly);
    Language::Install(commandLine, Language::Choose({}, QLocale::system()));
    return ReadCommandLine(argc, argv);
}

}  // namespace

int main(int argc, char* argv[]) {
    if (const std::optional<int> status = AnswerCommandLine(argc, argv)) {
        return *status;
    }
    CatchEndingSignals();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvane"));
    UseLanguage(app);
    // The program ends through its shutdown, never because its window was put away.
    QApplication::setQuitOnLastWindowClosed(false);

    SingleInstance instance(Program().folder);
    if (!instance.IsFirst()) {
        // Brought forward rather than everything played twice.
        if (!instance.AskFirstToShow()) {
            std::fprintf(stderr, "corvane: another player holds %s but does not answer\n",
                         qPrintable(Program().folder));
            return 1;
        }
        return 0;
    }
    Mod_Diskinfo::SetErrorBox([](const QString& text, const QString& title) {
        QMessageBox box(QMessageBox::Critical, title, text, QMessageBox::Ok);
        box.exec();
    });

    SystemClock clock;
    Player player(clock);
    Frm_Messages console(player);
    UseMediaService(player);
    console.Form_Load();
    QObject::connect(&instance, &SingleInstance::ShowRequested, &console,
                     [&console] { ShowConsole(console); });
    MprisBridge mpris(player, MediaControlsWindow(console));
    if (!mpris.Register()) {  // the player goes on without the desktop's media controls
        std::fprintf(stderr,
                     "corvane: no session bus; the desktop's media controls cannot see it\n");
    }
    WebRemote remote(player);
    StartWebRemote(remote);
    Fleet fleet(player);
    StartFleet(fleet);
    console.SetRemote(&remote, &fleet);
    // Ending requests are taken only once the settings are loaded: a request during start-up waits
    // in the socket until then, so it can never save the controls' initial values over the file.
    TakeEndingRequests(app, console);
    console.show();
    const int result = QApplication::exec();
    Platform::Mci::SetService(nullptr);
    return result;
}
