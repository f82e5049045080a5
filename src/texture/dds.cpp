#include "texture/dds.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "util/console.h"
#include "util/files.h"
#include "util/paths.h"

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

uint32_t PixelField(ByteSpan header, size_t k) { return LoadU32LE(header.data() + kPixelFormatOffset + 4 + 4 * k); }

bool HasDx10Header(ByteSpan header) {
  return (PixelField(header, 0) & kDdsPixelFourCC) && PixelField(header, 1) == FourCC("DX10");
}

// What an image editor saved, in a translator's words: "DXT5", "32-bit RGBA".
std::string DescribeFileFormat(ByteSpan head, const PixelFormat* expected) {
  const uint32_t flags = PixelField(head, 0);
  const uint32_t fourCC = PixelField(head, 1);
  const uint32_t bitCount = PixelField(head, 2);
  if (HasDx10Header(head)) {
    if (head.size() < kDdsHeaderSize + kDdsDx10HeaderSize) return "DX10 with its extended header cut short";
    std::string text = "DX10 format " + std::to_string(LoadU32LE(head.data() + kDx10FormatOffset));
    const uint32_t arraySize = LoadU32LE(head.data() + kDx10ArraySizeOffset);
    if (LoadU32LE(head.data() + kDx10DimensionOffset) != kDx10Texture2D) text += " not as a 2D texture";
    if (arraySize > 1) text += " in an array of " + std::to_string(arraySize);
    return text;
  }
  if (flags & kDdsPixelFourCC) {
    for (const PixelFormat& format : kPixelFormats) {
      if (format.fourCC != 0 && format.fourCC == fourCC) return format.name;
    }
    const std::string text(reinterpret_cast<const char*>(head.data() + kPixelFormatOffset + 8), 4);
    const bool printable = std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
    return printable ? text : "FourCC " + std::to_string(fourCC);
  }
  const uint32_t alphaMask = PixelField(head, 6);
  const std::string bits = std::to_string(bitCount) + "-bit ";
  if (flags & kDdsPixelRgb) {
    const bool reordered = expected && expected->bitCount == bitCount && alphaMask;
    return bits + (alphaMask ? "RGBA" : "RGB") + (reordered ? " in another channel order" : "");
  }
  if (flags & kDdsPixelLuminance) return bits + "luminance";
  if (flags & kDdsPixelAlpha) return bits + "alpha";
  return bitCount ? bits + "pixels of no known format" : "no pixel format";
}

