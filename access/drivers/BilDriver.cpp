// BIL images and grids (a data file with an .hdr header, optionally a .blw
// world file): read-only. One band is read, the first unless -oo band=N
// (1 to NBANDS) names another. 8-bit bands are grey pictures; 16- and
// 32-bit bands hold cells, with no-data cells delivered as -9999 (16-bit)
// or 0 (32-bit integers); bands of PIXELTYPE FLOAT hold singles, delivered
// as stored, no-data cells as the header's NODATA. `info` reads every row of
// the band for its statistics.
#include <cctype>
#include <cstdlib>
#include <climits>
#include <string>

#include "access/RasterDriver.h"
#include "platform/mfc/CStdioFile.h"
#include "platform/vtcore/CVtErrorMsg.h"
#include "platform/vtcore/CVtToolkit.h"
#include "platform/vtcore/VtNumber.h"
#include "raster/CImgFileBILGrid.h"

namespace vtfmt {
namespace {

// The driver with the band the tool reads.
class BilFile : public CImgFileBILGrid {
 public:
  long m_nBand = 0;  // 0-based
};

// True when a header beside `path` has a line starting with `key` (any case).
bool HeaderHasKey(const std::string& path, const char* key) {
  const CString header = CVtToolkit::ChangeExtName(path.c_str(), ".hdr");
  if (!CVtToolkit::IsFileExisted(header)) return false;
  CStdioFile file;
  if (!file.Open(header, CFile::modeRead | CFile::typeText)) return false;
  CString line;
  for (int n = 0; n < 64 && file.ReadString(line); ++n) {
    line.Trim();
    line.MakeUpper();
    if (line.Find(key) == 0) return true;
  }
  return false;
}

// Reads every row of the band, so that the driver's statistics cover it.
bool ReadAll(CImgFile& file, long band, bool bil) {
  CImgScanLine line(file.GetPixelFormat(), static_cast<long>(file.GetWidthBytes()));
  for (unsigned long row = 0; row < file.GetHeight(); ++row) {
    const long got = bil ? static_cast<CImgFileBILGrid&>(file).ReadScanLine(band, static_cast<long>(row), line)
                         : file.ReadScanLine(static_cast<long>(row), line);
    if (got <= 0) return false;
  }
  return true;
}

class BilDriver final : public RasterDriver {
 public:
  const char* Name() const override { return "bil"; }
  bool CanRead() const override { return true; }
  bool CanWrite() const override { return false; }
  std::vector<std::string> Extensions() const override { return {".bil"}; }
  std::vector<std::pair<std::string, std::string>> OptionKeys() const override {
    return {{"band", "band to read, 1 to the header's NBANDS (default 1)"}};
  }

  // A .bil name, or any data file whose .hdr header gives NBITS.
  ProbeScore Probe(const std::string& path, const std::vector<unsigned char>& head) const override {
    const ProbeScore byName = RasterDriver::Probe(path, head);
    if (byName != kNoMatch) return byName;
    return HeaderHasKey(path, "NBITS") ? kSidecar : kNoMatch;
  }

  std::unique_ptr<CImgFile> Create() const override { return std::make_unique<BilFile>(); }

  bool ApplyOptions(CImgFile& file, const Options& options, std::string& reason) const override {
    for (const auto& option : options) {
      if (option.first != "band") {
        reason = "driver bil takes no option " + option.first;
        return false;
      }
      long band = 0;
      if (!ParseBand(option.second, LONG_MAX, band, reason)) return false;
      static_cast<BilFile&>(file).m_nBand = band - 1;
    }
    return true;
  }

  bool OpenRead(CImgFile& file, const std::string& path, std::string& reason) const override {
    BilFile& bil = static_cast<BilFile&>(file);
    if (!RasterDriver::OpenRead(file, path, reason)) {
      if (!bil.m_strRefusal.IsEmpty()) reason = bil.m_strRefusal.str();
      return false;
    }
    if (bil.m_nBand >= bil.m_nBandCount) {
      reason = "band " + std::to_string(bil.m_nBand + 1) + " asked for; the file has " +
               std::to_string(bil.m_nBandCount);
      bil.Close();
      return false;
    }
    if (bil.m_nBandCount > 1 && (bil.m_strLayout == "BIP" || bil.m_strLayout == "BSQ")) {
      reason = "layout " + bil.m_strLayout.str() + " with several bands is not read; only BIL";
      bil.Close();
      return false;
    }
    const unsigned long long stride =
        static_cast<unsigned long long>(bil.m_nBandGapBytes) + static_cast<unsigned long long>(bil.m_nTotalRowBytes);
    reason = CutRows(bil, static_cast<unsigned long long>(bil.m_nBand) * static_cast<unsigned>(bil.m_nBandRowBytes),
                     stride, static_cast<unsigned long long>(bil.GetWidth()) * (bil.m_nBitCount / 8), bil.GetHeight());
    if (!reason.empty()) {
      bil.Close();
      return false;
    }
    if (bil.GetPixelFormat() == PF_BIT8) CImgFile::CreateGrayPalette(bil.m_Palette, 256);
    return true;
  }

  long ReadRow(CImgFile& file, long row, CImgScanLine& line) const override {
    BilFile& bil = static_cast<BilFile&>(file);
    const long got = bil.ReadScanLine(bil.m_nBand, row, line);
    const long cells = static_cast<long>(bil.GetWidth()) * (bil.m_nBitCount / 8);
    if (got < cells) {
      // A row the data file does not hold in full is not delivered.
      VtGetErrorMsgObj()->SetMessage(0L, CString("the data file ends inside the row"));
      return -1;
    }
    return got;
  }

