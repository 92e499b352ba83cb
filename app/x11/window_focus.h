// The main window never takes the keyboard focus: typed reads must go to the application the user
// works in. The window manager is told so before the window is shown, and a focus that SDL forces on
// the window at showing (it does when no window manager runs) is handed back.
#ifndef QUARNEL_APP_X11_WINDOW_FOCUS_H_
#define QUARNEL_APP_X11_WINDOW_FOCUS_H_

struct SDL_Window;

// Marks the still hidden window as one that takes no input focus (X11 input hint off, no
// WM_TAKE_FOCUS protocol). It can still be moved, minimised and closed.
void refuseKeyboardFocus(SDL_Window* window);

// Shows the window and, when showing moved the keyboard focus onto it, gives the focus back to the
// window that had it.
void showWindowWithoutFocus(SDL_Window* window);

#endif  // QUARNEL_APP_X11_WINDOW_FOCUS_H_
