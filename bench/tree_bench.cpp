// The tree words against the single-file words run once per file from a
// shell loop, as a translator did before: "dump" and "insert" over a tree of
// 200 chat, script and SCF files with a code table of several thousand rows.
// Both sides run the real executable (FPSKIT in the environment, default
// build/fpskit) in the tree's directory, where the code tables are.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "support/builders.h"
#include "support/chtx_builder.h"
#include "support/scf_builder.h"
#include "support/temp_dir.h"
#include "support/tss_builder.h"

namespace fpskit {
namespace {

namespace fs = std::filesystem;

constexpr int kFileCount = 200;
constexpr size_t kTextSize = 12 * 1024;

struct GameFile {
  std::string path;   // relative to the work directory
  std::string dump;   // the single-file word that dumps it
  std::string insert; // the one that writes it back
  Bytes bytes;
};

// Appends "!" to the first text line of a dump.
void EditDump(const std::string& path) {
  std::string text = support::ToString(support::ReadTestFile(path));
  const size_t line = text.find("]: ");
  if (line != std::string::npos) text.insert(text.find("\r\n", line), "!");
  support::WriteTestFile(path, text);
}

Bytes MakeTable(uint32_t seed, const std::vector<CodeTableEntry>& rows) {
  support::ScfLayout layout;
  for (uint32_t i = 0; i < 48; ++i) {
    std::array<std::optional<std::string>, 4> texts;
    for (uint32_t slot = 0; slot < 4; ++slot) {
      texts[slot] = support::ToString(support::ShiftJisText(kTextSize / 200, seed * 1000 + i * 4 + slot, rows));
    }
    layout.entries.push_back({texts});
  }
  return support::MakeScfFile(layout).bytes;
}

// The work directory: code tables, the tree "game/" with every file dumped
// and every dump edited, and the command list of the shell loop.
class Workspace {
 public:
  Workspace() {
    rows_ = support::ShiftJisRows();
    const std::string root = dir_.path();
    support::WriteTestFile(root + "/JPCODES.TXT", support::CodeTableText(rows_, true));
    support::WriteTestFile(root + "/CODES.TXT", std::string());
    for (int i = 0; i < kFileCount; ++i) {
      const std::string sub = "game/area" + std::to_string(i % 10) + "/";
      fs::create_directories(root + "/" + sub);
      const uint32_t seed = uint32_t(i + 1);
      switch (i % 3) {
        case 0: files_.push_back({sub + "talk" + std::to_string(i) + ".bin", "uncht", "cht",
                                  support::MakeShiftJisChat(kTextSize, seed, rows_)}); break;
        case 1: files_.push_back({sub + "event" + std::to_string(i) + ".bin", "untss", "tss",
                                  support::MakeShiftJisScript(kTextSize, seed, rows_)}); break;
        default: files_.push_back({sub + "menu" + std::to_string(i) + ".cmp", "unscf", "scf",
                                   MakeTable(seed, rows_)}); break;
      }
    }
    std::ofstream dumpList(root + "/dump.list");
    std::ofstream insertList(root + "/insert.list");
    for (const GameFile& file : files_) {
      dumpList << file.dump << ' ' << file.path << '\n';
      insertList << file.insert << ' ' << file.path << '\n';
    }
    dumpList.close();
    insertList.close();
    Restore();
    ok_ = Run("\"$FPSKIT\" dump game >/dev/null 2>&1");
    for (const auto& entry : fs::recursive_directory_iterator(root + "/game")) {
      if (entry.path().extension() != ".txt") continue;
      EditDump(entry.path().string());
      editedDumps_.emplace_back(entry.path().string(), support::ReadTestFile(entry.path().string()));
    }
  }

  // Puts every game file back as it was made, and every dump as it was
  // edited (a dump run in between writes them unedited again).
  void Restore() const {
    for (const GameFile& file : files_) support::WriteTestFile(dir_.path() + "/" + file.path, file.bytes);
    for (const auto& [path, bytes] : editedDumps_) support::WriteTestFile(path, bytes);
  }

