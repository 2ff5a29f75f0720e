#include "FakeMci.h"

#include <algorithm>
#include <memory>

#include "platform/mci/commandline.h"

using namespace Platform::Mci;

namespace {

std::string TrimRight(std::string_view text) {
    const std::size_t end = text.find_last_not_of(' ');
    return std::string(end == std::string_view::npos ? std::string_view()
                                                     : text.substr(0, end + 1));
}

std::string BaseName(const std::string& path) {
    const std::size_t cut = path.find_last_of('/');
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

}  // namespace

MciError FakeMci::Execute(std::string_view text, std::string& reply) {
    const std::string command = TrimRight(text);
    commands.push_back(command);
    Command parsed;
    MciError result = ParseCommand(command, parsed);
    if (result == kNoError) {
        switch (parsed.verb) {
            case Verb::Open:
                if (devices.count(parsed.alias) != 0) {
                    result = kErrAliasInUse;
                } else if (unplayable.count(BaseName(parsed.device)) != 0) {
                    result = kErrCannotPlay;
                } else {
                    devices[parsed.alias].file = parsed.device;
                }
                break;
            case Verb::Close:
                if (parsed.all) {
                    devices.clear();
                } else if (devices.erase(parsed.device) == 0) {
                    result = kErrDeviceNotOpen;
                }
                break;
            default: {
                auto found = devices.find(parsed.device);
                if (found == devices.end()) {
                    result = kErrDeviceNotOpen;
                    break;
                }
                Device& device = found->second;
                if (parsed.verb == Verb::Play) {
                    device.mode = "playing";
                } else if (parsed.verb == Verb::SetAudio) {
                    device.volume = static_cast<int>(parsed.volume);
                } else if (parsed.verb == Verb::Status) {
                    switch (parsed.item) {
                        case StatusItem::Mode:
                            reply = device.mode;
                            break;
                        case StatusItem::Volume:
                            reply = std::to_string(device.volume);
                            break;
                        case StatusItem::Length:
                            reply = std::to_string(device.lengthFrames);
                            break;
                        default:
                            reply = "0";
                            break;
                    }
                }
                break;
            }
        }
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

bool FakeMci::IsOpen(const std::string& alias) const {
    return devices.count(alias) != 0;
}

const FakeMci::Device* FakeMci::Find(const std::string& alias) const {
    const auto found = devices.find(alias);
    return found == devices.end() ? nullptr : &found->second;
}

std::vector<std::string> FakeMci::CommandsStartingWith(const std::string& prefix) const {
    std::vector<std::string> result;
    std::copy_if(commands.begin(), commands.end(), std::back_inserter(result),
                 [&](const std::string& c) { return c.rfind(prefix, 0) == 0; });
    return result;
}

std::vector<int> FakeMci::VolumesSentTo(const std::string& alias) const {
    std::vector<int> result;
    const std::string prefix = "setaudio " + alias + " Volume to ";
    for (const std::string& c : commands) {
        if (c.rfind(prefix, 0) == 0) {
            result.push_back(std::stoi(c.substr(prefix.size())) / 10);
        }
    }
    return result;
}

FakeMciInstaller::FakeMciInstaller() {
    auto fake = std::make_unique<FakeMci>();
    fake_ = fake.get();
    previous_ = SetService(std::move(fake));
}

FakeMciInstaller::~FakeMciInstaller() {
    SetService(std::move(previous_));
}
