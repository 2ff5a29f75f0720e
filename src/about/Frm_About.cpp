#include "about/Frm_About.h"

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include "desktop/Mod_StartDoc.h"
#include "support/Mod_Version.h"

namespace {

QFont ArialFont(double points, bool bold = false, bool underline = false) {
    QFont font(QStringLiteral("Arial"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(points);
    font.setBold(bold);
    font.setUnderline(underline);
    return font;
}

QLabel* MakePanel(QWidget* parent, const QColor& colour, const QRect& place) {
    auto* panel = new QLabel(parent);
    panel->setGeometry(place);
    panel->setAutoFillBackground(true);
    QPalette palette = panel->palette();
    palette.setColor(QPalette::Window, colour);
    panel->setPalette(palette);
    return panel;
}

QLabel* MakeLine(QWidget* parent, const QString& caption, const QRect& place, const QFont& font,
                 Qt::Alignment alignment, const QColor& colour) {
    auto* label = new QLabel(caption, parent);
    label->setGeometry(place);
    label->setFont(font);
    label->setAlignment(alignment);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
    return label;
}

}  // namespace

Frm_About::Frm_About(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("About (product name)"));
    setFixedSize(396, 257);
    // Modal to the console only: the tray icon must still answer while the window is open.
    setWindowModality(Qt::WindowModal);

    // Back to front, so that the labels lie over their panels and OK over the band.
    Picture2 = MakePanel(this, Qt::black, QRect(0, 0, 396, 64));
    Lbl_Product = MakeLine(Picture2, QStringLiteral("(product name)"), QRect(12, 6, 260, 30),
                           ArialFont(15.75, true), Qt::AlignLeft | Qt::AlignVCenter, Qt::white);
    Lbl_Version = MakeLine(Picture2, QStringLiteral("(version)"), QRect(12, 38, 260, 18),
                           ArialFont(8.25), Qt::AlignLeft | Qt::AlignVCenter, Qt::white);
    Picture1 = MakePanel(this, Qt::white, QRect(0, 64, 396, 150));
    const QFont line = ArialFont(9.75);
    constexpr Qt::Alignment kCentred = Qt::AlignHCenter | Qt::AlignVCenter;
    Lbl_Copyright = MakeLine(Picture1, QStringLiteral("(copyright)"), QRect(8, 8, 380, 20), line,
                             kCentred, Qt::black);
    Lbl_Company = MakeLine(Picture1, QStringLiteral("(company)"), QRect(8, 32, 380, 20), line,
                           kCentred, Qt::black);
    Lbl_Trademarks = MakeLine(Picture1, QStringLiteral("(trademarks)"), QRect(8, 56, 380, 20), line,
                              kCentred, Qt::black);
    Lbl_Comments = MakeLine(Picture1, QStringLiteral("(comments)"), QRect(8, 80, 380, 62), line,
                            Qt::AlignHCenter | Qt::AlignTop, Qt::black);
    Lbl_Comments->setWordWrap(true);

    Cmd_OK = new QPushButton(tr("&OK"), this);
    QFont buttonFont = ArialFont(9.75, true);
    Cmd_OK->setFont(buttonFont);
    Cmd_OK->setGeometry(300, 16, 80, 30);
    Cmd_OK->setDefault(true);

    Lbl_WWW = MakeLine(this, QStringLiteral("(web site url)"), QRect(8, 222, 380, 22),
                       ArialFont(8.25, false, true), kCentred, QColor(0, 0, 160));
    Lbl_WWW->setCursor(Qt::PointingHandCursor);
    Lbl_WWW->installEventFilter(this);

    connect(Cmd_OK, &QPushButton::clicked, this, &Frm_About::Cmd_OK_Click);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
    Form_Load();
}

void Frm_About::Form_Load() {
    const QString product = QString::fromUtf8(kProductName);
    setWindowTitle(tr("About %1").arg(product));
    Lbl_Product->setText(product);
    Lbl_Version->setText(tr("Version %1").arg(Mod_Version::VersionString()));
    Lbl_Copyright->setText(QString::fromUtf8(kCopyright));
    Lbl_Trademarks->setText(QString::fromUtf8(kTrademarks));
    Lbl_Company->setText(QString::fromUtf8(kCompany));
    Lbl_Comments->setText(QString::fromUtf8(kComments));
    Lbl_WWW->setText(www_);
}

void Frm_About::Form_Activate() {
    Lbl_WWW->setText(www_);
}

void Frm_About::Form_Deactivate() {
    close();
}

void Frm_About::Lbl_WWW_Click() {
    if (!www_.isEmpty()) {
        Mod_StartDoc::StartDoc(www_);
    }
}

void Frm_About::Cmd_OK_Click() {
    close();
}

bool Frm_About::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate) {
        Form_Activate();
    } else if (event->type() == QEvent::WindowDeactivate) {
        // Only another window of this program taking over closes the window; switching to
        // another program leaves it open. Which window is active is known once the switch is done.
        QTimer::singleShot(0, this, [this] {
            QWidget* active = QApplication::activeWindow();
            if (active != nullptr && active != this && isVisible()) {
                Form_Deactivate();
            }
        });
    }
    return QDialog::event(event);
}

bool Frm_About::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Lbl_WWW && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        Lbl_WWW_Click();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}
