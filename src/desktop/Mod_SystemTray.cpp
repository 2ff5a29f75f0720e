#include "desktop/Mod_SystemTray.h"

#include <QCoreApplication>
#include <QCursor>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QWidget>
#include <algorithm>

namespace Mod_SystemTray {

namespace {

constexpr int kTipCapacity = 63;
// The sizes a notification area asks an icon for.
constexpr int kTraySizes[] = {16, 22, 32, 48, 64};

IconRecord& TheRecord() {
    static IconRecord record;
    return record;
}

// `plain` with an amber disc in its lower right quarter bearing a dark "!", drawn as a bar and a
// dot rather than a letter so that it stays sharp at 16 pixels.
QIcon Badged(const QIcon& plain) {
    QIcon badged;
    for (const int size : kTraySizes) {
        QPixmap pixmap = plain.pixmap(size);
        const qreal side = std::min(pixmap.deviceIndependentSize().width(),
                                    pixmap.deviceIndependentSize().height());
        const QRectF disc(side / 2, side / 2, side / 2, side / 2);
        const qreal bar = std::max(2.0, disc.width() / 5);
        const qreal x = disc.center().x() - bar / 2;
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0xff, 0xb3, 0x00));
        painter.drawEllipse(disc);
        painter.setBrush(QColor(0x20, 0x20, 0x20));
        painter.drawRect(QRectF(x, disc.top() + disc.height() * 0.18, bar, disc.height() * 0.42));
        painter.drawRect(QRectF(x, disc.top() + disc.height() * 0.68, bar, bar));
        painter.end();
        badged.addPixmap(pixmap);
    }
    return badged;
}

QIcon IconOf(const QWidget* window, bool warning) {
    return warning ? Badged(window->windowIcon()) : window->windowIcon();
}

void ReportButton(QWidget* window, Qt::MouseButton button) {
    if (window == nullptr) {
        return;
    }
    const QPointF global = QCursor::pos();
    QMouseEvent move(QEvent::MouseMove, window->mapFromGlobal(global), global, Qt::NoButton, button,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(window, &move);
}

}  // namespace

void TraySetTip(const QString& tip) {
    IconRecord& record = TheRecord();
    if (record.icon != nullptr) {
        record.tip = tip.left(kTipCapacity);
        record.icon->setToolTip(record.tip);
    }
}

void TrayAddIcon(QWidget* window, const QString& tip) {
    IconRecord& record = TheRecord();
    if (record.icon != nullptr) {
        return;  // one icon for the whole run
    }
    record.window = window;
    record.tip = tip.left(kTipCapacity);
    record.icon = new QSystemTrayIcon(IconOf(window, record.warning), window);
    record.icon->setToolTip(record.tip);
    // The icon belongs to its window: when the window goes without a TrayRemoveIcon, the record
    // must not go on naming an icon and a window that no longer exist, nor keep that window's
    // warning.
    QSystemTrayIcon* icon = record.icon;
    QObject::connect(icon, &QObject::destroyed, [icon] {
        if (TheRecord().icon == icon) {
            TheRecord() = IconRecord{};
        }
    });
    QPointer<QWidget> owner(window);
    QObject::connect(record.icon, &QSystemTrayIcon::activated,
                     [owner](QSystemTrayIcon::ActivationReason reason) {
                         if (reason == QSystemTrayIcon::Trigger) {
                             ReportButton(owner, Qt::LeftButton);
                         } else if (reason == QSystemTrayIcon::Context) {
                             ReportButton(owner, Qt::RightButton);
                         }
                     });
    record.icon->show();
}

void TraySetWarning(bool on) {
    IconRecord& record = TheRecord();
    if (record.warning == on) {
        return;
    }
    record.warning = on;
    if (record.icon != nullptr) {
        record.icon->setIcon(IconOf(record.window, on));
    }
}

void TrayRemoveIcon() {
    IconRecord& record = TheRecord();
    if (record.icon == nullptr) {
        return;
    }
    record.icon->hide();
    // Removal can come from within the icon's own click (its Exit item): delete it once that is
    // over.
    record.icon->deleteLater();
    const bool warning = record.warning;
    record = IconRecord{};
    record.warning = warning;
}

const IconRecord& Record() {
    return TheRecord();
}

bool TrayAvailable() {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

}  // namespace Mod_SystemTray