  bool Run(const std::string& command) const {
    const char* binary = std::getenv("FPSKIT");
    const std::string fpskit = binary != nullptr ? binary : fs::absolute("build/fpskit").string();
    const std::string line = "cd '" + dir_.path() + "' && FPSKIT='" + fpskit + "' sh -c '" + command + "'";
    return std::system(line.c_str()) == 0;
  }

  // Writes the team's limits beside the code tables, or removes them.
  void SetLimits(bool present) const {
    const std::string path = dir_.path() + "/LIMITS.TXT";
    if (!present) {
      fs::remove(path);
      return;
    }
    // Every text of every file is measured against every kind of limit,
    // pixels through a width table, after rules whose patterns match no file.
    support::WriteTestFile(path,
                           "linebreak 0A\r\npagebreak 0C\r\nwidth 12\r\nwidth 20-7E 6\r\nwidth 81 40 6\r\n"
                           "control 1B 4E chars 8 pixels 96\r\ncontrol 1B 43 02\r\n"
                           "chat file opening_* EN chars 20\r\nscript file credits?.bin bytes 40\r\n"
                           "chat chars 64 lines 4 bytes 256 pixels 768\r\n"
                           "script chars 64 lines 4 bytes 256 pixels 768\r\n"
                           "scf chars 64 lines 4 bytes 256 pixels 768\r\n");
  }

  bool ok() const { return ok_; }
  size_t rowCount() const { return rows_.size(); }

 private:
  support::TempDir dir_;
  std::vector<CodeTableEntry> rows_;
  std::vector<GameFile> files_;
  std::vector<std::pair<std::string, Bytes>> editedDumps_;
  bool ok_ = false;
};

const Workspace& Work() {
  static const Workspace work;
  return work;
}

// The loop a translator wrote before the tree words: one run per file.
constexpr const char* kLoop = "while read word path; do \"$FPSKIT\" $word \"$path\" >/dev/null 2>&1 || exit 1; done <";

void Measure(benchmark::State& state, const std::string& command, bool restore) {
  const Workspace& work = Work();
  if (!work.ok()) return state.SkipWithError("cannot make the tree");
  for (auto _ : state) {
    if (restore) {
      state.PauseTiming();
      work.Restore();
      state.ResumeTiming();
    }
    if (!work.Run(command)) return state.SkipWithError("a run failed");
  }
  state.counters["files"] = kFileCount;
  state.counters["rows"] = double(work.rowCount());
}

void TreeDump(benchmark::State& state) { Measure(state, "\"$FPSKIT\" dump game >/dev/null 2>&1", false); }
void LoopDump(benchmark::State& state) { Measure(state, std::string(kLoop) + " dump.list", false); }
// Each insertion starts from the files as they were made and the dumps as
// they were edited, so that every file is written.
void TreeInsert(benchmark::State& state) { Measure(state, "\"$FPSKIT\" insert game >/dev/null 2>&1", true); }
void LoopInsert(benchmark::State& state) { Measure(state, std::string(kLoop) + " insert.list", true); }

// "check" over the edited dumps, without and with LIMITS.TXT: the limits may
// add at most a fifth (bench/compare_check_limits.sh).
void TreeCheck(benchmark::State& state) {
  Work().SetLimits(false);
  Measure(state, "\"$FPSKIT\" check game >/dev/null 2>&1", false);
}
void TreeCheckLimits(benchmark::State& state) {
  Work().SetLimits(true);
  // Exit status 3: texts over a limit, and nothing worse.
  Measure(state, "\"$FPSKIT\" check game >/dev/null 2>&1; test $? = 3", false);
  Work().SetLimits(false);
}

BENCHMARK(TreeDump)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(LoopDump)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(TreeInsert)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(LoopInsert)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(TreeCheck)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(TreeCheckLimits)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

}  // namespace
}  // namespace fpskit

BENCHMARK_MAIN();
