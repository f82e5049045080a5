#include "codetable/codetable.h"

#include <cstring>
#include <utility>

#include "codetable/lines.h"
#include "util/console.h"
#include "util/files.h"

namespace fpskit {
namespace {

constexpr uint8_t kVerbatimMarker[4] = {'<', '|', '|', '>'};

CodeTableIndex BuildIndex(const std::vector<CodeTableEntry>& entries, bool byRight) {
  auto source = [&](const CodeTableEntry& e) {
    return byRight ? std::pair(e.rightBytes.data(), e.rightLength)
                   : std::pair(e.leftBytes.data(), e.leftLength);
  };
  CodeTableIndex index;
  index.firstSingle.fill(-1);
  for (size_t row = 0; row < entries.size(); ++row) {
    auto [bytes, length] = source(entries[row]);
    if (length == 1 && index.firstSingle[bytes[0]] < 0) index.firstSingle[bytes[0]] = int32_t(row);
  }
  // A longer row is reachable only when it comes before the one-byte row of
  // its first byte.
  auto reachable = [&](uint8_t first, size_t row) {
    return index.firstSingle[first] < 0 || row < size_t(index.firstSingle[first]);
  };
  std::vector<uint32_t> counts(65536, 0);
  for (size_t row = 0; row < entries.size(); ++row) {
    auto [bytes, length] = source(entries[row]);
    if (length >= 2 && reachable(bytes[0], row)) ++counts[(bytes[0] << 8) | bytes[1]];
  }
  for (uint32_t key = 0; key < 65536; ++key) {
    if (index.firstSingle[key >> 8] >= 0) ++counts[key];
  }
  index.bucketStart.assign(65537, 0);
  for (uint32_t key = 0; key < 65536; ++key) index.bucketStart[key + 1] = index.bucketStart[key] + counts[key];
  index.rows.resize(index.bucketStart[65536]);
  std::vector<uint32_t> fill(index.bucketStart.begin(), index.bucketStart.end() - 1);
  for (size_t row = 0; row < entries.size(); ++row) {
    auto [bytes, length] = source(entries[row]);
    if (length >= 2 && reachable(bytes[0], row)) index.rows[fill[(bytes[0] << 8) | bytes[1]]++] = uint32_t(row);
  }
  for (uint32_t key = 0; key < 65536; ++key) {
    if (index.firstSingle[key >> 8] >= 0) index.rows[fill[key]++] = uint32_t(index.firstSingle[key >> 8]);
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
  table.byLeft = BuildIndex(table.entries, false);
  table.byRight = BuildIndex(table.entries, true);
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
  const CodeTableEntry* entries = table.entries.data();
  const uint8_t* in = content.data();
  const size_t m = content.size();
  Bytes out;
  out.reserve(m + m / 2 + 16);
  bool converting = true;
  size_t p = 0;
  while (p < m) {
    const size_t left = m - p;
    if (in[p] == '<' && left >= 4 && std::memcmp(in + p, kVerbatimMarker, 4) == 0) {
      converting = !converting;
      p += 4;
      continue;
    }
    if (converting) {
      const CodeTableEntry* match = nullptr;
      if (left >= 2) {
        const uint32_t key = (uint32_t(in[p]) << 8) | in[p + 1];
        const uint32_t* row = index.rows.data() + index.bucketStart[key];
        const uint32_t* end = index.rows.data() + index.bucketStart[key + 1];
        for (; row != end; ++row) {
          const CodeTableEntry& e = entries[*row];
          const uint8_t* source = swap ? e.rightBytes.data() : e.leftBytes.data();
          const size_t length = size_t(swap ? e.rightLength : e.leftLength);
          if (length <= left && std::memcmp(source, in + p, length) == 0) {
            match = &e;
            break;
          }
        }
      } else if (index.firstSingle[in[p]] >= 0) {
        match = &entries[index.firstSingle[in[p]]];
      }
      if (match != nullptr) {
        const uint8_t* target = swap ? match->leftBytes.data() : match->rightBytes.data();
        const size_t targetLength = size_t(swap ? match->leftLength : match->rightLength);
        out.insert(out.end(), target, target + targetLength);
        p += size_t(swap ? match->rightLength : match->leftLength);
        continue;
      }
    }
    out.push_back(in[p]);
    ++p;
  }
  return out;
}

}  // namespace fpskit
