// The command line of quarnel: GNU-style long options into the scanner's settings. Parsing is a pure
// function of the arguments; opening the log file and acting on the options is the caller's job.
#ifndef QUARNEL_APP_PROGRAM_OPTIONS_H_
#define QUARNEL_APP_PROGRAM_OPTIONS_H_

#include <string>
#include <vector>

#include "app/settings.h"

// Exit status of a command line that names an unknown option or a bad value.
constexpr int OPTIONS_EXIT_USAGE = 2;

enum class ProgramAction { Run, ShowHelp, ShowVersion, ListCameras };

struct ProgramOptions {
  ProgramAction action = ProgramAction::Run;
  ScannerSettings settings;
  std::string logPath;  // empty: no log
};

// Either the options or, when error is not empty, a one-line message naming the faulty argument.
struct ParsedOptions {
  ProgramOptions options;
  std::string error;
};

// args are the arguments after the program name. Options are read in order: --help and --version act
// at once, so what follows them is not read; a repeated option takes its last value.
ParsedOptions parseProgramOptions(const std::vector<std::string>& args);

// "Usage: quarnel [OPTION]...", the line printed under an error.
const char* programUsageLine();
// The whole --help text.
const char* programHelpText();
// The --version text: "quarnel VERSION" and a line about the licence.
std::string programVersionText();

#endif  // QUARNEL_APP_PROGRAM_OPTIONS_H_
