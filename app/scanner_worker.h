// The scanner worker: the one background thread that fetches frames, decodes them with the whole read,
// draws every symbol found, hands the first to the keyboard wedge and passes a scaled copy of the frame
// to the preview.
#ifndef QUARNEL_APP_SCANNER_WORKER_H_
#define QUARNEL_APP_SCANNER_WORKER_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <opencv2/core/core_c.h>

#include "app/keyboard_wedge.h"
#include "app/ports.h"
#include "app/settings.h"
#include "capture/capture_manager.h"
#include "decoder/decoder.h"

constexpr int SCANNER_DEVICE = 0;
constexpr int SCANNER_FRAME_RATE = 15;
constexpr int SCANNER_REQUESTED_WIDTH = 640;
constexpr int SCANNER_REQUESTED_HEIGHT = 480;
constexpr std::uint32_t SCANNER_OPEN_PAUSE_MS = 1000;
constexpr int SCANNER_MISSES_BEFORE_RECONNECT = 5;
constexpr std::uint32_t SCANNER_MIN_DECODE_MS = 100;
constexpr int SCANNER_EXTRA_LOOK_TURNS = 5040;  // the turn counts round; divisible by any number of looks to 10
// Label geometry, all times the frame width.
constexpr float SCANNER_LABEL_BAND = 0.047f;
constexpr float SCANNER_LABEL_WIDTH = 0.8f;
constexpr float SCANNER_FONT_SCALE = 0.0008f;
constexpr double SCANNER_LABEL_BASELINE = 0.03125;

// The whole read of one frame in scanImageMessages' form: every symbol with its whole message, however
// long, NUL bytes included; 0, or -1 when the image could not be read.
using ScanFunction = std::function<int(IplImage* grey, std::vector<DecodedSymbol>* symbols)>;

// The worker's state, private to its thread. Owns its images.
struct ScannerWorker {
  ScannerWorker() = default;
  ~ScannerWorker();
  ScannerWorker(const ScannerWorker&) = delete;
  ScannerWorker& operator=(const ScannerWorker&) = delete;

  // One extra look a frame, in turn (tests may put a scripted read here).
  ScanFunction scan = [turn = 0](IplImage* grey, std::vector<DecodedSymbol>* symbols) mutable {
    const int look = turn;
    turn = turn < SCANNER_EXTRA_LOOK_TURNS - 1 ? turn + 1 : 0;
    return scanImageMessages(grey, symbols, nullptr, look);
  };
  IplImage* colour = nullptr;           // B, G, R, rows top-down, packed rows; null while the size is 0 x 0
  std::vector<std::uint8_t> colourPixels;
  IplImage* grey = nullptr;             // made at the first processed cycle
  // The symbols of the last frame, at most DECODE_MAX_RESULTS: whole messages for the wedge, and each
  // one's outline with its text as a label (the message as UTF-8, cut to the record's size).
  std::vector<DecodedSymbol> symbols;
  DecodeResult results[DECODE_MAX_RESULTS]{};
  int count = 0;
  int missCount = 0;
  KeyboardWedge wedge;
  ScannerSettings settings;      // set before startScanner
  int device = SCANNER_DEVICE;   // the capture slot in use: the chosen camera's index at the last open
  bool frameArrived = false;     // a frame has been copied since the worker started
  std::string lastSkipReason;    // why the last cycle that failed gave its frame up; said once until it changes
};

// How long the preview's band says that a read was not typed, and why.
constexpr std::uint32_t SCANNER_NO_FOCUS_NOTE_MS = 3000;

// The preview size for a client area: width a multiple of 16, height three quarters of it. 0 x 0 when
// the area is empty or too small.
struct PreviewSize {
  int width = 0;
  int height = 0;
};
PreviewSize previewSizeFor(const PreviewRect& clientArea);

// Opens the chosen camera (device 0 by default), sizes the colour image to its frames and pauses.
void startScanner(ScannerWorker& worker, CaptureManager& capture, const AppPorts& ports);
// One frame: acquisition (or reconnect), grey conversion, the whole read, overlay and confirmation of
// every result, preview and pacing. A cycle that fails (memory runs out, a library refuses) gives its
// frame up, says why on standard error once until the reason changes, and pauses; the next cycle goes
// on, so that no fault of one frame ends the program.
void runScannerCycle(ScannerWorker& worker, CaptureManager& capture, const AppPorts& ports);
// Draws result i's outline and label onto the colour image.
void drawResult(IplImage* colour, int i, const DecodeResult& result);

// The thread routine: constructs the capture manager on the backend, starts with the settings, and
// runs `cycles` cycles; a negative count (the program's) runs for ever.
void runScannerWorker(CaptureBackend& backend, const AppPorts& ports, long cycles = -1,
                      const ScannerSettings& settings = ScannerSettings{});

#endif  // QUARNEL_APP_SCANNER_WORKER_H_
