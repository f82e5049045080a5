#include "texture/dds.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace fpskit {
namespace {

constexpr size_t kFlagsOffset = 8;
constexpr size_t kHeightOffset = 12;
constexpr size_t kWidthOffset = 16;
constexpr size_t kPitchOffset = 20;
constexpr size_t kMipCountOffset = 28;
constexpr size_t kPixelFormatOffset = 76;  // size, flags, FourCC, bit count, four masks
constexpr size_t kCapsOffset = 108;
// The extended header behind the FourCC "DX10": its format number (at 128),
// resource dimension (132) and array size (140).
constexpr size_t kDx10FormatOffset = 128;
constexpr size_t kDx10DimensionOffset = 132;
constexpr size_t kDx10ArraySizeOffset = 140;
constexpr uint32_t kDx10Texture2D = 3;
// Pixel-format flags of uncompressed pixels, in descriptions.
constexpr uint32_t kDdsPixelAlpha = 0x2;
constexpr uint32_t kDdsPixelRgb = 0x40;
constexpr uint32_t kDdsPixelLuminance = 0x20000;

struct PixelFormat {
  uint32_t code;
  uint32_t flags;
  uint32_t fourCC;
  uint32_t bitCount;
  uint32_t masks[4];        // red, green, blue, alpha
  const char* name;         // in messages
  uint32_t bitsPerPixel;    // of an uncompressed format whose pixels are known; else 0
  uint32_t blockBytes;      // of a block-compressed format (a block is 4 x 4 pixels); else 0
  uint32_t dx10Formats[2];  // the DX10 format numbers of the same layout (0: none)
};

constexpr uint32_t FourCC(const char (&text)[5]) {
  return uint32_t(uint8_t(text[0])) | uint32_t(uint8_t(text[1])) << 8 | uint32_t(uint8_t(text[2])) << 16 |
         uint32_t(uint8_t(text[3])) << 24;
}

constexpr PixelFormat kPixelFormats[] = {
    {1, 0x20, 0, 0, {0, 0, 0, 0}, "8-bit indexed", 0, 0, {0, 0}},
    {3, 0x41, 0, 16, {0x0F00, 0x00F0, 0x000F, 0xF000}, "A4R4G4B4", 16, 0, {115, 0}},
    {5, 0x41, 0, 32, {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000}, "A8R8G8B8", 32, 0, {87, 91}},
    {6, 0, FourCC("DXT1"), 0, {0, 0, 0, 0}, "DXT1", 0, 8, {71, 72}},
    {7, 0, FourCC("DXT3"), 0, {0, 0, 0, 0}, "DXT3", 0, 16, {74, 75}},
    {8, 0, FourCC("DXT5"), 0, {0, 0, 0, 0}, "DXT5", 0, 16, {77, 78}},
    // By its Direct3D format number.
    {15, 0, 113, 0, {0, 0, 0, 0}, "64-bit floating-point RGBA", 64, 0, {10, 0}},
};

constexpr uint32_t kReversedFormatCode = 5;

const PixelFormat* FindPixelFormat(uint32_t code) {
  for (const PixelFormat& format : kPixelFormats) {
    if (format.code == code) return &format;
  }
  return nullptr;
}

uint32_t RoundUpToFour(uint32_t value) { return (value + 3) & ~uint32_t(3); }

bool BlockCompressed(const PixelFormat* format) { return format && format->blockBytes != 0; }

// The bytes of one mip level of `width` x `height` pixels; 0 when the
// format's pixels are not known.
uint64_t LevelBytes(const PixelFormat* format, uint32_t width, uint32_t height) {
  if (BlockCompressed(format)) {
    return uint64_t(std::max(1u, (width + 3) / 4)) * std::max(1u, (height + 3) / 4) * format->blockBytes;
  }
  if (format && format->bitsPerPixel) return (uint64_t(width) * format->bitsPerPixel + 7) / 8 * height;
  return 0;
}

uint32_t MipLevels(uint32_t mipCount) { return std::max(1u, mipCount); }

// The bytes of a texture's whole mip chain; 0 when not known.
uint64_t ChainBytes(const PixelFormat* format, const TextureRecord& texture) {
  uint64_t total = 0;
  for (uint32_t level = 0; level < MipLevels(texture.mipCount) && level < 16; ++level) {
    total += LevelBytes(format, std::max(1u, uint32_t(texture.width) >> level),
                        std::max(1u, uint32_t(texture.height) >> level));
  }
  return total;
}

std::string MipText(uint32_t levels) {
  return levels > 1 ? "with " + std::to_string(levels) + " mipmaps" : "without mipmaps";
}

std::string SizeText(uint32_t width, uint32_t height) { return std::to_string(width) + "x" + std::to_string(height); }

// The fields of a DDS file's header that tell what it holds, read through
// bounds-checked loads.
struct DdsFields {
  uint32_t height = 0;
  uint32_t width = 0;
  uint32_t mipCount = 0;
  uint32_t pixel[7] = {};  // pixel-format flags, FourCC, bit count, red, green, blue and alpha masks
  bool dx10 = false;       // the FourCC is "DX10": the extended header follows
  bool dx10Whole = false;  // ...and is there in full
  uint32_t dx10Format = 0;
  uint32_t dx10Dimension = 0;
  uint32_t dx10ArraySize = 0;
};

// False when `head` does not start with "DDS " and a whole 124-byte header.
bool ParseDdsFields(ByteSpan head, DdsFields& fields) {
  ByteReader reader(head);
  const ByteSpan magic = reader.Span(4);
  const uint32_t headerSize = reader.U32LE();
  reader.Seek(kHeightOffset);
  fields.height = reader.U32LE();
  fields.width = reader.U32LE();
  reader.Seek(kMipCountOffset);
  fields.mipCount = reader.U32LE();
  reader.Seek(kPixelFormatOffset + 4);
  for (uint32_t& field : fields.pixel) field = reader.U32LE();
  reader.Seek(kDdsHeaderSize);
  if (!reader.ok() || !std::equal(magic.begin(), magic.end(), "DDS ") || headerSize != kDdsHeaderFieldSize) {
    return false;
  }
  fields.dx10 = (fields.pixel[0] & kDdsPixelFourCC) && fields.pixel[1] == FourCC("DX10");
  if (fields.dx10) {
    reader.Seek(kDx10FormatOffset);
    fields.dx10Format = reader.U32LE();
    reader.Seek(kDx10DimensionOffset);
    fields.dx10Dimension = reader.U32LE();
    reader.Seek(kDx10ArraySizeOffset);
    fields.dx10ArraySize = reader.U32LE();
    reader.Seek(kDdsHeaderSize + kDdsDx10HeaderSize);
    fields.dx10Whole = reader.ok();
  }
  return true;
}

// What an image editor saved, in a translator's words: "DXT5", "32-bit RGBA".
std::string DescribeFileFormat(const DdsFields& file, const PixelFormat* expected) {
  const uint32_t flags = file.pixel[0];
  const uint32_t fourCC = file.pixel[1];
  const uint32_t bitCount = file.pixel[2];
  if (file.dx10) {
    if (!file.dx10Whole) return "DX10 with its extended header cut short";
    std::string text = "DX10 format " + std::to_string(file.dx10Format);
    if (file.dx10Dimension != kDx10Texture2D) text += " not as a 2D texture";
    if (file.dx10ArraySize > 1) text += " in an array of " + std::to_string(file.dx10ArraySize);
    return text;
  }
  if (flags & kDdsPixelFourCC) {
    for (const PixelFormat& format : kPixelFormats) {
      if (format.fourCC != 0 && format.fourCC == fourCC) return format.name;
    }
    std::string text(4, ' ');
    for (size_t k = 0; k < 4; ++k) text[k] = char(uint8_t(fourCC >> (8 * k)));
    const bool printable = std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
    return printable ? text : "FourCC " + std::to_string(fourCC);
  }
  const uint32_t alphaMask = file.pixel[6];
  const std::string bits = std::to_string(bitCount) + "-bit ";
  if (flags & kDdsPixelRgb) {
    const bool reordered = expected && expected->bitCount == bitCount && alphaMask;
    return bits + (alphaMask ? "RGBA" : "RGB") + (reordered ? " in another channel order" : "");
  }
  if (flags & kDdsPixelLuminance) return bits + "luminance";
  if (flags & kDdsPixelAlpha) return bits + "alpha";
  return bitCount ? bits + "pixels of no known format" : "no pixel format";
}

// True when the file's pixel format (or its DX10 header's) is the one the
// texture was exported with.
bool SamePixelFormat(const DdsFields& file, const DdsFields& exported, const PixelFormat* expected) {
  if (file.dx10) {
    if (!expected || !file.dx10Whole) return false;
    const uint32_t number = file.dx10Format;
    return number != 0 && (number == expected->dx10Formats[0] || number == expected->dx10Formats[1]) &&
           file.dx10Dimension == kDx10Texture2D && file.dx10ArraySize <= 1;
  }
  const bool fourCC = file.pixel[0] & kDdsPixelFourCC;
  if (fourCC != bool(exported.pixel[0] & kDdsPixelFourCC)) return false;
  if (fourCC) return file.pixel[1] == exported.pixel[1];
  // The bit count and the four masks.
  return std::equal(file.pixel + 2, file.pixel + 7, exported.pixel + 2);
}

}  // namespace

