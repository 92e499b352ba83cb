// Read confirmation: typing, beep and hold-off.
#include "app/keyboard_wedge.h"

#include <cstring>
#include <string>

namespace {

bool isControlByte(unsigned char ch) { return ch < 0x20 || ch == 0x7F; }

// Presses the key of a keyScan answer with the modifiers it needs. A character whose modifier state
// asks for Ctrl or Alt alone has no key that types it, so it is skipped like one without a key.
void typeKey(const KeyboardPort& keyboard, std::int16_t scan, bool withModifiers) {
  const int key = scan & 0xFF;
  const int state = (scan >> 8) & 0xFF;
  if (key == 0xFF || state == 0xFF) return;
  const bool shift = withModifiers && (state & KEY_STATE_SHIFT) != 0;
  const bool altGr = withModifiers && (state & KEY_STATE_ALTGR) == KEY_STATE_ALTGR;
  if (withModifiers && ((state & KEY_STATE_ALTGR) != 0 && !altGr)) return;
  if (withModifiers && (state & ~(KEY_STATE_SHIFT | KEY_STATE_ALTGR)) != 0) return;

  if (shift) keyboard.keyEvent(KEY_SHIFT, 0);
  if (altGr) keyboard.keyEvent(KEY_ALTGR, 0);
  keyboard.keyEvent(key, 0);
  keyboard.keyEvent(key, KEY_EVENT_UP);
  if (altGr) keyboard.keyEvent(KEY_ALTGR, KEY_EVENT_UP);
  if (shift) keyboard.keyEvent(KEY_SHIFT, KEY_EVENT_UP);
}

}  // namespace

void typeLine(const KeyboardPort& keyboard, const char* text, TypedSuffix suffix) {
  const std::size_t length = strnlen(text, DECODE_TEXT_SIZE - 1);
  for (std::size_t at = 0; at < length; ++at) {
    const auto ch = static_cast<unsigned char>(text[at]);
    // A symbol's text is one line: no control byte inside it may act as Return, Escape or the like in
    // the focused application. Tab stays, as it only moves between form fields.
    if (isControlByte(ch) && ch != '\t') continue;
    typeKey(keyboard, keyboard.keyScan(ch), true);
  }
  // The suffix is a plain Return or Tab, whatever modifiers the layout lists for it.
  if (suffix == TypedSuffix::Return) typeKey(keyboard, keyboard.keyScan('\n'), false);
  if (suffix == TypedSuffix::Tab) typeKey(keyboard, keyboard.keyScan('\t'), false);
  keyboard.flushKeys();
}

void confirmRead(KeyboardWedge& wedge, const AppPorts& ports, int i, const DecodeResult& result) {
  const WedgeSettings& settings = wedge.settings;
  if (i == 0 && wedge.holdOff == 0) {
    if (settings.typeReads) {
      // Keys sent while no window has the focus reach nothing: the read stays unaccepted, so the next
      // frame that sees the symbol types it once the user has clicked into an application.
      if (ports.keyboard.hasFocusTarget && !ports.keyboard.hasFocusTarget()) {
        wedge.unfocusedRead = true;
        wedge.unfocusedTick = ports.clock.tickCount();
        return;
      }
      typeLine(ports.keyboard, result.text, settings.suffix);
    }
    wedge.unfocusedRead = false;
    wedge.holdOff = settings.holdOffMs;
    wedge.lastTypedTick = ports.clock.tickCount();
    if (ports.readLog.append) {
      ports.readLog.append(std::string(result.text, strnlen(result.text, DECODE_TEXT_SIZE - 1)));
    }
    if (settings.beep) ports.sound.beep(WEDGE_BEEP_HZ, WEDGE_BEEP_MS);
  } else if (wedge.holdOff > 0) {
    // Unsigned difference: correct across a wrap of the tick counter.
    const std::uint32_t elapsed = ports.clock.tickCount() - wedge.lastTypedTick;
    if (elapsed >= static_cast<std::uint32_t>(wedge.holdOff)) wedge.holdOff = 0;
  }
}
