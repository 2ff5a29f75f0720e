#pragma once

#include <QDialog>
#include <QList>
#include <array>
#include <optional>

#include "scheduler/Schedule.h"

class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;

// File > Schedule...: the opening hours, the closed dates, the timed messages, the dayparts and
// the music's levels, as the settings file writes them. What is typed is checked as it is typed;
// OK stays off while anything is wrong, and the first fault is shown.
class Frm_Schedule : public QDialog {
    Q_OBJECT

public:
    // `lines`: the four sections as the file has them. `locate` finds a timed message's file by
    // the name written.
    Frm_Schedule(const Schedule::Sections& lines, Schedule::Locate locate,
                 QWidget* parent = nullptr);

    // The sections' lines as they will be written.
    QList<QByteArray> ScheduleLines() const;
    QList<QByteArray> TimedLines() const;
    QList<QByteArray> DaypartLines() const;
    QList<QByteArray> LevelLines() const;
    // What is wrong with what is typed, naming the field; nothing when all is well.
    std::optional<QString> Problem() const;

    std::array<QLineEdit*, 7> Txt_Day{};  // Monday first; empty: open all day
    QLineEdit* Txt_Closed;
    QPlainTextEdit* Txt_Timed;
    QPlainTextEdit* Txt_Dayparts;
    QPlainTextEdit* Txt_Levels;
    QLabel* Lbl_Problem;
    QDialogButtonBox* Buttons;

private:
    void Recheck();

    Schedule::Locate locate_;
};
