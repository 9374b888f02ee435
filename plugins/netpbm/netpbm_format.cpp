#include "netpbm_format.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace sq::netpbm {

namespace {

// Largest image the plug-in hands out (1 GiB of samples), and the largest side.
constexpr int64_t kMaxBytes = int64_t(1) << 30;
constexpr int64_t kMaxSide = 1 << 24;

struct THeader {
  char Kind = 0;  // '1'..'7'
  int64_t Width = 0;
  int64_t Height = 0;
  int64_t Depth = 1;  // channels in the file
  int64_t MaxVal = 1;
};

class TReader {
 public:
  TReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool AtEnd() const { return pos_ >= size_; }
  size_t Position() const { return pos_; }
  size_t Remaining() const { return size_ - pos_; }
  const uint8_t* Here() const { return data_ + pos_; }
  void Skip(size_t count) { pos_ += count; }

  // Skips white space and comments.
  void SkipSpace() {
    while (pos_ < size_) {
      if (data_[pos_] == '#') {
        while (pos_ < size_ && data_[pos_] != '\n' && data_[pos_] != '\r') ++pos_;
      } else if (IsSpace(data_[pos_])) {
        ++pos_;
      } else {
        return;
      }
    }
  }

  // A decimal number after optional white space; false when there is none or it
  // exceeds limit.
  bool Number(int64_t limit, int64_t& value) {
    SkipSpace();
    if (pos_ >= size_ || data_[pos_] < '0' || data_[pos_] > '9') return false;
    value = 0;
    while (pos_ < size_ && data_[pos_] >= '0' && data_[pos_] <= '9') {
      value = value * 10 + (data_[pos_++] - '0');
      if (value > limit) return false;
    }
    return true;
  }

  // One plain-bitmap digit: "0" or "1", white space optional between them.
  bool BitDigit(int& bit) {
    SkipSpace();
    if (pos_ >= size_ || (data_[pos_] != '0' && data_[pos_] != '1')) return false;
    bit = data_[pos_++] - '0';
    return true;
  }

  // The rest of the line, for PAM header lines.
  std::string_view Line() {
    const size_t start = pos_;
    while (pos_ < size_ && data_[pos_] != '\n') ++pos_;
    std::string_view line(reinterpret_cast<const char*>(data_) + start, pos_ - start);
    if (pos_ < size_) ++pos_;
    while (!line.empty() && IsSpace(static_cast<uint8_t>(line.back()))) line.remove_suffix(1);
    return line;
  }

