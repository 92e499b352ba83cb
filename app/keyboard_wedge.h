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
// How long a read waits for held modifier keys to be let go, and how often it looks.
constexpr std::uint32_t WEDGE_MODIFIER_WAIT_MS = 1000;
constexpr std::uint32_t WEDGE_MODIFIER_POLL_MS = 20;
// A label left in view that cannot be typed is reported on standard error and in the log once, and again
// only after this long.
constexpr std::uint32_t WEDGE_REPORT_REPEAT_MS = 5000;

// Typing state, private to the worker thread.
struct KeyboardWedge {
  std::int32_t holdOff = 0;          // 0: typing allowed; the set hold-off after a typing, until cleared
  std::uint32_t lastTypedTick = 0;   // tick counter right after the last typing; meaningful while held off
  WedgeSettings settings;
  std::string lastTypedMessage;      // the message of the last typed read
  // A read came while no window had the keyboard focus and was not typed: the tick of the last one.
  bool unfocusedRead = false;
  std::uint32_t unfocusedTick = 0;
  // The last read that was not typed: why, for the preview's band (printable ASCII), and when.
  std::string notTypedBand;
  std::uint32_t notTypedTick = 0;
  // The last read whose log line could not be written: the band's text and when.
  std::string logBand;
  std::uint32_t logTick = 0;
  // A different text was read while the hold-off ran: when, for the band's count-down.
  bool heldOffRead = false;
  std::uint32_t heldOffTick = 0;
  // The last report of a read not typed (message and reason), so that it is not repeated every frame.
  bool reported = false;
  std::string reportedMessage;
  std::string reportedReason;
  std::uint32_t reportedTick = 0;
};

// Whether a read can be typed exactly, and why not: reason for standard error and the log (UTF-8),
// bandReason for the preview's band (printable ASCII).
struct TypingOutcome {
  bool typed = false;
  std::string reason;
  std::string bandReason;
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

// Types the characters followed by the suffix key exactly, or nothing at all. Control characters but Tab
// are left out, so that a text stays one line. Before the first key it waits up to
// WEDGE_MODIFIER_WAIT_MS for held modifier keys to be let go, has the layer bind keysyms no key gives,
// and works out every key of the line: when a modifier stays held or a character has no key, no key is
// sent and the outcome says why.
TypingOutcome typeExactly(const KeyboardPort& keyboard, const ClockPort& clock, std::u32string_view characters,
                          TypedSuffix suffix = TypedSuffix::Return);

// Types the characters followed by the suffix key, and flushes the events. A character with no key on
// the layout is skipped, and so is every control character but Tab, so that a text stays one line.
// Returns how many characters were skipped.
std::size_t typeCharacters(const KeyboardPort& keyboard, std::u32string_view characters,
                           TypedSuffix suffix = TypedSuffix::Return);

// Types text (at most DECODE_TEXT_SIZE - 1 bytes, up to its NUL), each byte the ISO 8859-1 character
// of its value, followed by the suffix key, and flushes the events.
void typeLine(const KeyboardPort& keyboard, const char* text, TypedSuffix suffix = TypedSuffix::Return);

// Called for result i (0-based) of the current frame after its label is drawn, with its whole message
// and the message's meaning. Accepts result 0 when no hold-off runs (with the hold-off scope Same, also
// when the message differs from the one last typed): types it (wedgeText, typeExactly) with its suffix
// (unless typing is off), logs it, beeps (unless the beep is off) and starts the hold-off; a later call
// clears an expired hold-off without typing. A read that cannot be typed exactly (nothing can type, no
// window has the focus, a byte or a character without a key, a modifier held) is not accepted: no key,
// no beep, no hold-off; the band says why, and standard error and the log say so once per label in
// view. So does a different text read while the hold-off runs. Uses the keyboard, sound, clock and log
// ports.
void confirmRead(KeyboardWedge& wedge, const AppPorts& ports, int i, std::string_view message,
                 const Ecc200Meaning& meaning = Ecc200Meaning{});
// The same for a result's text, up to its NUL.
void confirmRead(KeyboardWedge& wedge, const AppPorts& ports, int i, const DecodeResult& result,
                 const Ecc200Meaning& meaning = Ecc200Meaning{});

// The band's text for the wedge now: a read not typed within the last bandMs, or the count-down of a
// hold-off that kept a different text from being typed ("Not typed: wait 3.2 s (hold-off)"), or a read
// whose log line could not be written ("Log not written: No space left on device"); empty when there is
// nothing to say.
std::string wedgeBandText(const KeyboardWedge& wedge, std::uint32_t now, std::uint32_t bandMs);

#endif  // QUARNEL_APP_KEYBOARD_WEDGE_H_
