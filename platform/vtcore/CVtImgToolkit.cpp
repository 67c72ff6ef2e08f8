#include "platform/vtcore/CVtImgToolkit.h"

unsigned short CVtImgToolkit::BitCount(ImgPixelFormat format) {
  switch (format) {
    case PF_BIT1:
    case PF_BIT4:
    case PF_BIT8:
    case PF_BIT16:
    case PF_BIT24:
    case PF_BIT32:
    case PF_BIT48:
    case PF_BIT64:
      return static_cast<unsigned short>(format);
    case PF_INT32:
    case PF_FLOAT32:
      return 32;
    case PF_FLOAT64:
      return 64;
    default:
      return 0;
  }
}

ImgPixelFormat CVtImgToolkit::Bit2Format(unsigned short bits) {
  switch (bits) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
    case 48:
    case 64:
      return static_cast<ImgPixelFormat>(bits);
    default:
      return PF_UNKNOWN;
  }
}

unsigned short CVtImgToolkit::PaletteSize(ImgPixelFormat format) {
  switch (format) {
    case PF_BIT1:
      return 2;
    case PF_BIT4:
      return 16;
    case PF_BIT8:
      return 256;
    default:
      return 0;
  }
}

// 64-bit arithmetic: width × 64 bits must not overflow for any 32-bit width.
long CVtImgToolkit::AlignWidth(ImgPixelFormat format, long width) {
  if (width <= 0) return 0;
  long long bits = static_cast<long long>(width) * BitCount(format);
  return static_cast<long>((bits + 31) / 32 * 4);
}

long CVtImgToolkit::AlignWidthByte(ImgPixelFormat format, long width) {
  if (width <= 0) return 0;
  long long bits = static_cast<long long>(width) * BitCount(format);
  return static_cast<long>((bits + 7) / 8);
}
