// "unfps" and "fps" of an archive holding one 32 MiB TLZC member (the mixed
// data of the TLZC benchmark), unchanged and with one byte of it edited, and
// of an archive of plain members from 1 KiB to 256 MiB.
//
//   archive_bench [--benchmark_...]                    the Google Benchmark runs (plain members: 64 MiB)
//   archive_bench --write-tlzc ARCHIVE DATA [MIB]      the TLZC archive, and the member's data alone
//                                                      (default 32 MiB; the member is written block by block)
//   archive_bench --write-plain ARCHIVE [MIB]          the plain archive (default 1024 MiB), streamed
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "compress/tlzc.h"
#include "support/archive_builder.h"
#include "support/builders.h"
#include "support/temp_dir.h"
#include "support/tlzc_builder.h"
#include "tools/archive/archive_tools.h"
#include "util/files.h"

namespace {

using namespace fpskit;

constexpr size_t kTlzcMemberSize = size_t(32) << 20;
constexpr uint32_t kInputSeed = 2024;  // the TLZC benchmark's data
constexpr uint32_t kAlignment = 2048;

// The TLZC archive: a small plain member, the compressed member, a small
// chat-like member.
Bytes TlzcArchive(const Bytes& data) {
  support::Fps4Layout layout;
  layout.members = {{support::ToBytes("first member"), std::nullopt, false, std::nullopt},
                    {CompressTlzc(data), std::nullopt, false, std::nullopt},
                    {support::RandomBytes(4096, 1), std::nullopt, false, std::nullopt}};
  return BuildFps4(layout);
}

// Member sizes of the plain archive: three of 256 MiB, then every power of
// two from 128 MiB down to 1 KiB, scaled down for smaller totals.
std::vector<uint64_t> PlainMemberSizes(uint64_t totalMib) {
  std::vector<uint64_t> sizes;
  uint64_t total = 0;
  const uint64_t goal = totalMib << 20;
  for (uint64_t size = uint64_t(256) << 20; size >= 1024; size /= 2) {
    for (int copies = size == (uint64_t(256) << 20) ? 3 : 1; copies > 0; --copies) {
      if (total + size > goal && size > (uint64_t(1) << 20)) continue;
      sizes.push_back(size);
      total += size;
    }
  }
  return sizes;
}

// Writes a 12-byte-entry archive of members with pseudo-random bytes, one
// chunk at a time, so that generating 1 GiB needs little memory.
bool WritePlainArchive(const std::string& path, uint64_t totalMib) {
  const std::vector<uint64_t> sizes = PlainMemberSizes(totalMib);
  const uint32_t count = uint32_t(sizes.size() + 1);
  uint64_t dataStart = 28 + uint64_t(count) * 12;
  dataStart = (dataStart + kAlignment - 1) / kAlignment * kAlignment;
  Bytes header(size_t(dataStart), 0);
  std::memcpy(header.data(), "FPS4", 4);
  StoreU32BE(header.data() + 4, count);
  StoreU32BE(header.data() + 12, uint32_t(dataStart));
  StoreU16BE(header.data() + 16, 12);
  uint64_t offset = dataStart;
  for (size_t i = 0; i < sizes.size(); ++i) {
    const uint64_t padded = (sizes[i] + kAlignment - 1) / kAlignment * kAlignment;
    uint8_t* entry = header.data() + 28 + 12 * i;
    StoreU32BE(entry, uint32_t(offset));
    StoreU32BE(entry + 4, uint32_t(padded));
    StoreU32BE(entry + 8, uint32_t(sizes[i]));
    offset += padded;
  }
  FileHandle file = OpenFile(path, "wb");
  if (!file || std::fwrite(header.data(), 1, header.size(), file.get()) != header.size()) return false;
  const Bytes chunk = support::RandomBytes(size_t(4) << 20, 99);
  uint32_t seed = 1;
  for (uint64_t size : sizes) {
    const uint64_t padded = (size + kAlignment - 1) / kAlignment * kAlignment;
    // Every member starts somewhere else in the chunk, so no two are alike.
    size_t start = (seed++ * 7919) % 4096;
    for (uint64_t left = size; left > 0;) {
      const size_t piece = size_t(std::min<uint64_t>(left, chunk.size() - start));
      if (std::fwrite(chunk.data() + start, 1, piece, file.get()) != piece) return false;
      left -= piece;
      start = 0;
    }
    const Bytes padding(size_t(padded - size), 0);
    if (!padding.empty() && std::fwrite(padding.data(), 1, padding.size(), file.get()) != padding.size()) return false;
  }
  return std::fclose(file.release()) == 0;
}

// Runs a tool with its progress lines sent to /dev/null.
bool Quietly(bool (*tool)(const std::string&), const std::string& path) {
  std::fflush(stdout);
  const int saved = dup(1);
  const int null = open("/dev/null", O_WRONLY);
  dup2(null, 1);
  close(null);
  const bool ok = tool(path);
  std::fflush(stdout);
  dup2(saved, 1);
  close(saved);
  return ok;
}
bool QuietUnpack(const std::string& path) { return Quietly(UnpackArchive, path); }

void BM_UnpackTlzcMember(benchmark::State& state) {
  support::TempDir dir;
  const std::string path = dir / "tlzc.dat";
  support::WriteTestFile(path, TlzcArchive(support::MixedGameData(kTlzcMemberSize, kInputSeed)));
  for (auto _ : state) {
    if (!QuietUnpack(path)) state.SkipWithError("unfps failed");
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kTlzcMemberSize));
}

