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
// and the binary search trees, one per first byte value. Links are 16-bit.
// Each node's two children sit side by side (left, right) in `child`; nodes
// 4097 + c are the roots of the trees of first byte c, with only a right
// child, and 4096 is the empty link. Instead of its parent, each node
// records which slot of `child` holds it, so that unlinking a node needs no
// test of which side of its parent it hangs on.
template <int F>
struct LzssEncoder {
  static constexpr uint32_t kNil = kLzssRingSize;
  static constexpr uint32_t kRoots = kLzssRingSize + 1;
  static constexpr uint16_t kNoSlot = 0xFFFF;
  // A slot of `child` that no node reads, for links made only to keep
  // branches out of Delete.
  static constexpr uint32_t kScratch = (kLzssRingSize + 1 + 256) * 2;

  // Comparisons load bytes 1 to F - 1 after a position of at most 4095,
  // which all lie inside the ring and its mirror.
  uint8_t ring[kLzssRingSize + F - 1];
  uint16_t child[kScratch + 1];
  // The slot of `child` that holds each position, or kNoSlot when it is in
  // no tree; entry 4096 absorbs the writes made for empty links.
  uint16_t slot[kLzssRingSize + 1];
  // Bytes 1 to 8 of each position in a tree as an ordered word, so that a
  // step of the walk loads its node's bytes with one aligned load and no
  // byte swap.
  uint64_t keyWord[kLzssRingSize];
  // The longest match found by the last insertion that looked for one.
  uint32_t matchPosition = 0;
  uint32_t matchLength = 0;
  uint32_t fullMatch = kNil;  // the node replaced by the last insertion, if any

  void Init() {
    FillLzssRing(ring);
    std::memcpy(ring + kLzssRingSize, ring, F - 1);
    for (uint32_t c = 0; c < 256; ++c) child[(kRoots + c) * 2 + 1] = kNil;
    child[kNil * 2] = child[kNil * 2 + 1] = kNil;
    for (uint32_t i = 0; i < kLzssRingSize; ++i) slot[i] = kNoSlot;
  }

  // Eight ring bytes as a big-endian number, so that comparing two such
  // numbers orders them as comparing their bytes one by one does.
  static uint64_t LoadOrdered(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
    return v;
  }

  void Link(uint32_t at, uint32_t node) {
    child[at] = uint16_t(node);
    slot[node] = uint16_t(at);
  }

  // `right` when a > b, else `left`. The walk's directions are as good as
  // random, so this is a conditional move rather than a branch; the
  // compiler turns the plain forms into a branch or a longer chain.
  static uint32_t SelectChild(uint64_t a, uint64_t b, uint32_t left, uint32_t right) {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    asm("cmp %[b], %[a]\n\tcmova %[right], %[left]" : [left] "+r"(left) : [a] "r"(a), [b] "r"(b), [right] "r"(right) : "cc");
    return left;
#else
    return left ^ ((left ^ right) & (0u - uint32_t(a > b)));
#endif
  }

  // `a` when `c`, else `b`, as a conditional move: the choices Delete makes
  // are as good as random, and the compiler would branch on them.
  static uint32_t Choose(bool c, uint32_t a, uint32_t b) {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    asm("test %[c], %[c]\n\tcmovne %[a], %[b]" : [b] "+r"(b) : [c] "r"(c), [a] "r"(a) : "cc");
    return b;
#else
    return b ^ ((a ^ b) & (0u - uint32_t(c)));
#endif
  }

  // `link` unless it is the empty link, else `other`, as a conditional move.
  static uint32_t UnlessEmpty(uint32_t link, uint32_t other) {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    asm("cmp %[nil], %[link]\n\tcmove %[other], %[link]" : [link] "+r"(link) : [other] "r"(other), [nil] "i"(kNil) : "cc");
    return link;
#else
    return Choose(link == kNil, other, link);
#endif
  }

  // (best, position) = (value, at) when value < best, by conditional moves:
  // whether a step improves the match is as good as random.
  static void KeepIfLess(uint64_t value, size_t at, uint64_t& best, size_t& position) {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    asm("cmp %[best], %[value]\n\tcmovb %[value], %[best]\n\tcmovb %[at], %[position]"
        : [best] "+r"(best), [position] "+r"(position) : [value] "r"(value), [at] "r"(at) : "cc");
#else
    const bool less = value < best;
    position = less ? at : position;
    best = less ? value : best;
#endif
  }

