#include "console/ScrollBar.h"

#include <algorithm>

ScrollBar::ScrollBar(Qt::Orientation orientation, int min, int max, int smallChange,
                     int largeChange, int value, QWidget* parent)
    : QScrollBar(orientation, parent), min_(min), max_(max) {
    setRange(std::min(min, max), std::max(min, max));
    setSingleStep(smallChange);
    setPageStep(largeChange);
    setTracking(false);
    setValue(ToQt(value));
    connect(this, &QAbstractSlider::valueChanged, this, &ScrollBar::Change);
}

// Qt's scroll bars grow from top (or left) to bottom; ours put Min there, whichever is larger.
int ScrollBar::ToQt(int value) const {
    const int clamped = std::clamp(value, std::min(min_, max_), std::max(min_, max_));
    return min_ <= max_ ? clamped : min_ + max_ - clamped;
}

int ScrollBar::Value() const {
    return min_ <= max_ ? value() : min_ + max_ - value();
}

void ScrollBar::SetValue(int value) {
    setValue(ToQt(value));
}
