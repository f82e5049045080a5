#include "cli/modes.h"

#ifndef _WIN32
#include <unistd.h>
#endif

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/recording_reporter.h"
#include "support/run_tool.h"
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

using support::RunTool;
using support::ToolRun;

TEST(CommandLine, TooFewArgumentsPrintTheUsageText) {
  for (const std::vector<std::string>& arguments : {std::vector<std::string>{}, {"unfps"}}) {
    const ToolRun run = RunTool(FPSKIT_BINARY, arguments);
    EXPECT_EQ(run.status, 255) << arguments.size();
    EXPECT_EQ(run.output, kUsage) << arguments.size();
  }
}

TEST(CommandLine, HelpAndVersionSucceed) {
  const ToolRun help = RunTool(FPSKIT_BINARY, {"--help"});
  EXPECT_EQ(help.status, 0);
  // --help names the listing word, the tree words and the translation words
  // too; the usage text after a wrong command line does not.
  std::string withListing = kUsage;
  withListing.insert(withListing.size() - 1, "\nUsage: *.exe  dump   / insert / check    DIR or file [utf8/1]");
  withListing.insert(std::strlen("\nUsage: *.exe  unfps  / fps               anyfile"),
                     "\nUsage: *.exe  lsfps                     anyfile");
  withListing.insert(withListing.size() - 1,
                     "\nUsage: *.exe  dump2po / po2dump         DIR or file [en/pot] / [fuzzy]");
  EXPECT_EQ(help.output, withListing);
  const ToolRun version = RunTool(FPSKIT_BINARY, {"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.output, "fpskit " FPSKIT_VERSION "\n");
}

TEST(CommandLine, ModeWordsMatchExactly) {
  for (const char* mode : {"FPS", "unfps2", "un", "cht_", "Unscf", "tss_Switch", ""}) {
    const ToolRun run = RunTool(FPSKIT_BINARY, {mode, "file.bin"});
    EXPECT_EQ(run.status, 2) << mode;
    EXPECT_EQ(run.output, "\nWRONG MODE\n\n") << mode;
  }
}

TEST(CommandLine, EveryModeWordReachesItsTool) {
  // Each tool fails on a file that does not exist and says so; none answers
  // "WRONG MODE", whatever option and extra arguments follow.
  for (const char* mode : {"unfps", "fps", "uncht", "cht_switch", "cht", "untss2", "tss2", "untss",
                           "tss_switch", "tss", "unscf", "scf_switch", "scf", "lsfps", "dump2po", "po2dump"}) {
    const ToolRun run = RunTool(FPSKIT_BINARY, {mode, "/nonexistent/fpskit-file", "utf8", "extra", "more"});
    EXPECT_EQ(run.status, 1) << mode;
    EXPECT_EQ(run.output.find("WRONG MODE"), std::string::npos) << mode;
    ASSERT_FALSE(run.output.empty()) << mode;
    EXPECT_EQ(run.output.front(), '\n') << mode;
    EXPECT_EQ(run.output.back(), '\n') << mode;
  }
}

// POSIX only: the limit comes from the shell's ulimit.
#ifndef _WIN32
TEST(CommandLine, OutOfMemoryIsAnErrorLikeAnyOther) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer needs more address space than the limit leaves";
#else
  // A sparse chat file of 1 GiB cannot be read under a 256 MiB limit.
  support::TempDir dir;
  ASSERT_TRUE(support::WriteTestFile(dir / "big.cht", std::string("ZK6CHTX")));
  ASSERT_EQ(truncate((dir / "big.cht").c_str(), off_t(1) << 30), 0);
  const ToolRun run =
      RunTool("sh", {"-c", "ulimit -v 262144 && exec \"$0\" uncht big.cht", FPSKIT_BINARY}, dir.path());
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output, "\nERROR: out of memory\n");
  EXPECT_EQ(support::ListDirectory(dir.path()), std::vector<std::string>{"big.cht"});
#endif
}
#endif

TEST(ModeDispatcher, AnUnknownWordIsReportedInProcess) {
  support::RecordingReporter console;
  EXPECT_EQ(ModeDispatcher("unfps2", "x", "0"), DispatchResult::kWrongMode);
  EXPECT_EQ(console.output(), "\nWRONG MODE\n");
}

}  // namespace
}  // namespace fpskit
