#include "compress/lzss.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/builders.h"
#include "support/lzss_builder.h"
#include "support/lzss_reference.h"

namespace fpskit {
namespace {

using support::LzssStream;
using support::LzssTokenWriter;

Bytes Encode(ByteSpan input, int type = 1) {
  Bytes out(LzssMaxEncodedSize(input.size()));
  out.resize(LzssEncode(input, type, out));
  return out;
}

// Decodes and expects a complete stream.
Bytes Decode(ByteSpan stream) {
  Bytes out;
  EXPECT_TRUE(LzssDecode(stream, out));
  return out;
}

Bytes Repeat(uint8_t value, size_t count) { return Bytes(count, value); }

bool IsPrefix(ByteSpan prefix, ByteSpan whole) {
  return prefix.size() <= whole.size() && std::equal(prefix.begin(), prefix.end(), whole.begin());
}

// ---------------------------------------------------------------- decoder

TEST(LzssDecode, ReadsLiteralsAcrossFlagGroupsInBothHeaderForms) {
  const Bytes text = support::ToBytes("twenty bytes of text");
  const Bytes tokens = LzssTokenWriter().Literals(text).data();
  ASSERT_EQ(tokens.size(), text.size() + 3);  // three flag bytes
  const uint32_t size = uint32_t(text.size());

  for (bool longForm : {false, true}) {
    const Bytes stream = LzssStream(1, tokens, size, longForm);
    ASSERT_EQ(stream.size(), tokens.size() + (longForm ? 12u : 9u));
    EXPECT_EQ(Decode(stream), text);
  }
  // Only "SLZ" marks the long form: a short header of type 'S' whose
  // compressed size starts with 'L' is still a short header.
  const Bytes letters = support::RandomBytes(67, 3);
  const Bytes lettersTokens = LzssTokenWriter().Literals(letters).data();
  const Bytes almostLong = LzssStream('S', lettersTokens, 67);
  ASSERT_EQ(support::ToString(ByteSpan(almostLong).first(2)), "SL");
  EXPECT_EQ(Decode(almostLong), letters);
}

TEST(LzssDecode, FirstTokensSeeThePreFilledRing) {
  const Bytes tokens = LzssTokenWriter()
                           .Match(4092, 18)     // wraps to the pairs of c = 0 and 1
                           .Match(3840, 18)     // zeros
                           .Match(4060, 18)     // zeros up to 4077
                           .Match(0x41 * 8, 6)  // pairs c 00 of c = 0x41
                           .Match(2040, 10)     // end of the pairs, start of c FF c FF c FF c
                           .Match(2048 + 7 * 0x10, 7)
                           .data();
  Bytes expected = Repeat(0, 12);
  for (uint8_t b : {0x01, 0x00, 0x01, 0x00, 0x01, 0x00}) expected.push_back(b);
  expected.insert(expected.end(), 36, 0x00);
  for (uint8_t b : {0x41, 0x00, 0x41, 0x00, 0x41, 0x00}) expected.push_back(b);
  for (uint8_t b : {0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0x00, 0xFF}) expected.push_back(b);
  for (uint8_t b : {0x10, 0xFF, 0x10, 0xFF, 0x10, 0xFF, 0x10}) expected.push_back(b);
  EXPECT_EQ(Decode(LzssStream(1, tokens, uint32_t(expected.size()))), expected);
}

TEST(LzssDecode, MatchesReadWhatTheOutputWroteIntoTheRing) {
  // Writing starts at 4078: after one literal, a match at 4078 of 18 bytes
  // overlaps its own output and repeats the literal.
  const Bytes overlapping = LzssTokenWriter().Literal('x').Match(4078, 18).Match(4078, 3).data();
  EXPECT_EQ(Decode(LzssStream(1, overlapping, 22)), Repeat('x', 22));

  // A period-two overlap.
  const Bytes pairs = LzssTokenWriter().Literal('a').Literal('b').Match(4078, 7).data();
  EXPECT_EQ(support::ToString(Decode(LzssStream(1, pairs, 9))), "ababababa");

  // A match at the position about to be written reads the byte still
  // there: after 100 bytes that is the pre-fill at 82 (pairs of c = 10) ...
  const Bytes hundred = support::RandomBytes(100, 6);
  Bytes expected = hundred;
  for (uint8_t b : {0x0A, 0x00, 0x0A, 0x00}) expected.push_back(b);
  EXPECT_EQ(Decode(LzssStream(1, LzssTokenWriter().Literals(hundred).Match(82, 4).data(), 104)), expected);

  // ... and after 4096 bytes, at 4078, it is the first output byte; after
  // 4100, position 4078 holds output byte 4096.
  const Bytes text = support::RandomBytes(4100, 7);
  const ByteSpan first4096 = ByteSpan(text).first(4096);
  expected.assign(first4096.begin(), first4096.end());
  expected.insert(expected.end(), text.begin(), text.begin() + 5);
  EXPECT_EQ(Decode(LzssStream(1, LzssTokenWriter().Literals(first4096).Match(4078, 5).data(), 4101)), expected);
  expected = text;
  expected.insert(expected.end(), text.begin() + 4096, text.begin() + 4100);
  EXPECT_EQ(Decode(LzssStream(1, LzssTokenWriter().Literals(text).Match(4078, 4).data(), 4104)), expected);
}

TEST(LzssDecode, TypeThreeHasRunsAndShorterMatches) {
  LzssTokenWriter writer;
  writer.Literal('q')
      .Match(4079, 17)   // type 3 writes from 4079: repeats 'q'
      .Run('r', 4)
      .Run('s', 18)
      .Run('t', 19)
      .Run('u', 274)
      .Match(3840, 14);
  std::string expected = std::string(18, 'q') + std::string(4, 'r') + std::string(18, 's') +
                         std::string(19, 't') + std::string(274, 'u') + std::string(14, '\0');
  const Bytes stream = LzssStream(3, writer.data(), uint32_t(expected.size()));
  EXPECT_EQ(support::ToString(Decode(stream)), expected);

  // The same length field 15 in a type 1 stream is an 18-byte match.
  const Bytes plain = LzssTokenWriter().Literal('q').Match(4078, 18).data();
  EXPECT_EQ(Decode(LzssStream(1, plain, 19)), Repeat('q', 19));
}

TEST(LzssDecode, OtherTypesDecodeAsTypeOne) {
  const Bytes tokens = LzssTokenWriter().Literal('z').Match(4078, 18).Literal('!').data();
  const Bytes expected = [] { Bytes b = Repeat('z', 19); b.push_back('!'); return b; }();
  for (uint8_t type : {0, 1, 2, 4, 0xFF}) {
    EXPECT_EQ(Decode(LzssStream(type, tokens, 20)), expected) << int(type);
  }
}

TEST(LzssDecode, EmptyStreamAndClosingFlagByte) {
  EXPECT_EQ(Decode(LzssStream(1, {}, 0)), Bytes());
  // A flag byte with no token after it ends the stream.
  Bytes tokens = LzssTokenWriter().Literals(support::ToBytes("12345678")).data();
  tokens.push_back(0x00);
  EXPECT_EQ(support::ToString(Decode(LzssStream(1, tokens, 8))), "12345678");
}

TEST(LzssDecode, ReportsHeadersShorterThanTheirForm) {
  Bytes out{1, 2, 3};
  EXPECT_FALSE(LzssDecode(Bytes{}, out));
  EXPECT_TRUE(out.empty());
  EXPECT_FALSE(LzssDecode(Bytes(8, 0), out));
  EXPECT_TRUE(LzssDecode(Bytes(9, 0), out));  // type 0, nothing to produce
  EXPECT_FALSE(LzssDecode(support::ToBytes("SLZ\x01" "abcdefg"), out));
}

TEST(LzssDecode, EveryTruncationIsReportedAndKeepsWhatWasProduced) {
  const Bytes data = support::ScriptLikeBytes(3000, 11);
  Bytes stream;
  ASSERT_TRUE(LzssEncodeStream(data, stream));
  ASSERT_EQ(Decode(stream), data);
  for (size_t cut = 0; cut < stream.size(); ++cut) {
    Bytes out;
    EXPECT_FALSE(LzssDecode(ByteSpan(stream).first(cut), out)) << cut;
    EXPECT_TRUE(IsPrefix(out, data)) << cut;
  }
}

TEST(LzssDecode, SizesThatDisagreeWithTheTokens) {
  const Bytes data = support::ScriptLikeBytes(2000, 5);
  Bytes stream;
  ASSERT_TRUE(LzssEncodeStream(data, stream));
  Bytes out;

  // Declared too small: nothing is produced past it.
  Bytes shortDeclared = stream;
  StoreU32LE(shortDeclared.data() + 5, 1500);
  EXPECT_FALSE(LzssDecode(shortDeclared, out));
  EXPECT_EQ(out, Bytes(data.begin(), data.begin() + 1500));

  // Declared too large: everything the tokens give, reported incomplete.
  Bytes longDeclared = stream;
  StoreU32LE(longDeclared.data() + 5, 2001);
  EXPECT_FALSE(LzssDecode(longDeclared, out));
  EXPECT_EQ(out, data);

  // An absurd size does not make the decoder allocate it.
  StoreU32LE(longDeclared.data() + 5, 0xFFFFFFFF);
  EXPECT_FALSE(LzssDecode(longDeclared, out));
  EXPECT_EQ(out, data);

  // Compressed size shorter than the token data: decoding stops there.
  Bytes shortData = stream;
  StoreU32LE(shortData.data() + 1, LoadU32LE(stream.data() + 1) - 40);
  EXPECT_FALSE(LzssDecode(shortData, out));
  EXPECT_TRUE(IsPrefix(out, data));
  EXPECT_LT(out.size(), data.size());

  // Compressed size past the end of the stream.
  Bytes longData = stream;
  StoreU32LE(longData.data() + 1, LoadU32LE(stream.data() + 1) + 1);
  EXPECT_FALSE(LzssDecode(longData, out));
  EXPECT_EQ(out, data);
}

TEST(LzssDecode, TokensCutInsideTheTokenData) {
  Bytes out;
  // A match with only its first byte.
  Bytes match = LzssTokenWriter().Literal('a').Match(4078, 3).data();
  match.pop_back();
  EXPECT_FALSE(LzssDecode(LzssStream(1, match, 4), out));
  EXPECT_EQ(support::ToString(out), "a");
  // A long run without its value byte.
  Bytes run = LzssTokenWriter().Run('v', 30).data();
  run.pop_back();
  EXPECT_FALSE(LzssDecode(LzssStream(3, run, 30), out));
  EXPECT_TRUE(out.empty());
  // A run and a match that overrun the declared size stop at it.
  EXPECT_FALSE(LzssDecode(LzssStream(3, LzssTokenWriter().Run('v', 100).data(), 60), out));
  EXPECT_EQ(out, Repeat('v', 60));
  EXPECT_FALSE(LzssDecode(LzssStream(1, LzssTokenWriter().Match(3840, 18).data(), 5), out));
  EXPECT_EQ(out, Repeat(0, 5));
}

TEST(LzssDecode, SurvivesArbitraryBytes) {
  support::Random random(99);
  for (int round = 0; round < 3000; ++round) {
    Bytes stream = support::RandomBytes(random.Below(200), random.Next());
    if (stream.size() >= 9) {
      stream[0] = uint8_t(round % 2 ? 3 : 1);
      StoreU32LE(stream.data() + 1, random.Below(260));
      StoreU32LE(stream.data() + 5, random.Below(4000));
    }
    Bytes out;
    LzssDecode(stream, out);
    EXPECT_LE(out.size(), stream.size() >= 9 ? LoadU32LE(stream.data() + 5) : 0u);
  }
}

// ---------------------------------------------------------------- encoder

TEST(LzssEncode, TwentyEqualBytes) {
  const Bytes input = Repeat(0x41, 20);
  const Bytes expected{0x0D, 0x41, 0xEE, 0xFE, 0x41, 0x41};
  EXPECT_EQ(Encode(input), expected);
  EXPECT_EQ(support::LzssEncodeDirect(input), expected);
}

TEST(LzssEncode, TinyInputsAreLiterals) {
  EXPECT_EQ(Encode(Bytes{}), Bytes());
  EXPECT_EQ(Encode(Bytes{0x7A}), (Bytes{0x01, 0x7A}));
  EXPECT_EQ(Encode(Bytes{0x7A, 0x7A}), (Bytes{0x03, 0x7A, 0x7A}));
  // Three zeros would match the zeros of the pre-filled ring, but every byte
  // has been read into the ring, so the match is shortened to a literal.
  EXPECT_EQ(Encode(Bytes{0, 0, 0}), (Bytes{0x07, 0, 0, 0}));
}

TEST(LzssEncode, MatchesTheZerosBeforeTheCodingPosition) {
  // The positions inserted before the first byte hold pre-filled zeros.
  const Bytes input = Repeat(0, 40);
  const Bytes tokens = Encode(input);
  EXPECT_EQ(tokens[0] & 1, 0);
  const uint32_t position = tokens[1] | ((tokens[2] & 0xF0) << 4);
  EXPECT_GE(position, 4060u);
  EXPECT_LE(position, 4077u);
  EXPECT_EQ(Decode(LzssStream(1, tokens, 40)), input);
}

TEST(LzssEncode, CutsAtTheCapacity) {
  const Bytes input = support::ScriptLikeBytes(5000, 3);
  const Bytes full = Encode(input);
  ASSERT_GT(full.size(), 100u);
  for (size_t capacity : {size_t(0), size_t(1), size_t(16), size_t(17), size_t(18), size_t(99), full.size() - 1,
                          full.size(), full.size() + 1}) {
    Bytes out(capacity, 0xCC);
    const size_t count = LzssEncode(input, 1, out);
    EXPECT_EQ(count, std::min(capacity, full.size())) << capacity;
    out.resize(count);
    EXPECT_TRUE(IsPrefix(out, full)) << capacity;
    Bytes direct(capacity);
    direct.resize(support::LzssEncodeDirect(input, 1, direct.data(), direct.size()));
    EXPECT_EQ(direct, out) << capacity;
  }
}

TEST(LzssEncodeStream, WritesTheShortHeader) {
  const Bytes input = support::ScriptLikeBytes(777, 1);
  Bytes stream;
  ASSERT_TRUE(LzssEncodeStream(input, stream));
  const Bytes tokens = Encode(input);
  ASSERT_EQ(stream.size(), 9 + tokens.size());
  EXPECT_EQ(stream[0], 1);
  EXPECT_EQ(LoadU32LE(stream.data() + 1), tokens.size());
  EXPECT_EQ(LoadU32LE(stream.data() + 5), input.size());
  EXPECT_TRUE(std::equal(tokens.begin(), tokens.end(), stream.begin() + 9));

  ASSERT_TRUE(LzssEncodeStream(Bytes{}, stream));
  EXPECT_EQ(stream, (Bytes{1, 0, 0, 0, 0, 0, 0, 0, 0}));
}

// Inputs that exercise the trees in different ways: no matches, long
// matches, many equal keys (full-length replacements), matches against the
// pre-filled ring and across the ring's wrap, and every end-of-input case.
std::vector<std::pair<std::string, Bytes>> Corpus() {
  std::vector<std::pair<std::string, Bytes>> corpus;
  for (size_t size : {1, 2, 3, 4, 17, 18, 19, 20, 21, 35, 36, 37, 100, 4095, 4096, 4097, 4114, 9000}) {
    const std::string n = std::to_string(size);
    corpus.emplace_back("zeros" + n, Repeat(0, size));
    corpus.emplace_back("random" + n, support::RandomBytes(size, uint32_t(size)));
    corpus.emplace_back("script" + n, support::ScriptLikeBytes(size, uint32_t(size)));
    Bytes binary = support::RandomBytes(size, uint32_t(size) + 1);
    for (uint8_t& b : binary) b &= 1;
    corpus.emplace_back("binary" + n, binary);
    Bytes pattern(size);
    for (size_t i = 0; i < size; ++i) pattern[i] = uint8_t("abcabcabd"[i % 9]);
    corpus.emplace_back("pattern" + n, pattern);
  }
  corpus.emplace_back("script300k", support::ScriptLikeBytes(300 * 1024, 42));
  corpus.emplace_back("random200k", support::RandomBytes(200 * 1024, 43));
  Bytes repetitive = support::ScriptLikeBytes(600, 44);
  while (repetitive.size() < 200 * 1024) repetitive.insert(repetitive.end(), repetitive.begin(), repetitive.begin() + 600);
  corpus.emplace_back("repetitive200k", repetitive);
  // Stretches of random bytes with short copies of earlier bytes here and
  // there (nodes that share their first bytes with the key, full-length
  // replacements), alternating with repeated text: the encoder changes the
  // way it runs the tree steps along the way.
  Bytes mixed;
  support::Random random(45);
  const Bytes block = support::ScriptLikeBytes(700, 46);
  while (mixed.size() < 150 * 1024) {
    for (int k = 0; k < 40; ++k) {
      for (int i = 0; i < 40; ++i) mixed.push_back(uint8_t(random.Next()));
      const size_t from = mixed.size() - 1 - random.Below(uint32_t(std::min<size_t>(mixed.size(), 3000)) - 24);
      const size_t length = 8 + random.Below(14);
      for (size_t i = 0; i < length; ++i) {
        const uint8_t copied = mixed[from + i];
        mixed.push_back(copied);
      }
    }
    for (int k = 0; k < 3; ++k) mixed.insert(mixed.end(), block.begin(), block.end());
  }
  corpus.emplace_back("mixed150k", mixed);
  Bytes ringLike(50000);
  for (size_t i = 0; i < ringLike.size(); ++i) ringLike[i] = (i % 2) ? 0 : uint8_t(i / 8);
  corpus.emplace_back("ringpattern50k", ringLike);
  return corpus;
}

TEST(LzssEncode, MatchesTheDirectEncoderAndRoundTrips) {
  for (const auto& [name, input] : Corpus()) {
    const Bytes fast = Encode(input);
    EXPECT_EQ(fast, support::LzssEncodeDirect(input)) << name;
    EXPECT_LE(fast.size(), LzssMaxEncodedSize(input.size())) << name;
    Bytes stream;
    ASSERT_TRUE(LzssEncodeStream(input, stream));
    EXPECT_EQ(Decode(stream), input) << name;
  }
}

TEST(LzssEncode, TypeThreeKeepsMatchesWithinSeventeenBytes) {
  for (const auto& [name, input] : Corpus()) {
    if (input.size() > 10000) continue;
    const Bytes fast = Encode(input, 3);
    EXPECT_EQ(fast, support::LzssEncodeDirect(input, 3)) << name;
    EXPECT_EQ(Decode(LzssStream(3, fast, uint32_t(input.size()))), input) << name;
  }
}

}  // namespace
}  // namespace fpskit
