// The NSDTF grid. The driver exchanges whole grids through a file dialog, so
// the adapter answers the dialog with the path and serves rows from the
// arrays: "Integer" grids as 32-bit integer cells (320), "Char" grids as
// doubles (6400) read from the text, compressed pairs expanded. Written
// grids are "Integer", uncompressed, data mark "CNSDTF-DEM", version 1.0,
// unit "M", height scale 1; cells are the source values truncated toward
// zero.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "access/RasterDriver.h"
#include "platform/mfc/CFileDialog.h"
#include "raster/CImgFileGrid.h"

namespace vtfmt {
namespace {

// The grid and what the adapter keeps between calls.
class NsdtfFile : public CImgFileGrid {
 public:
  std::vector<long long> m_PairStarts;  // first cell of each pair, compressed grids
  std::vector<int> m_Cells;             // the grid being written
  std::string m_strOutput;              // the path the dialog is answered with
};

int32_t TruncateToInt(double v) {
  const double t = std::trunc(v);
  if (!(t >= INT32_MIN && t <= INT32_MAX)) return INT32_MIN;
  return static_cast<int32_t>(t);
}

// Runs a dialog-driven operation with `path` as the user's answer.
long WithAnswer(const std::string& path, long (CImgFileGrid::*operation)(), CImgFileGrid& grid) {
  CFileDialog::SetNextAnswer(path.c_str());
  const long code = (grid.*operation)();
  CFileDialog::ClearAnswer();
  return code;
}

class NsdtfDriver final : public RasterDriver {
 public:
  const char* Name() const override { return "nsdtf"; }
  bool CanRead() const override { return true; }
  bool CanWrite() const override { return true; }
  // "Integer" grids only.
  std::vector<RowForm> WriteForms() const override { return {CellForm(32, 'i')}; }
  std::vector<std::string> Extensions() const override { return {".nsdtf"}; }

  // The first line starts with the data mark key.
  ProbeScore Probe(const std::string& path, const std::vector<unsigned char>& head) const override {
    size_t i = 0;
    while (i < head.size() && std::isspace(head[i])) ++i;
    static const char kKey[] = "DataMark:";
    if (head.size() - i >= sizeof kKey - 1 && std::memcmp(head.data() + i, kKey, sizeof kKey - 1) == 0)
      return kContent;
    return RasterDriver::Probe(path, head);
  }

  std::unique_ptr<CImgFile> Create() const override { return std::make_unique<NsdtfFile>(); }

  bool OpenRead(CImgFile& file, const std::string& path, std::string& reason) const override {
    NsdtfFile& grid = static_cast<NsdtfFile&>(file);
    grid.m_nFormatMode = CImgFileGrid::kNsdtfGrid;
    const long code = WithAnswer(path, &CImgFileGrid::LoadImage, grid);
    const bool text = code == 1;
    if (code < 0) reason = "cannot open the file";
    if (code == 3) reason = "unknown compression " + std::to_string(grid.m_nCompress);
    if (code == 4) reason = "a data line holds more values than the grid";
    if (code == 2 && !grid.m_pIntValues && !grid.m_pIntPairs)
      reason = "value type \"" + grid.m_strValueType.str() + "\" is neither Integer nor Char";
    if (!reason.empty()) return false;
    if (grid.m_nRows <= 0 || grid.m_nColumns <= 0) {
      reason = "no rows or no columns";
      return false;
    }
    const long long cells = static_cast<long long>(grid.m_nRows) * grid.m_nColumns;
    const bool compressed = grid.m_pIntPairs || grid.m_pCharPairs;
    long long available = grid.m_nValueCount;
    if (compressed) {
      // Where each pair's run starts, to find any row's first cell.
      grid.m_PairStarts.clear();
      available = 0;
      for (int i = 0; i < grid.m_nValueCount; ++i) {
        const int count = grid.m_pIntPairs ? grid.m_pIntPairs[2 * i + 1] : grid.m_pCharPairs[i].m_nCount;
        if (count < 0) {
          reason = "a negative run length";
          return false;
        }
        grid.m_PairStarts.push_back(available);
        available += count;
      }
    }
    if (available < cells) {
      reason = "the data holds fewer values than the grid has cells";
      return false;
    }
    // Runs may repeat a value many times, but a grid of thousands of cells
    // for every byte of its file is a forged count, not a grid: rows are
    // sized from it.
    CFileStatus status;
    const ULONGLONG bytes = CFile::GetStatus(path.c_str(), status) ? status.m_size : 0;
    if (static_cast<double>(cells) > 4096.0 * static_cast<double>(bytes) || grid.m_nColumns > (1 << 26)) {
      reason = "the grid's " + std::to_string(cells) + " cells are far more than its file can describe";
      return false;
    }
    const ImgPixelFormat format = text ? PF_FLOAT64 : PF_INT32;
    grid.SetPixelFormat(format);
    grid.SetPixelFormatExt(format);
    grid.SetWidth(static_cast<unsigned long>(grid.m_nColumns));
    grid.SetHeight(static_cast<unsigned long>(grid.m_nRows));
    grid.SetWidthBytes(static_cast<unsigned long>(grid.m_nColumns) * (text ? 8 : 4));
    return true;
  }

