// Script tools on files, as a translator runs them:
// - "tss2" on a ZK6SCEL container of six script-like members (0.6 to 2 MiB,
//   8 MiB in all) after "untss2", so every member is encoded again; on all
//   hardware threads and on one. Against it, the plainly written reference
//   LZSS encoder of tests/support/ encoding the same members one after
//   another. bench/scel_compare.sh prints the ratio.
// - "untss" and "tss" of a 4 MiB script through a Shift-JIS table of
//   thousands of rows.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "support/builders.h"
#include "support/lzss_builder.h"
#include "support/lzss_reference.h"
#include "support/temp_dir.h"
#include "support/tss_builder.h"
#include "text/scel/scel.h"
#include "text/tss/tss.h"
#include "tools/text/scel_tool.h"
#include "tools/text/tss_tool.h"

namespace fpskit {
namespace {

constexpr size_t kMiB = 1 << 20;
constexpr size_t kScriptSize = 4 * kMiB;

std::vector<Bytes> ContainerMembers() {
  std::vector<Bytes> members;
  uint32_t seed = 11;
  for (size_t tenths : {6, 9, 12, 15, 18, 20}) members.push_back(support::ScriptLikeBytes(tenths * kMiB / 10, seed++));
  return members;
}

const std::vector<Bytes>& Members() {
  static const std::vector<Bytes> members = ContainerMembers();
  return members;
}

size_t TotalSize(const std::vector<Bytes>& members) {
  size_t total = 0;
  for (const Bytes& member : members) total += member.size();
  return total;
}

// The tools print their progress lines; the benchmark's own report keeps
// standard output to itself.
class QuietStdout {
 public:
  QuietStdout() {
    std::fflush(stdout);
    saved_ = dup(1);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    close(null);
  }
  ~QuietStdout() {
    std::fflush(stdout);
    dup2(saved_, 1);
    close(saved_);
  }

 private:
  int saved_;
};

void Tss2Merge(benchmark::State& state) {
  const std::vector<Bytes>& members = Members();
  support::TempDir dir;
  support::ScopedCurrentDirectory inside(dir.path());
  const Bytes container = support::MakeScelContainer({members.begin(), members.end()});
  if (!support::WriteTestFile("scene.scel", container)) return state.SkipWithError("cannot write the container");
  const unsigned workers = unsigned(state.range(0));
  bool ok;
  {
    QuietStdout quiet;
    ok = SplitScel("scene.scel", "0", true);
  }
  if (!ok) return state.SkipWithError("untss2 failed");
  for (auto _ : state) {
    QuietStdout quiet;
    if (!MergeScel("scene.scel", true, false, workers)) return state.SkipWithError("tss2 failed");
  }
  if (support::ReadTestFile("scene.scel") != container) state.SkipWithError("tss2 changed the container");
  state.SetBytesProcessed(int64_t(state.iterations() * TotalSize(members)));
}
// 0: every hardware thread.
BENCHMARK(Tss2Merge)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void ReferenceEncodeMembers(benchmark::State& state) {
  const std::vector<Bytes>& members = Members();
  for (auto _ : state) {
    for (const Bytes& member : members) benchmark::DoNotOptimize(support::LzssEncodeDirect(member).data());
  }
  state.SetBytesProcessed(int64_t(state.iterations() * TotalSize(members)));
}
BENCHMARK(ReferenceEncodeMembers)->Unit(benchmark::kMillisecond)->UseRealTime();

struct ScriptInputs {
  std::vector<CodeTableEntry> rows = support::ShiftJisRows();
  Bytes script = support::MakeShiftJisScript(kScriptSize, 5, rows);
};

const ScriptInputs& Script() {
  static const ScriptInputs inputs;
  return inputs;
}

// "untss", then "tss" on the unchanged dump; the script is put back before
// each "tss", since every insertion appends to it.
void UntssThenTss(benchmark::State& state, bool insert) {
  const ScriptInputs& in = Script();
  support::TempDir dir;
  support::ScopedCurrentDirectory inside(dir.path());
  if (!support::WriteTestFile("JPCODES.TXT", support::CodeTableText(in.rows, true)) ||
      !support::WriteTestFile("talk.tss", in.script) || !DumpTssText("talk.tss", "utf8")) {
    return state.SkipWithError("cannot write the inputs");
  }
  for (auto _ : state) {
    if (insert) {
      state.PauseTiming();
      support::WriteTestFile("talk.tss", in.script);
      state.ResumeTiming();
    }
    if (!(insert ? InsertTssText("talk.tss", false) : DumpTssText("talk.tss", "utf8"))) {
      return state.SkipWithError("tool failed");
    }
  }
  state.SetBytesProcessed(int64_t(state.iterations() * in.script.size()));
  state.counters["rows"] = double(in.rows.size());
}
void Untss(benchmark::State& state) { UntssThenTss(state, false); }
void Tss(benchmark::State& state) { UntssThenTss(state, true); }
BENCHMARK(Untss)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Tss)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace fpskit

BENCHMARK_MAIN();
