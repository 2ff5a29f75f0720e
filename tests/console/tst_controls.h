#pragma once

#include <QObject>

// The console's controls as a user meets them: slider and spin-box ranges and steps, change
// events only for completed changes, volume changes applied by the message channel's state, the
// interval read-out, the settings panel, the menus, the volume meter and the file lists.
class ControlsTest : public QObject {
    Q_OBJECT

private slots:
    void timerTicksEverySecond();
    void scrollSteps_data();
    void scrollSteps();
    void arrowAndTrackClicks_data();
    void arrowAndTrackClicks();
    void dragReportsOnRelease_data();
    void dragReportsOnRelease();
    void volumeChange_data();
    void volumeChange();
    void intervalReadout_data();
    void intervalReadout();
    void settingsPanel_data();
    void settingsPanel();
    void menus();
    void meterHeight_data();
    void meterHeight();
    void fileList_data();
    void fileList();
    void fileListSelection();
};
