// Image statics of the core toolkit: bit counts, palette sizes and row lengths
// of the pixel formats.
#pragma once

#include "platform/vtcore/ImgPixelFormat.h"

class CVtImgToolkit {
 public:
  // Bits per pixel of a format; 0 for a value that is not a format.
  static unsigned short BitCount(ImgPixelFormat format);
  // The plain format with `bits` bits per pixel (1, 4, 8, 16, 24, 32, 48, 64);
  // PF_UNKNOWN for any other count.
  static ImgPixelFormat Bit2Format(unsigned short bits);
  // Palette entries of an indexed format: 2, 16 or 256; 0 otherwise.
  static unsigned short PaletteSize(ImgPixelFormat format);
  // Bytes of a row of `width` pixels rounded up to a multiple of 4
  // (the device-independent-bitmap row rule). 0 for a negative width.
  static long AlignWidth(ImgPixelFormat format, long width);
  // Bytes that `width` pixels occupy, rounded up to a whole byte.
  static long AlignWidthByte(ImgPixelFormat format, long width);
};
