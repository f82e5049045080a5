#include "compress/lzss.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <memory>

// The encoder's tree walk makes its as-good-as-random choices with x86-64
// conditional moves written as inline assembly, where the compiler would
// branch. Every such choice has a portable form beside it, which a build
// without assembly (FPSKIT_NO_ASM, set by the CMake option FPSKIT_PORTABLE)
// and every other target compile instead; both give the same output.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && !defined(FPSKIT_NO_ASM)
#define FPSKIT_LZSS_CMOV_ASM 1
#else
#define FPSKIT_LZSS_CMOV_ASM 0
#endif

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

bool ParseLzssHeader(ByteSpan stream, LzssHeader& header) {
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
  if (!ParseLzssHeader(stream, header)) return false;

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
    std::memset(aheadLength, 0, sizeof aheadLength);  // read to choose how the first batch runs
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
#if FPSKIT_LZSS_CMOV_ASM
    asm("cmp %[b], %[a]\n\tcmova %[right], %[left]" : [left] "+r"(left) : [a] "r"(a), [b] "r"(b), [right] "r"(right) : "cc");
    return left;
#else
    return left ^ ((left ^ right) & (0u - uint32_t(a > b)));
#endif
  }

  // `a` when `c`, else `b`, as a conditional move: the choices Delete makes
  // are as good as random, and the compiler would branch on them.
  static uint32_t Choose(bool c, uint32_t a, uint32_t b) {
#if FPSKIT_LZSS_CMOV_ASM
    asm("test %[c], %[c]\n\tcmovne %[a], %[b]" : [b] "+r"(b) : [c] "r"(c), [a] "r"(a) : "cc");
    return b;
#else
    return b ^ ((a ^ b) & (0u - uint32_t(c)));
#endif
  }

  // `link` unless it is the empty link, else `other`, as a conditional move.
  static uint32_t UnlessEmpty(uint32_t link, uint32_t other) {
#if FPSKIT_LZSS_CMOV_ASM
    asm("cmp %[nil], %[link]\n\tcmove %[other], %[link]" : [link] "+r"(link) : [other] "r"(other), [nil] "i"(kNil) : "cc");
    return link;
#else
    return Choose(link == kNil, other, link);
#endif
  }

  // (best, position) = (value, at) when value < best, by conditional moves:
  // whether a step improves the match is as good as random.
  static void KeepIfLess(uint64_t value, size_t at, uint64_t& best, size_t& position) {
#if FPSKIT_LZSS_CMOV_ASM
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
  // same F bytes gives r its place. The F insertions before the first
  // coding position only shape the trees.
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
  // its time in it, so each step does as little as it can: it compares
  // bytes 1 to 8 (byte 0 is equal within a tree) as one ordered word, and a
  // node that shares all eight goes to WalkOn, which compares all F bytes.
  // The longest match so far is kept as the highest bit in which the words
  // differ (see DifferingBit) with its node, replaced only by a strictly
  // longer match so that the first node of the greatest length stays.
  template <bool kFindMatch>
  void Walk(uint32_t r) {
    const size_t root = kRoots + ring[r];
    WalkFrom<kFindMatch>(r, root, child[root * 2 + 1], kNoMatch, 0);
  }

  // Walks on from node p (the root, or a node already compared with r)
  // to its child `next`. The longest match so far is MatchedBytes(best)
  // bytes at bestPosition. Kept out of line: inlined into the loops of
  // steps, the walk's values no longer fit in registers.
  template <bool kFindMatch>
  [[gnu::noinline]] void WalkFrom(uint32_t r, size_t p, size_t next, uint64_t best, size_t bestPosition) {
    const uint64_t key = LoadOrdered(ring + r + 1);
    while (next != kNil) {
      p = next;
      const uint64_t word = keyWord[p];
      const size_t left = child[p * 2];
      const size_t right = child[p * 2 + 1];
      if (word == key) [[unlikely]] {
        WalkOn(r, uint32_t(p), F - MatchedBytes(best), bestPosition);
        return;
      }
      if constexpr (kFindMatch) KeepIfLess(DifferingBit(key, word), p, best, bestPosition);
      next = SelectChild(key, word, uint32_t(left), uint32_t(right));
    }
    const size_t side = p >= kRoots || key > keyWord[p];
    Hang(r, p * 2 + side);
    if constexpr (kFindMatch) {
      matchLength = MatchedBytes(best);
      matchPosition = uint32_t(bestPosition);
    }
    fullMatch = kNil;
  }

  // The highest bit in which two unequal ordered words differ, with its low
  // three bits set so that all bits of a byte give the same value: the
  // smaller, the more leading bytes the words share (8 - value / 8 of them).
  static uint64_t DifferingBit(uint64_t a, uint64_t b) { return uint64_t(__builtin_clzll(a ^ b) ^ 63) | 7; }
  static uint32_t MatchedBytes(uint64_t differingBit) { return 8 - uint32_t(differingBit >> 3); }
  static constexpr uint64_t kNoMatch = 71;  // MatchedBytes gives 0

  // Hangs the new node r, with no children, at slot `at`.
  void Hang(uint32_t r, size_t at) {
    keyWord[r] = LoadOrdered(ring + r + 1);
    child[r * 2] = child[r * 2 + 1] = kNil;
    Link(uint32_t(at), r);
  }

  // The walks of two insertions into different trees in step. A walk is a
  // chain of dependent loads, and two chains side by side take hardly
  // longer than one. With `kWait` (both trees not empty) a walk that has
  // reached its empty link stays at its node (its step then repeats and
  // changes nothing) until the other is done too, so that the loop ends
  // once per pair: that pays when the walks are short and alike, as in data
  // with little repetition. Otherwise the joint walk ends when either walk
  // reaches its empty link, and each goes on alone: with longer walks of
  // unequal lengths, waiting would cost more than the second loop ending.
  // A node that shares the first eight bytes after the first with its key
  // also sends both walks on alone. The matches are kept for steps j and
  // j + 1.
  template <bool kWait>
  void WalkPair(uint32_t ra, uint32_t rb, size_t j) {
    const uint64_t keyA = LoadOrdered(ring + ra + 1);
    const uint64_t keyB = LoadOrdered(ring + rb + 1);
    size_t pA = kRoots + ring[ra];
    size_t pB = kRoots + ring[rb];
    size_t nextA = child[pA * 2 + 1];
    size_t nextB = child[pB * 2 + 1];
    uint64_t bestA = kNoMatch, bestB = kNoMatch;
    size_t positionA = 0, positionB = 0;
    uint64_t wordA = 0, wordB = 0;
    // Nodes are below 4096 and the empty link is 4096, so one test tells
    // whether both links (or either) are empty.
    while (((kWait ? nextA & nextB : nextA | nextB) & kNil) == 0) {
      if constexpr (kWait) {
        pA = UnlessEmpty(uint32_t(nextA), uint32_t(pA));
        pB = UnlessEmpty(uint32_t(nextB), uint32_t(pB));
      } else {
        pA = nextA;
        pB = nextB;
      }
      wordA = keyWord[pA];
      wordB = keyWord[pB];
      const size_t leftA = child[pA * 2], rightA = child[pA * 2 + 1];
      const size_t leftB = child[pB * 2], rightB = child[pB * 2 + 1];
      if ((wordA == keyA) | (wordB == keyB)) [[unlikely]] {
        WalkAlone(ra, pA, wordA, leftA, rightA, bestA, positionA);
        Keep(j);
        WalkAlone(rb, pB, wordB, leftB, rightB, bestB, positionB);
        Keep(j + 1);
        return;
      }
      KeepIfLess(DifferingBit(keyA, wordA), pA, bestA, positionA);
      KeepIfLess(DifferingBit(keyB, wordB), pB, bestB, positionB);
      nextA = SelectChild(keyA, wordA, uint32_t(leftA), uint32_t(rightA));
      nextB = SelectChild(keyB, wordB, uint32_t(leftB), uint32_t(rightB));
    }
    if constexpr (kWait) {
      Hang(ra, pA * 2 + (keyA > wordA));
      Hang(rb, pB * 2 + (keyB > wordB));
      aheadLength[j % kAhead] = uint8_t(MatchedBytes(bestA));
      aheadPosition[j % kAhead] = uint16_t(positionA);
      aheadLength[(j + 1) % kAhead] = uint8_t(MatchedBytes(bestB));
      aheadPosition[(j + 1) % kAhead] = uint16_t(positionB);
      fullMatch = kNil;
    } else {
      WalkFrom<true>(ra, pA, nextA, bestA, positionA);
      Keep(j);
      WalkFrom<true>(rb, pB, nextB, bestB, positionB);
      Keep(j + 1);
    }
  }

  // Goes on alone with the walk of r at node p, whose bytes 1 to 8 are
  // `word` and whose children are left and right, not yet compared.
  void WalkAlone(uint32_t r, size_t p, uint64_t word, size_t left, size_t right, uint64_t best, size_t position) {
    const uint64_t key = LoadOrdered(ring + r + 1);
    if (word == key) {
      WalkOn(r, uint32_t(p), F - MatchedBytes(best), position);
      return;
    }
    KeepIfLess(DifferingBit(key, word), p, best, position);
    WalkFrom<true>(r, p, SelectChild(key, word, uint32_t(left), uint32_t(right)), best, position);
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

  // The tree work of one coding step is fixed by the input alone: delete
  // the position about to be overwritten, write the next input byte there,
  // insert the new coding position. Only which of these insertions' matches
  // start a token depends on the tokens chosen. The steps therefore run in
  // batches ahead of the tokens, each keeping the match it found, so that the
  // tree walks are not held up by the branches on the tokens.
  static constexpr uint32_t kAhead = 256;  // matches kept, a power of two
  static constexpr uint32_t kBatch = 128;  // steps run at a time, less than kAhead
  uint16_t aheadPosition[kAhead];
  uint8_t aheadLength[kAhead];

  // Where the steps have got to.
  struct Steps {
    uint32_t s;   // the write position
    uint32_t r;   // the coding position
    size_t read;  // input bytes read into the ring
    size_t done;  // the last step whose match is kept
  };

  // Keeps the match of the last insertion as the one of step j.
  void Keep(size_t j) {
    aheadPosition[j % kAhead] = uint16_t(matchPosition);
    aheadLength[j % kAhead] = uint8_t(matchLength);
  }

  // The first half of a step: delete position s, write the next input byte
  // there, advance s and r.
  void Advance(ByteSpan input, Steps& at) {
    Delete(at.s);
    if (at.read < input.size()) {
      const uint8_t c = input[at.read++];
      ring[at.s] = c;
      if (at.s < uint32_t(F - 1)) ring[at.s + kLzssRingSize] = c;
    }
    at.s = (at.s + 1) & kRingMask;
    at.r = (at.r + 1) & kRingMask;
  }

  // Runs the steps up to `last`. How depends on the matches of the last
  // batch: short ones (2.5 bytes a step or less, data with little
  // repetition) mean short walks of like lengths, which pair best with
  // waiting; middling ones (up to 12 bytes) mean longer walks of unequal
  // lengths, which pair without waiting. Long ones mean repeated data,
  // where most insertions replace a node that holds the same bytes, found
  // without a walk from the previous one; pairing would break that chain,
  // so those steps run one at a time. The loops are separate functions so
  // that each keeps its values in registers.
  void RunSteps(ByteSpan input, Steps& steps, size_t last) {
    uint32_t matched = 0;
    for (size_t k = 0; k < kBatch; ++k) matched += aheadLength[(steps.done - k) % kAhead];
    if (matched * 2 <= 5 * kBatch) {
      RunPairs<true>(input, steps, last);
    } else if (matched <= 12 * kBatch) {
      RunPairs<false>(input, steps, last);
    } else {
      RunSingles(input, steps, last);
    }
  }

  [[gnu::noinline]] void RunSingles(ByteSpan input, Steps& steps, size_t last) {
    Steps at = steps;
    for (size_t j = at.done + 1; j <= last; ++j) {
      Advance(input, at);
      Insert<true>(at.r);
      Keep(j);
    }
    at.done = last;
    steps = at;
  }

  template <bool kWait>
  [[gnu::noinline]] void RunPairs(ByteSpan input, Steps& steps, size_t last) {
    Steps at = steps;
    size_t j = at.done + 1;
    while (j <= last) {
      // Steps j and j + 1 may walk side by side when their insertions go
      // into different trees and the deletion of step j + 1 is not in the
      // tree of step j's insertion: then neither walk sees what the other
      // step changes (the walk of step j reads no ring byte that step j + 1
      // writes). After a full match the next insertion usually is one too,
      // found without a walk.
      const uint32_t ra = (at.r + 1) & kRingMask;
      const uint32_t rb = (at.r + 2) & kRingMask;
      const uint32_t s1 = (at.s + 1) & kRingMask;
      if (j < last && fullMatch == kNil && ring[ra] != ring[rb] && (slot[s1] == kNoSlot || ring[s1] != ring[ra])) {
        Advance(input, at);
        Advance(input, at);
        if (!kWait || (child[(kRoots + ring[ra]) * 2 + 1] != kNil && child[(kRoots + ring[rb]) * 2 + 1] != kNil)) {
          WalkPair<kWait>(ra, rb, j);
        } else {
          Walk<true>(ra);
          Keep(j);
          Walk<true>(rb);
          Keep(j + 1);
        }
        j += 2;
      } else {
        Advance(input, at);
        Insert<true>(at.r);
        Keep(j);
        j += 1;
      }
    }
    at.done = last;
    steps = at;
  }

  size_t Encode(ByteSpan input, std::span<uint8_t> output) {
    Init();
    const size_t size = input.size();
    const uint32_t first = kLzssRingSize - F;
    const size_t lookahead = std::min<size_t>(F, size);
    if (lookahead == 0) return 0;
    std::memcpy(ring + first, input.data(), lookahead);
    for (uint32_t i = 1; i <= uint32_t(F); ++i) Insert<false>(first - i);
    Insert<true>(first);
    Keep(0);
    Steps steps{0, first, lookahead, 0};

    uint8_t group[1 + 2 * 8];
    size_t groupLength = 1;
    uint32_t mask = 1;
    group[0] = 0;
    size_t written = 0;

    // Step j codes ring position first + j; by then min(size, lookahead + j)
    // input bytes are read and min(lookahead, size - j) remain to code.
    // Before `tail` those are lookahead + j and lookahead = F, more than
    // F bytes are unread, and the match stands as found.
    const size_t tail = size > 2 * F ? size - 2 * F : 0;
    size_t j = 0;
    do {
      if (j > steps.done) RunSteps(input, steps, std::min(size - 1, j + kBatch));
      int32_t length = aheadLength[j % kAhead];
      if (j >= tail) [[unlikely]] {
        const size_t read = std::min(size, lookahead + j);
        length = int32_t(std::min<size_t>(size_t(length), std::min(lookahead, size - j)));
        if (size_t(length) >= size - read) --length;  // a match reaching as far as the input goes
      }
      if (length <= 2) {
        length = 1;
        group[0] |= uint8_t(mask);
        group[groupLength++] = ring[(first + j) & kRingMask];
      } else {
        const uint32_t position = aheadPosition[j % kAhead];
        group[groupLength++] = uint8_t(position);
        group[groupLength++] = uint8_t(((position >> 4) & 0xF0) | uint32_t(length - 3));
      }
      mask <<= 1;
      if (mask == 0x100) {
        if (!Flush(group, groupLength, output, written)) return written;
        group[0] = 0;
        groupLength = 1;
        mask = 1;
      }
      j += size_t(length);
    } while (j < size);

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
