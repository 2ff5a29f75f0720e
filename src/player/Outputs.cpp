// Where the music is heard: the sound outputs there are, and the one chosen.

#include <QLoggingCategory>

#include "platform/mci/mci.h"
#include "player/Player.h"

namespace {

Q_LOGGING_CATEGORY(lcOutput, "corvane.output")

}  // namespace

void Player::SetOutput(const QString& name) {
    options_.output = name;
    ApplyOutput();
    StoreOption(kOutputDeviceKey, name);
}

// Said rather than played to nowhere in silence: no media service yet, or an output refused.
void Player::ApplyOutput() {
    if (const Platform::Mci::MciError error =
            Platform::Mci::SelectOutput(options_.output.toStdString());
        error != Platform::Mci::kNoError) {
        qCWarning(lcOutput, "cannot play to the sound output \"%s\" (media error %u)",
                  qPrintable(options_.output), error);
    }
}

QList<Player::Output> Player::Outputs() const {
    QList<Output> outputs;
    for (const auto& [name, description] : Platform::Mci::Outputs()) {
        outputs.append({QString::fromStdString(name), QString::fromStdString(description)});
    }
    return outputs;
}
