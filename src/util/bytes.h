// Bounded byte access for every parser, and byte-order helpers for every writer.
//
// Lengths and offsets read from game files are untrusted: every load goes
// through InRange() first, so nothing reads past the buffer whatever a header
// claims. The game's formats are big-endian; the TLZC, LZSS and DDS headers
// are little-endian.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace fpskit {

using Bytes = std::vector<uint8_t>;
using ByteSpan = std::span<const uint8_t>;

// Lengthens `bytes` to at least `needed` bytes, for a writer that fills it
// from the front and cuts it to its real end when done. Within the capacity
// (reserve the expected total first) only kLengthenStep bytes more than
// needed are added, so the zero fill touches bytes just before they are
// written over, while they are in cache, and pages the writer never reaches
// are never touched. Past the capacity, the capacity at least doubles.
inline constexpr size_t kLengthenStep = 64 * 1024;
inline void LengthenForWriting(Bytes& bytes, size_t needed) {
  if (bytes.size() >= needed) return;
  if (needed > bytes.capacity()) bytes.reserve(std::max(needed, 2 * bytes.capacity()));
  bytes.resize(std::min(bytes.capacity(), needed + kLengthenStep));
}

// True when [offset, offset + count) lies inside a buffer of `size` bytes,
// without overflowing.
constexpr bool InRange(size_t size, uint64_t offset, uint64_t count) {
  return offset <= size && count <= size - offset;
}

inline uint16_t LoadU16BE(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }
inline uint16_t LoadU16LE(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t LoadU32BE(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
inline uint32_t LoadU32LE(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

inline void StoreU16BE(uint8_t* p, uint16_t v) { p[0] = uint8_t(v >> 8); p[1] = uint8_t(v); }
inline void StoreU16LE(uint8_t* p, uint16_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); }
inline void StoreU32BE(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 24); p[1] = uint8_t(v >> 16); p[2] = uint8_t(v >> 8); p[3] = uint8_t(v);
}
inline void StoreU32LE(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); p[2] = uint8_t(v >> 16); p[3] = uint8_t(v >> 24);
}

inline void AppendU16BE(Bytes& out, uint16_t v) { uint8_t b[2]; StoreU16BE(b, v); out.insert(out.end(), b, b + 2); }
inline void AppendU16LE(Bytes& out, uint16_t v) { uint8_t b[2]; StoreU16LE(b, v); out.insert(out.end(), b, b + 2); }
inline void AppendU32BE(Bytes& out, uint32_t v) { uint8_t b[4]; StoreU32BE(b, v); out.insert(out.end(), b, b + 4); }
inline void AppendU32LE(Bytes& out, uint32_t v) { uint8_t b[4]; StoreU32LE(b, v); out.insert(out.end(), b, b + 4); }
inline void AppendBytes(Bytes& out, ByteSpan bytes) { out.insert(out.end(), bytes.begin(), bytes.end()); }
inline void AppendText(Bytes& out, std::string_view text) { out.insert(out.end(), text.begin(), text.end()); }

// The bytes as text, for comparing them with the ASCII words of the formats
// (magics, dump prefixes).
inline std::string_view AsText(ByteSpan bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// True when the bytes begin with `prefix`.
inline bool StartsWith(ByteSpan bytes, std::string_view prefix) { return AsText(bytes).starts_with(prefix); }

// The value of a hexadecimal digit of either case; -1 for any other character.
constexpr int HexDigitValue(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A cursor over a byte buffer whose loads check the length first. A load past
// the end returns 0 (or an empty span) and sets a sticky failure flag, so a
// parser can read a whole record and test ok() once.
class ByteReader {
 public:
  explicit ByteReader(ByteSpan data, size_t position = 0) : data_(data), pos_(position) {
    if (pos_ > data_.size()) fail();
  }

  bool ok() const { return ok_; }
  size_t position() const { return pos_; }
  size_t size() const { return data_.size(); }
  size_t remaining() const { return ok_ ? data_.size() - pos_ : 0; }
  ByteSpan data() const { return data_; }

  bool Seek(uint64_t position) {
    if (!ok_ || position > data_.size()) return fail();
    pos_ = size_t(position);
    return true;
  }
  bool Skip(uint64_t count) {
    if (!ok_ || !InRange(data_.size(), pos_, count)) return fail();
    pos_ += size_t(count);
    return true;
  }

  uint8_t U8() { const uint8_t* p = Take(1); return p ? p[0] : 0; }
  uint16_t U16BE() { const uint8_t* p = Take(2); return p ? LoadU16BE(p) : 0; }
  uint16_t U16LE() { const uint8_t* p = Take(2); return p ? LoadU16LE(p) : 0; }
  uint32_t U32BE() { const uint8_t* p = Take(4); return p ? LoadU32BE(p) : 0; }
  uint32_t U32LE() { const uint8_t* p = Take(4); return p ? LoadU32LE(p) : 0; }
  ByteSpan Span(uint64_t count) {
    const uint8_t* p = Take(count);
    return p ? ByteSpan(p, size_t(count)) : ByteSpan();
  }

 private:
  bool fail() { ok_ = false; return false; }
  const uint8_t* Take(uint64_t count) {
    if (!ok_ || !InRange(data_.size(), pos_, count)) { fail(); return nullptr; }
    const uint8_t* p = data_.data() + pos_;
    pos_ += size_t(count);
    return p;
  }

  ByteSpan data_;
  size_t pos_ = 0;
  bool ok_ = true;
};

// A zero-terminated string starting at `offset`: the bytes before the first
// NUL. Returns false when the offset is outside the buffer or no NUL follows
// before its end.
bool TerminatedStringAt(ByteSpan data, uint64_t offset, ByteSpan& out);

}  // namespace fpskit
