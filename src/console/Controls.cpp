// The console's controls: the header band, the two lists with their status lines, and the
// settings panel laid over them.

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "console/Frm_Messages.h"

namespace {

constexpr QSize kClientSize{421, 415};
constexpr int kHeaderHeight = 61;

QFont ArialFont(double points, bool bold = false) {
    QFont font(QStringLiteral("Arial"));
    font.setStyleHint(QFont::SansSerif);  // a metric-compatible face where Arial is missing
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

QLabel* MakeLabel(QWidget* parent, const QString& caption, const QRect& place,
                  Qt::Alignment alignment = Qt::AlignHCenter | Qt::AlignVCenter) {
    auto* label = new QLabel(caption, parent);
    label->setGeometry(place);
    label->setAlignment(alignment);
    return label;
}

void MakeWhite(QLabel* label) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, Qt::white);
    label->setPalette(palette);
}

}  // namespace

// Created back to front: a control made later is drawn over the ones before it.
void Frm_Messages::BuildControls() {
    auto* client = new QWidget(this);
    client->setFixedSize(kClientSize);
    setCentralWidget(client);
    BuildHeader(client);
    BuildLists(client);
    BuildSettingsPanel(client);
}

void Frm_Messages::BuildHeader(QWidget* client) {
    Label1 = MakeLabel(client, {}, QRect(0, 0, kClientSize.width(), kHeaderHeight));
    Label1->setAutoFillBackground(true);
    QPalette band = Label1->palette();
    band.setColor(QPalette::Window, Qt::black);
    Label1->setPalette(band);

    Label2 = MakeLabel(client, QStringLiteral("Corvane"), QRect(10, 4, 250, 34),
                       Qt::AlignLeft | Qt::AlignVCenter);
    Label2->setFont(ArialFont(18, true));
    MakeWhite(Label2);
    // The credit line is centred in the band; its box stops short of the version on the right.
    Label3 = MakeLabel(client, tr("Music and announcements, without a break"),
                       QRect(kClientSize.width() / 2 - 140, 38, 280, 16));
    Label3->setFont(ArialFont(8.25));
    MakeWhite(Label3);
    // The problems take the credit line's place, from the left as the title above them; their
    // width is set as they are shown, to reach the version's text.
    Lbl_Problems = MakeLabel(client, {}, QRect(10, 38, 280, 16), Qt::AlignLeft | Qt::AlignVCenter);
    Lbl_Problems->setFont(ArialFont(8.25, true));
    QPalette warning = Lbl_Problems->palette();
    warning.setColor(QPalette::WindowText, QColor(0xff, 0xcc, 0x00));
    Lbl_Problems->setPalette(warning);
    Lbl_Problems->hide();
    Lbl_Version = MakeLabel(client, QStringLiteral("V"), QRect(300, 38, 113, 16),
                            Qt::AlignRight | Qt::AlignVCenter);
    Lbl_Version->setFont(ArialFont(8.25));
    MakeWhite(Lbl_Version);
    Lbl_Closed = MakeLabel(client, {}, QRect(260, 4, kClientSize.width() - 270, 34),
                           Qt::AlignRight | Qt::AlignVCenter);
    Lbl_Closed->setFont(ArialFont(10, true));
    MakeWhite(Lbl_Closed);
}

void Frm_Messages::BuildLists(QWidget* client) {
    const int half = kClientSize.width() / 2;
    Label4 = MakeLabel(client, tr("Music Playlist"), QRect(0, 64, half, 30));
    Label5 = MakeLabel(client, tr("Messages"), QRect(half, 64, half, 30));
    // The daypart's line sits under the music title; both lists start below it, level.
    Lbl_Daypart = MakeLabel(client, {}, QRect(5, 94, half - 10, 14));
    Lbl_Daypart->setFont(ArialFont(8.25));
    for (int i = 0; i < 2; ++i) {
        File1[i] = new FileListBox(player_.List(i), client);
        File1[i]->setGeometry(i * half + 5, 110, half - 10, 260);
        Lbl_Status[i] = MakeLabel(client, {}, QRect(i * half, 374, half, 34));
    }
    for (QLabel* label : {Label4, Label5, Lbl_Status[0], Lbl_Status[1]}) {
        label->setFont(ArialFont(18, true));
    }
}

