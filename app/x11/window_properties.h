// Window properties of 32-bit items (windows, atoms, cardinals), read the one way every X11 layer reads
// them.
#ifndef QUARNEL_APP_X11_WINDOW_PROPERTIES_H_
#define QUARNEL_APP_X11_WINDOW_PROPERTIES_H_

#include <vector>

#include <X11/Xlib.h>

// At most maxItems items of the window's property of the given type; none when the window has no such
// property, it holds another type or format, or the window is gone (the caller traps that error).
std::vector<unsigned long> windowLongProperty(Display* display, Window window, Atom property, Atom type, long maxItems);

#endif  // QUARNEL_APP_X11_WINDOW_PROPERTIES_H_
