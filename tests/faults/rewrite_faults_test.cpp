// Every tool that rewrites a game file, driven through the real executable
// while things go wrong: the write cut short by a file-size limit, a
// directory it may not write to, and the process killed at each step of
// writing the temporary file and renaming it. The input must stay byte for
// byte as it was (or, once the rename is done, be the whole new file), no
// temporary file may be left except by a killed process, a process that
// lives must exit 1, and the run after a kill must succeed without touching
// what the killed one left. One row per tool in kRewriteCases.
#if !defined(_WIN32)

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "compress/tlzc.h"
#include "support/archive_builder.h"
#include "support/builders.h"
#include "support/chtx_builder.h"
#include "support/process.h"
#include "support/run_tool.h"
#include "support/scf_builder.h"
#include "support/temp_dir.h"
#include "support/tlzc_builder.h"
#include "support/tss_builder.h"

namespace fpskit {
namespace {

using support::ChildOptions;
using support::ChildRun;
using support::SnapshotTree;
using support::TempDir;
using support::TracedRun;
using support::TreeSnapshot;
using support::WriteStep;
using support::WriteTestFile;

struct RewriteCase {
  std::string name;
  std::vector<std::string> arguments;  // the mode word, the file, an option
  std::string target;                  // the file it replaces, relative to the work directory
  std::function<void(const std::string& dir)> setup;  // writes the target and what the tool reads
};

void PrintTo(const RewriteCase& rewrite, std::ostream* os) { *os << rewrite.name; }

// A chat file of a few dozen entries and a dump that changes every English line.
void WriteChatWithDump(const std::string& dir) {
  support::ChtxBuilder chat;
  chat.String("lead");
  std::string dump = "lead\r\n";
  for (int i = 0; i < 40; ++i) {
    const std::string n = std::to_string(i);
    chat.Entry("speaker " + n, "jp line " + n, "en line " + n, uint32_t(i));
    dump += "\r\nspeaker " + n + "\r\n[JP]: jp line " + n + "\r\n[EN]: translated line " + n + "\r\n";
  }
  ASSERT_TRUE(WriteTestFile(dir + "/chat.bin", chat.Build()));
  ASSERT_TRUE(WriteTestFile(dir + "/chat.txt", dump));
}

void WriteScfWithDump(const std::string& dir) {
  support::ScfLayout layout;
  for (int i = 0; i < 12; ++i) {
    support::ScfTestEntry entry;
    entry.texts = {"jp " + std::to_string(i), "jp", "en " + std::to_string(i), "en"};
    layout.entries.push_back(entry);
  }
  const support::ScfTestFile scf = support::MakeScfFile(layout);
  std::string dump;
  for (uint32_t tag : scf.tags) dump += support::ScfDumpBlock(tag, {"jp", "jp", "new text", "more new text"});
  ASSERT_TRUE(WriteTestFile(dir + "/dialog.scf", scf.bytes));
  ASSERT_TRUE(WriteTestFile(dir + "/dialog.txt", dump));
}

// A script with references, a quad and an SP string, and a dump that changes
// all of them.
support::TssTestFile SceneScript(int variant) {
  const std::string v = std::to_string(variant);
  return support::MakeTssFile({{"hello " + v, "world " + v, "again"}, {0, 1, 2, 0},
                               {{"jp a", "jp b", "en a " + v, "en b"}}, "speaker " + v});
}

std::string SceneDump(const support::TssTestFile& script) {
  std::string dump = support::TssQuadGroup(script.quadPositions.at(0), {"jp a", "jp b", "new en a", "new en b"});
  dump += "[END]\r\n\r\n[SP]: new speaker\r\n\r\n";
  for (int i = 0; i < 4; ++i) dump += "[00000" + std::to_string(i) + "]: new line " + std::to_string(i) + "\r\n";
  return dump;
}

void WriteScriptWithDump(const std::string& dir) {
  const support::TssTestFile script = SceneScript(0);
  ASSERT_TRUE(WriteTestFile(dir + "/scene.tss", script.bytes));
  ASSERT_TRUE(WriteTestFile(dir + "/scene.txt", SceneDump(script)));
}

// A container of three members; text mode finds a dump for each in
// 'scene/', raw mode ("tss2") a changed member file.
void WriteContainer(const std::string& dir, bool raw) {
  std::vector<std::optional<Bytes>> rows;
  for (int i = 0; i < 3; ++i) rows.push_back(SceneScript(i).bytes);
  ASSERT_TRUE(WriteTestFile(dir + "/scene.scel", support::MakeScelContainer(rows)));
  ASSERT_EQ(mkdir((dir + "/scene").c_str(), 0755), 0);
  for (int i = 0; i < 3; ++i) {
    const std::string member = dir + "/scene/scene_000" + std::to_string(i);
    if (raw) {
      ASSERT_TRUE(WriteTestFile(member + ".bin", SceneScript(i + 5).bytes));
    } else {
      ASSERT_TRUE(WriteTestFile(member + ".txt", SceneDump(SceneScript(i))));
    }
  }
}

// An archive of a plain member, a compressed one and a nested archive,
// unpacked by the real "unfps", with the plain member and a nested member
// edited; optionally the whole archive in a TLZC container.
void WriteArchiveWithUnpackDirectory(const std::string& dir, bool wrapped) {
  support::Fps4Layout inner;
  inner.entrySize = 32;
  inner.members = {support::Member(support::MixedGameData(3000, 1), "deep.bin")};
  support::Fps4Layout layout;
  layout.entrySize = 32;
  layout.members = {support::Member(support::MixedGameData(5000, 2), "one.bin"),
                    support::Member(support::TlzcZlibContainer(support::MixedGameData(4000, 3)), "packed.bin"),
                    support::Member(support::BuildFps4(inner), "inner.bin")};
  Bytes archive = support::BuildFps4(layout);
  if (wrapped) archive = CompressTlzc(archive, 1);
  ASSERT_TRUE(WriteTestFile(dir + "/A.dat", archive));
  const support::ToolRun unpack = support::RunTool(FPSKIT_BINARY, {"unfps", "A.dat"}, dir);
  ASSERT_EQ(unpack.status, 0) << unpack.output;
  ASSERT_TRUE(WriteTestFile(dir + "/A/one.bin", support::MixedGameData(7000, 4)));
  ASSERT_TRUE(WriteTestFile(dir + "/A/inner/deep.bin", support::MixedGameData(2000, 5)));
}

const RewriteCase kRewriteCases[] = {
    {"cht", {"cht", "chat.bin"}, "chat.bin", WriteChatWithDump},
    {"cht_shared", {"cht", "chat.bin", "1"}, "chat.bin", WriteChatWithDump},
    {"cht_switch", {"cht_switch", "chat.bin"}, "chat.bin", WriteChatWithDump},
    {"scf", {"scf", "dialog.scf"}, "dialog.scf", WriteScfWithDump},
    {"scf_switch", {"scf_switch", "dialog.scf"}, "dialog.scf", WriteScfWithDump},
    {"tss_script", {"tss", "scene.tss"}, "scene.tss", WriteScriptWithDump},
    {"tss_switch_script", {"tss_switch", "scene.tss"}, "scene.tss", WriteScriptWithDump},
    {"tss2_script", {"tss2", "scene.tss"}, "scene.tss", WriteScriptWithDump},
    {"tss_container", {"tss", "scene.scel"}, "scene.scel", [](const std::string& dir) { WriteContainer(dir, false); }},
    {"tss_switch_container", {"tss_switch", "scene.scel"}, "scene.scel",
     [](const std::string& dir) { WriteContainer(dir, false); }},
    {"tss2_container", {"tss2", "scene.scel"}, "scene.scel", [](const std::string& dir) { WriteContainer(dir, true); }},
    {"fps", {"fps", "A.dat"}, "A.dat", [](const std::string& dir) { WriteArchiveWithUnpackDirectory(dir, false); }},
    {"fps_tlzc", {"fps", "A.dat"}, "A.dat", [](const std::string& dir) { WriteArchiveWithUnpackDirectory(dir, true); }},
};

bool IsTemporaryName(const std::string& relativePath) {
  return std::filesystem::path(relativePath).filename().string().rfind("$$$TEMP$$$", 0) == 0;
}

std::string Describe(const ChildRun& run) {
  return "exit " + std::to_string(run.exitStatus) + ", signal " + std::to_string(run.signal) + ", output:\n" +
         run.output;
}

class RewriteFaults : public testing::TestWithParam<RewriteCase> {
 protected:
  // A work directory with the case's inputs.
  struct Work {
    TempDir dir;
    TreeSnapshot before;
    std::string original;  // the target as it was
  };

