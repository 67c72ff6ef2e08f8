// ERDAS Imagine (.img), read through the geodata library's HFA reader; one
// band at a time (-oo band=N, 1 first, as for every driver). Rows come top
// first in a format of the band's pixel type: 1-, 2- and 4-bit and 8-bit
// unsigned bands as 8-bit values with a grey palette (pictures), other real
// types as cells: 8- and 16-bit signed and 16-bit unsigned as 16-bit cells,
// 32-bit signed as PF_INT32, 32-bit unsigned and 64-bit floats as
// PF_FLOAT64, 32-bit floats as PF_FLOAT32. Complex single pixels come as
// their 8 raw bytes (PF_BIT64); complex doubles fit no pixel format. Bounds
// are the map information's, in map units; info adds the no-data value of
// cells and the coordinate system.
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "access/RasterDriver.h"
#include "platform/vtcore/CVtImgToolkit.h"
#include "platform/vtcore/VtNumber.h"
#include "raster/CImgFileImg.h"

namespace vtfmt {
namespace {

const char* const kTypeNames[13] = {"u1",  "u2",  "u4",  "u8",  "s8",  "u16", "s16",
                                    "u32", "s32", "f32", "f64", "c64", "c128"};

// The reader with the band chosen, its handle and its row as the file
// gives it, for delivering another format.
class HfaFile : public CImgFileImg {
 public:
  int m_nBand = 0;  // the band's index in the file, 0 first (-oo band=1)
  HFABand* m_pBand = nullptr;
  CImgScanLine m_Raw;
  bool m_bConvert = false;  // rows are converted from m_Raw
  bool m_bHasCoordSys = false;
  CVtPJCoordSys m_CoordSys;
};

// The format a band's pixels are delivered in.
ImgPixelFormat Delivered(int type) {
  switch (type) {
    case vtgeo::EPT_u1:
    case vtgeo::EPT_u2:
    case vtgeo::EPT_u4:
    case vtgeo::EPT_u8:
      return PF_BIT8;
    case vtgeo::EPT_s8:
    case vtgeo::EPT_u16:
    case vtgeo::EPT_s16:
      return PF_BIT16;
    case vtgeo::EPT_s32:
      return PF_INT32;
    case vtgeo::EPT_f32:
      return PF_FLOAT32;
    case vtgeo::EPT_u32:
    case vtgeo::EPT_f64:
      return PF_FLOAT64;
    case vtgeo::EPT_c64:
      return PF_BIT64;
    default:
      return PF_UNKNOWN;
  }
}

class HfaDriver final : public RasterDriver {
 public:
  const char* Name() const override { return "hfa"; }
  bool CanRead() const override { return true; }
  bool CanWrite() const override { return false; }
  std::vector<std::string> Extensions() const override { return {".img"}; }
  std::vector<std::pair<std::string, std::string>> OptionKeys() const override {
    return {{"band", "band to read, 1 to the file's band count (default 1)"}};
  }

  ProbeScore Probe(const std::string&, const std::vector<unsigned char>& head) const override {
    static const char kTag[] = "EHFA_HEADER_TAG";
    return head.size() >= 15 && std::memcmp(head.data(), kTag, 15) == 0 ? kContent : kNoMatch;
  }

  std::unique_ptr<CImgFile> Create() const override { return std::make_unique<HfaFile>(); }

  bool ApplyOptions(CImgFile& file, const Options& options, std::string& reason) const override {
    for (const auto& option : options) {
      if (option.first != "band") {
        reason = "driver hfa takes no option " + option.first;
        return false;
      }
      long band = 0;
      if (!ParseBand(option.second, INT32_MAX, band, reason)) return false;
      static_cast<HfaFile&>(file).m_nBand = static_cast<int>(band - 1);
    }
    return true;
  }

  bool OpenRead(CImgFile& file, const std::string& path, std::string& reason) const override {
    HfaFile& img = static_cast<HfaFile&>(file);
    // The coordinate system's reading opens the file and leaves it open.
    img.m_bHasCoordSys = img.GetPJCoordSys(path.c_str(), img.m_CoordSys) == 1;
    if (!img.m_hHFA && !img.OpenForRead(path.c_str())) {
      // A file that starts as one but cannot be read (cut, damaged) is
      // named as such, not as a file of another format.
      std::vector<unsigned char> head(15);
      std::FILE* f = std::fopen(path.c_str(), "rb");
      const bool signed_ = f && std::fread(head.data(), 1, head.size(), f) == head.size() &&
                           std::memcmp(head.data(), "EHFA_HEADER_TAG", 15) == 0;
      if (f) std::fclose(f);
      reason = signed_ ? "an ERDAS Imagine file that cannot be read whole" : "not an ERDAS Imagine file";
      return false;
    }
    if (img.m_nBand >= img.GetBandCount()) {
      reason = "band " + std::to_string(img.m_nBand + 1) + " asked for; the file has " +
               std::to_string(img.GetBandCount());
      img.Close();
      return false;
    }
    if (img.LoadImage(img.m_nBand) < 0 || !img.LoadBandImg(img.m_nBand, img.m_pBand)) {
      img.Close();
      reason = "band " + std::to_string(img.m_nBand + 1) + " cannot be read";
      return false;
    }
    const ImgPixelFormat format = Delivered(img.m_pBand->dataType);
    if (format == PF_UNKNOWN) {
      img.Close();
      reason = "complex double pixels fit no pixel format";
      return false;
    }
    // Packed pixels, signed bytes and unsigned 32-bit values change form;
    // every other type is delivered in the bytes the band holds.
    const int type = img.m_pBand->dataType;
    img.m_bConvert = img.m_pBand->SampleBits() < 8 || type == vtgeo::EPT_s8 || type == vtgeo::EPT_u32;
    if (img.m_bConvert)
      img.m_Raw = CImgScanLine(img.GetPixelFormat(), static_cast<long>(img.GetWidthBytes()));
    img.SetPixelFormat(format);
    img.SetPixelFormatExt(format);
    img.SetWidthBytes(
        static_cast<unsigned long>(CVtImgToolkit::AlignWidth(format, static_cast<long>(img.GetWidth()))));
    if (format == PF_BIT8) CImgFile::CreateGrayPalette(img.m_Palette, 256);
    return true;
  }

