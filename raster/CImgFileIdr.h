// IDRISI rasters: a headerless image file of rows of pixels (usually `.img`),
// top row first and without padding, described by a text documentation file
// of the same name with the extension `.doc` (found in any case).
//
// Reading checks the documentation file's first sixteen lines, each by its
// key, and takes the data type, columns and rows from them; a line that
// fails its check is reported on the error-message object with its message
// code (31343 title, 31344 data type, 31345 columns or rows, 31346
// coordinate or value range). Rows are then read in file order. Georeferencing
// is not taken.
//
// Writing produces the same pair: the rows go unpadded into the file given
// to OpenForWrite, and SaveImage writes the documentation file beside it,
// which LoadImage accepts; Close writes it again with the range of the
// values written.
#pragma once

#include "platform/mfc/CString.h"
#include "platform/win/wingdi.h"
#include "raster/imgfile/CImgFile.h"

class CImgFileIdr : public CImgFile {
 public:
  // The size and bits per pixel, kept as in a Windows bitmap's headers:
  // width = columns, height = rows, bit count = bits per pixel.
  BITMAPFILEHEADER m_bmfHeader = {};
  BITMAPINFOHEADER m_bmiHeader = {};
  CString m_strImagePath;  // the image file opened
  CString m_strDocPath;    // the image path with the extension ".doc"
  // The documentation's title: read by LoadImage, written by SaveImage (the
  // image's name when empty).
  CString m_strTitle;

  CImgFileIdr();
  ~CImgFileIdr() override;

  // Opens `path` as the image and names its documentation file. 1, or 0.
  int OpenForRead(CString path) override;
  // Creates `path` for the rows and names the documentation file beside it.
  // 1, or 0.
  int OpenForWrite(CString path) override;
  // After writing, completes the documentation file with the range of the
  // values written; then closes the image.
  void Close() override;

  // Parses the documentation file: pixel format 8 ("byte"), 16 ("integer")
  // or 32 ("real", a 32-bit float sample), width, height, width bytes (rows
  // rounded up to 4 bytes, the size of the caller's line). 1, or -1: without
  // a message when the documentation file cannot be opened, else with the
  // code of the line that failed (31345 also for columns or rows of 0 and
  // for rows longer than the image file).
  long LoadImage() override;
  // Reads the next row of the image file into `line` (`row` is not used:
  // rows come in file order, top first). The line's byte count; -4 when the
  // file ends inside the row; -1 when the line cannot hold the row's pixels
  // or the image is not open.
  long ReadScanLine(long row, CImgScanLine& line) override;

  // Writes the documentation file for the current size and pixel format (8
  // byte, 16 integer, 32 or 3200 real). 1, or -1 with a message for another
  // pixel format, an empty image, or a documentation file that cannot be
  // written.
  long SaveImage() override;
  // Appends the row's pixels, unpadded (`row` is not used: rows go in file
  // order, top first). The bytes written; -1 when not writing, before
  // SaveImage, or when the line is shorter than the row.
  long WriteScanLine(long row, CImgScanLine& line) override;

 private:
  bool WriteDocFile();

  bool m_bWriting = false;   // opened by OpenForWrite and not closed
  bool m_bSaved = false;     // SaveImage wrote the documentation file
  long m_nRowsWritten = 0;
  double m_dMinValue = 0.0;  // range of the values written
  double m_dMaxValue = 0.0;
};
