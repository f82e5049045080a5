// Bytes that a tool reads by position: a region of an open file, or a buffer
// in memory. Archives are read through it whether they lie in their own file,
// inside a member of another archive's file, or in memory after
// decompression, so that a large archive is never loaded whole.
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

  // Up to `count` bytes at `offset`, fewer when the source ends first; the
  // rest of `out` is zero. For peeking at a member's first bytes.
  void Peek(uint64_t offset, uint8_t* out, size_t count) const;

  // Copies [offset, offset + count) to the destination's position (in the
  // kernel where the system can). False when the range is not inside the
  // source, or on a failed read or write.
  bool CopyTo(uint64_t offset, uint64_t count, std::FILE* destination) const;
};

}  // namespace fpskit
