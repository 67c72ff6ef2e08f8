// The ESRI ASCII grid: rows from the top, read once each in order. Cells
// are read as doubles and delivered in the cell format chosen with -oo
// pixel_format, or, without it, in the smallest one that holds every value
// of the grid unchanged (16-bit integers, 32-bit integers, floats,
// doubles). A chosen float format takes each value's nearest single, as a
// user asking for singles means; a value the chosen format cannot hold (an
// integer format would cut it, or it lies beyond the largest single) fails
// its row, naming it. A data file whose header lies in a .hdr file beside
// it is read with that header.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "access/CellFormat.h"
#include "access/RasterDriver.h"
#include "platform/vtcore/CVtErrorMsg.h"
#include "platform/vtcore/CVtImgToolkit.h"
#include "platform/vtcore/VtNumber.h"
#include "raster/CImgFileGrid.h"

namespace vtfmt {
namespace {

// The grid with a row of doubles, read before each row is delivered.
class AsciiGridFile : public CImgFileGrid {
 public:
  CImgScanLine m_Cells;
  int m_nDeliver = -1;  // the cell format chosen with -oo pixel_format, or -1
};

class AsciiGridDriver final : public RasterDriver {
 public:
  const char* Name() const override { return "aaigrid"; }
  bool CanRead() const override { return true; }
  bool CanWrite() const override { return true; }
  std::vector<RowForm> WriteForms() const override {
    return {CellForm(16, 'i'), CellForm(32, 'i'), CellForm(32, 'f'), CellForm(64, 'f')};
  }
  std::vector<std::string> Extensions() const override { return {".asc"}; }
  std::vector<std::pair<std::string, std::string>> OptionKeys() const override {
    return {{"pixel_format",
             "cell format of the rows read: " + std::string(kCellFormatList) + " (default: the smallest that holds "
             "every value exactly; 3200 takes each value's nearest single)"}};
  }

  // The first word of the file is "ncols" in any case.
  ProbeScore Probe(const std::string& path, const std::vector<unsigned char>& head) const override {
    size_t i = 0;
    while (i < head.size() && std::isspace(head[i])) ++i;
    const char* key = "ncols";
    size_t k = 0;
    while (k < 5 && i + k < head.size() && std::tolower(head[i + k]) == key[k]) ++k;
    const bool ended = i + k == head.size() || std::isspace(head[i + k]);
    if (k == 5 && ended) return kContent;
    return RasterDriver::Probe(path, head);
  }

  std::unique_ptr<CImgFile> Create() const override { return std::make_unique<AsciiGridFile>(); }

  bool ApplyOptions(CImgFile& file, const Options& options, std::string& reason) const override {
    for (const auto& option : options) {
      if (option.first != "pixel_format") {
        reason = "driver aaigrid takes no option " + option.first;
        return false;
      }
      int value = 0;
      if (!ParseCellFormat(option.second, value, reason)) return false;
      static_cast<CImgFileGrid&>(file).m_RequestedPixelFormat = value;
    }
    return true;
  }

  bool OpenRead(CImgFile& file, const std::string& path, std::string& reason) const override {
    AsciiGridFile& grid = static_cast<AsciiGridFile&>(file);
    grid.m_nDeliver = grid.m_RequestedPixelFormat;
    grid.m_RequestedPixelFormat = PF_FLOAT64;  // the cells as read, converted per row
    if (!RasterDriver::OpenRead(file, path, reason)) return false;
    if (grid.m_nFormatMode == CImgFileGrid::kEsriHeaderFile) {
      // The header came from the .hdr file: the rows are in the data file.
      const CString data = grid.m_strDataPath;
      if (!grid.OpenForRead(data)) {
        reason = "cannot open the data file";
        return false;
      }
      grid.m_nFormatMode = CImgFileGrid::kEsriGrid;
      grid.m_RequestedPixelFormat = PF_FLOAT64;
      grid.m_bHeaderLoaded = 1;
    }
    grid.m_Cells = CImgScanLine(PF_FLOAT64, 8L * grid.m_nColumns);
    int format = grid.m_nDeliver;
    if (format < 0 && !Choose(grid, format, reason)) return false;
    grid.m_nDeliver = format;
    grid.SetPixelFormat(static_cast<ImgPixelFormat>(format));
    grid.SetPixelFormatExt(static_cast<ImgPixelFormat>(format));
    grid.SetWidthBytes(static_cast<unsigned long>(
        CVtImgToolkit::AlignWidth(static_cast<ImgPixelFormat>(format), grid.m_nColumns)));
    return true;
  }

