// Builders of FPS4 archives and TXM members for the tests, the benchmarks and
// the samples.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "util/bytes.h"

namespace fpskit::support {

struct Fps4Member {
  Bytes data;
  // Where the entry keeps a name: the name string of a 16-byte table
  // (nullopt: pointer 0), the extension of a 20-byte table, the name of
  // longer entries.
  std::optional<std::string> name;
  bool continuation = false;              // 8-byte tables: the entry continues the member before it
  std::optional<uint32_t> offsetOverride;  // 0xFFFFFFFF (or 0 with flags 0x8D): no member
};

// A member of the given bytes (or text), under a name when given.
Fps4Member Member(Bytes data, std::optional<std::string> name = std::nullopt);
Fps4Member Member(std::string_view data, std::optional<std::string> name = std::nullopt);

struct Fps4Layout {
  uint16_t entrySize = 12;
  uint16_t flags = 0;
  std::optional<std::string> type;  // the type string (4 bytes), none when unset
  uint16_t alignmentHint = 0;       // little-endian at header offset 20
  uint32_t alignment = 2048;        // where the builder places members (1 = back to back)
  uint32_t word8 = 0;
  std::vector<Fps4Member> members;
};

// The archive: header, table (one entry per member and the closing entry),
// type string and name strings, then the members, each starting at a multiple
// of the alignment and padded with zeros (8-byte tables: back to back).
Bytes BuildFps4(const Fps4Layout& layout);

struct TxmTexture {
  uint16_t width = 4;
  uint16_t height = 4;
  uint32_t imageCount = 1;
  uint32_t mipCount = 1;
  std::array<uint8_t, 4> format{0x0A, 0, 0, 0x0B};  // class 10, variant 11: DXT1 in the mapped versions
  std::string name = "tex";
  uint32_t dataOffset = 0;
};

struct TxmLayout {
  uint32_t version = 4;
  bool imageCounts = false;  // count 0 at offset 12, the count at 20, records with image counts
  std::vector<TxmTexture> textures;
};

// A TXM member: header, extra header, records, then the names; its length
// field holds its own length.
Bytes BuildTxm(const TxmLayout& layout);

// A format's four stored bytes for a format code: the code itself as the
// first byte for versions 10 and 16, the (class, variant) of the code in the
// other versions.
std::array<uint8_t, 4> TxmFormatBytes(uint32_t code, uint32_t version);

}  // namespace fpskit::support
