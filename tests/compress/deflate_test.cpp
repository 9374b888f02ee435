#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "base/exception.h"
#include "compress/adler32.h"
#include "compress/crc32_stream.h"
#include "compress/deflate_stream.h"
#include "io/memory_stream.h"

#ifdef SQ_HAVE_PEERS
#include <zlib.h>
#endif

using namespace sq;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes RandomBytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (auto& x : b) x = static_cast<uint8_t>(rng());
  return b;
}

Bytes Text(size_t n) {
  const std::string words[] = {"stereo ", "quill ", "depth ", "map ", "pixel ", "the ", "of ", "and\n"};
  std::mt19937 rng(7);
  Bytes b;
  while (b.size() < n) {
    const std::string& w = words[rng() % 8];
    b.insert(b.end(), w.begin(), w.end());
  }
  b.resize(n);
  return b;
}

// Rows of a smooth image with noise, as a PNG writer feeds them.
Bytes ImageRows(int width, int height) {
  std::mt19937 rng(3);
  Bytes b;
  for (int y = 0; y < height; ++y) {
    b.push_back(1);
    for (int x = 0; x < width * 3; ++x) b.push_back(static_cast<uint8_t>((x / 3 + y) / 4 + rng() % 3));
  }
  return b;
}

Bytes Runs(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>((i / 1000) % 3);
  return b;
}

std::vector<Bytes> Samples() {
  // Sizes cross the block limits: 65535 stored bytes, about 65526 symbols.
  return {Bytes{},      Bytes{42},         RandomBytes(80000, 1), Text(60000), ImageRows(200, 100),
          Runs(100000), Bytes(70000, 0xAB)};
}

// The symbols of a deflate stream made only of fixed-code blocks: literals as
// themselves, matches as 1000 + length * 100000 + distance.
std::vector<long> FixedBlockSymbols(const Bytes& data) {
  size_t bit = 0;
  auto get = [&](int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i, ++bit) v |= ((data.at(bit / 8) >> (bit % 8)) & 1u) << i;
    return v;
  };
  auto getCode = [&](int n) {  // Huffman codes are sent most significant bit first
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) v = (v << 1) | get(1);
    return v;
  };
  static const int lbase[] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                              31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
  static const int lextra[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
  std::vector<long> out;
  for (bool final = false; !final;) {
    final = get(1);
    EXPECT_EQ(get(2), 1u);
    for (;;) {
      uint32_t c = getCode(7);
      int sym;
      if (c <= 0x17)
        sym = 256 + c;
      else if ((c = (c << 1) | get(1)) >= 0x30 && c <= 0xBF)
        sym = c - 0x30;
      else if (c >= 0xC0 && c <= 0xC7)
        sym = 280 + c - 0xC0;
      else
        sym = 144 + (((c << 1) | get(1)) - 0x190);
      if (sym < 256) {
        out.push_back(sym);
        continue;
      }
      if (sym == 256) break;
      const int length = lbase[sym - 257] + static_cast<int>(get(lextra[sym - 257]));
      const uint32_t d = getCode(5);
      const int dextra = d < 4 ? 0 : static_cast<int>(d / 2 - 1);
      const int dbase = d < 4 ? d + 1 : ((2 + (d & 1)) << dextra) + 1;
      out.push_back(1000 + length * 100000L + dbase + static_cast<int>(get(dextra)));
    }
  }
  return out;
}

long Match(int length, int distance) { return 1000 + length * 100000L + distance; }

// A hand-made stream written bit by bit.
template <class F>
Bytes Bits(F write) {
  TMemoryStream m;
  {
    TBitStream bits(m);
    write(bits);
    bits.AlignOutput();
    bits.FlushBits();
  }
  return m.Data();
}

void ExpectBadData(const Bytes& stream) {
  try {
    InflateBytes(stream, 1 << 20);
    ADD_FAILURE() << "accepted a malformed stream";
  } catch (const EBadFormat& e) {
    EXPECT_STREQ(e.what(), "Error in compressed data");
  }
}

}  // namespace

