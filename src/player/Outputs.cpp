// Where the music is heard: the sound outputs there are, and the one chosen.

#include "platform/mci/outputs.h"
#include "platform/mci/mci.h"
#include "player/Player.h"

void Player::SetOutput(const QString& name) {
    options_.output = name;
    Platform::Mci::SelectOutput(name.toStdString());
    StoreOption(kOutputDeviceKey, name);
}

QList<Player::Output> Player::Outputs() const {
    QList<Output> outputs;
    for (const auto& [name, description] : Platform::Mci::OutputWatch::Instance().List()) {
        outputs.append({QString::fromStdString(name), QString::fromStdString(description)});
    }
    return outputs;
}
