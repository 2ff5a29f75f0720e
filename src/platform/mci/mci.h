#pragma once

#include <cstdint>
#include <functional>
#include <memory>
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
};

// What executes command strings. Replies are plain text without line ends.
class Service {
public:
    virtual ~Service() = default;
    virtual MciError Execute(std::string_view command, std::string& reply) = 0;
};

// Installs the service used by mciSendString from now on, and returns the one it replaces.
std::unique_ptr<Service> SetService(std::unique_ptr<Service> service);
Service* CurrentService();

// Sends one command. The reply, cut to fit, is written NUL-terminated into `returnString` when it
// is given with a `returnLength` of at least 1. `callbackWindow` is accepted and unused: no
// notification is ever posted.
MciError mciSendString(std::string_view command, char* returnString, unsigned returnLength,
                       std::intptr_t callbackWindow);

// Writes the NUL-terminated description of `code` into `buffer`, cut to fit `length`. False for a
// code this interface does not know.
bool mciGetErrorString(MciError code, char* buffer, unsigned length);

// A service that records every command byte for byte and answers through a script. Without a
// script every command succeeds with an empty reply.
class Recorder : public Service {
public:
    using Script = std::function<MciError(std::string_view command, std::string& reply)>;

    explicit Recorder(Script script = {}) : script_(std::move(script)) {}
    MciError Execute(std::string_view command, std::string& reply) override;

    const std::vector<std::string>& Commands() const { return commands_; }
    void Clear() { commands_.clear(); }

private:
    Script script_;
    std::vector<std::string> commands_;
};

}  // namespace Platform::Mci
