// Process entry of quarnel: the command line first, then the chosen camera's lock, so that one camera has
// one quarnel; then the main window on the user-interface thread, and the scanner worker on a thread of
// its own reading the chosen camera through V4L2, typing through X or a uinput virtual keyboard and
// beeping through SDL.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/clock_port.h"
#include "app/keyboard_port.h"
#include "app/linux/instance_lock.h"
#include "app/main_window.h"
#include "app/ports.h"
#include "app/program_options.h"
#include "app/read_log.h"
#include "app/scanner_worker.h"
#include "app/sound_port.h"
#include "app/x11/window_raise.h"
#include "capture/camera_listing.h"
#include "capture/v4l2/v4l2_backend.h"

namespace {

// Set once before the window starts the worker; the worker reads them until the process ends.
ScannerSettings chosenSettings;
ReadLogPort chosenLog;

constexpr const char* INSTANCE_NO_LOCK_NOTE = "running without the lock, so a second quarnel may read the same camera";

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

// The key of the camera the options choose, as the worker will open it: an index is the node the camera
// listing gives for it, a path the node it resolves to. A camera that is not there yet (no device with
// that index, or no such node) is keyed by the choice as given, the index or the path, so that two starts
// with the same choice still exclude each other.
InstanceKey chosenCameraKey(const CameraChoice& camera) {
  if (!camera.path.empty()) return nodeInstanceKey(camera.path);
  const std::unique_ptr<CaptureBackend> backend = makeV4l2Backend();
  for (const CameraListing& listed : listCameras(*backend)) {
    if (listed.index == camera.index) return nodeInstanceKey(listed.path);
  }
  return indexInstanceKey(camera.index);
}

// Takes the chosen camera's lock. When another quarnel holds it, says so on standard error and in the
// error box, brings that quarnel's window to the front, and ends the process. When no lock can be made,
// says so and lets the program run without one: a missing lock must not cost the user the scanner.
InstanceLock lockChosenCamera(const CameraChoice& camera) {
  const LockFolder folder = instanceLockFolder(std::getenv("XDG_RUNTIME_DIR"), "/tmp", getuid());
  if (!folder.error.empty()) {
    std::fprintf(stderr, "quarnel: %s; %s\n", folder.error.c_str(), INSTANCE_NO_LOCK_NOTE);
    return {};
  }
  const InstanceKey key = chosenCameraKey(camera);
  InstanceLock lock = lockInstance(folder.path, key);
  if (lock.state == InstanceLockState::Unavailable) {
    std::fprintf(stderr, "quarnel: %s; %s\n", lock.error.c_str(), INSTANCE_NO_LOCK_NOTE);
  } else if (lock.state == InstanceLockState::Taken) {
    const std::string text = alreadyRunningText(key);
    // Written here and shown in the box; showStartupError would write it a second time without a display.
    std::fprintf(stderr, "%s\n", text.c_str());
    raiseProgramWindow(lock.holder);
    showErrorBox(text.c_str());
    endProcess(INSTANCE_EXIT_ALREADY_RUNNING);
  }
  return lock;
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
  // Held until the process ends: endProcess never returns, so the descriptor is never closed.
  const InstanceLock cameraLock = lockChosenCamera(options.settings.camera);

  if (!options.logPath.empty()) {
    // Past the file size limit a write is to fail with EFBIG, which the log reports as it does a full disk;
    // the signal's default would end the program instead.
    std::signal(SIGXFSZ, SIG_IGN);
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
