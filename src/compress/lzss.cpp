#include "compress/lzss.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <memory>

namespace fpskit {

namespace {

constexpr uint32_t kRingMask = kLzssRingSize - 1;

// No token byte yields more than 92 output bytes (the longest run, 274
// bytes, takes three), so token data of n bytes cannot fill more than 92 n.
// This bounds the buffer a corrupt header can make the decoder allocate.
constexpr uint64_t kMaxExpansion = 92;

}  // namespace

void FillLzssRing(uint8_t* ring) {
  uint8_t* p = ring;
  for (int c = 0; c < 256; ++c) {
    for (int k = 0; k < 4; ++k) {
      *p++ = uint8_t(c);
      *p++ = 0x00;
    }
  }
  for (int c = 0; c < 256; ++c) {
    for (int k = 0; k < 3; ++k) {
      *p++ = uint8_t(c);
      *p++ = 0xFF;
    }
    *p++ = uint8_t(c);
  }
  std::memset(p, 0, size_t(ring + kLzssRingSize - p));
}

bool ReadLzssHeader(ByteSpan stream, LzssHeader& header) {
  ByteReader reader(stream);
  const bool longForm = stream.size() >= 3 && stream[0] == 'S' && stream[1] == 'L' && stream[2] == 'Z';
  if (longForm) reader.Skip(3);
  header.type = reader.U8();
  header.compressedSize = reader.U32LE();
  header.uncompressedSize = reader.U32LE();
  header.headerSize = reader.position();
  return reader.ok();
}

void StoreLzssShortHeader(uint8_t* out, uint8_t type, uint32_t compressedSize,
                          uint32_t uncompressedSize) {
  out[0] = type;
  StoreU32LE(out + 1, compressedSize);
  StoreU32LE(out + 5, uncompressedSize);
}

// The decoder works in one buffer whose first 4096 bytes are the pre-filled
// ring laid out in the order the ring positions are overwritten (starting at
// 4096 - F), followed by the output. The ring position written by output byte
// n is then always 4096 bytes behind it, so a match at ring position P is a
// copy from a fixed distance back in that buffer, and no separate ring is
// kept.
bool LzssDecode(ByteSpan stream, Bytes& out) {
  out.clear();
  LzssHeader header;
  if (!ReadLzssHeader(stream, header)) return false;

  const bool runs = header.type == 3;
  const uint32_t startPosition = uint32_t(kLzssRingSize - LzssLongestMatch(header.type));
  const size_t available = stream.size() - header.headerSize;
  bool complete = header.compressedSize <= available;
  const size_t tokenBytes = std::min<size_t>(header.compressedSize, available);
  const size_t limit = size_t(std::min<uint64_t>(header.uncompressedSize, tokenBytes * kMaxExpansion));

  Bytes work(kLzssRingSize + limit);
  uint8_t ring[kLzssRingSize];
  FillLzssRing(ring);
  std::memcpy(work.data(), ring + startPosition, kLzssRingSize - startPosition);
  std::memcpy(work.data() + kLzssRingSize - startPosition, ring, startPosition);

  const uint8_t* in = stream.data() + header.headerSize;
  const uint8_t* const inEnd = in + tokenBytes;
  uint8_t* const base = work.data() + kLzssRingSize;  // output byte 0
  uint8_t* o = base;
  uint8_t* const oEnd = base + limit;
  uint32_t flags = 0;

  while (in < inEnd) {
    flags >>= 1;
    if ((flags & 0x100) == 0) {
      flags = 0xFF00u | *in++;
      if (in == inEnd) break;  // a closing flag byte with no token after it
    }
    if (flags & 1) {
      if (o == oEnd) { complete = false; break; }
      *o++ = *in++;
      continue;
    }
    if (inEnd - in < 2) { complete = false; break; }
    const uint32_t b0 = in[0];
    const uint32_t b1 = in[1];
    in += 2;
    const uint32_t lengthField = b1 & 0x0F;
    if (runs && lengthField == 15) {
      uint32_t value = b0;
      size_t length = (b1 >> 4) + 3;
      if ((b1 >> 4) == 0) {
        if (in == inEnd) { complete = false; break; }
        value = *in++;
        length = b0 + 19;
      }
      if (size_t(oEnd - o) < length) {
        std::memset(o, int(value), size_t(oEnd - o));
        o = oEnd;
        complete = false;
        break;
      }
      std::memset(o, int(value), length);
      o += length;
      continue;
    }
    // The current ring position is startPosition + (o - base); the match
    // source P lies `distance` positions behind it, 4096 when P is the
    // current position itself (its byte is the one written 4096 bytes ago).
    const uint32_t position = b0 | ((b1 & 0xF0) << 4);
    const uint32_t current = uint32_t(startPosition + size_t(o - base)) & kRingMask;
    const size_t distance = ((current - position - 1) & kRingMask) + 1;
    size_t length = lengthField + 3;
    const bool fits = size_t(oEnd - o) >= length;
    if (!fits) length = size_t(oEnd - o);
    const uint8_t* from = o - distance;
    if (distance >= length) {
      std::memcpy(o, from, length);
    } else {
      for (size_t k = 0; k < length; ++k) o[k] = from[k];  // overlaps what it produces
    }
    o += length;
    if (!fits) { complete = false; break; }
  }

  const size_t produced = size_t(o - base);
  if (produced != header.uncompressedSize) complete = false;
  work.resize(kLzssRingSize + produced);
  work.erase(work.begin(), work.begin() + kLzssRingSize);
  out = std::move(work);
  return complete;
}

namespace {

// The encoder's state for one call: the ring with F - 1 mirror bytes after
// position 4095 (so that comparing F bytes from any position never wraps)
// and the binary search trees, one per first byte value. Links are 16-bit
// and each node's two children sit side by side, indexed by the direction
// of the last comparison (0 = left, 1 = right), so the tree walk selects a
// child without a branch. Nodes 4097 + c are the roots of the trees of first
// byte c; 4096 is the empty link.
template <int F>
struct LzssEncoder {
  static constexpr uint32_t kNil = kLzssRingSize;
  static constexpr uint32_t kRoots = kLzssRingSize + 1;