void Frm_Messages::BuildSettingsPanel(QWidget* client) {
    Fme_Settings = new QGroupBox(tr("Settings"), client);
    Fme_Settings->setGeometry(0, kHeaderHeight, kClientSize.width(),
                              kClientSize.height() - kHeaderHeight);
    Fme_Settings->setAutoFillBackground(true);
    Fme_Settings->setVisible(false);

    Label6 = MakeLabel(Fme_Settings, tr("Message interval in seconds (0 for no messages)"),
                       QRect(10, 24, 200, 34), Qt::AlignLeft | Qt::AlignVCenter);
    Label6->setWordWrap(true);
    HScroll1 = new ScrollBar(Qt::Horizontal, 0, 600, 1, 1, 0, Fme_Settings);
    HScroll1->setGeometry(220, 28, 110, 24);
    // The read-out covers the scroll bar's track, leaving its two arrows: together a spin box.
    Txt_Interval = new QLineEdit(QStringLiteral("60"), Fme_Settings);
    Txt_Interval->setGeometry(240, 28, 70, 24);
    Txt_Interval->setAlignment(Qt::AlignCenter);
    Txt_Interval->setReadOnly(true);
    Cmd_OK = new QPushButton(tr("&OK"), Fme_Settings);
    Cmd_OK->setGeometry(345, 24, 64, 30);

    Label7[0] = MakeLabel(Fme_Settings, tr("Music Volume"), QRect(10, 72, 200, 18));
    Label7[3] = MakeLabel(Fme_Settings, tr("Message Volume"), QRect(240, 72, 160, 18));
    sVolume[0] = new ScrollBar(Qt::Vertical, 100, 0, 1, 10, 100, Fme_Settings);
    sVolume[0]->setGeometry(48, 96, 20, 200);
    Pic_Volume = new VolumeMeter(Fme_Settings);
    Pic_Volume->setGeometry(101, 96, 14, 200);
    sVolume[1] = new ScrollBar(Qt::Vertical, 100, 0, 1, 10, 10, Fme_Settings);
    sVolume[1]->setGeometry(148, 96, 20, 200);
    sVolume[2] = new ScrollBar(Qt::Vertical, 100, 0, 1, 10, 100, Fme_Settings);
    sVolume[2]->setGeometry(310, 96, 20, 200);
    Label7[1] = MakeLabel(Fme_Settings, tr("Normal Playback"), QRect(8, 300, 100, 34));
    Label7[2] = MakeLabel(Fme_Settings, tr("During Message"), QRect(108, 300, 100, 34));
    Label7[1]->setWordWrap(true);
    Label7[2]->setWordWrap(true);

    for (int i = 0; i < 3; ++i) {
        connect(sVolume[i], &ScrollBar::Change, this,
                [this, i] { sVolume_Change(static_cast<qint16>(i)); });
    }
    connect(HScroll1, &ScrollBar::Change, this, &Frm_Messages::HScroll1_Change);
    connect(Cmd_OK, &QPushButton::clicked, this, &Frm_Messages::Cmd_OK_Click);
}

void Frm_Messages::sVolume_Change(qint16 index) {
    if (!shuttingDown_) {
        player_.Set(static_cast<Player::Value>(Player::kMusicHigh + index),
                    sVolume[index]->Value());
    }
}

void Frm_Messages::HScroll1_Change() {
    Txt_Interval->setText(QString::number(HScroll1->Value()));
    if (!shuttingDown_) {
        player_.Set(Player::kInterval, HScroll1->Value());
    }
}

void Frm_Messages::Cmd_OK_Click() {
    Fme_Settings->setVisible(false);
}
