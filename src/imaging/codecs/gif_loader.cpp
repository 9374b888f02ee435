#include "imaging/codecs/gif_loader.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "base/exception.h"
#include "base/progress.h"
#include "imaging/color_quantizer.h"
#include "imaging/linear_bitmap.h"
#include "io/base_stream.h"

namespace sq {

namespace {

// The library calls back into our streams from C; an exception must not cross its
// frames, so the callbacks keep the message and report a failed transfer instead.
struct TGifContext {
  TBaseStream* Stream;
  std::string Error;
};

extern "C" int GifReadFromStream(GifFileType* gif, GifByteType* buffer, int count) {
  auto* context = static_cast<TGifContext*>(gif->UserData);
  try {
    int done = 0;
    while (done < count) {
      const size_t got = context->Stream->Read(buffer + done, static_cast<size_t>(count - done));
      if (got == 0) break;
      done += static_cast<int>(got);
    }
    return done;
  } catch (const std::exception& e) {
    context->Error = e.what();
    return 0;
  }
}

extern "C" int GifWriteToStream(GifFileType* gif, const GifByteType* buffer, int count) {
  auto* context = static_cast<TGifContext*>(gif->UserData);
  try {
    context->Stream->Write(buffer, static_cast<size_t>(count));
    return count;
  } catch (const std::exception& e) {
    context->Error = e.what();
    return 0;
  }
}

[[noreturn]] void Fail(const TGifContext& context, int code) {
  if (!context.Error.empty()) throw EInOutError(context.Error);
  switch (code) {
    case D_GIF_ERR_NOT_GIF_FILE:
      throw ELinearBitmap("Unsupported file format");
    case D_GIF_ERR_READ_FAILED:
      throw EInOutError("Read less than expected");
    case E_GIF_ERR_WRITE_FAILED:
      throw EInOutError("Error writing to stream");
    case D_GIF_ERR_NOT_ENOUGH_MEM:
    case E_GIF_ERR_NOT_ENOUGH_MEM:
      throw std::bad_alloc();
    default:
      throw ELinearBitmap("Error in bitmap data");
  }
}

struct TGifReaderDeleter {
  void operator()(GifFileType* gif) const { DGifCloseFile(gif, nullptr); }
};
struct TGifWriterDeleter {
  void operator()(GifFileType* gif) const { EGifCloseFile(gif, nullptr); }
};
struct TColorMapDeleter {
  void operator()(ColorMapObject* map) const { GifFreeMapObject(map); }
};

// Reads the first frame's pixels into the canvas, honouring interlaced row order.
void ReadFrame(GifFileType* gif, const TGifContext& context, TLinearBitmap& canvas) {
  const GifImageDesc& frame = gif->Image;
  std::vector<int> order;
  order.reserve(static_cast<size_t>(frame.Height));
  if (frame.Interlace) {
    static const int kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass)
      for (int y = kStart[pass]; y < frame.Height; y += kStep[pass]) order.push_back(y);
  } else {
    for (int y = 0; y < frame.Height; ++y) order.push_back(y);
  }
  for (size_t i = 0; i < order.size(); ++i) {
    GifPixelType* row = canvas.PixelAddress(frame.Left, frame.Top + order[i]);
    if (DGifGetLine(gif, row, frame.Width) == GIF_ERROR) Fail(context, gif->Error);
    ReportRowProgress(static_cast<int>(i), frame.Height);
  }
}

}  // namespace

bool TGIFLoader::CanLoad(const std::string& extension) { return ExtensionInList(extension, {"GIF"}); }

bool TGIFLoader::CanSave(const std::string& extension) { return ExtensionInList(extension, {"GIF"}); }

std::string TGIFLoader::GetLoadFilter() { return "Graphics Interchange Format (*.gif)|*.gif"; }

