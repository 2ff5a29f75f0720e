#pragma once

#include <QString>

// Where the program lives: the folder that holds its executable (and so its media folders, help
// file and settings file) and the executable's name without extension.
struct ProgramLocation {
    QString folder;
    QString baseName;
};

// Asked of the platform once, on first use; the program asks at start-up, so an executable
// replaced on disk while it runs (an upgrade, a rebuild) cannot move where the settings go.
const ProgramLocation& Program();
