// Home Assistant's discovery: one device per zone, its controls and sensors each an entity of it.
// Every entity follows the zone's availability, so a shop whose player is gone shows as
// unavailable.

#include <QJsonArray>

#include "fleet/Fleet.h"
#include "player/Player.h"
#include "support/Mod_Version.h"

namespace {

// The entities of one zone as they are made, each a retained payload under its discovery topic.
class Entities {
public:
    explicit Entities(const QString& topic)
        : topic_(topic),
          state_(topic + QStringLiteral("/state")),
          command_(topic + QStringLiteral("/command")) {}

    const QString& Topic() const { return topic_; }
    const QString& State() const { return state_; }
    const QString& Command() const { return command_; }
    QList<std::pair<QString, QJsonObject>> Take() { return std::move(list_); }

    // `fields` with what every entity has: its name, its id and device, and the availability.
    void Add(const char* component, const QString& object, const QString& name,
             QJsonObject fields) {
        fields.insert(QStringLiteral("name"), name);
        fields.insert(QStringLiteral("unique_id"), zone_ + u'_' + object);
        fields.insert(QStringLiteral("device"), device_);
        fields.insert(QStringLiteral("availability_topic"),
                      topic_ + QStringLiteral("/availability"));
        fields.insert(QStringLiteral("payload_available"), QStringLiteral("online"));
        fields.insert(QStringLiteral("payload_not_available"), QStringLiteral("offline"));
        list_.append({QStringLiteral("%1/%2/%3/%4/config")
                          .arg(QLatin1String(Fleet::kDiscoveryPrefix), QLatin1String(component),
                               node_, zoneName_ + u'_' + object),
                      fields});
    }

private:
    QString topic_;
    QString state_;
    QString command_;
    // The computer is the topic's node, so that a broker's access rules can give each shop its
    // own; the zone leads each entity's name under it.
    QString hostName_ = Fleet::Host();
    QString zoneName_ = Fleet::Zone();
    QString node_ = QStringLiteral("corvane_%1").arg(hostName_);
    QString zone_ = QStringLiteral("corvane_%1_%2").arg(hostName_, zoneName_);
    QJsonObject device_{
        {QStringLiteral("identifiers"), QJsonArray{zone_}},
        {QStringLiteral("name"), QStringLiteral("Corvane %1 (%2)").arg(zoneName_, hostName_)},
        {QStringLiteral("manufacturer"), QStringLiteral("Corvane, example.org")},
        {QStringLiteral("model"), QStringLiteral("Corvane")},
        {QStringLiteral("sw_version"), Mod_Version::VersionString()},
    };
    QList<std::pair<QString, QJsonObject>> list_;
};

// A slider for each of the player's values, set through the topic's `set`.
void AddValues(Entities& entities) {
    const char* const names[] = {"Message interval", "Music", "Music under a message", "Message"};
    for (std::size_t i = 0; i < Player::kValues.size(); ++i) {
        const Player::ValueKey& value = Player::kValues[i];
        const QString key = QString::fromLatin1(value.key);
        entities.Add(
            "number", key, QString::fromLatin1(names[i]),
            {{QStringLiteral("command_topic"), entities.Topic() + QStringLiteral("/set")},
             {QStringLiteral("command_template"),
              QStringLiteral("{\"%1\": {{ value | int }}}").arg(key)},
             {QStringLiteral("state_topic"), entities.State()},
             {QStringLiteral("value_template"), QStringLiteral("{{ value_json.%1 }}").arg(key)},
             {QStringLiteral("min"), value.low},
             {QStringLiteral("max"), value.high},
             {QStringLiteral("step"), 1},
             {QStringLiteral("mode"), QStringLiteral("slider")},
             {QStringLiteral("unit_of_measurement"),
              i == Player::kInterval ? QStringLiteral("s") : QStringLiteral("%")}});
    }
}

// Buttons for the next track and a message now, and a switch for the pause: the topic's commands.
void AddCommands(Entities& entities) {
    entities.Add("button", QStringLiteral("next"), QStringLiteral("Next Track"),
                 {{QStringLiteral("command_topic"), entities.Command()},
                  {QStringLiteral("payload_press"), QStringLiteral("next")}});
    entities.Add("button", QStringLiteral("message"), QStringLiteral("Play Message Now"),
                 {{QStringLiteral("command_topic"), entities.Command()},
                  {QStringLiteral("payload_press"), QStringLiteral("message")}});
    entities.Add("switch", QStringLiteral("pause"), QStringLiteral("Pause"),
                 {{QStringLiteral("command_topic"), entities.Command()},
                  {QStringLiteral("payload_on"), QStringLiteral("pause")},
                  {QStringLiteral("payload_off"), QStringLiteral("resume")},
                  {QStringLiteral("state_topic"), entities.State()},
                  {QStringLiteral("value_template"),
                   QStringLiteral("{{ 'ON' if value_json.paused else 'OFF' }}")},
                  {QStringLiteral("state_on"), QStringLiteral("ON")},
                  {QStringLiteral("state_off"), QStringLiteral("OFF")}});
    const QString order = QString::fromLatin1(Player::kMusicOrderKey);
    entities.Add(
        "switch", QStringLiteral("shuffle"), QStringLiteral("Shuffle"),
        {{QStringLiteral("command_topic"), entities.Topic() + QStringLiteral("/set")},
         {QStringLiteral("payload_on"), QStringLiteral("{\"%1\": \"Shuffle\"}").arg(order)},
         {QStringLiteral("payload_off"), QStringLiteral("{\"%1\": \"Name\"}").arg(order)},
         {QStringLiteral("state_topic"), entities.State()},
         {QStringLiteral("value_template"), QStringLiteral("{{ value_json.%1 }}").arg(order)},
         {QStringLiteral("state_on"), QStringLiteral("Shuffle")},
         {QStringLiteral("state_off"), QStringLiteral("Name")}});
}

// What plays, how the last message went, and whether anything is wrong.
void AddSensors(Entities& entities) {
    entities.Add("sensor", QStringLiteral("music"), QStringLiteral("Playing"),
                 {{QStringLiteral("state_topic"), entities.State()},
                  {QStringLiteral("value_template"), QStringLiteral("{{ value_json.music.file }}")},
                  {QStringLiteral("icon"), QStringLiteral("mdi:music")}});
    entities.Add("sensor", QStringLiteral("daypart"), QStringLiteral("Daypart"),
                 {{QStringLiteral("state_topic"), entities.State()},
                  {QStringLiteral("value_template"), QStringLiteral("{{ value_json.daypart }}")},
                  {QStringLiteral("icon"), QStringLiteral("mdi:clock-outline")}});
    entities.Add(
        "sensor", QStringLiteral("last_message"), QStringLiteral("Last message"),
        {{QStringLiteral("state_topic"), entities.State()},
         {QStringLiteral("value_template"),
          QStringLiteral("{% if value_json.lastMessage %}{{ value_json.lastMessage.file }}: "
                         "{{ value_json.lastMessage.outcome }}{% else %}none{% endif %}")},
         {QStringLiteral("json_attributes_topic"), entities.State()},
         {QStringLiteral("json_attributes_template"),
          QStringLiteral("{{ (value_json.lastMessage or {}) | tojson }}")},
         {QStringLiteral("icon"), QStringLiteral("mdi:bullhorn")}});
    // On while anything keeps the player from playing as it should; the attributes say what.
    entities.Add("binary_sensor", QStringLiteral("problem"), QStringLiteral("Problem"),
                 {{QStringLiteral("device_class"), QStringLiteral("problem")},
                  {QStringLiteral("state_topic"), entities.State()},
                  {QStringLiteral("value_template"),
                   QStringLiteral("{{ 'ON' if value_json.problems | length > 0 else 'OFF' }}")},
                  {QStringLiteral("payload_on"), QStringLiteral("ON")},
                  {QStringLiteral("payload_off"), QStringLiteral("OFF")},
                  {QStringLiteral("json_attributes_topic"), entities.State()},
                  {QStringLiteral("json_attributes_template"),
                   QStringLiteral("{{ {'problems': value_json.problems} | tojson }}")}});
}

}  // namespace

QList<std::pair<QString, QJsonObject>> Fleet::Discovery(const QString& topic) {
    Entities entities(topic);
    AddValues(entities);
    AddCommands(entities);
    AddSensors(entities);
    return entities.Take();
}
