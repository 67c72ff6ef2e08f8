// Text grids: the ESRI ASCII grid (format mode 0, or 2 when its header lies
// in a separate .hdr file) and the NSDTF grid (format mode 1). The caller
// chooses the mode before opening.
//
// ESRI grids are read and written row by row, from the top, through the
// driver's own text file; rows can be read once each, in order. NSDTF grids
// are exchanged whole: LoadImage and SaveImage ask for the file through a
// file dialog and move the values between the file and the array members.
#pragma once

#include <cmath>
#include <cstddef>
#include <string>
#include <vector>

#include "platform/mfc/CStdioFile.h"
#include "platform/mfc/CString.h"
#include "platform/vtcore/CRect2D.h"
#include "raster/imgfile/CImgFile.h"

// One value-count pair of a compressed NSDTF "Char" grid.
struct NsdtfTextPair {
  CString m_strValue;
  int m_nCount = 0;
};

class CImgFileGrid : public CImgFile {
 public:
  enum FormatMode { kEsriGrid = 0, kNsdtfGrid = 1, kEsriHeaderFile = 2 };

  // 0 ESRI grid, 1 NSDTF grid, 2 ESRI header read from a .hdr file (set by
  // LoadImage).
  int m_nFormatMode = kEsriGrid;
  // Pixel format of the delivered ESRI rows (an ImgPixelFormat value); -1
  // until chosen, and LoadImage then picks PF_BIT16.
  int m_RequestedPixelFormat = -1;

  // NSDTF header.
  CString m_strDataMark;
  double m_dVersion = 0.0;
  CString m_strUnit;
  double m_dAlpha = 0.0;
  int m_nCompress = 0;  // 0 plain values, 1 value-count pairs

  // Position and size, shared by both formats. The ESRI reader and writer
  // use one cell size for both cell width and height.
  double m_dLowerLeftX = 0.0;
  double m_dLowerLeftY = 0.0;
  double m_dCellWidth = 0.0;
  double m_dCellHeight = 0.0;
  int m_nRows = 0;
  int m_nColumns = 0;

  // ESRI file state.
  CStdioFile m_TextFile;
  int m_bCenter = 0;        // 1: the reference point is the grid's centre
  int m_bOpen = 0;          // 1 while m_TextFile is open through this driver
  int m_bHeaderLoaded = 0;  // 1 after a successful ESRI header read

  // NSDTF value type ("Integer" or "Char"), height scale and options.
  CString m_strValueType;
  int m_nHzoom = 0;
  CString m_strCoordinate;
  CString m_strProjection;
  CString m_strSpheroid;
  CString m_strParameters;
  CString m_strMaxValue;  // "Char" grids
  CString m_strMinValue;
  int m_nMaxValue = 0;  // "Integer" grids
  int m_nMinValue = 0;

  // NSDTF values: after LoadImage these point into arrays the object owns,
  // valid until the next LoadImage or the object's end. Before SaveImage the
  // caller may point them at its own arrays. Data line L of the file fills
  // entries 10L to 10L + 9; the arrays hold ten entries for every data line
  // read (entries a short line leaves out are 0), so indexes below
  // m_nValueCount are always inside them.
  CString* m_pCharValues = nullptr;       // plain "Char" values
  int* m_pIntValues = nullptr;            // plain "Integer" values
  int* m_pIntPairs = nullptr;             // compressed "Integer": value, count, ...
  NsdtfTextPair* m_pCharPairs = nullptr;  // compressed "Char"
  int m_nValueCount = 0;                  // values, or pairs when compressed

  double m_dNoDataValue = -9999.0;
  // 1 when the ESRI header gave a no-data value (its cells are delivered as
  // the substitute, -9999 for ReadScanLine).
  int m_bHasNoData = 0;
  // In mode 2, the data file whose header was read from the .hdr file.
  CString m_strDataPath;

  CImgFileGrid();
  ~CImgFileGrid() override;

  // File operations on the text file (NSDTF does not use them).
  BOOL Open(const char* fileName, UINT openFlags, CFileException* error = nullptr) override;
  int OpenForRead(CString path) override;
  int OpenForWrite(CString path) override;
  void Close() override;
  // Closes the text file, ignoring errors.
  void Abort() override;

  // Mode 0 and 2: reads the ESRI header; 1 or -1. Mode 1: asks for the file
  // and reads the NSDTF grid; a format code (1 "Char" read, 2 other type,
  // 3 unknown compression, 4 too many entries) or -1 when the dialog is
  // cancelled or the file cannot be opened.
  long LoadImage() override;
  // Mode 0: writes the ESRI header from the members; 1. Mode 1: asks for the
  // file and writes the NSDTF grid; a format code or -1 (cancelled, cannot
  // be created, or the array the value type needs is missing).
  long SaveImage() override;
  // Mode 0: the next ESRI row, no-data cells as -9999; see ReadScanLineEsri.
  long ReadScanLine(long row, CImgScanLine& line) override;
  // Mode 0: writes `line` (decoded by its own pixel format) as the next row:
  // "%f" values for float rows, "%.0f" otherwise. 1, or -1 when the file is
  // not open or the line holds fewer than the column count of pixels.
  long WriteScanLine(long row, CImgScanLine& line) override;

  // Reads the next row of values into `line` in the requested pixel format,
  // `substitute` replacing no-data cells; `row` is not used. Returns the
  // line's byte size, or -1 when the line is too small for the row, the
  // input ends or holds something that is not a number (the values read so
  // far stay in the line).
  long ReadScanLineEsri(long row, CImgScanLine& line, double substitute);
  // Bounds of the grid from the header; always 1.
  int GetGeoReference(CRect2D& bounds);

  // Cell text is read in tokens of at most this many characters: a longer
  // run without white space is read as several tokens.
  static constexpr size_t kCellTokenMax = 128;
  // One token of cell text as the row reader reads it: one number in the C
  // locale, a decimal comma read as a point. False when it is no number.
  static bool ParseCellToken(const char* text, size_t length, double& value);
  // `v` as the row reader delivers it: `substitute` for a no-data cell.
  double CellValue(double v, double substitute) const {
    const double off = v - m_dNoDataValue;
    return (off > -1e-10 && off < 1e-10) || (std::isnan(m_dNoDataValue) && std::isnan(v)) ? substitute : v;
  }
  // Records on the error-message object, as the row reader does, that the
  // token `token` of the grid file is not a number.
  void ReportNotANumber(const std::string& token);
  // Sets bit `bit` of `byte` (0 the least significant) to 1 when `value` is
  // non-zero, else to 0.
  static void SetByteBit(unsigned char& byte, int bit, int value);

 private:
  long LoadEsriHeader();
  long SaveEsriHeader();
  long LoadNsdtf();
  long SaveNsdtf();
  void ForgetArrays();
  // atoi and atol of the platform, for both formats: a 32-bit result,
  // saturated when out of range.
  static int ParseInt(const char* text);

  // Storage behind the NSDTF pointers.
  std::vector<CString> m_charValueStore;
  std::vector<int> m_intValueStore;
  std::vector<int> m_intPairStore;
  std::vector<NsdtfTextPair> m_charPairStore;
};
