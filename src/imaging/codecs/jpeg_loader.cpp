#include "imaging/codecs/jpeg_loader.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>

#include "base/exception.h"
#include "base/progress.h"
#include "imaging/linear_bitmap.h"
#include "io/base_stream.h"
#include "io/file_stream.h"

namespace sq {

namespace {

// libjpeg reports a fatal error by calling error_exit, which must not return.  We
// jump back to the libjpeg call that failed: every such call sits alone in a small
// member function with setjmp and no C++ objects, and the caller turns the failure
// into an exception after the jump, outside any libjpeg frame.
struct TJpegError {
  jpeg_error_mgr Manager;
  std::jmp_buf Jump;
  char Message[JMSG_LENGTH_MAX];
};

extern "C" void JpegErrorExit(j_common_ptr info) {
  auto* error = reinterpret_cast<TJpegError*>(info->err);
  (*info->err->format_message)(info, error->Message);
  std::longjmp(error->Jump, 1);
}

// Warnings (a damaged but readable stream) are not worth a message on stderr.
extern "C" void JpegOutputMessage(j_common_ptr) {}

// A progressive file may hold any number of scans; a hostile one with thousands of
// tiny scans would keep the decoder busy for minutes.
constexpr int kMaxScans = 1000;

extern "C" void JpegProgress(j_common_ptr info) {
  if (!info->is_decompressor) return;
  auto* decompress = reinterpret_cast<j_decompress_ptr>(info);
  if (decompress->input_scan_number > kMaxScans) {
    auto* error = reinterpret_cast<TJpegError*>(info->err);
    std::snprintf(error->Message, sizeof error->Message, "Too many scans in JPEG data");
    std::longjmp(error->Jump, 1);
  }
}

// Working memory a decoder may take (progressive files keep every coefficient).
constexpr long kMaxDecoderMemory = 1L << 30;

void InstallErrorHandler(TJpegError& error) {
  jpeg_std_error(&error.Manager);
  error.Manager.error_exit = JpegErrorExit;
  error.Manager.output_message = JpegOutputMessage;
  error.Message[0] = 0;
}

[[noreturn]] void Fail(const TJpegError& error) { throw ELinearBitmap(std::string(error.Message)); }

class TJpegDecoder {
 public:
  TJpegDecoder() {
    InstallErrorHandler(error_);
    info_.err = &error_.Manager;
    progress_.progress_monitor = JpegProgress;
    if (setjmp(error_.Jump)) Fail(error_);
    jpeg_create_decompress(&info_);
    created_ = true;
    info_.progress = &progress_;
    info_.mem->max_memory_to_use = kMaxDecoderMemory;
  }
  ~TJpegDecoder() {
    if (created_) jpeg_destroy_decompress(&info_);
  }
  TJpegDecoder(const TJpegDecoder&) = delete;
  TJpegDecoder& operator=(const TJpegDecoder&) = delete;

  bool ReadHeader(const uint8_t* data, size_t size) {
    if (setjmp(error_.Jump)) return false;
    jpeg_mem_src(&info_, data, static_cast<unsigned long>(size));
    jpeg_read_header(&info_, TRUE);
    return true;
  }
  bool Start(J_COLOR_SPACE outSpace) {
    if (setjmp(error_.Jump)) return false;
    info_.out_color_space = outSpace;
    info_.dct_method = JDCT_ISLOW;
    info_.do_fancy_upsampling = TRUE;
    info_.scale_num = info_.scale_denom = 1;
    jpeg_start_decompress(&info_);
    return true;
  }
  bool ReadRow(uint8_t* row) {
    if (setjmp(error_.Jump)) return false;
    JSAMPROW rows[1] = {row};
    // The memory source never suspends, so each call yields its row.
    return jpeg_read_scanlines(&info_, rows, 1) == 1;
  }
  bool Finish() {
    if (setjmp(error_.Jump)) return false;
    jpeg_finish_decompress(&info_);
    return true;
  }

  jpeg_decompress_struct& Info() { return info_; }
  const TJpegError& Error() const { return error_; }

