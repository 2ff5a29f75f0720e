#pragma once

#include <QWidget>

// The volume meter: a green column rising from the bottom on a scale of 0 to 100. It keeps the
// last level drawn, so a repaint of the window shows it again.
class VolumeMeter : public QWidget {
    Q_OBJECT

public:
    explicit VolumeMeter(QWidget* parent = nullptr);

    // Draws the column for `level`; -1 (or anything below 1) shows an empty meter.
    void Draw(int level);
    int Level() const { return level_; }

    static constexpr QColor kColumnColor{0, 128, 0};

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int level_ = -1;
};