  long ReadRow(CImgFile& file, long row, CImgScanLine& line) const override {
    NsdtfFile& grid = static_cast<NsdtfFile&>(file);
    const long long columns = grid.m_nColumns;
    if (row < 0 || row >= grid.m_nRows || line.GetSize() < static_cast<long long>(grid.GetWidthBytes()))
      return -1;
    const bool text = grid.GetPixelFormat() == PF_FLOAT64;
    long long cell = row * columns;
    size_t pair = 0;
    if (!grid.m_PairStarts.empty())
      pair = static_cast<size_t>(std::upper_bound(grid.m_PairStarts.begin(), grid.m_PairStarts.end(), cell) -
                                 grid.m_PairStarts.begin() - 1);
    for (long long c = 0; c < columns; ++c, ++cell) {
      if (!grid.m_PairStarts.empty()) {
        // Skip to the pair whose run holds this cell (runs may be empty).
        while (pair + 1 < grid.m_PairStarts.size() && grid.m_PairStarts[pair + 1] <= cell) ++pair;
      }
      if (text) {
        const CString& value = grid.m_pCharPairs ? grid.m_pCharPairs[pair].m_strValue
                                                 : grid.m_pCharValues[static_cast<size_t>(cell)];
        const double v = std::atof(value);
        std::memcpy(line.GetData() + 8 * c, &v, 8);
      } else {
        const int v =
            grid.m_pIntPairs ? grid.m_pIntPairs[2 * pair] : grid.m_pIntValues[static_cast<size_t>(cell)];
        std::memcpy(line.GetData() + 4 * c, &v, 4);
      }
    }
    return line.GetSize();
  }

  bool HoldsCells(CImgFile&) const override { return true; }

  // X0 and Y0 are the lower-left corner.
  bool GetBounds(CImgFile& file, CRect2D& bounds) const override {
    const CImgFileGrid& grid = static_cast<CImgFileGrid&>(file);
    bounds.SetRect(grid.m_dLowerLeftX, grid.m_dLowerLeftY + grid.m_nRows * grid.m_dCellHeight,
                   grid.m_dLowerLeftX + grid.m_nColumns * grid.m_dCellWidth, grid.m_dLowerLeftY);
    return true;
  }

  InfoLines ExtraInfo(CImgFile& file) const override {
    const CImgFileGrid& grid = static_cast<CImgFileGrid&>(file);
    return {{"value_type", grid.m_strValueType.str()},
            {"compress", std::to_string(grid.m_nCompress)},
            {"data_mark", grid.m_strDataMark.str()}};
  }

  // Nothing is created until FinishWrite: the driver writes the file the
  // dialog names, so the path is kept for it.
  bool OpenWrite(CImgFile& file, const std::string& path, std::string& reason) const override {
    NsdtfFile& grid = static_cast<NsdtfFile&>(file);
    grid.m_nFormatMode = CImgFileGrid::kNsdtfGrid;
    grid.m_strOutput = path;
    grid.m_dCellWidth = grid.m_dCellHeight = 1.0;
    return true;
  }

  void SetBounds(CImgFile& file, const CRect2D& bounds) const override {
    CImgFileGrid& grid = static_cast<CImgFileGrid&>(file);
    grid.m_dLowerLeftX = bounds.left;
    grid.m_dLowerLeftY = bounds.bottom;
    if (file.GetWidth() > 0) grid.m_dCellWidth = bounds.Width() / file.GetWidth();
    if (file.GetHeight() > 0) grid.m_dCellHeight = bounds.Height() / file.GetHeight();
  }

  bool SaveHeader(CImgFile& file, std::string& reason) const override {
    NsdtfFile& grid = static_cast<NsdtfFile&>(file);
    const unsigned long long cells = static_cast<unsigned long long>(file.GetWidth()) * file.GetHeight();
    if (file.GetWidth() > INT32_MAX || file.GetHeight() > INT32_MAX || cells > INT32_MAX) {
      reason = "the grid is too large";
      return false;
    }
    grid.m_strDataMark = "CNSDTF-DEM";
    grid.m_dVersion = 1.0;
    grid.m_strUnit = "M";
    grid.m_dAlpha = 0.0;
    grid.m_nCompress = 0;
    grid.m_nRows = static_cast<int>(file.GetHeight());
    grid.m_nColumns = static_cast<int>(file.GetWidth());
    grid.m_strValueType = "Integer";
    grid.m_nHzoom = 1;
    // Cells are kept as rows arrive: memory follows what the source holds,
    // not what its header claims.
    grid.m_Cells.clear();
    return true;
  }

  long WriteRow(CImgFile& file, long row, CImgScanLine& line) const override {
    NsdtfFile& grid = static_cast<NsdtfFile&>(file);
    if (row < 0 || row >= grid.m_nRows) return -1;
    const size_t end = (static_cast<size_t>(row) + 1) * static_cast<size_t>(grid.m_nColumns);
    if (grid.m_Cells.size() < end) grid.m_Cells.resize(end, 0);
    int* cells = grid.m_Cells.data() + static_cast<size_t>(row) * grid.m_nColumns;
    for (int c = 0; c < grid.m_nColumns; ++c) cells[c] = TruncateToInt(line.GetValue(c));
    return 1;
  }

  bool FinishWrite(CImgFile& file, std::string& reason) const override {
    NsdtfFile& grid = static_cast<NsdtfFile&>(file);
    grid.m_Cells.resize(static_cast<size_t>(grid.m_nRows) * static_cast<size_t>(grid.m_nColumns), 0);
    grid.m_pIntValues = grid.m_Cells.data();
    grid.m_nValueCount = static_cast<int>(grid.m_Cells.size());
    if (!grid.m_Cells.empty()) {
      const auto range = std::minmax_element(grid.m_Cells.begin(), grid.m_Cells.end());
      grid.m_nMinValue = *range.first;
      grid.m_nMaxValue = *range.second;
    }
    if (WithAnswer(grid.m_strOutput, &CImgFileGrid::SaveImage, grid) == 2) return true;
    reason = "cannot write the file";
    return false;
  }
};

const NsdtfDriver kDriver;
const RegisterDriver kRegistered(40, &kDriver);

}  // namespace
}  // namespace vtfmt
