#pragma once

#include <QScrollBar>

// A scroll bar that holds its value on its own scale, where Min may lie above Max (a volume slider
// runs from 100 at the top to 0 at the bottom), and raises Change once per completed change: an
// arrow or track click, or the release of a dragged thumb — never while the thumb moves.
class ScrollBar : public QScrollBar {
    Q_OBJECT

public:
    ScrollBar(Qt::Orientation orientation, int min, int max, int smallChange, int largeChange,
              int value, QWidget* parent = nullptr);

    int Min() const { return min_; }
    int Max() const { return max_; }
    int Value() const;
    // Values outside the range are clamped into it.
    void SetValue(int value);

signals:
    void Change();

private:
    int ToQt(int value) const;

    int min_;
    int max_;
};
