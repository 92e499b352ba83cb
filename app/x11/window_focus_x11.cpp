// The main window's focus refusal on X11, through SDL's native window handles.
#include "app/x11/window_focus.h"

#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <vector>

namespace {

struct NativeWindow {
  Display* display = nullptr;
  Window window = 0;
};

NativeWindow nativeWindow(SDL_Window* window) {
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (!SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11) return {};
  return {info.info.x11.display, info.info.x11.window};
}

}  // namespace

void refuseKeyboardFocus(SDL_Window* window) {
  const NativeWindow native = nativeWindow(window);
  if (native.display == nullptr) return;
  XWMHints* hints = XGetWMHints(native.display, native.window);
  XWMHints fresh{};
  XWMHints* edited = hints != nullptr ? hints : &fresh;
  edited->flags |= InputHint;
  edited->input = False;
  XSetWMHints(native.display, native.window, edited);
  if (hints != nullptr) XFree(hints);

  // With WM_TAKE_FOCUS listed, a window manager still offers the focus and SDL takes it.
  const Atom takeFocus = XInternAtom(native.display, "WM_TAKE_FOCUS", False);
  Atom* protocols = nullptr;
  int count = 0;
  if (XGetWMProtocols(native.display, native.window, &protocols, &count) != 0) {
    std::vector<Atom> kept;
    for (int n = 0; n < count; ++n) {
      if (protocols[n] != takeFocus) kept.push_back(protocols[n]);
    }
    XSetWMProtocols(native.display, native.window, kept.data(), static_cast<int>(kept.size()));
    XFree(protocols);
  }
  XFlush(native.display);
}

void showWindowWithoutFocus(SDL_Window* window) {
  const NativeWindow native = nativeWindow(window);
  Window before = None;
  int revertTo = RevertToParent;
  if (native.display != nullptr) XGetInputFocus(native.display, &before, &revertTo);
  SDL_ShowWindow(window);
  if (native.display == nullptr) return;
  Window after = None;
  int ignored = 0;
  XGetInputFocus(native.display, &after, &ignored);
  if (after == native.window && before != native.window) {
    XSetInputFocus(native.display, before == None ? PointerRoot : before, revertTo, CurrentTime);
    XFlush(native.display);
  }
}
