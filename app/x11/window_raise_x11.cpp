// The raise of a running quarnel's window, on a connection of its own to the X server.
#include "app/x11/window_raise.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <cstring>
#include <vector>

#include "app/main_window.h"
#include "app/x11/window_properties.h"

namespace {

// Another client's window can go between two requests about it; such a request simply finds nothing.
int ignoreErrors(Display*, XErrorEvent*) { return 0; }

// The items of a property, up to 65,536 of them: more than any window list holds.
std::vector<unsigned long> longProperty(Display* display, Window window, Atom property, Atom type) {
  return windowLongProperty(display, window, property, type, 1 << 16);
}

// The title exactly as stored; the program's title is plain ASCII, the same in every text encoding.
bool hasTitle(Display* display, Window window, const char* title) {
  Atom actualType = None;
  int format = 0;
  unsigned long count = 0;
  unsigned long remaining = 0;
  unsigned char* data = nullptr;
  bool same = false;
  if (XGetWindowProperty(display, window, XA_WM_NAME, 0, 256, False, AnyPropertyType, &actualType, &format, &count,
                         &remaining, &data) == Success &&
      data != nullptr) {
    same = format == 8 && count == std::strlen(title) && std::memcmp(data, title, count) == 0;
    XFree(data);
  }
  return same;
}

// The windows the window manager manages, or the root's children when none keeps the list.
std::vector<Window> topLevelWindows(Display* display, Window root) {
  const std::vector<unsigned long> managed =
      longProperty(display, root, XInternAtom(display, "_NET_CLIENT_LIST", False), XA_WINDOW);
  if (!managed.empty()) return std::vector<Window>(managed.begin(), managed.end());
  Window rootReturn = 0;
  Window parent = 0;
  Window* children = nullptr;
  unsigned count = 0;
  std::vector<Window> windows;
  if (XQueryTree(display, root, &rootReturn, &parent, &children, &count) != 0 && children != nullptr) {
    windows.assign(children, children + count);
    XFree(children);
  }
  return windows;
}

bool supportsActivation(Display* display, Window root, Atom activeWindow) {
  for (const unsigned long atom : longProperty(display, root, XInternAtom(display, "_NET_SUPPORTED", False), XA_ATOM)) {
    if (atom == activeWindow) return true;
  }
  return false;
}

}  // namespace

bool raiseProgramWindow(pid_t pid) {
  if (pid <= 0) return false;
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return false;
  const XErrorHandler previous = XSetErrorHandler(ignoreErrors);
  const Window root = DefaultRootWindow(display);
  const Atom wmPid = XInternAtom(display, "_NET_WM_PID", False);
  Window found = 0;
  for (const Window window : topLevelWindows(display, root)) {
    if (!hasTitle(display, window, MAIN_WINDOW_TITLE)) continue;
    const std::vector<unsigned long> owner = longProperty(display, window, wmPid, XA_CARDINAL);
    if (!owner.empty() && static_cast<pid_t>(owner[0]) == pid) {
      found = window;
      break;
    }
  }
  if (found != 0) {
    const Atom activeWindow = XInternAtom(display, "_NET_ACTIVE_WINDOW", False);
    if (supportsActivation(display, root, activeWindow)) {
      XEvent event{};
      event.xclient.type = ClientMessage;
      event.xclient.window = found;
      event.xclient.message_type = activeWindow;
      event.xclient.format = 32;
      // Source 2 (a pager): the request is the user's, who started the program to get to this window.
      event.xclient.data.l[0] = 2;
      event.xclient.data.l[1] = CurrentTime;
      XSendEvent(display, root, False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
    } else {
      XRaiseWindow(display, found);
    }
    XSync(display, False);
  }
  XSetErrorHandler(previous);
  XCloseDisplay(display);
  return found != 0;
}
