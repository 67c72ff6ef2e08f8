// Base class of every raster driver: a file (the driver's own handle is the
// CFile part) with the properties every raster image has, and the operations
// through which a caller opens an image and reads or writes it one scan line
// at a time. The base versions of the image operations report failure, so a
// driver overrides only what its format supports.
#pragma once

#include <cstdint>

#include "platform/mfc/CArray.h"
#include "platform/mfc/CBitmap.h"
#include "platform/mfc/CDC.h"
#include "platform/mfc/CFile.h"
#include "platform/mfc/CString.h"
#include "platform/mfc/CTime.h"
#include "platform/vtcore/CImgScanLine.h"
#include "platform/vtcore/CRect2D.h"
#include "platform/vtcore/ImgPixelFormat.h"
#include "platform/win/wingdi.h"

typedef CArray<PALETTEENTRY, PALETTEENTRY> CPaletteArray;

class CImgFile : public CFile {
 public:
  // Colour table of indexed images, one entry per colour; the byte order
  // inside an entry is each driver's own.
  CArray<PALETTEENTRY, PALETTEENTRY> m_Palette;

 protected:
  uint32_t m_dwOffBits = 0;  // file offset of the first pixel row
  uint32_t m_dwWidth = 1;
  uint32_t m_dwHeight = 1;
  ImgPixelFormat m_PixelFormat = PF_BIT24;
  ImgPixelFormat m_PixelFormatExt = PF_BIT24;
  uint32_t m_dwWidthBytes = 0;  // bytes of one scan line
  uint32_t m_dwVersion = 0;
  CString m_strTypeFlag = "BM";
  CTime m_ModifiedDate;  // 1 January 1990 00:00:00 local time until set

 public:
  CImgFile();
  ~CImgFile() override;

  BOOL Open(const char* fileName, UINT openFlags, CFileException* error = nullptr) override;
  void Close() override;

  // Opens `path` read-only, shared. 1 on success, 0 on failure.
  virtual int OpenForRead(CString path);
  // Creates `path` for reading and writing, exclusively. 1 or 0.
  virtual int OpenForWrite(CString path);
  // Reads the header and sets the properties; negative when the file is not
  // of the driver's format. The base reports failure (-1).
  virtual long LoadImage();
  // Writes the header for the current properties; negative on failure.
  virtual long SaveImage();
  // Replaces the palette with a copy of `palette`; returns its entry count.
  virtual long SetPalette(CArray<PALETTEENTRY, PALETTEENTRY>& palette);
  // Fills `line` (sized by the caller to at least the width bytes) with row
  // `row`; negative on failure. The base reports failure (-1).
  virtual long ReadScanLine(long row, CImgScanLine& line);
  // Writes `line` as row `row`; negative on failure. The base reports -1.
  virtual long WriteScanLine(long row, CImgScanLine& line);
  // Writes the picture of a device bitmap into a new file of the driver's
  // format in pixel format `format`; row i of the file is the bitmap's i-th
  // row from the bottom. 1 on success; -1 when the file cannot be created or
  // the device cannot describe the bitmap, -2 when SaveImage fails, -3 when
  // the device cannot deliver a row, -4 when WriteScanLine fails. The object
  // is closed on every exit.
  virtual long OutputDirect(CString path, CDC* dc, CBitmap* bitmap, ImgPixelFormat format, CRect2D bounds);

 protected:
  // Seeks the file to the first pixel row.
  virtual void SeekMe();

 public:
  unsigned long SetWidth(unsigned long width) { return m_dwWidth = static_cast<uint32_t>(width); }
  unsigned long SetHeight(unsigned long height) { return m_dwHeight = static_cast<uint32_t>(height); }
  unsigned long SetWidthBytes(unsigned long bytes) { return m_dwWidthBytes = static_cast<uint32_t>(bytes); }
  unsigned long SetVersion(unsigned long version) { return m_dwVersion = static_cast<uint32_t>(version); }
  unsigned long GetWidth() const { return m_dwWidth; }
  unsigned long GetHeight() const { return m_dwHeight; }
  unsigned long GetWidthBytes() const { return m_dwWidthBytes; }
  unsigned long GetVersion() const { return m_dwVersion; }
  ImgPixelFormat SetPixelFormat(ImgPixelFormat format) { return m_PixelFormat = format; }
  ImgPixelFormat SetPixelFormatExt(ImgPixelFormat format) { return m_PixelFormatExt = format; }
  ImgPixelFormat GetPixelFormat() const { return m_PixelFormat; }
  ImgPixelFormat GetPixelFormatExt() const { return m_PixelFormatExt; }
  CString SetTypeFlag(CString flag) { return m_strTypeFlag = flag; }
  CString GetTypeFlag() const { return m_strTypeFlag; }
  CTime SetModifiedDate(CTime date) { return m_ModifiedDate = date; }
  CTime GetModifiedDate() const { return m_ModifiedDate; }

  // Sets `palette` to `count` grey entries (i, i, i, 0), i modulo 256; 1.
  static long CreateGrayPalette(CArray<PALETTEENTRY, PALETTEENTRY>& palette, long count);
  // The clipboard's bitmap as a temporary wrapper (not to be kept); null when
  // the clipboard cannot be opened or holds no bitmap.
  static CBitmap* Paste();
  // Hands the bitmap's handle to the clipboard, which owns it from then on.
  // Returns 1 whether or not the clipboard could be opened.
  static long Copy(CBitmap* bitmap);

 protected:
  // The bitmap-information block GetDIBits fills: a version-4 header and
  // room for a 256-entry colour table.
  struct DeviceBitmapInfo {
    BITMAPV4HEADER header;
    RGBQUAD colors[256];
    BITMAPINFO* Info() { return reinterpret_cast<BITMAPINFO*>(this); }
  };
  // Fills `info` with the size of `bitmap`, sets up `dib` to ask for its
  // rows in `format`, has `dc` fill in its colour table, and takes the
  // bitmap's width and height and `format` as the image's. False when
  // either is missing, the bitmap has no pixels or the device cannot
  // describe it.
  bool DescribeDeviceBitmap(CDC* dc, CBitmap* bitmap, ImgPixelFormat format, BITMAP& info,
                            DeviceBitmapInfo& dib);

  unsigned long SetOffBits(unsigned long offset) { return m_dwOffBits = static_cast<uint32_t>(offset); }
  unsigned long GetOffBits() const { return m_dwOffBits; }
};
