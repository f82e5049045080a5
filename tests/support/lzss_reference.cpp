#include "support/lzss_reference.h"

#include <memory>
#include <vector>

namespace fpskit::support {

namespace {

constexpr int N = 4096;    // ring size
constexpr int NIL = N;     // the empty link

struct DirectEncoder {
  DirectEncoder(ByteSpan in, int type, uint8_t* out, size_t cap)
      : F(type == 3 ? 17 : 18), text(N + F - 1), left(N + 1), right(N + 257), parent(N + 1),
        input(in), output(out), capacity(cap) {}

  const int F;
  std::vector<uint8_t> text;
  std::vector<int> left, right, parent;
  int matchPosition = 0;
  int matchLength = 0;

  ByteSpan input;
  size_t inputPosition = 0;
  uint8_t* output;
  size_t capacity;
  size_t written = 0;

  // The next input byte, or -1 at the end.
  int ReadByte() { return inputPosition < input.size() ? input[inputPosition++] : -1; }

  // False once the output has reached its capacity.
  bool WriteByte(uint8_t b) {
    if (written == capacity) return false;
    output[written++] = b;
    return true;
  }

  void FillRing() {
    int i = 0;
    for (int c = 0; c < 256; ++c) {
      for (int k = 0; k < 4; ++k) { text[i++] = uint8_t(c); text[i++] = 0; }
    }
    for (int c = 0; c < 256; ++c) {
      for (int k = 0; k < 3; ++k) { text[i++] = uint8_t(c); text[i++] = 0xFF; }
      text[i++] = uint8_t(c);
    }
    while (i < N) text[i++] = 0;
    for (int k = 0; k < F - 1; ++k) text[N + k] = text[k];
  }

  void InitTrees() {
    for (int i = N + 1; i <= N + 256; ++i) right[i] = NIL;
    for (int i = 0; i < N; ++i) parent[i] = NIL;
  }

  void InsertNode(int r) {
    int cmp = 1;
    int p = N + 1 + text[r];
    right[r] = left[r] = NIL;
    matchLength = 0;
    int i = 0;
    for (;;) {
      if (cmp >= 0) {
        if (right[p] != NIL) {
          p = right[p];
        } else {
          right[p] = r;
          parent[r] = p;
          return;
        }
      } else {
        if (left[p] != NIL) {
          p = left[p];
        } else {
          left[p] = r;
          parent[r] = p;
          return;
        }
      }
      for (i = 1; i < F; ++i) {
        cmp = text[r + i] - text[p + i];
        if (cmp != 0) break;
      }
      if (i > matchLength) {
        matchPosition = p;
        matchLength = i;
        if (matchLength >= F) break;
      }
    }
    parent[r] = parent[p];
    left[r] = left[p];
    right[r] = right[p];
    parent[left[p]] = r;
    parent[right[p]] = r;
    if (right[parent[p]] == p) {
      right[parent[p]] = r;
    } else {
      left[parent[p]] = r;
    }
    parent[p] = NIL;
  }

  void DeleteNode(int p) {
    int q;
    if (parent[p] == NIL) return;
    if (right[p] == NIL) {
      q = left[p];
    } else if (left[p] == NIL) {
      q = right[p];
    } else {
      q = left[p];
      if (right[q] != NIL) {
        do {
          q = right[q];
        } while (right[q] != NIL);
        right[parent[q]] = left[q];
        parent[left[q]] = parent[q];
        left[q] = left[p];
        parent[left[p]] = q;
      }
      right[q] = right[p];
      parent[right[p]] = q;
    }
    parent[q] = parent[p];
    if (right[parent[p]] == p) {
      right[parent[p]] = q;
    } else {
      left[parent[p]] = q;
    }
    parent[p] = NIL;
  }

  size_t Encode() {
    FillRing();
    InitTrees();
    uint8_t group[17];
    group[0] = 0;
    int groupLength = 1;
    int mask = 1;
    int s = 0;
    int r = N - F;
    int length = 0;
    int c;
    for (length = 0; length < F && (c = ReadByte()) != -1; ++length) text[r + length] = uint8_t(c);
    if (length == 0) return 0;
    for (int i = 1; i <= F; ++i) InsertNode(r - i);
    InsertNode(r);
    do {
      if (matchLength > length) matchLength = length;
      const size_t unread = input.size() - inputPosition;
      if (size_t(matchLength) >= unread) matchLength = matchLength - 1;
      if (matchLength <= 2) {
        matchLength = 1;
        group[0] |= uint8_t(mask);
        group[groupLength++] = text[r];
      } else {
        group[groupLength++] = uint8_t(matchPosition);
        group[groupLength++] = uint8_t(((matchPosition >> 4) & 0xF0) | (matchLength - 3));
      }
      mask = mask << 1;
      if (mask == 0x100) {
        for (int k = 0; k < groupLength; ++k) {
          if (!WriteByte(group[k])) return written;
        }
        group[0] = 0;
        groupLength = 1;
        mask = 1;
      }
      const int lastMatchLength = matchLength;
      int i;
      for (i = 0; i < lastMatchLength && (c = ReadByte()) != -1; ++i) {
        DeleteNode(s);
        text[s] = uint8_t(c);
        if (s < F - 1) text[s + N] = uint8_t(c);
        s = (s + 1) % N;
        r = (r + 1) % N;
        InsertNode(r);
      }
      while (i++ < lastMatchLength) {
        DeleteNode(s);
        s = (s + 1) % N;
        r = (r + 1) % N;
        if (--length) InsertNode(r);
      }
    } while (length > 0);
    if (groupLength > 1) {
      for (int k = 0; k < groupLength; ++k) {
        if (!WriteByte(group[k])) return written;
      }
    }
    return written;
  }
};

}  // namespace

size_t LzssEncodeDirect(ByteSpan input, int type, uint8_t* output, size_t capacity) {
  auto encoder = std::make_unique<DirectEncoder>(input, type, output, capacity);
  return encoder->Encode();
}

Bytes LzssEncodeDirect(ByteSpan input, int type) {
  Bytes out(input.size() + (input.size() + 7) / 8);
  out.resize(LzssEncodeDirect(input, type, out.data(), out.size()));
  return out;
}

}  // namespace fpskit::support
