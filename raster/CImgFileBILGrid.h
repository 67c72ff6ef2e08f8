// Headerless grids described by a text header beside them: the data file's
// name with the extension ".HDR" (found in any case; GDAL writes ".hdr").
//
// CImgFileBILGrid reads band-interleaved-by-line images and elevation grids
// of 8, 16 and 32 bits (integers, or singles when the header says
// PIXELTYPE FLOAT), with an optional world file ".BLW" that overrides
// the header's position and cell size. CImgFileUSGrid reads USGS elevation
// grids of 16- or 32-bit cells, delivered as 16-bit cells. Both convert the
// file's byte order to the machine's, replace no-data cells and keep running
// minimum and maximum statistics of the cells read. Neither writes:
// SaveImage returns 1 and WriteScanLine 0, and nothing is written.
//
// Header lines hold a keyword and a value apart by white space; keywords
// are compared in upper case. Numbers are read the same under any locale.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/mfc/CStdioFile.h"
#include "platform/mfc/CString.h"
#include "platform/vtcore/CRect2D.h"
#include "raster/imgfile/CImgFile.h"

class CImgFileBILGrid : public CImgFile {
 public:
  int m_bOpen = 0;              // 1 while the data file and its header are open
  double m_dUpperLeftX = 0.0;   // "ULXMAP": centre of the upper-left cell
  double m_dUpperLeftY = 0.0;   // "ULYMAP"
  double m_dXDim = 1.0;         // "XDIM": cell width
  double m_dYDim = 1.0;         // "YDIM": cell height
  CString m_strByteOrder = "M";  // "BYTEORDER": "M" big-endian, "I" little-endian
  CString m_strLayout = "BIL";   // "LAYOUT"
  int m_nBandCount = 1;          // "NBANDS"
  int m_nBitCount = 16;          // "NBITS"
  int m_nBandRowBytes = 0;       // "BANDROWBYTES"
  int m_nTotalRowBytes = 0;      // "TOTALROWBYTES"
  int m_nBandGapBytes = 0;       // "BANDGAPBYTES"
  int16_t m_nNoData = -9999;     // "NODATA"
  // "PIXELTYPE FLOAT" with NBITS 32: single-precision cells, delivered as
  // stored in PF_FLOAT32, no-data cells kept as the header's NODATA.
  bool m_bFloat = false;
  bool m_bHasNoData = false;       // the header gives NODATA
  double m_dNoData = -9999;        // "NODATA" as written, for float cells
  CString m_strRefusal;            // why LoadImage refused the header, if it did
  // Smallest and largest cell delivered since the object was built (both
  // start at 0, so the minimum is never above 0 nor the maximum below it).
  double m_dMaximum = 0.0;
  double m_dMinimum = 0.0;
  CStdioFile m_HeaderFile;
  CStdioFile m_WorldFile;

  CImgFileBILGrid();
  ~CImgFileBILGrid() override;

  // Opens the data file, its header and its world file with `openFlags`.
  // TRUE once the data file and the header are open; the world file may be
  // missing.
  BOOL Open(const char* fileName, UINT openFlags, CFileException* error = nullptr) override;
  // Opens the data file and its header read-only, and the world file when
  // there is one. 1, or 0 with nothing left open.
  int OpenForRead(CString path) override;
  // Creates the data file, its header and its world file. 1 when all three
  // are open, else 0 with nothing left open.
  int OpenForWrite(CString path) override;
  // Closes the world file, the header and the data file.
  void Close() override;

