// The scanner worker's start-up and frame cycle.
#include "app/scanner_worker.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <string_view>

#include "app/preview_notice.h"
#include "capture/camera_listing.h"
#include "decoder/cv_handles.h"
#include "text/charset.h"
#include "text/utf8.h"

#include <opencv2/imgproc/imgproc_c.h>
#include <opencv2/core.hpp>

namespace {

// The colour of CV_RGB for the C drawing calls: the image's bytes are B, G, R.
CvScalar rgbColour(double red, double green, double blue) { return cvScalar(blue, green, red, 0); }

void releaseFrameImages(ScannerWorker& worker) {
  if (worker.grey != nullptr) cvReleaseImage(&worker.grey);
  if (worker.colour != nullptr) cvReleaseImageHeader(&worker.colour);
  worker.colourPixels.clear();
  worker.colourPixels.shrink_to_fit();
}

// Sizes colour to the device's current frames; grey follows at the next processed cycle. colour's rows
// are packed (width x 3 bytes, as copyFrame writes them) whatever the width, so no width can shear the
// picture. A 0 x 0 size leaves no images.
void fitFrameImages(ScannerWorker& worker, CaptureManager& capture) {
  const int width = capture.frameWidth(worker.device);
  const int height = capture.frameHeight(worker.device);
  if (worker.colour != nullptr && worker.colour->width == width && worker.colour->height == height) return;
  releaseFrameImages(worker);
  if (width <= 0 || height <= 0) return;
  worker.colourPixels.assign(static_cast<std::size_t>(width) * height * 3, 0);
  worker.colour = cvCreateImageHeader(cvSize(width, height), IPL_DEPTH_8U, 3);
  cvSetData(worker.colour, worker.colourPixels.data(), width * 3);
}

// The slot of the chosen camera. A camera chosen by its node is looked up at every open, as its index
// changes when devices come and go; -1, which every operation refuses, while the node is missing.
int chosenDevice(const CameraChoice& camera, CaptureManager& capture) {
  if (camera.path.empty()) return camera.index;
  const int index = findCameraIndex(capture.captureBackend(), camera.path);
  if (index < 0) std::printf("SETUP: device %s not found\n", camera.path.c_str());
  return index;
}

void openScannerDevice(ScannerWorker& worker, CaptureManager& capture) {
  worker.device = chosenDevice(worker.settings.camera, capture);
  capture.setRequestedFrameRate(worker.device, SCANNER_FRAME_RATE);
  // The sized open is refused when the default open has succeeded: 640 x 480 only as a fallback.
  capture.openDevice(worker.device);
  capture.openDevice(worker.device, SCANNER_REQUESTED_WIDTH, SCANNER_REQUESTED_HEIGHT);
}

// Polls until a frame is copied or a reconnect is due. missCount is left as it is after a reconnect,
// so that every further empty poll reconnects again until a frame arrives.
void acquireFrame(ScannerWorker& worker, CaptureManager& capture, const AppPorts& ports) {
  for (;;) {
    if (capture.hasNewFrame(worker.device)) {
      fitFrameImages(worker, capture);
      if (worker.colour != nullptr) {
        capture.copyFrame(worker.device, worker.colourPixels.data(), false, true);
        worker.frameArrived = true;
      }
      worker.missCount = 0;
      return;
    }
    ++worker.missCount;
    if (worker.missCount >= SCANNER_MISSES_BEFORE_RECONNECT) {
      if (worker.device >= 0) capture.closeDevice(worker.device);
      openScannerDevice(worker, capture);
      fitFrameImages(worker, capture);
      ports.clock.sleepMs(SCANNER_OPEN_PAUSE_MS);
      return;
    }
  }
}

// The label of a symbol: its message as UTF-8 (NUL bytes of a UTF-16 message are code units, not ends),
// cut at a character boundary to fit the result record.
void labelResult(const DecodedSymbol& symbol, DecodeResult* result) {
  for (int c = 0; c < 4; ++c) result->corners[c] = symbol.corners[c];
  const std::string text = messageText(symbol.message, symbol.meaning.ecis).utf8;
  std::size_t length = 0;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t step = std::max<std::size_t>(1, utf8SequenceLength(text, at));
    if (at + step > static_cast<std::size_t>(DECODE_TEXT_SIZE - 1)) break;
    at += step;
    length = at;
  }
  std::memset(result->text, 0, sizeof result->text);
  std::memcpy(result->text, text.data(), length);
}

