#include "texture/txm.h"

#include <algorithm>
#include <unordered_map>

namespace fpskit {

namespace {

// Records are read this many at a time.
constexpr size_t kRecordsPerRead = 1024;

enum class NameStatus { kRead, kTooLong, kBroken };

// The zero-terminated name at `position`, read no further than a name a file
// can carry.
NameStatus ReadTextureName(const ByteSource& txm, uint64_t position, std::string& name) {
  name.clear();
  if (position >= txm.length) return NameStatus::kBroken;
  const uint64_t count = std::min<uint64_t>(kLongestTextureName + 1, txm.length - position);
  Bytes bytes;
  if (!txm.Read(position, count, bytes)) return NameStatus::kBroken;
  const auto zero = std::find(bytes.begin(), bytes.end(), uint8_t(0));
  if (zero != bytes.end()) {
    name.assign(bytes.begin(), zero);
    return NameStatus::kRead;
  }
  return count > kLongestTextureName ? NameStatus::kTooLong : NameStatus::kBroken;
}

}  // namespace

TextureFailure ParseTextureRecords(const ByteSource& txm, uint64_t dataLength, TextureSet& set) {
  set = TextureSet();
  Bytes bytes;
  if (!txm.Read(0, kTxmHeaderSize, bytes)) return {.error = TextureError::kTruncatedHeader};
  // Magic and length (0 and 4) were tested by the archive's content test.
  ByteReader header(bytes, 8);
  const uint32_t version = header.U32BE();
  uint32_t count = header.U32BE();
  const bool shortForm = IsShortTxmVersion(version);
  const size_t extraSize = shortForm ? kTxmShortExtraSize : kTxmLongExtraSize;
  if (!txm.Read(kTxmHeaderSize, extraSize, bytes)) return {.error = TextureError::kTruncatedHeader};
  const bool withImageCounts = count == 0;
  if (count == 0) count = ByteReader(bytes, kTxmAlternateCountOffset - kTxmHeaderSize).U32BE();
  set.mapsFormats = !shortForm;

  const size_t tail = shortForm ? kTxmShortTailSize : kTxmLongTailSize;
  const size_t recordSize = 24 + tail + (withImageCounts ? 4 : 0);
  const uint64_t recordsStart = kTxmHeaderSize + extraSize;
  if (uint64_t(count) * recordSize > txm.length - recordsStart) {
    return {.error = TextureError::kRecordsDoNotFit, .textureCount = count};
  }
  set.textures.resize(count);
  // Records that point at one name share it: it is read once.
  std::unordered_map<uint64_t, uint32_t> firstWithName;
  for (uint32_t first = 0; first < count; first += kRecordsPerRead) {
    const uint32_t batch = std::min<uint32_t>(kRecordsPerRead, count - first);
    const uint64_t batchStart = recordsStart + uint64_t(first) * recordSize;
    if (!txm.Read(batchStart, uint64_t(batch) * recordSize, bytes)) return {.error = TextureError::kUnreadableRecords};
    // `bytes` holds exactly `batch` records of `recordSize` bytes, so every
    // field below lies inside it.
    ByteReader reader(bytes);
    for (uint32_t t = first; t < first + batch; ++t) {
      TextureRecord& texture = set.textures[t];
      texture.width = uint16_t(reader.U32BE());
      texture.height = uint16_t(reader.U32BE());
      texture.imageCount = withImageCounts ? reader.U32BE() : 1;
      texture.mipCount = uint8_t(reader.U32BE());
      const ByteSpan format = reader.Span(4);
      std::copy(format.begin(), format.end(), texture.format.begin());
      const uint64_t nameField = batchStart + reader.position();
      const uint64_t namePosition = nameField + reader.U32BE();
      texture.dataOffset = reader.U32BE();
      reader.Skip(tail);
      const auto shared = firstWithName.find(namePosition);
      if (shared != firstWithName.end()) {
        texture.name = set.textures[shared->second].name;
        texture.nameTooLong = set.textures[shared->second].nameTooLong;
      } else {
        const NameStatus status = ReadTextureName(txm, namePosition, texture.name);
        if (status == NameStatus::kBroken) {
          return {.error = TextureError::kBrokenName, .texture = t};
        }
        texture.nameTooLong = status == NameStatus::kTooLong;
        firstWithName.emplace(namePosition, t);
      }
      if (texture.dataOffset > dataLength) {
        return {.error = TextureError::kDataBeyondMember, .texture = t, .dataOffset = texture.dataOffset,
                .dataLength = dataLength};
      }
    }
  }

  // In data-offset order (TXM order among equal offsets), every texture but
  // the first of an offset is a duplicate: it shares the data of an earlier
  // one, gets no size and is never exported.
  std::vector<size_t> order(set.textures.size());
  for (size_t t = 0; t < order.size(); ++t) order[t] = t;
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    return set.textures[a].dataOffset < set.textures[b].dataOffset;
  });
  for (size_t k = 1; k < order.size(); ++k) {
    set.textures[order[k]].duplicate = set.textures[order[k]].dataOffset == set.textures[order[k - 1]].dataOffset;
  }
  std::erase_if(order, [&](size_t t) { return set.textures[t].duplicate; });
  // Each texture reaches to the next one's data, the last to the end of the
  // data member; a lone texture too, so that it never reaches past it.
  for (size_t k = 0; k < order.size(); ++k) {
    TextureRecord& texture = set.textures[order[k]];
    const uint64_t end = k + 1 < order.size() ? set.textures[order[k + 1]].dataOffset : dataLength;
    texture.size = uint32_t(std::min<uint64_t>(end - texture.dataOffset, UINT32_MAX));
    if (texture.imageCount == 0 || (texture.imageCount > 1 && texture.imageCount > texture.size)) {
      return {.error = TextureError::kBadImageCount, .texture = order[k], .imageCount = texture.imageCount,
              .size = texture.size};
    }
  }
  return {};
}

uint32_t TextureFormatCode(const TextureRecord& texture, bool mapsFormats) {
  const uint32_t formatClass = texture.format[0] & 0x0F;
  if (!mapsFormats) return formatClass;
  const uint32_t variant = texture.format[3] & 0x0F;
  struct Mapping { uint32_t formatClass, variant, code; };
  static constexpr Mapping kMappings[] = {{8, 15, 3}, {8, 6, 5}, {10, 11, 6}, {10, 4, 8}, {10, 2, 6}};
  for (const Mapping& mapping : kMappings) {
    if (mapping.formatClass == formatClass && mapping.variant == variant) return mapping.code;
  }
  return 0;
}

}  // namespace fpskit
