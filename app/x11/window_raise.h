// Bringing the main window of a running quarnel to the front, for a second start that found its camera
// taken: the user most likely started it looking for that window.
#ifndef QUARNEL_APP_X11_WINDOW_RAISE_H_
#define QUARNEL_APP_X11_WINDOW_RAISE_H_

#include <sys/types.h>

// Asks for the top-level window titled "Quarnel" whose _NET_WM_PID is pid to be brought to the front of
// the X display DISPLAY names: through the window manager (_NET_ACTIVE_WINDOW, which also restores a
// minimised window) when one runs, else by raising it directly. Its keyboard focus rules are the
// window's own. False when there is no display or no such window.
bool raiseProgramWindow(pid_t pid);

#endif  // QUARNEL_APP_X11_WINDOW_RAISE_H_
