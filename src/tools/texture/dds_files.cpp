#include "tools/texture/dds_files.h"

#include <algorithm>
#include <functional>

#include "texture/dds.h"
#include "tools/texture/texture_report.h"
#include "util/console.h"
#include "util/files.h"
#include "util/paths.h"

namespace fpskit {
namespace {

// The records of a texture pair's TXM member; false, reported under
// `label`, when they cannot be read.
bool ParseTextureRecordsReporting(const ByteSource& txm, uint64_t dataLength, const std::string& label,
                                  TextureSet& set) {
  const TextureFailure failure = ParseTextureRecords(txm, dataLength, set);
  if (!failure.ok()) ReportTextureFailure(label, failure);
  return failure.ok();
}

}  // namespace

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
    // The sizes were checked against the data member when the records were
    // parsed; a file's read can still fail.
    if (!data.Read(texture.dataOffset + uint64_t(image) * imageSize, imageSize, pixels)) {
      Printf("\nERROR: can't read the pixels of %s", path.c_str());
      ok = false;
      continue;
    }
    SwapDdsPixelOrder(code, pixels);
    // An image of an earlier run that holds these bytes already stays as it is.
    ok = UpdateFileBelow(unpackDirectory, name, header.size() + pixels.size(),
                         [&](const std::function<bool(ByteSpan)>& put) { return put(header) && put(pixels); }) &&
         ok;
  }
  return ok;
}

bool SplitTexturePair(const ByteSource& txm, const ByteSource& data, size_t txmIndex,
                      const std::string& unpackDirectory, const std::string& label) {
  TextureSet set;
  if (!ParseTextureRecordsReporting(txm, data.length, label, set)) return false;
  bool ok = true;
  for (size_t t = 0; t < set.textures.size(); ++t) {
    if (set.textures[t].duplicate) continue;
    ok = ExportTextureImages(set.textures[t], set.mapsFormats, data, txmIndex, t, unpackDirectory) && ok;
  }
  return ok;
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
    if (!ReadFileAt(file.get(), check.pixelStart, size_t(check.pixelCount), pixels)) {
      Printf("\nERROR: can't read %s", path.c_str());
      return false;
    }
    SwapDdsPixelOrder(code, pixels);
    if (!archive.Patch(dataStart + texture.dataOffset + uint64_t(image) * imageSize, pixels)) return false;
    Printf("\n+ %s", path.c_str());
  }
  return ok;
}

bool RebuildTexturePair(const ByteSource& txm, uint64_t dataLength, ByteSink& archive, uint64_t dataStart,
                        size_t txmIndex, const std::string& unpackDirectory, const std::string& label) {
  TextureSet set;
  if (!ParseTextureRecordsReporting(txm, dataLength, label, set)) return false;
  bool ok = true;
  for (size_t t = 0; t < set.textures.size(); ++t) {
    if (set.textures[t].duplicate) continue;
    ok = ImportTextureImages(set.textures[t], set.mapsFormats, archive, dataStart, txmIndex, t, unpackDirectory) && ok;
    if (archive.failed) return false;
  }
  return ok;
}

}  // namespace fpskit
