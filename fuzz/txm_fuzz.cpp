// TXM records, DDS export and DDS import on arbitrary bytes. The input is a
// TXM member, optionally followed by kDataMark and its texture data member,
// and optionally by kImageMark and the bytes of an edited DDS file. Every
// texture the records accept lies inside the data member; exported into a
// directory of its own, each image's DDS file is its standard header
// followed by the image's pixel bytes (or the export reports it), and nothing
// is written outside the directory; imported back into a copy of the data member, the unchanged
// files give the data member byte for byte, and an edited first image
// changes exactly that image's bytes when its header still describes the
// texture, and stops the import when it does not.
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "support/temp_dir.h"
#include "texture/dds.h"
#include "texture/txm.h"
#include "tools/texture/dds_files.h"
#include "util/byte_source.h"
#include "util/files.h"
#include "util/paths.h"

namespace {

using namespace fpskit;
namespace fs = std::filesystem;

constexpr std::string_view kDataMark = "==DATA==";
constexpr std::string_view kImageMark = "==DDS==";
constexpr uint32_t kReversedFormatCode = 5;

// Splits off the part after `mark`; `input` keeps what stands before it.
ByteSpan SplitAt(ByteSpan& input, std::string_view mark) {
  const auto at = std::search(input.begin(), input.end(), mark.begin(), mark.end());
  if (at == input.end()) return {};
  const ByteSpan after = input.subspan(size_t(at - input.begin()) + mark.size());
  input = input.first(size_t(at - input.begin()));
  return after;
}

struct ImageFile {
  Bytes contents;     // the DDS file export writes
  uint64_t start = 0;  // the image's pixels in the data member
  uint32_t size = 0;
  bool reversed = false;
  int uses = 0;  // images whose file has this name
  TextureRecord texture;
  uint32_t code = 0;
};

// True when another image's path is a directory on this one's way, or this
// one a directory on another's: one of the two cannot be written.
bool PathsCollide(const std::string& name, const std::map<std::string, ImageFile>& files) {
  for (const auto& entry : files) {
    const std::string& other = entry.first;
    if (other.size() > name.size() && other.compare(0, name.size() + 1, name + "/") == 0) return true;
    if (name.size() > other.size() && name.compare(0, other.size() + 1, other + "/") == 0) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteSpan txm(data, size);
  ByteSpan pixels = SplitAt(txm, kDataMark);
  const ByteSpan edited = SplitAt(pixels, kImageMark);

  TextureSet set;
  if (!ParseTextureRecords(txm, pixels.size(), set).ok()) return 0;
  std::map<std::string, ImageFile> expected;
  std::string firstImage;
  for (size_t t = 0; t < set.textures.size(); ++t) {
    const TextureRecord& texture = set.textures[t];
    if (texture.duplicate) continue;
    FUZZ_CHECK(texture.imageCount > 0 && uint64_t(texture.dataOffset) + texture.size <= pixels.size());
    const uint32_t code = TextureFormatCode(texture, set.mapsFormats);
    const DdsHeader header = MakeDdsHeader(texture, code);
    FUZZ_CHECK(std::equal(header.begin(), header.begin() + 4, "DDS ") && LoadU32LE(header.data() + 4) == 124);
    for (uint32_t image = 0; image < texture.imageCount; ++image) {
      const std::string name = DdsFileName(texture, 7, t, image);
      if (!IsContainedRelativePath(name)) continue;
      ImageFile& file = expected[fs::path(name).lexically_normal().generic_string()];
      file.start = texture.dataOffset + uint64_t(image) * ImageSize(texture);
      file.size = ImageSize(texture);
      file.reversed = code == kReversedFormatCode;
      file.texture = texture;
      file.code = code;
      Bytes imagePixels(pixels.begin() + ptrdiff_t(file.start), pixels.begin() + ptrdiff_t(file.start + file.size));
      if (file.reversed) ReverseGroupsOfFour(imagePixels);
      file.contents.assign(header.begin(), header.end());
      AppendBytes(file.contents, imagePixels);
      ++file.uses;
      if (firstImage.empty()) firstImage = fs::path(name).lexically_normal().generic_string();
    }
  }
  bool clash = false;  // two images share a file or a file stands where a directory must
  for (const auto& [name, file] : expected) clash = clash || file.uses != 1 || PathsCollide(name, expected);

  static const support::TempDir root;
  const std::string directory = root / "pair";
  std::error_code ignored;
  fs::remove_all(directory, ignored);
  fs::create_directories(directory);
  const bool exported =
      SplitTexturePair(ByteSource::InMemory(txm), ByteSource::InMemory(pixels), 7, directory, "fuzz");
  for (auto it = fs::recursive_directory_iterator(root.path()); it != fs::recursive_directory_iterator(); ++it) {
    const std::string relative = fs::relative(it->path(), root.path()).generic_string();
    FUZZ_CHECK(relative == "pair" || relative.rfind("pair/", 0) == 0);
  }
  if (clash) return 0;
  // Each image is written whole, or the export reports that it could not
  // be (a name the file system refuses).
  for (const auto& [name, file] : expected) {
    Bytes written;
    if (ReadWholeFile(directory + "/" + name, written)) {
      FUZZ_CHECK(written == file.contents);
    } else {
      FUZZ_CHECK(!exported);
    }
  }
  if (!exported) return 0;

  // The images imported back into a copy of the data member, the first one
  // edited when the input holds an edit.
  Bytes want(pixels.begin(), pixels.end());
  bool refused = false;
  if (!firstImage.empty() && !edited.empty()) {
    FUZZ_CHECK(support::WriteTestFile(directory + "/" + firstImage, edited));
    const ImageFile& file = expected[firstImage];
    const DdsCheck check = CheckDdsFile(edited.first(std::min<size_t>(edited.size(), kDdsHeaderSize + kDdsDx10HeaderSize)),
                                        edited.size(), file.texture, file.code);
    refused = edited.size() > kDdsHeaderSize && !check.matches;
    if (edited.size() > kDdsHeaderSize && check.matches) {
      const size_t start = check.pixelStart;
      Bytes imported(edited.begin() + ptrdiff_t(start),
                     edited.begin() + ptrdiff_t(start + std::min<size_t>(file.size, edited.size() - start)));
      if (file.reversed) ReverseGroupsOfFour(imported);
      std::copy(imported.begin(), imported.end(), want.begin() + ptrdiff_t(file.start));
    }
  }
  Bytes copy;
  ByteSink sink = ByteSink::InMemory(copy);
  FUZZ_CHECK(sink.Write(pixels));
  const bool rebuilt = RebuildTexturePair(ByteSource::InMemory(txm), pixels.size(), sink, 0, 7, directory, "fuzz");
  FUZZ_CHECK(rebuilt == !refused);
  if (rebuilt) FUZZ_CHECK(copy == want);
  return 0;
}