  static bool IsSpace(uint8_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

bool ReadPamHeader(TReader& in, THeader& header) {
  bool width = false, height = false, depth = false, maxval = false;
  while (!in.AtEnd()) {
    std::string_view line = in.Line();
    while (!line.empty() && TReader::IsSpace(static_cast<uint8_t>(line.front()))) line.remove_prefix(1);
    if (line.empty() || line.front() == '#') continue;
    const size_t blank = line.find_first_of(" \t");
    const std::string_view key = line.substr(0, blank);
    if (key == "ENDHDR") return width && height && depth && maxval;
    if (key == "TUPLTYPE") continue;  // the depth alone decides how samples are used
    const std::string_view rest = blank == std::string_view::npos ? std::string_view() : line.substr(blank);
    TReader field(reinterpret_cast<const uint8_t*>(rest.data()), rest.size());
    int64_t value = 0;
    if (!field.Number(kMaxSide, value)) return false;
    if (key == "WIDTH")
      header.Width = value, width = true;
    else if (key == "HEIGHT")
      header.Height = value, height = true;
    else if (key == "DEPTH")
      header.Depth = value, depth = true;
    else if (key == "MAXVAL")
      header.MaxVal = value, maxval = true;
    else
      return false;
  }
  return false;
}

bool ReadHeader(TReader& in, THeader& header) {
  if (in.Remaining() < 2 || in.Here()[0] != 'P' || in.Here()[1] < '1' || in.Here()[1] > '7') return false;
  header.Kind = static_cast<char>(in.Here()[1]);
  in.Skip(2);
  if (header.Kind == '7') {
    if (in.AtEnd() || in.Here()[0] != '\n') return false;
    in.Skip(1);
    return ReadPamHeader(in, header);
  }
  if (!in.Number(kMaxSide, header.Width) || !in.Number(kMaxSide, header.Height)) return false;
  const bool bitmap = header.Kind == '1' || header.Kind == '4';
  header.Depth = header.Kind == '3' || header.Kind == '6' ? 3 : 1;
  if (!bitmap && !in.Number(65535, header.MaxVal)) return false;
  if (header.Kind >= '4') {
    // Exactly one white-space byte ends a raw header.
    if (in.AtEnd() || !TReader::IsSpace(in.Here()[0])) return false;
    in.Skip(1);
  }
  return true;
}

// Reads every sample of the image into 16-bit values, row by row, channel-interleaved.
bool ReadSamples(TReader& in, const THeader& h, std::vector<uint16_t>& samples) {
  const int64_t count = h.Width * h.Height * h.Depth;
  const bool plain = h.Kind <= '3';
  const int sampleBytes = h.MaxVal > 255 ? 2 : 1;
  // Every plain sample takes at least one byte, so no header can make us allocate
  // more than the file could fill.
  int64_t needed = count;
  if (h.Kind == '4')
    needed = (h.Width + 7) / 8 * h.Height;
  else if (!plain)
    needed = count * sampleBytes;
  if (needed > static_cast<int64_t>(in.Remaining())) return false;
  samples.resize(static_cast<size_t>(count));

  if (h.Kind == '1') {
    for (int64_t i = 0; i < count; ++i) {
      int bit = 0;
      if (!in.BitDigit(bit)) return false;
      samples[static_cast<size_t>(i)] = static_cast<uint16_t>(bit);
    }
  } else if (h.Kind == '4') {
    const int64_t rowBytes = (h.Width + 7) / 8;
    for (int64_t y = 0; y < h.Height; ++y) {
      const uint8_t* row = in.Here() + y * rowBytes;
      for (int64_t x = 0; x < h.Width; ++x)
        samples[static_cast<size_t>(y * h.Width + x)] = static_cast<uint16_t>((row[x >> 3] >> (7 - (x & 7))) & 1);
    }
  } else if (plain) {
    for (int64_t i = 0; i < count; ++i) {
      int64_t value = 0;
      if (!in.Number(65535, value)) return false;
      samples[static_cast<size_t>(i)] = static_cast<uint16_t>(value);
    }
  } else {
    const uint8_t* p = in.Here();
    for (int64_t i = 0; i < count; ++i, p += sampleBytes)
      samples[static_cast<size_t>(i)] = sampleBytes == 2 ? static_cast<uint16_t>(p[0] << 8 | p[1]) : p[0];
  }
  return true;
}

// A sample scaled from 0..maxVal to 0..top, rounded; values above maxVal count as maxVal.
inline uint32_t Scale(uint32_t value, uint32_t maxVal, uint32_t top) {
  if (value >= maxVal) return top;
  return (value * top + maxVal / 2) / maxVal;
}

int32_t AlignedStride(int64_t rowBytes) { return static_cast<int32_t>((rowBytes + 3) & ~int64_t(3)); }

}  // namespace

int ReadNetpbm(const uint8_t* data, size_t size, TImageContainer& c) {
  std::memset(&c, 0, sizeof c);
  TReader in(data, size);
  THeader h;
  if (!ReadHeader(in, h)) return SQ_PLUGIN_BAD_DATA;
  if (h.Width < 1 || h.Height < 1 || h.MaxVal < 1 || h.MaxVal > 65535) return SQ_PLUGIN_BAD_DATA;
  if (h.Depth < 1 || h.Depth > 4) return SQ_PLUGIN_UNSUPPORTED_PIXEL_FORMAT;
  // Grey, grey + alpha, colour, colour + alpha; the alpha channel is not kept.
  const bool colour = h.Depth >= 3;
  const bool wide = !colour && h.MaxVal > 255;
  const int planes = colour ? 3 : 1;
  const int64_t rowBytes = h.Width * (wide ? 2 : 1);
  if (AlignedStride(rowBytes) * h.Height * planes > kMaxBytes) return SQ_PLUGIN_BAD_DATA;

  std::vector<uint16_t> samples;
  if (!ReadSamples(in, h, samples)) return SQ_PLUGIN_BAD_DATA;

  const int32_t stride = AlignedStride(rowBytes);
  auto* out = static_cast<uint8_t*>(std::calloc(static_cast<size_t>(stride) * h.Height * planes, 1));
  if (out == nullptr) return SQ_PLUGIN_BAD_DATA;
  const bool bitmap = h.Kind == '1' || h.Kind == '4';
  const uint32_t maxVal = static_cast<uint32_t>(h.MaxVal);
  const int64_t planeBytes = int64_t(stride) * h.Height;
  for (int64_t y = 0; y < h.Height; ++y)
    for (int64_t x = 0; x < h.Width; ++x) {
      const uint16_t* s = &samples[static_cast<size_t>((y * h.Width + x) * h.Depth)];
      uint8_t* row = out + y * stride;
      if (bitmap) {
        row[x] = s[0] ? 0 : 255;
      } else if (wide) {
        const uint32_t v = Scale(s[0], maxVal, 65535);
        row[2 * x] = static_cast<uint8_t>(v);
        row[2 * x + 1] = static_cast<uint8_t>(v >> 8);
      } else if (!colour) {
        row[x] = static_cast<uint8_t>(Scale(s[0], maxVal, 255));
      } else {
        // File order is red, green, blue; plane 0 is blue.
        for (int p = 0; p < 3; ++p) row[p * planeBytes + x] = static_cast<uint8_t>(Scale(s[2 - p], maxVal, 255));
      }
    }
  c.Width = static_cast<int32_t>(h.Width);
  c.Height = static_cast<int32_t>(h.Height);
  c.BytesPerLine = stride;
  c.Options = colour ? (SQ_CONTAINER_PLANAR | 3) : (wide ? (SQ_CONTAINER_GRAY16 | 1) : 1);
  c.Data = out;
  return SQ_PLUGIN_OK;
}

void FreeContainer(TImageContainer& c) {
  std::free(c.Data);
  c.Data = nullptr;
}

int WriteNetpbm(const TImageContainer& c, bool colour, std::vector<uint8_t>& out) {
  const int channels = c.Options & SQ_CONTAINER_CHANNEL_MASK;
  if (c.Options != 1 && c.Options != 3) return SQ_PLUGIN_UNSUPPORTED_PIXEL_FORMAT;
  if (c.Width < 1 || c.Height < 1 || c.Data == nullptr || c.BytesPerLine < int64_t(c.Width) * channels)
    return SQ_PLUGIN_BAD_DATA;
  const std::string header =
      std::string(colour ? "P6\n" : "P5\n") + std::to_string(c.Width) + " " + std::to_string(c.Height) + "\n255\n";
  out.assign(header.begin(), header.end());
  out.reserve(out.size() + static_cast<size_t>(c.Width) * c.Height * (colour ? 3 : 1));
  const auto* data = static_cast<const uint8_t*>(c.Data);
  for (int y = 0; y < c.Height; ++y) {
    const uint8_t* row = data + static_cast<int64_t>(y) * c.BytesPerLine;
    for (int x = 0; x < c.Width; ++x) {
      uint8_t blue, green, red;
      if (channels == 3) {
        blue = row[3 * x], green = row[3 * x + 1], red = row[3 * x + 2];
      } else if (c.Palette) {
        const uint8_t* entry = c.Palette + 3 * row[x];
        blue = entry[0], green = entry[1], red = entry[2];
      } else {
        blue = green = red = row[x];
      }
      if (colour) {
        out.push_back(red);
        out.push_back(green);
        out.push_back(blue);
      } else {
        out.push_back(static_cast<uint8_t>((2 * red + 3 * green + blue) / 6));
      }
    }
  }
  return SQ_PLUGIN_OK;
}

}  // namespace sq::netpbm
