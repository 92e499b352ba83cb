// The connection to the X server can break while the program runs (the server ends, the session is
// logged out, a remote display goes away). Xlib's own answer is exit(): exit handlers and static
// destructors would then run on one thread while the scanner worker still decodes on another, and the
// process would crash instead of ending.
#ifndef QUARNEL_APP_X11_DISPLAY_LOSS_H_
#define QUARNEL_APP_X11_DISPLAY_LOSS_H_

// Called once, on whichever thread noticed the loss first, with the display's name; it must end the
// process without returning.
using DisplayLossEnd = void (*)(const char* displayName);

// Replaces Xlib's process-wide handlers: a broken connection calls `end` (once, however many threads
// notice), and a protocol error in a request is reported on standard error, a few lines at most, and
// the program goes on, where Xlib would end it. Installed after the window system is set up, so that
// no handler of the toolkit's replaces them.
void handleDisplayLoss(DisplayLossEnd end);

// The line written on standard error when the connection is lost.
constexpr const char* DISPLAY_LOST_TEXT = "quarnel: lost the connection to the display";

#endif  // QUARNEL_APP_X11_DISPLAY_LOSS_H_
