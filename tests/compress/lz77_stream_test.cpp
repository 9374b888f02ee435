#include "compress/lz77_stream.h"

#include <gtest/gtest.h>

#include <random>

#include "base/exception.h"
#include "io/memory_stream.h"

using namespace sq;

namespace {

std::vector<uint8_t> Compress(const std::vector<uint8_t>& data, int bits, size_t chunk = 1 << 20) {
  TMemoryStream out;
  TLZ77Stream lz(out, bits);
  for (size_t at = 0; at < data.size(); at += chunk) lz.Write(data.data() + at, std::min(chunk, data.size() - at));
  lz.Flush();
  return out.Data();
}

std::vector<uint8_t> Decompress(const std::vector<uint8_t>& packed, int bits, size_t want, size_t chunk = 1 << 20) {
  TReadOnlyMemoryStream in(packed.data(), packed.size());
  TLZ77Stream lz(in, bits);
  std::vector<uint8_t> out(want);
  size_t got = 0, n;
  while (got < want && (n = lz.Read(out.data() + got, std::min(chunk, want - got))) > 0) got += n;
  out.resize(got);
  return out;
}

}  // namespace

TEST(LZ77Stream, EncodesTheKnownExamplesByteForByte) {
  const std::string abc = "abcabcabcabc";
  EXPECT_EQ(Compress({abc.begin(), abc.begin() + 3}, 3), (std::vector<uint8_t>{0x10, 0x61, 0x62, 0x63}));
  // A run of "abc", a match of 3 at window index 1, a match of 5 at index 1 whose
  // 4-bit half straddles a byte, and a final one-byte run.
  const std::vector<uint8_t> packed{0x10, 0x61, 0x62, 0x63, 0x02, 0x41, 0x10, 0x00, 0x63};
  EXPECT_EQ(Compress({abc.begin(), abc.end()}, 3), packed);
  EXPECT_EQ(Decompress(packed, 3, 12), std::vector<uint8_t>(abc.begin(), abc.end()));
  // Zeros match the zero-filled window at index 0 from the very first byte.
  const std::vector<uint8_t> zeros(40, 0);
  EXPECT_EQ(Compress(zeros, 3)[0], 0x06);  // a match of 7 at index 0
  EXPECT_EQ(Decompress(Compress(zeros, 3), 3, 40), zeros);
}

TEST(LZ77Stream, RoundTripsWithBothWidths) {
  std::mt19937 rng(7);
  std::vector<uint8_t> noise(5000), text, fields, runs(3000, 0xAB);
  for (auto& b : noise) b = static_cast<uint8_t>(rng());
  for (int i = 0; i < 400; ++i) {
    const std::string word = "point " + std::to_string(i % 37) + (i % 5 ? " left " : " right\n");
    text.insert(text.end(), word.begin(), word.end());
    for (int k = 0; k < 16; ++k) fields.push_back(static_cast<uint8_t>(k < 4 ? i * 3 : (k % 4 ? 0 : i)));
  }
  for (int bits : {3, 4})
    for (const auto* data : {&noise, &text, &fields, &runs})
      for (size_t chunk : {size_t(1), size_t(7), size_t(1) << 20})
        EXPECT_EQ(Decompress(Compress(*data, bits, chunk), bits, data->size(), chunk), *data) << bits << " " << chunk;
  EXPECT_LT(Compress(text, 3).size(), text.size() / 2);
  EXPECT_TRUE(Compress({}, 4).empty());
}

TEST(LZ77Stream, DamagedDataEndsEarlyButNeverOverruns) {
  std::vector<uint8_t> text;
  for (int i = 0; i < 300; ++i) text.push_back(static_cast<uint8_t>("stereo pair "[i % 12]));
  for (int bits : {3, 4}) {
    const std::vector<uint8_t> packed = Compress(text, bits);
    for (size_t cut = 0; cut < packed.size(); ++cut) {  // a cut anywhere yields a prefix
      const std::vector<uint8_t> out = Decompress({packed.begin(), packed.begin() + cut}, bits, text.size());
      ASSERT_LT(out.size(), text.size());
      ASSERT_TRUE(std::equal(out.begin(), out.end(), text.begin())) << cut;
    }
  }
  std::mt19937 rng(11);  // random tokens name matches all over the window
  for (int round = 0; round < 200; ++round) {
    std::vector<uint8_t> junk(rng() % 64);
    for (auto& b : junk) b = static_cast<uint8_t>(rng());
    EXPECT_LE(Decompress(junk, 3 + round % 2, 100000).size(), junk.size() * 16);
  }
}

TEST(LZ77Stream, RefusesWrongUse) {
  TMemoryStream out;
  EXPECT_THROW(TLZ77Stream(out, 5), EBadFormat);
  SetLZ77Bits(3);
  TLZ77Stream writer(out);  // takes the process-wide width
  SetLZ77Bits(4);
  EXPECT_EQ(writer.Bits(), 3);
  uint8_t byte = 0;
  EXPECT_THROW(writer.Read(&byte, 1), EInOutError);
  TReadOnlyMemoryStream in(&byte, 1);
  EXPECT_THROW(TLZ77Stream(in).Write(&byte, 1), EInOutError);
}
