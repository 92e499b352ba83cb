// Process entry of quarnel: the main window on the user-interface thread, and the scanner worker on a
// thread of its own reading capture device 0 through V4L2, typing through X or a uinput virtual keyboard
// and beeping through SDL.
#include <cstdio>
#include <memory>
#include <thread>

#include "app/clock_port.h"
#include "app/keyboard_port.h"
#include "app/main_window.h"
#include "app/ports.h"
#include "app/scanner_worker.h"
#include "app/sound_port.h"
#include "capture/v4l2_backend.h"

namespace {

// Runs on the user-interface thread once the window exists; the worker runs until the process ends.
void startScannerThread(const PreviewPort& preview) {
  const AppPorts ports{openKeyboard(), openSdlSound(), monotonicClock(), preview};
  std::thread([ports] {
    const std::unique_ptr<CaptureBackend> backend = makeV4l2Backend();
    runScannerWorker(*backend, ports);
  }).detach();
}

}  // namespace

int main() {
  // The capture diagnostics are read as they happen, also through a pipe.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  endProcess(runMainWindow(startScannerThread));
}
