#include <cstdio>
#include <cstring>
#include <limits>

#include "compress/lzss.h"
#include "text/scel/scel.h"
#include "util/parallel.h"
#include "util/paths.h"

namespace fpskit {

ScelFailure ParseScel(ByteSpan file, ScelContainer& container) {
  container = ScelContainer();
  ByteReader reader(file);
  const ByteSpan header = reader.Span(kScelHeaderSize);
  if (!reader.ok()) return {ScelError::kTruncatedHeader};
  std::copy(header.begin(), header.end(), container.header.begin());
  ByteReader fields(header, 16);
  container.pairCount = fields.U32BE();
  container.dataBase = fields.U32BE();
  const uint64_t rows = 2 * uint64_t(container.pairCount);
  // The rows are read from the table's own span, which holds them all.
  ByteReader table(reader.Span(rows * kScelEntrySize));
  if (!reader.ok()) return {ScelError::kTruncatedTable, 0, rows};
  container.entries.resize(size_t(rows));
  for (size_t row = 0; row < container.entries.size(); ++row) {
    ScelEntry& entry = container.entries[row];
    entry.offset = table.U32BE();
    entry.storedSize = table.U32BE();
    entry.unpackedSize = table.U32BE();
    entry.fourth = table.U32BE();
    if (entry.offset != 0) container.members.push_back(row);
  }
  return {};
}

ScelFailure DecodeScelMember(ByteSpan file, const ScelContainer& container, size_t number, Bytes& out) {
  out.clear();
  const ScelEntry& entry = container.entries[container.members[number]];
  const uint64_t start = uint64_t(container.dataBase) + entry.offset;
  if (!InRange(file.size(), start, entry.storedSize)) {
    return {ScelError::kMemberOutsideFile, start, 0, number, entry.storedSize};
  }
  if (!LzssDecode(file.subspan(size_t(start), entry.storedSize), out)) {
    return {ScelError::kMemberDamaged, start, 0, number, entry.storedSize};
  }
  return {};
}

ScelFailure BuildScel(ByteSpan file, const ScelContainer& container, const std::vector<Bytes>& members,
                      unsigned workers, Bytes& out) {
  const uint64_t tableEnd = kScelHeaderSize + uint64_t(container.entries.size()) * kScelEntrySize;
  if (tableEnd > container.dataBase) return {ScelError::kTableRunsPastDataBase, container.dataBase};
  if (!InRange(file.size(), container.dataBase, kScelBlockSize)) {
    return {ScelError::kBlockOutsideFile, container.dataBase};
  }
  if (members.size() != container.members.size()) return {ScelError::kMemberCountMismatch};

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
  if (!ok) return {ScelError::kRebuiltTooLarge};

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
  return {};
}

std::string ScelMemberPath(const std::string& path, size_t number, const char* extension) {
  const std::string directory = StripExtension(path);
  char suffix[32];
  std::snprintf(suffix, sizeof suffix, "_%04zu.%s", number, extension);
  return JoinPath(directory, FileNameOf(directory) + suffix);
}

}  // namespace fpskit
