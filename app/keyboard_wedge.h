// Keyboard wedge: types the first read of a frame into the focused application, beeps and holds
// further typing off for a while.
#ifndef QUARNEL_APP_KEYBOARD_WEDGE_H_
#define QUARNEL_APP_KEYBOARD_WEDGE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/ports.h"
#include "app/settings.h"
#include "decoder/decoder.h"
#include "decoder/ecc200/ecc200_message.h"

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

// What one read types before its suffix: the characters, and how many bytes of the message are no
// character of their character set (those are not typed).
struct WedgeText {
  std::u32string characters;
  std::size_t unconvertedBytes = 0;
};

// The characters of a message: its bytes converted by the meaning's ECI designators (ISO 8859-1 where
// none applies), each group separator (byte 29) replaced by settings.groupSeparatorText when that is
// set. With settings.aimPrefix the AIM symbology identifier comes first; under the identifiers of ECI
// messages ("]d4" to "]d6") the text takes the ECI protocol's form: each designator as a backslash and
// six digits where it applies, each backslash of the data doubled. Designators past the end of bytes
// are ignored.
WedgeText wedgeText(std::string_view bytes, const Ecc200Meaning& meaning, const WedgeSettings& settings);

// Types the characters followed by the suffix key, and flushes the events. A character with no key on
// the layout is skipped, and so is every control character but Tab, so that a text stays one line.
// Returns how many characters were skipped.
std::size_t typeCharacters(const KeyboardPort& keyboard, std::u32string_view characters,
                           TypedSuffix suffix = TypedSuffix::Return);

// Types text (at most DECODE_TEXT_SIZE - 1 bytes, up to its NUL), each byte the ISO 8859-1 character
// of its value, followed by the suffix key, and flushes the events.
void typeLine(const KeyboardPort& keyboard, const char* text, TypedSuffix suffix = TypedSuffix::Return);

// Called for result i (0-based) of the current frame after its label is drawn, with the meaning of its
// message. Accepts result 0 when no hold-off runs: types it (wedgeText) with its suffix (unless typing
// is off), logs it, beeps (unless the beep is off) and starts the hold-off; a later call clears an
// expired hold-off without typing. When characters of a typed read are skipped, one line on standard
// error says how many. A read that would be typed while no window has the keyboard focus is neither
// typed nor accepted, and is noted in unfocusedRead. Uses the keyboard, sound, clock and log ports.
void confirmRead(KeyboardWedge& wedge, const AppPorts& ports, int i, const DecodeResult& result,
                 const Ecc200Meaning& meaning = Ecc200Meaning{});

#endif  // QUARNEL_APP_KEYBOARD_WEDGE_H_
