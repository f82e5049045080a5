#include "cli/modes.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/temp_dir.h"

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

// Runs the real executable, so that the exit status is the process's own;
// `shell` comes before it on the shell's command line.
ProcessRun RunFpskit(const std::string& arguments, const std::string& shell = "") {
  ProcessRun run{-1, ""};
  std::FILE* pipe = popen((shell + std::string(FPSKIT_BINARY) + " " + arguments + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, n);
  const int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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

TEST(CommandLine, OutOfMemoryIsAnErrorLikeAnyOther) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer needs more address space than the limit leaves";
#else
  // A sparse chat file of 1 GiB cannot be read under a 256 MiB limit.
  support::TempDir dir;
  ASSERT_TRUE(support::WriteTestFile(dir / "big.cht", std::string("ZK6CHTX")));
  ASSERT_EQ(truncate((dir / "big.cht").c_str(), off_t(1) << 30), 0);
  const ProcessRun run = RunFpskit("uncht big.cht", "cd '" + dir.path() + "' && ulimit -v 262144 && ");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output, "\nERROR: out of memory\n");
  EXPECT_EQ(support::ListDirectory(dir.path()), std::vector<std::string>{"big.cht"});
#endif
}

TEST(ModeDispatcher, AnUnknownWordIsReportedInProcess) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(ModeDispatcher("unfps2", "x", "0"), DispatchResult::kWrongMode);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "\nWRONG MODE\n");
}

}  // namespace
}  // namespace fpskit
