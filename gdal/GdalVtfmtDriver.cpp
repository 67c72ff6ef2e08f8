// gdal_vtfmt: a GDAL driver plugin that opens, through vtfmt's drivers, the
// raster files GDAL itself cannot read: NSDTF grids, raw rasters with an
// .ifo sidecar, IDRISI images with an old-style .doc file and run-length
// 4-bit bitmaps. NSDTF grids and IDRISI images can also be written with
// CreateCopy. Rows are read one at a time through the picture-order reader
// over the drivers (blocks of one row).
#include <gdal_pam.h>
#include <gdal_priv.h>

#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "access/ArrayReader.h"
#include "access/ArrayWriter.h"
#include "access/RasterWriter.h"
#include "access/RasterDriver.h"
#include "platform/posix/PathCase.h"
#include "platform/vtcore/CImgScanLine.h"

namespace {

using vtfmt::RasterDriver;

// The formats the plugin registers, each over one of vtfmt's drivers.
struct Format {
  const char* gdalName;
  const char* longName;
  const char* toolDriver;
  const char* extension;
};

const Format kFormats[] = {
    {"VTFMT_NSDTF", "NSDTF grid (vtfmt)", "nsdtf", "grd"},
    {"VTFMT_RAW", "Raw raster with .ifo sidecar (vtfmt)", "raw", "raw"},
    {"VTFMT_BMP", "Run-length 4-bit Windows bitmap (vtfmt)", "bmp", "bmp"},
    {"VTFMT_IDRISI", "IDRISI image with an old-style .doc file (vtfmt)", "idrisi", "img"},
};

bool EndsWithNoCase(const std::string& s, const char* suffix) {
  const size_t n = std::strlen(suffix);
  return s.size() >= n && strcasecmp(s.c_str() + s.size() - n, suffix) == 0;
}

uint32_t Le32(const GByte* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }

// Cheap and exact: only files GDAL's own drivers do not read.
bool IdentifyFormat(const Format& format, GDALOpenInfo* info) {
  if (!info->fpL || info->nHeaderBytes < 2) return false;
  const GByte* head = info->pabyHeader;
  const std::string name = info->pszFilename;
  if (std::strcmp(format.gdalName, "VTFMT_NSDTF") == 0) {
    int i = 0;
    while (i < info->nHeaderBytes && (head[i] == ' ' || head[i] == '\t' || head[i] == '\r' || head[i] == '\n')) ++i;
    return info->nHeaderBytes - i >= 9 && std::memcmp(head + i, "DataMark:", 9) == 0;
  }
  if (std::strcmp(format.gdalName, "VTFMT_RAW") == 0) {
    if (!EndsWithNoCase(name, ".raw")) return false;
    VSIStatBufL st;
    const std::string ifo = VtResolvePathCase(name.substr(0, name.size() - 4) + ".ifo");
    return VSIStatL(ifo.c_str(), &st) == 0;
  }
  if (std::strcmp(format.gdalName, "VTFMT_IDRISI") == 0) {
    // An .img beside a .doc whose first line is "file title" (not an
    // Imagine file, which shares the extension).
    if (!EndsWithNoCase(name, ".img")) return false;
    if (info->nHeaderBytes >= 15 && std::memcmp(head, "EHFA_HEADER_TAG", 15) == 0) return false;
    const RasterDriver* idrisi = vtfmt::FindDriver("idrisi");
    return idrisi && idrisi->Probe(name, {}) == vtfmt::kContent;
  }
  // BMP: Windows header (40 bytes or more) with run-length 4-bit compression.
  return info->nHeaderBytes >= 34 && head[0] == 'B' && head[1] == 'M' && Le32(head + 14) >= 40 &&
         head[28] == 4 && head[29] == 0 && Le32(head + 30) == 2;
}

class VtfmtRasterBand;

class VtfmtDataset final : public GDALPamDataset {
  friend class VtfmtRasterBand;

