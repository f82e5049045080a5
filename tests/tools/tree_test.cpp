#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/builders.h"
#include "support/chtx_builder.h"
#include "support/scf_builder.h"
#include "support/temp_dir.h"
#include "support/tss_builder.h"
#include "text/chtx/chtx.h"
#include "text/scel/scel.h"
#include "tools/text/chtx_tool.h"
#include "tools/text/scel_tool.h"
#include "tools/text/scf_tools.h"
#include "tools/tree.h"
#include "util/reporter.h"

namespace fpskit {
namespace {

namespace fs = std::filesystem;

// Keeps what a run prints, standard error marked.
class CapturedConsole final : public Reporter {
 public:
  void Output(std::string_view text) override { text_ += text; }
  void Notice(std::string_view line) override { text_ += "\n[stderr] " + std::string(line); }
  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

struct TreeRun {
  bool ok;
  std::string output;
};

TreeRun RunTree(const std::string& root, TreeWord word, const std::string& option = "0", unsigned workers = 0) {
  CapturedConsole console;
  ScopedReporter scoped(console);
  const bool ok = RunTextTree(root, word, option, workers);
  return {ok, console.text()};
}

// Appends "!" to the first text line of a dump (the first line holding "]: ").
void EditDump(const std::string& path) {
  std::string text = support::ToString(support::ReadTestFile(path));
  const size_t line = text.find("]: ");
  ASSERT_NE(line, std::string::npos) << path;
  text.insert(text.find("\r\n", line), "!");
  ASSERT_TRUE(support::WriteTestFile(path, text));
}

// One file of each kind under names that do not tell the kind, a file that is
// none of them, and code tables in the current directory.
void WriteGameTree(const std::string& root, const std::vector<CodeTableEntry>& rows) {
  fs::create_directories(root + "/x");
  fs::create_directories(root + "/y");
  ASSERT_TRUE(support::WriteTestFile(root + "/x/talk.bin", support::MakeShiftJisChat(3000, 1, rows)));
  ASSERT_TRUE(support::WriteTestFile(root + "/x/script", support::MakeShiftJisScript(3000, 2, rows)));
  ASSERT_TRUE(support::WriteTestFile(
      root + "/y/box.dat", support::MakeScelContainer({support::MakeShiftJisScript(2000, 3, rows), std::nullopt,
                                                       support::MakeShiftJisScript(2000, 4, rows)})));
  support::ScfLayout layout;
  for (const char* text : {"Harbour", "Lantern", "Orchard"}) {
    layout.entries.push_back({{std::string(text), std::string(text) + " 2", std::string(text) + " en", std::nullopt}});
  }
  ASSERT_TRUE(support::WriteTestFile(root + "/y/table.cmp", support::MakeScfFile(layout).bytes));
  ASSERT_TRUE(support::WriteTestFile(root + "/y/plain.bin", std::string("no game text here")));
}

std::vector<std::string> DumpsUnder(const std::string& root) {
  std::vector<std::string> dumps;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.path().extension() == ".txt") dumps.push_back(entry.path().string());
  }
  return dumps;
}

// The tree words write exactly what the single-file words write, file by file,
// and a second insertion changes nothing.
TEST(TextTree, DoesWhatTheSingleFileWordsDoAndInsertsOnlyChangedTexts) {
  support::TempDir dir;
  support::ScopedCurrentDirectory inside(dir.path());
  const std::vector<CodeTableEntry> rows = support::ShiftJisRows();
  ASSERT_TRUE(support::WriteTestFile("JPCODES.TXT", support::CodeTableText(rows)));
  ASSERT_TRUE(support::WriteTestFile("CODES.TXT", std::string()));
  WriteGameTree("tree", rows);
  fs::copy("tree", "single", fs::copy_options::recursive);

  const TreeRun dumped = RunTree("tree", TreeWord::kDump);
  EXPECT_TRUE(dumped.ok) << dumped.output;
  EXPECT_NE(dumped.output.find("\n4 files: 4 dumped, 0 failed"), std::string::npos) << dumped.output;
  {
    CapturedConsole quiet;
    ScopedReporter scoped(quiet);
    ASSERT_TRUE(ExtractChtx("single/x/talk.bin", "0"));
    ASSERT_TRUE(ScriptTextEntry("single/x/script", "0", {.extract = true}));
    ASSERT_TRUE(ScriptTextEntry("single/y/box.dat", "0", {.extract = true}));
    ASSERT_TRUE(ExtractScf("single/y/table.cmp", "0"));
  }
  EXPECT_EQ(support::SnapshotTree("tree"), support::SnapshotTree("single"));

  const TreeRun untouched = RunTree("tree", TreeWord::kInsert);
  EXPECT_TRUE(untouched.ok);
  EXPECT_NE(untouched.output.find("\n4 files: 0 written, 4 unchanged, 0 failed"), std::string::npos)
      << untouched.output;
  EXPECT_EQ(support::SnapshotTree("tree"), support::SnapshotTree("single"));

  for (const char* root : {"tree", "single"}) {
    for (const std::string& dump : DumpsUnder(root)) EditDump(dump);
  }
  const support::TreeSnapshot edited = support::SnapshotTree("tree");
  const TreeRun checked = RunTree("tree", TreeWord::kCheck);
  EXPECT_TRUE(checked.ok);
  EXPECT_NE(checked.output.find("\n4 files: 4 to write, 0 unchanged, 0 failed"), std::string::npos) << checked.output;
  EXPECT_EQ(support::SnapshotTree("tree"), edited);

  const TreeRun written = RunTree("tree", TreeWord::kInsert);
  EXPECT_TRUE(written.ok) << written.output;
  {
    CapturedConsole quiet;
    ScopedReporter scoped(quiet);
    ASSERT_TRUE(InsertChtx("single/x/talk.bin", {}));
    ASSERT_TRUE(ScriptTextEntry("single/x/script", "0", {}));
    ASSERT_TRUE(ScriptTextEntry("single/y/box.dat", "0", {}));
    ASSERT_TRUE(InsertScf("single/y/table.cmp", {}));
  }
  EXPECT_EQ(support::SnapshotTree("tree"), support::SnapshotTree("single"));

  const TreeRun again = RunTree("tree", TreeWord::kInsert);
  EXPECT_NE(again.output.find("\n4 files: 0 written, 4 unchanged, 0 failed"), std::string::npos) << again.output;
  EXPECT_EQ(support::SnapshotTree("tree"), support::SnapshotTree("single"));
}

// A broken dump fails its own file only; the output is in path order whatever
// the thread count; files whose dumps would coincide are both refused.
TEST(TextTree, AFailedFileStopsNoOtherAndTheOutputKeepsPathOrder) {
  support::TempDir dir;
  support::ScopedCurrentDirectory inside(dir.path());
  const std::vector<CodeTableEntry> rows = support::ShiftJisRows();
  ASSERT_TRUE(support::WriteTestFile("JPCODES.TXT", support::CodeTableText(rows)));
  fs::create_directories("chats");
  for (int i = 0; i < 9; ++i) {
    ASSERT_TRUE(support::WriteTestFile("chats/c" + std::to_string(i) + ".bin",
                                       support::MakeShiftJisChat(1500, uint32_t(10 + i), rows)));
  }
  ASSERT_TRUE(RunTree("chats", TreeWord::kDump).ok);
  for (const std::string& dump : DumpsUnder("chats")) EditDump(dump);
  // A dump cut short: the chat file needs every line.
  std::string broken = support::ToString(support::ReadTestFile("chats/c4.txt"));
  broken.resize(broken.find("\r\n") + 2);
  ASSERT_TRUE(support::WriteTestFile("chats/c4.txt", broken));
  ASSERT_TRUE(fs::remove("chats/c7.txt"));
  const Bytes before = support::ReadTestFile("chats/c4.bin");

  const TreeRun one = RunTree("chats", TreeWord::kCheck, "0", 1);
  const TreeRun four = RunTree("chats", TreeWord::kCheck, "0", 4);
  EXPECT_FALSE(one.ok);
  EXPECT_EQ(one.output, four.output);
  EXPECT_NE(one.output.find("\nchats/c4.bin: failed\nERROR: chats/c4.txt has only 1 lines"), std::string::npos)
      << one.output;
  EXPECT_NE(one.output.find("\nchats/c7.bin: no dump"), std::string::npos) << one.output;
  EXPECT_LT(one.output.find("c3.bin"), one.output.find("c4.bin"));

  const TreeRun written = RunTree("chats", TreeWord::kInsert);
  EXPECT_FALSE(written.ok);
  EXPECT_NE(written.output.find("\n9 files: 7 written, 0 unchanged, 1 without a dump, 1 failed"), std::string::npos)
      << written.output;
  EXPECT_EQ(support::ReadTestFile("chats/c4.bin"), before);

  // 'c1.dat' would take the dump of 'c1.bin'.
  fs::copy_file("chats/c1.bin", "chats/c1.dat");
  const TreeRun clash = RunTree("chats", TreeWord::kDump);
  EXPECT_FALSE(clash.ok);
  EXPECT_NE(clash.output.find("\nchats/c1.bin: failed\nERROR: chats/c1.bin and chats/c1.dat would share the dump"),
            std::string::npos)
      << clash.output;
  EXPECT_NE(clash.output.find("\n10 files: 8 dumped, 2 failed"), std::string::npos) << clash.output;
}

// "check" reads on past a broken block or line and lists every problem of a
// dump; "insert" stops at the first, as "scf" and "tss" do.
TEST(TextTree, CheckListsEveryProblemOfADump) {
  support::TempDir dir;
  support::ScopedCurrentDirectory inside(dir.path());
  support::ScfLayout layout;
  for (const char* text : {"Harbour", "Lantern", "Orchard"}) layout.entries.push_back({{text, text, text, text}});
  const support::ScfTestFile table = support::MakeScfFile(layout);
  support::TssScript script;
  script.strings = {"Anchor", "Beacon"};
  script.references = {0, 1};
  fs::create_directories("t");
  ASSERT_TRUE(support::WriteTestFile("t/menu.cmp", table.bytes));
  ASSERT_TRUE(support::WriteTestFile("t/event.bin", support::MakeTssFile(script).bytes));
  ASSERT_TRUE(RunTree("t", TreeWord::kDump).ok);
  char tag[16];
  std::snprintf(tag, sizeof tag, "%08X", table.tags[0]);
  // Block 1: its third line lost its label; block 3: a tag the table does not have.
  std::string menu = support::ToString(support::ReadTestFile("t/menu.txt"));
  menu.replace(menu.find(std::string("[") + tag + "_EN]"), 15, "[EN]: ");
  std::snprintf(tag, sizeof tag, "%08X", table.tags[2]);
  for (size_t at = menu.find(tag); at != std::string::npos; at = menu.find(tag)) menu.replace(at, 8, "00000010");
  ASSERT_TRUE(support::WriteTestFile("t/menu.txt", menu));
  std::string event = support::ToString(support::ReadTestFile("t/event.txt"));
  event += "[000007]: no such line\r\n[00x001]: broken\r\n";
  ASSERT_TRUE(support::WriteTestFile("t/event.txt", event));

  const TreeRun checked = RunTree("t", TreeWord::kCheck);
  EXPECT_FALSE(checked.ok);
  for (const char* expected : {"\nERROR: t/menu.txt line 3 should begin with", "\nERROR: t/menu.txt line 11: tag 00000010",
                               "reference 000007 does not exist", "a numbered line must begin with"}) {
    EXPECT_NE(checked.output.find(expected), std::string::npos) << expected << "\n" << checked.output;
  }
  EXPECT_NE(checked.output.find("\n2 files: 0 to write, 0 unchanged, 2 failed"), std::string::npos) << checked.output;

  const TreeRun inserted = RunTree("t", TreeWord::kInsert);
  EXPECT_EQ(inserted.output.find("tag 00000010"), std::string::npos) << inserted.output;
  EXPECT_EQ(inserted.output.find("a numbered line must begin with"), std::string::npos) << inserted.output;
  EXPECT_EQ(support::ReadTestFile("t/menu.cmp"), table.bytes);
}

}  // namespace
}  // namespace fpskit
