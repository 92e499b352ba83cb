// quarnel's command line: every option in both spellings, bad values, unknown options, and the
// actions that end the program at once.
#include "app/program_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Args = std::vector<std::string>;

TEST(ProgramOptions, NoArgumentsGiveTodaysBehaviour) {
  const ParsedOptions parsed = parseProgramOptions({});
  ASSERT_EQ(parsed.error, "");
  const ProgramOptions& options = parsed.options;
  EXPECT_EQ(options.action, ProgramAction::Run);
  EXPECT_EQ(options.settings.camera.index, 0);
  EXPECT_EQ(options.settings.camera.path, "");
  EXPECT_EQ(options.settings.wedge.suffix, TypedSuffix::Return);
  EXPECT_EQ(options.settings.wedge.holdOffMs, 5000);
  EXPECT_TRUE(options.settings.wedge.beep);
  EXPECT_TRUE(options.settings.wedge.typeReads);
  EXPECT_EQ(options.logPath, "");
}

// Each accepted command line and the one setting it changes, checked through a probe.
struct AcceptedCase {
  Args args;
  std::string probe;     // which field to read
  std::string expected;  // its value as text
};

std::string probeValue(const ProgramOptions& options, const std::string& probe) {
  const ScannerSettings& settings = options.settings;
  if (probe == "action") {
    switch (options.action) {
      case ProgramAction::Run: return "run";
      case ProgramAction::ShowHelp: return "help";
      case ProgramAction::ShowVersion: return "version";
      case ProgramAction::ListCameras: return "list";
    }
  }
  if (probe == "camera") return std::to_string(settings.camera.index) + "|" + settings.camera.path;
  if (probe == "suffix") {
    switch (settings.wedge.suffix) {
      case TypedSuffix::Return: return "return";
      case TypedSuffix::Tab: return "tab";
      case TypedSuffix::None: return "none";
    }
  }
  if (probe == "holdOff") return std::to_string(settings.wedge.holdOffMs);
  if (probe == "holdOffScope") return settings.wedge.holdOffScope == HoldOffScope::Same ? "same" : "any";
  if (probe == "beep") return settings.wedge.beep ? "on" : "off";
  if (probe == "type") return settings.wedge.typeReads ? "on" : "off";
  if (probe == "log") return options.logPath;
  if (probe == "logRequired") return settings.wedge.logRequired ? "on" : "off";
  if (probe == "gs") return settings.wedge.groupSeparatorText ? "[" + *settings.wedge.groupSeparatorText + "]" : "unset";
  if (probe == "aim") return settings.wedge.aimPrefix ? "on" : "off";
  return "?";
}

TEST(ProgramOptions, AcceptedOptionsInBothSpellings) {
  const std::vector<AcceptedCase> cases = {
      {{"--help"}, "action", "help"},
      {{"--version"}, "action", "version"},
      {{"--list-cameras"}, "action", "list"},
      {{"--camera=2"}, "camera", "2|"},
      {{"--camera", "2"}, "camera", "2|"},
      {{"--camera=19"}, "camera", "19|"},
      {{"--camera=/dev/video2"}, "camera", "0|/dev/video2"},
      {{"--camera", "/dev/v4l/by-id/usb-Cam_123-video-index0"}, "camera", "0|/dev/v4l/by-id/usb-Cam_123-video-index0"},
      {{"--camera=/dev/video2", "--camera=1"}, "camera", "1|"},  // the last one counts
      {{"--suffix=return"}, "suffix", "return"},
      {{"--suffix=tab"}, "suffix", "tab"},
      {{"--suffix", "none"}, "suffix", "none"},
      {{"--hold-off=0"}, "holdOff", "0"},
      {{"--hold-off", "600000"}, "holdOff", "600000"},
      {{"--hold-off=0750"}, "holdOff", "750"},
      {{}, "holdOffScope", "any"},
      {{"--hold-off-scope=same"}, "holdOffScope", "same"},
      {{"--hold-off-scope", "any"}, "holdOffScope", "any"},
      {{"--no-beep"}, "beep", "off"},
      {{"--no-type"}, "type", "off"},
      {{"--log=reads.log"}, "log", "reads.log"},
      {{"--log", "/var/tmp/a=b.log"}, "log", "/var/tmp/a=b.log"},
      {{"--log=a=b"}, "log", "a=b"},  // only the first '=' splits
      {{"--log=reads.log"}, "logRequired", "off"},
      {{"--log-required", "--log=reads.log"}, "logRequired", "on"},
      {{}, "gs", "unset"},
      {{"--gs=\t"}, "gs", "[\t]"},
      {{"--gs", "<GS>"}, "gs", "[<GS>]"},
      {{"--gs="}, "gs", "[]"},  // separators dropped
      {{"--gs=\xE2\x82\xAC"}, "gs", "[\xE2\x82\xAC]"},  // "€"
      {{"--gs=a=b"}, "gs", "[a=b]"},
      {{"--gs=|", "--gs=;"}, "gs", "[;]"},
      {{}, "aim", "off"},
      {{"--aim"}, "aim", "on"},
      // --help and --version act at once; what follows is not read.
      {{"--help", "--bogus"}, "action", "help"},
      {{"--no-beep", "--version", "--camera=x"}, "action", "version"},
      {{"--list-cameras", "--no-beep"}, "action", "list"},
  };
  for (const AcceptedCase& c : cases) {
    const ParsedOptions parsed = parseProgramOptions(c.args);
    EXPECT_EQ(parsed.error, "") << testing::PrintToString(c.args);
    EXPECT_EQ(probeValue(parsed.options, c.probe), c.expected) << testing::PrintToString(c.args);
  }
}

