#pragma once

#include <QDialog>

#include "fleet/Fleet.h"
#include "remote/WebRemote.h"

class QCheckBox;
class QDialogButtonBox;
class QFormLayout;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;

// File > Remote Control: whether the web remote is on, on which port, for whom, with which key;
// and the broker a chain of shops shares, if any.
class Frm_Remote : public QDialog {
    Q_OBJECT

public:
    Frm_Remote(const WebRemote::Config& config, const Fleet::Config& fleet,
               QWidget* parent = nullptr);

    // What the dialog holds now; a remote turned on always has a key.
    WebRemote::Config Config() const;
    Fleet::Config FleetConfig() const;
    // Shows why the choice could not be taken (a port in use, say).
    void ShowProblem(const QString& text);

    QCheckBox* Chk_On;
    QSpinBox* Txt_Port;
    QRadioButton* Opt_Local;
    QRadioButton* Opt_Lan;
    QLineEdit* Txt_Key;
    QPushButton* Cmd_NewKey;
    QLabel* Lbl_Address;
    QLineEdit* Txt_MqttHost;
    QSpinBox* Txt_MqttPort;
    QLineEdit* Txt_MqttUser;
    QLineEdit* Txt_MqttPassword;
    QCheckBox* Chk_MqttTls;
    QLineEdit* Txt_MqttCaFile;
    QLineEdit* Txt_MqttTopic;
    QLabel* Lbl_Problem;
    QDialogButtonBox* Buttons;

private:
    // The web remote's fields, laid out, and the broker's in a group of their own.
    QFormLayout* BuildRemoteForm(const WebRemote::Config& config);
    QGroupBox* BuildBrokerGroup(const Fleet::Config& fleet);
    void Refresh();
};
