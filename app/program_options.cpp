// quarnel's command line.
#include "app/program_options.h"

#include <cstdint>
#include <optional>

#include "text/utf8.h"

namespace {

constexpr const char* USAGE_LINE = "Usage: quarnel [OPTION]...";

constexpr const char* HELP_TEXT =
    "Usage: quarnel [OPTION]...\n"
    "Turns a webcam into a Data Matrix (ECC 200) keyboard: types the text of the first symbol the\n"
    "camera sees, and then Return, into the application that has the keyboard focus, beeps, and\n"
    "rests for 5 seconds. A small window shows the camera's picture with every symbol outlined.\n"
    "\n"
    "Options:\n"
    "      --camera=N|PATH    the capture device: its index in --list-cameras, or its node\n"
    "                           (/dev/video2, /dev/v4l/by-id/...); default 0\n"
    "      --list-cameras     list every capture device with its index, node, name, formats\n"
    "                           and frame sizes, and exit\n"
    "      --suffix=KEY       what is typed after each text: return, tab or none;\n"
    "                           default return\n"
    "      --hold-off=MS      pause after a typed read, 0 to 600000 milliseconds;\n"
    "                           default 5000\n"
    "      --hold-off-scope=S what the pause holds back: any (every read, the default) or\n"
    "                           same (only the text just typed; a different label is typed\n"
    "                           at once)\n"
    "      --no-beep          confirm reads without the beep\n"
    "      --no-type          read, show and log, but type nothing\n"
    "      --gs=TEXT          type TEXT in place of each group separator (the field separator\n"
    "                           of GS1 data), e.g. --gs=$'\\t' for Tab; TEXT may hold no\n"
    "                           control character but Tab; default: separators are not typed\n"
    "      --aim              type the AIM symbology identifier first: ]d1, ]d2 for GS1 data,\n"
    "                           ]d3 for AIM application data, ]d4 to ]d6 for the same with ECI\n"
    "                           designators (given in the text as \\NNNNNN, backslashes doubled)\n"
    "      --log=FILE         append a line per typed read (per read with --no-type) to FILE:\n"
    "                           local time (ISO 8601 with the offset), a tab, and the text\n"
    "                           with bytes outside printable ASCII and the backslash as \\xHH;\n"
    "                           a read that was not typed adds a tab, \"not typed: \" and why;\n"
    "                           the file is created with mode 0600\n"
    "      --log-required     type a read only once its log line is written; without it a\n"
    "                           read the log cannot take (a full disk) is typed all the same\n"
    "                           and the window says \"Log not written\"\n"
    "      --help             show this help and exit\n"
    "      --version          show the version and exit\n"
    "\n"
    "Each option with a value takes it as --opt=VALUE or as --opt VALUE.\n"
    "\n"
    "quarnel runs until its window is closed. It needs an X session (DISPLAY) with the XTEST\n"
    "extension to type. Standard output carries the capture diagnostics.\n"
    "\n"
    "Only one quarnel runs per camera; a second start on the same camera exits with status 1.\n"
    "\n"
    "Exit status: 1 once the window has been closed or when quarnel already runs for the camera,\n"
    "2 on a bad command line or a log file that cannot be opened, 3 when the window could not be\n"
    "shown, 4 when the connection to the display was lost; 0 after --help, --version and\n"
    "--list-cameras.\n";

struct OptionSpec {
  const char* name;
  bool takesValue;
};

constexpr OptionSpec OPTION_SPECS[] = {
    {"--help", false},     {"--version", false},  {"--list-cameras", false}, {"--camera", true},
    {"--suffix", true},    {"--hold-off", true},  {"--no-beep", false},      {"--no-type", false},
    {"--log", true},       {"--gs", true},        {"--aim", false},          {"--hold-off-scope", true},
    {"--log-required", false},
};

const OptionSpec* findOption(const std::string& name) {
  for (const OptionSpec& spec : OPTION_SPECS) {
    if (name == spec.name) return &spec;
  }
  return nullptr;
}

// A decimal number of digits only (no sign, no space), at most maxValue.
std::optional<std::int64_t> parseBoundedNumber(const std::string& text, std::int64_t maxValue) {
  if (text.empty() || text.size() > 12) return std::nullopt;
  std::int64_t value = 0;
  for (const char ch : text) {
    if (ch < '0' || ch > '9') return std::nullopt;
    value = value * 10 + (ch - '0');
  }
  if (value > maxValue) return std::nullopt;
  return value;
}

// Whether a UTF-8 text types as one line: no control character but Tab (C0, DEL, C1).
bool isTypableText(const std::string& utf8) {
  for (const char32_t ch : utf8CodePoints(utf8)) {
    if ((ch < 0x20 || (ch >= 0x7F && ch <= 0x9F)) && ch != U'\t') return false;
  }
  return true;
}

// The capture component has this many device slots; a larger index could never be opened.
constexpr std::int64_t OPTIONS_MAX_CAMERA_INDEX = 19;

// Applies one option with its value; an error message naming it, or an empty string.
std::string applyOption(ProgramOptions& options, const std::string& name, const std::string& value) {
  ScannerSettings& settings = options.settings;
  if (name == "--help") {
    options.action = ProgramAction::ShowHelp;
  } else if (name == "--version") {
    options.action = ProgramAction::ShowVersion;
  } else if (name == "--list-cameras") {
    options.action = ProgramAction::ListCameras;
  } else if (name == "--no-beep") {
    settings.wedge.beep = false;
  } else if (name == "--no-type") {
    settings.wedge.typeReads = false;
  } else if (name == "--camera") {
    if (const auto index = parseBoundedNumber(value, OPTIONS_MAX_CAMERA_INDEX)) {
      settings.camera = CameraChoice{static_cast<int>(*index), ""};
    } else if (value.find('/') != std::string::npos) {
      settings.camera = CameraChoice{0, value};
    } else {
      return "invalid camera '" + value + "' for '--camera': give an index from 0 to 19 or a device path";
    }
  } else if (name == "--suffix") {
    if (value == "return") {
      settings.wedge.suffix = TypedSuffix::Return;
    } else if (value == "tab") {
      settings.wedge.suffix = TypedSuffix::Tab;
    } else if (value == "none") {
      settings.wedge.suffix = TypedSuffix::None;
    } else {
      return "invalid suffix '" + value + "' for '--suffix': give return, tab or none";
    }
  } else if (name == "--hold-off") {
    const auto ms = parseBoundedNumber(value, SETTINGS_MAX_HOLD_OFF_MS);
    if (!ms) return "invalid hold-off '" + value + "' for '--hold-off': give 0 to 600000 milliseconds";
    settings.wedge.holdOffMs = static_cast<std::int32_t>(*ms);
  } else if (name == "--hold-off-scope") {
    if (value == "any") {
      settings.wedge.holdOffScope = HoldOffScope::Any;
    } else if (value == "same") {
      settings.wedge.holdOffScope = HoldOffScope::Same;
    } else {
      return "invalid hold-off scope '" + value + "' for '--hold-off-scope': give any or same";
    }
  } else if (name == "--log-required") {
    settings.wedge.logRequired = true;
  } else if (name == "--aim") {
    settings.wedge.aimPrefix = true;
  } else if (name == "--gs") {
    if (!isValidUtf8(value)) return "invalid text for '--gs': it is not UTF-8";
    if (!isTypableText(value)) return "invalid text for '--gs': it may hold no control character but Tab";
    settings.wedge.groupSeparatorText = value;
  } else if (name == "--log") {
    if (value.empty()) return "option '--log' needs a file name";
    options.logPath = value;
  }
  return {};
}

}  // namespace

