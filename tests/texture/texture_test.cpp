#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>

#include "support/archive_builder.h"
#include "support/builders.h"
#include "support/recording_reporter.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"
#include "texture/dds.h"
#include "texture/txm.h"
#include "tools/texture/dds_files.h"
#include "tools/texture/texture_report.h"

namespace fpskit {
namespace {

using support::BuildTxm;
using support::ReadTestFile;
using support::RecordingReporter;
using support::TempDir;
using support::TxmFormatBytes;
using support::TxmLayout;
using support::TxmTexture;

TxmTexture Texture(const std::string& name, uint32_t dataOffset, uint32_t imageCount = 1) {
  TxmTexture texture;
  texture.name = name;
  texture.dataOffset = dataOffset;
  texture.imageCount = imageCount;
  return texture;
}

bool Read(const TxmLayout& layout, uint64_t dataLength, TextureSet& set) {
  return ParseTextureRecords(BuildTxm(layout), dataLength, set).ok();
}

TEST(TextureRecords, SizesFollowTheDataOffsetsNotTheRecordOrder) {
  TxmLayout layout;
  layout.textures = {Texture("c", 0x300), Texture("a", 0x000), Texture("b", 0x100), Texture("again", 0x100)};
  TextureSet set;
  ASSERT_TRUE(Read(layout, 0x380, set));
  ASSERT_EQ(set.textures.size(), 4u);
  EXPECT_TRUE(set.mapsFormats);
  const uint32_t sizes[] = {0x80, 0x100, 0x200, 0};
  const bool duplicates[] = {false, false, false, true};
  for (size_t t = 0; t < 4; ++t) {
    EXPECT_EQ(set.textures[t].size, sizes[t]) << t;
    EXPECT_EQ(set.textures[t].duplicate, duplicates[t]) << t;
  }
  EXPECT_EQ(set.textures[3].name, "again");

  // A lone texture takes the rest of the data member from its offset, never more.
  TxmLayout lone;
  lone.textures = {Texture("only", 0x40)};
  ASSERT_TRUE(Read(lone, 0x100, set));
  EXPECT_EQ(set.textures[0].size, 0xC0u);

  // Version 10 has the short records; a count of 0 at offset 12 means image counts.
  TxmLayout images;
  images.version = 10;
  images.imageCounts = true;
  images.textures = {Texture("three", 0, 3), Texture("one", 0x31)};
  ASSERT_TRUE(Read(images, 0x40, set));
  EXPECT_FALSE(set.mapsFormats);
  EXPECT_EQ(set.textures[0].imageCount, 3u);
  EXPECT_EQ(ImageSize(set.textures[0]), 0x10u);  // 0x31 / 3: the remainder is not exported
  EXPECT_EQ(DdsFileName(set.textures[0], 5, 0, 2), "three_5_0_2.dds");
  EXPECT_EQ(DdsFileName(set.textures[1], 5, 1, 0), "one_5_1.dds");
}

TEST(TextureRecords, DamagedRecordsAreReported) {
  TxmLayout good;
  good.textures = {Texture("a", 0), Texture("b", 0x20)};
  const Bytes bytes = BuildTxm(good);
  TextureSet set;
  struct Case {
    const char* what;
    Bytes txm;
    uint64_t dataLength;
    TextureError error;
    std::string message;
  };
  Bytes manyRecords = bytes;
  StoreU32BE(manyRecords.data() + 12, 1000);
  Bytes nameOutside = bytes;
  StoreU32BE(nameOutside.data() + 16 + 68 + 16, 0x10000);  // first record's name offset
  Bytes unterminated = bytes;
  while (!unterminated.empty() && unterminated.back() == 0) unterminated.pop_back();
  TxmLayout zeroImages;
  zeroImages.imageCounts = true;
  zeroImages.textures = {Texture("z", 0, 0)};
  TxmLayout tooManyImages;
  tooManyImages.imageCounts = true;
  tooManyImages.textures = {Texture("m", 0, 9)};
  const Case cases[] = {
      {"short header", Bytes(bytes.begin(), bytes.begin() + 40), 0x40, TextureError::kTruncatedHeader,
       "truncated TXM header"},
      {"records beyond the member", manyRecords, 0x40, TextureError::kRecordsDoNotFit, "of 1000 textures do not fit"},
      {"name outside", nameOutside, 0x40, TextureError::kBrokenName, "name of texture 0"},
      {"name without zero", unterminated, 0x40, TextureError::kBrokenName, "name of texture 1"},
      {"data beyond its member", bytes, 0x10, TextureError::kDataBeyondMember,
       "texture 1 starts at 0x20, beyond its data member of 0x10 bytes"},
      {"image count 0", BuildTxm(zeroImages), 0x40, TextureError::kBadImageCount, "has 0 images"},
      {"more images than bytes", BuildTxm(tooManyImages), 8, TextureError::kBadImageCount, "has 9 images in 0x8 bytes"},
  };
  for (const Case& test : cases) {
    const TextureFailure failure = ParseTextureRecords(test.txm, test.dataLength, set);
    EXPECT_FALSE(failure.ok()) << test.what;
    EXPECT_EQ(failure.error, test.error) << test.what;
    // The tools word it with what the failure carries.
    RecordingReporter recorder;
    ReportTextureFailure("t.TXM", failure);
    const std::string console = recorder.output();
    EXPECT_EQ(console.rfind("\nERROR: t.TXM: ", 0), 0u) << test.what;
    EXPECT_NE(console.find(test.message), std::string::npos) << test.what << ": " << console;
  }
}

TEST(TextureFormats, CodesAndDdsHeadersForEveryFormat) {
  struct Case {
    std::array<uint8_t, 4> format;
    bool maps;
    uint32_t code;
  };
  const Case codes[] = {{{0x06, 0, 0, 0}, false, 6}, {{0x16, 0, 0, 0}, false, 6}, {{0x0A, 0, 0, 0x0B}, true, 6},
                        {{0x0A, 0, 0, 0x07}, true, 0}, {{0x08, 0, 0, 0x0F}, true, 3}, {{0x08, 0, 0, 0x06}, true, 5},
                        {{0x1A, 0, 0, 0x24}, true, 8}, {{0x0A, 0, 0, 0x02}, true, 6}, {{0x0F, 0, 0, 0}, false, 15}};
  for (const Case& test : codes) {
    TextureRecord texture;
    texture.format = test.format;
    EXPECT_EQ(TextureFormatCode(texture, test.maps), test.code) << int(test.format[0]) << " " << int(test.format[3]);
  }

  // A 30 x 257 texture: only DXTn raise the size to whole 4 x 4 blocks (32 x
  // 260); rows (uncompressed) or the first level (DXTn) in bytes where known.
  struct Header {
    uint32_t code;
    uint32_t sizeFlag, pitch, width, height;
    uint32_t pixelFlags, fourCC, bitCount, red, green, blue, alpha;
  };
  const Header headers[] = {
      {1, 0, 0, 30, 0x101, 0x20, 0, 0, 0, 0, 0, 0},
      {3, 0x8, 60, 30, 0x101, 0x41, 0, 16, 0x0F00, 0x00F0, 0x000F, 0xF000},
      {5, 0x8, 120, 30, 0x101, 0x41, 0, 32, 0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000},
      {6, 0x80000, 8 * 65 * 8, 32, 0x104, 0x4, 0x31545844, 0, 0, 0, 0, 0},
      {7, 0x80000, 8 * 65 * 16, 32, 0x104, 0x4, 0x33545844, 0, 0, 0, 0, 0},
      {8, 0x80000, 8 * 65 * 16, 32, 0x104, 0x4, 0x35545844, 0, 0, 0, 0, 0},
      {15, 0x8, 240, 30, 0x101, 0x4, 113, 0, 0, 0, 0, 0},
      {0, 0, 0, 30, 0x101, 0, 0, 0, 0, 0, 0, 0},  // no row: an empty pixel format, the pixels still at 128
      {9, 0, 0, 30, 0x101, 0, 0, 0, 0, 0, 0, 0},
  };
  for (const Header& test : headers) {
    for (const uint8_t mips : {1, 5}) {
      TextureRecord texture;
      texture.width = 30;
      texture.height = 0x101;
      texture.mipCount = mips;
      const DdsHeader header = MakeDdsHeader(texture, test.code);
      auto at = [&](size_t offset) { return LoadU32LE(header.data() + offset); };
      EXPECT_EQ(std::string(header.begin(), header.begin() + 4), "DDS ");
      EXPECT_EQ(at(4), 124u);
      EXPECT_EQ(at(8), (mips > 1 ? 0x21007u : 0x1007u) | test.sizeFlag) << test.code;
      EXPECT_EQ(at(12), test.height) << test.code;
      EXPECT_EQ(at(16), test.width) << test.code;
      EXPECT_EQ(at(20), test.pitch) << test.code;
      EXPECT_EQ(at(28), mips);
      EXPECT_EQ(at(76), 32u);
      const uint32_t expected[] = {test.pixelFlags, test.fourCC, test.bitCount, test.red, test.green, test.blue, test.alpha};
      for (size_t f = 0; f < 7; ++f) EXPECT_EQ(at(80 + 4 * f), expected[f]) << test.code << " field " << f;
      EXPECT_EQ(at(108), mips > 1 ? 0x401008u : 0x1000u) << test.code;
    }
  }

  Bytes pixels = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  ReverseGroupsOfFour(pixels);
  EXPECT_EQ(pixels, (Bytes{4, 3, 2, 1, 8, 7, 6, 5, 9, 10}));
  // Only A8R8G8B8 (code 5) keeps its pixels in the other order in its file.
  SwapDdsPixelOrder(6, pixels);
  EXPECT_EQ(pixels, (Bytes{4, 3, 2, 1, 8, 7, 6, 5, 9, 10}));
  SwapDdsPixelOrder(5, pixels);
  EXPECT_EQ(pixels, (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
}

// An edited file goes back only when its header still describes the
// texture: what an editor changed is named, as a translator would say it.
TEST(TextureImport, DdsFilesMustDescribeTheirTexture) {
  TextureRecord sign;  // DXT1 256 x 256 with 9 mipmaps: a chain of 43704 bytes, padded in its member
  sign.width = 256;
  sign.height = 256;
  sign.mipCount = 9;
  sign.size = 45056;
  TextureRecord banner;  // A8R8G8B8 100 x 30, one level
  banner.width = 100;
  banner.height = 30;
  banner.mipCount = 1;
  banner.size = 12000;
  auto header = [](const TextureRecord& texture, uint32_t code, const std::function<void(uint8_t*)>& edit = {}) {
    DdsHeader bytes = MakeDdsHeader(texture, code);
    if (edit) edit(bytes.data());
    return Bytes(bytes.begin(), bytes.end());
  };
  auto dx10 = [&](uint32_t format, uint32_t arraySize) {
    Bytes bytes = header(sign, 6, [](uint8_t* h) { std::memcpy(h + 84, "DX10", 4); });
    for (const uint32_t field : {format, 3u, 0u, arraySize, 0u}) AppendU32LE(bytes, field);
    return bytes;
  };
  TextureRecord flat = sign;
  flat.mipCount = 1;
  struct Case {
    const char* what;
    const TextureRecord& texture;
    uint32_t code;
    Bytes head;
    uint64_t pixels;
    std::string problem;  // empty: accepted
    size_t pixelStart = 128;
  };
  const std::string sign9 = "; the texture is DXT1 256x256 with 9 mipmaps";
  const Case cases[] = {
      {"as exported", sign, 6, header(sign, 6), 45056, ""},
      {"the chain without the member's padding", sign, 6, header(sign, 6), 43704, ""},
      {"pixels cut short", sign, 6, header(sign, 6), 1000, "holds 1000 bytes of pixels" + sign9 + " in 43704 bytes"},
      {"32-bit without mipmaps", sign, 6, header(flat, 5), 262144, "saved as 32-bit RGBA without mipmaps" + sign9},
      {"DXT5", sign, 6, header(sign, 8), 45056, "saved as DXT5" + sign9},
      {"half the width", sign, 6, header(sign, 6, [](uint8_t* h) { StoreU32LE(h + 16, 128); }), 45056,
       "saved as DXT1 128x256" + sign9},
      {"DX10 of the same format", sign, 6, dx10(71, 1), 45056, "", 148},
      {"DX10 of another format", sign, 6, dx10(77, 1), 45056, "saved as DX10 format 77" + sign9, 148},
      {"DX10 array", sign, 6, dx10(71, 6), 45056, "saved as DX10 format 71 in an array of 6" + sign9, 148},
      {"DX10 header cut short", sign, 6, [&] {
         Bytes cut = dx10(71, 1);
         cut.resize(140);
         return cut;
       }(), 0,
       "saved as DX10 with its extended header cut short" + sign9, 148},
      {"not a DDS file", sign, 6, Bytes(128, 0x89), 45056, "not a DDS file"},
      {"header cut short", sign, 6, [&] {
         Bytes cut = header(sign, 6);
         cut.resize(100);
         return cut;
       }(), 0, "not a DDS file"},
      {"uncompressed, mip count 0", banner, 5, header(banner, 5, [](uint8_t* h) { h[28] = 0; }), 12000, ""},
      {"earlier versions' rounded height", banner, 5, header(banner, 5, [](uint8_t* h) { StoreU32LE(h + 12, 32); }),
       12000, ""},
      {"an editor's rounded height", banner, 5, header(banner, 5, [](uint8_t* h) { StoreU32LE(h + 12, 32); }), 12800,
       "saved as A8R8G8B8 100x32; the texture is A8R8G8B8 100x30 without mipmaps"},
      {"channels in another order", banner, 5, header(banner, 5, [](uint8_t* h) { StoreU32LE(h + 92, 0xFF); }),
       12000, "saved as 32-bit RGBA in another channel order; the texture is A8R8G8B8"},
  };
  for (const Case& test : cases) {
    const DdsCheck check = CheckDdsFile(test.head, test.pixelStart + test.pixels, test.texture, test.code);
    EXPECT_EQ(check.matches, test.problem.empty()) << test.what << ": " << check.problem;
    EXPECT_EQ(check.problem.substr(0, test.problem.size()), test.problem) << test.what;
    EXPECT_EQ(check.pixelStart, test.pixelStart) << test.what;
    // What goes back: the file's pixels, at most the image's bytes.
    EXPECT_EQ(check.pixelCount, check.matches ? std::min<uint64_t>(ImageSize(test.texture), test.pixels) : 0)
        << test.what;
  }
}

// Every image of a texture at its own offset, A8R8G8B8 groups reversed;
// names that would leave the unpack directory or are too long for a file
// are reported and not written, and the other textures still are.
TEST(TextureExport, SplitWritesEveryImageAndRefusesBadNames) {
  TxmLayout layout;
  layout.imageCounts = true;
  TxmTexture argb = Texture("argb", 0, 3);
  argb.format = TxmFormatBytes(5, 4);
  const std::string longName(300, 'n');
  layout.textures = {argb, Texture("../up", 0x30), Texture(longName, 0x40), Texture(longName, 0x48),
                     Texture("dxt", 0x50)};
  const Bytes pixels = support::RandomBytes(0x60, 11);
  TempDir dir;
  std::filesystem::create_directory(dir / "out");
  RecordingReporter recorder;
  const bool ok = SplitTexturePair(ByteSource::InMemory(BuildTxm(layout)), ByteSource::InMemory(pixels), 1,
                                   dir / "out", "t.TXM");
  const std::string console = recorder.output();
  EXPECT_FALSE(ok);
  EXPECT_NE(console.find("/out/../up_1_1.dds would leave"), std::string::npos) << console;
  for (const char* texture : {"texture 2 of member 1", "texture 3 of member 1"}) {
    EXPECT_NE(console.find(std::string(texture) + " has a name longer than 255 bytes"), std::string::npos) << console;
  }
  EXPECT_EQ(support::ListTree(dir.path()), (std::vector<std::string>{"out/", "out/argb_1_0_0.dds", "out/argb_1_0_1.dds",
                                                                     "out/argb_1_0_2.dds", "out/dxt_1_4.dds"}));
  for (size_t image = 0; image < 3; ++image) {
    Bytes expected(pixels.begin() + 16 * image, pixels.begin() + 16 * image + 16);
    ReverseGroupsOfFour(expected);
    const Bytes file = ReadTestFile(dir / ("out/argb_1_0_" + std::to_string(image) + ".dds"));
    EXPECT_EQ(Bytes(file.begin() + std::min<size_t>(128, file.size()), file.end()), expected) << image;
  }
  const Bytes dxt = ReadTestFile(dir / "out/dxt_1_4.dds");
  EXPECT_EQ(Bytes(dxt.begin() + std::min<size_t>(128, dxt.size()), dxt.end()), Bytes(pixels.begin() + 0x50, pixels.end()));
}

// Image editors read what "unfps" exports: ImageMagick's identify sees the
// size and the compression of every common format.
TEST(TextureExport, ImageMagickReadsTheExportedImages) {
#ifdef _WIN32
  GTEST_SKIP() << "runs the host's ImageMagick through a POSIX shell; the Linux build checks it";
#endif
  if (std::system("command -v identify >/dev/null 2>&1") != 0) {
    // The test setup installs it: in CI a missing reader is a failure.
    if (std::getenv("CI") != nullptr) FAIL() << "identify is not installed";
    GTEST_SKIP() << "identify is not installed";
  }
  struct Case {
    uint32_t code;
    uint16_t width, height;
    uint32_t bytes;
    std::string compression;
  };
  // An uncompressed image keeps a size that is no multiple of 4.
  const Case cases[] = {{6, 8, 8, 32, "DXT1"}, {7, 8, 8, 64, "DXT3"}, {8, 8, 8, 64, "DXT5"}, {5, 8, 8, 256, "None"},
                        {5, 100, 30, 12000, "None"}};
  TempDir dir;
  for (const Case& test : cases) {
    TextureRecord texture;
    texture.width = test.width;
    texture.height = test.height;
    texture.mipCount = 1;
    texture.name = "img" + std::to_string(test.code) + "_" + std::to_string(test.width);
    texture.size = test.bytes;
    texture.format = TxmFormatBytes(test.code, 10);
    const Bytes pixels = support::RandomBytes(test.bytes, test.code);
    RecordingReporter recorder;
    ASSERT_TRUE(ExportTextureImages(texture, false, ByteSource::InMemory(pixels), 0, 0, dir.path()));
    const std::string path = dir / (texture.name + "_0_0.dds");
    const support::ToolRun run = support::RunTool("identify", {"-format", "%w %h %C", path});
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(run.output, std::to_string(test.width) + " " + std::to_string(test.height) + " " + test.compression)
        << test.code;
  }
}

}  // namespace
}  // namespace fpskit
