#include "support/lzss_builder.h"

#include <algorithm>
#include <string>
#include <vector>

#include "compress/lzss.h"
#include "support/builders.h"

namespace fpskit::support {

void LzssTokenWriter::BeginToken(bool literal) {
  if (tokensInGroup_ == 8) {
    flagIndex_ = data_.size();
    data_.push_back(0);
    tokensInGroup_ = 0;
  }
  if (literal) data_[flagIndex_] |= uint8_t(1u << tokensInGroup_);
  ++tokensInGroup_;
}

LzssTokenWriter& LzssTokenWriter::Literal(uint8_t value) {
  BeginToken(true);
  data_.push_back(value);
  return *this;
}

LzssTokenWriter& LzssTokenWriter::Literals(ByteSpan values) {
  for (uint8_t value : values) Literal(value);
  return *this;
}

LzssTokenWriter& LzssTokenWriter::Match(uint32_t position, uint32_t length) {
  BeginToken(false);
  data_.push_back(uint8_t(position));
  data_.push_back(uint8_t(((position >> 4) & 0xF0) | (length - 3)));
  return *this;
}

LzssTokenWriter& LzssTokenWriter::Run(uint8_t value, uint32_t length) {
  BeginToken(false);
  if (length <= 18) {
    data_.push_back(value);
    data_.push_back(uint8_t(((length - 3) << 4) | 0x0F));
  } else {
    data_.push_back(uint8_t(length - 19));
    data_.push_back(0x0F);
    data_.push_back(value);
  }
  return *this;
}

Bytes LzssStream(uint8_t type, ByteSpan tokenData, uint32_t uncompressedSize, bool longForm) {
  // The long form is "SLZ" followed by the fields of the short one.
  const size_t magic = longForm ? 3 : 0;
  Bytes stream(magic + kLzssShortHeaderSize + tokenData.size());
  std::copy_n("SLZ", magic, stream.begin());
  StoreLzssShortHeader(stream.data() + magic, type, uint32_t(tokenData.size()), uncompressedSize);
  std::copy(tokenData.begin(), tokenData.end(), stream.begin() + ptrdiff_t(magic + kLzssShortHeaderSize));
  return stream;
}

Bytes ScriptLikeBytes(size_t size, uint32_t seed) {
  Random random(seed);
  std::vector<Bytes> words;
  for (int w = 0; w < 300; ++w) {
    Bytes word;
    const uint32_t length = 1 + random.Below(6);
    const bool doubleByte = random.Below(3) != 0;
    for (uint32_t k = 0; k < length; ++k) {
      if (doubleByte) {
        word.push_back(uint8_t(0x82 + random.Below(2)));
        word.push_back(uint8_t(0x40 + random.Below(0xBC)));
      } else {
        word.push_back(uint8_t('a' + random.Below(26)));
      }
    }
    words.push_back(word);
  }
  auto line = [&] {
    Bytes text;
    const uint32_t lineWords = 2 + random.Below(10);
    for (uint32_t w = 0; w < lineWords; ++w) {
      // Words early in the vocabulary are much more frequent, as in text.
      AppendBytes(text, words[random.Below(1 + random.Below(uint32_t(words.size())))]);
      if (random.Below(3) == 0) text.push_back(' ');
    }
    text.push_back(0);
    return text;
  };
  // Lines that recur whole: speaker names, choices, stock phrases.
  std::vector<Bytes> stockLines;
  for (int k = 0; k < 40; ++k) stockLines.push_back(line());

  // Command sequences that recur with other operands: opcode and small
  // argument words, some followed by an offset into the string area.
  static constexpr uint16_t kOpcodes[] = {0x0100, 0x0102, 0x0205, 0x0300, 0x0410, 0x1000, 0x1102, 0x2001};
  struct Command {
    uint16_t opcode;
    uint16_t argument;
    bool hasOffset;
  };
  std::vector<std::vector<Command>> sequences;
  for (int k = 0; k < 60; ++k) {
    std::vector<Command> sequence(2 + random.Below(10));
    for (Command& command : sequence) {
      command.opcode = kOpcodes[random.Below(8)];
      command.hasOffset = random.Below(4) == 0;
      command.argument = uint16_t(random.Below(command.hasOffset ? 64 : 4));
    }
    sequences.push_back(sequence);
  }

  Bytes out;
  uint32_t offset = 0x40;
  while (out.size() < size) {
    const uint32_t codeSequences = 2 + random.Below(20);
    for (uint32_t k = 0; k < codeSequences; ++k) {
      for (const Command& command : sequences[random.Below(1 + random.Below(uint32_t(sequences.size())))]) {
        AppendU16BE(out, command.opcode);
        AppendU16BE(out, random.Below(8) == 0 ? uint16_t(random.Below(64)) : command.argument);
        if (command.hasOffset) {
          AppendU32BE(out, offset);
          offset += 4 + random.Below(60);
        }
      }
    }
    const uint32_t lines = 1 + random.Below(12);
    for (uint32_t k = 0; k < lines; ++k) {
      AppendBytes(out, random.Below(3) == 0 ? stockLines[random.Below(uint32_t(stockLines.size()))] : line());
    }
  }
  out.resize(size);
  return out;
}

}  // namespace fpskit::support