DdsHeader MakeDdsHeader(const TextureRecord& texture, uint32_t formatCode) {
  DdsHeader header{};
  const PixelFormat* format = FindPixelFormat(formatCode);
  // Only the block-compressed formats cover their pixels in whole 4 x 4
  // blocks; any other image keeps its own size, or readers take its rows
  // for more than it has.
  const uint32_t height = BlockCompressed(format) ? RoundUpToFour(texture.height) : texture.height;
  const uint32_t width = BlockCompressed(format) ? RoundUpToFour(texture.width) : texture.width;
  std::memcpy(header.data(), "DDS ", 4);
  StoreU32LE(header.data() + 4, kDdsHeaderFieldSize);
  const bool mipmaps = texture.mipCount > 1;
  uint32_t flags = kDdsFlagsRequired | (mipmaps ? kDdsFlagMipmapCount : 0);
  // The bytes of the first level of a block-compressed image, or of one row
  // of pixels, where the format tells them.
  if (BlockCompressed(format)) {
    flags |= kDdsFlagLinearSize;
    StoreU32LE(header.data() + kPitchOffset, uint32_t(std::min<uint64_t>(LevelBytes(format, width, height), UINT32_MAX)));
  } else if (format && format->bitsPerPixel) {
    flags |= kDdsFlagPitch;
    StoreU32LE(header.data() + kPitchOffset, (width * format->bitsPerPixel + 7) / 8);
  }
  StoreU32LE(header.data() + kFlagsOffset, flags);
  StoreU32LE(header.data() + kHeightOffset, height);
  StoreU32LE(header.data() + kWidthOffset, width);
  header[kMipCountOffset] = texture.mipCount;
  StoreU32LE(header.data() + kPixelFormatOffset, kDdsPixelFormatSize);
  // A code without a row keeps an empty pixel format: no FourCC, bit count 0.
  if (format) {
    StoreU32LE(header.data() + kPixelFormatOffset + 4, format->flags | (format->fourCC ? kDdsPixelFourCC : 0));
    StoreU32LE(header.data() + kPixelFormatOffset + 8, format->fourCC);
    StoreU32LE(header.data() + kPixelFormatOffset + 12, format->bitCount);
    for (size_t m = 0; m < 4; ++m) StoreU32LE(header.data() + kPixelFormatOffset + 16 + 4 * m, format->masks[m]);
  }
  StoreU32LE(header.data() + kCapsOffset, kDdsCapsTexture | (mipmaps ? kDdsCapsMipmaps : 0));
  return header;
}

