// Keyboard wedge: types the first read of a frame into the focused application, beeps and holds
// further typing off for a while.
#ifndef QUARNEL_APP_KEYBOARD_WEDGE_H_
#define QUARNEL_APP_KEYBOARD_WEDGE_H_

#include <cstdint>

#include "app/ports.h"
#include "app/settings.h"
#include "decoder/decoder.h"

constexpr std::int32_t WEDGE_HOLD_OFF_MS = SETTINGS_DEFAULT_HOLD_OFF_MS;
constexpr std::uint32_t WEDGE_BEEP_HZ = 750;
constexpr std::uint32_t WEDGE_BEEP_MS = 200;

// Typing state, private to the worker thread.
struct KeyboardWedge {
  std::int32_t holdOff = 0;          // 0: typing allowed; the set hold-off after a typing, until cleared
  std::uint32_t lastTypedTick = 0;   // tick counter right after the last typing; meaningful while held off
  WedgeSettings settings;
  // A read came while no window had the keyboard focus and was not typed: the tick of the last one.
  bool unfocusedRead = false;
  std::uint32_t unfocusedTick = 0;
};

// Called for result i (0-based) of the current frame after its label is drawn. Accepts result 0 when
// no hold-off runs: types it with its suffix (unless typing is off), logs it, beeps (unless the beep is
// off) and starts the hold-off; a later call clears an expired hold-off without typing. A read that
// would be typed while no window has the keyboard focus is neither typed nor accepted, and is noted in
// unfocusedRead. Uses the keyboard, sound, clock and log ports.
void confirmRead(KeyboardWedge& wedge, const AppPorts& ports, int i, const DecodeResult& result);

// Types text (at most DECODE_TEXT_SIZE - 1 bytes, up to its NUL) followed by the suffix key, and
// flushes the events.
void typeLine(const KeyboardPort& keyboard, const char* text, TypedSuffix suffix = TypedSuffix::Return);

#endif  // QUARNEL_APP_KEYBOARD_WEDGE_H_
