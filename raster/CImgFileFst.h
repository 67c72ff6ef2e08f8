// One band of a satellite scene in the FAST format with Landsat-7 file
// names. Every band is a headerless file of rows of 8- or 16-bit samples
// (a name starting "L7" and ending in a band code, "B10" to "B80"); a text
// header file of the scene (the same name ending "HPN", "HRF" or "HTM")
// lists the band files and gives the image size and sample size.
//
// The caller opens a band file through OpenForRead; LoadImage finds the
// header beside it (in any case) and takes the size and bits per pixel from
// its VOLUME and OUTPUT lines; ReadScanLine then reads rows from the band
// file. Read-only.
#pragma once

#include "platform/mfc/CString.h"
#include "raster/imgfile/CImgFile.h"

class CImgFileFst : public CImgFile {
 public:
  CImgFileFst();
  ~CImgFileFst() override;

  // Finds and reads the header of the open band file. 1; -1 when no header
  // beside it lists the band, the header cannot be opened, its VOLUME line
  // gives a width or height of zero or below or its REC SIZE is shorter
  // than a row (the reason in m_strRefusal), or its rows are longer than
  // the band file. VOLUME and OUTPUT lines whose numbers are missing or
  // malformed leave the width, height and pixel format as they were (pixel
  // format 24 after construction, three bytes a pixel); OUTPUT gives 8 or
  // 16 bits, any other count is ignored. Width bytes are width × bits per
  // pixel / 8; rows lie REC SIZE bytes apart when the header gives it (the
  // bytes past a row are padding), else width bytes apart.
  long LoadImage() override;
  // Reads row `row` (width bytes from row × record bytes) into `line`. 1
  // when anything was read (the part of a row the file does not hold is
  // zeroed); 0 when the line is shorter than the width bytes, the row does
  // not exist or nothing could be read.
  long ReadScanLine(long row, CImgScanLine& line) override;

  // Splits a header line naming two files ("FILENAME =first FILENAME
  // =second") into the two names without their extensions. 1 when at least
  // one name had an extension to drop, else 0.
  static int SplitOneLine(const CString& line, CString& first, CString& second);
  // 1 when `name` (a file name without extension) is a FAST name: it starts
  // with "L7" and ends in a header code (`isHeader` 1) or a band code
  // (`isHeader` 0); else 0. Case does not matter.
  static int GetFileType(const CString& name, int& isHeader);

  CString m_strRefusal;  // why LoadImage refused the header, if it did
  // Bytes from one row to the next: the header's REC SIZE, or the width
  // bytes when it gives none.
  unsigned long m_nRecordBytes = 0;

 protected:
  // Looks for the header that lists the band file `bandPath` beside it,
  // trying the codes HPN, HRF and HTM in turn. True with `headerPath` set.
  int FindHeaderFile(const CString& bandPath, CString& headerPath);
};
