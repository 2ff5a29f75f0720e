#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A media control interface: devices opened under an alias and driven by command strings such as
// "open <file> type MPEGVideo alias ZEL0", "play ZEL0 from 0 to 750" or "status ZEL0 mode".
// One service is installed for the whole program; tests install a recorder instead.
namespace Platform::Mci {

using MciError = std::uint32_t;

// Error codes of this interface. 0 is success; the texts come from mciGetErrorString.
enum : MciError {
    kNoError = 0,
    kErrUnrecognizedCommand = 257,
    kErrUnrecognizedKeyword,
    kErrMissingParameter,
    kErrBadInteger,
    kErrOutOfRange,
    kErrUnterminatedQuote,
    kErrDeviceNotOpen,
    kErrAliasInUse,
    kErrUnknownDeviceType,
    kErrFileNotFound,
    kErrCannotPlay,
    kErrOpenTimeout,
    kErrDeviceFailed,
    kErrUnsupportedFunction,
    kErrNoService,
    kErrUnsafeFileName,
    kErrNoOutput,
};

// A sound output: its name, as the sound server knows it, and its description for people.
struct OutputChoice {
    std::string name;
    std::string description;
};

// What executes command strings. Replies are plain text without line ends.
class Service {
public:
    virtual ~Service() = default;
    virtual MciError Execute(std::string_view command, std::string& reply) = 0;
    // Plays to the sound server's output of that name from now on; empty: the desktop's. A
    // service with no choice of output refuses.
    virtual MciError SelectOutput(const std::string& /*name*/) { return kErrUnsupportedFunction; }
    // The outputs there are now, by description: the sound server's, as they come and go.
    virtual std::vector<OutputChoice> Outputs();
    // Dead air: whether what is mixed is measured, and how long it has been quiet, every tenth
    // of a second of it, since it last had sound or since measuring began; none while not
    // measured.
    virtual void MeasureQuiet(bool /*on*/) {}
    virtual std::optional<std::chrono::milliseconds> Quiet() { return std::nullopt; }
    // Builds the output anew, as when the sound server comes back: every device fails, so that
    // its owner starts it again.
    virtual void RestartOutput() {}
    // What a stream says it plays now (the station's title tag); empty for a file, or until it
    // says.
    virtual std::string StreamTitle(const std::string& /*alias*/) { return {}; }
};

// Installs the service used by mciSendString from now on, and returns the one it replaces.
std::unique_ptr<Service> SetService(std::unique_ptr<Service> service);
Service* CurrentService();

// Has the installed service play to that output (see Service::SelectOutput). A service with no
// choice of output is no error: it plays where it can.
MciError SelectOutput(const std::string& name);
// The installed service's outputs; none without a service.
std::vector<OutputChoice> Outputs();
// The installed service's, as above; nothing without a service.
void MeasureQuiet(bool on);
std::optional<std::chrono::milliseconds> Quiet();
void RestartOutput();
std::string StreamTitle(const std::string& alias);

// Sends one command. The reply, cut to fit, is written NUL-terminated into `returnString` when it
// is given with a `returnLength` of at least 1. `callbackWindow` is accepted and unused: notices go
// to the handler installed with SetNoticeHandler.
MciError mciSendString(std::string_view command, char* returnString, unsigned returnLength,
                       std::intptr_t callbackWindow);

// Writes the NUL-terminated description of `code` into `buffer`, cut to fit `length`. False for a
// code this interface does not know.
bool mciGetErrorString(MciError code, char* buffer, unsigned length);

// What a device tells its owner without being asked, the way a notification message would: it has
// played to the end of its file, it has failed (a broken file, the sound output gone), the device
// cued after it has taken over its alias at the sample where its file ended, or as a crossfade
// into it began, and that crossfade is over (played out, or called off by a command).
enum class Notice { Ended, Failed, Advanced, Crossfading, Crossfaded };
using NoticeHandler = std::function<void(const std::string& alias, Notice notice)>;

// Installs the one handler that services' notices go to; an empty handler drops them.
void SetNoticeHandler(NoticeHandler handler);

// Called by a service when a device ends or fails. The handler runs later, from the event loop of
// the thread that posted, never inside a command: a notice may therefore be stale by then, and its
// receiver asks the device's mode before acting on it.
void PostNotice(const std::string& alias, Notice notice);

}  // namespace Platform::Mci