TEST(ProgramOptions, SeveralOptionsTogether) {
  const ParsedOptions parsed = parseProgramOptions(
      {"--camera", "/dev/video4", "--suffix=tab", "--hold-off", "1500", "--no-beep", "--no-type", "--log=x.log"});
  ASSERT_EQ(parsed.error, "");
  const ScannerSettings& settings = parsed.options.settings;
  EXPECT_EQ(settings.camera.path, "/dev/video4");
  EXPECT_EQ(settings.wedge.suffix, TypedSuffix::Tab);
  EXPECT_EQ(settings.wedge.holdOffMs, 1500);
  EXPECT_FALSE(settings.wedge.beep);
  EXPECT_FALSE(settings.wedge.typeReads);
  EXPECT_EQ(parsed.options.logPath, "x.log");
}

// Every refused command line names the faulty argument in its one-line message.
TEST(ProgramOptions, RefusedCommandLinesNameTheFault) {
  const std::vector<std::pair<Args, std::string>> cases = {
      {{"--bogus"}, "unknown option '--bogus'"},
      {{"--bogus=1"}, "unknown option '--bogus'"},
      {{"-h"}, "unknown option '-h'"},
      {{"--Help"}, "unknown option '--Help'"},
      {{"--cam=1"}, "unknown option '--cam'"},  // no abbreviations
      {{"video0"}, "unexpected argument 'video0'"},
      {{"--"}, "unexpected argument '--'"},
      {{"--camera"}, "option '--camera' needs a value"},
      {{"--camera=20"}, "invalid camera '20' for '--camera'"},
      {{"--camera=-1"}, "invalid camera '-1' for '--camera'"},
      {{"--camera="}, "invalid camera '' for '--camera'"},
      {{"--camera=video2"}, "invalid camera 'video2' for '--camera'"},
      {{"--camera= 1"}, "invalid camera ' 1' for '--camera'"},
      {{"--suffix=Return"}, "invalid suffix 'Return' for '--suffix'"},
      {{"--suffix=enter"}, "invalid suffix 'enter' for '--suffix'"},
      {{"--suffix"}, "option '--suffix' needs a value"},
      {{"--hold-off=600001"}, "invalid hold-off '600001' for '--hold-off'"},
      {{"--hold-off=-5"}, "invalid hold-off '-5' for '--hold-off'"},
      {{"--hold-off=5s"}, "invalid hold-off '5s' for '--hold-off'"},
      {{"--hold-off=1e3"}, "invalid hold-off '1e3' for '--hold-off'"},
      {{"--hold-off-scope=all"}, "invalid hold-off scope 'all' for '--hold-off-scope'"},
      {{"--hold-off-scope=Same"}, "invalid hold-off scope 'Same' for '--hold-off-scope'"},
      {{"--hold-off="}, "invalid hold-off '' for '--hold-off'"},
      {{"--hold-off=99999999999999999999"}, "invalid hold-off '99999999999999999999' for '--hold-off'"},
      {{"--no-beep=yes"}, "option '--no-beep' takes no value"},
      {{"--help=me"}, "option '--help' takes no value"},
      {{"--log="}, "option '--log' needs a file name"},
      {{"--log"}, "option '--log' needs a value"},
      {{"--log-required"}, "option '--log-required' needs --log=FILE"},
      {{"--log-required=yes", "--log=a"}, "option '--log-required' takes no value"},
      {{"--gs"}, "option '--gs' needs a value"},
      {{"--gs=a\nb"}, "invalid text for '--gs': it may hold no control character but Tab"},
      {{"--gs=\r"}, "invalid text for '--gs': it may hold no control character but Tab"},
      {{"--gs=\x1D"}, "invalid text for '--gs': it may hold no control character but Tab"},
      {{"--gs=\xC2\x85"}, "invalid text for '--gs': it may hold no control character but Tab"},  // C1 NEL
      {{"--gs=\xFF"}, "invalid text for '--gs': it is not UTF-8"},
      {{"--gs=\xC3"}, "invalid text for '--gs': it is not UTF-8"},  // cut short
      {{"--aim=yes"}, "option '--aim' takes no value"},
      {{"--no-type", "--suffix=crlf", "--help"}, "invalid suffix 'crlf' for '--suffix'"},  // in order
  };
  for (const auto& [args, message] : cases) {
    const ParsedOptions parsed = parseProgramOptions(args);
    EXPECT_EQ(parsed.error.rfind(message, 0), 0u) << testing::PrintToString(args) << " gave: " << parsed.error;
    EXPECT_EQ(parsed.error.find('\n'), std::string::npos) << "one line";
  }
}

TEST(ProgramOptions, HelpNamesEveryOptionAndVersionTheProjectVersion) {
  const std::string help = programHelpText();
  EXPECT_EQ(help.rfind(std::string(programUsageLine()) + "\n", 0), 0u);
  for (const char* option : {"--camera=N|PATH", "--list-cameras", "--suffix=KEY", "--hold-off=MS", "--no-beep",
                             "--no-type", "--log=FILE", "--gs=TEXT", "--aim", "--help", "--version"}) {
    EXPECT_NE(help.find(option), std::string::npos) << option;
  }
  EXPECT_EQ(programVersionText().rfind(std::string("quarnel ") + QUARNEL_VERSION + "\n", 0), 0u);
}

}  // namespace