 private:
  jpeg_decompress_struct info_{};
  TJpegError error_{};
  jpeg_progress_mgr progress_{};
  bool created_ = false;
};

class TJpegEncoder {
 public:
  TJpegEncoder() {
    InstallErrorHandler(error_);
    info_.err = &error_.Manager;
    if (setjmp(error_.Jump)) Fail(error_);
    jpeg_create_compress(&info_);
    created_ = true;
  }
  ~TJpegEncoder() {
    if (created_) jpeg_destroy_compress(&info_);
    std::free(buffer_);
  }
  TJpegEncoder(const TJpegEncoder&) = delete;
  TJpegEncoder& operator=(const TJpegEncoder&) = delete;

  bool Start(int width, int height, int components, J_COLOR_SPACE inSpace, int quality) {
    if (setjmp(error_.Jump)) return false;
    jpeg_mem_dest(&info_, &buffer_, &size_);
    info_.image_width = static_cast<JDIMENSION>(width);
    info_.image_height = static_cast<JDIMENSION>(height);
    info_.input_components = components;
    info_.in_color_space = inSpace;
    jpeg_set_defaults(&info_);
    info_.dct_method = JDCT_ISLOW;
    if (quality >= 1) jpeg_set_quality(&info_, std::min(quality, 100), TRUE);
    jpeg_start_compress(&info_, TRUE);
    return true;
  }
  bool WriteRow(const uint8_t* row) {
    if (setjmp(error_.Jump)) return false;
    JSAMPROW rows[1] = {const_cast<uint8_t*>(row)};
    jpeg_write_scanlines(&info_, rows, 1);
    return true;
  }
  bool Finish() {
    if (setjmp(error_.Jump)) return false;
    jpeg_finish_compress(&info_);
    return true;
  }

  const uint8_t* Data() const { return buffer_; }
  size_t Size() const { return size_; }
  const TJpegError& Error() const { return error_; }

