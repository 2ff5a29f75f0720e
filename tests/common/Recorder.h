#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/mci/mci.h"

// A media service that records every command byte for byte and answers through a script. Without
// a script every command succeeds with an empty reply.
class Recorder : public Platform::Mci::Service {
public:
    using Script =
        std::function<Platform::Mci::MciError(std::string_view command, std::string& reply)>;

    explicit Recorder(Script script = {}) : script_(std::move(script)) {}
    Platform::Mci::MciError Execute(std::string_view command, std::string& reply) override {
        commands_.emplace_back(command);
        return script_ ? script_(command, reply) : Platform::Mci::kNoError;
    }

    const std::vector<std::string>& Commands() const { return commands_; }

private:
    Script script_;
    std::vector<std::string> commands_;
};
