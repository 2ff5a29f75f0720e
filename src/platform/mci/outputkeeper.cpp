#include <QCoreApplication>
#include <QSocketNotifier>

#include "platform/mci/gstdevices.h"
#include "platform/mci/log.h"

// Keeping the output alive: built at the first open, watched from the event loop, rebuilt when
// the sound server goes and comes back, and moved to follow the chosen output.
namespace Platform::Mci {

namespace {

std::string ErrorText(GstMessage* message) {
    GError* error = nullptr;
    gchar* details = nullptr;
    gst_message_parse_error(message, &error, &details);
    std::string text = std::string(error != nullptr ? error->message : "") + " (" +
                       (details != nullptr ? details : "") + ")";
    g_clear_error(&error);
    g_free(details);
    return text;
}

void LogError(const std::string& alias, const std::string& file, GstMessage* message) {
    qCWarning(lcMedia, "%s: %s: %s", alias.c_str(), file.c_str(), ErrorText(message).c_str());
}

}  // namespace

MciError GstDevices::StartOutput() {
    if (output_ != nullptr) {
        return kNoError;
    }
    const std::string device =
        outputs_ != nullptr && outputs_->Has(chosenOutput_) ? chosenOutput_ : std::string();
    output_ = Output::Start(sinkFactory_, device, &meter_);
    outputDevice_ = device;
    if (output_ == nullptr) {
        NoteNoOutput();
        return kErrNoOutput;
    }
    GPollFD poll{};
    gst_bus_get_pollfd(output_->Bus(), &poll);
    if (poll.fd >= 0 && QCoreApplication::instance() != nullptr) {
        busWatch_ = new QSocketNotifier(poll.fd, QSocketNotifier::Read);
        QObject::connect(busWatch_, &QSocketNotifier::activated, busWatch_, [this] { Poll(); });
    }
    return kNoError;
}

// Said once until the output is back: the retries come every 200 ms.
void GstDevices::NoteNoOutput() {
    if (!std::exchange(outputLost_, true)) {
        qCWarning(lcMedia, "no sound output: the sound server is gone or refuses us");
    }
}

// The output's own thread is done starting it: what waited for it goes on, or it is lost.
void GstDevices::OnOutputStarted(bool playing) {
    if (!playing) {
        NoteNoOutput();
        DropOutput(true);
        return;
    }
    if (std::exchange(outputLost_, false)) {
        qCWarning(lcMedia, "sound output back");
    }
    if (!openings_.empty()) {
        AdvanceOpenings();
    }
}

void GstDevices::Poll() {
    while (output_ != nullptr) {
        GstMessage* message = gst_bus_pop(output_->Bus());
        if (message == nullptr) {
            break;
        }
        OnMessage(message);
        gst_message_unref(message);
    }
    FinishHeardEnds();
}

void GstDevices::OnMessage(GstMessage* message) {
    switch (GST_MESSAGE_TYPE(message)) {
        case GST_MESSAGE_ERROR:
            if (output_->Owns(GST_MESSAGE_SRC(message))) {
                LoseOutput(message);
            } else if (Device* device = FindBy(
                           [message](const Device& d) { return d.Owns(GST_MESSAGE_SRC(message)); });
                       device != nullptr && !device->LetGoOf()) {
                Fail(*device, message);
            }
            break;
        case GST_MESSAGE_APPLICATION:
            if (gst_message_has_name(message, "corvane")) {
                OnEvent(gst_message_get_structure(message));
            }
            break;
        case GST_MESSAGE_LATENCY:
            output_->UpdateLatency();
            break;
        default:
            break;
    }
}

void GstDevices::OnEvent(const GstStructure* event) {
    const std::string name = gst_structure_get_string(event, "event");
    if (name == "output") {
        gboolean playing = FALSE;
        gst_structure_get_boolean(event, "playing", &playing);
        OnOutputStarted(playing != FALSE);
        return;
    }
    guint64 id = 0;
    guint64 at = 0;
    gst_structure_get_uint64(event, "at", &at);
    if (gst_structure_get_uint64(event, "strip", &id)) {
        Device* leader = FindBy([id](const Device& d) { return d.StripId() == id; });
        if (leader == nullptr) {
            return;
        }
        if (name == "ended") {
            leader->EndsAt(at);
            FinishHeardEnds();
        } else if (name == "switched") {
            leader->EndsAt(at);
            TakeOver(*leader);
        } else if (name == "moved") {
            leader->Moved(at);
        }
        return;
    }
    gst_structure_get_uint64(event, "device", &id);
    Device* device = FindId(id);
    if (device == nullptr) {
        return;
    }
    if (name == "held" && !openings_.empty()) {
        AdvanceOpenings();
    } else if (name == "no-audio") {
        if (device->Live()) {
            StreamDown(*device, "it sends no sound");
        }
        Fail(*device, nullptr);
    } else if (name == "dropped") {
        qCWarning(lcMedia, "%s: %s is gone; not played", device->Alias().c_str(),
                  device->File().c_str());
        device->Detach();
    }
}

// A stream's errors are told once until it plays again: the same station may fail the same way
// at every turn.
void GstDevices::Fail(Device& device, GstMessage* error) {
    if (error != nullptr && device.Live()) {
        // Once it has played, the HTTP source's error is most often its own timeout, told in
        // words of its failed try to resume.
        const bool played = device.AttachedAt() > 0 && device.LastSampleAt() > device.AttachedAt();
        if (!device.Failed()) {
            StreamDown(device,
                       (played ? "nothing came for " + std::to_string(kStreamPatience.count()) +
                                     " s, or the connection broke: "
                               : std::string()) +
                           ErrorText(error));
        }
    } else if (error != nullptr) {
        LogError(device.Alias(), device.File(), error);
    }
    if (device.Failed()) {
        return;
    }
    device.MarkFailed();
    device.Detach();
    if (!Fading(device)) {  // a fading file's alias has another file already; it just goes quiet
        PostNotice(device.Alias(), Notice::Failed);
    }
}

// Whoever found no output is told as soon as it is back, by a failure notice of the alias it
// tried: a notice makes its owner try again at once instead of at its next look.
void GstDevices::AwaitOutput(const std::string& alias) {
    const bool first = awaitingOutput_.empty();
    awaitingOutput_.insert(alias);
    if (first) {
        ArmOutputRetry();
    }
}

void GstDevices::ArmOutputRetry() {
    constexpr auto kRetry = std::chrono::milliseconds(200);
    if (QCoreApplication::instance() != nullptr) {
        QTimer::singleShot(kRetry, &timerContext_, [this] { RetryOutput(); });
    }
}

void GstDevices::RetryOutput() {
    if (StartOutput() != kNoError) {
        ArmOutputRetry();
        return;
    }
    for (const std::string& alias : std::exchange(awaitingOutput_, {})) {
        PostNotice(alias, Notice::Failed);
    }
}

// The sound server went away: every device fails, and the output is built again once it is back.
void GstDevices::LoseOutput(GstMessage* error) {
    LogError("output", "", error);
    qCWarning(lcMedia, "sound output lost");
    outputLost_ = true;
    DropOutput(true);
}

// Every device fails and the output goes. `lost`: the owners are told again when it is back.
void GstDevices::DropOutput(bool lost) {
    output_->Stop();
    for (const auto& [key, device] : devices_) {
        device->Abandon();
        if (!device->Failed()) {
            device->MarkFailed();
            PostNotice(device->Alias(), Notice::Failed);
        }
        if (lost) {
            AwaitOutput(device->Alias());
        }
    }
    crossfades_.clear();
    fading_.clear();
    openings_.clear();
    ReleaseOutput();
}

void GstDevices::ReleaseOutput() {
    output_->Stop();
    delete std::exchange(busWatch_, nullptr);
    output_.reset();
    levelSetUntil_ = 0;  // the next output's mix time starts again
}

MciError GstDevices::SelectOutput(const std::string& name) {
    chosenOutput_ = name;
    if (name.empty() || sinkFactory_) {
        outputs_ = nullptr;
        outputsTimer_.stop();
    } else if (outputs_ == nullptr) {
        outputs_ = &OutputWatch::Instance();
        outputs_->TakeChanges();  // the outputs there are now, not news
        outputsTimer_.start();
    }
    FollowOutputs(true);
    return kNoError;
}

// Moves the output to where it should play: the chosen output when it is there, else the
// desktop's. One that goes away needs no move: the sound server moves its streams to its default
// output itself, and the output follows the chosen one again once that is back.
void GstDevices::FollowOutputs(bool choiceChanged) {
    const OutputWatch::Changes changes =
        outputs_ != nullptr ? outputs_->TakeChanges() : OutputWatch::Changes{};
    if (!changes.any && !choiceChanged) {
        return;
    }
    // Gone, even if back already: the server has moved the stream to its default.
    if (changes.removed.count(outputDevice_) != 0) {
        outputDevice_.clear();
    }
    const std::string wanted =
        outputs_ != nullptr && outputs_->Has(chosenOutput_) ? chosenOutput_ : std::string();
    if (output_ == nullptr || wanted == outputDevice_) {
        return;
    }
    qCWarning(lcMedia, "sound output moves to %s", wanted.empty() ? "the default" : wanted.c_str());
    DropOutput(false);
    StartOutput();
}

}  // namespace Platform::Mci