 public:
  static GDALDataset* Open(const Format& format, GDALOpenInfo* info);
  static GDALDataset* CreateCopy(const Format& target, const char* path, GDALDataset* source,
                                 GDALProgressFunc progress, void* progressData);

  CPLErr GetGeoTransform(double* transform) override;

  // Fills row_ with picture row `y` (top first, samples interleaved by
  // pixel); false with an error.
  bool ReadPictureRow(int y);

 private:
  std::unique_ptr<vtfmt::ArrayReader> reader_;
  std::vector<GByte> row_;
  int lastRow_ = -1;  // picture row in row_
  std::optional<CRect2D> bounds_;
};

class VtfmtRasterBand final : public GDALPamRasterBand {
 public:
  VtfmtRasterBand(VtfmtDataset* ds, int band, GDALDataType type) {
    poDS = ds;
    nBand = band;
    eDataType = type;
    nBlockXSize = ds->GetRasterXSize();
    nBlockYSize = 1;
  }
  CPLErr IReadBlock(int, int y, void* data) override;
  GDALColorInterp GetColorInterpretation() override { return interp_; }
  GDALColorTable* GetColorTable() override { return table_.get(); }
  double GetNoDataValue(int* has) override {
    if (has) *has = hasNoData_;
    return hasNoData_ ? noData_ : GDALPamRasterBand::GetNoDataValue(has);
  }

