#include "codetable/codetable.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <utility>

namespace fpskit {
namespace {

constexpr uint8_t kVerbatimMarker[4] = {'<', '|', '|', '>'};
// The pool ends with this many spare bytes, and the output keeps this much
// room beyond the longest target, so short targets copy as one 8-byte move.
constexpr size_t kSlack = 8;

uint32_t HashPrefix(uint32_t prefix) { return (prefix * 0x9E3779B1u) >> 8; }

CodeTableIndex BuildIndex(const CodeTable& table, bool byRight) {
  const std::vector<CodeTableEntry>& entries = table.entries;
  CodeTableIndex index;
  index.rows.reserve(entries.size());
  for (size_t row = 0; row < entries.size(); ++row) {
    const CodeTableEntry& e = entries[row];
    const uint32_t left = table.rowOffsets[row];
    const uint32_t right = left + uint32_t(e.leftLength);
    index.rows.push_back(byRight ? CodeTableCandidate{right, left, uint8_t(e.rightLength), uint8_t(e.leftLength)}
                                 : CodeTableCandidate{left, right, uint8_t(e.leftLength), uint8_t(e.rightLength)});
  }
  auto source = [&](uint32_t row) { return table.pool.data() + index.rows[row].source; };
  auto length = [&](uint32_t row) { return index.rows[row].sourceLength; };
  auto pairOf = [&](uint32_t row) { return (uint32_t(source(row)[0]) << 8) | source(row)[1]; };
  const uint32_t rowCount = uint32_t(entries.size());

  // The first two-byte row of each pair, then the earlier of it and the
  // pair's first byte's one-byte row.
  index.firstSingle.fill(CodeTableIndex::kNone);
  index.shortRow.assign(65536, CodeTableIndex::kNone);
  for (uint32_t row = rowCount; row-- > 0;) {
    if (length(row) == 1) index.firstSingle[source(row)[0]] = row;
    if (length(row) == 2) index.shortRow[pairOf(row)] = row;
  }
  for (uint32_t pair = 0; pair < 65536; ++pair) {
    index.shortRow[pair] = std::min(index.shortRow[pair], index.firstSingle[pair >> 8]);
  }

  // The longer rows that can be reached, grouped by their first three bytes.
  std::vector<uint32_t> reachable;
  for (uint32_t row = 0; row < rowCount; ++row) {
    if (length(row) >= 3 && row < index.shortRow[pairOf(row)]) reachable.push_back(row);
  }
  size_t slots = 16;
  while (slots < 2 * reachable.size()) slots *= 2;
  const uint32_t mask = uint32_t(slots - 1);
  index.longKey.assign(slots, 0);
  index.longStart.assign(slots, 0);
  index.longEnd.assign(slots, 0);
  auto slotOf = [&](uint32_t prefix) {
    uint32_t slot = HashPrefix(prefix) & mask;
    while (index.longKey[slot] != 0 && index.longKey[slot] != prefix + 1) slot = (slot + 1) & mask;
    return slot;
  };
  auto prefixOf = [&](uint32_t row) { return (pairOf(row) << 8) | source(row)[2]; };
  for (uint32_t row : reachable) {
    const uint32_t slot = slotOf(prefixOf(row));
    index.longKey[slot] = prefixOf(row) + 1;
    ++index.longEnd[slot];  // a count for now
    index.shortRow[pairOf(row)] |= CodeTableIndex::kHasLong;
  }
  uint32_t next = 0;
  for (size_t slot = 0; slot < slots; ++slot) {
    index.longStart[slot] = next;
    next += index.longEnd[slot];
    index.longEnd[slot] = index.longStart[slot];
  }
  index.longRows.resize(reachable.size());
  for (uint32_t row : reachable) index.longRows[index.longEnd[slotOf(prefixOf(row))]++] = row;

  if constexpr (std::endian::native == std::endian::little) {
    constexpr size_t kFastTarget = 6;
    index.fastPair.assign(65536, 0);
    for (uint32_t pair = 0; pair < 65536; ++pair) {
      const uint32_t entry = index.shortRow[pair];
      if ((entry & CodeTableIndex::kHasLong) != 0 || entry == CodeTableIndex::kNone) continue;
      const CodeTableCandidate& c = index.rows[entry];
      if (c.targetLength > kFastTarget) continue;
      uint64_t packed = c.targetLength | uint64_t(c.sourceLength) << 8;
      for (size_t k = 0; k < c.targetLength; ++k) packed |= uint64_t(table.pool[c.target + k]) << (16 + 8 * k);
      index.fastPair[pair] = packed;
    }
    for (uint32_t lead = 0; lead < 256; ++lead) {
      std::array<uint32_t, 256> votes{};  // by source length
      for (uint32_t pair = lead << 8; pair < (lead + 1) << 8; ++pair) ++votes[(index.fastPair[pair] >> 8) & 0xFF];
      votes[0] = 0;  // no entry: no length to agree with
      index.leadLength[lead] = uint8_t(std::max<size_t>(1, std::max_element(votes.begin(), votes.end()) - votes.begin()));
    }
  }
  return index;
}

// The first row, in table order, whose source matches the content at `in`
// (`left` bytes remain, at least 1); nullptr when none does.
// Inlined into the conversion loop, which calls it for nearly every byte.
[[gnu::always_inline]] inline const CodeTableCandidate* FindRow(const CodeTableIndex& index, const uint8_t* pool,
                                                                const uint8_t* in, size_t left) {
  if (left == 1) {
    const uint32_t row = index.firstSingle[in[0]];
    return row == CodeTableIndex::kNone ? nullptr : &index.rows[row];
  }
  const uint32_t entry = index.shortRow[(uint32_t(in[0]) << 8) | in[1]];
  if ((entry & CodeTableIndex::kHasLong) != 0 && left >= 3) {
    const uint32_t prefix = (uint32_t(in[0]) << 16) | (uint32_t(in[1]) << 8) | in[2];
    const uint32_t mask = uint32_t(index.longKey.size() - 1);
    uint32_t slot = HashPrefix(prefix) & mask;
    while (index.longKey[slot] != 0) {
      if (index.longKey[slot] == prefix + 1) {
        // These rows all come before the short row, so the first that
        // matches wins.
        for (uint32_t i = index.longStart[slot]; i < index.longEnd[slot]; ++i) {
          const CodeTableCandidate& c = index.rows[index.longRows[i]];
          if (c.sourceLength <= left && std::memcmp(pool + c.source + 3, in + 3, c.sourceLength - 3) == 0) return &c;
        }
        break;
      }
      slot = (slot + 1) & mask;
    }
  }
  const uint32_t row = entry & ~CodeTableIndex::kHasLong;
  return row == CodeTableIndex::kNone ? nullptr : &index.rows[row];
}

// Parses one column of pairs starting at `pos`; stops before the character
// that follows the last pair.
CodeTableError ParseColumn(ByteSpan line, size_t& pos, uint8_t* bytes, int32_t& length) {
  length = 0;
  while (true) {
    if (pos + 2 > line.size() || HexDigitValue(line[pos]) < 0 || HexDigitValue(line[pos + 1]) < 0) {
      return CodeTableError::kExpectedHexDigits;
    }
    if (length == kMaxSequenceLength) return CodeTableError::kColumnTooLong;
    bytes[length++] = uint8_t(HexDigitValue(line[pos]) * 16 + HexDigitValue(line[pos + 1]));
    pos += 2;
    if (pos < line.size() && line[pos] == ' ') {
      ++pos;
      continue;
    }
    return CodeTableError::kNone;
  }
}

CodeTableError ParseRow(ByteSpan line, CodeTableEntry& entry) {
  // Editors add spaces and tabs at the ends of lines; they mean nothing.
  while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line = line.first(line.size() - 1);
  size_t pos = 0;
  const CodeTableError left = ParseColumn(line, pos, entry.leftBytes.data(), entry.leftLength);
  if (left != CodeTableError::kNone) return left;
  if (pos >= line.size() || line[pos] != ';') return CodeTableError::kExpectedSemicolon;
  ++pos;
  if (pos >= line.size()) return CodeTableError::kMissingRightColumn;
  if (line[pos] != ' ' && line[pos] != '\t') return CodeTableError::kExpectedBlank;
  while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
  const CodeTableError right = ParseColumn(line, pos, entry.rightBytes.data(), entry.rightLength);
  if (right != CodeTableError::kNone) return right;
  if (pos < line.size() && line[pos] != ';') return CodeTableError::kExpectedEndOfLine;
  return CodeTableError::kNone;
}

}  // namespace

CodeTable MakeCodeTable(std::vector<CodeTableEntry> entries) {
  CodeTable table;
  table.entries = std::move(entries);
  // Both columns of every row, packed, so the sequences a conversion touches
  // stay in cache.
  table.rowOffsets.reserve(table.entries.size());
  size_t poolSize = kSlack;
  for (const CodeTableEntry& e : table.entries) poolSize += size_t(e.leftLength + e.rightLength);
  table.pool.reserve(poolSize);
  for (const CodeTableEntry& e : table.entries) {
    table.rowOffsets.push_back(uint32_t(table.pool.size()));
    table.pool.insert(table.pool.end(), e.leftBytes.begin(), e.leftBytes.begin() + e.leftLength);
    table.pool.insert(table.pool.end(), e.rightBytes.begin(), e.rightBytes.begin() + e.rightLength);
  }
  table.pool.insert(table.pool.end(), kSlack, 0);
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

CodeTableFailure ParseCodeTable(ByteSpan text, const std::string& name, CodeTable& table) {
  CodeTableFailure failure;
  failure.text = CheckCrlfText(text);
  if (failure.text != CrlfTextError::kNone) {
    failure.error = CodeTableError::kText;
    return failure;
  }
  // One row a line: room for them all at once, each row parsed in place.
  std::vector<CodeTableEntry> entries;
  entries.reserve(size_t(std::count(text.begin(), text.end(), uint8_t('\n'))) + 1);
  CrlfLineReader reader(text, ByteOrderMarkLength(text));
  ByteSpan line;
  for (size_t lineNumber = 1; reader.ReadCrlfLine(line); ++lineNumber) {
    if (line.empty()) continue;
    failure.error = ParseRow(line, entries.emplace_back());
    if (!failure.ok()) {
      failure.line = lineNumber;
      return failure;
    }
  }
  table = MakeCodeTable(std::move(entries));
  table.name = name;
  return failure;
}

namespace {

// The conversion; with kList, the positions of the bytes 80 to FF that no row
// matched are collected (a separate instantiation, so the plain conversion
// pays nothing for it).
template <bool kList>
size_t Convert(ByteSpan content, bool swap, const CodeTable& table, std::vector<size_t>* unconverted, Bytes& out,
               size_t at) {
  LazyCodeTableIndex& lazy = *(swap ? table.byRight : table.byLeft);
  std::call_once(lazy.built, [&] { lazy.index = BuildIndex(table, swap); });
  const CodeTableIndex& index = lazy.index;
  const uint8_t* pool = table.pool.data();
  const uint64_t* fast = index.fastPair.empty() ? nullptr : index.fastPair.data();
  const uint8_t* in = content.data();
  const size_t m = content.size();
  // The output grows in place; every step may append at most one target of
  // 100 bytes plus the slack of the 8-byte copy. Room for the likely total
  // is reserved at once, and lengthened as the output reaches it.
  constexpr size_t kStepRoom = kMaxSequenceLength + kSlack;
  const size_t likely = at + m + m / 2 + kStepRoom;
  if (out.capacity() < likely) out.reserve(std::max(likely, 2 * out.capacity()));
  LengthenForWriting(out, at + kStepRoom);
  uint8_t* dst = out.data() + at;
  uint8_t* limit = out.data() + out.size() - kStepRoom;
  bool converting = true;
  size_t p = 0;
  while (p < m) {
    if (dst > limit) {
      const size_t written = size_t(dst - out.data());
      LengthenForWriting(out, written + kStepRoom);
      dst = out.data() + written;
      limit = out.data() + out.size() - kStepRoom;
    }
    // The common case in a loop of its own: a pair whose entry holds all
    // there is to know. The step comes from the small per-byte table, so the
    // next position is known before the pair's entry arrives from the large
    // one; an entry that disagrees leaves the loop, and the general step
    // below handles that position.
    if (fast != nullptr && converting) {
      while (p + 1 < m && dst <= limit) {
        const uint8_t lead = in[p];
        if (lead == '<') break;
        const uint64_t packed = fast[(uint32_t(lead) << 8) | in[p + 1]];
        const size_t step = index.leadLength[lead];
        if (((packed >> 8) & 0xFF) != step) break;
        const uint64_t target = packed >> 16;
        std::memcpy(dst, &target, sizeof target);  // within the step's room
        dst += packed & 0xFF;
        p += step;
      }
      if (p >= m) break;
      if (dst > limit) continue;
    }
    const size_t left = m - p;
    if (in[p] == '<' && left >= 4 && std::memcmp(in + p, kVerbatimMarker, 4) == 0) {
      converting = !converting;
      p += 4;
      continue;
    }
    if (converting) {
      if (fast != nullptr && left >= 2) {
        const uint64_t packed = fast[(uint32_t(in[p]) << 8) | in[p + 1]];
        if (packed != 0) {
          const uint64_t target = packed >> 16;
          std::memcpy(dst, &target, sizeof target);  // within the step's room
          dst += packed & 0xFF;
          p += (packed >> 8) & 0xFF;
          continue;
        }
      }
      const CodeTableCandidate* match = FindRow(index, pool, in + p, left);
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
      if constexpr (kList) {
        if (in[p] >= 0x80) unconverted->push_back(p);
      }
    }
    *dst++ = in[p++];
  }
  return size_t(dst - out.data());
}

}  // namespace

Bytes ConvertSequences(ByteSpan content, bool swap, const CodeTable& table) {
  Bytes out;
  out.resize(Convert<false>(content, swap, table, nullptr, out, 0));
  return out;
}

size_t ConvertSequencesInto(ByteSpan content, bool swap, const CodeTable& table, Bytes& out, size_t at) {
  return Convert<false>(content, swap, table, nullptr, out, at);
}

Bytes ConvertSequencesListingUnconverted(ByteSpan content, bool swap, const CodeTable& table,
                                         std::vector<size_t>& unconverted) {
  unconverted.clear();
  Bytes out;
  out.resize(Convert<true>(content, swap, table, &unconverted, out, 0));
  return out;
}

}  // namespace fpskit
