// TXM records and DDS export on arbitrary bytes. The input is a TXM member,
// optionally followed by kDataMark and its texture data member. Every
// texture the records accept lies inside the data member; exported into a
// directory of its own, each image's DDS file is its standard header
// followed by the image's pixel bytes, and nothing is written outside the
// directory.
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
#include "util/files.h"
#include "util/paths.h"

namespace {

namespace fs = std::filesystem;
constexpr std::string_view kDataMark = "==DATA==";
constexpr uint32_t kReversedFormatCode = 5;

// True when another image's path is a directory on this one's way, or this
// one a directory on another's: one of the two cannot be written.
bool PathsCollide(const std::string& name, const std::map<std::string, fpskit::Bytes>& files) {
  for (const auto& entry : files) {
    const std::string& other = entry.first;
    if (other.size() > name.size() && other.compare(0, name.size() + 1, name + "/") == 0) return true;
    if (name.size() > other.size() && name.compare(0, other.size() + 1, other + "/") == 0) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace fpskit;
  const ByteSpan input(data, size);
  const auto mark = std::search(input.begin(), input.end(), kDataMark.begin(), kDataMark.end());
  const ByteSpan txm = input.first(size_t(mark - input.begin()));
  const ByteSpan pixels = mark == input.end() ? ByteSpan() : input.subspan(txm.size() + kDataMark.size());

  TextureSet set;
  if (!ReadTextureRecords(txm, pixels.size(), "fuzz", set)) return 0;
  // Each image's file, by name; a name given twice is not checked.
  std::map<std::string, Bytes> expected;
  std::map<std::string, int> uses;
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
      const size_t start = texture.dataOffset + size_t(image) * ImageSize(texture);
      Bytes file(header.begin(), header.end());
      Bytes imagePixels(pixels.begin() + ptrdiff_t(start), pixels.begin() + ptrdiff_t(start + ImageSize(texture)));
      if (code == kReversedFormatCode) ReverseGroupsOfFour(imagePixels);
      AppendBytes(file, imagePixels);
      const std::string key = fs::path(name).lexically_normal().generic_string();
      expected[key] = std::move(file);
      ++uses[key];
    }
  }

  static const support::TempDir root;
  const std::string directory = root / "pair";
  std::error_code ignored;
  fs::remove_all(directory, ignored);
  fs::create_directories(directory);
  SplitTexturePair(ByteSource::InMemory(txm), ByteSource::InMemory(pixels), 7, directory, "fuzz");
  for (auto it = fs::recursive_directory_iterator(root.path()); it != fs::recursive_directory_iterator(); ++it) {
    const std::string relative = fs::relative(it->path(), root.path()).generic_string();
    FUZZ_CHECK(relative == "pair" || relative.rfind("pair/", 0) == 0);
  }
  for (const auto& [name, file] : expected) {
    if (uses[name] != 1 || PathsCollide(name, expected)) continue;
    Bytes written;
    FUZZ_CHECK(ReadWholeFile(directory + "/" + name, written) && written == file);
  }
  return 0;
}
