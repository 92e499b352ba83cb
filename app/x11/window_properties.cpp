// Window properties of 32-bit items.
#include "app/x11/window_properties.h"

std::vector<unsigned long> windowLongProperty(Display* display, Window window, Atom property, Atom type,
                                              long maxItems) {
  Atom actualType = None;
  int format = 0;
  unsigned long count = 0;
  unsigned long remaining = 0;
  unsigned char* data = nullptr;
  std::vector<unsigned long> values;
  if (XGetWindowProperty(display, window, property, 0, maxItems, False, type, &actualType, &format, &count, &remaining,
                         &data) == Success &&
      data != nullptr && actualType == type && format == 32) {
    // Xlib hands 32-bit items over as longs.
    const auto* items = reinterpret_cast<unsigned long*>(data);
    values.assign(items, items + count);
  }
  if (data != nullptr) XFree(data);
  return values;
}