 private:
  jpeg_compress_struct info_{};
  TJpegError error_{};
  unsigned char* buffer_ = nullptr;
  unsigned long size_ = 0;
  bool created_ = false;
};

// The whole stream, read in blocks as it arrives (a short stream never makes us
// allocate more than it holds).
std::vector<uint8_t> ReadToEnd(TBaseStream& stream) {
  constexpr size_t kBlock = 65536;
  constexpr size_t kMaxBytes = size_t(1) << 30;
  std::vector<uint8_t> data;
  for (;;) {
    const size_t used = data.size();
    if (used >= kMaxBytes) break;
    data.resize(used + kBlock);
    const size_t got = stream.Read(data.data() + used, kBlock);
    data.resize(used + got);
    if (got == 0) break;
  }
  return data;
}

}  // namespace

void DecompressJPEG(const uint8_t* data, size_t size, TLinearBitmap& bitmap) {
  TJpegDecoder decoder;
  if (!decoder.ReadHeader(data, size)) Fail(decoder.Error());
  jpeg_decompress_struct& info = decoder.Info();
  const bool gray = info.jpeg_color_space == JCS_GRAYSCALE;
  const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
  CheckImageSize(info.image_width, info.image_height, gray ? 1 : 3);
  if (!decoder.Start(gray ? JCS_GRAYSCALE : (cmyk ? JCS_CMYK : JCS_EXT_BGR))) Fail(decoder.Error());

  const int width = static_cast<int>(info.output_width), height = static_cast<int>(info.output_height);
  TLinearBitmap result(width, height, gray ? pf8bit : pf24bit);
  if (gray) std::memcpy(result.Palette, GrayPalette(), 768);
  std::vector<uint8_t> inks(cmyk ? static_cast<size_t>(width) * 4 : 0);
  for (int y = 0; y < height; ++y) {
    uint8_t* row = result.ScanLine(y);
    if (!decoder.ReadRow(cmyk ? inks.data() : row)) Fail(decoder.Error());
    if (cmyk) {
      // Such files store the inks inverted, so each colour is ink * black / 255.
      const uint8_t* s = inks.data();
      for (int x = 0; x < width; ++x, s += 4, row += 3) {
        row[0] = static_cast<uint8_t>(s[2] * s[3] / 255);
        row[1] = static_cast<uint8_t>(s[1] * s[3] / 255);
        row[2] = static_cast<uint8_t>(s[0] * s[3] / 255);
      }
    }
    ReportRowProgress(y, height);
  }
  if (!decoder.Finish()) Fail(decoder.Error());
  bitmap.TakeOver(result);
}

std::vector<uint8_t> CompressJPEG(const TLinearBitmap& bitmap, int quality) {
  if (!bitmap.Present) throw ELinearBitmap("Invalid bitmap size");
  const bool gray = bitmap.IsGrayScale();
  const int width = bitmap.Width, height = bitmap.Height;
  J_COLOR_SPACE space = JCS_EXT_BGR;
  int components = 3;
  if (gray) {
    space = JCS_GRAYSCALE;
    components = 1;
  } else if (bitmap.PixelFormat == pf32bit) {
    space = JCS_EXT_BGRX;
    components = 4;
  }
  TJpegEncoder encoder;
  if (!encoder.Start(width, height, components, space, quality)) Fail(encoder.Error());
  std::vector<uint8_t> row(static_cast<size_t>(width) * 3);
  for (int y = 0; y < height; ++y) {
    const uint8_t* s = bitmap.ScanLine(y);
    const uint8_t* line = s;
    if (gray && bitmap.PixelFormat != pf8bit) {  // one grey byte per pixel
      const int step = bitmap.PixelFormat == pf16bit ? 2 : 3;
      const int at = bitmap.PixelFormat == pf16bit ? 1 : 0;
      for (int x = 0; x < width; ++x) row[x] = s[step * x + at];
      line = row.data();
    } else if (!gray && bitmap.PixelFormat == pf8bit) {
      for (int x = 0; x < width; ++x) std::memcpy(&row[3 * x], bitmap.Palette + 3 * s[x], 3);
      line = row.data();
    }
    // A grey-palette pf8bit row is its own grey levels.
    if (!encoder.WriteRow(line)) Fail(encoder.Error());
    ReportRowProgress(y, height);
  }
  if (!encoder.Finish()) Fail(encoder.Error());
  return std::vector<uint8_t>(encoder.Data(), encoder.Data() + encoder.Size());
}

bool TJPEGLoader::CanLoad(const std::string& extension) { return ExtensionInList(extension, {"JPG", "JPEG", "JPE"}); }

bool TJPEGLoader::CanSave(const std::string& extension) { return ExtensionInList(extension, {"JPG", "JPEG"}); }

std::string TJPEGLoader::GetLoadFilter() {
  return "Joint Picture Expert Group (*.jpg,*.jpeg,*.jpe)|*.jpg;*.jpeg;*.jpe";
}

std::string TJPEGLoader::GetSaveFilter() { return "Joint Picture Expert Group (*.jpg)|*.jpg"; }

void TJPEGLoader::LoadFromStream(TBaseStream& stream, const std::string&, TLinearBitmap& bitmap) {
  const std::vector<uint8_t> data = ReadToEnd(stream);
  TLinearBitmap result;
  DecompressJPEG(data.data(), data.size(), result);
  if (!result.Present) throw ELinearBitmap("Error in bitmap data");
  bitmap.TakeOver(result);
}

void TJPEGLoader::SaveToStream(TBaseStream& stream, const std::string&, const TLinearBitmap& bitmap) {
  const int start = Quality >= 1 ? std::min(Quality, 100) : 0;
  if (MaxFileSize <= 0) {
    const std::vector<uint8_t> block = CompressJPEG(bitmap, start);
    stream.Write(block.data(), block.size());
    return;
  }
  // Bisect for the highest quality whose file fits, never above the start value;
  // the last block is written even when quality 1 still does not fit.
  constexpr int kLibraryDefaultQuality = 75;
  int quality = start >= 1 ? start : kLibraryDefaultQuality;
  int lower = 1, upper = quality + 1;
  std::vector<uint8_t> block;
  for (;;) {
    block = CompressJPEG(bitmap, quality);
    const auto size = static_cast<int64_t>(block.size());
    if (size <= MaxFileSize) {
      if (size == MaxFileSize || quality >= 100 || upper == quality + 1) break;
      lower = quality;
    } else {
      upper = quality;
      if (upper < 2) break;
    }
    quality = (lower + upper) / 2;
  }
  stream.Write(block.data(), block.size());
}

TJPEGLoader& JPEGLoader() {
  static TJPEGLoader loader;
  return loader;
}

void SaveJPEGFile(const TLinearBitmap& bitmap, const std::string& fileName, int quality, int64_t maxFileSize) {
  TJPEGLoader loader;
  loader.Quality = quality;
  loader.MaxFileSize = maxFileSize;
  TAtomicFileSave save(fileName);
  loader.SaveToFile(save.TempName(), "JPG", bitmap);
  save.Commit();
}

}  // namespace sq
