// Runs the real fpskit executable, so that tests see its exit status and its
// console text exactly as a translator's script does.
#pragma once

#include <string>
#include <vector>

namespace fpskit::support {

struct ToolRun {
  int status = -1;     // the exit status; -1 when it did not exit normally
  std::string output;  // standard output and standard error
};

// Runs a program (FPSKIT_BINARY, or a tool on the PATH) with the arguments,
// each quoted for the shell, in `directory` (the current one when empty). On
// Windows the console's CR LF line ends come back as LF.
ToolRun RunTool(const std::string& binary, const std::vector<std::string>& arguments,
                const std::string& directory = "");

}  // namespace fpskit::support
