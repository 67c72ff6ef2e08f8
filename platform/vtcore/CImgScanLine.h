// One row of pixels. The byte array is the pixel buffer; beside it the row
// carries its pixel format, its length in bytes and its width in pixels, which
// drivers that hand a row to other code set directly. The caller owns and
// sizes the buffer.
#pragma once

#include "platform/mfc/CArray.h"
#include "platform/vtcore/ImgPixelFormat.h"

class CImgScanLine : public CByteArray {
 public:
  ImgPixelFormat m_PixelFormat = PF_BIT24;
  long m_nLength = 0;  // bytes of pixel data in the row
  long m_nWidth = 0;   // pixels in the row

  CImgScanLine() = default;
  // A row of `format` pixels with a buffer of `bytes` bytes; the width is the
  // number of whole pixels that fit. A size the byte array cannot hold
  // (2 GiB or more) gives an empty line.
  CImgScanLine(ImgPixelFormat format, long bytes);

  // Value of pixel `index` decoded by the row's pixel format (machine byte
  // order). Indexes whose bytes lie outside the buffer give 0.
  double GetValue(long index) const;

  // Exchanges the first and third byte of every three-byte pixel (BGR <-> RGB):
  // the row's width in pixels when set, else as many pixels as the buffer holds.
  void SwapBlueRed();
};
