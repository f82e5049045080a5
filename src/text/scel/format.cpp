#include <cstdio>
#include <cstring>
#include <limits>

#include "compress/lzss.h"
#include "text/scel/scel.h"
#include "util/console.h"
#include "util/parallel.h"
#include "util/paths.h"

namespace fpskit {

bool ParseScel(ByteSpan file, ScelContainer& container) {
  container = ScelContainer();
  ByteReader reader(file);
  const ByteSpan header = reader.Span(kScelHeaderSize);
  if (!reader.ok()) {
    Print("\nERROR: truncated ZK6SCEL header");
    return false;
  }
  std::copy(header.begin(), header.end(), container.header.begin());
  container.pairCount = LoadU32BE(header.data() + 16);
  container.dataBase = LoadU32BE(header.data() + 20);
  const uint64_t rows = 2 * uint64_t(container.pairCount);
  if (!InRange(file.size(), kScelHeaderSize, rows * kScelEntrySize)) {
    Printf("\nERROR: truncated ZK6SCEL member table (%llu rows)", static_cast<unsigned long long>(rows));
    return false;
  }
  container.entries.resize(size_t(rows));
  for (size_t row = 0; row < container.entries.size(); ++row) {
    ScelEntry& entry = container.entries[row];
    entry.offset = reader.U32BE();
    entry.storedSize = reader.U32BE();
    entry.unpackedSize = reader.U32BE();
    entry.fourth = reader.U32BE();
    if (entry.offset != 0) container.members.push_back(row);
  }
  return reader.ok();
}

ScelMemberStatus DecodeScelMember(ByteSpan file, const ScelContainer& container, size_t number, Bytes& out) {
  out.clear();
  const ScelEntry& entry = container.entries[container.members[number]];
  const uint64_t start = uint64_t(container.dataBase) + entry.offset;
  if (!InRange(file.size(), start, entry.storedSize)) return ScelMemberStatus::kOutsideFile;
  return LzssDecode(file.subspan(size_t(start), entry.storedSize), out) ? ScelMemberStatus::kDecoded
                                                                         : ScelMemberStatus::kDamaged;
}

void ReportScelMember(ScelMemberStatus status, const ScelContainer& container, size_t number) {
  const ScelEntry& entry = container.entries[container.members[number]];
  if (status == ScelMemberStatus::kOutsideFile) {
    Printf("\nERROR: ZK6SCEL member %zu (0x%X bytes at 0x%llX) lies outside the file", number, entry.storedSize,
           static_cast<unsigned long long>(uint64_t(container.dataBase) + entry.offset));
  } else if (status == ScelMemberStatus::kDamaged) {
    Printf("\nERROR: ZK6SCEL member %zu is damaged: its LZSS stream does not decode to the size its header declares",
           number);
  }
}

bool BuildScel(ByteSpan file, const ScelContainer& container, const std::vector<Bytes>& members, unsigned workers,
               Bytes& out) {
  const uint64_t tableEnd = kScelHeaderSize + uint64_t(container.entries.size()) * kScelEntrySize;
  if (tableEnd > container.dataBase) {
    Printf("\nERROR: the ZK6SCEL member table runs past dataBase (0x%X); the container cannot be rebuilt",
           container.dataBase);
    return false;
  }
  if (!InRange(file.size(), container.dataBase, kScelBlockSize)) {
    Printf("\nERROR: the ZK6SCEL block at dataBase (0x%X) lies outside the file", container.dataBase);
    return false;
  }
  if (members.size() != container.members.size()) {
    Print("\nERROR: the ZK6SCEL member count does not match its table");
    return false;
  }

  out.assign(container.dataBase, 0);
  AppendBytes(out, file.subspan(container.dataBase, kScelBlockSize));
  std::vector<ScelEntry> entries = container.entries;

  // Each member is its own stream, so they are encoded side by side and
  // packed in member order as they come.
  const size_t count = members.size();
  const unsigned threads = WorkerCount(workers, count);
  const size_t slotCount = 2 * size_t(threads);
  std::vector<Bytes> streams(slotCount);
  std::vector<char> encoded(slotCount, 0);
  bool ok = true;
  ProcessBlocksInOrder(
      count, threads, slotCount,
      [&](unsigned, size_t number) {
        encoded[number % slotCount] = LzssEncodeStream(members[number], streams[number % slotCount]);
      },
      [&](size_t number) {
        Bytes& stream = streams[number % slotCount];
        if (!encoded[number % slotCount]) ok = false;
        if (!ok) return;
        ScelEntry& entry = entries[container.members[number]];
        entry.offset = uint32_t(out.size() - container.dataBase);
        entry.storedSize = uint32_t(stream.size());
        entry.unpackedSize = uint32_t(members[number].size());
        AppendBytes(out, stream);
        out.resize((out.size() + kScelAlignment - 1) / kScelAlignment * kScelAlignment, 0);
        if (out.size() > std::numeric_limits<uint32_t>::max()) ok = false;
        Bytes().swap(stream);
      });
  if (!ok) {
    Print("\nERROR: the rebuilt ZK6SCEL would be larger than 4 GiB; nothing was written");
    return false;
  }

  std::copy(container.header.begin(), container.header.end(), out.begin());
  StoreU32BE(out.data() + 8, uint32_t(out.size()));
  StoreU32LE(out.data() + 24, uint32_t(out.size()));
  uint8_t* row = out.data() + kScelHeaderSize;
  for (const ScelEntry& entry : entries) {
    StoreU32BE(row, entry.offset);
    StoreU32BE(row + 4, entry.storedSize);
    StoreU32BE(row + 8, entry.unpackedSize);
    StoreU32BE(row + 12, entry.fourth);
    row += kScelEntrySize;
  }
  return true;
}

std::string ScelMemberPath(const std::string& path, size_t number, const char* extension) {
  const std::string directory = StripExtension(path);
  char suffix[32];
  std::snprintf(suffix, sizeof suffix, "_%04zu.%s", number, extension);
  return JoinPath(directory, FileNameOf(directory) + suffix);
}

}  // namespace fpskit