  // The smallest cell format that holds every value exactly: one pass over
  // the cells, then back to the first.
  static bool Choose(AsciiGridFile& grid, int& format, std::string& reason) {
    const ULONGLONG start = grid.m_TextFile.GetPosition();
    const int order[] = {PF_BIT16, PF_INT32, PF_FLOAT32, PF_FLOAT64};
    size_t at = 0;
    for (int row = 0; row < grid.m_nRows; ++row) {
      if (grid.ReadScanLine(row, grid.m_Cells) < 0) {
        reason = "cannot read row " + std::to_string(row);
        return false;
      }
      const double* cells = reinterpret_cast<const double*>(grid.m_Cells.GetData());
      for (int c = 0; c < grid.m_nColumns; ++c) {
        double v;
        std::memcpy(&v, cells + c, sizeof v);
        while (!Fits(v, order[at])) ++at;  // doubles hold everything
      }
    }
    grid.m_TextFile.Seek(static_cast<LONGLONG>(start), CFile::begin);
    format = order[at];
    return true;
  }

  bool SequentialRead() const override { return true; }

  long ReadRow(CImgFile& file, long row, CImgScanLine& line) const override {
    AsciiGridFile& grid = static_cast<AsciiGridFile&>(file);
    const int format = grid.m_nDeliver;
    const long cells = grid.m_nColumns;
    if (line.GetSize() < CVtImgToolkit::AlignWidthByte(static_cast<ImgPixelFormat>(format), cells)) return -1;
    if (grid.ReadScanLine(row, grid.m_Cells) < 0) return -1;
    for (long i = 0; i < cells; ++i) {
      double v;
      std::memcpy(&v, grid.m_Cells.GetData() + 8 * i, sizeof v);
      if (!Holds(v, format)) {
        CString text;
        text.Format("cell value %s (row %ld, column %ld) does not fit pixel format %d; choose another with "
                    "-oo pixel_format",
                    vtnum::Shortest(v).c_str(), row, i, format);
        VtGetErrorMsgObj()->SetMessage(0L, text);
        return -1;
      }
      Put(line.GetData(), i, v, format);
    }
    return line.GetSize();
  }

  // Cells are values, not colours.
  bool HoldsCells(CImgFile&) const override { return true; }
  bool GetNoData(CImgFile& file, double& value) const override {
    if (!static_cast<CImgFileGrid&>(file).m_bHasNoData) return false;
    value = -9999.0;  // the value no-data cells are delivered as
    return true;
  }

  bool GetBounds(CImgFile& file, CRect2D& bounds) const override {
    return static_cast<CImgFileGrid&>(file).GetGeoReference(bounds) != 0;
  }

  InfoLines ExtraInfo(CImgFile& file) const override {
    const CImgFileGrid& grid = static_cast<CImgFileGrid&>(file);
    // The value the delivered rows carry for no-data cells.
    return {{"nodata_value", grid.m_bHasNoData ? "-9999" : "none"},
            {"reference", grid.m_bCenter ? "center" : "corner"}};
  }

  // The header is written from the grid's own members, not from the size.
  void SetBounds(CImgFile& file, const CRect2D& bounds) const override {
    CImgFileGrid& grid = static_cast<CImgFileGrid&>(file);
    grid.m_dLowerLeftX = bounds.left;
    grid.m_dLowerLeftY = bounds.bottom;
    if (file.GetWidth() > 0) grid.m_dCellWidth = bounds.Width() / file.GetWidth();
    grid.m_dCellHeight = file.GetHeight() > 0 ? bounds.Height() / file.GetHeight() : grid.m_dCellWidth;
  }

  // Without bounds: corner (0, 0) and cell size 1 (SaveImage turns a cell
  // size of 0 into 1). The header has one cell size: cells that are not
  // square would put the grid in the wrong place, so they are refused.
  bool SaveHeader(CImgFile& file, std::string& reason) const override {
    CImgFileGrid& grid = static_cast<CImgFileGrid&>(file);
    grid.m_nFormatMode = CImgFileGrid::kEsriGrid;
    const double w = grid.m_dCellWidth, h = grid.m_dCellHeight;
    if (std::fabs(w - h) > 1e-9 * std::max(std::fabs(w), std::fabs(h))) {
      reason = "cells of " + vtnum::Shortest(w) + " x " + vtnum::Shortest(h) +
               " are not square; the header holds one cell size";
      return false;
    }
    if (file.GetWidth() > INT32_MAX || file.GetHeight() > INT32_MAX) {
      reason = "the grid is too large for the header";
      return false;
    }
    grid.m_nColumns = static_cast<int>(file.GetWidth());
    grid.m_nRows = static_cast<int>(file.GetHeight());
    grid.m_dNoDataValue = -9999.0;
    return RasterDriver::SaveHeader(file, reason);
  }
};

const AsciiGridDriver kDriver;
const RegisterDriver kRegistered(30, &kDriver);

}  // namespace
}  // namespace vtfmt
