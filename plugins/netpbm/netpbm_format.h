// Netpbm images for the plug-in: PBM, PGM and PPM (plain and raw) and PAM are read;
// PGM and PPM are written raw with 8-bit samples.
//
// Format notes: a header of the magic "P1".."P7" and ASCII decimal fields separated
// by white space, where "#" starts a comment that runs to the end of the line.
// P1-P6 carry width, height and (except for bitmaps) the largest sample value;
// exactly one white-space byte ends the header of the raw kinds.  P7 has keyword
// lines up to "ENDHDR".  Samples are big-endian when the largest value exceeds 255,
// one bit per pixel (1 = black, rows padded to a byte) in raw bitmaps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "imaging/codecs/image_plugin_api.h"

namespace sq::netpbm {

// Reads the first image of the file's bytes into a container whose Data comes from
// malloc (release it with FreeContainer): grey images as 8-bit grey, or 16-bit grey
// when samples exceed 8 bits; colour images as three planes blue, green, red (an
// alpha channel is dropped).  Returns an SQ_PLUGIN_* code; a damaged or truncated
// file is SQ_PLUGIN_BAD_DATA and leaves the container empty.
int ReadNetpbm(const uint8_t* data, size_t size, TImageContainer& container);

// Releases what ReadNetpbm put into the container.
void FreeContainer(TImageContainer& container);

// Encodes a 1-channel (with its palette, or grey) or interleaved 3-channel container
// as raw PGM (grey levels (2R + 3G + B) / 6) or PPM.
int WriteNetpbm(const TImageContainer& container, bool colour, std::vector<uint8_t>& out);

}  // namespace sq::netpbm
