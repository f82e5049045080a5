// TXM members: the records of a texture pair.
//
// A texture pair is two archive members: a TXM member with one record per
// texture, and the texture data member right after it, which holds the pixel
// data of every texture back to back. All numbers are big-endian.
//
// Header: magic 00 02 00 00 (0), the member's length (4), version (8),
// texture count (12), then an extra header of 8 bytes (versions 10 and 16) or
// 68 bytes (every other version). When the count at 12 is 0, the count is the
// extra header's second number (at 20) and every record carries an image
// count.
//
// Record: width (0), height (4), [image count], mip count, format (four raw
// bytes), name offset (from the position of this field), data offset (from
// the start of the texture data member), then a tail of 4 bytes (versions 10
// and 16) or 64 bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "util/byte_source.h"
#include "util/bytes.h"

namespace fpskit {

inline constexpr size_t kTxmHeaderSize = 16;
inline constexpr size_t kTxmShortExtraSize = 8;
inline constexpr size_t kTxmLongExtraSize = 68;
inline constexpr size_t kTxmShortTailSize = 4;
inline constexpr size_t kTxmLongTailSize = 64;
inline constexpr size_t kTxmAlternateCountOffset = 20;
// The longest texture name a DDS file can be named after; a longer one is
// not read beyond this.
inline constexpr size_t kLongestTextureName = 255;

struct TextureRecord {
  uint16_t width = 0;              // record offset 0, low 16 bits
  uint16_t height = 0;             // record offset 4, low 16 bits
  uint32_t imageCount = 1;         // record offset 8 in the layout with image counts
  uint8_t mipCount = 0;            // low 8 bits
  std::array<uint8_t, 4> format{};  // as stored
  std::string name;                // the zero-terminated name the name offset points at
  bool nameTooLong = false;        // the name has more than kLongestTextureName bytes (`name` is empty)
  uint32_t dataOffset = 0;         // inside the texture data member
  uint32_t size = 0;               // bytes of pixel data (duplicates: 0)
  bool duplicate = false;          // an earlier texture has the same data offset
};

struct TextureSet {
  std::vector<TextureRecord> textures;  // in TXM order
  bool mapsFormats = true;              // every version but 10 and 16 maps (class, variant) to a code
};

// True for the versions with the short extra header and record tail.
inline bool IsShortTxmVersion(uint32_t version) { return version == 10 || version == 16; }

// What can be wrong with a TXM member's records, and what the message about
// it needs.
enum class TextureError {
  kNone,
  kTruncatedHeader,    // the header or its extra header is cut short
  kRecordsDoNotFit,    // `textureCount` records reach past the member
  kUnreadableRecords,  // the records could not be read from the source
  kBrokenName,         // `texture`'s name lies outside the member or has no terminating zero
  kDataBeyondMember,   // `texture` starts at `dataOffset`, past the `dataLength` bytes of the data member
  kBadImageCount,      // `texture` has `imageCount` images (0, or more than its `size` bytes)
};

struct TextureFailure {
  TextureError error = TextureError::kNone;
  size_t texture = 0;         // the record's index in TXM order
  uint32_t textureCount = 0;  // kRecordsDoNotFit
  uint32_t imageCount = 0;    // kBadImageCount
  uint32_t dataOffset = 0;    // kDataBeyondMember
  uint32_t size = 0;          // kBadImageCount: the texture's bytes
  uint64_t dataLength = 0;    // kDataBeyondMember
  bool ok() const { return error == TextureError::kNone; }
};

// Parses the records of a TXM member through bounded reads (its header, its
// records and their names, nothing else), and gives every texture that is
// not a duplicate its size from the data offsets in ascending order (the
// last one, or a lone texture, reaches to the end of the texture data member
// of `dataLength` bytes). A name longer than kLongestTextureName is not read
// further: the texture gets `nameTooLong`. Returns the first failure found
// (records or names outside the member, a name without a terminating zero,
// a data offset beyond the texture data member, an image count of 0 or one
// above the texture's bytes), with `set` then incomplete; prints nothing.
TextureFailure ParseTextureRecords(const ByteSource& txm, uint64_t dataLength, TextureSet& set);
inline TextureFailure ParseTextureRecords(ByteSpan txm, uint64_t dataLength, TextureSet& set) {
  return ParseTextureRecords(ByteSource::InMemory(txm), dataLength, set);
}

// The format code of a texture: the low 4 bits of the first format byte for
// versions 10 and 16; otherwise the code of (class, variant), the low 4 bits
// of the first and the fourth byte, or 0 for a pair without one.
uint32_t TextureFormatCode(const TextureRecord& texture, bool mapsFormats);

// The bytes of one image: the texture's size divided by its image count.
inline uint32_t ImageSize(const TextureRecord& texture) { return texture.size / texture.imageCount; }

}  // namespace fpskit
