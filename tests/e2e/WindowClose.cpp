// Kept apart from the Qt code: Xlib's macros clash with Qt's names.

#include "WindowClose.h"

#include <X11/Xlib.h>

#include <cstring>

bool SendCloseRequest(const char* display, const char* title) {
    Display* x = XOpenDisplay(display);
    if (x == nullptr)
        return false;
    bool sent = false;
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    if (XQueryTree(x, DefaultRootWindow(x), &root, &parent, &children, &count) != 0) {
        for (unsigned i = 0; i < count && !sent; ++i) {
            char* name = nullptr;
            if (XFetchName(x, children[i], &name) == 0 || name == nullptr)
                continue;
            if (std::strcmp(name, title) == 0) {
                XEvent event{};
                event.xclient.type = ClientMessage;
                event.xclient.window = children[i];
                event.xclient.message_type = XInternAtom(x, "WM_PROTOCOLS", False);
                event.xclient.format = 32;
                event.xclient.data.l[0] =
                    static_cast<long>(XInternAtom(x, "WM_DELETE_WINDOW", False));
                event.xclient.data.l[1] = CurrentTime;
                XSendEvent(x, children[i], False, NoEventMask, &event);
                sent = true;
            }
            XFree(name);
        }
        if (children != nullptr)
            XFree(children);
    }
    XCloseDisplay(x);  // which sends the event
    return sent;
}
