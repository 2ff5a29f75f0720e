#pragma once

// Asks the top-level window titled `title` on X display `display` to close, as a window manager's
// close box does. False when the display or the window cannot be found.
bool SendCloseRequest(const char* display, const char* title);