  // Comparisons load bytes 1 to F - 1 after a position of at most 4095,
  // which all lie inside the ring and its mirror.
  uint8_t ring[kLzssRingSize + F - 1];
  uint16_t child[(kLzssRingSize + 1 + 256) * 2];
  uint16_t parent[kLzssRingSize + 1];
  uint32_t matchPosition = 0;
  uint32_t matchLength = 0;

  void Init() {
    FillLzssRing(ring);
    std::memcpy(ring + kLzssRingSize, ring, F - 1);
    for (uint32_t c = 0; c < 256; ++c) child[(kRoots + c) * 2 + 1] = kNil;
    for (uint32_t i = 0; i < kLzssRingSize; ++i) parent[i] = kNil;
  }

  static uint64_t Load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
  }

  // Index of the first byte from 1 to F - 1 where a and b differ, or F when
  // all of them are equal; byte 0 is equal by construction of the trees.
  static uint32_t FirstDifference(const uint8_t* a, const uint8_t* b) {
    static_assert(F == 17 || F == 18);
    uint64_t x = Load64(a + 1) ^ Load64(b + 1);
    if (x != 0) return 1 + FirstDifferingByte(x);
    x = Load64(a + 9) ^ Load64(b + 9);
    if (x != 0) return 9 + FirstDifferingByte(x);
    if constexpr (F == 18) return a[17] == b[17] ? 18 : 17;
    return F;
  }

  static uint32_t FirstDifferingByte(uint64_t x) {
    if constexpr (std::endian::native == std::endian::little) return uint32_t(std::countr_zero(x)) / 8;
    return uint32_t(std::countl_zero(x)) / 8;
  }

  // The link under `node` that points at `p`.
  uint16_t& LinkTo(uint32_t node, uint32_t p) { return child[node * 2 + (child[node * 2 + 1] == p)]; }

  // Inserts position r into the tree of its first byte and finds the longest
  // match on the way. A node holding the same F bytes gives r its place.
  void Insert(uint32_t r) {
    const uint8_t* key = ring + r;
    uint32_t p = kRoots + key[0];
    uint32_t direction = 1;
    uint32_t best = 0;
    child[r * 2] = child[r * 2 + 1] = kNil;
    for (;;) {
      const uint32_t next = child[p * 2 + direction];
      if (next == kNil) {
        child[p * 2 + direction] = uint16_t(r);
        parent[r] = uint16_t(p);
        matchLength = best;
        return;
      }
      p = next;
      const uint32_t i = FirstDifference(key, ring + p);
      if (i > best) {
        matchPosition = p;
        best = i;
        if (i >= uint32_t(F)) break;
      }
      direction = key[i] >= ring[p + i];
    }
    matchLength = best;
    const uint32_t left = child[p * 2];
    const uint32_t right = child[p * 2 + 1];
    parent[r] = parent[p];
    child[r * 2] = uint16_t(left);
    child[r * 2 + 1] = uint16_t(right);
    parent[left] = uint16_t(r);
    parent[right] = uint16_t(r);
    LinkTo(parent[p], p) = uint16_t(r);
    parent[p] = kNil;
  }

