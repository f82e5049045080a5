// Small builders of synthetic game files and inputs, shared by the tests, the
// benchmarks and the sample generator.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "codetable/codetable.h"
#include "util/bytes.h"

namespace fpskit::support {

// Appends fields in either byte order; the game's formats are big-endian.
class ByteBuilder {
 public:
  ByteBuilder& U8(uint8_t v) { bytes_.push_back(v); return *this; }
  ByteBuilder& U16BE(uint16_t v) { AppendU16BE(bytes_, v); return *this; }
  ByteBuilder& U16LE(uint16_t v) { AppendU16LE(bytes_, v); return *this; }
  ByteBuilder& U32BE(uint32_t v) { AppendU32BE(bytes_, v); return *this; }
  ByteBuilder& U32LE(uint32_t v) { AppendU32LE(bytes_, v); return *this; }
  ByteBuilder& Raw(ByteSpan b) { AppendBytes(bytes_, b); return *this; }
  ByteBuilder& Text(std::string_view t) { AppendText(bytes_, t); return *this; }
  // Text followed by its terminating NUL.
  ByteBuilder& CString(std::string_view t) { AppendText(bytes_, t); bytes_.push_back(0); return *this; }
  ByteBuilder& Zeros(size_t n) { bytes_.insert(bytes_.end(), n, 0); return *this; }
  // Pads with `fill` up to a multiple of `alignment`.
  ByteBuilder& Align(size_t alignment, uint8_t fill = 0) {
    while (bytes_.size() % alignment != 0) bytes_.push_back(fill);
    return *this;
  }
  // Overwrites a big-endian word written earlier (for offsets known later).
  ByteBuilder& PatchU32BE(size_t offset, uint32_t v) { StoreU32BE(bytes_.data() + offset, v); return *this; }
  ByteBuilder& PatchU32LE(size_t offset, uint32_t v) { StoreU32LE(bytes_.data() + offset, v); return *this; }

  size_t size() const { return bytes_.size(); }
  const Bytes& bytes() const { return bytes_; }
  Bytes Take() { return std::move(bytes_); }

 private:
  Bytes bytes_;
};

Bytes ToBytes(std::string_view text);
std::string ToString(ByteSpan bytes);

// One code table row from two byte strings.
CodeTableEntry Row(std::string_view left, std::string_view right);

// The text of a code table file for these rows: "HH HH; HH" lines ending in
// CR LF, optionally behind a byte order mark.
std::string CodeTableText(const std::vector<CodeTableEntry>& rows, bool byteOrderMark = false);

// A table of every valid Shift-JIS double-byte code (left) with its UTF-8
// form (right), after rows for the printable ASCII characters. Built with the
// system's converter (iconv; code page 932 on Windows).
std::vector<CodeTableEntry> ShiftJisRows();

// Deterministic pseudo-random Shift-JIS text of about `size` bytes: mostly
// double-byte characters that the table above maps, with ASCII words between.
Bytes ShiftJisText(size_t size, uint32_t seed, const std::vector<CodeTableEntry>& rows);

// A small xorshift generator, so that inputs are the same on every machine.
class Random {
 public:
  explicit Random(uint32_t seed) : state_(seed ? seed : 0x9E3779B9u) {}
  uint32_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return state_;
  }
  uint32_t Below(uint32_t n) { return Next() % n; }

 private:
  uint32_t state_;
};

// `size` pseudo-random bytes, the same on every machine for one seed.
Bytes RandomBytes(size_t size, uint32_t seed);

}  // namespace fpskit::support
