// DDS image files of the textures of a texture pair.
//
// A DDS file is a 128-byte header of little-endian numbers followed by the
// image's pixel bytes, exactly as the texture data member holds them, except
// for format code 5 (A8R8G8B8), whose groups of four bytes are stored in the
// reverse order. The header is a standard one, so that image editors open
// the files; for a format without a header description it still has its 128
// bytes, so that the pixels always start at byte 128 and an unchanged file
// imports back exactly.
//
// This code builds and checks the bytes of a DDS file; the tools
// (tools/texture/dds_files.h) write and read the files.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "texture/txm.h"
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

// Whether an edited DDS file still describes the texture it goes back into,
// and where its pixels lie.
struct DdsCheck {
  bool matches = false;
  size_t pixelStart = kDdsHeaderSize;  // past a DX10 header, 20 bytes further
  uint64_t pixelCount = 0;             // when it matches: the bytes that go back, at most the image's
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

// Reverses every whole group of four bytes (b0 b1 b2 b3 -> b3 b2 b1 b0); a
// shorter group at the end stays as it is. Applying it twice changes nothing.
void ReverseGroupsOfFour(Bytes& bytes);

// Turns a texture's pixel bytes into the order its DDS file holds them, or
// a DDS file's back (the same change both ways): format code 5 reverses
// every group of four, every other code keeps them as they are.
void SwapDdsPixelOrder(uint32_t formatCode, Bytes& pixels);

// The DDS file of one image, relative to the unpack directory:
// "<name>_<txm index>_<texture index>.dds", with "_<image index>" before
// ".dds" when the texture has more than one image. Separators in it are '/'.
std::string DdsFileName(const TextureRecord& texture, size_t txmIndex, size_t textureIndex, size_t imageIndex);

}  // namespace fpskit