void decodeFrame(ScannerWorker& worker) {
  worker.symbols.clear();
  worker.count = 0;
  if (worker.scan(worker.grey, &worker.symbols) != 0) worker.symbols.clear();
  if (worker.symbols.size() > static_cast<std::size_t>(DECODE_MAX_RESULTS)) worker.symbols.resize(DECODE_MAX_RESULTS);
  worker.count = static_cast<int>(worker.symbols.size());
  for (int i = 0; i < worker.count; ++i) labelResult(worker.symbols[static_cast<std::size_t>(i)], &worker.results[i]);
}

// The band's warning for this cycle, or empty: typing impossible, or why a recent read was not typed.
std::string previewWarning(const ScannerWorker& worker, const AppPorts& ports) {
  if (!ports.keyboard.canType && worker.wedge.settings.typeReads) return WARNING_CANNOT_TYPE;
  return wedgeBandText(worker.wedge, ports.clock.tickCount(), SCANNER_NO_FOCUS_NOTE_MS);
}

// The scaled frame, or, while there is none yet, a message saying why. The notices are drawn on the
// scaled copy only: the frame the decoder reads is never written on.
void showPreview(const ScannerWorker& worker, const AppPorts& ports) {
  const PreviewSize size = previewSizeFor(ports.preview.previewRect());
  if (size.width == 0) return;
  ImageHandle preview;
  try {
    preview.reset(cvCreateImage(cvSize(size.width, size.height), IPL_DEPTH_8U, 3));
    cv::Mat picture = cv::cvarrToMat(preview.get());
    if (worker.colour == nullptr) {
      drawNoticePicture(picture, NOTICE_NO_CAMERA);
    } else if (!worker.frameArrived) {
      drawNoticePicture(picture, NOTICE_WAITING);
    } else {
      preview->origin = worker.colour->origin;
      cvResize(worker.colour, preview.get(), CV_INTER_AREA);
    }
    const std::string warning = previewWarning(worker, ports);
    if (!warning.empty()) drawWarningBand(picture, warning);
  } catch (const cv::Exception&) {
    return;  // a preview too large to allocate is skipped for this cycle like an empty one
  }
  ports.preview.showPreview(preview.get());
}

}  // namespace

ScannerWorker::~ScannerWorker() { releaseFrameImages(*this); }

PreviewSize previewSizeFor(const PreviewRect& clientArea) {
  // 64-bit, so that no published rectangle can overflow the arithmetic.
  const std::int64_t w = std::int64_t{clientArea.right} - clientArea.left;
  const std::int64_t h = std::int64_t{clientArea.bottom} - clientArea.top;
  if (w <= 0 || h <= 0) return {};
  const std::int64_t x = static_cast<double>(h) / static_cast<double>(w) > 0.75 ? w : ((h / 4) * 16) / 3;
  const std::int64_t width = (x / 16) * 16;
  if (width <= 0 || width > INT32_MAX) return {};
  return {static_cast<int>(width), static_cast<int>(width * 3 / 4)};
}