  // True when positions p and r start with the same F bytes.
  bool SameKey(uint32_t p, uint32_t r) const {
    uint64_t a[2], b[2];
    std::memcpy(a, ring + p, 16);
    std::memcpy(b, ring + r, 16);
    bool same = a[0] == b[0] && a[1] == b[1];
    if constexpr (F == 18) same = same && ring[p + 16] == ring[r + 16] && ring[p + 17] == ring[r + 17];
    if constexpr (F == 17) same = same && ring[p + 16] == ring[r + 16];
    return same;
  }

  // Inserts position r into the tree of its first byte and, when
  // `kFindMatch`, finds the longest match on the way. A node holding the
  // same F bytes gives r its place. Only the insertion at a token's coding
  // position needs the match; the others only shape the trees.
  template <bool kFindMatch>
  void Insert(uint32_t r) {
    // The keys in the trees are distinct (an equal key replaces its node),
    // so a node with the same F bytes as r is the one the walk would stop
    // at, whatever the path to it, and r simply takes its place. In
    // repeated data the position after the last such node usually is one:
    // trying it first skips the walk without changing any result.
    if (fullMatch != kNil) {
      const uint32_t candidate = (fullMatch + 1) & kRingMask;
      if (slot[candidate] != kNoSlot && SameKey(candidate, r)) {
        Replace(candidate, r);
        return;
      }
    }
    Walk<kFindMatch>(r);
  }

  // The walk is a chain of dependent loads, and the encoder spends most of
  // its time in it, so each step does as little as it can: it compares the
  // first eight bytes after the first (byte 0 is equal within a tree) as one
  // ordered word, and a node that shares all eight goes to WalkOn, which
  // compares all F bytes. The longest match so far is kept as the highest
  // differing bit's byte (smaller is longer) with its node, replaced only by
  // a strictly longer match so that the first node of the greatest length
  // stays. Kept out of line: inlined into the encoding loop, the walk's
  // values no longer fit in registers.
  template <bool kFindMatch>
  [[gnu::noinline]] void Walk(uint32_t r) {
    const uint64_t key = LoadOrdered(ring + r + 1);
    size_t p = kRoots + ring[r];
    size_t next = child[p * 2 + 1];
    // The longest match so far is 8 - bestByte bytes (none at first).
    uint64_t bestByte = 8;
    size_t bestPosition = 0;
    while (next != kNil) {
      p = next;
      const uint64_t word = keyWord[p];
      const size_t left = child[p * 2];
      const size_t right = child[p * 2 + 1];
      if (word == key) [[unlikely]] {
        WalkOn(r, uint32_t(p), bestByte + (F - 8), bestPosition);
        return;
      }
      if constexpr (kFindMatch) {
        // The words differ, so the highest differing bit exists.
        const uint64_t byte = uint64_t(__builtin_clzll(key ^ word) ^ 63) >> 3;
        KeepIfLess(byte, p, bestByte, bestPosition);
      }
      next = SelectChild(key, word, uint32_t(left), uint32_t(right));
    }
    const size_t side = p >= kRoots || key > keyWord[p];
    Hang(r, p * 2 + side);
    if constexpr (kFindMatch) {
      matchLength = 8 - uint32_t(bestByte);
      matchPosition = uint32_t(bestPosition);
    }
    fullMatch = kNil;
  }

  // Goes on with the walk of r from node p, whose first eight bytes after
  // the first equal r's, comparing all F bytes at each node as the
  // algorithm reads. The longest match so far is F - shortfall bytes at
  // bestPosition.
  [[gnu::noinline]] void WalkOn(uint32_t r, uint32_t p, uint64_t shortfall, size_t bestPosition) {
    // Bytes 1 to F - 1 of the key as ordered words; the third holds byte 17
    // in its top byte when F is 18.
    const uint64_t key1 = LoadOrdered(ring + r + 1);
    const uint64_t key2 = LoadOrdered(ring + r + 9);
    const uint64_t key3 = F == 18 ? uint64_t(ring[r + F - 1]) << 56 : 0;
    // Nodes sharing eight bytes or more with r are as likely to share the
    // next eight as not, so each step compares all the words and picks the
    // first that differs by conditional moves.
    for (;;) {
      const uint8_t* node = ring + p;
      const uint64_t word1 = LoadOrdered(node + 1);
      const uint64_t word2 = LoadOrdered(node + 9);
      const uint64_t word3 = F == 18 ? uint64_t(node[F - 1]) << 56 : 0;
      const uint64_t x1 = key1 ^ word1;
      const uint64_t x2 = key2 ^ word2;
      const uint64_t x3 = key3 ^ word3;
      if ((x1 | x2 | x3) == 0) {  // all F bytes are equal
        Replace(p, r);
        return;
      }
      const bool first = x1 != 0;
      const bool second = x2 != 0;
      const uint32_t length = Choose(first, 1 + uint32_t(__builtin_clzll(x1 | 1)) / 8,
                                     Choose(second, 9 + uint32_t(__builtin_clzll(x2 | 1)) / 8, 17));
      const uint32_t greater =
          Choose(first, key1 > word1, Choose(second, key2 > word2, key3 > word3));
      KeepIfLess(F - length, p, shortfall, bestPosition);
      const uint32_t at = p * 2 + greater;
      if (child[at] == kNil) {
        Hang(r, at);
        matchLength = F - uint32_t(shortfall);
        matchPosition = uint32_t(bestPosition);
        fullMatch = kNil;
        return;
      }
      p = child[at];
    }
  }

