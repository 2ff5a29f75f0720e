#include "console/Frm_Remote.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHostInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

Frm_Remote::Frm_Remote(const WebRemote::Config& config, const Fleet::Config& fleet, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(tr("Remote Control"));
    Chk_On = new QCheckBox(tr("&Allow control from a web browser"), this);
    QFormLayout* form = BuildRemoteForm(config);
    QGroupBox* broker = BuildBrokerGroup(fleet);
    Lbl_Problem = new QLabel(this);
    Lbl_Problem->setStyleSheet(QStringLiteral("color: #c0392b"));
    Lbl_Problem->setWordWrap(true);
    Buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Chk_On);
    layout->addLayout(form);
    layout->addWidget(broker);
    layout->addWidget(Lbl_Problem);
    layout->addWidget(Buttons);

    Chk_On->setChecked(config.port != 0);
    connect(Chk_On, &QCheckBox::toggled, this, [this](bool on) {
        // The first time it is turned on, it gets a key of its own.
        if (on && Txt_Key->text().isEmpty()) {
            Txt_Key->setText(RemoteApi::NewKey());
        }
        Refresh();
    });
    connect(Cmd_NewKey, &QPushButton::clicked, this,
            [this] { Txt_Key->setText(RemoteApi::NewKey()); });
    connect(Txt_Port, &QSpinBox::valueChanged, this, &Frm_Remote::Refresh);
    connect(Opt_Lan, &QRadioButton::toggled, this, &Frm_Remote::Refresh);
    connect(Buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    Refresh();
}

QFormLayout* Frm_Remote::BuildRemoteForm(const WebRemote::Config& config) {
    Txt_Port = new QSpinBox(this);
    Txt_Port->setRange(1, 65535);
    Txt_Port->setValue(config.port ? config.port : WebRemote::kDefaultPort);
    Opt_Local = new QRadioButton(tr("This &computer only"), this);
    Opt_Lan = new QRadioButton(tr("The &local network"), this);
    (config.lan ? Opt_Lan : Opt_Local)->setChecked(true);
    Txt_Key = new QLineEdit(config.key, this);
    Txt_Key->setReadOnly(true);
    Txt_Key->setMinimumWidth(Txt_Key->fontMetrics().horizontalAdvance(QString(34, u'0')));
    Cmd_NewKey = new QPushButton(tr("&New Key"), this);
    Lbl_Address = new QLabel(this);
    Lbl_Address->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* keyRow = new QHBoxLayout;
    keyRow->addWidget(Txt_Key, 1);
    keyRow->addWidget(Cmd_NewKey);
    auto* whoRow = new QVBoxLayout;
    whoRow->addWidget(Opt_Local);
    whoRow->addWidget(Opt_Lan);
    auto* form = new QFormLayout;
    form->addRow(tr("&Port:"), Txt_Port);
    form->addRow(tr("From:"), whoRow);
    // A row of a layout gets no buddy by itself, and without one the & would show.
    auto* keyLabel = new QLabel(tr("&Key:"), this);
    keyLabel->setBuddy(Txt_Key);
    form->addRow(keyLabel, keyRow);
    form->addRow(tr("Address:"), Lbl_Address);
    return form;
}

QGroupBox* Frm_Remote::BuildBrokerGroup(const Fleet::Config& fleet) {
    Txt_MqttHost = new QLineEdit(fleet.host, this);
    Txt_MqttHost->setPlaceholderText(tr("none: not part of a chain"));
    Txt_MqttPort = new QSpinBox(this);
    Txt_MqttPort->setRange(1, 65535);
    Txt_MqttPort->setValue(fleet.port);
    Txt_MqttUser = new QLineEdit(fleet.user, this);
    Txt_MqttPassword = new QLineEdit(fleet.password, this);
    Txt_MqttPassword->setEchoMode(QLineEdit::Password);
    Chk_MqttTls = new QCheckBox(tr("Encr&ypted (TLS)"), this);
    Chk_MqttTls->setChecked(fleet.tls);
    Txt_MqttCaFile = new QLineEdit(fleet.caFile, this);
    Txt_MqttCaFile->setPlaceholderText(tr("the system's"));
    Txt_MqttTopic = new QLineEdit(fleet.topic, this);
    Txt_MqttTopic->setPlaceholderText(Fleet::DefaultTopic());

    auto* broker = new QGroupBox(tr("A chain of shops: the MQTT broker"), this);
    auto* form = new QFormLayout(broker);
    form->addRow(tr("&Broker:"), Txt_MqttHost);
    form->addRow(tr("P&ort:"), Txt_MqttPort);
    form->addRow(tr("&User:"), Txt_MqttUser);
    form->addRow(tr("Pass&word:"), Txt_MqttPassword);
    form->addRow(QString(), Chk_MqttTls);
    form->addRow(tr("&Certificate authority:"), Txt_MqttCaFile);
    form->addRow(tr("&Topic:"), Txt_MqttTopic);
    return broker;
}

WebRemote::Config Frm_Remote::Config() const {
    WebRemote::Config config;
    config.port = Chk_On->isChecked() ? static_cast<quint16>(Txt_Port->value()) : 0;
    config.lan = Opt_Lan->isChecked();
    config.key = Txt_Key->text();
    return config;
}

Fleet::Config Frm_Remote::FleetConfig() const {
    Fleet::Config config;
    config.host = Txt_MqttHost->text().trimmed();
    config.port = static_cast<quint16>(Txt_MqttPort->value());
    config.user = Txt_MqttUser->text().trimmed();
    config.password = Txt_MqttPassword->text();
    config.tls = Chk_MqttTls->isChecked();
    config.caFile = Txt_MqttCaFile->text().trimmed();
    config.topic = Txt_MqttTopic->text().trimmed();
    return config;
}

void Frm_Remote::ShowProblem(const QString& text) {
    Lbl_Problem->setText(text);
}

void Frm_Remote::Refresh() {
    const bool on = Chk_On->isChecked();
    for (QWidget* widget : {static_cast<QWidget*>(Txt_Port), static_cast<QWidget*>(Opt_Local),
                            static_cast<QWidget*>(Opt_Lan), static_cast<QWidget*>(Txt_Key),
                            static_cast<QWidget*>(Cmd_NewKey)}) {
        widget->setEnabled(on);
    }
    const QString host =
        Opt_Lan->isChecked() ? QHostInfo::localHostName() : QStringLiteral("127.0.0.1");
    Lbl_Address->setText(on ? QStringLiteral("http://%1:%2/").arg(host).arg(Txt_Port->value())
                            : tr("off"));
}
