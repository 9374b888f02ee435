/* The contract between the program and an image plug-in library.  A plug-in is a
 * shared library (*.so) in the plug-in folder that exports these plain C functions;
 * it needs nothing of the program but this header.
 *
 * Calls: the program asks LibGetLoadFilter / LibGetSaveFilter once when it loads the
 * library.  To read a file it calls LibLoadImage, converts the container the library
 * filled, then always hands it back with LibFreeImage.  To write a file it fills a
 * container that points into its own image memory and calls LibSaveImage; the
 * library only reads that memory during the call.
 *
 * Filters use the open-dialog syntax: "Description (*.ext)|*.ext;*.ext2", several
 * pairs joined by "|".  The extension argument is upper case, without the dot. */
#ifndef SQ_IMAGE_PLUGIN_API_H
#define SQ_IMAGE_PLUGIN_API_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Options: low 4 bits = number of channels.  Interleaved samples run blue, green,
 * red(, fourth) inside a pixel, like the program's own bitmaps. */
#define SQ_CONTAINER_CHANNEL_MASK 0x0F
#define SQ_CONTAINER_PLANAR 0x10 /* channels stored as planes, one after the other */
#define SQ_CONTAINER_GRAY16 0x20 /* with 1 channel: 16-bit little-endian grey samples */

/* Planar data: plane p starts at Data + p * Height * BytesPerLine, plane 0 being blue. */
typedef struct TImageContainer {
  int32_t Width;        /* pixels per row */
  int32_t Height;       /* rows */
  int32_t BytesPerLine; /* row stride of Data, at least the packed row */
  int32_t Options;
  void* Data;           /* pixel rows, top row first; owned by whoever filled the record */
  uint8_t* Palette;     /* 256 x (blue, green, red) for 1-channel 8-bit images, or NULL for grey */
  int32_t Reserved;     /* 0 */
} TImageContainer;

/* Results of the integer functions. */
#define SQ_PLUGIN_OK 0
#define SQ_PLUGIN_OPEN_FAILED 2
#define SQ_PLUGIN_BAD_DATA 3
#define SQ_PLUGIN_UNSUPPORTED_PIXEL_FORMAT 4
#define SQ_PLUGIN_CLOSE_FAILED 5

typedef int32_t (*TLibLoadImage)(const char* fileName, const char* extension, TImageContainer* container);
typedef int32_t (*TLibSaveImage)(const char* fileName, const char* extension, TImageContainer* container);
typedef int32_t (*TLibFreeImage)(TImageContainer* container);
typedef const char* (*TLibGetFilter)(void);

#ifdef __cplusplus
}
#endif

#endif