  static void Prepare(Work& work) {
    ASSERT_FALSE(work.dir.path().empty());
    GetParam().setup(work.dir.path());
    work.before = SnapshotTree(work.dir.path());
    ASSERT_TRUE(work.before.count(GetParam().target));
    work.original = work.before.at(GetParam().target);
  }

  static std::vector<std::string> Argv() {
    std::vector<std::string> argv = {FPSKIT_BINARY};
    argv.insert(argv.end(), GetParam().arguments.begin(), GetParam().arguments.end());
    return argv;
  }

  static ChildRun Run(const Work& work, ChildOptions options = {}) {
    options.directory = work.dir.path();
    return support::RunChild(Argv(), options);
  }

  // What an undisturbed run makes of the target; it must change nothing else.
  static std::string Rewritten() {
    Work work;
    Prepare(work);
    const ChildRun run = Run(work);
    EXPECT_EQ(run.exitStatus, 0) << Describe(run);
    TreeSnapshot after = SnapshotTree(work.dir.path());
    const std::string result = after[GetParam().target];
    EXPECT_NE(result, work.original) << "the tool must change its target for the faults to mean anything";
    after[GetParam().target] = work.original;
    EXPECT_EQ(after, work.before) << "an undisturbed run changed more than its target";
    return result;
  }
};

TEST_P(RewriteFaults, AWriteCutShortByTheFileSizeLimitLeavesEverythingAsItWas) {
  const std::string rewritten = Rewritten();
  ASSERT_FALSE(rewritten.empty());
  for (const uint64_t limit : {uint64_t(0), uint64_t(1), uint64_t(rewritten.size() / 2), uint64_t(rewritten.size() - 1)}) {
    Work work;
    Prepare(work);
    ChildOptions options;
    options.fileSizeLimit = limit;
    const ChildRun run = Run(work, options);
    EXPECT_EQ(run.exitStatus, 1) << "limit " << limit << ": " << Describe(run);
    EXPECT_NE(run.output.find("can't write"), std::string::npos) << "limit " << limit << ": " << run.output;
    EXPECT_EQ(SnapshotTree(work.dir.path()), work.before) << "limit " << limit;
  }
}

TEST_P(RewriteFaults, ADirectoryItMayNotWriteToIsReportedAndNothingChanges) {
  Work work;
  Prepare(work);
  // Readable by every user, writable by none; as root the child runs as
  // "nobody", for whom these bits hold.
  for (const auto& [path, contents] : work.before) {
    chmod((work.dir / path).c_str(), contents == "<dir>" ? 0555 : 0444);
  }
  ASSERT_EQ(chmod(work.dir.path().c_str(), 0555), 0);
  ChildOptions options;
  options.unprivileged = true;
  const ChildRun run = Run(work, options);
  chmod(work.dir.path().c_str(), 0755);
  EXPECT_EQ(run.exitStatus, 1) << Describe(run);
  // The tool read its inputs and failed only at the write.
  EXPECT_NE(run.output.find("can't write"), std::string::npos) << run.output;
  EXPECT_EQ(SnapshotTree(work.dir.path()), work.before);
}

// The steps at which the child is killed: the first write, its end, a write
// in the middle, the last write, and every sync and rename.
std::vector<size_t> KillPoints(const std::vector<WriteStep>& steps) {
  std::set<size_t> points;
  std::vector<size_t> writes;
  for (size_t i = 0; i < steps.size(); ++i) {
    if (steps[i] == WriteStep::kWriteStarts) writes.push_back(i);
    if (steps[i] != WriteStep::kWriteStarts && steps[i] != WriteStep::kWriteDone) points.insert(i);
  }
  if (!writes.empty()) {
    for (size_t w : {writes.front(), writes[writes.size() / 2], writes.back()}) {
      points.insert(w);
      if (w + 1 < steps.size()) points.insert(w + 1);
    }
  }
  return {points.begin(), points.end()};
}

TEST_P(RewriteFaults, AKilledWriteLeavesTheTargetWholeAndTheNextRunSucceeds) {
  const std::string rewritten = Rewritten();
  std::vector<WriteStep> steps;
  {
    Work work;
    Prepare(work);
    const TracedRun traced = support::RunChildTraced(Argv(), work.dir.path(), std::nullopt);
    ASSERT_EQ(traced.run.exitStatus, 0) << Describe(traced.run);
    EXPECT_EQ(SnapshotTree(work.dir.path())[GetParam().target], rewritten);
    steps = traced.steps;
  }
  ASSERT_NE(std::count(steps.begin(), steps.end(), WriteStep::kWriteStarts), 0);
  ASSERT_NE(std::count(steps.begin(), steps.end(), WriteStep::kRenamed), 0);

  for (const size_t point : KillPoints(steps)) {
    SCOPED_TRACE("killed at step " + std::to_string(point) + " (" + support::WriteStepName(steps[point]) + ")");
    Work work;
    Prepare(work);
    const TracedRun traced = support::RunChildTraced(Argv(), work.dir.path(), point);
    ASSERT_TRUE(traced.killed);
    ASSERT_EQ(traced.run.signal, SIGKILL) << Describe(traced.run);

    // Every file is as it was, but the target may be the whole new file once
    // a rename has run; the only new files are the temporary ones.
    const bool renamed = std::count(steps.begin(), steps.begin() + ptrdiff_t(point), WriteStep::kRenamed) > 0 ||
                         steps[point] == WriteStep::kRenamed;
    const TreeSnapshot killed = SnapshotTree(work.dir.path());
    TreeSnapshot leftovers;
    for (const auto& [path, contents] : killed) {
      if (!work.before.count(path)) {
        EXPECT_TRUE(IsTemporaryName(path)) << path;
        leftovers[path] = contents;
      } else if (path == GetParam().target) {
        EXPECT_EQ(contents, renamed ? rewritten : work.original);
      } else {
        EXPECT_EQ(contents, work.before.at(path)) << path;
      }
    }
    for (const auto& entry : work.before) EXPECT_TRUE(killed.count(entry.first)) << entry.first << " was removed";
    if (!renamed) {
      EXPECT_EQ(leftovers.size(), 1u) << "killed while writing, the temporary file stays";
    }

    // The next run succeeds and leaves the killed run's file alone.
    const ChildRun next = Run(work);
    EXPECT_EQ(next.exitStatus, 0) << Describe(next);
    TreeSnapshot after = SnapshotTree(work.dir.path());
    if (!renamed) {
      EXPECT_EQ(after[GetParam().target], rewritten);
    }
    for (const auto& [path, contents] : leftovers) {
      EXPECT_EQ(after[path], contents) << path;
      EXPECT_NE(next.output.find("NOTE: " + path + " was left by a run that was killed"), std::string::npos)
          << next.output;
    }
    after.erase(GetParam().target);
    TreeSnapshot expected = killed;
    expected.erase(GetParam().target);
    EXPECT_EQ(after, expected) << "the next run left or removed other files";
  }
}

// Ctrl-C, a closed terminal, a "kill": the handler removes the temporary
// file and the process ends by the signal. A rename already entered runs to
// its end first. The signals take turns over the steps.
TEST_P(RewriteFaults, AnInterruptedWriteLeavesNoTemporaryFile) {
  const std::string rewritten = Rewritten();
  std::vector<WriteStep> steps;
  {
    Work work;
    Prepare(work);
    steps = support::RunChildTraced(Argv(), work.dir.path(), std::nullopt).steps;
  }
  const int signals[] = {SIGINT, SIGTERM, SIGHUP};
  const std::vector<size_t> points = KillPoints(steps);
  for (size_t i = 0; i < points.size(); ++i) {
    const size_t point = points[i];
    const int signal = signals[i % 3];
    SCOPED_TRACE("signal " + std::to_string(signal) + " at step " + std::to_string(point) + " (" +
                 support::WriteStepName(steps[point]) + ")");
    Work work;
    Prepare(work);
    const TracedRun traced = support::RunChildTraced(Argv(), work.dir.path(), point, signal);
    ASSERT_TRUE(traced.killed);
    EXPECT_EQ(traced.run.signal, signal) << Describe(traced.run);
    TreeSnapshot expected = work.before;
    if (std::count(steps.begin(), steps.begin() + ptrdiff_t(point) + 1, WriteStep::kRename) > 0) {
      expected[GetParam().target] = rewritten;
    }
    EXPECT_EQ(SnapshotTree(work.dir.path()), expected);
  }
}

// Output to a pipe that nobody reads fails; the run goes on to its end.
TEST_P(RewriteFaults, AClosedOutputPipeDoesNotKillTheRun) {
  const std::string rewritten = Rewritten();
  Work work;
  Prepare(work);
  ChildOptions options;
  options.closedOutput = true;
  const ChildRun run = Run(work, options);
  EXPECT_EQ(run.signal, 0) << Describe(run);
  TreeSnapshot expected = work.before;
  expected[GetParam().target] = rewritten;
  EXPECT_EQ(SnapshotTree(work.dir.path()), expected);
}

INSTANTIATE_TEST_SUITE_P(Tools, RewriteFaults, testing::ValuesIn(kRewriteCases),
                         [](const testing::TestParamInfo<RewriteCase>& info) { return info.param.name; });

// What replaces the translator's only copy is flushed, then its directory;
// what can be written again from its source (dumps, member files, unpacked
// members) is not, one file at a time. The backup of an edited dump that a
// new dump replaces is the only copy of that edit, and is flushed.
TEST(Flushing, OnlyWhatReplacesTheOnlyCopyWaitsForTheDisk) {
  struct Case {
    std::vector<std::string> arguments;
    std::function<void(const std::string& dir)> setup;
    size_t renames;   // files written
    size_t flushes;   // of them, flushed with their directory
  };
  const Case cases[] = {
      {{"untss", "scene.tss"}, WriteScriptWithDump, 2, 1},  // the edited dump's backup, then the dump
      {{"untss", "scene.scel"}, [](const std::string& dir) { WriteContainer(dir, false); }, 6, 3},
      {{"untss2", "scene.scel"}, [](const std::string& dir) { WriteContainer(dir, false); }, 3, 0},
      // The compressed member's file still holds its bytes: it is left as it stands. The two
      // edited member files are moved to their backups (a rename each, their bytes already on
      // disk), then the new files renamed over their names.
      {{"unfps", "A.dat"}, [](const std::string& dir) { WriteArchiveWithUnpackDirectory(dir, false); }, 4, 0},
      {{"tss", "scene.tss"}, WriteScriptWithDump, 1, 1},
      {{"tss", "scene.scel"}, [](const std::string& dir) { WriteContainer(dir, false); }, 1, 1},
      {{"fps", "A.dat"}, [](const std::string& dir) { WriteArchiveWithUnpackDirectory(dir, false); }, 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments[0] + " " + c.arguments[1]);
    TempDir dir;
    c.setup(dir.path());
    std::vector<std::string> argv = {FPSKIT_BINARY};
    argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
    const TracedRun traced = support::RunChildTraced(argv, dir.path(), std::nullopt);
    ASSERT_EQ(traced.run.exitStatus, 0) << Describe(traced.run);
    const std::vector<WriteStep>& steps = traced.steps;
    EXPECT_EQ(size_t(std::count(steps.begin(), steps.end(), WriteStep::kRenamed)), c.renames);
    EXPECT_EQ(size_t(std::count(steps.begin(), steps.end(), WriteStep::kSync)), c.flushes);
    EXPECT_EQ(size_t(std::count(steps.begin(), steps.end(), WriteStep::kDirectorySync)), c.flushes);
    if (c.flushes > 0) {
      const auto lastDirectorySync = std::find(steps.rbegin(), steps.rend(), WriteStep::kDirectorySync);
      ASSERT_NE(lastDirectorySync + 1, steps.rend());
      EXPECT_EQ(lastDirectorySync[1], WriteStep::kRenamed) << "the directory is flushed after the rename";
    }
  }
}

}  // namespace
}  // namespace fpskit

#endif  // !_WIN32