  bool GetBounds(CImgFile& file, CRect2D& bounds) const override {
    return static_cast<BilFile&>(file).GetGeoReference(bounds) != 0;
  }

  bool HoldsCells(CImgFile& file) const override { return file.GetPixelFormat() != PF_BIT8; }
  // The values no-data cells are delivered as; 32-bit ones become 0, which
  // real cells also hold, so none is claimed for them.
  bool GetNoData(CImgFile& file, double& value) const override {
    const BilFile& bil = static_cast<BilFile&>(file);
    if (bil.m_bFloat) {
      if (!bil.m_bHasNoData) return false;
      value = static_cast<float>(bil.m_dNoData);  // as the cells hold it
      return true;
    }
    if (bil.m_nBitCount == 16) value = -9999;
    else if (bil.m_nBitCount == 8 && bil.m_nNoData >= 0 && bil.m_nNoData <= 255) value = 241;
    else return false;
    return true;
  }

  InfoLines ExtraInfo(CImgFile& file) const override {
    BilFile& bil = static_cast<BilFile&>(file);
    const char* replaced = bil.m_bFloat            ? "as stored"
                           : bil.m_nBitCount == 8  ? "241"
                           : bil.m_nBitCount == 16 ? "-9999"
                                                   : "0";
    const bool read = ReadAll(bil, bil.m_nBand, true);
    std::string noData = std::to_string(bil.m_nNoData);
    if (bil.m_bFloat) noData = bil.m_bHasNoData ? vtnum::Shortest(static_cast<float>(bil.m_dNoData)) : "none";
    return {{"byte_order", bil.m_strByteOrder.str()},
            {"layout", bil.m_strLayout.str()},
            {"bands", std::to_string(bil.m_nBandCount)},
            {"band", std::to_string(bil.m_nBand + 1)},
            {"bits", std::to_string(bil.m_nBitCount)},
            {"pixel_type", bil.m_bFloat ? "float" : "integer"},
            {"nodata", noData},
            {"nodata_delivered_as", replaced},
            {"minimum", read ? vtnum::Shortest(bil.m_dMinimum) : "unread"},
            {"maximum", read ? vtnum::Shortest(bil.m_dMaximum) : "unread"}};
  }
};

// USGS elevation grids (.dem with an .hdr header): 16-bit cells, 32-bit ones
// reduced to their low 16 bits; no-data cells delivered as 0.
class UsGridDriver final : public RasterDriver {
 public:
  const char* Name() const override { return "usgrid"; }
  bool CanRead() const override { return true; }
  bool CanWrite() const override { return false; }
  std::vector<std::string> Extensions() const override { return {".dem"}; }

  // A .dem name with an .hdr header beside it.
  ProbeScore Probe(const std::string& path, const std::vector<unsigned char>& head) const override {
    if (RasterDriver::Probe(path, head) == kNoMatch) return kNoMatch;
    return CVtToolkit::IsFileExisted(CVtToolkit::ChangeExtName(path.c_str(), ".hdr")) ? kExtension : kNoMatch;
  }

  std::unique_ptr<CImgFile> Create() const override { return std::make_unique<CImgFileUSGrid>(); }

  bool OpenRead(CImgFile& file, const std::string& path, std::string& reason) const override {
    CImgFileUSGrid& us = static_cast<CImgFileUSGrid&>(file);
    if (!RasterDriver::OpenRead(file, path, reason)) {
      if (!us.m_strRefusal.IsEmpty()) reason = us.m_strRefusal.str();
      return false;
    }
    const unsigned long long stride =
        static_cast<unsigned long long>(us.m_nBandGapBytes) + static_cast<unsigned long long>(us.m_nTotalRowBytes);
    reason = CutRows(us, 0, stride, static_cast<unsigned long long>(us.m_nColumns) * (us.m_nBitCount / 8),
                     static_cast<unsigned long long>(us.m_nRows));
    if (!reason.empty()) {
      us.Close();
      return false;
    }
    return true;
  }

  long ReadRow(CImgFile& file, long row, CImgScanLine& line) const override {
    CImgFileUSGrid& us = static_cast<CImgFileUSGrid&>(file);
    const long got = us.ReadScanLine(row, line);
    if (got < static_cast<long>(us.GetWidth()) * (us.m_nBitCount / 8)) {
      VtGetErrorMsgObj()->SetMessage(0L, CString("the data file ends inside the row"));
      return -1;
    }
    return got;
  }

  bool GetBounds(CImgFile& file, CRect2D& bounds) const override {
    return static_cast<CImgFileUSGrid&>(file).GetGeoReference(bounds) != 0;
  }
  bool HoldsCells(CImgFile&) const override { return true; }

  InfoLines ExtraInfo(CImgFile& file) const override {
    CImgFileUSGrid& us = static_cast<CImgFileUSGrid&>(file);
    const bool known = us.m_strByteOrder == "M" || us.m_strByteOrder == "I";
    const bool read = ReadAll(us, 0, false);
    return {{"byte_order", us.m_strByteOrder.str()},
            {"bits", std::to_string(us.m_nBitCount)},
            {"nodata", std::to_string(us.m_nNoData)},
            {"nodata_delivered_as", known ? "0" : "as stored"},
            {"minimum", read ? vtnum::Shortest(us.m_dMinimum) : "unread"},
            {"maximum", read ? vtnum::Shortest(us.m_dMaximum) : "unread"}};
  }
};

const BilDriver kBil;
const RegisterDriver kRegisteredBil(100, &kBil);
const UsGridDriver kUsGrid;
const RegisterDriver kRegisteredUsGrid(110, &kUsGrid);

}  // namespace
}  // namespace vtfmt
