#include "support/run_tool.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/wait.h>
#endif

#include <cstdio>
#include <string>

#include "util/files.h"
#include "util/paths.h"

namespace fpskit::support {
namespace {

#ifdef _WIN32
// Quoted as the C runtime splits a command line into arguments (cmd.exe
// leaves text inside quotes alone).
std::string Quoted(const std::string& text) {
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (char c : text) {
    if (c == '\\') {
      ++backslashes;
    } else {
      if (c == '"') quoted.append(backslashes + 1, '\\');
      backslashes = 0;
    }
    quoted += c;
  }
  quoted.append(backslashes, '\\');
  return quoted + "\"";
}

// A program named without a directory is taken from beside the test program
// when it is there (the cross-built fpskit.exe), else from the PATH.
std::string Locate(const std::string& binary) {
  if (binary.find_first_of("/\\") != std::string::npos) return binary;
  char self[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, self, sizeof self);
  const std::string beside = JoinPath(DirectoryOf(std::string(self, length)), binary);
  return FileExists(beside) ? beside : binary;
}
#else
std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}
#endif

}  // namespace

ToolRun RunTool(const std::string& binary, const std::vector<std::string>& arguments, const std::string& directory) {
  ToolRun run;
#ifdef _WIN32
  std::string command = directory.empty() ? "" : "cd /d " + Quoted(directory) + " && ";
  command += Quoted(Locate(binary));
  for (const std::string& argument : arguments) command += " " + Quoted(argument);
  // cmd.exe /c takes off the outer pair of quotes. The command goes in
  // UTF-16, so that paths in any characters reach the program as they are.
  const std::string line = "\"" + command + " 2>&1\"";
  std::wstring wide(line.size() + 1, L'\0');
  wide.resize(size_t(MultiByteToWideChar(CP_UTF8, 0, line.data(), int(line.size()), wide.data(), int(wide.size()))));
  std::FILE* pipe = _wpopen(wide.c_str(), L"rb");
#else
  std::string command = directory.empty() ? "" : "cd " + Quoted(directory) + " && ";
  command += Quoted(binary);
  for (const std::string& argument : arguments) command += " " + Quoted(argument);
  std::FILE* pipe = popen((command + " 2>&1").c_str(), "r");
#endif
  if (pipe == nullptr) return run;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, n);
#ifdef _WIN32
  run.status = _pclose(pipe);
  // The C runtime ends console lines in CR LF; the tests compare LF lines.
  std::string lines;
  for (size_t i = 0; i < run.output.size(); ++i) {
    if (run.output.compare(i, 2, "\r\n") != 0) lines += run.output[i];
  }
  run.output = lines;
#else
  const int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
  return run;
}

}  // namespace fpskit::support
