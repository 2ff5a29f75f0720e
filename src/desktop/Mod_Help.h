#pragma once

#include <QString>

class QWidget;

namespace Mod_Help {

// The program's help file: MESSAGES.html beside the executable, or installed in ../share/corvane.
QString ConfiguredHelpFile();

// Shows the contents of `helpFile` ("" for the program's own, written back into the argument) in
// a help window owned by `owner`. A missing file is reported inside that window; a failure of the
// steps themselves ends in one message box titled "Corvane".
void ShowHelp(QWidget* owner, QString& helpFile);

// The help window of `owner`, once ShowHelp has made it; null before.
QWidget* HelpWindow(QWidget* owner);

}  // namespace Mod_Help
