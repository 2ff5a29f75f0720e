#pragma once

#include <QString>

// Where the program lives: the folder that holds its media folders and settings file, the name of
// the settings file (the executable's name without extension), and the folder of the executable,
// beside which (or in ../share/corvane) its own files such as the help are found.
struct ProgramLocation {
    QString folder;
    QString baseName;
    QString executableFolder;
    QString executable;
};

// Decides the program folder, once, before anything asks for it: `requested` when given (it must
// exist and be writable), otherwise the executable's folder when it is a portable one that can be
// written, otherwise (installed) the per-user data folder ($XDG_DATA_HOME/corvane), made if
// missing. Returns what went wrong, or "".
QString ChooseProgramFolder(const QString& requested);

// Asked of the platform once, on first use: the program asks at start-up, so an executable
// replaced on disk while it runs (an upgrade, a rebuild) cannot move where the settings go.
// Without a choice made, the program folder is the executable's.
const ProgramLocation& Program();