TEST(Checksums, KnownValues) {
  const std::string s = "123456789";
  const Bytes b(s.begin(), s.end());
  EXPECT_EQ(CRC32(b), 0xCBF43926u);
  TAdler32 adler;
  adler.AdlerAdd(b.data(), b.size());
  EXPECT_EQ(adler.AdlerValue(), 0x091E01DEu);
  // Long input crosses the points where the sums are reduced.
  const Bytes ff(100000, 0xFF);
  adler.AdlerReset();
  adler.AdlerAdd(ff.data(), ff.size());
  uint32_t a = 1, bsum = 0;
  for (uint8_t x : ff) {
    a = (a + x) % 65521;
    bsum = (bsum + a) % 65521;
  }
  EXPECT_EQ(adler.AdlerValue(), (bsum << 16) | a);
}

TEST(Deflate, RoundTripsInEveryMode) {
  for (int method : {0, 1, 2})
    for (const Bytes& data : Samples()) {
      const Bytes packed = DeflateBytes(data, method);
      EXPECT_EQ(InflateBytes(packed, data.size()), data) << "method " << method << " size " << data.size();
    }
  // Compression actually happens.
  EXPECT_LT(DeflateBytes(Text(60000)).size(), 60000u / 3);
}

TEST(Deflate, OutputDoesNotDependOnWriteSizesAndSurvivesFlush) {
  const Bytes data = ImageRows(500, 100);
  const Bytes whole = DeflateBytes(data);
  TMemoryStream pieces;
  {
    TDeflateStream z(pieces, TDeflateStream::dirWrite);
    for (size_t at = 0, step = 1; at < data.size(); at += step, step = step * 3 % 7919 + 1)
      z.Write(&data[at], std::min(step, data.size() - at));
    z.Close();
  }
  EXPECT_EQ(pieces.Data(), whole);

  // A mid-stream flush ends a block; the stream goes on and still inflates whole.
  TMemoryStream flushed;
  {
    TDeflateStream z(flushed, TDeflateStream::dirWrite);
    z.Write(data.data(), 1000);
    z.Flush();
    const size_t afterFlush = flushed.Data().size();
    EXPECT_GT(afterFlush, 0u);
    z.Write(data.data() + 1000, data.size() - 1000);
    z.Close();
    EXPECT_THROW(z.Write(data.data(), 1), EInOutError);
  }
  EXPECT_EQ(InflateBytes(flushed.Data(), data.size()), data);
}

TEST(Deflate, GreedyMatcherPicksLongestThenNewest) {
  // A run: one literal, then length-258 matches at distance 1, and the rest.
  const auto runs = FixedBlockSymbols(DeflateBytes(Bytes(100000, 'a'), 1));
  ASSERT_EQ(runs.size(), 1u + 387 + 1);
  EXPECT_EQ(runs[0], 'a');
  for (size_t i = 1; i < 388; ++i) ASSERT_EQ(runs[i], Match(258, 1)) << i;
  EXPECT_EQ(runs.back(), Match(99999 - 387 * 258, 1));

  const std::string newest = "abcd1abcd2abcd";
  EXPECT_EQ(FixedBlockSymbols(DeflateBytes(Bytes(newest.begin(), newest.end()), 1)),
            (std::vector<long>{'a', 'b', 'c', 'd', '1', Match(4, 5), '2', Match(4, 5)}));
  const std::string longest = "abcdeXabcYabcde";
  EXPECT_EQ(FixedBlockSymbols(DeflateBytes(Bytes(longest.begin(), longest.end()), 1)),
            (std::vector<long>{'a', 'b', 'c', 'd', 'e', 'X', Match(3, 6), 'Y', Match(5, 10)}));
}

// The greedy matcher as specified, written plainly: per two-byte prefix the last
// 64 positions, newest first; a candidate counts only when its byte at the best
// length so far matches; the longest wins, the newest among equals.
std::vector<long> PlainGreedySymbols(const Bytes& data) {
  const size_t n = data.size();
  std::vector<std::vector<size_t>> buckets(65536);
  auto key = [&](size_t p) { return data[p] | (data[p + 1] << 8); };
  std::vector<long> out;
  size_t inserted = 0;
  for (size_t p = 0; p < n;) {
    if (n - p < 3) {
      out.push_back(data[p++]);
      continue;
    }
    for (; inserted < p; ++inserted) buckets[key(inserted)].push_back(inserted);
    const std::vector<size_t>& bucket = buckets[key(p)];
    const size_t maxLength = std::min<size_t>(258, n - p);
    size_t best = 2, bestDistance = 0;
    for (size_t i = 0; i < 64 && i < bucket.size(); ++i) {
      const size_t q = bucket[bucket.size() - 1 - i];
      if (p - q > 32768) break;
      if (data[q + best] != data[p + best]) continue;
      size_t length = 0;
      while (length < maxLength && data[q + length] == data[p + length]) ++length;
      if (length > best) {
        best = length;
        bestDistance = p - q;
        if (length >= maxLength) break;
      }
    }
    if (best >= 3) {
      out.push_back(Match(static_cast<int>(best), static_cast<int>(bestDistance)));
      p += best;
    } else {
      out.push_back(data[p++]);
    }
  }
  return out;
}

