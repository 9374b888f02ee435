// Deflate and inflate, RFC 1951.
//
// Compression is greedy LZ77 over the last 64 positions where the current two-byte
// prefix started, tried newest first; the longest match wins and the newest among
// equally long ones.  Blocks are dynamic Huffman blocks closed when the symbol
// buffer fills (or fixed / stored blocks on request).  Filtered image data may ask
// for a second matcher that trades that exact output for smaller files: lazy
// evaluation over three-byte hash chains, short matches left as literals.
//
// Inflation decodes through two-level lookup tables into a window that keeps the
// last 32 KiB of output in front of the bytes not yet read.
#include "compress/deflate_stream.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "base/exception.h"
#include "compress/byte_match.h"
#include "compress/exact_parse.h"
#include "io/memory_stream.h"

namespace sq {

namespace {

constexpr uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t kDistanceBase[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                        33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                        1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                        6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// Order in which the code-length code's lengths are sent.
constexpr uint8_t kCodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

constexpr int kWindowSize = 32768;  // largest match distance
constexpr int kMaxMatch = 258;
constexpr int kMinMatch = 3;
constexpr int kBucketSlots = 64;         // candidates per position of the exact matcher
constexpr int kChainSize = 65536;        // prev links kept; twice the window, see TMatchTable
constexpr int kMaxEntries = 65526;       // a block is closed past this many entries
constexpr size_t kInputWindow = 131072;  // writer's buffer: history plus waiting bytes
constexpr size_t kOutputLimit = 98304;   // reader's buffer: 32 KiB history plus output
constexpr size_t kSlack = 16;            // word-sized reads and copies may run over
// An empty match-table slot reads as this position (a large negative one as a
// signed number); slots are stored relative to it so zeroed memory is empty.
constexpr uint32_t kEmptyPosition = 0x80808080u;

struct TCodeTables {
  uint8_t lengthCode[kMaxMatch + 1];  // length -> code - 257
  uint8_t distanceCode[512];          // see DistanceCode
  TCodeTables() {
    for (int code = 0; code < 29; ++code)
      for (int i = 0; i < (1 << kLengthExtra[code]); ++i) {
        const int length = kLengthBase[code] + i;
        if (length <= kMaxMatch) lengthCode[length] = static_cast<uint8_t>(code);
      }
    lengthCode[kMaxMatch] = 28;  // 258 has a code of its own, not 227 + 31
    for (int code = 0; code < 30; ++code)
      for (int i = 0; i < (1 << kDistanceExtra[code]); ++i) {
        const int d = kDistanceBase[code] + i - 1;
        if (d < 256)
          distanceCode[d] = static_cast<uint8_t>(code);
        else
          distanceCode[256 + (d >> 7)] = static_cast<uint8_t>(code);
      }
  }
  int DistanceCode(uint32_t distance) const {
    const uint32_t d = distance - 1;
    return d < 256 ? distanceCode[d] : distanceCode[256 + (d >> 7)];
  }
};

const TCodeTables& CodeTables() {
  static const TCodeTables tables;
  return tables;
}

// Counts a match in a block's code frequencies and its entries; gives the symbol the
// block keeps for it, which carries its distance code for the writing.
inline uint32_t CountMatch(const TCodeTables& tables, uint32_t length, uint32_t distance, uint32_t* litFreq,
                           uint32_t* distFreq, int& entries) {
  const int lcode = tables.lengthCode[length];
  const int dcode = tables.DistanceCode(distance);
  ++litFreq[257 + lcode];
  ++distFreq[dcode];
  entries += 2 + (kLengthExtra[lcode] > 0) + (kDistanceExtra[dcode] > 0);
  return kMatchFlag | static_cast<uint32_t>(dcode) << 25 | distance << 9 | length;
}

// Counts a literal likewise; gives its symbol.
inline uint32_t CountLiteral(uint32_t byte, uint32_t* litFreq, int& entries) {
  ++litFreq[byte];
  ++entries;
  return byte;
}

void FixedLengths(uint8_t* lit, uint8_t* dist) {
  for (int s = 0; s < 288; ++s) lit[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
  for (int s = 0; s < 30; ++s) dist[s] = 5;
}

// The inflater's tables carry what a symbol means instead of its number: kinds
// below 16 are THuffmanDecoder's plus end-of-block; 16 + n is a length or distance
// base (the value) with n extra bits.
constexpr uint32_t kEndOfBlock = 3;
constexpr uint32_t kBaseKind = 16;

uint32_t Meaning(uint32_t value, uint32_t kind, uint32_t bits) { return (value << 16) | (kind << 8) | bits; }

void PrepareLengthTable(THuffmanDecoder& code) {
  for (uint32_t& e : code.Table) {
    if (THuffmanDecoder::Kind(e) != THuffmanDecoder::kSymbol) continue;
    const uint32_t symbol = THuffmanDecoder::Value(e), bits = THuffmanDecoder::Bits(e);
    if (symbol == 256)
      e = Meaning(0, kEndOfBlock, bits);
    else if (symbol > 256 && symbol < 286)
      e = Meaning(kLengthBase[symbol - 257], kBaseKind + kLengthExtra[symbol - 257], bits);
    else if (symbol >= 286)
      e = Meaning(0, THuffmanDecoder::kInvalid, bits);
  }
}

void PrepareDistanceTable(THuffmanDecoder& code) {
  for (uint32_t& e : code.Table) {
    if (THuffmanDecoder::Kind(e) != THuffmanDecoder::kSymbol) continue;
    const uint32_t symbol = THuffmanDecoder::Value(e), bits = THuffmanDecoder::Bits(e);
    e = symbol < 30 ? Meaning(kDistanceBase[symbol], kBaseKind + kDistanceExtra[symbol], bits)
                    : Meaning(0, THuffmanDecoder::kInvalid, bits);
  }
}

struct TFixedCodes {
  THuffmanEncoder litEncoder, distEncoder;
  THuffmanDecoder litDecoder, distDecoder;
  TFixedCodes() {
    uint8_t lit[288], dist[30];
    FixedLengths(lit, dist);
    litEncoder.Build(lit, 288);
    distEncoder.Build(dist, 30);
    litDecoder.Build(lit, 288, 9);
    distDecoder.Build(dist, 30, 5);
    PrepareLengthTable(litDecoder);
    PrepareDistanceTable(distDecoder);
  }
};

const TFixedCodes& FixedCodes() {
  static const TFixedCodes codes;
  return codes;
}

// Run-length coding of a code-length sequence with the symbols 16 (repeat the
// previous length 3..6 times), 17 (3..10 zeros) and 18 (11..138 zeros).  Each
// output entry is symbol | extra-bit value << 8.
int RunLengthCode(const uint8_t* lengths, int count, uint16_t* out) {
  int n = 0;
  int i = 0;
  while (i < count) {
    const uint8_t value = lengths[i];
    int run = 1;
    while (i + run < count && lengths[i + run] == value) ++run;
    i += run;
    if (value == 0) {
      while (run >= 11) {
        const int r = std::min(run, 138);
        out[n++] = static_cast<uint16_t>(18 | ((r - 11) << 8));
        run -= r;
      }
      if (run >= 3) {
        out[n++] = static_cast<uint16_t>(17 | ((run - 3) << 8));
        run = 0;
      }
    } else {
      out[n++] = value;
      --run;
      while (run >= 3) {
        const int r = std::min(run, 6);
        out[n++] = static_cast<uint16_t>(16 | ((r - 3) << 8));
        run -= r;
      }
    }
    while (run-- > 0) out[n++] = value;
  }
  return n;
}

}  // namespace

// The match table as hash chains: head[key] is the newest position with that key
// and prev[p % kChainSize] the one before p with the same key.  Walking 64 links
// from the head visits exactly the last 64 positions of a two-byte prefix, newest
// first, as a ring of 64 slots per prefix would, in half a megabyte instead of 16
// MiB that miss the cache at almost every position.  A link is only followed from
// a position less than 32 KiB back, so the 64 Ki entries of prev never hold a link
// that was overwritten.  Positions are stored as uint32(p) - kEmptyPosition so
// that zero is "none".
struct TDeflateStream::TMatchTable {
  std::unique_ptr<uint32_t[]> head{new uint32_t[65536]()};
  std::unique_ptr<uint32_t[]> prev{new uint32_t[kChainSize]()};
};

TDeflateStream::TDeflateStream(TBaseStream& next, int direction) : THuffmanBitStream(next) { Init(direction); }

TDeflateStream::TDeflateStream(std::unique_ptr<TBaseStream> next, int direction) : THuffmanBitStream(std::move(next)) {
  Init(direction);
}

TDeflateStream::~TDeflateStream() {
  if (writing_ && !closed_) {
    try {
      Close();
    } catch (...) {
      // A destructor cannot report it; callers that care call Close.
    }
  }
}

void TDeflateStream::Init(int direction) {
  const bool canRead = Next().Readable(), canWrite = Next().Writable();
  if (direction == dirAny) direction = canRead ? dirRead : dirWrite;
  writing_ = direction == dirWrite;
  if (writing_ && !canWrite) throw EInOutError("Stream not open for write");
  if (!writing_ && !canRead) throw EInOutError("Stream not open for read");
  readable_ = !writing_;
  writable_ = writing_;
  if (writing_) {
    window_.reset(new uint8_t[kInputWindow + kSlack]());
    symbols_.reset(new uint32_t[kMaxEntries + 8]);
  } else {
    out_.reset(new uint8_t[kOutputLimit + kMaxMatch + kSlack]());
    StartInput();
  }
}

// ---------------------------------------------------------------- writing

void TDeflateStream::LatchMethod() {
  if (method_ >= 0) return;
  method_ = CompressionMethod == cmFixed || CompressionMethod == cmStored ? CompressionMethod : cmDynamic;
  filtered_ = FilteredData && method_ != cmStored;
  if (method_ != cmStored) matches_ = std::make_unique<TMatchTable>();
}

void TDeflateStream::Write(const void* buffer, size_t count) {
  if (!writing_ || closed_ || parsed_) throw EInOutError("Stream not open for write");
  LatchMethod();
  const auto* data = static_cast<const uint8_t*>(buffer);
  const int64_t maxWaiting = method_ == cmStored ? 65535 : 32767;
  while (count > 0) {
    const size_t n = std::min<size_t>(count, static_cast<size_t>(maxWaiting - (dataEnd_ - lookPos_)));
    if (static_cast<size_t>(dataEnd_ - base_) + n > kInputWindow) SlideInput();
    std::memcpy(window_.get() + (dataEnd_ - base_), data, n);
    dataEnd_ += static_cast<int64_t>(n);
    totalBytes_ += static_cast<int64_t>(n);
    data += n;
    count -= n;
    if (method_ == cmStored) {
      if (dataEnd_ - lookPos_ == maxWaiting) EmitStored(false);
    } else if (dataEnd_ - lookPos_ > kMaxMatch - 1) {
      Deflate(false);
    }
  }
}

void TDeflateStream::WriteParsed(std::span<const uint32_t> symbols) {
  if (!writing_ || closed_ || (dataEnd_ > 0 && !parsed_) || CompressionMethod == cmStored || FilteredData)
    throw EInOutError("Stream not open for write");
  method_ = CompressionMethod == cmFixed ? cmFixed : cmDynamic;
  parsed_ = true;
  int64_t end = dataEnd_;
  // EmitMatch and EmitLiteral with the buffer's fill in locals: this loop runs once
  // for every symbol of every model saved, and the stores into the buffer may alias
  // members, which would then be stored and loaded again at every symbol.
  const TCodeTables& tables = CodeTables();
  uint32_t* const buffer = symbols_.get();
  int count = symbolCount_, entries = entries_;
  for (const uint32_t symbol : symbols) {
    if (symbol & kMatchFlag) {
      const uint32_t length = symbol & 0x1FF;
      buffer[count++] = CountMatch(tables, length, (symbol >> 9) & 0xFFFF, litFreq_, distFreq_, entries);
      end += length;
    } else {
      buffer[count++] = CountLiteral(symbol & 0xFF, litFreq_, entries);
      ++end;
    }
    if (entries > kMaxEntries) {
      symbolCount_ = count;
      entries_ = entries;
      EmitBlock(false);
      count = symbolCount_;
      entries = entries_;
    }
  }
  symbolCount_ = count;
  entries_ = entries;
  totalBytes_ += end - dataEnd_;
  dataEnd_ = lookPos_ = insertPos_ = base_ = end;
}

void TDeflateStream::SlideInput() {
  const int64_t keep = std::max(base_, lookPos_ - (method_ == cmStored ? 0 : kWindowSize));
  std::memmove(window_.get(), window_.get() + (keep - base_), static_cast<size_t>(dataEnd_ - keep));
  base_ = keep;
}

namespace {

// The filtered matcher's key: a hash of four bytes, as it takes no shorter matches.
inline uint32_t HashKey(const uint8_t* p) { return (Load32(p) * 2654435761u) >> 16; }

}  // namespace

void TDeflateStream::InsertPositions(int64_t end) {
  uint32_t* const head = matches_->head.get();
  uint32_t* const prev = matches_->prev.get();
  const uint8_t* p = window_.get() + (insertPos_ - base_);
  for (; insertPos_ < end; ++insertPos_, ++p) {
    const uint32_t key = filtered_ ? HashKey(p) : PrefixKey(p);
    const uint32_t position = static_cast<uint32_t>(insertPos_);
    prev[position & (kChainSize - 1)] = head[key];
    head[key] = position - kEmptyPosition;
  }
}

void TDeflateStream::EmitLiteral(uint8_t byte) { symbols_[symbolCount_++] = CountLiteral(byte, litFreq_, entries_); }

void TDeflateStream::EmitMatch(int length, uint32_t distance) {
  symbols_[symbolCount_++] =
      CountMatch(CodeTables(), static_cast<uint32_t>(length), distance, litFreq_, distFreq_, entries_);
}

void TDeflateStream::Deflate(bool flush) {
  if (filtered_) {
    DeflateFiltered(flush);
    return;
  }
  const uint8_t* const window = window_.get();
  const uint32_t* const head = matches_->head.get();
  const uint32_t* const prev = matches_->prev.get();
  // A position enters the table once the byte after it is known; the last byte of
  // an earlier write may still be waiting for that.
  InsertPositions(std::min(lookPos_, dataEnd_ - 1));
  for (;;) {
    const int64_t waiting = dataEnd_ - lookPos_;
    if (waiting < kMinMatch || (!flush && waiting < kMaxMatch)) break;
    const int maxLength = static_cast<int>(std::min<int64_t>(kMaxMatch, waiting));
    const uint8_t* cur = window + (lookPos_ - base_);
    // Distances come out of 32-bit arithmetic on stored positions; an empty slot
    // is far away, and (after 2 GiB of input) stops the search like one.
    const uint32_t here = static_cast<uint32_t>(lookPos_) - kEmptyPosition;
    int bestLength = 2;
    uint32_t bestDistance = 0;
    uint32_t stored = head[PrefixKey(cur)];
    // Only a candidate that matches through byte bestLength can win, so the four
    // bytes that end there are tested before the long compare (the first two
    // always match: the key is the prefix itself).
    uint32_t probe = Load32(cur);
    int probeAt = 0;
    for (int i = 0; i < kBucketSlots; ++i) {
      const uint32_t distance = here - stored;
      if (distance - 1 >= uint32_t(kWindowSize) || stored == 0) break;
      const uint8_t* candidate = cur - distance;
      stored = prev[(stored + kEmptyPosition) & (kChainSize - 1)];
      if (bestLength == 2 ? candidate[2] != cur[2] : Load32(candidate + probeAt) != probe) continue;
      const int length = 2 + CommonLength(candidate + 2, cur + 2, maxLength - 2);
      if (length > bestLength) {
        bestLength = length;
        bestDistance = distance;
        if (length >= maxLength) break;
        probeAt = bestLength - 3;
        probe = Load32(cur + probeAt);
      }
    }
    if (bestLength >= kMinMatch) {
      EmitMatch(bestLength, bestDistance);
      lookPos_ += bestLength;
    } else {
      EmitLiteral(cur[0]);
      ++lookPos_;
    }
    InsertPositions(std::min(lookPos_, dataEnd_ - 1));
    if (entries_ > kMaxEntries) EmitBlock(false);
  }
  if (flush) {
    while (lookPos_ < dataEnd_) {
      EmitLiteral(window[lookPos_ - base_]);
      ++lookPos_;
      if (entries_ > kMaxEntries) EmitBlock(false);
    }
    InsertPositions(dataEnd_ - 1);
  }
}

namespace {

// Tuning of the filtered matcher.  Filtered rows are small differences: a short
// match far back costs more bits than the literals it replaces.
constexpr int kFilteredChain = 128;       // candidates tried per position
constexpr int kFilteredGoodLength = 8;    // a quarter of the chain once a match this long is in hand
constexpr int kFilteredNiceLength = 128;  // long enough to stop looking
constexpr int kFilteredLazyLength = 16;   // a match this long is taken without looking one byte on
constexpr int kFilteredShortest = 6;      // shorter matches are sent as literals

}  // namespace

// The longest match at `position` longer than atLeast and not shorter than
// kFilteredShortest, from the hash chains: its length (0 when there is none) and its
// distance.
int TDeflateStream::FilteredMatch(int64_t position, int maxLength, int atLeast, uint32_t& distance) const {
  const uint8_t* const cur = window_.get() + (position - base_);
  const uint32_t* const head = matches_->head.get();
  const uint32_t* const prev = matches_->prev.get();
  const uint32_t here = static_cast<uint32_t>(position) - kEmptyPosition;
  int bestLength = std::max(atLeast, kFilteredShortest - 1);
  if (bestLength >= maxLength) return 0;
  int found = 0;
  const int nice = std::min(maxLength, kFilteredNiceLength);
  const uint32_t first = Load32(cur);
  // Only a candidate that matches through byte bestLength can win: its first four
  // bytes (keys are hashes) and the four that end there are tested first.
  uint32_t probe = Load32(cur + bestLength - 3);
  uint32_t stored = head[HashKey(cur)];
  for (int chain = atLeast >= kFilteredGoodLength ? kFilteredChain / 4 : kFilteredChain; chain > 0; --chain) {
    const uint32_t d = here - stored;
    if (d - 1 >= uint32_t(kWindowSize) || stored == 0) break;
    const uint8_t* candidate = cur - d;
    stored = prev[(stored + kEmptyPosition) & (kChainSize - 1)];
    if (Load32(candidate + bestLength - 3) != probe || Load32(candidate) != first) continue;
    const int length = 4 + CommonLength(candidate + 4, cur + 4, maxLength - 4);
    if (length > bestLength) {
      bestLength = found = length;
      distance = d;
      if (length >= nice) break;
      probe = Load32(cur + bestLength - 3);
    }
  }
  return found;
}

void TDeflateStream::DeflateFiltered(bool flush) {
  const uint8_t* const window = window_.get();
  // A position enters the table once the three bytes after it are known.
  InsertPositions(std::min(lookPos_, dataEnd_ - 3));
  for (;;) {
    const int64_t waiting = dataEnd_ - lookPos_;
    if (waiting < kMinMatch || (!flush && waiting < kMaxMatch)) break;
    int length;
    uint32_t distance = 0;
    if (pendingLength_ >= 0) {
      length = pendingLength_;
      distance = pendingDistance_;
      pendingLength_ = -1;
    } else {
      length = FilteredMatch(lookPos_, static_cast<int>(std::min<int64_t>(kMaxMatch, waiting)), 0, distance);
    }
    // Lazy evaluation: while the match one byte on is longer, the current byte goes
    // out as a literal and that match is taken up instead.  A look on that would
    // see fewer bytes than a later write brings waits for them, keeping the match
    // in hand, so that the output does not depend on how the input was cut.
    bool deferred = false;
    while (length > 0 && length < kFilteredLazyLength) {
      const int64_t next = lookPos_ + 1;
      const int64_t ahead = dataEnd_ - next;
      if (!flush && ahead < kMaxMatch) {
        pendingLength_ = length;
        pendingDistance_ = distance;
        deferred = true;
        break;
      }
      if (ahead < kMinMatch) break;
      InsertPositions(std::min(next, dataEnd_ - 3));
      uint32_t nextDistance = 0;
      const int nextLength =
          FilteredMatch(next, static_cast<int>(std::min<int64_t>(kMaxMatch, ahead)), length, nextDistance);
      if (nextLength <= length) break;
      EmitLiteral(window[lookPos_ - base_]);
      lookPos_ = next;
      length = nextLength;
      distance = nextDistance;
      if (entries_ > kMaxEntries) EmitBlock(false);
    }
    if (deferred) break;
    if (length > 0) {
      EmitMatch(length, distance);
      lookPos_ += length;
    } else {
      EmitLiteral(window[lookPos_ - base_]);
      ++lookPos_;
    }
    InsertPositions(std::min(lookPos_, dataEnd_ - 3));
    if (entries_ > kMaxEntries) EmitBlock(false);
  }
  if (flush) {
    while (lookPos_ < dataEnd_) {
      EmitLiteral(window[lookPos_ - base_]);
      ++lookPos_;
      if (entries_ > kMaxEntries) EmitBlock(false);
    }
    InsertPositions(dataEnd_ - 3);
  }
}

void TDeflateStream::WriteSymbols(const THuffmanEncoder& lit, const THuffmanEncoder& dist) {
  // Each length's code and extra bits as one field, and each distance code's parts:
  // a few hundred entries made once per block, looked up by every match in it.
  const TCodeTables& tables = CodeTables();
  struct TField {
    uint32_t Bits;
    int Count;
  };
  TField lengths[kMaxMatch + 1];
  for (int length = kMinMatch; length <= kMaxMatch; ++length) {
    const int lcode = tables.lengthCode[length];
    const int lbits = lit.Lengths[257 + lcode];
    lengths[length] = {lit.Codes[257 + lcode] | static_cast<uint32_t>(length - kLengthBase[lcode]) << lbits,
                       lbits + kLengthExtra[lcode]};
  }
  struct TDistanceField {
    uint32_t Code;
    uint32_t Base;
    int CodeBits;
    int Count;
  };
  TDistanceField distances[30];
  for (int dcode = 0; dcode < 30; ++dcode)
    distances[dcode] = {dist.Codes[dcode], kDistanceBase[dcode], dist.Lengths[dcode],
                        dist.Lengths[dcode] + kDistanceExtra[dcode]};
  // WriteBits with the output state in locals: stores into the output buffer may
  // alias any member, so the members would be stored and loaded again at every write.
  // A spill that fills the block goes through SpillBits, which hands the block on.
  StartOutput();
  uint64_t bits = outBits_;
  int count = outCount_;
  size_t at = outPos_;
  uint8_t* const buffer = outBuf_.get();
  auto write = [&](uint32_t value, int n) {
    bits |= uint64_t(value) << count;
    count += n;
    if (count < 32) return;
    if (at + 4 <= kOutputBlock - 8) {
      const auto word = static_cast<uint32_t>(bits);
      std::memcpy(buffer + at, &word, 4);
      at += 4;
      bits >>= 32;
      count -= 32;
    } else {
      outBits_ = bits;
      outCount_ = count;
      outPos_ = at;
      SpillBits();
      bits = outBits_;
      count = outCount_;
      at = outPos_;
    }
  };
  const uint32_t* const symbols = symbols_.get();
  for (int i = 0, end = symbolCount_; i < end; ++i) {
    const uint32_t s = symbols[i];
    if (!(s & kMatchFlag)) {
      write(lit.Codes[s], lit.Lengths[s]);
      continue;
    }
    const TField& length = lengths[s & 0x1FF];
    write(length.Bits, length.Count);
    const TDistanceField& distance = distances[(s >> 25) & 0x1F];
    write(distance.Code | (((s >> 9) & 0xFFFF) - distance.Base) << distance.CodeBits, distance.Count);
  }
  write(lit.Codes[256], lit.Lengths[256]);
  outBits_ = bits;
  outCount_ = count;
  outPos_ = at;
}

void TDeflateStream::EmitBlock(bool final) {
  ++litFreq_[256];
  if (method_ == cmFixed) {
    WriteBits((final ? 1u : 0u) | (1u << 1), 3);
    WriteSymbols(FixedCodes().litEncoder, FixedCodes().distEncoder);
  } else {
    uint8_t litLengths[286], distLengths[30];
    BuildCodeLengths(litFreq_, 286, 15, litLengths);
    BuildCodeLengths(distFreq_, 30, 15, distLengths);
    // A block without matches still sends one distance code, as every decoder expects.
    if (std::all_of(distLengths, distLengths + 30, [](uint8_t l) { return l == 0; })) distLengths[0] = 1;
    int hlit = 286, hdist = 30;
    while (hlit > 257 && litLengths[hlit - 1] == 0) --hlit;
    while (hdist > 1 && distLengths[hdist - 1] == 0) --hdist;
    uint8_t all[286 + 30];
    std::memcpy(all, litLengths, hlit);
    std::memcpy(all + hlit, distLengths, hdist);
    uint16_t runs[286 + 30];
    const int runCount = RunLengthCode(all, hlit + hdist, runs);
    uint32_t clFreq[19] = {};
    for (int i = 0; i < runCount; ++i) ++clFreq[runs[i] & 0xFF];
    uint8_t clLengths[19];
    BuildCodeLengths(clFreq, 19, 7, clLengths);
    // A code-length code of one symbol would be incomplete, which decoders refuse.
    if (std::count_if(clLengths, clLengths + 19, [](uint8_t l) { return l != 0; }) == 1)
      clLengths[clLengths[0] ? 1 : 0] = 1;
    int hclen = 19;
    while (hclen > 4 && clLengths[kCodeLengthOrder[hclen - 1]] == 0) --hclen;

    WriteBits((final ? 1u : 0u) | (2u << 1), 3);
    WriteBits(static_cast<uint32_t>(hlit - 257), 5);
    WriteBits(static_cast<uint32_t>(hdist - 1), 5);
    WriteBits(static_cast<uint32_t>(hclen - 4), 4);
    for (int i = 0; i < hclen; ++i) WriteBits(clLengths[kCodeLengthOrder[i]], 3);
    THuffmanEncoder clCode;
    clCode.Build(clLengths, 19);
    for (int i = 0; i < runCount; ++i) {
      const int symbol = runs[i] & 0xFF;
      WriteSymbol(clCode, symbol);
      if (symbol == 16) WriteBits(runs[i] >> 8, 2);
      if (symbol == 17) WriteBits(runs[i] >> 8, 3);
      if (symbol == 18) WriteBits(runs[i] >> 8, 7);
    }
    THuffmanEncoder litCode, distCode;
    litCode.Build(litLengths, 286);
    distCode.Build(distLengths, 30);
    WriteSymbols(litCode, distCode);
  }
  symbolCount_ = 0;
  entries_ = 0;
  std::fill(std::begin(litFreq_), std::end(litFreq_), 0u);
  std::fill(std::begin(distFreq_), std::end(distFreq_), 0u);
}

void TDeflateStream::EmitStored(bool final) {
  const uint32_t length = static_cast<uint32_t>(dataEnd_ - lookPos_);
  WriteBits(final ? 1u : 0u, 3);
  AlignOutput();
  WriteBits(length, 16);
  WriteBits(~length & 0xFFFF, 16);
  WriteAlignedBytes(window_.get() + (lookPos_ - base_), length);
  lookPos_ = insertPos_ = dataEnd_;
}

void TDeflateStream::Flush() {
  if (!writing_) return;
  if (closed_) return;
  LatchMethod();
  if (method_ == cmStored) {
    if (dataEnd_ > lookPos_) EmitStored(false);
  } else {
    if (!parsed_) Deflate(true);
    if (symbolCount_ > 0) EmitBlock(false);
  }
  FlushBits();
  TFilterStream::Flush();
}

void TDeflateStream::Close() {
  if (!writing_ || closed_) return;
  closed_ = true;
  LatchMethod();
  if (method_ == cmStored) {
    EmitStored(true);
  } else {
    if (!parsed_) Deflate(true);
    EmitBlock(true);
  }
  AlignOutput();
  FlushBits();
}

// ---------------------------------------------------------------- reading

int64_t TDeflateStream::Available() {
  if (writing_) return 0;
  if (outRead_ == outWrite_ && state_ != sDone) FillWindow(1);
  return static_cast<int64_t>(outWrite_ - outRead_);
}

size_t TDeflateStream::Read(void* buffer, size_t count) {
  if (writing_) throw EInOutError("Stream not open for read");
  auto* out = static_cast<uint8_t*>(buffer);
  size_t copied = 0;
  while (copied < count) {
    if (outRead_ == outWrite_) {
      if (state_ == sDone) break;
      FillWindow(count - copied);
      continue;
    }
    const size_t n = std::min(count - copied, outWrite_ - outRead_);
    std::memcpy(out + copied, out_.get() + outRead_, n);
    outRead_ += n;
    copied += n;
  }
  totalBytes_ += static_cast<int64_t>(copied);
  return copied;
}

void TDeflateStream::FillWindow(size_t want) {
  if (outWrite_ >= kOutputLimit - kWindowSize) {
    std::memmove(out_.get(), out_.get() + outWrite_ - kWindowSize, kWindowSize);
    outRead_ = outWrite_ = kWindowSize;
  }
  const size_t target = outWrite_ + std::min(std::max<size_t>(want, 1), kOutputLimit - outWrite_);
  while (outWrite_ < target && state_ != sDone) {
    switch (state_) {
      case sHeader:
        DecodeBlockHeader();
        break;
      case sStored: {
        const size_t n = std::min<size_t>(storedLeft_, target - outWrite_);
        ReadAlignedBytes(out_.get() + outWrite_, n);
        outWrite_ += n;
        storedLeft_ -= static_cast<uint32_t>(n);
        if (storedLeft_ == 0) state_ = finalBlock_ ? sDone : sHeader;
        break;
      }
      case sHuffman:
        DecodeHuffman(target);
        break;
      case sDone:
        break;
    }
  }
}

void TDeflateStream::DecodeBlockHeader() {
  const uint32_t header = ReadBits(3);
  finalBlock_ = header & 1;
  switch (header >> 1) {
    case 0: {
      AlignInput();
      const uint32_t length = ReadBits(16);
      const uint32_t check = ReadBits(16);
      if (length != (~check & 0xFFFF)) ThrowDataError();
      storedLeft_ = length;
      state_ = length ? sStored : finalBlock_ ? sDone : sHeader;
      break;
    }
    case 1:
      lit_ = &FixedCodes().litDecoder;
      dist_ = &FixedCodes().distDecoder;
      state_ = sHuffman;
      break;
    case 2:
      DecodeDynamicTables();
      lit_ = &litDecoder_;
      dist_ = &distDecoder_;
      state_ = sHuffman;
      break;
    default:
      ThrowDataError();
  }
}

void TDeflateStream::DecodeDynamicTables() {
  const int hlit = static_cast<int>(ReadBits(5)) + 257;
  const int hdist = static_cast<int>(ReadBits(5)) + 1;
  const int hclen = static_cast<int>(ReadBits(4)) + 4;
  if (hlit > 286 || hdist > 30) ThrowDataError();
  uint8_t clLengths[19] = {};
  for (int i = 0; i < hclen; ++i) clLengths[kCodeLengthOrder[i]] = static_cast<uint8_t>(ReadBits(3));
  THuffmanDecoder clCode;
  if (clCode.Build(clLengths, 19, 7) != THuffmanDecoder::Complete) ThrowDataError();

  uint8_t lengths[286 + 30];
  const int total = hlit + hdist;
  int i = 0;
  while (i < total) {
    const int symbol = ReadSymbol(clCode);
    if (symbol < 16) {
      lengths[i++] = static_cast<uint8_t>(symbol);
      continue;
    }
    uint8_t value = 0;
    int repeat;
    if (symbol == 16) {
      if (i == 0) ThrowDataError();
      value = lengths[i - 1];
      repeat = 3 + static_cast<int>(ReadBits(2));
    } else if (symbol == 17) {
      repeat = 3 + static_cast<int>(ReadBits(3));
    } else {
      repeat = 11 + static_cast<int>(ReadBits(7));
    }
    if (i + repeat > total) ThrowDataError();
    std::fill(lengths + i, lengths + i + repeat, value);
    i += repeat;
  }
  if (lengths[256] == 0) ThrowDataError();  // no end-of-block code
  // Incomplete codes are only accepted as a single one-bit code (or, for
  // distances, no code at all), as every encoder writes them.
  const auto litShape = litDecoder_.Build(lengths, hlit, 10);
  if (litShape == THuffmanDecoder::OverSubscribed ||
      (litShape == THuffmanDecoder::Incomplete && !(litDecoder_.UsedCount == 1 && litDecoder_.MaxLength == 1)))
    ThrowDataError();
  const auto distShape = distDecoder_.Build(lengths + hlit, hdist, 8);
  if (distShape == THuffmanDecoder::OverSubscribed ||
      (distShape == THuffmanDecoder::Incomplete && !(distDecoder_.UsedCount <= 1 && distDecoder_.MaxLength <= 1)))
    ThrowDataError();
  PrepareLengthTable(litDecoder_);
  PrepareDistanceTable(distDecoder_);
}

void TDeflateStream::DecodeHuffman(size_t target) {
  using D = THuffmanDecoder;
  uint8_t* const outBase = out_.get();
  uint8_t* out = outBase + outWrite_;
  uint8_t* const end = outBase + target;
  const uint32_t* const litTable = lit_->Table.data();
  const uint32_t* const distTable = dist_->Table.data();
  const int litBits = lit_->PrimaryBits, distBits = dist_->PrimaryBits;
  const uint64_t litMask = (1u << litBits) - 1, distMask = (1u << distBits) - 1;
  // The bit buffer lives in locals here and goes back to the members on every way
  // out, so that nothing in the loop takes their address.
  uint64_t bb = bitBuf_;
  int bc = bitCount_;
  const uint8_t* in = inPos_;
  bool failed = false;

  while (out < end) {
    // 48 bits cover the longest symbol: length code, its extra bits, distance
    // code and its extra bits (15 + 5 + 15 + 13).
    if (bc < 48) {
      if (inEnd_ - in >= 8) {
        uint64_t word;
        std::memcpy(&word, in, 8);
        bb |= word << bc;
        in += (63 - bc) >> 3;
        bc |= 56;
      } else {
        bitBuf_ = bb, bitCount_ = bc, inPos_ = in;
        RefillSlow(48);
        bb = bitBuf_, bc = bitCount_, in = inPos_;
      }
    }
    uint32_t e = litTable[bb & litMask];
    uint32_t kind = D::Kind(e);
    if (kind == D::kLink) {
      e = litTable[D::Value(e) + ((bb >> litBits) & ((1u << D::Bits(e)) - 1))];
      kind = D::Kind(e);
    }
    if (__builtin_expect(kind == D::kSymbol, 1)) {
      bb >>= D::Bits(e);
      bc -= static_cast<int>(D::Bits(e));
      *out++ = static_cast<uint8_t>(D::Value(e));
      // Literals come in runs; at least 33 bits are left, enough for another.
      e = litTable[bb & litMask];
      if (D::Kind(e) == D::kSymbol && out < end) {
        bb >>= D::Bits(e);
        bc -= static_cast<int>(D::Bits(e));
        *out++ = static_cast<uint8_t>(D::Value(e));
      }
      if (bc < padBits_) {
        failed = true;
        break;
      }
      continue;
    }
    if (kind < kBaseKind) {
      bb >>= D::Bits(e);
      bc -= static_cast<int>(D::Bits(e));
      if (kind != kEndOfBlock || bc < padBits_) {
        failed = true;
        break;
      }
      state_ = finalBlock_ ? sDone : sHeader;
      break;
    }
    int bits = static_cast<int>(D::Bits(e));
    int extra = static_cast<int>(kind - kBaseKind);
    const uint32_t length = D::Value(e) + static_cast<uint32_t>((bb >> bits) & ((1u << extra) - 1));
    bb >>= bits + extra;
    bc -= bits + extra;

    e = distTable[bb & distMask];
    if (D::Kind(e) == D::kLink) e = distTable[D::Value(e) + ((bb >> distBits) & ((1u << D::Bits(e)) - 1))];
    kind = D::Kind(e);
    if (kind < kBaseKind) {
      failed = true;
      break;
    }
    bits = static_cast<int>(D::Bits(e));
    extra = static_cast<int>(kind - kBaseKind);
    const uint32_t distance = D::Value(e) + static_cast<uint32_t>((bb >> bits) & ((1u << extra) - 1));
    bb >>= bits + extra;
    bc -= bits + extra;
    // The window holds all output so far, or at least the last 32 KiB of it.
    if (bc < padBits_ || distance > static_cast<size_t>(out - outBase)) {
      failed = true;
      break;
    }

    const uint8_t* src = out - distance;
    if (distance >= 8) {
      uint8_t* d = out;
      uint8_t* const stop = out + length;
      do {
        std::memcpy(d, src, 8);
        d += 8;
        src += 8;
      } while (d < stop);
    } else if (distance == 1) {
      std::memset(out, out[-1], length);
    } else {
      for (uint32_t k = 0; k < length; ++k) out[k] = src[k];
    }
    out += length;
  }
  bitBuf_ = bb, bitCount_ = bc, inPos_ = in;
  outWrite_ = static_cast<size_t>(out - outBase);
  if (failed) ThrowDataError();
}

// ---------------------------------------------------------------- helpers

std::vector<uint8_t> DeflateBytes(std::span<const uint8_t> data, int compressionMethod) {
  TMemoryStream packed;
  {
    TDeflateStream deflate(packed, TDeflateStream::dirWrite);
    deflate.CompressionMethod = compressionMethod;
    deflate.Write(data.data(), data.size());
    deflate.Close();
  }
  return std::move(packed.Data());
}

std::vector<uint8_t> InflateBytes(std::span<const uint8_t> data, size_t maxOutput) {
  TReadOnlyMemoryStream packed(data);
  TDeflateStream inflate(packed, TDeflateStream::dirRead);
  std::vector<uint8_t> result;
  uint8_t block[65536];
  for (;;) {
    // Asking for one byte past the limit is how an oversized result shows.
    const size_t room = maxOutput - result.size();
    const size_t want = room >= sizeof block ? sizeof block : room + 1;
    const size_t got = inflate.Read(block, want);
    if (got == 0) break;
    if (result.size() + got > maxOutput) TBitStream::ThrowDataError();
    result.insert(result.end(), block, block + got);
  }
  return result;
}

}  // namespace sq
