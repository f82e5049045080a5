// TLZC compression and decompression of 32 MiB of mixed data (text, binary
// records, incompressible stretches), with one thread and with every hardware
// thread.
//
//   tlzc_bench [--benchmark_...]             the Google Benchmark runs
//   tlzc_bench --write-input FILE [MIB]      writes the mixed input (32 MiB)
//   tlzc_bench --compress IN OUT THREADS     one compression, for timing by a script
//   tlzc_bench --decompress IN OUT THREADS   one decompression, for timing by a script
// THREADS 0 means every hardware thread.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "compress/tlzc.h"
#include "support/temp_dir.h"
#include "support/tlzc_builder.h"
#include "util/files.h"

namespace {

using namespace fpskit;

constexpr size_t kInputSize = size_t(32) << 20;
constexpr uint32_t kInputSeed = 2024;

const Bytes& Input() {
  static const Bytes input = support::MixedGameData(kInputSize, kInputSeed);
  return input;
}

const Bytes& Container() {
  static const Bytes container = CompressTlzc(Input());
  return container;
}

void BM_CompressTlzc(benchmark::State& state) {
  const Bytes& input = Input();
  for (auto _ : state) {
    Bytes container = CompressTlzc(input, unsigned(state.range(0)));
    benchmark::DoNotOptimize(container.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(input.size()));
}

void BM_DecompressTlzc(benchmark::State& state) {
  const Bytes& container = Container();
  Bytes out;
  for (auto _ : state) {
    if (!DecompressTlzc(container, out, unsigned(state.range(0))).ok()) state.SkipWithError("decompression failed");
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(Input().size()));
}

void RegisterBenchmarks() {
  const int64_t all = std::max(1u, std::thread::hardware_concurrency());
  for (auto* bench : {benchmark::RegisterBenchmark("BM_CompressTlzc", BM_CompressTlzc),
                      benchmark::RegisterBenchmark("BM_DecompressTlzc", BM_DecompressTlzc)}) {
    bench->ArgName("threads")->Arg(1)->UseRealTime()->Unit(benchmark::kMillisecond);
    if (all > 1) bench->Arg(all);
  }
}

int RunTool(int argc, char** argv) {
  const std::string tool = argv[1];
  if (tool == "--write-input" && argc >= 3) {
    const size_t mib = argc >= 4 ? size_t(std::strtoul(argv[3], nullptr, 10)) : 32;
    return support::WriteTestFile(argv[2], support::MixedGameData(mib << 20, kInputSeed)) ? 0 : 1;
  }
  if ((tool == "--compress" || tool == "--decompress") && argc >= 5) {
    Bytes input;
    if (!ReadWholeFile(argv[2], input)) {
      std::fprintf(stderr, "cannot read %s\n", argv[2]);
      return 1;
    }
    const unsigned threads = unsigned(std::strtoul(argv[4], nullptr, 10));
    Bytes output;
    bool ok = true;
    if (tool == "--compress") {
      output = CompressTlzc(input, threads);
      ok = !output.empty();
    } else {
      ok = DecompressTlzc(input, output, threads).ok();
    }
    return ok && support::WriteTestFile(argv[3], output) ? 0 : 1;
  }
  std::fprintf(stderr, "usage: tlzc_bench [--write-input FILE [MIB] | --compress IN OUT THREADS | "
                       "--decompress IN OUT THREADS | --benchmark_...]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strncmp(argv[1], "--benchmark", 11) != 0) return RunTool(argc, argv);
  RegisterBenchmarks();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