  long ReadRow(CImgFile& file, long row, CImgScanLine& line) const override {
    HfaFile& img = static_cast<HfaFile&>(file);
    if (!img.m_bConvert) return img.ReadScanLine(row, line, img.m_pBand);
    const long width = static_cast<long>(img.GetWidth());
    if (line.GetSize() < CVtImgToolkit::AlignWidthByte(img.GetPixelFormat(), width)) return -1;
    if (img.ReadScanLine(row, img.m_Raw, img.m_pBand) < 0) return -1;
    const unsigned char* raw = img.m_Raw.GetData();
    unsigned char* out = line.GetData();
    const int bits = img.m_pBand->SampleBits();
    for (long x = 0; x < width; ++x) {
      switch (img.m_pBand->dataType) {
        case vtgeo::EPT_u1:
        case vtgeo::EPT_u2:
        case vtgeo::EPT_u4: {
          const long bit = x * bits;
          out[x] = static_cast<unsigned char>((raw[bit / 8] >> (8 - bits - bit % 8)) & ((1 << bits) - 1));
          break;
        }
        case vtgeo::EPT_s8: {
          const int16_t v = static_cast<int8_t>(raw[x]);
          std::memcpy(out + 2 * x, &v, 2);
          break;
        }
        case vtgeo::EPT_u32: {
          uint32_t u;
          std::memcpy(&u, raw + 4 * x, 4);
          const double v = u;
          std::memcpy(out + 8 * x, &v, 8);
          break;
        }
        default:
          return -1;
      }
    }
    return line.GetSize();
  }

  bool HoldsCells(CImgFile& file) const override {
    const HfaFile& img = static_cast<HfaFile&>(file);
    return img.m_pBand && img.m_pBand->dataType > vtgeo::EPT_u8 && img.m_pBand->dataType != vtgeo::EPT_c64;
  }
  // Complex pixels are delivered as pairs of floats.
  bool Layout(CImgFile& file, RowLayout& layout) const override {
    const HfaFile& img = static_cast<HfaFile&>(file);
    if (!img.m_pBand || img.m_pBand->dataType != vtgeo::EPT_c64) return RasterDriver::Layout(file, layout);
    layout = {1, 64, 'c'};
    return true;
  }
  bool UnsignedCells(CImgFile& file) const override {
    const HfaFile& img = static_cast<HfaFile&>(file);
    return img.m_pBand && img.m_pBand->dataType == vtgeo::EPT_u16;
  }
  // The band's no-data value as the delivered cells hold it.
  bool GetNoData(CImgFile& file, double& value) const override {
    HfaFile& img = static_cast<HfaFile&>(file);
    if (!HoldsCells(file) || !img.GetNoData(img.m_nBand, value)) return false;
    if (img.GetPixelFormat() == PF_FLOAT32) value = static_cast<float>(value);
    return true;
  }
  bool GetBounds(CImgFile& file, CRect2D& bounds) const override {
    return static_cast<HfaFile&>(file).GetMapBounds(bounds);
  }

  InfoLines ExtraInfo(CImgFile& file) const override {
    HfaFile& img = static_cast<HfaFile&>(file);
    const HFABand& band = *img.m_pBand;
    InfoLines lines = {
        {"band", std::to_string(img.m_nBand + 1)},
        {"bands", std::to_string(img.GetBandCount())},
        {"data_type", kTypeNames[band.dataType]},
        {"block_size", std::to_string(band.blockWidth) + " " + std::to_string(band.blockHeight)},
        {"compression", std::to_string(band.compression)}};
    double noData = 0;
    lines.push_back({"nodata", GetNoData(file, noData) ? vtnum::Shortest(noData) : "none"});
    if (!img.m_bHasCoordSys) {
      lines.push_back({"projection_type", "none"});
      lines.push_back({"units", "none"});
      lines.push_back({"wkt", "none"});
      return lines;
    }
    const CVtPJCoordSys& cs = img.m_CoordSys;
    const std::string name = img.GetProjectionName().str();
    lines.push_back(
        {"projection_type", std::to_string(cs.m_Projection.GetType()) + (name.empty() ? "" : " " + name)});
    const std::string units = img.GetMapUnits().str();
    lines.push_back({"units", std::to_string(cs.m_nUnit) + (units.empty() ? "" : " " + units)});
    const std::string wkt = cs.ExportToWkt();
    lines.push_back({"wkt", wkt.empty() ? "none" : wkt});
    return lines;
  }
};

const HfaDriver kDriver;
const RegisterDriver kRegistered(140, &kDriver);

}  // namespace
}  // namespace vtfmt
