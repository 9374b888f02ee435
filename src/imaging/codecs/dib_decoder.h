// The one decoder of device-independent bitmaps, shared by clipboard blocks
// (TLinearBitmap::GetFromDIB) and BMP files (a 14-byte file header plus a DIB).
//
// Format notes:
//  - information header: 12 bytes (core: 16-bit sizes, 3-byte colour entries),
//    16..64 bytes (the 40-byte header and its shorter and longer relatives), 108 or
//    124 bytes (which carry the bit-field masks inside);
//  - 1, 4, 8 bits index a colour table of "colours used" entries (0: 2^bits);
//    16 and 32 bits are bit fields (5-5-5 and 8-8-8 when no masks are given);
//    24 bits are blue, green, red;
//  - rows are padded to 4 bytes; a positive height stores the bottom row first;
//  - RLE8 and RLE4 encode runs, absolute runs padded to 2 bytes, end of line (0 0),
//    end of bitmap (0 1) and a jump (0 2 dx dy); pixels a jump passes stay index 0.
#pragma once

#include <cstdint>

namespace sq {

class TBaseStream;
class TLinearBitmap;

struct TDIBInfo {
  int BitCount = 0;
  uint32_t Compression = 0;
};

// Reads a DIB from stream into bitmap: indexed images (1, 4, 8 bits) become pf8bit
// with their colour table (the rest of the palette black), all others pf24bit;
// with expandBelow8, 1 and 4-bit images become pf24bit as well.
//  pixelOffset: where the pixels start, counted from the first byte of the
//    information header (a BMP file's offset field - 14), or -1 when they follow the
//    colour table directly.
//  available: the bytes the DIB can occupy at most from the information header on
//    (block length, remaining file size), or -1 when unknown.  Sizes the header
//    gives are checked against it before anything is allocated.
// Damaged headers raise ELinearBitmap "Error in bitmap data"; depths and compressions
// outside the format raise "Unsupported pixel format" or "Unsupported file format";
// data that ends early raises the stream's read error.
TDIBInfo ReadDIB(TBaseStream& stream, int64_t pixelOffset, int64_t available, TLinearBitmap& bitmap,
                 bool expandBelow8 = false);

}  // namespace sq
