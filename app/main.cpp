// Process entry of quarnel: the command line first; then the main window on the user-interface thread,
// and the scanner worker on a thread of its own reading the chosen camera through V4L2, typing through X
// or a uinput virtual keyboard and beeping through SDL.
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/clock_port.h"
#include "app/keyboard_port.h"
#include "app/main_window.h"
#include "app/ports.h"
#include "app/program_options.h"
#include "app/read_log.h"
#include "app/scanner_worker.h"
#include "app/sound_port.h"
#include "capture/camera_listing.h"
#include "capture/v4l2/v4l2_backend.h"

namespace {

// Set once before the window starts the worker; the worker reads them until the process ends.
ScannerSettings chosenSettings;
ReadLogPort chosenLog;

// Runs on the user-interface thread once the window exists; the worker runs until the process ends.
// The keyboard and the sound device are opened on the worker's thread: opening the audio driver takes
// tens of milliseconds, which would otherwise hold the window back from showing.
void startScannerThread(const PreviewPort& preview) {
  std::thread([preview, settings = chosenSettings, log = chosenLog] {
    const AppPorts ports{openKeyboard(), openSdlSound(), monotonicClock(), preview, log};
    const std::unique_ptr<CaptureBackend> backend = makeV4l2Backend();
    runScannerWorker(*backend, ports, -1, settings);
  }).detach();
}

int listCamerasAndExit() {
  const std::unique_ptr<CaptureBackend> backend = makeV4l2Backend();
  std::fputs(formatCameraListing(listCameras(*backend)).c_str(), stdout);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // The capture diagnostics are read as they happen, also through a pipe.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  const ParsedOptions parsed = parseProgramOptions(std::vector<std::string>(argv + 1, argv + argc));
  if (!parsed.error.empty()) {
    std::fprintf(stderr, "quarnel: %s\n%s\n", parsed.error.c_str(), programUsageLine());
    return OPTIONS_EXIT_USAGE;
  }
  const ProgramOptions& options = parsed.options;
  switch (options.action) {
    case ProgramAction::ShowHelp: std::fputs(programHelpText(), stdout); return 0;
    case ProgramAction::ShowVersion: std::fputs(programVersionText().c_str(), stdout); return 0;
    case ProgramAction::ListCameras: return listCamerasAndExit();
    case ProgramAction::Run: break;
  }

  if (!options.logPath.empty()) {
    // Never closed: the worker may append to it until the process ends.
    auto* logFile = new ReadLogFile;
    std::string error;
    if (!openReadLog(*logFile, options.logPath, &error)) {
      std::fprintf(stderr, "quarnel: cannot open the log %s\n", error.c_str());
      delete logFile;
      return OPTIONS_EXIT_USAGE;
    }
    chosenLog = makeReadLogPort(*logFile);
  }
  chosenSettings = options.settings;
  endProcess(runMainWindow(startScannerThread));
}
