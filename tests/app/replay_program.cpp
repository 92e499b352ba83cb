// Test-only program: quarnel's whole life on a fake camera that films the replay scene. The window, the worker, the keyboard and
// the sound are the program's own; only the camera is replaced. The camera starts on an empty scene;
// SIGUSR2 puts the symbol of the text given as the one argument in front of it, SIGUSR1 takes it away.
// Every preview handed to the window is reported on standard output as "preview WIDTHxHEIGHT".
#include <atomic>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include "app/clock_port.h"
#include "app/keyboard_port.h"
#include "app/main_window.h"
#include "app/ports.h"
#include "app/scanner_worker.h"
#include "app/sound_port.h"
#include "tests/app/replay_scene.h"
#include "tests/support/fake_camera.h"

namespace {

std::atomic<bool> showSymbol{false};

void onSceneSignal(int signal) { showSymbol = signal == REPLAY_SHOW_SYMBOL_SIGNAL; }

// Made before the worker starts; the process ends without running destructors, so they outlive every
// frame the streaming thread hands over.
std::vector<std::uint8_t> symbolSample;
std::vector<std::uint8_t> emptySample;

const std::vector<std::uint8_t>& currentFrame() { return showSymbol ? symbolSample : emptySample; }

void startReplayWorker(const PreviewPort& preview) {
  PreviewPort reported = preview;
  reported.showPreview = [show = preview.showPreview](const IplImage* image) {
    if (image != nullptr) std::printf("preview %dx%d\n", image->width, image->height);
    show(image);
  };
  const AppPorts ports{openX11Keyboard(), openSdlSound(), monotonicClock(), reported, ReadLogPort{}};
  std::thread([ports] {
    FakeCamera camera(REPLAY_FRAME_WIDTH, REPLAY_FRAME_HEIGHT, [] {
      const std::vector<std::uint8_t>& frame = currentFrame();
      return FakeSample{frame.data(), static_cast<std::int32_t>(frame.size()), 1000000 / REPLAY_FRAMES_PER_SECOND};
    });
    camera.setFrameTime(10000000 / REPLAY_FRAMES_PER_SECOND);
    runScannerWorker(camera, ports);
  }).detach();
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s TEXT\n", argv[0]);
    return 2;
  }
  const auto symbol = renderReplaySymbol(argv[1]);
  if (!symbol) {
    std::fprintf(stderr, "%s: the text does not fit a symbol\n", argv[0]);
    return 2;
  }
  symbolSample = cameraSampleOf(symbol->grey);
  emptySample = cameraSampleOf(emptyReplayFrame());

  struct sigaction action {};
  action.sa_handler = onSceneSignal;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  sigaction(REPLAY_SHOW_EMPTY_SIGNAL, &action, nullptr);
  sigaction(REPLAY_SHOW_SYMBOL_SIGNAL, &action, nullptr);

  endProcess(runMainWindow(startReplayWorker));
}
