#include "support/archive_builder.h"

#include "support/builders.h"
#include "texture/txm.h"

namespace fpskit::support {

Fps4Member Member(Bytes data, std::optional<std::string> name) {
  return {std::move(data), std::move(name), false, std::nullopt};
}

Fps4Member Member(std::string_view data, std::optional<std::string> name) {
  return Member(ToBytes(data), std::move(name));
}

Bytes BuildFps4(const Fps4Layout& layout) {
  const size_t count = layout.members.size() + 1;
  const bool shortLayout = layout.flags == 0x8D;
  ByteBuilder out;
  out.Text("FPS4").U32BE(uint32_t(count)).U32BE(layout.word8).U32BE(0);
  out.U16BE(layout.entrySize).U16BE(layout.flags).U16LE(layout.alignmentHint).U16LE(0).U32BE(0);
  out.Zeros(count * layout.entrySize);

  if (layout.type) {
    out.PatchU32BE(24, uint32_t(out.size()));
    std::string type = *layout.type;
    type.resize(4, '\0');
    out.Text(type);
  }
  std::vector<uint32_t> namePointers(layout.members.size(), 0);
  if (layout.entrySize == 16) {
    for (size_t i = 0; i < layout.members.size(); ++i) {
      if (!layout.members[i].name) continue;
      namePointers[i] = uint32_t(out.size());
      out.CString(*layout.members[i].name);
    }
  }
  const size_t alignment = layout.alignment ? layout.alignment : 1;
  out.Align(alignment);
  out.PatchU32BE(12, uint32_t(out.size()));

  Bytes bytes = out.Take();
  for (size_t i = 0; i < layout.members.size(); ++i) {
    const Fps4Member& member = layout.members[i];
    const uint32_t offset = uint32_t(bytes.size());
    AppendBytes(bytes, member.data);
    if (layout.entrySize != 8) {
      while (bytes.size() % alignment != 0) bytes.push_back(0);
    }
    const uint32_t size = uint32_t(member.data.size());
    const uint32_t padded = uint32_t(bytes.size()) - offset;
    uint8_t* entry = bytes.data() + 28 + i * layout.entrySize;
    StoreU32BE(entry, member.offsetOverride.value_or(offset));
    if (shortLayout) {
      StoreU32BE(entry + 4, size);
    } else {
      StoreU32BE(entry + 4, layout.entrySize == 8 ? (member.continuation ? 1 : 0) : padded);
      if (layout.entrySize >= 12) StoreU32BE(entry + 8, size);
    }
    const size_t nameStart = shortLayout ? 8 : 12;
    if (layout.entrySize == 16) {
      StoreU32BE(entry + nameStart, namePointers[i]);
    } else if (member.name && layout.entrySize > nameStart) {
      const size_t room = layout.entrySize - nameStart;
      for (size_t c = 0; c < member.name->size() && c < room; ++c) entry[nameStart + c] = uint8_t((*member.name)[c]);
    }
  }
  return bytes;
}

Bytes BuildTxm(const TxmLayout& layout) {
  const bool shortForm = IsShortTxmVersion(layout.version);
  const uint32_t count = uint32_t(layout.textures.size());
  ByteBuilder out;
  out.U32BE(0x00020000).U32BE(0).U32BE(layout.version).U32BE(layout.imageCounts ? 0 : count);
  out.U32BE(0).U32BE(layout.imageCounts ? count : 0);
  out.Zeros((shortForm ? kTxmShortExtraSize : kTxmLongExtraSize) - 8);
  std::vector<size_t> nameFields;
  for (const TxmTexture& texture : layout.textures) {
    out.U32BE(texture.width).U32BE(texture.height);
    if (layout.imageCounts) out.U32BE(texture.imageCount);
    out.U32BE(texture.mipCount).Raw(texture.format);
    nameFields.push_back(out.size());
    out.U32BE(0).U32BE(texture.dataOffset).Zeros(shortForm ? kTxmShortTailSize : kTxmLongTailSize);
  }
  for (size_t t = 0; t < layout.textures.size(); ++t) {
    out.PatchU32BE(nameFields[t], uint32_t(out.size() - nameFields[t]));
    out.CString(layout.textures[t].name);
  }
  out.Align(16);
  out.PatchU32BE(4, uint32_t(out.size()));
  return out.Take();
}

std::array<uint8_t, 4> TxmFormatBytes(uint32_t code, uint32_t version) {
  if (IsShortTxmVersion(version)) return {uint8_t(code), 0, 0, 0};
  switch (code) {
    case 3: return {0x08, 0, 0, 0x0F};
    case 5: return {0x08, 0, 0, 0x06};
    case 6: return {0x0A, 0, 0, 0x0B};
    case 8: return {0x0A, 0, 0, 0x04};
    default: return {0x0C, 0, 0, 0x0C};  // no code of its own: 0
  }
}

}  // namespace fpskit::support