void BM_UnpackPlainMembers(benchmark::State& state) {
  support::TempDir dir;
  const std::string path = dir / "plain.dat";
  WritePlainArchive(path, 64);
  const int64_t bytes = int64_t(std::filesystem::file_size(path));
  for (auto _ : state) {
    if (!QuietUnpack(path)) state.SkipWithError("unfps failed");
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * bytes);
}

// "fps" of the TLZC archive after "unfps", with the member's file as it was
// unpacked or with one byte of it changed; the archive is put back before
// every run.
void RepackTlzcMember(benchmark::State& state, bool edited) {
  support::TempDir dir;
  const std::string path = dir / "tlzc.dat";
  const Bytes archive = TlzcArchive(support::MixedGameData(kTlzcMemberSize, kInputSeed));
  support::WriteTestFile(path, archive);
  QuietUnpack(path);
  if (edited) {
    Bytes member = support::ReadTestFile(dir / "tlzc/tlzc_001.bin");
    member[member.size() / 3] ^= 0x55;
    support::WriteTestFile(dir / "tlzc/tlzc_001.bin", member);
  }
  for (auto _ : state) {
    state.PauseTiming();
    support::WriteTestFile(path, archive);
    state.ResumeTiming();
    if (!Quietly(RepackArchive, path)) state.SkipWithError("fps failed");
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kTlzcMemberSize));
}
void BM_RepackUnchangedTlzcMember(benchmark::State& state) { RepackTlzcMember(state, false); }
void BM_RepackEditedTlzcMember(benchmark::State& state) { RepackTlzcMember(state, true); }

void BM_RepackPlainMembers(benchmark::State& state) {
  support::TempDir dir;
  const std::string path = dir / "plain.dat";
  WritePlainArchive(path, 64);
  QuietUnpack(path);
  const int64_t bytes = int64_t(std::filesystem::file_size(path));
  for (auto _ : state) {
    if (!Quietly(RepackArchive, path)) state.SkipWithError("fps failed");
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * bytes);
}

BENCHMARK(BM_UnpackTlzcMember)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UnpackPlainMembers)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RepackUnchangedTlzcMember)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RepackEditedTlzcMember)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RepackPlainMembers)->UseRealTime()->Unit(benchmark::kMillisecond);

int RunTool(int argc, char** argv) {
  const std::string tool = argv[1];
  if (tool == "--write-tlzc" && argc >= 4) {
    const size_t size = argc >= 5 ? size_t(std::strtoull(argv[4], nullptr, 10)) << 20 : kTlzcMemberSize;
    const Bytes data = support::MixedGameData(size, kInputSeed);
    return support::WriteTestFile(argv[2], TlzcArchive(data)) && support::WriteTestFile(argv[3], data) ? 0 : 1;
  }
  if (tool == "--write-plain" && argc >= 3) {
    return WritePlainArchive(argv[2], argc >= 4 ? std::strtoull(argv[3], nullptr, 10) : 1024) ? 0 : 1;
  }
  std::fprintf(stderr, "usage: archive_bench [--write-tlzc ARCHIVE DATA [MIB] | --write-plain ARCHIVE [MIB] | "
                       "--benchmark_...]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strncmp(argv[1], "--benchmark", 11) != 0) return RunTool(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
