// DDS image files of the textures of a texture pair.
//
// A DDS file is a 128-byte header of little-endian numbers followed by the
// image's pixel bytes, exactly as the texture data member holds them, except
// for format code 5 (A8R8G8B8), whose groups of four bytes are stored in the
// reverse order. The header is a standard one, so that image editors open
// the files; for a format without a header description it still has its 128
// bytes, so that the pixels always start at byte 128 and an unchanged file
// imports back exactly.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "texture/txm.h"
#include "util/byte_source.h"
#include "util/bytes.h"

namespace fpskit {

inline constexpr size_t kDdsHeaderSize = 128;
inline constexpr uint32_t kDdsHeaderFieldSize = 124;
inline constexpr uint32_t kDdsPixelFormatSize = 32;
// Header flags, pixel-format flags and capabilities of the DDS header.
inline constexpr uint32_t kDdsFlagsRequired = 0x1 | 0x2 | 0x4 | 0x1000;  // CAPS HEIGHT WIDTH PIXELFORMAT
inline constexpr uint32_t kDdsFlagPitch = 0x8;
inline constexpr uint32_t kDdsFlagMipmapCount = 0x20000;
inline constexpr uint32_t kDdsFlagLinearSize = 0x80000;
inline constexpr uint32_t kDdsPixelFourCC = 0x4;
inline constexpr uint32_t kDdsCapsTexture = 0x1000;
inline constexpr uint32_t kDdsCapsMipmaps = 0x8 | 0x400000;  // COMPLEX MIPMAP

// The extended header that follows the FourCC "DX10" (format number,
// resource dimension, flags, array size, more flags).
inline constexpr size_t kDdsDx10HeaderSize = 20;

using DdsHeader = std::array<uint8_t, kDdsHeaderSize>;

// The header of one image of a texture with this format code: its height and
// width (raised to multiples of 4 for the block-compressed DXT1, DXT3 and
// DXT5), its mip count, the pixel format of the code, and the bytes of a row
// (of the first level for DXTn) where the format tells them.
DdsHeader MakeDdsHeader(const TextureRecord& texture, uint32_t formatCode);

// Whether an edited DDS file still describes the texture it goes back into.
struct DdsCheck {
  bool matches = false;
  size_t pixelStart = kDdsHeaderSize;  // past a DX10 header, 20 bytes further
  std::string problem;                 // when it does not match: "saved as ...; the texture is ..."
};

// Checks `head`, the first bytes of a DDS file of `length` bytes (at least
// its 128-byte header, and the DX10 header behind it when there is one),
// against the texture: the same pixel format (FourCC, or bit count and
// masks; a DX10 format number of the same layout), the texture's width and
// height (raised to multiples of 4 as exported for DXTn, or as earlier
// versions wrote them when the file holds exactly the image's bytes), the
// same mip count, and pixels at least the image's bytes (or its whole mip
// chain when that is shorter). Prints nothing.
DdsCheck CheckDdsFile(ByteSpan head, uint64_t length, const TextureRecord& texture, uint32_t formatCode);

// Reports the DDS file at `path` that CheckDdsFile found not to describe its
// texture, as "fps" refuses it: "\nERROR: <path>: <what differs>".
void ReportDdsMismatch(const std::string& path, const DdsCheck& check);

// Reverses every whole group of four bytes (b0 b1 b2 b3 -> b3 b2 b1 b0); a
// shorter group at the end stays as it is. Applying it twice changes nothing.
void ReverseGroupsOfFour(Bytes& bytes);

// The DDS file of one image, relative to the unpack directory:
// "<name>_<txm index>_<texture index>.dds", with "_<image index>" before
// ".dds" when the texture has more than one image. Separators in it are '/'.
std::string DdsFileName(const TextureRecord& texture, size_t txmIndex, size_t textureIndex, size_t imageIndex);

// Writes the DDS files of every image of one texture from `data`, the texture
// data member, printing "\n<path>" for each. An image name that would leave
// the unpack directory, or a texture name too long for a file, is reported
// and not written. False when anything was reported.
bool ExportTextureImages(const TextureRecord& texture, bool mapsFormats, const ByteSource& data, size_t txmIndex,
                         size_t textureIndex, const std::string& unpackDirectory);

enum class SplitResult {
  kDone,
  kFailed,    // images were reported and not written; every other image is written
  kRejected,  // the TXM's records were reported before any image was written
};

// Writes the DDS files of every texture of a pair that is not a duplicate,
// in TXM order. `txm` and `data` are the two members; `label` names the pair
// in messages.
SplitResult SplitTexturePair(const ByteSource& txm, const ByteSource& data, size_t txmIndex,
                             const std::string& unpackDirectory, const std::string& label);

// Writes the pixels of every image of one texture whose DDS file exists back
// into `archive`, where the texture data member starts at `dataStart`: the
// file's bytes after its header, at most the image's size (groups of four
// reversed again for format code 5), printing "\n+ <path>" for each.
// Missing files, files of 128 bytes or less and names that would leave the
// unpack directory or are too long for a file (never written by the split)
// are passed over. A file whose header does not describe the texture
// (CheckDdsFile) is reported as "\nERROR: <path>: <what differs>" and not
// written; the other images still are. False, with a message, when a file
// does not match, a file that exists cannot be read, or the archive cannot
// be written.
bool ImportTextureImages(const TextureRecord& texture, bool mapsFormats, ByteSink& archive, uint64_t dataStart,
                         size_t txmIndex, size_t textureIndex, const std::string& unpackDirectory);

// Writes the DDS files of every texture of a pair that is not a duplicate
// back into the texture data member of `dataLength` bytes at `dataStart` in
// `archive`, in TXM order. False when the TXM's records are damaged (reported
// as ReadTextureRecords does) or an image could not be imported (after every
// image was tried).
bool RebuildTexturePair(const ByteSource& txm, uint64_t dataLength, ByteSink& archive, uint64_t dataStart,
                        size_t txmIndex, const std::string& unpackDirectory, const std::string& label);

}  // namespace fpskit
