// Headerless 24-bit rasters: a `.raw` file of pixel rows described by a text
// sidecar `.ifo` (size, lower corner, cell size). Read-only. Unlike the other
// drivers it reads its sidecar in OpenForRead; LoadImage keeps the base
// behaviour and reports failure.
#pragma once

#include "platform/vtcore/CRect2D.h"
#include "raster/imgfile/CImgFile.h"

class CImgFileRaw : public CImgFile {
 public:
  // Geographic bounds from the sidecar, valid after OpenForRead.
  CRect2D m_Bounds;

  CImgFileRaw();

  // Opens the `.raw` and reads the `.ifo` of `path`'s base name (the
  // extension of `path` does not matter). 1 on success, 0 on failure.
  int OpenForRead(CString path) override;
  // Reads the sidecar of `path` and sets size, pixel format and bounds.
  // 1 on success, 0 when it is missing, unreadable or gives an impossible size.
  int ReadIfoFile(CString path);
  // Copies row `row` into `line`; returns the width bytes, or -1.
  long ReadScanLine(long row, CImgScanLine& line) override;

 private:
  // Splits `line` at `separator` into `count` trimmed parts; parts with no
  // separator left all receive the rest of the line. 1 when at least
  // count - 1 splits were made.
  int SplitOneRow(CString& line, CString* parts, int count, const CString& separator);
};
