// The ESRI ASCII grid: rows from the top, read once each in order, in the
// cell format chosen with -oo pixel_format (16 by default).
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ToolDriver.h"
#include "platform/vtcore/CVtImgToolkit.h"
#include "raster/CImgFileGrid.h"

namespace vtfmt {
namespace {

const int kPixelFormats[] = {1, 4, 8, 16, 24, 32, 64, 320, 3200, 6400};

// The grid with a row of 32-bit cells for the 24-bit case: its reader
// stores four bytes a cell, which the tool's three-byte rows cannot hold.
class AsciiGridFile : public CImgFileGrid {
 public:
  CImgScanLine m_WideRow;
};

class AsciiGridDriver final : public ToolDriver {
 public:
  const char* Name() const override { return "aaigrid"; }
  bool CanRead() const override { return true; }
  bool CanWrite() const override { return true; }
  std::vector<std::string> Extensions() const override { return {".asc"}; }
  std::vector<std::pair<std::string, std::string>> OptionKeys() const override {
    return {{"pixel_format", "cell format of the rows read: 1 4 8 16 24 32 64 320 3200 6400 (default 16)"}};
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
    return ToolDriver::Probe(path, head);
  }

  std::unique_ptr<CImgFile> Create() const override { return std::make_unique<AsciiGridFile>(); }

  bool ApplyOptions(CImgFile& file, const Options& options, std::string& reason) const override {
    for (const auto& option : options) {
      if (option.first != "pixel_format") {
        reason = "driver aaigrid takes no option " + option.first;
        return false;
      }
      char* end = nullptr;
      const long value = std::strtol(option.second.c_str(), &end, 10);
      bool known = !option.second.empty() && *end == '\0';
      if (known) {
        known = false;
        for (int format : kPixelFormats) known = known || value == format;
      }
      if (!known) {
        reason = "pixel_format must be one of 1 4 8 16 24 32 64 320 3200 6400, not " + option.second;
        return false;
      }
      static_cast<CImgFileGrid&>(file).m_RequestedPixelFormat = static_cast<int>(value);
    }
    return true;
  }

  bool OpenRead(CImgFile& file, const std::string& path, std::string& reason) const override {
    if (!ToolDriver::OpenRead(file, path, reason)) return false;
    if (static_cast<CImgFileGrid&>(file).m_nFormatMode == CImgFileGrid::kEsriHeaderFile) {
      reason = "the header is in a separate .hdr file; its values cannot be read";
      return false;
    }
    return true;
  }

  bool SequentialRead() const override { return true; }

  long ReadRow(CImgFile& file, long row, CImgScanLine& line) const override {
    AsciiGridFile& grid = static_cast<AsciiGridFile&>(file);
    if (grid.GetPixelFormat() != PF_BIT24) return grid.ReadScanLine(row, line);
    // 24: the low three bytes of each 32-bit cell, as 24-bit pixels hold them.
    const long cells = grid.m_nColumns;
    if (line.GetSize() < 3LL * cells) return -1;
    if (grid.m_WideRow.GetSize() < 4LL * cells) grid.m_WideRow = CImgScanLine(PF_BIT24, 4 * cells);
    if (grid.ReadScanLine(row, grid.m_WideRow) < 0) return -1;
    for (long i = 0; i < cells; ++i) std::memcpy(line.GetData() + 3 * i, grid.m_WideRow.GetData() + 4 * i, 3);
    return line.GetSize();
  }

  bool GetBounds(CImgFile& file, CRect2D& bounds) const override {
    return static_cast<CImgFileGrid&>(file).GetGeoReference(bounds) != 0;
  }

  InfoLines ExtraInfo(CImgFile& file) const override {
    const CImgFileGrid& grid = static_cast<CImgFileGrid&>(file);
    char text[64];
    std::snprintf(text, sizeof text, "%.17g", grid.m_dNoDataValue);
    return {{"nodata_value", text}, {"reference", grid.m_bCenter ? "center" : "corner"}};
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
      char text[128];
      std::snprintf(text, sizeof text,
                    "cells of %.17g x %.17g are not square; the header holds one cell size", w, h);
      reason = text;
      return false;
    }
    if (file.GetWidth() > INT32_MAX || file.GetHeight() > INT32_MAX) {
      reason = "the grid is too large for the header";
      return false;
    }
    grid.m_nColumns = static_cast<int>(file.GetWidth());
    grid.m_nRows = static_cast<int>(file.GetHeight());
    grid.m_dNoDataValue = -9999.0;
    return ToolDriver::SaveHeader(file, reason);
  }
};

const AsciiGridDriver kDriver;
const RegisterDriver kRegistered(30, &kDriver);

}  // namespace
}  // namespace vtfmt