void drawResult(IplImage* colour, int i, const DecodeResult& result) {
  const CvPoint* corners = result.corners;
  const CvScalar red = rgbColour(255, 0, 0);
  for (int side = 0; side < 4; ++side) cvLine(colour, corners[side], corners[(side + 1) % 4], red, 1, 8, 0);

  // The factors are single-precision constants widened to double; every product truncates toward zero.
  const int w = colour->width;
  const double band = static_cast<double>(SCANNER_LABEL_BAND) * w;
  const int bandTop = static_cast<int>(band * i);
  const int bandBottom = static_cast<int>(band * (i + 1));
  const int bandRight = static_cast<int>(static_cast<double>(SCANNER_LABEL_WIDTH) * w);
  cvRectangle(colour, cvPoint(0, bandTop), cvPoint(bandRight, bandBottom), rgbColour(255, 255, 255), CV_FILLED, 8, 0);

  const auto scale = static_cast<float>(w * static_cast<double>(SCANNER_FONT_SCALE));
  CvFont font;
  cvInitFont(&font, CV_FONT_HERSHEY_SIMPLEX, scale, scale, 0, 2, 8);
  const std::string text(result.text, strnlen(result.text, DECODE_TEXT_SIZE));
  const int baseline = static_cast<int>((i + 1) * SCANNER_LABEL_BASELINE * w);
  cvPutText(colour, text.c_str(), cvPoint(0, baseline), &font, rgbColour(0, 0, 0));
}

void startScanner(ScannerWorker& worker, CaptureManager& capture, const AppPorts& ports) {
  capture.listDevices(false);
  openScannerDevice(worker, capture);
  fitFrameImages(worker, capture);
  ports.clock.sleepMs(SCANNER_OPEN_PAUSE_MS);
  worker.missCount = 0;
  worker.frameArrived = false;
  worker.wedge = KeyboardWedge{};
  worker.wedge.settings = worker.settings.wedge;
}

namespace {

void runCycleSteps(ScannerWorker& worker, CaptureManager& capture, const AppPorts& ports) {
  acquireFrame(worker, capture, ports);
  // No frame size yet (no device could be opened): nothing to process; keep polling and reconnecting,
  // and let the preview say so.
  if (worker.colour == nullptr) {
    showPreview(worker, ports);
    return;
  }

  if (worker.grey == nullptr) {
    worker.grey = cvCreateImage(cvGetSize(worker.colour), IPL_DEPTH_8U, 1);
    cvZero(worker.grey);
    worker.grey->origin = worker.colour->origin;
  }
  cvCvtColor(worker.colour, worker.grey, CV_BGR2GRAY);

  const std::uint32_t tickBefore = ports.clock.tickCount();
  decodeFrame(worker);
  const std::uint32_t tickAfter = ports.clock.tickCount();

  for (int i = 0; i < worker.count; ++i) {
    const DecodedSymbol& symbol = worker.symbols[static_cast<std::size_t>(i)];
    drawResult(worker.colour, i, worker.results[i]);
    const std::string_view message(reinterpret_cast<const char*>(symbol.message.data()), symbol.message.size());
    confirmRead(worker.wedge, ports, i, message, symbol.meaning);
  }

  showPreview(worker, ports);

  // Only the decoding step is paced; drawing, typing, the beep and the preview come on top.
  const std::uint32_t decodeMs = tickAfter - tickBefore;
  if (decodeMs < SCANNER_MIN_DECODE_MS) ports.clock.sleepMs(SCANNER_MIN_DECODE_MS - decodeMs);
}

}  // namespace

void runScannerCycle(ScannerWorker& worker, CaptureManager& capture, const AppPorts& ports) {
  try {
    runCycleSteps(worker, capture, ports);
  } catch (const std::exception& fault) {
    // An exception must not leave the worker's thread: it would end the whole program.
    if (fault.what() != worker.lastSkipReason) {
      worker.lastSkipReason = fault.what();
      std::fprintf(stderr, "quarnel: a frame was skipped (%s)\n", fault.what());
    }
    worker.symbols.clear();
    worker.count = 0;
    ports.clock.sleepMs(SCANNER_MIN_DECODE_MS);
  }
}

void runScannerWorker(CaptureBackend& backend, const AppPorts& ports, long cycles, const ScannerSettings& settings) {
  CaptureManager capture(backend);
  ScannerWorker worker;
  worker.settings = settings;
  startScanner(worker, capture, ports);
  for (long done = 0; cycles < 0 || done < cycles; ++done) runScannerCycle(worker, capture, ports);
}