  // Removes position p; the rightmost node of its left subtree takes its
  // place when it has two children.
  void Delete(uint32_t p) {
    if (parent[p] == kNil) return;
    const uint32_t left = child[p * 2];
    const uint32_t right = child[p * 2 + 1];
    uint32_t q;
    if (right == kNil) {
      q = left;
    } else if (left == kNil) {
      q = right;
    } else {
      q = left;
      if (child[q * 2 + 1] != kNil) {
        do q = child[q * 2 + 1]; while (child[q * 2 + 1] != kNil);
        child[parent[q] * 2 + 1] = child[q * 2];
        parent[child[q * 2]] = parent[q];
        child[q * 2] = uint16_t(left);
        parent[left] = uint16_t(q);
      }
      child[q * 2 + 1] = uint16_t(right);
      parent[right] = uint16_t(q);
    }
    parent[q] = parent[p];
    LinkTo(parent[p], p) = uint16_t(q);
    parent[p] = kNil;
  }

  size_t Encode(ByteSpan input, std::span<uint8_t> output) {
    Init();
    const uint8_t* const data = input.data();
    const size_t size = input.size();
    uint32_t s = 0;
    uint32_t r = kLzssRingSize - F;
    uint32_t lookahead = uint32_t(std::min<size_t>(F, size));
    if (lookahead == 0) return 0;
    std::memcpy(ring + r, data, lookahead);
    size_t read = lookahead;
    for (uint32_t i = 1; i <= uint32_t(F); ++i) Insert(r - i);
    Insert(r);

    uint8_t group[1 + 2 * 8];
    size_t groupLength = 1;
    uint32_t mask = 1;
    group[0] = 0;
    size_t written = 0;

    do {
      int32_t length = int32_t(std::min(matchLength, lookahead));
      if (size_t(length) >= size - read) --length;  // a match reaching as far as the input goes
      if (length <= 2) {
        length = 1;
        group[0] |= uint8_t(mask);
        group[groupLength++] = ring[r];
      } else {
        group[groupLength++] = uint8_t(matchPosition);
        group[groupLength++] = uint8_t(((matchPosition >> 4) & 0xF0) | (length - 3));
      }
      mask <<= 1;
      if (mask == 0x100) {
        if (!Flush(group, groupLength, output, written)) return written;
        group[0] = 0;
        groupLength = 1;
        mask = 1;
      }
      int32_t i = 0;
      for (; i < length && read < size; ++i) {
        Delete(s);
        const uint8_t c = data[read++];
        ring[s] = c;
        if (s < uint32_t(F - 1)) ring[s + kLzssRingSize] = c;
        s = (s + 1) & kRingMask;
        r = (r + 1) & kRingMask;
        Insert(r);
      }
      for (; i < length; ++i) {
        Delete(s);
        s = (s + 1) & kRingMask;
        r = (r + 1) & kRingMask;
        if (--lookahead != 0) Insert(r);
      }
    } while (lookahead > 0);

    if (groupLength > 1) Flush(group, groupLength, output, written);
    return written;
  }

  // Appends a finished group; false when the output is full (the group is
  // cut at the capacity).
  static bool Flush(const uint8_t* group, size_t groupLength, std::span<uint8_t> output, size_t& written) {
    const size_t count = std::min(groupLength, output.size() - written);
    std::memcpy(output.data() + written, group, count);
    written += count;
    return written < output.size();
  }
};

template <int F>
size_t EncodeWith(ByteSpan input, std::span<uint8_t> output) {
  auto encoder = std::make_unique<LzssEncoder<F>>();
  return encoder->Encode(input, output);
}

}  // namespace

size_t LzssEncode(ByteSpan input, int type, std::span<uint8_t> output) {
  return LzssLongestMatch(type) == 17 ? EncodeWith<17>(input, output) : EncodeWith<18>(input, output);
}

bool LzssEncodeStream(ByteSpan input, Bytes& stream) {
  stream.clear();
  const size_t capacity = LzssMaxEncodedSize(input.size());
  if (capacity > std::numeric_limits<uint32_t>::max()) return false;
  stream.resize(kLzssShortHeaderSize + capacity);
  const size_t count = LzssEncode(input, 1, std::span(stream).subspan(kLzssShortHeaderSize));
  StoreLzssShortHeader(stream.data(), 1, uint32_t(count), uint32_t(input.size()));
  stream.resize(kLzssShortHeaderSize + count);
  return true;
}

}  // namespace fpskit
