#include "app/x11/display_loss.h"

#include <X11/Xlib.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>

namespace {

std::atomic<DisplayLossEnd> lossEnd{nullptr};
std::atomic<bool> lossNoticed{false};
// Protocol errors are reported up to this many times; a fault that repeats every cycle must not fill
// the user's journal.
constexpr int PROTOCOL_ERRORS_REPORTED = 5;
std::atomic<int> protocolErrorsSeen{0};

int onConnectionLost(Display* display) {
  // The window thread and the worker's keyboard connection may both notice; the first one ends the
  // process, any other waits for the end it has started.
  if (!lossNoticed.exchange(true)) {
    const char* name = display != nullptr ? DisplayString(display) : "";
    lossEnd.load()(name != nullptr ? name : "");
  }
  for (;;) pause();
}

int onProtocolError(Display* display, XErrorEvent* event) {
  const int seen = ++protocolErrorsSeen;
  if (seen > PROTOCOL_ERRORS_REPORTED) return 0;
  char text[160] = "";
  XGetErrorText(display, event->error_code, text, sizeof text);
  std::fprintf(stderr, "quarnel: X error: %s (request %d.%d)%s\n", text, event->request_code, event->minor_code,
               seen == PROTOCOL_ERRORS_REPORTED ? "; further X errors are not reported" : "");
  return 0;
}

}  // namespace

void handleDisplayLoss(DisplayLossEnd end) {
  lossEnd = end;
  XSetIOErrorHandler(onConnectionLost);
  XSetErrorHandler(onProtocolError);
}
