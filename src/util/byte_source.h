// Bytes that a tool reads by position (a region of an open file, or a buffer
// in memory), and bytes it writes at the end of an open file or of a buffer.
// Archives are read and written through them whether they lie in their own
// file, inside a member of another archive, or in memory around
// decompression, so that a large archive is never held whole.
#pragma once

#include <cstdint>
#include <cstdio>

#include "util/bytes.h"

namespace fpskit {

struct ByteSource {
  std::FILE* file = nullptr;  // the bytes lie in this file from `base`...
  uint64_t base = 0;
  ByteSpan memory;            // ...or in memory, when `file` is null
  uint64_t length = 0;

  static ByteSource InFile(std::FILE* file, uint64_t base, uint64_t length) { return {file, base, {}, length}; }
  static ByteSource InMemory(ByteSpan bytes) { return {nullptr, 0, bytes, bytes.size()}; }

  // The bytes [offset, offset + count) of this source; the caller has checked
  // that they lie inside it.
  ByteSource Sub(uint64_t offset, uint64_t count) const {
    return file ? InFile(file, base + offset, count) : InMemory(memory.subspan(size_t(offset), size_t(count)));
  }

  // Reads [offset, offset + count) into `out`. False, with `out` empty, when
  // the range is not inside the source or the file cannot be read.
  bool Read(uint64_t offset, uint64_t count, Bytes& out) const;
  // The same into `out`, which has room for `count` bytes.
  bool ReadInto(uint64_t offset, uint64_t count, uint8_t* out) const;

  // Up to `count` bytes at `offset`, fewer when the source ends first; the
  // rest of `out` is zero. For peeking at a member's first bytes.
  void Peek(uint64_t offset, uint8_t* out, size_t count) const;

  // Copies [offset, offset + count) to the destination's position (in the
  // kernel where the system can). False when the range is not inside the
  // source, or on a failed read or write.
  bool CopyTo(uint64_t offset, uint64_t count, std::FILE* destination) const;
};

// An archive being written: at the end of an open file from `base` on, or at
// the end of a buffer from `base` on. Positions count from the archive's
// start. A failed write to the file sets `failed`; every call after it fails.
struct ByteSink {
  std::FILE* file = nullptr;  // the file is written at base + length...
  Bytes* memory = nullptr;    // ...or the buffer, when `file` is null
  uint64_t base = 0;
  uint64_t length = 0;        // bytes written: the position of the next
  bool failed = false;

  static ByteSink InFile(std::FILE* file, uint64_t base) { return {file, nullptr, base, 0, false}; }
  static ByteSink InMemory(Bytes& buffer) { return {nullptr, &buffer, buffer.size(), 0, false}; }

  // A sink for an archive inside this one, starting at its end. Afterwards
  // Append() takes what it wrote into this one.
  ByteSink Inner() const { return {file, memory, base + length, 0, failed}; }
  void Append(const ByteSink& inner) {
    length += inner.length;
    failed = failed || inner.failed;
  }

  bool Write(ByteSpan bytes);
  bool WriteZeros(uint64_t count);
  // Copies [offset, offset + count) of a source (in the kernel where it can).
  bool Copy(const ByteSource& source, uint64_t offset, uint64_t count);
  // Copies `count` bytes from the file's position. A file that ends first
  // makes it false without setting `failed`.
  bool CopyFromFile(std::FILE* from, uint64_t count);
  // Overwrites bytes already written at `position`; the end stays where it was.
  bool Patch(uint64_t position, ByteSpan bytes);

 private:
  bool Fail();
};

}  // namespace fpskit