  // Hangs the new node r, with no children, at slot `at`.
  void Hang(uint32_t r, size_t at) {
    keyWord[r] = LoadOrdered(ring + r + 1);
    child[r * 2] = child[r * 2 + 1] = kNil;
    Link(uint32_t(at), r);
  }

  // r takes the place of p, which holds the same F bytes: the longest match.
  void Replace(uint32_t p, uint32_t r) {
    matchLength = F;
    matchPosition = p;
    fullMatch = p;
    keyWord[r] = keyWord[p];
    Link(r * 2, child[p * 2]);
    Link(r * 2 + 1, child[p * 2 + 1]);
    Link(slot[p], r);
    slot[p] = kNoSlot;
  }

  // Removes position p; with two children, the rightmost node of its left
  // subtree takes its place, otherwise its only child (or none) does.
  // Whether p has two children, and how far the rightmost node lies, are as
  // good as random, so the common cases run without branches: the descent
  // takes up to two steps by conditional moves (from the empty node, whose
  // right child is always empty, when there is nothing to descend), and the
  // links that only the two-children case makes go to a scratch slot
  // otherwise. Stray parent slots this leaves are those of nodes that the
  // final link (or the empty node's own slot) takes care of.
  void Delete(uint32_t p) {
    const uint32_t at = slot[p];
    if (at == kNoSlot) return;
    const uint32_t left = child[p * 2];
    const uint32_t right = child[p * 2 + 1];
    const bool two = (left != kNil) & (right != kNil);
    uint32_t q = Choose(two, left, kNil);
    for (int step = 0; step < 2; ++step) q = UnlessEmpty(child[q * 2 + 1], q);
    while (child[q * 2 + 1] != kNil) [[unlikely]] q = child[q * 2 + 1];
    // q's left subtree takes q's place (when q is p's left child itself,
    // that place is p's own left link, which dies with p).
    const uint32_t inner = child[q * 2];
    Link(Choose(two, slot[q], kScratch), Choose(two, inner, kNil));
    // q receives p's left subtree, or keeps its own when it is p's left child.
    Link(Choose(two, q * 2, kScratch), Choose(two, Choose(q == left, inner, left), kNil));
    // q receives p's right subtree.
    Link(Choose(two, q * 2 + 1, kScratch), right);
    Link(at, Choose(two, q, UnlessEmpty(left, right)));
    slot[p] = kNoSlot;
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
    for (uint32_t i = 1; i <= uint32_t(F); ++i) Insert<false>(r - i);
    Insert<true>(r);

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
        if (i + 1 < length) {
          Insert<false>(r);
        } else {
          Insert<true>(r);
        }
      }
      for (; i < length; ++i) {
        Delete(s);
        s = (s + 1) & kRingMask;
        r = (r + 1) & kRingMask;
        if (--lookahead != 0) {
          if (i + 1 < length) {
            Insert<false>(r);
          } else {
            Insert<true>(r);
          }
        }
      }
    } while (lookahead > 0);

    if (groupLength > 1) Flush(group, groupLength, output, written);
    return written;
  }

  // Appends a finished group; false when the output is full (the group is
  // cut at the capacity).
  static bool Flush(const uint8_t* group, size_t groupLength, std::span<uint8_t> output, size_t& written) {
    const size_t count = std::min(groupLength, output.size() - written);
    if (count != 0) std::memcpy(output.data() + written, group, count);  // an empty output may have no data
    written += count;
    return written < output.size();
  }
};

template <int F>
size_t EncodeWith(ByteSpan input, std::span<uint8_t> output) {
  // Init() sets every part of the state that is read before it is written.
  auto encoder = std::make_unique_for_overwrite<LzssEncoder<F>>();
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
