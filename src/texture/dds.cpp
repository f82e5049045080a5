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
constexpr size_t kMipCountOffset = 28;
constexpr size_t kPixelFormatOffset = 76;  // size, flags, FourCC, bit count, four masks
constexpr size_t kCapsOffset = 108;

struct PixelFormat {
  uint32_t code;
  uint32_t flags;
  uint32_t fourCC;
  uint32_t bitCount;
  uint32_t masks[4];  // red, green, blue, alpha
};

constexpr uint32_t FourCC(const char (&text)[5]) {
  return uint32_t(uint8_t(text[0])) | uint32_t(uint8_t(text[1])) << 8 | uint32_t(uint8_t(text[2])) << 16 |
         uint32_t(uint8_t(text[3])) << 24;
}

constexpr PixelFormat kPixelFormats[] = {
    {1, 0x20, 0, 0, {0, 0, 0, 0}},
    {3, 0x41, 0, 16, {0x0F00, 0x00F0, 0x000F, 0xF000}},                      // A4R4G4B4
    {5, 0x41, 0, 32, {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000}},      // A8R8G8B8
    {6, 0, FourCC("DXT1"), 0, {0, 0, 0, 0}},
    {7, 0, FourCC("DXT3"), 0, {0, 0, 0, 0}},
    {8, 0, FourCC("DXT5"), 0, {0, 0, 0, 0}},
    {15, 0, 113, 0, {0, 0, 0, 0}},  // 64-bit floating-point RGBA, by its format number
};

constexpr uint32_t kReversedFormatCode = 5;

uint32_t RoundUpToFour(uint32_t value) { return (value + 3) & ~uint32_t(3); }

}  // namespace

DdsHeader MakeDdsHeader(const TextureRecord& texture, uint32_t formatCode) {
  DdsHeader header{};
  std::memcpy(header.data(), "DDS ", 4);
  StoreU32LE(header.data() + 4, kDdsHeaderFieldSize);
  const bool mipmaps = texture.mipCount > 1;
  StoreU32LE(header.data() + kFlagsOffset, kDdsFlagsRequired | (mipmaps ? kDdsFlagMipmapCount : 0));
  StoreU32LE(header.data() + kHeightOffset, RoundUpToFour(texture.height));
  StoreU32LE(header.data() + kWidthOffset, RoundUpToFour(texture.width));
  header[kMipCountOffset] = texture.mipCount;
  StoreU32LE(header.data() + kPixelFormatOffset, kDdsPixelFormatSize);
  // A code without a row keeps an empty pixel format: no FourCC, bit count 0.
  for (const PixelFormat& format : kPixelFormats) {
    if (format.code != formatCode) continue;
    StoreU32LE(header.data() + kPixelFormatOffset + 4, format.flags | (format.fourCC ? kDdsPixelFourCC : 0));
    StoreU32LE(header.data() + kPixelFormatOffset + 8, format.fourCC);
    StoreU32LE(header.data() + kPixelFormatOffset + 12, format.bitCount);
    for (size_t m = 0; m < 4; ++m) StoreU32LE(header.data() + kPixelFormatOffset + 16 + 4 * m, format.masks[m]);
  }
  StoreU32LE(header.data() + kCapsOffset, kDdsCapsTexture | (mipmaps ? kDdsCapsMipmaps : 0));
  return header;
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
    const size_t count = size_t(std::min<uint64_t>(imageSize, length - kDdsHeaderSize));
    if (!ReadFileAt(file.get(), kDdsHeaderSize, count, pixels)) {
      Printf("\nERROR: can't read %s", path.c_str());
      return false;
    }
    if (code == kReversedFormatCode) ReverseGroupsOfFour(pixels);
    if (!archive.Patch(dataStart + texture.dataOffset + uint64_t(image) * imageSize, pixels)) return false;
    Printf("\n+ %s", path.c_str());
  }
  return true;
}

bool RebuildTexturePair(const ByteSource& txm, uint64_t dataLength, ByteSink& archive, uint64_t dataStart,
                        size_t txmIndex, const std::string& unpackDirectory, const std::string& label) {
  TextureSet set;
  if (!ReadTextureRecords(txm, dataLength, label, set)) return false;
  for (size_t t = 0; t < set.textures.size(); ++t) {
    if (set.textures[t].duplicate) continue;
    if (!ImportTextureImages(set.textures[t], set.mapsFormats, archive, dataStart, txmIndex, t, unpackDirectory)) {
      return false;
    }
  }
  return true;
}

}  // namespace fpskit
