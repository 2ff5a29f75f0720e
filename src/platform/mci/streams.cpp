#include <sys/stat.h>

#include "platform/mci/gstdevices.h"
#include "platform/mci/log.h"
#include "platform/mci/playlist.h"

// What the service watches beyond its commands: streams that stop sending, and a mix that has
// gone quiet.
namespace Platform::Mci {

namespace {

gint64 SteadyNs() {
    return g_get_monotonic_time() * 1000;
}

}  // namespace

// A regular file's own address, or the stream a playlist names: what the latter names is checked
// before anything connects.
MciError GstDevices::UriOf(const std::string& file, std::string& uri) const {
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0) {
        return kErrFileNotFound;
    }
    if (!S_ISREG(info.st_mode)) {
        return kErrCannotPlay;
    }
    if (Playlist::IsPlaylist(file)) {
        uri = StreamOf(file).value_or(std::string());
        return uri.empty() ? kErrCannotPlay : kNoError;
    }
    gchar* local = gst_filename_to_uri(file.c_str(), nullptr);
    uri = local != nullptr ? local : "";
    g_free(local);
    return uri.empty() ? kErrFileNotFound : kNoError;
}

std::optional<std::string> GstDevices::StreamOf(const std::string& playlist) const {
    std::optional<std::string> url = Playlist::ReadStream(playlist);
    if (!url) {
        qCWarning(lcMedia, "%s names no http:// or https:// stream first, or is too large",
                  playlist.c_str());
    }
    return url;
}

void GstDevices::WatchStreams() {
    if (!streamTimer_.isActive()) {
        streamTimer_.start();
    }
}

// A stream that plays has a sample through at least every kStreamPatience; it plays again once
// one comes after it began.
void GstDevices::CheckStreams() {
    const gint64 now = g_get_monotonic_time();
    const gint64 patience = std::chrono::microseconds(kStreamPatience).count();
    bool any = false;
    for (const auto& [key, device] : devices_) {
        if (!device->Live() || device->Failed()) {
            continue;
        }
        any = true;
        if (!device->Playing() || !device->Attached()) {
            continue;
        }
        if (device->LastSampleAt() > device->AttachedAt()) {
            if (streamsDown_.erase(device->File()) != 0) {
                qCInfo(lcMedia, "%s: the stream of %s plays again", device->Alias().c_str(),
                       device->File().c_str());
            }
        }
        if (now - std::max(device->LastSampleAt(), device->AttachedAt()) > patience) {
            StreamDown(*device,
                       "nothing came for " + std::to_string(kStreamPatience.count()) + " s");
            Fail(*device, nullptr);
        }
    }
    if (!any) {
        streamTimer_.stop();
    }
}

void GstDevices::StreamDown(const Device& device, const std::string& why) {
    if (streamsDown_.insert(device.File()).second) {
        qCWarning(lcMedia, "%s: the stream of %s stopped: %s", device.Alias().c_str(),
                  device.File().c_str(), why.c_str());
    } else {
        qCDebug(lcMedia, "%s: the stream of %s is still down: %s", device.Alias().c_str(),
                device.File().c_str(), why.c_str());
    }
}

std::string GstDevices::StreamTitle(const std::string& alias) {
    const Device* device = Find(alias);
    return device != nullptr && device->Live() ? device->Title() : std::string();
}

void GstDevices::MeasureQuiet(bool on) {
    if (on && !meter_.On()) {
        measuredSince_ = SteadyNs();
    }
    meter_.SetOn(on);
}

std::optional<std::chrono::milliseconds> GstDevices::Quiet() {
    if (!meter_.On()) {
        return std::nullopt;
    }
    const gint64 since = std::max(meter_.SoundAt(), measuredSince_);
    return std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::nanoseconds(std::max<gint64>(0, SteadyNs() - since)));
}

void GstDevices::RestartOutput() {
    if (output_ == nullptr) {
        return;
    }
    qCWarning(lcMedia, "the sound output is built anew");
    DropOutput(false);
    StartOutput();
}

}  // namespace Platform::Mci
