// "dump2po" and "po2dump" on the dump of the 4 MiB chat file of
// chtx_bench (Shift-JIS text through a table of thousands of rows), as a
// translator runs them: files read, the catalog or the dump written safely.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "support/builders.h"
#include "support/chtx_builder.h"
#include "support/temp_dir.h"
#include "text/chtx/chtx.h"
#include "tools/text/chtx_tool.h"
#include "tools/text/po_tool.h"

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace fpskit {
namespace {

constexpr size_t kChatSize = 4 << 20;

// The tools print the file they wrote on standard output, which would run
// through the benchmark's table: it goes to /dev/null while they run.
class QuietStdout {
 public:
  QuietStdout() {
#ifndef _WIN32
    std::fflush(stdout);
    saved_ = dup(1);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    close(null);
#endif
  }
  ~QuietStdout() {
#ifndef _WIN32
    std::fflush(stdout);
    dup2(saved_, 1);
    close(saved_);
#endif
  }

 private:
  int saved_ = -1;
};

// A directory with JPCODES.TXT, the chat file and its dump ("uncht").
struct Workspace {
  support::TempDir dir;
  Bytes dump;
  bool ok = false;
  Workspace() {
    const std::vector<CodeTableEntry> rows = support::ShiftJisRows();
    support::ScopedCurrentDirectory inside(dir.path());
    ok = support::WriteTestFile("JPCODES.TXT", support::CodeTableText(rows, true)) &&
         support::WriteTestFile("chat.cht", support::MakeShiftJisChat(kChatSize, 1, rows)) &&
         ExtractChtx("chat.cht", "utf8");
    dump = support::ReadTestFile("chat.txt");
  }
};

void DumpToPoFiles(benchmark::State& state) {
  Workspace work;
  if (!work.ok) return state.SkipWithError("cannot write the inputs");
  support::ScopedCurrentDirectory inside(work.dir.path());
  QuietStdout quiet;
  for (auto _ : state) {
    if (!DumpToPo("chat.cht", "0")) return state.SkipWithError("dump2po failed");
  }
  state.SetBytesProcessed(int64_t(state.iterations() * work.dump.size()));
  state.counters["dump_MiB"] = double(work.dump.size()) / (1 << 20);
  state.counters["po_MiB"] = double(support::ReadTestFile("chat.po").size()) / (1 << 20);
}
BENCHMARK(DumpToPoFiles)->Unit(benchmark::kMillisecond);

// Every [EN] line of the dump that holds a translation (not the [JP] text
// again) is emptied, so that every translation of the catalog is written
// into it.
void PoToDumpFiles(benchmark::State& state) {
  Workspace work;
  if (!work.ok) return state.SkipWithError("cannot write the inputs");
  support::ScopedCurrentDirectory inside(work.dir.path());
  QuietStdout quiet;
  if (!DumpToPo("chat.cht", "0")) return state.SkipWithError("dump2po failed");
  std::string blank, previous;
  const std::string dump = support::ToString(work.dump);
  for (size_t start = 0; start < dump.size();) {
    const size_t end = std::min(dump.find("\r\n", start), dump.size());
    const std::string line = dump.substr(start, end - start);
    const bool translated = line.rfind("[EN]: ", 0) == 0 && line.substr(6) != previous.substr(6);
    blank += translated ? std::string("[EN]: ") : line;
    previous = line;
    if (end < dump.size()) blank += "\r\n";
    start = end + 2;
  }
  for (auto _ : state) {
    state.PauseTiming();
    support::WriteTestFile("chat.txt", blank);
    state.ResumeTiming();
    if (!PoToDump("chat.cht", "0")) return state.SkipWithError("po2dump failed");
  }
  if (support::ReadTestFile("chat.txt") != work.dump) state.SkipWithError("the translations did not come back");
  state.SetBytesProcessed(int64_t(state.iterations() * work.dump.size()));
}
BENCHMARK(PoToDumpFiles)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace fpskit

BENCHMARK_MAIN();
