// LZSS encoding (the library's encoder and the direct step-by-step one) and
// decoding, on script-like, random and highly repetitive data. Before timing
// anything it checks that both encoders give the same bytes and that decoding
// gives the input back; bench/lzss_compare.sh prints the speed ratio of the
// two encoders.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "compress/lzss.h"
#include "support/lzss_builder.h"
#include "support/lzss_reference.h"

namespace fpskit {
namespace {

constexpr size_t kDataSize = 4 << 20;
// Script members are tens of KiB; decoding them one by one also pays the
// per-call set-up.
constexpr size_t kMemberSize = 24 << 10;

struct Sample {
  Bytes data;
  Bytes stream;  // data encoded as one type 1 stream
  std::vector<Bytes> members;  // data cut into members, each its own stream
};

Sample MakeSample(Bytes data) {
  Sample sample{std::move(data), {}, {}};
  if (!LzssEncodeStream(sample.data, sample.stream)) std::abort();
  const Bytes direct = support::LzssEncodeDirect(sample.data);
  Bytes decoded;
  if (!std::equal(direct.begin(), direct.end(), sample.stream.begin() + kLzssShortHeaderSize,
                  sample.stream.end()) ||
      !LzssDecode(sample.stream, decoded) || decoded != sample.data) {
    std::fprintf(stderr, "LZSS encoders disagree or do not round-trip\n");
    std::abort();
  }
  for (size_t at = 0; at < sample.data.size(); at += kMemberSize) {
    const size_t size = std::min(kMemberSize, sample.data.size() - at);
    Bytes member;
    if (!LzssEncodeStream(ByteSpan(sample.data).subspan(at, size), member)) std::abort();
    sample.members.push_back(std::move(member));
  }
  return sample;
}

const Sample& Script() {
  static const Sample sample = MakeSample(support::ScriptLikeBytes(kDataSize, 2024));
  return sample;
}

const Sample& Random() {
  static const Sample sample = MakeSample(support::RandomBytes(kDataSize, 2025));
  return sample;
}

// One 3000-byte script-like block over and over, one bit changed each
// time: nearly every position repeats the one 3000 bytes back.
const Sample& Repetitive() {
  static const Sample sample = [] {
    Bytes block = support::ScriptLikeBytes(3000, 2026);
    Bytes data;
    while (data.size() < kDataSize) {
      AppendBytes(data, block);
      block[data.size() % block.size()] ^= 1;
    }
    data.resize(kDataSize);
    return MakeSample(std::move(data));
  }();
  return sample;
}

void Report(benchmark::State& state, const Sample& sample) {
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(sample.data.size()));
  state.counters["ratio"] = double(sample.stream.size()) / double(sample.data.size());
}

void EncodeFast(benchmark::State& state, const Sample& sample) {
  Bytes out(LzssMaxEncodedSize(sample.data.size()));
  for (auto _ : state) {
    benchmark::DoNotOptimize(LzssEncode(sample.data, 1, out));
    benchmark::ClobberMemory();
  }
  Report(state, sample);
}

void EncodeDirect(benchmark::State& state, const Sample& sample) {
  Bytes out(LzssMaxEncodedSize(sample.data.size()));
  for (auto _ : state) {
    benchmark::DoNotOptimize(support::LzssEncodeDirect(sample.data, 1, out.data(), out.size()));
    benchmark::ClobberMemory();
  }
  Report(state, sample);
}

void DecodeWhole(benchmark::State& state, const Sample& sample) {
  Bytes out;
  for (auto _ : state) {
    benchmark::DoNotOptimize(LzssDecode(sample.stream, out));
    benchmark::ClobberMemory();
  }
  Report(state, sample);
}

void DecodeMembers(benchmark::State& state, const Sample& sample) {
  Bytes out;
  for (auto _ : state) {
    for (const Bytes& member : sample.members) {
      benchmark::DoNotOptimize(LzssDecode(member, out));
      benchmark::ClobberMemory();
    }
  }
  Report(state, sample);
}

void BM_LzssEncodeFast_Script(benchmark::State& state) { EncodeFast(state, Script()); }
void BM_LzssEncodeDirect_Script(benchmark::State& state) { EncodeDirect(state, Script()); }
void BM_LzssEncodeFast_Random(benchmark::State& state) { EncodeFast(state, Random()); }
void BM_LzssEncodeDirect_Random(benchmark::State& state) { EncodeDirect(state, Random()); }
void BM_LzssEncodeFast_Repetitive(benchmark::State& state) { EncodeFast(state, Repetitive()); }
void BM_LzssEncodeDirect_Repetitive(benchmark::State& state) { EncodeDirect(state, Repetitive()); }
void BM_LzssDecode_Script(benchmark::State& state) { DecodeWhole(state, Script()); }
void BM_LzssDecode_Random(benchmark::State& state) { DecodeWhole(state, Random()); }
void BM_LzssDecode_Repetitive(benchmark::State& state) { DecodeWhole(state, Repetitive()); }
void BM_LzssDecodeMembers_Script(benchmark::State& state) { DecodeMembers(state, Script()); }

BENCHMARK(BM_LzssEncodeFast_Script)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LzssEncodeDirect_Script)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LzssEncodeFast_Random)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LzssEncodeDirect_Random)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LzssEncodeFast_Repetitive)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LzssEncodeDirect_Repetitive)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LzssDecode_Script)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LzssDecode_Random)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LzssDecode_Repetitive)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LzssDecodeMembers_Script)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace fpskit

BENCHMARK_MAIN();
