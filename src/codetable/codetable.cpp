#include "codetable/codetable.h"

#include <cstring>
#include <utility>

#include "codetable/lines.h"
#include "util/console.h"
#include "util/files.h"

namespace fpskit {
namespace {

constexpr uint8_t kVerbatimMarker[4] = {'<', '|', '|', '>'};
// The pool ends with this many spare bytes, and the output keeps this much
// room beyond the longest target, so short targets copy as one 8-byte move.
constexpr size_t kSlack = 8;

CodeTableIndex BuildIndex(const CodeTable& table, bool byRight) {
  const std::vector<CodeTableEntry>& entries = table.entries;
  auto candidate = [&](size_t row) {
    const CodeTableEntry& e = entries[row];
    const uint32_t left = table.rowOffsets[row];
    const uint32_t right = left + uint32_t(e.leftLength);
    return byRight ? CodeTableCandidate{right, left, uint8_t(e.rightLength), uint8_t(e.leftLength)}
                   : CodeTableCandidate{left, right, uint8_t(e.leftLength), uint8_t(e.rightLength)};
  };
  auto first = [&](const CodeTableCandidate& c, int i) { return table.pool[c.source + i]; };

  CodeTableIndex index;
  std::array<size_t, 256> singleRow;
  singleRow.fill(SIZE_MAX);
  for (size_t row = entries.size(); row-- > 0;) {
    const CodeTableCandidate c = candidate(row);
    if (c.sourceLength == 1) singleRow[first(c, 0)] = row;
  }
  for (int b = 0; b < 256; ++b) {
    index.hasSingle[b] = singleRow[b] != SIZE_MAX;
    if (index.hasSingle[b]) index.single[b] = candidate(singleRow[b]);
  }
  // A longer row is reachable only when it comes before the one-byte row of
  // its first byte.
  auto reachable = [&](const CodeTableCandidate& c, size_t row) {
    return c.sourceLength >= 2 && row < singleRow[first(c, 0)];
  };
  auto key = [&](const CodeTableCandidate& c) { return (uint32_t(first(c, 0)) << 8) | first(c, 1); };

  std::vector<uint32_t> counts(65536, 0);
  for (size_t row = 0; row < entries.size(); ++row) {
    const CodeTableCandidate c = candidate(row);
    if (reachable(c, row)) ++counts[key(c)];
  }
  for (uint32_t k = 0; k < 65536; ++k) counts[k] += index.hasSingle[k >> 8];
  index.bucketStart.assign(65537, 0);
  for (uint32_t k = 0; k < 65536; ++k) index.bucketStart[k + 1] = index.bucketStart[k] + counts[k];
  index.candidates.resize(index.bucketStart[65536]);
  std::vector<uint32_t> fill(index.bucketStart.begin(), index.bucketStart.end() - 1);
  for (size_t row = 0; row < entries.size(); ++row) {
    const CodeTableCandidate c = candidate(row);
    if (reachable(c, row)) index.candidates[fill[key(c)]++] = c;
  }
  for (uint32_t k = 0; k < 65536; ++k) {
    if (index.hasSingle[k >> 8]) index.candidates[fill[k]++] = index.single[k >> 8];
  }
  return index;
}

int HexValue(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Parses one column of pairs starting at `pos`; stops before the character
// that follows the last pair. Returns an error text, or nullptr.
const char* ParseColumn(ByteSpan line, size_t& pos, uint8_t* bytes, int32_t& length) {
  length = 0;
  while (true) {
    if (pos + 2 > line.size() || HexValue(line[pos]) < 0 || HexValue(line[pos + 1]) < 0) {
      return "expected two hexadecimal digits";
    }
    if (length == kMaxSequenceLength) return "more than 100 bytes in a column";
    bytes[length++] = uint8_t(HexValue(line[pos]) * 16 + HexValue(line[pos + 1]));
    pos += 2;
    if (pos < line.size() && line[pos] == ' ') {
      ++pos;
      continue;
    }
    return nullptr;
  }
}

const char* ParseRow(ByteSpan line, CodeTableEntry& entry) {
  size_t pos = 0;
  if (const char* error = ParseColumn(line, pos, entry.leftBytes.data(), entry.leftLength)) return error;
  if (pos >= line.size() || line[pos] != ';') return "expected ';' after the left column";
  ++pos;
  if (pos >= line.size() || (line[pos] != ' ' && line[pos] != '\t')) return "expected a space or tab after ';'";
  while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
  if (pos >= line.size()) return "missing right column";
  if (const char* error = ParseColumn(line, pos, entry.rightBytes.data(), entry.rightLength)) return error;
  if (pos < line.size() && line[pos] != ';') return "expected ';' or the end of the line after the right column";
  return nullptr;
}

}  // namespace

CodeTable MakeCodeTable(std::vector<CodeTableEntry> entries) {
  CodeTable table;
  table.entries = std::move(entries);
  // Both columns of every row, packed, so the sequences a conversion touches
  // stay in cache.
  table.rowOffsets.reserve(table.entries.size());
  for (const CodeTableEntry& e : table.entries) {
    table.rowOffsets.push_back(uint32_t(table.pool.size()));
    table.pool.insert(table.pool.end(), e.leftBytes.begin(), e.leftBytes.begin() + e.leftLength);
    table.pool.insert(table.pool.end(), e.rightBytes.begin(), e.rightBytes.begin() + e.rightLength);
  }
  table.pool.insert(table.pool.end(), kSlack, 0);
  table.byLeft = BuildIndex(table, false);
  table.byRight = BuildIndex(table, true);
  return table;
}

const CodeTable& BuiltInCodeTable() {
  static const CodeTable table = [] {
    CodeTableEntry row;
    row.leftLength = 1;
    row.rightLength = 1;
    return MakeCodeTable({row, row});
  }();
  return table;
}

bool ParseCodeTable(ByteSpan text, const std::string& name, CodeTable& table) {
  std::vector<CodeTableEntry> entries;
  CrlfLineReader reader(text, ByteOrderMarkLength(text));
  ByteSpan line;
  for (long lineNumber = 1; reader.ReadCrlfLine(line); ++lineNumber) {
    if (line.empty()) continue;
    CodeTableEntry entry;
    if (const char* error = ParseRow(line, entry)) {
      Printf("\nERROR: %s line %ld: %s", name.c_str(), lineNumber, error);
      return false;
    }
    entries.push_back(entry);
  }
  table = MakeCodeTable(std::move(entries));
  return true;
}

bool LoadCodeTable(const std::string& path, CodeTable& table) {
  Bytes text;
  if (!ReadWholeFile(path, text)) {
    Printf("\nCan't open %s", path.c_str());
    return false;
  }
  return ParseCodeTable(text, path, table);
}

bool SelectCodeTable(const std::string& name, CodeTable& table) {
  if (!OpenFile(name, "rb")) {
    table = BuiltInCodeTable();
    return true;
  }
  return LoadCodeTable(name, table);
}

Bytes ConvertSequences(ByteSpan content, bool swap, const CodeTable& table) {
  const CodeTableIndex& index = swap ? table.byRight : table.byLeft;
  const uint8_t* pool = table.pool.data();
  const uint8_t* in = content.data();
  const size_t m = content.size();
  // The output grows in place; every step may append at most one target of
  // 100 bytes plus the slack of the 8-byte copy.
  constexpr size_t kStepRoom = kMaxSequenceLength + kSlack;
  Bytes out(m + m / 2 + kStepRoom);
  uint8_t* dst = out.data();
  uint8_t* limit = out.data() + out.size() - kStepRoom;
  bool converting = true;
  size_t p = 0;
  while (p < m) {
    if (dst > limit) {
      const size_t written = size_t(dst - out.data());
      out.resize(out.size() * 2);
      dst = out.data() + written;
      limit = out.data() + out.size() - kStepRoom;
    }
    const size_t left = m - p;
    if (in[p] == '<' && left >= 4 && std::memcmp(in + p, kVerbatimMarker, 4) == 0) {
      converting = !converting;
      p += 4;
      continue;
    }
    if (converting) {
      const CodeTableCandidate* match = nullptr;
      if (left >= 2) {
        const uint32_t key = (uint32_t(in[p]) << 8) | in[p + 1];
        const CodeTableCandidate* c = index.candidates.data() + index.bucketStart[key];
        const CodeTableCandidate* end = index.candidates.data() + index.bucketStart[key + 1];
        for (; c != end; ++c) {
          // The bucket's key already matched the first two bytes.
          if (c->sourceLength <= 2 ||
              (c->sourceLength <= left && std::memcmp(pool + c->source + 2, in + p + 2, c->sourceLength - 2) == 0)) {
            match = c;
            break;
          }
        }
      } else if (index.hasSingle[in[p]]) {
        match = &index.single[in[p]];
      }
      if (match != nullptr) {
        if (match->targetLength <= kSlack) {
          std::memcpy(dst, pool + match->target, kSlack);
        } else {
          std::memcpy(dst, pool + match->target, match->targetLength);
        }
        dst += match->targetLength;
        p += match->sourceLength;
        continue;
      }
    }
    *dst++ = in[p++];
  }
  out.resize(size_t(dst - out.data()));
  return out;
}

}  // namespace fpskit
