// The command line: "fpskit MODE PATH [OPTION]", the usage text and the table
// of the mode words: the thirteen single-file words and the tree words.
#pragma once

#include <string>

namespace fpskit {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitToolFailed = 1;
inline constexpr int kExitWrongMode = 2;
inline constexpr int kExitOverLimits = 3;  // "check": texts over a limit of LIMITS.TXT, nothing worse
inline constexpr int kExitUsage = 255;

enum class DispatchResult { kSuccess, kToolFailed, kWrongMode };

// Calls the tool of the first row whose mode word equals `mode` exactly, or
// prints "\nWRONG MODE\n" when none does. A tool that runs out of memory
// fails with "\nERROR: out of memory".
DispatchResult ModeDispatcher(const std::string& mode, const std::string& path, const std::string& option);

// The usage text; with `help` (for --help) it names the "lsfps" word too.
void PrintUsage(bool help);

// The whole run of the program: locale, usage, dispatch and the final "\n".
// Returns the process exit status.
int RunCommandLine(int argc, const char* const* argv);

}  // namespace fpskit
