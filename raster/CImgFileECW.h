// ECW images through the ECW decoding SDK (platform/ncsecw): windowed,
// resampled access. Not a CImgFile: a caller opens the file, sets a view (a
// rectangle of image pixels resampled to a window size) and takes the
// decoded view from the cache, or sets the whole image at full size with
// SetOutputBound and reads it line by line with GetScanLine. Read-only; no
// georeferencing.
//
// The cache holds a view's lines top first. For files of one or two bands
// each view line is one cache row per view band (row l * bands + b), one
// byte a pixel; for files of three bands or more each view line is one row
// of blue, green, red triples. Rows are GetBufferWidth() pixels long (the
// window width rounded down to a multiple of 8, plus 8).
#pragma once

#include <cstdint>

#include "platform/mfc/CArray.h"
#include "platform/mfc/CRect.h"
#include "platform/mfc/CString.h"
#include "platform/ncsecw/NCSEcw.h"
#include "platform/vtcore/CImgScanLine.h"
#include "platform/vtcore/CRect2D.h"
#include "platform/vtcore/ImgPixelFormat.h"
#include "platform/win/wingdi.h"

class CImgFileECW {
 public:
  // 256 grey entries (k, k, k, 0) for a one-band file, empty otherwise.
  CArray<PALETTEENTRY, PALETTEENTRY> m_Palette;

 protected:
  CString m_strFileName;
  NCSFileView* m_pFileView = nullptr;
  NCSFileViewFileInfo* m_pFileInfo = nullptr;  // owned by the view
  uint16_t m_nBandCount = 0;
  unsigned char* m_pCache = nullptr;
  int32_t m_nCacheSize = 0;     // bytes allocated
  int32_t m_nCacheRowLen = 0;   // pixels per cache row
  int32_t m_nCacheRows = 0;     // rows of the last view
  CRect2D m_ViewRect;
  int32_t m_nViewImgWidth = 0, m_nViewImgHeight = 0;
  int32_t m_nViewWndWidth = 0, m_nViewWndHeight = 0;
  int32_t m_nLastError = 0;     // result of the last SDK call, 0 = success

 public:
  CImgFileECW() = default;
  // Stores the file name; nothing is opened.
  explicit CImgFileECW(CString path) : m_strFileName(path) {}
  virtual ~CImgFileECW();
  CImgFileECW(const CImgFileECW&) = delete;
  CImgFileECW& operator=(const CImgFileECW&) = delete;

  // Opens a view handle on `path`. 1; 0 when the path is empty or names no
  // file (message 31332 with the path), or when the SDK refuses the file
  // (its code kept as the last error, its text on the error-message object).
  int Open(const CString& path);
  // Closes the view handle and releases the cache.
  void Close();

  // Sets a view of `rect` (image pixels, right and bottom outside) resampled
  // to windowWidth x windowHeight and decodes it into the cache. `bands`,
  // when given, chooses the first `bandCount` view bands (0-based). 1; 0 when
  // bandCount exceeds the file's bands, a window size is not 1 to 2^31 - 1,
  // the SDK refuses the view or a line (its result kept as the last error),
  // or the cache cannot be allocated.
  int SetFileView(CRect rect, long windowWidth, long windowHeight, long* bands, long bandCount);
  // Sets the whole image at full size, every band, for GetScanLine. 1; 0
  // without a file or when the SDK refuses.
  int SetOutputBound();
  // The next line of the current view into `line` (resized): one byte a
  // pixel for one-band files, blue, green, red triples otherwise. `row` is
  // not used. 1; 0 when the view is not the whole image at full size (the
  // line would not be the file's width), or the SDK reports a failure.
  int GetScanLine(long row, CImgScanLine& line);

  ImgPixelFormat GetPixelFormat() const { return m_nBandCount == 1 ? PF_BIT8 : PF_BIT24; }
  // The file's size; -1 when no file is open.
  long GetWidth() const { return m_pFileInfo ? static_cast<long>(m_pFileInfo->nSizeX) : -1; }
  long GetHeight() const { return m_pFileInfo ? static_cast<long>(m_pFileInfo->nSizeY) : -1; }
  long GetBandCount() const { return m_nBandCount; }
  unsigned char* GetBuffer() { return m_pCache; }
  long GetBufferWidth() const { return m_nCacheRowLen; }
  long GetBufferHeight() const { return m_nCacheRows; }
  long GetBufferSize() const { return m_nCacheSize; }
  CRect2D GetViewRect() const { return m_ViewRect; }
  long GetViewImgWidth() const { return m_nViewImgWidth; }
  long GetViewImgHeight() const { return m_nViewImgHeight; }
  long GetViewWndWidth() const { return m_nViewWndWidth; }
  long GetViewWndHeight() const { return m_nViewWndHeight; }
  long GetLastError() const { return m_nLastError; }
  // The SDK's file and view records; 0 without a view, else 1.
  int GetECWFileInfo(NCSFileViewFileInfo*& info);
  int GetECWViewSetInfo(NCSFileViewSetInfo*& info);
  CString GetFileName() const { return m_strFileName; }
  // Frees the cache and zeroes its size, row length and rows.
  void ReleaseCacheBuffer();
};
