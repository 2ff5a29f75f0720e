#pragma once

#include <QObject>

// Reading stored settings as numbers: a settings file edited by hand, or left by another release,
// must never put a control out of its range or stop the program.
class SettingValueTest : public QObject {
    Q_OBJECT

private slots:
    void textToNumber_data();
    void textToNumber();
    void textToSettingValue_data();
    void textToSettingValue();
};
