#include "desktop/Mod_SystemTray.h"

#include <QCoreApplication>
#include <QCursor>
#include <QMouseEvent>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QWidget>

namespace Mod_SystemTray {

namespace {

constexpr int kTipCapacity = 63;

IconRecord& TheRecord() {
    static IconRecord record;
    return record;
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
    record.icon = new QSystemTrayIcon(window->windowIcon(), window);
    record.icon->setToolTip(record.tip);
    // The icon belongs to its window: when the window goes without a TrayRemoveIcon, the record
    // must not go on naming an icon and a window that no longer exist.
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

void TrayRemoveIcon() {
    IconRecord& record = TheRecord();
    if (record.icon == nullptr) {
        return;
    }
    record.icon->hide();
    // Removal can come from within the icon's own click (its Exit item): delete it once that is
    // over.
    record.icon->deleteLater();
    record = IconRecord{};
}

const IconRecord& Record() {
    return TheRecord();
}

bool TrayAvailable() {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

}  // namespace Mod_SystemTray