ParsedOptions parseProgramOptions(const std::vector<std::string>& args) {
  ParsedOptions parsed;
  for (std::size_t at = 0; at < args.size(); ++at) {
    const std::string& arg = args[at];
    if (arg.rfind("--", 0) != 0 || arg == "--") {
      parsed.error = arg.size() > 1 && arg[0] == '-' && arg != "--" ? "unknown option '" + arg + "'"
                                                                    : "unexpected argument '" + arg + "'";
      return parsed;
    }
    const std::size_t equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    const OptionSpec* spec = findOption(name);
    if (spec == nullptr) {
      parsed.error = "unknown option '" + name + "'";
      return parsed;
    }
    std::string value;
    if (equals != std::string::npos) {
      if (!spec->takesValue) {
        parsed.error = "option '" + name + "' takes no value";
        return parsed;
      }
      value = arg.substr(equals + 1);
    } else if (spec->takesValue) {
      if (at + 1 >= args.size()) {
        parsed.error = "option '" + name + "' needs a value";
        return parsed;
      }
      value = args[++at];
    }
    parsed.error = applyOption(parsed.options, name, value);
    if (!parsed.error.empty()) return parsed;
    const ProgramAction action = parsed.options.action;
    if (action == ProgramAction::ShowHelp || action == ProgramAction::ShowVersion) return parsed;
  }
  if (parsed.options.action == ProgramAction::Run && parsed.options.settings.wedge.logRequired &&
      parsed.options.logPath.empty()) {
    parsed.error = "option '--log-required' needs --log=FILE";
  }
  return parsed;
}

const char* programUsageLine() { return USAGE_LINE; }

const char* programHelpText() { return HELP_TEXT; }

std::string programVersionText() {
  return std::string("quarnel ") + QUARNEL_VERSION +
         "\nLicence: MIT. This is free software: you are free to change and redistribute it.\n";
}
