#include "project/lz77_stream.h"

#include <gtest/gtest.h>

#include <random>

#include "base/exception.h"
#include "imaging/memory_stream.h"

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
  size_t got = 0;
  while (got < want) {
    const size_t n = lz.Read(out.data() + got, std::min(chunk, want - got));
    if (n == 0) break;
    got += n;
  }
  out.resize(got);
  return out;
}

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

}  // namespace

TEST(LZ77Stream, EncodesTheKnownExamplesByteForByte) {
  EXPECT_EQ(Compress(Bytes("abc"), 3), (std::vector<uint8_t>{0x10, 0x61, 0x62, 0x63}));
  // A run of "abc", a match of 3 at window index 1, a match of 5 at index 1 whose
  // 4-bit half straddles a byte, and a final one-byte run.
  const std::vector<uint8_t> packed{0x10, 0x61, 0x62, 0x63, 0x02, 0x41, 0x10, 0x00, 0x63};
  EXPECT_EQ(Compress(Bytes("abcabcabcabc"), 3), packed);
  EXPECT_EQ(Decompress(packed, 3, 12), Bytes("abcabcabcabc"));
  // Zeros match the zero-filled window at index 0 from the very first byte.
  const std::vector<uint8_t> zeros(40, 0);
  const std::vector<uint8_t> packedZeros = Compress(zeros, 3);
  EXPECT_EQ(packedZeros[0], 0x06);  // match of 7 at index 0
  EXPECT_EQ(Decompress(packedZeros, 3, 40), zeros);
}

TEST(LZ77Stream, RoundTripsWithBothWidths) {
  std::mt19937 rng(7);
  std::vector<std::vector<uint8_t>> inputs;
  inputs.push_back({});
  std::vector<uint8_t> noise(5000), text, fields;
  for (auto& b : noise) b = static_cast<uint8_t>(rng());
  for (int i = 0; i < 400; ++i) {
    const std::string word = "point " + std::to_string(i % 37) + (i % 5 ? " left " : " right\n");
    text.insert(text.end(), word.begin(), word.end());
    for (int k = 0; k < 16; ++k) fields.push_back(static_cast<uint8_t>(k < 4 ? i * 3 : (k % 4 ? 0 : i)));
  }
  inputs.push_back(noise);
  inputs.push_back(text);
  inputs.push_back(fields);
  inputs.push_back(std::vector<uint8_t>(3000, 0xAB));
  for (int bits : {3, 4})
    for (const auto& data : inputs)
      for (size_t chunk : {size_t(1), size_t(7), size_t(1) << 20}) {
        const std::vector<uint8_t> packed = Compress(data, bits, chunk);
        EXPECT_EQ(Decompress(packed, bits, data.size(), chunk), data) << bits << " " << data.size() << " " << chunk;
      }
  EXPECT_LT(Compress(text, 3).size(), text.size() / 2);
}

TEST(LZ77Stream, DamagedDataEndsEarlyButNeverOverruns) {
  std::vector<uint8_t> text;
  for (int i = 0; i < 300; ++i) text.push_back(static_cast<uint8_t>("stereo pair "[i % 12]));
  for (int bits : {3, 4}) {
    const std::vector<uint8_t> packed = Compress(text, bits);
    // Cut anywhere: what comes out is a prefix of the original.
    for (size_t cut = 0; cut < packed.size(); ++cut) {
      const std::vector<uint8_t> head(packed.begin(), packed.begin() + cut);
      const std::vector<uint8_t> out = Decompress(head, bits, text.size());
      ASSERT_LT(out.size(), text.size());
      ASSERT_TRUE(std::equal(out.begin(), out.end(), text.begin())) << cut;
    }
  }
  // Random bytes name matches all over the window; they decode to something finite.
  std::mt19937 rng(11);
  for (int round = 0; round < 200; ++round) {
    std::vector<uint8_t> junk(rng() % 64);
    for (auto& b : junk) b = static_cast<uint8_t>(rng());
    EXPECT_LE(Decompress(junk, 3 + round % 2, 100000).size(), junk.size() * 16);
  }
}

TEST(LZ77Stream, RefusesWrongUse) {
  TMemoryStream out;
  EXPECT_THROW(TLZ77Stream(out, 5), EBadFormat);
  EXPECT_THROW(TLZ77Stream(out, 2), EBadFormat);
  SetLZ77Bits(3);
  TLZ77Stream writer(out);
  EXPECT_EQ(writer.Bits(), 3);
  SetLZ77Bits(4);
  uint8_t byte = 0;
  EXPECT_THROW(writer.Read(&byte, 1), EInOutError);
  TReadOnlyMemoryStream in(&byte, 1);
  TLZ77Stream reader(in);
  EXPECT_EQ(reader.Bits(), 4);
  try {
    reader.Write(&byte, 1);
    FAIL();
  } catch (const EInOutError& e) {
    EXPECT_STREQ(e.what(), "Stream not open for write");
  }
}