// Few distinct bytes: prefixes recur far more than 64 times within the window.
Bytes SmallAlphabet(size_t n, int symbols, unsigned seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (auto& x : b) x = static_cast<uint8_t>('a' + rng() % symbols);
  return b;
}

Bytes WrittenInPieces(const Bytes& data, bool filtered, int method = TDeflateStream::cmDynamic) {
  TMemoryStream packed;
  TDeflateStream z(packed, TDeflateStream::dirWrite);
  z.CompressionMethod = method;
  z.FilteredData = filtered;
  for (size_t at = 0, step = 1; at < data.size(); at += step, step = step * 5 % 9973 + 1)
    z.Write(&data[at], std::min(step, data.size() - at));
  z.Close();
  return packed.Data();
}

TEST(Deflate, MatcherChoosesWhatThePlainSpecifiedMatcherChooses) {
  Bytes longRows = ImageRows(1500, 60);  // past the 32 KiB window and the input buffer
  for (const Bytes& data : {SmallAlphabet(3000, 2, 1), SmallAlphabet(90000, 3, 2), SmallAlphabet(200000, 16, 3),
                            Text(100000), longRows, Runs(100000), RandomBytes(5000, 4)}) {
    SCOPED_TRACE(data.size());
    EXPECT_EQ(FixedBlockSymbols(WrittenInPieces(data, false, TDeflateStream::cmFixed)), PlainGreedySymbols(data));
  }
}

// Rows of a noisy photo after the PNG Sub filter: small differences, in which
// matches are rare and short.
Bytes SubFilteredRows(int width, int height) {
  std::mt19937 rng(5);
  std::normal_distribution<double> noise(0, 2.5);
  Bytes b;
  for (int y = 0; y < height; ++y) {
    b.push_back(1);
    int left[3] = {0, 0, 0};
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < 3; ++c) {
        const double shade = 128 + 60 * std::sin(x * 0.01 + c) * std::cos(y * 0.02) + (x / 50 % 2) * 40;
        const int v = std::clamp(static_cast<int>(shade + noise(rng)), 0, 255);
        b.push_back(static_cast<uint8_t>(v - left[c]));
        left[c] = v;
      }
  }
  return b;
}

TEST(Deflate, FilteredDataPacksFilteredRowsSmallerAndInflatesAlike) {
  const Bytes rows = SubFilteredRows(700, 60);
  for (const Bytes& data :
       {rows, ImageRows(1500, 60), Text(60000), SmallAlphabet(90000, 3, 2), Runs(100000), Bytes{}, Bytes{7, 7}}) {
    TMemoryStream whole;
    {
      TDeflateStream z(whole, TDeflateStream::dirWrite);
      z.FilteredData = true;
      if (!data.empty()) z.Write(data.data(), data.size());
      z.Close();
    }
    EXPECT_EQ(WrittenInPieces(data, true), whole.Data()) << data.size();
    EXPECT_EQ(InflateBytes(whole.Data(), data.size()), data) << data.size();
  }
  EXPECT_LT(WrittenInPieces(rows, true).size() * 1.03, DeflateBytes(rows).size());
}

TEST(Deflate, StreamRulesAndLimits) {
  TMemoryStream m;
  TDeflateStream reader(m, TDeflateStream::dirRead);
  EXPECT_THROW(reader.Write("x", 1), EInOutError);
  TDeflateStream writer(m, TDeflateStream::dirWrite);
  char c;
  EXPECT_THROW(writer.Read(&c, 1), EInOutError);

  // A decompression bomb is cut off at the caller's limit.
  const Bytes bomb = DeflateBytes(Bytes(4000000, 0));
  EXPECT_LT(bomb.size(), 8000u);
  EXPECT_THROW(InflateBytes(bomb, 65536), EBadFormat);
  EXPECT_EQ(InflateBytes(bomb, 4000000).size(), 4000000u);
}

