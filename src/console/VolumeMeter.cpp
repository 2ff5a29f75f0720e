#include "console/VolumeMeter.h"

#include <QPainter>
#include <algorithm>

VolumeMeter::VolumeMeter(QWidget* parent) : QWidget(parent) {
    setAutoFillBackground(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void VolumeMeter::Draw(int level) {
    level_ = level;
    repaint();
}

void VolumeMeter::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Base));
    // User scale: 0 at the bottom edge, 100 at the top.
    const int shown = std::clamp(level_, 0, 100);
    const int columnHeight = (height() * shown + 50) / 100;
    if (columnHeight > 0) {
        painter.fillRect(0, height() - columnHeight, width(), columnHeight, kColumnColor);
    }
}
