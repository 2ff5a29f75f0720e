#pragma once

#include <QObject>

// The console coming up and going down: media folders, settings into the controls, the first music
// file, the close box against the ends that really end the program, the settings written once at
// the end, and the notification-area icon that is the way back to a hidden console.
class LifecycleTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void startUp_data();
    void startUp();
    void firstFiles_data();
    void firstFiles();

    void shutdown_data();
    void shutdown();
    void closeBox_data();
    void closeBox();
    void shutdownWithUnwritableSettings();

    void mouseMove_data();
    void mouseMove();
    void popUpShow_data();
    void popUpShow();

    void trayRemoveWithoutAdd();
    void trayAdd_data();
    void trayAdd();
    void trayRecordGoesWithItsWindow();
};
