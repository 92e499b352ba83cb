// Keyboard wedge: types the first read of a frame into the focused application, beeps and holds
// further typing off for a while.
#ifndef QUARNEL_APP_KEYBOARD_WEDGE_H_
#define QUARNEL_APP_KEYBOARD_WEDGE_H_

#include <cstdint>

#include "app/ports.h"
#include "decoder/decoder.h"

constexpr std::int32_t WEDGE_HOLD_OFF_MS = 5000;
constexpr std::uint32_t WEDGE_BEEP_HZ = 750;
constexpr std::uint32_t WEDGE_BEEP_MS = 200;

// Typing state, private to the worker thread.
struct KeyboardWedge {
  std::int32_t holdOff = 0;          // 0: typing allowed; WEDGE_HOLD_OFF_MS after a typing, until cleared
  std::uint32_t lastTypedTick = 0;   // tick counter right after the last typing; meaningful while held off
};

// Called for result i (0-based) of the current frame after its label is drawn. Types result 0 when no
// hold-off runs, then beeps and starts the hold-off; a later call clears an expired hold-off without
// typing. Uses the keyboard, sound and clock ports.
void confirmRead(KeyboardWedge& wedge, const AppPorts& ports, int i, const DecodeResult& result);

// Types text (at most DECODE_TEXT_SIZE - 1 bytes, up to its NUL) as one line ended by Return, and
// flushes the events.
void typeLine(const KeyboardPort& keyboard, const char* text);

#endif  // QUARNEL_APP_KEYBOARD_WEDGE_H_
