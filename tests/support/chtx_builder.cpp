#include "support/chtx_builder.h"

#include "support/builders.h"

namespace fpskit::support {

uint32_t ChtxBuilder::String(std::string_view text) {
  return String(ByteSpan(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

uint32_t ChtxBuilder::String(ByteSpan bytes) {
  const uint32_t offset = uint32_t(strings_.size());
  AppendBytes(strings_, bytes);
  strings_.push_back(0);
  return offset;
}

ChtxBuilder& ChtxBuilder::Padding(size_t count, uint8_t fill) {
  strings_.insert(strings_.end(), count, fill);
  return *this;
}

ChtxBuilder& ChtxBuilder::Entry(uint32_t plain, uint32_t jp, uint32_t en, uint32_t fourth) {
  entries_.push_back({plain, jp, en, fourth});
  return *this;
}

ChtxBuilder& ChtxBuilder::Entry(std::string_view plain, std::string_view jp, std::string_view en,
                                uint32_t fourth) {
  const uint32_t plainOffset = String(plain);
  const uint32_t jpOffset = String(jp);
  return Entry(plainOffset, jpOffset, String(en), fourth);
}

Bytes ChtxBuilder::Build() const {
  const uint32_t stringAreaStart = uint32_t(32 + 16 * entries_.size() + gap_);
  ByteBuilder file;
  file.Text("ZK6CHTX").U8(0)
      .U32BE(uint32_t(stringAreaStart + strings_.size()))
      .U32BE(uint32_t(entries_.size()))
      .U32BE(kChtxField16)
      .U32BE(stringAreaStart)
      .Raw(kChtxField24);
  for (const auto& entry : entries_) {
    for (uint32_t value : entry) file.U32BE(value);
  }
  file.Zeros(gap_).Raw(strings_);
  return file.Take();
}

Bytes MakeShiftJisChat(size_t size, uint32_t seed, const std::vector<CodeTableEntry>& rows) {
  Random random(seed);
  ChtxBuilder chat;
  chat.String("ZK6CHTX sample");
  size_t written = 0;
  for (uint32_t entry = 0; written < size; ++entry) {
    auto text = [&] {
      const Bytes bytes = ShiftJisText(8 + random.Below(60), random.Next(), rows);
      written += bytes.size() + 1;
      return chat.String(bytes);
    };
    const uint32_t plain = text();
    const uint32_t jp = text();
    chat.Entry(plain, jp, entry % 8 == 0 ? jp : text(), entry);
  }
  return chat.Build();
}

}  // namespace fpskit::support