  GDALColorInterp interp_ = GCI_GrayIndex;
  std::unique_ptr<GDALColorTable> table_;
  bool hasNoData_ = false;
  double noData_ = 0;
};

bool VtfmtDataset::ReadPictureRow(int y) {
  if (y == lastRow_) return true;
  try {
    reader_->Read(static_cast<unsigned long>(y), static_cast<unsigned long>(y) + 1, row_.data());
  } catch (const std::exception& e) {
    lastRow_ = -1;
    CPLError(CE_Failure, CPLE_FileIO, "%s", e.what());
    return false;
  }
  lastRow_ = y;
  return true;
}

CPLErr VtfmtRasterBand::IReadBlock(int, int y, void* data) {
  auto* ds = static_cast<VtfmtDataset*>(poDS);
  if (!ds->ReadPictureRow(y)) return CE_Failure;
  // Band `nBand` of the row's interleaved samples.
  const size_t bytes = static_cast<size_t>(GDALGetDataTypeSizeBytes(eDataType));
  const size_t samples = static_cast<size_t>(ds->GetRasterCount());
  const GByte* from = ds->row_.data() + (nBand - 1) * bytes;
  auto* out = static_cast<GByte*>(data);
  for (int x = 0; x < nBlockXSize; ++x, from += samples * bytes, out += bytes) std::memcpy(out, from, bytes);
  return CE_None;
}

CPLErr VtfmtDataset::GetGeoTransform(double* t) {
  if (!bounds_) return GDALPamDataset::GetGeoTransform(t);
  t[0] = bounds_->left;
  t[1] = (bounds_->right - bounds_->left) / GetRasterXSize();
  t[2] = 0;
  t[3] = bounds_->top;
  t[4] = 0;
  t[5] = -(bounds_->top - bounds_->bottom) / GetRasterYSize();
  return CE_None;
}

// The GDAL type of samples of `type`, or GDT_Unknown.
GDALDataType GdalTypeOf(vtfmt::ArrayType type) {
  switch (type.kind * 16 + type.bytes) {
    case 'u' * 16 + 1: return GDT_Byte;
    case 'u' * 16 + 2: return GDT_UInt16;
    case 'i' * 16 + 2: return GDT_Int16;
    case 'u' * 16 + 4: return GDT_UInt32;
    case 'i' * 16 + 4: return GDT_Int32;
    case 'f' * 16 + 4: return GDT_Float32;
    case 'f' * 16 + 8: return GDT_Float64;
    case 'c' * 16 + 8: return GDT_CFloat32;
    case 'c' * 16 + 16: return GDT_CFloat64;
    default: return GDT_Unknown;
  }
}

GDALDataset* VtfmtDataset::Open(const Format& format, GDALOpenInfo* info) {
  if (!IdentifyFormat(format, info)) return nullptr;
  if (info->eAccess == GA_Update) {
    CPLError(CE_Failure, CPLE_NotSupported, "The %s driver reads only", format.gdalName);
    return nullptr;
  }
  auto ds = std::make_unique<VtfmtDataset>();
  try {
    ds->reader_ = std::make_unique<vtfmt::ArrayReader>(info->pszFilename, format.toolDriver, vtfmt::Options{});
  } catch (const std::exception& e) {
    CPLError(CE_Failure, CPLE_OpenFailed, "%s", e.what());
    return nullptr;
  }
  vtfmt::ArrayReader& reader = *ds->reader_;
  const GDALDataType type = GdalTypeOf(reader.Type());
  if (reader.Width() > INT32_MAX || reader.Height() > INT32_MAX || type == GDT_Unknown) {
    CPLError(CE_Failure, CPLE_OpenFailed, "%s: the image has no GDAL form", info->pszFilename);
    return nullptr;
  }
  ds->nRasterXSize = static_cast<int>(reader.Width());
  ds->nRasterYSize = static_cast<int>(reader.Height());
  ds->row_.resize(reader.RowBytes());
  ds->bounds_ = reader.Bounds();
  const std::optional<double> noData = reader.NoData();
  const std::vector<unsigned char> palette = reader.Palette();
  const int samples = reader.Samples();
  for (int b = 1; b <= samples; ++b) {
    auto* band = new VtfmtRasterBand(ds.get(), b, type);
    if (samples >= 3) band->interp_ = static_cast<GDALColorInterp>(GCI_RedBand + b - 1);
    if (!palette.empty()) {
      band->interp_ = GCI_PaletteIndex;
      band->table_ = std::make_unique<GDALColorTable>();
      for (size_t i = 0; i < palette.size() / 4; ++i) {
        const GDALColorEntry e = {palette[4 * i], palette[4 * i + 1], palette[4 * i + 2], palette[4 * i + 3]};
        band->table_->SetColorEntry(static_cast<int>(i), &e);
      }
    }
    band->hasNoData_ = noData.has_value();
    band->noData_ = noData.value_or(0);
    ds->SetBand(b, band);
  }
  ds->SetDescription(info->pszFilename);
  ds->TryLoadXML();
  ds->oOvManager.Initialize(ds.get(), info->pszFilename);
  return ds.release();
}

// Writes `source`'s first band through the format's vtfmt driver, in the
// form the driver keeps every value in (NSDTF: 32-bit integer cells;
// IDRISI: bytes, 16-bit integers or reals); a value it cannot keep fails
// the copy naming it. The geotransform gives the bounds.
GDALDataset* VtfmtDataset::CreateCopy(const Format& target, const char* path, GDALDataset* source,
                                      GDALProgressFunc progress, void* progressData) {
  if (source->GetRasterCount() < 1) {
    CPLError(CE_Failure, CPLE_NotSupported, "the source has no band");
    return nullptr;
  }
  GDALRasterBand* band = source->GetRasterBand(1);
  const GDALDataType type = band->GetRasterDataType();
  vtfmt::ArrayImage image;
  image.width = static_cast<unsigned long>(source->GetRasterXSize());
  image.height = static_cast<unsigned long>(source->GetRasterYSize());
  image.type = {GDALDataTypeIsFloating(type) ? 'f'
                : GDALDataTypeIsSigned(type) ? 'i'
                                             : 'u',
                GDALGetDataTypeSizeBytes(type)};
  if (GDALDataTypeIsComplex(type)) image.type.kind = 'c';
  std::optional<CRect2D> bounds;
  double t[6];
  if (source->GetGeoTransform(t) == CE_None)
    bounds = CRect2D(t[0], t[3], t[0] + image.width * t[1], t[3] + image.height * t[5]);
  try {
    const RasterDriver& driver = vtfmt::WritingDriver(target.toolDriver, path);
    const vtfmt::RowDescription rows = vtfmt::DescribeArray(image, bounds, {});
    vtfmt::RowPlan plan;
    std::string reason;
    if (!vtfmt::RasterWriter::Plan(driver, rows, plan, reason))
      throw vtfmt::ArrayError(std::string(path) + ": " + reason);
    vtfmt::RasterWriter writer(path, driver, {}, rows, plan);
    std::vector<unsigned char> row(rows.lineBytes);
    for (unsigned long k = 0; k < image.height; ++k) {
      const int y = static_cast<int>(writer.BottomUp() ? image.height - 1 - k : k);
      if (band->RasterIO(GF_Read, 0, y, static_cast<int>(image.width), 1, row.data(),
                         static_cast<int>(image.width), 1, type, 0, 0, nullptr) != CE_None)
        throw vtfmt::ArrayError(std::string(path) + ": cannot read row " + std::to_string(y) +
                                " of the source");
      writer.Write(k, row.data());
      if (progress && !progress((k + 1.0) / image.height, nullptr, progressData)) {
        writer.Abandon();
        CPLError(CE_Failure, CPLE_UserInterrupt, "interrupted");
        return nullptr;
      }
    }
    writer.Finish();
  } catch (const std::exception& e) {
    CPLError(CE_Failure, CPLE_FileIO, "%s", e.what());
    return nullptr;
  }
  GDALOpenInfo info(path, GA_ReadOnly);
  return Open(target, &info);
}

// GDAL's open and identify entries carry no context: one pair per format.
template <int I>
GDALDataset* OpenFormat(GDALOpenInfo* info) {
  return VtfmtDataset::Open(kFormats[I], info);
}
template <int I>
int IdentifyFormat(GDALOpenInfo* info) {
  return IdentifyFormat(kFormats[I], info) ? TRUE : FALSE;
}
template <int I>
GDALDataset* CreateCopyFormat(const char* path, GDALDataset* source, int, char**, GDALProgressFunc progress,
                              void* progressData) {
  return VtfmtDataset::CreateCopy(kFormats[I], path, source, progress, progressData);
}

void Register(int index, GDALDataset* (*open)(GDALOpenInfo*), int (*identify)(GDALOpenInfo*),
              GDALDataset* (*createCopy)(const char*, GDALDataset*, int, char**, GDALProgressFunc, void*)) {
  const Format& f = kFormats[index];
  if (GDALGetDriverByName(f.gdalName)) return;
  auto* driver = new GDALDriver();
  driver->SetDescription(f.gdalName);
  driver->SetMetadataItem(GDAL_DCAP_RASTER, "YES");
  driver->SetMetadataItem(GDAL_DMD_LONGNAME, f.longName);
  driver->SetMetadataItem(GDAL_DMD_EXTENSION, f.extension);
  driver->pfnOpen = open;
  driver->pfnIdentify = identify;
  if (createCopy) {
    driver->pfnCreateCopy = createCopy;
    driver->SetMetadataItem(GDAL_DMD_CREATIONDATATYPES, "Byte Int16 UInt16 Int32 Float32 Float64");
  }
  GetGDALDriverManager()->RegisterDriver(driver);
}

}  // namespace

extern "C" void GDALRegister_vtfmt() {
  if (!GDAL_CHECK_VERSION("vtfmt")) return;
  Register(0, OpenFormat<0>, IdentifyFormat<0>, CreateCopyFormat<0>);
  Register(1, OpenFormat<1>, IdentifyFormat<1>, nullptr);
  Register(2, OpenFormat<2>, IdentifyFormat<2>, nullptr);
  Register(3, OpenFormat<3>, IdentifyFormat<3>, CreateCopyFormat<3>);
}
