// What the user can set for the scanner: the camera, what ends each typed text, the hold-off, the beep,
// whether anything is typed at all, and what stands for group separators and before the text. A plain
// record that the options fill and the worker and the wedge read; its defaults are the program's
// behaviour without options.
#ifndef QUARNEL_APP_SETTINGS_H_
#define QUARNEL_APP_SETTINGS_H_

#include <cstdint>
#include <optional>
#include <string>

constexpr std::int32_t SETTINGS_DEFAULT_HOLD_OFF_MS = 5000;
constexpr std::int32_t SETTINGS_MAX_HOLD_OFF_MS = 600000;

// The key typed after each text.
enum class TypedSuffix { Return, Tab, None };

// Which reads the hold-off keeps from being typed: any read (the program's default), or only the text
// that was just typed, so that a different label is typed at once.
enum class HoldOffScope { Any, Same };

// The wedge's part: how a read is confirmed.
struct WedgeSettings {
  TypedSuffix suffix = TypedSuffix::Return;
  std::int32_t holdOffMs = SETTINGS_DEFAULT_HOLD_OFF_MS;  // pause after a typed read, 0 .. 600000
  HoldOffScope holdOffScope = HoldOffScope::Any;
  bool beep = true;
  bool typeReads = true;  // false: reads are shown and logged, nothing is typed
  // Typed in place of each group separator (byte 29, the field separator of GS1 data), as UTF-8;
  // unset: the separator is a control character and not typed.
  std::optional<std::string> groupSeparatorText;
  bool aimPrefix = false;  // type the AIM symbology identifier ("]d1", "]d2", ...) before the text
  // A read is typed only once its log line is written: the line goes first, and is taken back when the
  // read then cannot be typed. Without it a read is typed and then logged, and a full disk costs the
  // log a line but not the user the read.
  bool logRequired = false;
};

// The capture device: by its index in the device enumeration, or, when path is not empty, by the path
// of its node (a symbolic link such as a by-id name is followed at every open).
struct CameraChoice {
  int index = 0;
  std::string path;
};

struct ScannerSettings {
  CameraChoice camera;
  WedgeSettings wedge;
};

#endif  // QUARNEL_APP_SETTINGS_H_
