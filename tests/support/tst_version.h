#pragma once

#include <QObject>

// Mod_Version: the version text shown in the console and the About window.
class VersionTest : public QObject {
    Q_OBJECT

private slots:
    void versionString_data();
    void versionString();
    void thisRelease();
};