// True when the header's pixel format (or its DX10 header's) is the one the
// texture was exported with.
bool SamePixelFormat(ByteSpan head, ByteSpan exported, const PixelFormat* expected) {
  if (HasDx10Header(head)) {
    if (!expected || head.size() < kDdsHeaderSize + kDdsDx10HeaderSize) return false;
    const uint32_t number = LoadU32LE(head.data() + kDx10FormatOffset);
    return number != 0 && (number == expected->dx10Formats[0] || number == expected->dx10Formats[1]) &&
           LoadU32LE(head.data() + kDx10DimensionOffset) == kDx10Texture2D &&
           LoadU32LE(head.data() + kDx10ArraySizeOffset) <= 1;
  }
  const bool fourCC = PixelField(head, 0) & kDdsPixelFourCC;
  if (fourCC != bool(PixelField(exported, 0) & kDdsPixelFourCC)) return false;
  if (fourCC) return PixelField(head, 1) == PixelField(exported, 1);
  for (size_t k = 2; k < 7; ++k) {  // bit count and the four masks
    if (PixelField(head, k) != PixelField(exported, k)) return false;
  }
  return true;
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
  if (head.size() < kDdsHeaderSize || std::memcmp(head.data(), "DDS ", 4) != 0 ||
      LoadU32LE(head.data() + 4) != kDdsHeaderFieldSize) {
    check.problem = "not a DDS file (no 124-byte header after \"DDS \"); the texture is " + textureText;
    return check;
  }
  const DdsHeader exported = MakeDdsHeader(texture, formatCode);
  check.pixelStart = HasDx10Header(head) ? kDdsHeaderSize + kDdsDx10HeaderSize : kDdsHeaderSize;
  const uint64_t pixelBytes = length > check.pixelStart ? length - check.pixelStart : 0;
  const uint32_t imageSize = ImageSize(texture);

  const bool sameFormat = SamePixelFormat(head, exported, format);
  const uint32_t width = LoadU32LE(head.data() + kWidthOffset);
  const uint32_t height = LoadU32LE(head.data() + kHeightOffset);
  // The texture's own size always fits. The size raised to multiples of 4
  // is the one block-compressed images are exported with, and the one
  // earlier versions wrote over the rows of every image (such a file holds
  // exactly the image's bytes).
  const bool roundedSize = width == RoundUpToFour(texture.width) && height == RoundUpToFour(texture.height);
  const bool sameSize = (width == texture.width && height == texture.height) ||
                        (roundedSize && (BlockCompressed(format) || pixelBytes == imageSize));
  // Writers leave the mip count 0 as often as 1 for a single level.
  const uint32_t levels = MipLevels(LoadU32LE(head.data() + kMipCountOffset));
  const bool sameMips = levels == MipLevels(texture.mipCount);
  if (!sameFormat || !sameSize || !sameMips) {
    check.problem = "saved as " + (sameFormat ? formatName : DescribeFileFormat(head, format));
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
  return check;
}

void ReportDdsMismatch(const std::string& path, const DdsCheck& check) {
  Printf("\nERROR: %s: %s", path.c_str(), check.problem.c_str());
}

void ReverseGroupsOfFour(Bytes& bytes) {
  for (size_t i = 0; i + 4 <= bytes.size(); i += 4) std::reverse(bytes.begin() + ptrdiff_t(i), bytes.begin() + ptrdiff_t(i + 4));
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

bool ExportTextureImages(const TextureRecord& texture, bool mapsFormats, const ByteSource& data, size_t txmIndex,
                         size_t textureIndex, const std::string& unpackDirectory) {
  if (texture.nameTooLong) {
    Printf("\nERROR: %s: texture %zu of member %zu has a name longer than %zu bytes; its images are not written",
           unpackDirectory.c_str(), textureIndex, txmIndex, kLongestTextureName);
    return false;
  }
  const uint32_t code = TextureFormatCode(texture, mapsFormats);
  const uint32_t imageSize = ImageSize(texture);
  const DdsHeader header = MakeDdsHeader(texture, code);
  bool ok = true;
  Bytes pixels;
  for (uint32_t image = 0; image < texture.imageCount; ++image) {
    const std::string name = DdsFileName(texture, txmIndex, textureIndex, image);
    const std::string path = JoinPath(unpackDirectory, name);
    if (!IsContainedRelativePath(name)) {
      Printf("\nERROR: the image name %s would leave %s; not written", path.c_str(), unpackDirectory.c_str());
      ok = false;
      continue;
    }
    Printf("\n%s", path.c_str());
    // The sizes were checked against the data member when the records were read.
    if (!data.Read(texture.dataOffset + uint64_t(image) * imageSize, imageSize, pixels)) {
      Printf("\nERROR: can't read the pixels of %s", path.c_str());
      ok = false;
      continue;
    }
    if (code == kReversedFormatCode) ReverseGroupsOfFour(pixels);
    // An image of an earlier run that holds these bytes already stays as it is.
    ok = UpdateFileBelow(unpackDirectory, name, header.size() + pixels.size(),
                         [&](const std::function<bool(ByteSpan)>& put) { return put(header) && put(pixels); }) &&
         ok;
  }
  return ok;
}

SplitResult SplitTexturePair(const ByteSource& txm, const ByteSource& data, size_t txmIndex,
                             const std::string& unpackDirectory, const std::string& label) {
  TextureSet set;
  if (!ReadTextureRecords(txm, data.length, label, set)) return SplitResult::kRejected;
  bool ok = true;
  for (size_t t = 0; t < set.textures.size(); ++t) {
    if (set.textures[t].duplicate) continue;
    ok = ExportTextureImages(set.textures[t], set.mapsFormats, data, txmIndex, t, unpackDirectory) && ok;
  }
  return ok ? SplitResult::kDone : SplitResult::kFailed;
}

bool ImportTextureImages(const TextureRecord& texture, bool mapsFormats, ByteSink& archive, uint64_t dataStart,
                         size_t txmIndex, size_t textureIndex, const std::string& unpackDirectory) {
  if (texture.nameTooLong) return true;
  const uint32_t code = TextureFormatCode(texture, mapsFormats);
  const uint32_t imageSize = ImageSize(texture);
  Bytes pixels;
  bool ok = true;
  for (uint32_t image = 0; image < texture.imageCount; ++image) {
    const std::string name = DdsFileName(texture, txmIndex, textureIndex, image);
    const std::string path = JoinPath(unpackDirectory, name);
    if (!IsContainedRelativePath(name) || !FileExists(path)) continue;
    FileHandle file = OpenFile(path, "rb");
    uint64_t length = 0;
    if (!file || !FileLength(file.get(), length)) {
      Printf("\nERROR: can't read %s", path.c_str());
      return false;
    }
    if (length <= kDdsHeaderSize) continue;
    Bytes head;
    if (!ReadFileAt(file.get(), 0, size_t(std::min<uint64_t>(length, kDdsHeaderSize + kDdsDx10HeaderSize)), head)) {
      Printf("\nERROR: can't read %s", path.c_str());
      return false;
    }
    // Every image of the pair is checked, so that one run names them all.
    const DdsCheck check = CheckDdsFile(head, length, texture, code);
    if (!check.matches) {
      ReportDdsMismatch(path, check);
      ok = false;
      continue;
    }
    const size_t count = size_t(std::min<uint64_t>(imageSize, length - check.pixelStart));
    if (!ReadFileAt(file.get(), check.pixelStart, count, pixels)) {
      Printf("\nERROR: can't read %s", path.c_str());
      return false;
    }
    if (code == kReversedFormatCode) ReverseGroupsOfFour(pixels);
    if (!archive.Patch(dataStart + texture.dataOffset + uint64_t(image) * imageSize, pixels)) return false;
    Printf("\n+ %s", path.c_str());
  }
  return ok;
}

bool RebuildTexturePair(const ByteSource& txm, uint64_t dataLength, ByteSink& archive, uint64_t dataStart,
                        size_t txmIndex, const std::string& unpackDirectory, const std::string& label) {
  TextureSet set;
  if (!ReadTextureRecords(txm, dataLength, label, set)) return false;
  bool ok = true;
  for (size_t t = 0; t < set.textures.size(); ++t) {
    if (set.textures[t].duplicate) continue;
    ok = ImportTextureImages(set.textures[t], set.mapsFormats, archive, dataStart, txmIndex, t, unpackDirectory) && ok;
    if (archive.failed) return false;
  }
  return ok;
}

}  // namespace fpskit
