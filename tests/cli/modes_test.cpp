#include "cli/modes.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/wait.h>
#endif

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "util/paths.h"

namespace fpskit {
namespace {

const char kUsage[] =
    "\nUsage: *.exe  unfps  / fps               anyfile"
    "\nUsage: *.exe  uncht  / cht / cht_switch  ZK6CHTX     [ansi/utf8/1]"
    "\nUsage: *.exe  untss2 / tss2              ZK6SCEL"
    "\nUsage: *.exe  untss  / tss / tss_switch  TSS/ZK6SCEL [ansi/utf8]"
    "\nUsage: *.exe  unscf  / scf / scf_switch  SCFOMBIN    [ansi/utf8]"
    "\n";

struct ProcessRun {
  int status;
  std::string output;
};

#ifdef _WIN32
// Beside the test program, whatever the build directory is called from here.
std::string FpskitCommand() {
  char self[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, self, sizeof self);
  return "\"" + JoinPath(DirectoryOf(std::string(self, length)), FileNameOf(FPSKIT_BINARY)) + "\"";
}
#else
std::string FpskitCommand() { return FPSKIT_BINARY; }
#endif

// Runs the real executable, so that the exit status is the process's own.
ProcessRun RunFpskit(const std::string& arguments) {
  ProcessRun run{-1, ""};
  const std::string command = FpskitCommand() + " " + arguments + " 2>&1";
#ifdef _WIN32
  // cmd.exe takes off the outer quotes, and the C runtime's console output
  // ends its lines in CR LF, which is what a translator's console shows.
  std::FILE* pipe = _popen(("\"" + command + "\"").c_str(), "rb");
#else
  std::FILE* pipe = popen(command.c_str(), "r");
#endif
  if (pipe == nullptr) return run;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, n);
#ifdef _WIN32
  run.status = _pclose(pipe);
  std::string lines;
  for (size_t i = 0; i < run.output.size(); ++i) {
    if (run.output.compare(i, 2, "\r\n") == 0) continue;  // the '\n' follows alone
    lines += run.output[i];
  }
  run.output = lines;
#else
  const int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
  return run;
}

TEST(CommandLine, TooFewArgumentsPrintTheUsageText) {
  for (const char* arguments : {"", "unfps"}) {
    const ProcessRun run = RunFpskit(arguments);
    EXPECT_EQ(run.status, 255) << arguments;
    EXPECT_EQ(run.output, kUsage) << arguments;
  }
}

TEST(CommandLine, HelpAndVersionSucceed) {
  const ProcessRun help = RunFpskit("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.output, kUsage);
  const ProcessRun version = RunFpskit("--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.output, "fpskit " FPSKIT_VERSION "\n");
}

TEST(CommandLine, ModeWordsMatchExactly) {
  for (const char* mode : {"FPS", "unfps2", "un", "cht_", "Unscf", "tss_Switch", "\"\""}) {
    const ProcessRun run = RunFpskit(std::string(mode) + " file.bin");
    EXPECT_EQ(run.status, 2) << mode;
    EXPECT_EQ(run.output, "\nWRONG MODE\n\n") << mode;
  }
}

TEST(CommandLine, EveryModeWordReachesItsTool) {
  // Each tool fails on a file that does not exist and says so; none answers
  // "WRONG MODE", whatever option and extra arguments follow.
  for (const char* mode : {"unfps", "fps", "uncht", "cht_switch", "cht", "untss2", "tss2", "untss",
                           "tss_switch", "tss", "unscf", "scf_switch", "scf"}) {
    const ProcessRun run = RunFpskit(std::string(mode) + " /nonexistent/fpskit-file utf8 extra more");
    EXPECT_EQ(run.status, 1) << mode;
    EXPECT_EQ(run.output.find("WRONG MODE"), std::string::npos) << mode;
    ASSERT_FALSE(run.output.empty()) << mode;
    EXPECT_EQ(run.output.front(), '\n') << mode;
    EXPECT_EQ(run.output.back(), '\n') << mode;
  }
}

TEST(ModeDispatcher, AnUnknownWordIsReportedInProcess) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(ModeDispatcher("unfps2", "x", "0"), DispatchResult::kWrongMode);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "\nWRONG MODE\n");
}

}  // namespace
}  // namespace fpskit
