// The Arc/Info binary grid: a directory, named itself or by any file inside
// it; read-only. Rows come top first in the driver's cell format (16- or
// 32-bit integers, floats), or in the one chosen with -oo pixel_format:
// a chosen float format takes each cell's nearest single, an integer one
// refuses a cell it would cut. Cells without data are delivered as the
// no-value, -9999: each line is filled with it before the driver writes the
// cells it has.
#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <string>

#include "access/CellFormat.h"
#include "access/RasterDriver.h"
#include "platform/posix/PathCase.h"
#include "platform/vtcore/CVtErrorMsg.h"
#include "platform/vtcore/CVtImgToolkit.h"
#include "platform/vtcore/CVtToolkit.h"
#include "platform/vtcore/VtNumber.h"
#include "raster/CImgFileArcGrd.h"

namespace vtfmt {
namespace {

const long kNoValue = -9999;

// The grid with a row in its own cell format, for delivering another.
class AigFile : public CImgFileArcGrd {
 public:
  CImgScanLine m_Cells;
  int m_nDeliver = -1;  // the cell format chosen with -oo pixel_format, or -1
};

// The directory a FILE argument names: itself when it is one, else its parent.
std::string GridDirectory(const std::string& path) {
  struct stat st;
  if (::stat(VtResolvePathCase(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return path + "/";
  CString drive, dir, name, ext;
  CVtToolkit::SplitPath(path.c_str(), drive, dir, name, ext);
  return (drive + dir).str();
}

// Fills the `width` cells of `line` (of `format`) with the no-value.
void FillNoValue(CImgScanLine& line, ImgPixelFormat format, unsigned long width) {
  for (unsigned long x = 0; x < width; ++x) {
    if (format == PF_BIT16) {
      const int16_t v = kNoValue;
      std::memcpy(line.GetData() + 2 * x, &v, 2);
    } else if (format == PF_FLOAT32) {
      const float v = kNoValue;
      std::memcpy(line.GetData() + 4 * x, &v, 4);
    } else {
      const int32_t v = kNoValue;
      std::memcpy(line.GetData() + 4 * x, &v, 4);
    }
  }
}

class AigDriver final : public RasterDriver {
 public:
  const char* Name() const override { return "aig"; }
  bool CanRead() const override { return true; }
  bool CanWrite() const override { return false; }
  std::vector<std::string> Extensions() const override { return {".adf"}; }
  std::vector<std::pair<std::string, std::string>> OptionKeys() const override {
    return {{"pixel_format", "cell format of the rows read: " + std::string(kCellFormatList) +
                                 " (default: 16 or 320 for integer grids, 3200 for float grids)"}};
  }

  // The grid's header starts "GRID1.2" in any case.
  ProbeScore Probe(const std::string& path, const std::vector<unsigned char>&) const override {
    std::ifstream hdr(VtResolvePathCase(GridDirectory(path) + "hdr.adf"), std::ios::binary);
    char magic[7] = {};
    if (!hdr.read(magic, 7)) return kNoMatch;
    return strncasecmp(magic, "GRID1.2", 7) == 0 ? kContent : kNoMatch;
  }

  std::unique_ptr<CImgFile> Create() const override { return std::make_unique<AigFile>(); }

  bool ApplyOptions(CImgFile& file, const Options& options, std::string& reason) const override {
    for (const auto& option : options) {
      if (option.first != "pixel_format") {
        reason = "driver aig takes no option " + option.first;
        return false;
      }
      if (!ParseCellFormat(option.second, static_cast<AigFile&>(file).m_nDeliver, reason)) return false;
    }
    return true;
  }

  bool OpenRead(CImgFile& file, const std::string& path, std::string& reason) const override {
    AigFile& grid = static_cast<AigFile&>(file);
    grid.SetNoValue(kNoValue);
    if (!grid.OpenForRead(path.c_str())) {
      reason = "cannot open the grid's data file w001001.adf";
      return false;
    }
    if (grid.LoadImage() < 0) {
      grid.Close();
      reason = "not an Arc/Info binary grid";
      return false;
    }
    // The driver leaves the extended format alone; writers take it as the cells'.
    grid.SetPixelFormatExt(grid.GetPixelFormat());
    if (grid.m_nDeliver < 0) return true;
    grid.m_Cells = CImgScanLine(grid.GetPixelFormat(), static_cast<long>(grid.GetWidthBytes()));
    const ImgPixelFormat format = static_cast<ImgPixelFormat>(grid.m_nDeliver);
    grid.SetPixelFormat(format);
    grid.SetPixelFormatExt(format);
    grid.SetWidthBytes(static_cast<unsigned long>(CVtImgToolkit::AlignWidth(format, static_cast<long>(grid.GetWidth()))));
    return true;
  }

  long ReadRow(CImgFile& file, long row, CImgScanLine& line) const override {
    AigFile& grid = static_cast<AigFile&>(file);
    if (grid.m_nDeliver < 0) {
      if (line.GetSize() < CVtImgToolkit::AlignWidthByte(grid.GetPixelFormat(), static_cast<long>(grid.GetWidth())))
        return -1;
      FillNoValue(line, grid.GetPixelFormat(), grid.GetWidth());
      return grid.ReadScanLine(row, line);
    }
    // The driver's own format, set aside while the row is read.
    const ImgPixelFormat deliver = grid.GetPixelFormat();
    const ImgPixelFormat own = grid.m_Cells.m_PixelFormat;
    if (line.GetSize() < CVtImgToolkit::AlignWidthByte(deliver, static_cast<long>(grid.GetWidth()))) return -1;
    FillNoValue(grid.m_Cells, own, grid.GetWidth());
    grid.SetPixelFormat(own);
    const long got = grid.ReadScanLine(row, grid.m_Cells);
    grid.SetPixelFormat(deliver);
    if (got < 0) return got;
    for (long x = 0; x < static_cast<long>(grid.GetWidth()); ++x) {
      const double v = grid.m_Cells.GetValue(x);
      if (!Holds(v, deliver)) {
        CString text;
        text.Format("cell value %s (row %ld, column %ld) does not fit pixel format %d; choose another with "
                    "-oo pixel_format",
                    vtnum::Shortest(v).c_str(), row, x, static_cast<int>(deliver));
        VtGetErrorMsgObj()->SetMessage(0L, text);
        return -1;
      }
      Put(line.GetData(), x, v, deliver);
    }
    return 1;
  }

  bool HoldsCells(CImgFile&) const override { return true; }
  bool GetNoData(CImgFile&, double& value) const override {
    value = kNoValue;
    return true;
  }
  bool GetBounds(CImgFile& file, CRect2D& bounds) const override {
    bounds = static_cast<CImgFileArcGrd&>(file).m_Bounds;
    return true;
  }

  InfoLines ExtraInfo(CImgFile& file) const override {
    const CImgFileArcGrd& grid = static_cast<CImgFileArcGrd&>(file);
    return {{"tile_width", std::to_string(grid.m_nTileWidth)},
            {"tile_height", std::to_string(grid.m_nTileHeight)},
            {"cell_type", grid.m_bFloat ? "float" : "integer"},
            {"nodata", std::to_string(kNoValue)},
            {"directory", grid.m_strDirectory.str()}};
  }
};

const AigDriver kDriver;
const RegisterDriver kRegistered(90, &kDriver);

}  // namespace
}  // namespace vtfmt
