// MrSID multiresolution images through the MrSID decoding SDK
// (platform/mrsid): windowed access at a chosen pyramid level. A caller
// sets a view rectangle in full-resolution pixel coordinates (left, top,
// right, bottom, y growing downwards) and a resolution (1.0 full size, 0.5
// half size, ...); GetImage picks the level, decodes the part of the view
// inside the image at that level into the buffer, and the caller takes the
// buffer and the window size. GetDataDirect decodes a window of a chosen
// level straight into the caller's memory. No scan lines, no georeferencing.
//
// Buffer rows hold one byte a pixel for greyscale images and blue, green,
// red triples otherwise, padded to a multiple of 4 bytes (GetRowBytes()).
#pragma once

#include <cstdint>

#include "platform/mfc/CRect.h"
#include "platform/mfc/CString.h"
#include "platform/mrsid/MrSIDSdk.h"
#include "platform/vtcore/CRect2D.h"
#include "raster/imgfile/CImgFile.h"

class CImgFileMrSID20 : public CImgFile {
 protected:
  CString m_strPath;       // the image's file name (CFile keeps its own)
  CString m_strStatus;     // last status message; "None" after Init
  CRect m_WindowRect;      // visible part of the view at the chosen level
  CRect m_LevelViewRect;   // the view at the chosen level (edges saturated to 32 bits)
  CRect2D m_ViewRect;      // requested area, full-resolution pixels
  double m_dLevelFactor = 1.0;
  int32_t m_nRowBytes = 0;  // bytes of a buffer row, padded
  LizardTech::MrSIDNavigator* m_pNavigator = nullptr;
  LizardTech::ImageBufferInfo* m_pBufferInfo = nullptr;
  int32_t m_nBandCount = 0;
  int32_t m_nDeepestLevel = 0;
  int32_t m_nLevel = 0;
  double m_dResolution = 1.0;
  int32_t m_nWidth = 0, m_nHeight = 0;
  int32_t m_nWindowWidth = 0, m_nWindowHeight = 0;
  unsigned char* m_pBuffer = nullptr;
  int32_t m_bFailed = 1;

 public:
  CImgFileMrSID20();
  // Stores the path and opens it.
  explicit CImgFileMrSID20(CString path);
  ~CImgFileMrSID20() override;

  using CImgFile::Open;
  // Stores the path as the file name; opens nothing. 1.
  int OpenForRead(CString path) override;
  // 0 when no file name is set; 1 when the image is open; else Open(file name).
  long LoadImage() override;
  // Opens the image: band count, levels, size, and from the colour space
  // the pixel format (PF_BIT8 with a grey palette, or PF_BIT24) and the
  // buffer description. 1; 1 at once when already open; 0 when the SDK
  // cannot open it (the failed flag set, the SDK's text as the status).
  int Open(CString path);
  // Frees the buffer, the buffer description and the navigator.
  void Close() override;

  void SetViewRect(CRect2D rect) { m_ViewRect = rect; }
  CRect2D GetViewRect() const { return m_ViewRect; }
  void SetResolution(double resolution) { m_dResolution = resolution; }
  double GetResolution() const { return m_dResolution; }

  // Decodes the view at the level the resolution calls for. 1; 0 with the
  // status text: "Error:File not opened", "Load failed.", "Error:Resolution
  // not valid", "Error:Rectangle not valid" (no view, or none of it in the
  // image), "Error:Window too large" (the buffer cannot be allocated); 0
  // without a text after a failed Open; 0 with the SDK's text on the
  // error-message object when decoding fails.
  int GetImage();
  // Decodes the navigator's scene into the buffer, which must be the
  // scene's size. 1; 0 with the SDK's text on the error-message object.
  int RetriveData();
  // Decodes the width x height window of `level` centred on `centre` (that
  // level's pixels) into `target`, which must hold height rows of
  // AlignWidth(width) bytes (one byte a pixel for greyscale images, three
  // otherwise, padded to 4). 1; 0 without an open image, or with the SDK's
  // text on the error-message object.
  int GetDataDirect(unsigned char* target, long level, long width, long height, CPoint centre);

  unsigned char* GetBuffer() { return m_pBuffer; }
  long GetWindowWidth() const { return m_nWindowWidth; }
  long GetWindowHeight() const { return m_nWindowHeight; }
  long GetRowBytes() const { return m_nRowBytes; }
  CRect GetWindowRect() const { return m_WindowRect; }
  long GetWidth() const { return m_nWidth; }
  long GetHeight() const { return m_nHeight; }
  long GetBandCount() const { return m_nBandCount; }
  // The level of the last GetImage.
  long GetScale() const { return m_nLevel; }
  // The deepest level (levels - 1).
  long GetLev() const { return m_nDeepestLevel; }
  CString GetFileName() const override { return m_strPath; }
  CString GetStatusText() const { return m_strStatus; }
  // The level GetImage chooses for `resolution` on an image whose deepest
  // level is `deepest`.
  static long ChooseLevel(double resolution, long deepest);
  void ReleaseCacheBuffer();

 protected:
  // Frees the buffer; status "None", no view rectangle, resolution 1.0.
  void Init();
  bool Failed() const { return m_bFailed != 0; }
};
