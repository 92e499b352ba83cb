// The main window: a small always-on-top window whose whole client area is the preview control, and
// the polling message loop of the user-interface thread.
#ifndef QUARNEL_APP_MAIN_WINDOW_H_
#define QUARNEL_APP_MAIN_WINDOW_H_

#include <functional>

#include "app/preview_port.h"

struct SDL_Surface;

constexpr const char* MAIN_WINDOW_TITLE = "Quarnel";
// The client area left inside the 646 x 512 outer size of a captioned, bordered window.
constexpr int MAIN_CLIENT_WIDTH = 640;
constexpr int MAIN_CLIENT_HEIGHT = 484;

// Exit codes of runMainWindow.
// The window system or the window could not be set up: a failure, so not 0, and not the closed window's 1.
constexpr int MAIN_EXIT_NO_WINDOW = 3;
constexpr int MAIN_EXIT_CLOSED = 1;     // the window was closed
// The connection to the display broke while the program ran; the process ends with it.
constexpr int MAIN_EXIT_DISPLAY_LOST = 4;

constexpr const char* MAIN_ERROR_TITLE = "Error";
constexpr const char* MAIN_ERROR_NO_DISPLAY = "Cannot register class";
constexpr const char* MAIN_ERROR_NO_WINDOW = "Cannot create window";

// Starts the scanner worker once the window and its preview exist. The port stays valid for the life
// of the process; the worker is never stopped.
using WorkerStart = std::function<void(const PreviewPort& preview)>;

// The process entry's work: sets up SDL video and the main window, starts the worker and runs the
// message loop. Returns MAIN_EXIT_NO_WINDOW after reporting a start-up failure with
// showStartupError, and MAIN_EXIT_CLOSED once the window has been closed; the worker may still be
// running then, so the caller ends the process with endProcess. When the display goes away meanwhile,
// the process ends from within, with MAIN_EXIT_DISPLAY_LOST and one line on standard error.
int runMainWindow(const WorkerStart& startWorker);

// Shows a start-up error in a box titled "Error"; when no box can be shown (no display), writes the
// text as a line on standard error instead.
void showStartupError(const char* text);

// The box alone, for an error already written on standard error: shows it until it is dismissed, and
// returns false when none can be shown.
bool showErrorBox(const char* text);

// The program's 32 x 32 icon, 16 colours at most, with transparent corners; null when SDL cannot make
// the surface. The caller frees it.
SDL_Surface* makeProgramIcon();

// Ends the process at once with the exit code, after flushing standard output and error. No static
// destructor or exit handler runs, so nothing is torn down under the still-running worker.
[[noreturn]] void endProcess(int exitCode);

#endif  // QUARNEL_APP_MAIN_WINDOW_H_