void TGIFLoader::LoadFromStream(TBaseStream& stream, const std::string&, TLinearBitmap& bitmap) {
  TransparentColor = -1;
  TGifContext context{&stream, {}};
  int error = 0;
  std::unique_ptr<GifFileType, TGifReaderDeleter> gif(DGifOpen(&context, GifReadFromStream, &error));
  if (!gif) Fail(context, error);

  int transparentIndex = -1;
  for (;;) {
    GifRecordType type;
    if (DGifGetRecordType(gif.get(), &type) == GIF_ERROR) Fail(context, gif->Error);
    if (type == TERMINATE_RECORD_TYPE) throw ELinearBitmap("Error in bitmap data");  // no frame at all
    if (type == EXTENSION_RECORD_TYPE) {
      int code;
      GifByteType* data;
      if (DGifGetExtension(gif.get(), &code, &data) == GIF_ERROR) Fail(context, gif->Error);
      GraphicsControlBlock control{};
      // The library leaves the block untouched when its length is wrong.
      if (code == GRAPHICS_EXT_FUNC_CODE && data && DGifExtensionToGCB(data[0], data + 1, &control) == GIF_OK &&
          control.TransparentColor >= 0 && control.TransparentColor <= 255)
        transparentIndex = control.TransparentColor;
      while (data)
        if (DGifGetExtensionNext(gif.get(), &data) == GIF_ERROR) Fail(context, gif->Error);
      continue;
    }
    if (type != IMAGE_DESC_RECORD_TYPE) continue;
    if (DGifGetImageDesc(gif.get()) == GIF_ERROR) Fail(context, gif->Error);
    break;
  }

  const GifImageDesc& frame = gif->Image;
  if (frame.Width < 1 || frame.Height < 1 || frame.Left < 0 || frame.Top < 0)
    throw ELinearBitmap("Error in bitmap data");
  // One 12-bit code stands for at most 4096 pixels, so what is left of a seekable
  // source bounds the frame before anything is allocated.
  if (auto* seekable = dynamic_cast<TSeekableStream*>(&stream)) {
    const int64_t codes = seekable->Available() * 8 / 12 + 1;
    if (int64_t(frame.Width) * frame.Height > codes * 4096) throw EInOutError("Read less than expected");
  }
  const int64_t width = std::max<int64_t>(gif->SWidth, int64_t(frame.Left) + frame.Width);
  const int64_t height = std::max<int64_t>(gif->SHeight, int64_t(frame.Top) + frame.Height);
  CheckImageSize(width, height, 1);
  TLinearBitmap result(static_cast<int>(width), static_cast<int>(height), pf8bit);
  std::memset(result.Palette, 0, 768);
  const ColorMapObject* map = frame.ColorMap ? frame.ColorMap : gif->SColorMap;
  if (map) {
    for (int i = 0; i < std::min(map->ColorCount, 256); ++i) {
      result.Palette[3 * i] = map->Colors[i].Blue;
      result.Palette[3 * i + 1] = map->Colors[i].Green;
      result.Palette[3 * i + 2] = map->Colors[i].Red;
    }
  } else {
    std::memcpy(result.Palette, GrayPalette(), 768);  // a file without colours shows grey levels
  }
  // Around a frame smaller than the screen: the transparent colour, else the background.
  result.Clear(static_cast<uint8_t>(transparentIndex >= 0 ? transparentIndex : gif->SBackGroundColor));
  ReadFrame(gif.get(), context, result);

  if (transparentIndex >= 0) {
    const uint8_t* entry = result.Palette + 3 * transparentIndex;
    TransparentColor = entry[2] | (entry[1] << 8) | (entry[0] << 16);
  }
  bitmap.TakeOver(result);
}

void TGIFLoader::SaveToStream(TBaseStream& stream, const std::string&, const TLinearBitmap& bitmap) {
  if (!bitmap.Present) throw ELinearBitmap("Invalid bitmap size");
  if (bitmap.Width > 0xFFFF || bitmap.Height > 0xFFFF) throw ELinearBitmap("Invalid bitmap size");

  // A palette image of the same content.
  const TLinearBitmap* image = &bitmap;
  TLinearBitmap converted;
  if (bitmap.PixelFormat == pf16bit) {
    converted.Assign(bitmap);
    converted.SetPixelFormat(pf8bit);
    image = &converted;
  } else if (bitmap.PixelFormat != pf8bit) {
    QuantizeColors(bitmap, 256, converted);
    image = &converted;
  }

  // Entries in use: up to the last non-black one and the highest index a pixel
  // names, at least 2.  1 or 4 bits only where every index fits.
  int used = 2;
  for (int i = 255; i >= 0; --i)
    if (image->Palette[3 * i] || image->Palette[3 * i + 1] || image->Palette[3 * i + 2]) {
      used = std::max(used, i + 1);
      break;
    }
  for (int y = 0; y < image->Height && used < 256; ++y) {
    const uint8_t* row = image->ScanLine(y);
    used = std::max(used, *std::max_element(row, row + image->Width) + 1);
  }
  const int bits = used <= 2 ? 1 : (used <= 16 ? 4 : 8);
  const int entries = 1 << bits;
  std::vector<GifColorType> colors(static_cast<size_t>(entries));
  for (int i = 0; i < entries; ++i) {
    colors[i].Blue = image->Palette[3 * i];
    colors[i].Green = image->Palette[3 * i + 1];
    colors[i].Red = image->Palette[3 * i + 2];
  }
  std::unique_ptr<ColorMapObject, TColorMapDeleter> map(GifMakeMapObject(entries, colors.data()));
  if (!map) throw std::bad_alloc();

  TGifContext context{&stream, {}};
  int error = 0;
  GifFileType* raw = EGifOpen(&context, GifWriteToStream, &error);
  if (!raw) Fail(context, error);
  std::unique_ptr<GifFileType, TGifWriterDeleter> gif(raw);
  const int width = image->Width, height = image->Height;
  if (EGifPutScreenDesc(gif.get(), width, height, bits, 0, map.get()) == GIF_ERROR) Fail(context, gif->Error);
  if (EGifPutImageDesc(gif.get(), 0, 0, width, height, false, nullptr) == GIF_ERROR) Fail(context, gif->Error);
  // The library masks the line it is given in place, so it gets a copy.
  std::vector<GifPixelType> line(static_cast<size_t>(width));
  for (int y = 0; y < height; ++y) {
    std::memcpy(line.data(), image->ScanLine(y), line.size());
    if (EGifPutLine(gif.get(), line.data(), width) == GIF_ERROR) Fail(context, gif->Error);
    ReportRowProgress(y, height);
  }
  GifFileType* closing = gif.release();
  if (EGifCloseFile(closing, &error) == GIF_ERROR) Fail(context, error);
}

TGIFLoader& GIFLoader() {
  static TGIFLoader loader;
  return loader;
}

}  // namespace sq
