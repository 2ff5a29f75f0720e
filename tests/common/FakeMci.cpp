#include "FakeMci.h"

#include <memory>

#include "platform/mci/commandline.h"

using namespace Platform::Mci;

MciError FakeMci::Execute(std::string_view text, std::string& reply) {
    const std::string command(text.substr(0, text.find_last_not_of(' ') + 1));
    commands.push_back(command);
    Command parsed;
    MciError result = ParseCommand(command, parsed);
    if (result != kNoError) {
        // refused as the real interpreter refuses it
    } else if (parsed.verb == Verb::Open) {
        const std::string name = parsed.device.substr(parsed.device.find_last_of('/') + 1);
        if (devices.count(parsed.alias) != 0) {
            result = kErrAliasInUse;
        } else if (unplayable.count(name) != 0) {
            result = kErrCannotPlay;
        } else {
            devices[parsed.alias] = Device{};
        }
    } else if (parsed.all) {
        devices.clear();
    } else if (const auto found = devices.find(parsed.device); found == devices.end()) {
        result = kErrDeviceNotOpen;
    } else if (parsed.verb == Verb::Close) {
        devices.erase(found);
    } else if (parsed.verb == Verb::Play) {
        found->second.mode = "playing";
    } else if (parsed.verb == Verb::Pause && found->second.mode == "playing") {
        found->second.mode = "paused";
    } else if (parsed.verb == Verb::Resume && found->second.mode == "paused") {
        found->second.mode = "playing";
    } else if (parsed.verb == Verb::SetAudio) {
        found->second.volume = static_cast<int>(parsed.volume);
    } else if (parsed.verb == Verb::Status) {
        const Device& device = found->second;
        reply = parsed.item == StatusItem::Mode       ? device.mode
                : parsed.item == StatusItem::Volume   ? std::to_string(device.volume)
                : parsed.item == StatusItem::Length   ? std::to_string(device.lengthFrames)
                : parsed.item == StatusItem::Ready    ? (device.failed ? "false" : "true")
                : parsed.item == StatusItem::Position ? std::to_string(device.positionFrames)
                                                      : "0";
    }
    if (onCommand) {
        onCommand(command);
    }
    return result;
}

void FakeMci::Finish(const std::string& alias) {
    if (auto found = devices.find(alias); found != devices.end()) {
        found->second.mode = "stopped";
        PostNotice(alias, Notice::Ended);
    }
}

void FakeMci::Fail(const std::string& alias) {
    if (auto found = devices.find(alias); found != devices.end()) {
        found->second.mode = "stopped";
        found->second.failed = true;
        PostNotice(alias, Notice::Failed);
    }
}

FakeMciInstaller::FakeMciInstaller() {
    auto fake = std::make_unique<FakeMci>();
    fake_ = fake.get();
    previous_ = SetService(std::move(fake));
}

FakeMciInstaller::~FakeMciInstaller() {
    SetService(std::move(previous_));
}