DdsCheck CheckDdsFile(ByteSpan head, uint64_t length, const TextureRecord& texture, uint32_t formatCode) {
  DdsCheck check;
  const PixelFormat* format = FindPixelFormat(formatCode);
  const std::string formatName = format ? format->name : "format code " + std::to_string(formatCode);
  const std::string textureText =
      formatName + " " + SizeText(texture.width, texture.height) + " " + MipText(MipLevels(texture.mipCount));
  DdsFields file;
  if (!ParseDdsFields(head, file)) {
    check.problem = "not a DDS file (no 124-byte header after \"DDS \"); the texture is " + textureText;
    return check;
  }
  DdsFields exported;
  ParseDdsFields(MakeDdsHeader(texture, formatCode), exported);  // a whole header: always read
  check.pixelStart = file.dx10 ? kDdsHeaderSize + kDdsDx10HeaderSize : kDdsHeaderSize;
  const uint64_t pixelBytes = length > check.pixelStart ? length - check.pixelStart : 0;
  const uint32_t imageSize = ImageSize(texture);

  const bool sameFormat = SamePixelFormat(file, exported, format);
  const uint32_t width = file.width;
  const uint32_t height = file.height;
  // The texture's own size always fits. The size raised to multiples of 4
  // is the one block-compressed images are exported with, and the one
  // earlier versions wrote over the rows of every image (such a file holds
  // exactly the image's bytes).
  const bool roundedSize = width == RoundUpToFour(texture.width) && height == RoundUpToFour(texture.height);
  const bool sameSize = (width == texture.width && height == texture.height) ||
                        (roundedSize && (BlockCompressed(format) || pixelBytes == imageSize));
  // Writers leave the mip count 0 as often as 1 for a single level.
  const uint32_t levels = MipLevels(file.mipCount);
  const bool sameMips = levels == MipLevels(texture.mipCount);
  if (!sameFormat || !sameSize || !sameMips) {
    check.problem = "saved as " + (sameFormat ? formatName : DescribeFileFormat(file, format));
    if (!sameSize) check.problem += " " + SizeText(width, height);
    if (!sameMips) check.problem += " " + MipText(levels);
    check.problem += "; the texture is " + textureText;
    return check;
  }
  // An editor writes the mip chain and nothing after it: the rest of an
  // image longer than its chain keeps the archive's bytes.
  const uint64_t chain = ChainBytes(format, texture);
  const uint64_t needed = chain ? std::min<uint64_t>(chain, imageSize) : imageSize;
  if (pixelBytes < needed) {
    check.problem = "holds " + std::to_string(pixelBytes) + " bytes of pixels; the texture is " + textureText +
                    " in " + std::to_string(needed) + " bytes";
    return check;
  }
  check.matches = true;
  check.pixelCount = std::min<uint64_t>(imageSize, pixelBytes);
  return check;
}

void ReverseGroupsOfFour(Bytes& bytes) {
  for (size_t i = 0; i + 4 <= bytes.size(); i += 4) std::reverse(bytes.begin() + ptrdiff_t(i), bytes.begin() + ptrdiff_t(i + 4));
}

void SwapDdsPixelOrder(uint32_t formatCode, Bytes& pixels) {
  if (formatCode == kReversedFormatCode) ReverseGroupsOfFour(pixels);
}

std::string DdsFileName(const TextureRecord& texture, size_t txmIndex, size_t textureIndex, size_t imageIndex) {
  char suffix[64];
  if (texture.imageCount > 1) {
    std::snprintf(suffix, sizeof suffix, "_%zu_%zu_%zu.dds", txmIndex, textureIndex, imageIndex);
  } else {
    std::snprintf(suffix, sizeof suffix, "_%zu_%zu.dds", txmIndex, textureIndex);
  }
  std::string name = texture.name + suffix;
  std::replace(name.begin(), name.end(), '\\', '/');
  return name;
}

}  // namespace fpskit