  // Reads the header, then the world file's cell size and position. 1; -1
  // when the driver is not open, the header gives no positive row, column
  // or band count, a negative byte count (the reason in m_strRefusal), a
  // bit count other than 8, 16 or 32, floating-point cells of
  // other than 32 bits (the reason in m_strRefusal), row
  // byte counts that contradict the width and bit count, or rows longer
  // than the data file.
  long LoadImage() override;
  // Writing is not supported: 1, and nothing is written.
  long SaveImage() override;
  // Band 0 of row `row`.
  long ReadScanLine(long row, CImgScanLine& line) override;
  // Reads band `band` of row `row` into `line`: the width bytes (at most
  // the line's size) from row × (band gap bytes + total row bytes) + band ×
  // band row bytes, in machine byte order, cells equal to the no-data value
  // replaced (8-bit by 241, 16-bit by -9999, 32-bit integers by 0; float
  // cells are kept as stored). Returns the bytes
  // read; 0 when the driver is not open, the band or row does not exist,
  // the line cannot hold the row's cells, bands of a band-interleaved-by-
  // pixel or band-sequential file are asked for (their rows are not where
  // this driver looks), or nothing could be read. A row cut short by the
  // end of the file gives the bytes read, and only its whole cells count.
  long ReadScanLine(long band, long row, CImgScanLine& line);
  // Writing is not supported: 0, and nothing is written.
  long WriteScanLine(long row, CImgScanLine& line) override;

  // The outer edges of the cells: the upper-left values are the centre of
  // the upper-left cell. 1.
  int GetGeoReference(CRect2D& bounds) const;

 private:
  void ResetHeader();
  bool ReadWorldFile();
  // Puts `count` single cells in machine order and widens the statistics.
  void FinishFloatRow(unsigned char* data, size_t count, bool swap);
};

class CImgFileUSGrid : public CImgFile {
 public:
  int m_bOpen = 0;
  double m_dX = 0.0;         // "ULXMAP" (upper-left cell centre) or "XLLCORNER" (lower-left corner)
  double m_dY = 0.0;         // "ULYMAP" or "YLLCORNER"
  double m_dXDim = 1.0;      // "XDIM", or "CELLSIZE" for both
  double m_dYDim = 1.0;      // "YDIM", or "CELLSIZE"
  int m_nRows = 0;           // "NROWS"
  int m_nColumns = 0;        // "NCOLS"
  CString m_strByteOrder = "M";
  CString m_strLayout = "BIL";
  int m_nBandCount = 1;
  int m_nBitCount = 16;
  int m_nBandRowBytes = 0;
  int m_nTotalRowBytes = 0;
  int m_nBandGapBytes = 0;
  int16_t m_nNoData = -9999;
  CString m_strRefusal;  // why LoadImage refused the header, if it did
  double m_dMaximum = 0.0;
  double m_dMinimum = 0.0;
  CStdioFile m_HeaderFile;

  CImgFileUSGrid();
  ~CImgFileUSGrid() override;

  // Opens the data file and its header with `openFlags`; TRUE when both
  // open, else FALSE with nothing left open.
  BOOL Open(const char* fileName, UINT openFlags, CFileException* error = nullptr) override;
  // Opens the data file and its header read-only, shared. 1, or 0 with
  // nothing left open.
  int OpenForRead(CString path) override;
  // Creates the data file and its header. 1, or 0 with nothing left open.
  int OpenForWrite(CString path) override;
  void Close() override;

  // Reads the header. 1; -1 when the driver is not open, the header gives
  // no positive row, column or band count, a negative byte count or a bit
  // count other than 16 or 32 (the reason in m_strRefusal), or rows longer
  // than the data file. The pixel format is 16 whatever the bit count.
  long LoadImage() override;
  // Writing is not supported: 1, and nothing is written.
  long SaveImage() override;
  // Reads row `row` into `line` as 16-bit cells in machine byte order:
  // 32-bit cells are reduced to their least significant 16 bits. With byte
  // order "M" or "I", cells equal to the no-data value become 0 and the
  // statistics are updated; with any other, 16-bit cells are left as stored
  // and 32-bit ones taken in machine order, without either step. Returns the
  // bytes read from the file; 0 when the driver is not open, the row does
  // not exist, the line cannot hold the row's cells or nothing was read.
  long ReadScanLine(long row, CImgScanLine& line) override;
  // Writing is not supported: 0, and nothing is written.
  long WriteScanLine(long row, CImgScanLine& line) override;

  // The outer edges of the cells, from the upper-left cell's centre or the
  // lower-left corner, as the header gave the position. 1.
  int GetGeoReference(CRect2D& bounds) const;

 private:
  bool m_bXCorner = false;  // x came from XLLCORNER
  bool m_bYCorner = false;  // y came from YLLCORNER
  std::vector<unsigned char> m_Cells32;  // one row of 32-bit cells as stored
};
