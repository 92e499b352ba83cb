// Every platform facility the worker and the wedge reach, one port each.
#ifndef QUARNEL_APP_PORTS_H_
#define QUARNEL_APP_PORTS_H_

#include "app/clock_port.h"
#include "app/keyboard_port.h"
#include "app/preview_port.h"
#include "app/read_log.h"
#include "app/sound_port.h"

struct AppPorts {
  KeyboardPort keyboard;
  SoundPort sound;
  ClockPort clock;
  PreviewPort preview;
  ReadLogPort readLog;  // empty: no --log
};

#endif  // QUARNEL_APP_PORTS_H_