TEST(Inflate, RefusesMalformedStreams) {
  ExpectBadData({});                                        // no block at all
  ExpectBadData({0x07});                                    // block type 3
  ExpectBadData({0x01, 0x05, 0x00, 0x00, 0x00, 'a'});       // stored length check fails
  ExpectBadData({0x01, 0x05, 0x00, 0xFA, 0xFF, 'a', 'b'});  // stored block cut short
  THuffmanEncoder lit, dist;
  {
    uint8_t l[288], d[30];
    for (int s = 0; s < 288; ++s) l[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
    std::fill(d, d + 30, 5);
    lit.Build(l, 288);
    dist.Build(d, 30);
  }
  // A match reaching before the start of the data.
  ExpectBadData(Bits([&](TBitStream& b) {
    b.WriteBits(1 | (1 << 1), 3);
    b.WriteBits(lit.Codes['x'], 8);
    b.WriteBits(lit.Codes[257], 7);
    b.WriteBits(dist.Codes[1], 5);  // distance 2 after one byte
    b.WriteBits(lit.Codes[256], 7);
  }));
  // A fixed-code symbol that has no meaning (length code 286).
  ExpectBadData(Bits([&](TBitStream& b) { b.WriteBits(3, 3), b.WriteBits(lit.Codes[286], 8); }));
  // Dynamic block whose code-length code is over-subscribed (four one-bit codes).
  ExpectBadData(Bits([](TBitStream& b) {
    b.WriteBits(1 | (2 << 1), 3), b.WriteBits(0, 5), b.WriteBits(0, 5), b.WriteBits(0, 4);
    for (int i = 0; i < 4; ++i) b.WriteBits(1, 3);
  }));
  // Dynamic block whose literal code is incomplete: three two-bit codes.
  ExpectBadData(Bits([](TBitStream& b) {
    b.WriteBits(1 | (2 << 1), 3), b.WriteBits(0, 5), b.WriteBits(0, 5), b.WriteBits(12, 4);
    for (int i = 0; i < 16; ++i) b.WriteBits(i == 2 || i == 15 ? 1 : 0, 3);  // symbols 18 and 2
    auto two = [&] { b.WriteBits(0, 1); };
    two(), two();                                 // symbols 0 and 1
    b.WriteBits(1, 1), b.WriteBits(138 - 11, 7);  // 138 zeros
    b.WriteBits(1, 1), b.WriteBits(116 - 11, 7);  // 116 zeros
    two();                                        // end of block
    two();                                        // one distance code
  }));
  // Every cut of a valid stream either raises or gives a prefix of the data.
  const Bytes data = Text(2000);
  const Bytes packed = DeflateBytes(data);
  for (size_t cut = 0; cut < packed.size(); ++cut) {
    try {
      const Bytes got = InflateBytes(Bytes(packed.begin(), packed.begin() + cut), data.size());
      ASSERT_LT(got.size(), data.size());
      EXPECT_TRUE(std::equal(got.begin(), got.end(), data.begin()));
    } catch (const EBadFormat&) {
    }
  }
}

#ifdef SQ_HAVE_PEERS
namespace {
Bytes ZlibRaw(const Bytes& data, int level) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
  Bytes out(deflateBound(&z, data.size()) + 16);
  z.next_in = const_cast<Bytef*>(data.data());
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

Bytes ZlibInflateRaw(const Bytes& packed, size_t size) {
  z_stream z{};
  EXPECT_EQ(inflateInit2(&z, -15), Z_OK);
  Bytes out(size + 1);
  z.next_in = const_cast<Bytef*>(packed.data());
  z.avail_in = static_cast<uInt>(packed.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  inflateEnd(&z);
  return out;
}
}  // namespace

TEST(DeflatePeer, ZlibInflatesOursAndWeInflateZlibsAtEveryLevel) {
  for (const Bytes& data : Samples()) {
    for (int method : {0, 1, 2}) EXPECT_EQ(ZlibInflateRaw(DeflateBytes(data, method), data.size()), data);
    EXPECT_EQ(ZlibInflateRaw(WrittenInPieces(data, true), data.size()), data);
    for (int level = 0; level <= 9; ++level)
      EXPECT_EQ(InflateBytes(ZlibRaw(data, level), data.size()), data) << "level " << level << " size " << data.size();
  }
}
#endif
