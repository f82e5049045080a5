#include "compress/lzma_block.h"

#include <lzma.h>

#include <algorithm>

namespace fpskit {

struct LzmaCoderState {
  lzma_stream stream = LZMA_STREAM_INIT;
};

void LzmaCoderRelease::operator()(LzmaCoderState* coder) const {
  lzma_end(&coder->stream);
  delete coder;
}

LzmaCoder NewLzmaCoder() { return LzmaCoder(new LzmaCoderState); }

namespace {

// Output grows in steps of this size at most, so memory follows the output.
constexpr size_t kOutputStep = 65536;
// liblzma's smallest dictionary.
constexpr uint32_t kMinimumDictionary = 4096;

lzma_match_finder MatchFinderOf(const LzmaBlockSettings& settings) {
  if (settings.btMode != 0) {
    if (settings.numHashBytes <= 2) return LZMA_MF_BT2;
    return settings.numHashBytes == 3 ? LZMA_MF_BT3 : LZMA_MF_BT4;
  }
  return settings.numHashBytes <= 3 ? LZMA_MF_HC3 : LZMA_MF_HC4;
}

// The settings as liblzma's options for the raw LZMA1 filter. The level gives
// the starting point; every other setting overrides its part of it.
lzma_options_lzma EncoderOptionsOf(const LzmaBlockSettings& settings) {
  lzma_options_lzma options{};
  lzma_lzma_preset(&options, std::min<uint32_t>(settings.level, 9));
  options.dict_size = std::max(settings.dictSize, kMinimumDictionary);
  options.lc = settings.lc;
  options.lp = settings.lp;
  options.pb = settings.pb;
  options.mode = settings.algo != 0 ? LZMA_MODE_NORMAL : LZMA_MODE_FAST;
  options.nice_len = settings.fb;
  options.mf = MatchFinderOf(settings);
  options.depth = settings.mc;
  options.ext_flags = settings.writeEndMark != 0 ? LZMA_LZMA1EXT_ALLOW_EOPM : 0;
  return options;
}

// Properties as the decoder needs them; false when the first byte is not a
// valid lc/lp/pb combination.
bool DecoderOptionsOf(const LzmaProperties& properties, uint64_t size, lzma_options_lzma& options) {
  const uint32_t packed = properties[0];
  if (packed >= 9 * 5 * 5) return false;
  options = lzma_options_lzma{};
  options.lc = packed % 9;
  options.lp = (packed / 9) % 5;
  options.pb = packed / 45;
  // A dictionary larger than the output can never be referenced, so a large
  // claim in the properties need not be allocated.
  const uint64_t dictionary = std::min<uint64_t>(ByteReader(properties, 1).U32LE(), size);
  options.dict_size = uint32_t(std::max<uint64_t>(dictionary, kMinimumDictionary));
  // The size is known, so no end marker is needed; one that other encoders
  // write right after the last byte is accepted.
  options.ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
  lzma_set_ext_size(options, size);
  return true;
}

}  // namespace

LzmaProperties LzmaPropertiesOf(const LzmaBlockSettings& settings) {
  LzmaProperties properties{};
  properties[0] = uint8_t((settings.pb * 5 + settings.lp) * 9 + settings.lc);
  StoreU32LE(properties.data() + 1, settings.dictSize);
  return properties;
}

LzmaStreamEnd EncodeLzmaStream(LzmaCoder& coder, ByteSpan block, const LzmaBlockSettings& settings,
                               size_t limit, Bytes& stream) {
  stream.clear();
  lzma_options_lzma options = EncoderOptionsOf(settings);
  const lzma_filter filters[] = {{LZMA_FILTER_LZMA1EXT, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  lzma_stream& strm = coder->stream;
  if (lzma_raw_encoder(&strm, filters) != LZMA_OK) return LzmaStreamEnd::kCorrupt;

  // One byte of room beyond the limit tells a stream of exactly `limit` bytes
  // from a longer one.
  const size_t capacity = limit == SIZE_MAX ? limit : limit + 1;
  strm.next_in = block.data();
  strm.avail_in = block.size();
  strm.next_out = nullptr;
  strm.avail_out = 0;
  for (;;) {
    const size_t produced = stream.size() - strm.avail_out;
    if (strm.avail_out == 0) {
      if (produced >= capacity) return LzmaStreamEnd::kTooLong;
      const size_t grown = std::min(capacity, produced + std::max(kOutputStep, produced / 2));
      stream.resize(grown);
      strm.next_out = stream.data() + produced;
      strm.avail_out = grown - produced;
    }
    const lzma_ret ret = lzma_code(&strm, LZMA_FINISH);
    if (ret == LZMA_OK) continue;
    stream.resize(stream.size() - strm.avail_out);
    strm.avail_out = 0;
    if (ret != LZMA_STREAM_END) return LzmaStreamEnd::kCorrupt;
    return stream.size() > limit ? LzmaStreamEnd::kTooLong : LzmaStreamEnd::kComplete;
  }
}

LzmaStreamEnd DecodeLzmaStream(LzmaCoder& coder, const LzmaProperties& properties, uint64_t size,
                               ByteSpan stream, Bytes& out) {
  out.clear();
  lzma_options_lzma options;
  if (!DecoderOptionsOf(properties, size, options)) return LzmaStreamEnd::kCorrupt;
  const lzma_filter filters[] = {{LZMA_FILTER_LZMA1EXT, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  lzma_stream& strm = coder->stream;
  if (size == 0) return LzmaStreamEnd::kComplete;
  if (lzma_raw_decoder(&strm, filters) != LZMA_OK) return LzmaStreamEnd::kCorrupt;

  strm.next_in = stream.data();
  strm.avail_in = stream.size();
  strm.next_out = nullptr;
  strm.avail_out = 0;
  for (;;) {
    size_t produced = out.size() - strm.avail_out;
    if (produced == size) return LzmaStreamEnd::kComplete;
    if (strm.avail_out == 0) {
      const size_t grown = size_t(std::min<uint64_t>(size, produced + kOutputStep));
      out.resize(grown);
      strm.next_out = out.data() + produced;
      strm.avail_out = grown - produced;
    }
    const lzma_ret ret = lzma_code(&strm, LZMA_RUN);
    if (ret == LZMA_OK && (strm.avail_out == 0 || strm.avail_in != 0)) continue;
    produced = out.size() - strm.avail_out;
    out.resize(produced);
    strm.avail_out = 0;
    if (produced == size) return LzmaStreamEnd::kComplete;
    // All input was given: a decoder that is still waiting for more, or that
    // met an end marker early, has a stream too short for its size.
    if (ret == LZMA_OK || ret == LZMA_BUF_ERROR || ret == LZMA_STREAM_END) return LzmaStreamEnd::kInputEnded;
    return LzmaStreamEnd::kCorrupt;
  }
}

Bytes EncodeLzmaBlock(ByteSpan block, const LzmaBlockSettings& settings) {
  LzmaCoder coder = NewLzmaCoder();
  Bytes stream;
  if (EncodeLzmaStream(coder, block, settings, SIZE_MAX, stream) != LzmaStreamEnd::kComplete) return {};
  Bytes result;
  result.reserve(kLzmaHeaderSize + stream.size());
  const LzmaProperties properties = LzmaPropertiesOf(settings);
  AppendBytes(result, properties);
  AppendU32LE(result, uint32_t(block.size()));
  AppendU32LE(result, uint32_t(uint64_t(block.size()) >> 32));
  AppendBytes(result, stream);
  return result;
}

LzmaStreamEnd DecodeLzmaBlock(ByteSpan block, Bytes& out) {
  out.clear();
  ByteReader reader(block);
  LzmaProperties properties;
  const ByteSpan propertyBytes = reader.Span(kLzmaPropertiesSize);
  const uint32_t size = reader.U32LE();
  reader.Skip(4);  // the size's high 32 bits
  if (!reader.ok()) return LzmaStreamEnd::kCorrupt;
  std::copy(propertyBytes.begin(), propertyBytes.end(), properties.begin());
  LzmaCoder coder = NewLzmaCoder();
  return DecodeLzmaStream(coder, properties, size, block.subspan(reader.position()), out);
}

}  // namespace fpskit
