// GIF images through giflib. Reading decodes the whole file into memory when
// it is opened, so rows may be read in any order; giflib hands interlaced
// images back in display order. Writing exports a device bitmap as an
// interlaced GIF. Indexed bitmaps keep their indices and colour table, and
// pictures of no more than 256 colours keep every colour; only pictures of
// more colours go through our own quantizer: a colour cube of 252 cells, of
// which the 236 most used keep a palette entry between the display's twenty
// static colours. The file keeps no georeferencing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/mfc/CPalette.h"
#include "raster/imgfile/CImgFile.h"

struct GifFileType;

class CVtImgFileGIF : public CImgFile {
 public:
  // Cells of the quantizer's colour cube: 6 blue, 7 green and 6 red levels.
  static constexpr int kCells = 252;
  // Cells left without a palette entry of their own.
  static constexpr int kDroppedCells = 16;
  // Palette entries before the first cell's (the display's static colours).
  static constexpr int kFirstCellEntry = 10;

  CVtImgFileGIF();
  ~CVtImgFileGIF() override;

  // Releases the decoded image.
  void Close() override;
  // Checks the signature and the file's layout, then decodes every image.
  // 1 on success; 0 (with a message on the error-message object) when the
  // file is not a GIF we read, is damaged or truncated, or describes an
  // image larger than its screen or than its data could hold.
  int OpenForRead(CString path) override;
  // Properties of the first image: its size, a pixel format from the
  // screen's colour resolution (1, 4 or 8 bits, 8 when an index needs it),
  // width bytes padded to 4, and the image's colour map (the screen's when
  // the image has none) as palette entries red, green, blue, 0, padded with
  // black to the format's size. -1 without a decoded image.
  long LoadImage() override;
  // Row `row` (top row first) as indices in the pixel format, padding bytes
  // zero. 1; 0 when nothing is decoded; -1 for a row outside the image or a
  // line shorter than the width bytes.
  long ReadScanLine(long row, CImgScanLine& line) override;
  // Copies the palette into `palette`; 1, or 0 when the palette is empty.
  long GetPalette(CArray<PALETTEENTRY, PALETTEENTRY>& palette);
  // Writes `bitmap` into the new file `path` as an interlaced GIF: the
  // indices and colour table of a 1-, 4- or 8-bit bitmap; the exact colours
  // of a picture of no more than 256; a quantized palette for more. Pixels
  // that m_Alpha makes transparent share the colour map's transparent entry.
  // `dc`, `format` and `bounds` are not used. 1; -1 when the file exists or
  // cannot be created, the bitmap cannot be described or is larger than a GIF
  // holds, or a pixel is partly transparent; -2 when memory runs out or the
  // device cannot deliver the bits; -3 when a row cannot be written; -4 when
  // the file cannot be completed. A file this call created is removed on
  // failure.
  long OutputDirect(CString path, CDC* dc, CBitmap* bitmap, ImgPixelFormat format, CRect2D bounds) override;

  // The decoded file (screen, images, extensions), or null when closed.
  const GifFileType* GetGifFile() const { return m_pGifFile; }
  // giflib's error code of the last failed read or write (0 when none).
  int GetGifError() const { return m_nGifError; }

 protected:
  // Alpha of the next export's pixels, which a device bitmap does not carry:
  // one byte a pixel, top row first, rows of the bitmap's width; empty when
  // every pixel is opaque. 0 is transparent, 255 opaque; OutputDirect
  // refuses any other value, as a GIF pixel is one or the other, and clears
  // the array when it returns.
  std::vector<unsigned char> m_Alpha;

 private:
  // -1 when the file cannot be opened, 0 when it does not start with "GIF",
  // 1 for versions up to "89a", -2 for a later version.
  long CheckHeader(const CString& path);
  // Row length of a device-dependent bitmap: rows padded to 16 bits.
  static long CalcWidthBytes(long width, unsigned char bitsPerPixel);
  // 32-bit rows (width bytes long) into 24-bit rows.
  void Bits32ToBits24(unsigned char* source, unsigned char*& target);
  // Cells and palette for the 24-bit rows in `source`; `indices` receives
  // one palette index per pixel, `palette` a new 256-entry palette. Pixels
  // that m_Alpha makes transparent count in no cell.
  void QuantizeColor(unsigned char* source, unsigned char*& indices, CPalette*& palette);
  // Records `text` on the error-message object; returns `code`.
  long Fail(long code, const std::string& text);

  GifFileType* m_pGifFile = nullptr;
  // Size of the decoded first image whose rows ReadScanLine hands out.
  uint32_t m_nRasterWidth = 0;
  uint32_t m_nRasterHeight = 0;
  int m_nGifError = 0;
};
