#include "platform/mci/mci.h"

#include "platform/mci/log.h"
#include "platform/mci/outputs.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <algorithm>
#include <cstring>

namespace Platform::Mci {

Q_LOGGING_CATEGORY(lcMedia, "corvane.media")

namespace {

// Every command and its result, off unless asked for ("corvane.media.commands.debug=true"):
// with the message pattern's time, what was sent when, to set beside what was heard.
Q_LOGGING_CATEGORY(lcCommands, "corvane.media.commands", QtWarningMsg)

NoticeHandler& Handler() {
    static NoticeHandler handler;
    return handler;
}

std::unique_ptr<Service>& Installed() {
    static std::unique_ptr<Service> service;
    return service;
}

const char* Describe(MciError code) {
    switch (code) {
        case kNoError:
            return "The command completed.";
        case kErrUnrecognizedCommand:
            return "The media command is not one this interface understands.";
        case kErrUnrecognizedKeyword:
            return "The media command holds a word that does not belong to it.";
        case kErrMissingParameter:
            return "The media command is missing a value it needs.";
        case kErrBadInteger:
            return "A value in the media command is not a whole number.";
        case kErrOutOfRange:
            return "A value in the media command is outside the range the device accepts.";
        case kErrUnterminatedQuote:
            return "A quoted name in the media command has no closing quote.";
        case kErrDeviceNotOpen:
            return "No device is open under that name.";
        case kErrAliasInUse:
            return "That alias already names an open device.";
        case kErrUnknownDeviceType:
            return "That device type is not supported.";
        case kErrFileNotFound:
            return "The media file cannot be found.";
        case kErrCannotPlay:
            return "The media file cannot be played: it is damaged or not in a known format.";
        case kErrOpenTimeout:
            return "The media file did not become ready in time.";
        case kErrDeviceFailed:
            return "The sound output failed while playing.";
        case kErrUnsupportedFunction:
            return "The device cannot carry out that command.";
        case kErrNoService:
            return "No media service is available.";
        case kErrUnsafeFileName:
            return "The file name holds a character that cannot be passed in a media command.";
        case kErrNoOutput:
            return "No sound output is available.";
        default:
            return nullptr;
    }
}

void CopyOut(std::string_view text, char* buffer, unsigned length) {
    if (buffer == nullptr || length == 0) {
        return;
    }
    const std::size_t n = std::min<std::size_t>(text.size(), length - 1);
    if (n > 0) {  // an empty view may hold no pointer at all
        std::memcpy(buffer, text.data(), n);
    }
    buffer[n] = '\0';
}

}  // namespace

std::unique_ptr<Service> SetService(std::unique_ptr<Service> service) {
    std::swap(Installed(), service);
    return service;
}

Service* CurrentService() {
    return Installed().get();
}

MciError SelectOutput(const std::string& name) {
    Service* service = CurrentService();
    const MciError error = service != nullptr ? service->SelectOutput(name) : kErrNoService;
    return error == kErrUnsupportedFunction ? kNoError : error;
}

std::vector<OutputChoice> Service::Outputs() {
    return OutputWatch::Instance().List();
}

std::vector<OutputChoice> Outputs() {
    Service* service = CurrentService();
    return service != nullptr ? service->Outputs() : std::vector<OutputChoice>{};
}

void MeasureQuiet(bool on) {
    if (Service* service = CurrentService()) {
        service->MeasureQuiet(on);
    }
}

std::optional<std::chrono::milliseconds> Quiet() {
    Service* service = CurrentService();
    return service != nullptr ? service->Quiet() : std::nullopt;
}

void RestartOutput() {
    if (Service* service = CurrentService()) {
        service->RestartOutput();
    }
}

std::string StreamTitle(const std::string& alias) {
    Service* service = CurrentService();
    return service != nullptr ? service->StreamTitle(alias) : std::string();
}

MciError mciSendString(std::string_view command, char* returnString, unsigned returnLength,
                       std::intptr_t /*callbackWindow*/) {
    Service* service = CurrentService();
    if (service == nullptr) {
        return kErrNoService;
    }
    std::string reply;
    const MciError result = service->Execute(command, reply);
    qCDebug(lcCommands, "%.*s: %d", static_cast<int>(command.size()), command.data(),
            static_cast<int>(result));
    CopyOut(result == kNoError ? std::string_view(reply) : std::string_view(), returnString,
            returnLength);
    return result;
}

bool mciGetErrorString(MciError code, char* buffer, unsigned length) {
    const char* text = Describe(code);
    if (text == nullptr) {
        CopyOut("", buffer, length);
        return false;
    }
    CopyOut(text, buffer, length);
    return true;
}

void SetNoticeHandler(NoticeHandler handler) {
    Handler() = std::move(handler);
}

void PostNotice(const std::string& alias, Notice notice) {
    // Queued on the event loop, so the receiver is never entered from within a command.
    if (QCoreApplication::instance() == nullptr) {
        return;  // no event loop to deliver it
    }
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [alias, notice] {
            // A copy: the handler may install another while it runs.
            if (const NoticeHandler handler = Handler()) {
                handler(alias, notice);
            }
        },
        Qt::QueuedConnection);
}

}  // namespace Platform::Mci
