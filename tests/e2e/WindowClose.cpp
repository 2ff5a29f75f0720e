// Kept apart from the Qt code: Xlib's macros clash with Qt's names.

#include "WindowClose.h"

#include <X11/Xlib.h>

#include <cstring>

bool SendCloseRequest(const char* display, const char* title) {
    Display* x = XOpenDisplay(display);
    if (x == nullptr) {
        return false;
    }
    bool sent = false;
    Window rootReturn = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    if (XQueryTree(x, DefaultRootWindow(x), &rootReturn, &parent, &children, &count) != 0) {
        const Atom protocols = XInternAtom(x, "WM_PROTOCOLS", False);
        const Atom deleteWindow = XInternAtom(x, "WM_DELETE_WINDOW", False);
        for (unsigned i = 0; i < count && !sent; ++i) {
            char* name = nullptr;
            if (XFetchName(x, children[i], &name) != 0 && name != nullptr) {
                if (std::strcmp(name, title) == 0) {
                    XEvent event{};
                    event.xclient.type = ClientMessage;
                    event.xclient.window = children[i];
                    event.xclient.message_type = protocols;
                    event.xclient.format = 32;
                    event.xclient.data.l[0] = static_cast<long>(deleteWindow);
                    event.xclient.data.l[1] = CurrentTime;
                    XSendEvent(x, children[i], False, NoEventMask, &event);
                    XFlush(x);
                    sent = true;
                }
                XFree(name);
            }
        }
        if (children != nullptr) {
            XFree(children);
        }
    }
    XCloseDisplay(x);
    return sent;
}
