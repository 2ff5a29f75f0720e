#pragma once

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/mci/mci.h"

// A media service double for tests of the console: it keeps, for each alias, its mode and its
// volume, records every command (trailing blanks removed) and lets a test end a file or refuse to
// open one. Commands are parsed by the real command parser.
class FakeMci : public Platform::Mci::Service {
public:
    struct Device {
        std::string mode = "stopped";
        int volume = 1000;  // 0..1000
        int lengthFrames = 750;
        int positionFrames = 0;
        bool failed = false;
    };

    Platform::Mci::MciError Execute(std::string_view command, std::string& reply) override;
    Platform::Mci::MciError SelectOutput(const std::string& name) override {
        outputs.push_back(name);
        return Platform::Mci::kNoError;
    }
    std::vector<Platform::Mci::OutputChoice> Outputs() override { return connected; }
    std::string StreamTitle(const std::string& alias) override {
        const auto found = titles.find(alias);
        return found == titles.end() ? std::string() : found->second;
    }

    // Ends what plays on `alias`: its mode becomes "stopped", and the end is posted as a notice.
    void Finish(const std::string& alias);
    // Breaks off what plays on `alias`: it stops, reports it is not ready, and the failure is
    // posted as a notice.
    void Fail(const std::string& alias);

    std::vector<std::string> commands;                   // recorded so far
    std::vector<std::string> outputs;                    // chosen so far
    std::vector<Platform::Mci::OutputChoice> connected;  // what the sound server has
    std::map<std::string, Device> devices;               // keyed by alias as sent
    std::map<std::string, std::string> titles;           // what a stream says, by alias
    std::set<std::string> unplayable;  // file names (without folder) that fail to open
    // Called after each command has been carried out.
    std::function<void(const std::string& command)> onCommand;
};

// Installs a FakeMci as the media service for the lifetime of this object.
class FakeMciInstaller {
public:
    FakeMciInstaller();
    ~FakeMciInstaller();
    FakeMciInstaller(const FakeMciInstaller&) = delete;
    FakeMciInstaller& operator=(const FakeMciInstaller&) = delete;
    FakeMci* operator->() const { return fake_; }

private:
    FakeMci* fake_;
    std::unique_ptr<Platform::Mci::Service> previous_;
};
