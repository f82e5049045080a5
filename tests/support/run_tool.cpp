#include "support/run_tool.h"

#include <sys/wait.h>

#include <cstdio>

namespace fpskit::support {
namespace {

std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

}  // namespace

ToolRun RunTool(const std::string& binary, const std::vector<std::string>& arguments, const std::string& directory) {
  std::string command = directory.empty() ? "" : "cd " + Quoted(directory) + " && ";
  command += Quoted(binary);
  for (const std::string& argument : arguments) command += " " + Quoted(argument);
  ToolRun run;
  std::FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, n);
  const int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

}  // namespace fpskit::support
