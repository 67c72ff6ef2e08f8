// gdal_vtfmt: a GDAL driver plugin that opens, through vtfmt's drivers, the
// raster files GDAL itself cannot read: NSDTF grids, raw rasters with an
// .ifo sidecar, IDRISI images with an old-style .doc file and run-length
// 4-bit bitmaps. NSDTF grids and IDRISI images can also be written with
// CreateCopy. Rows are read one at a time through the drivers'
// scan-line interface (blocks of one row).
#include <gdal_pam.h>
#include <gdal_priv.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ToolDriver.h"
#include "platform/posix/PathCase.h"
#include "platform/vtcore/CImgScanLine.h"

namespace {

using vtfmt::ToolDriver;

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
    const ToolDriver* idrisi = vtfmt::FindDriver("idrisi");
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

  // Fills `line` with picture row `y` (top first); false with an error.
  bool ReadPictureRow(int y);

 private:
  bool Reopen();

  const ToolDriver* driver_ = nullptr;
  std::string path_;
  std::unique_ptr<CImgFile> file_;
  CImgScanLine line_;
  long lastRow_ = -1;  // file row in line_
  long nextRow_ = 0;   // next file row a sequential driver delivers
  bool bottomUp_ = false;
  bool haveBounds_ = false;
  CRect2D bounds_;
  int pixelBits_ = 8;        // bits of one sample in the rows (1, 4, 8, 16, 32, 64)
  int samples_ = 1;          // samples per pixel in the rows
  bool redFirst_ = false;    // colour samples red first
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

bool VtfmtDataset::Reopen() {
  file_ = driver_->Create();
  std::string reason;
  if (!driver_->OpenRead(*file_, path_, reason)) {
    CPLError(CE_Failure, CPLE_OpenFailed, "%s: %s", path_.c_str(), reason.c_str());
    return false;
  }
  nextRow_ = 0;
  lastRow_ = -1;
  return true;
}

bool VtfmtDataset::ReadPictureRow(int y) {
  const long row = bottomUp_ ? static_cast<long>(GetRasterYSize()) - 1 - y : y;
  if (row == lastRow_) return true;
  if (driver_->SequentialRead()) {
    // A driver that delivers rows once each, in order, starts again for an
    // earlier row.
    if (row < nextRow_ && !Reopen()) return false;
    while (nextRow_ <= row) {
      if (driver_->ReadRow(*file_, nextRow_, line_) < 0) break;
      ++nextRow_;
    }
    if (nextRow_ <= row) {
      CPLError(CE_Failure, CPLE_FileIO, "%s: cannot read row %ld", path_.c_str(), row);
      return false;
    }
  } else if (driver_->ReadRow(*file_, row, line_) < 0) {
    CPLError(CE_Failure, CPLE_FileIO, "%s: cannot read row %ld", path_.c_str(), row);
    return false;
  }
  lastRow_ = row;
  return true;
}

CPLErr VtfmtRasterBand::IReadBlock(int, int y, void* data) {
  auto* ds = static_cast<VtfmtDataset*>(poDS);
  if (!ds->ReadPictureRow(y)) return CE_Failure;
  const GByte* row = ds->line_.GetData();
  const int width = nBlockXSize;
  auto* out = static_cast<GByte*>(data);
  if (ds->pixelBits_ < 8) {
    // Packed indices, most significant bits first.
    const int bits = ds->pixelBits_;
    for (int x = 0; x < width; ++x) {
      const int bit = x * bits;
      out[x] = static_cast<GByte>((row[bit / 8] >> (8 - bits - bit % 8)) & ((1 << bits) - 1));
    }
    return CE_None;
  }
  const int bytes = ds->pixelBits_ / 8;
  int sample = nBand - 1;
  // Colour rows keep blue first unless the driver says red first.
  if (ds->samples_ >= 3 && !ds->redFirst_ && sample < 3) sample = 2 - sample;
  const int stride = bytes * ds->samples_;
  for (int x = 0; x < width; ++x) std::memcpy(out + x * bytes, row + x * stride + sample * bytes, bytes);
  return CE_None;
}

CPLErr VtfmtDataset::GetGeoTransform(double* t) {
  if (!haveBounds_) return GDALPamDataset::GetGeoTransform(t);
  t[0] = bounds_.left;
  t[1] = (bounds_.right - bounds_.left) / GetRasterXSize();
  t[2] = 0;
  t[3] = bounds_.top;
  t[4] = 0;
  t[5] = -(bounds_.top - bounds_.bottom) / GetRasterYSize();
  return CE_None;
}

GDALDataset* VtfmtDataset::Open(const Format& format, GDALOpenInfo* info) {
  if (!IdentifyFormat(format, info)) return nullptr;
  if (info->eAccess == GA_Update) {
    CPLError(CE_Failure, CPLE_NotSupported, "The %s driver reads only", format.gdalName);
    return nullptr;
  }
  auto ds = std::make_unique<VtfmtDataset>();
  ds->driver_ = vtfmt::FindDriver(format.toolDriver);
  ds->path_ = info->pszFilename;
  if (!ds->driver_ || !ds->Reopen()) return nullptr;
  CImgFile& file = *ds->file_;
  const int width = static_cast<int>(file.GetWidth()), height = static_cast<int>(file.GetHeight());
  if (width <= 0 || height <= 0 || file.GetWidth() > INT32_MAX || file.GetHeight() > INT32_MAX) {
    CPLError(CE_Failure, CPLE_OpenFailed, "%s: no image size", ds->path_.c_str());
    return nullptr;
  }
  ds->nRasterXSize = width;
  ds->nRasterYSize = height;
  ds->bottomUp_ = ds->driver_->BottomUp(file);
  ds->redFirst_ = ds->driver_->RowsRedFirst(file);
  ds->haveBounds_ = ds->driver_->GetBounds(file, ds->bounds_);
  const bool cells = ds->driver_->HoldsCells(file);
  GDALDataType type = GDT_Byte;
  switch (file.GetPixelFormat()) {
    case PF_BIT1:
    case PF_BIT4:
      ds->pixelBits_ = file.GetPixelFormat();
      break;
    case PF_BIT8:
      break;
    case PF_BIT16:
      if (!cells) return nullptr;  // 5-6-5 colour pictures are not offered
      ds->pixelBits_ = 16;
      type = ds->driver_->UnsignedCells(file) ? GDT_UInt16 : GDT_Int16;
      break;
    case PF_BIT24:
      ds->samples_ = 3;
      break;
    case PF_BIT32:
      if (cells) ds->pixelBits_ = 32, type = GDT_Int32;
      else ds->samples_ = 4;
      break;
    case PF_INT32:
      ds->pixelBits_ = 32;
      type = GDT_Int32;
      break;
    case PF_FLOAT32:
      ds->pixelBits_ = 32;
      type = GDT_Float32;
      break;
    case PF_FLOAT64:
      ds->pixelBits_ = 64;
      type = GDT_Float64;
      break;
    default:
      CPLError(CE_Failure, CPLE_NotSupported, "%s: pixel format %d is not offered", ds->path_.c_str(),
               static_cast<int>(file.GetPixelFormat()));
      return nullptr;
  }
  ds->line_ = CImgScanLine(file.GetPixelFormat(), static_cast<long>(file.GetWidthBytes()));
  double noData = 0;
  const bool hasNoData = ds->driver_->GetNoData(file, noData);
  const bool redFirstPalette = ds->driver_->PaletteRedFirst(file);
  for (int b = 1; b <= ds->samples_; ++b) {
    auto* band = new VtfmtRasterBand(ds.get(), b, type);
    if (ds->samples_ >= 3) band->interp_ = static_cast<GDALColorInterp>(GCI_RedBand + b - 1);
    if (ds->samples_ == 1 && !cells && file.m_Palette.GetSize() > 0) {
      band->interp_ = GCI_PaletteIndex;
      band->table_ = std::make_unique<GDALColorTable>();
      for (int i = 0; i < file.m_Palette.GetSize(); ++i) {
        const PALETTEENTRY& p = file.m_Palette[i];
        // Bitmap palettes hold blue, green, red in the entry's first three bytes.
        GDALColorEntry e = {static_cast<short>(redFirstPalette ? p.peRed : p.peBlue), p.peGreen,
                            static_cast<short>(redFirstPalette ? p.peBlue : p.peRed), 255};
        band->table_->SetColorEntry(i, &e);
      }
    }
    band->hasNoData_ = cells && hasNoData;
    band->noData_ = noData;
    ds->SetBand(b, band);
  }
  ds->SetDescription(info->pszFilename);
  ds->TryLoadXML();
  ds->oOvManager.Initialize(ds.get(), info->pszFilename);
  return ds.release();
}

// Writes `source`'s first band through the format's vtfmt driver. NSDTF:
// 16-bit integers stay 16-bit, other integers become 32-bit cells, reals
// 32-bit floats. IDRISI: bytes stay bytes, 16-bit integers stay integers,
// everything else is written as reals. The geotransform gives the bounds.
GDALDataset* VtfmtDataset::CreateCopy(const Format& target, const char* path, GDALDataset* source,
                                      GDALProgressFunc progress, void* progressData) {
  if (source->GetRasterCount() < 1) {
    CPLError(CE_Failure, CPLE_NotSupported, "the source has no band");
    return nullptr;
  }
  const ToolDriver* driver = vtfmt::FindDriver(target.toolDriver);
  GDALRasterBand* band = source->GetRasterBand(1);
  const GDALDataType in = band->GetRasterDataType();
  const bool idrisi = std::strcmp(target.toolDriver, "idrisi") == 0;
  ImgPixelFormat format = idrisi ? PF_FLOAT32 : PF_INT32;
  GDALDataType io = idrisi ? GDT_Float32 : GDT_Int32;
  if (in == GDT_Int16 || (in == GDT_Byte && !idrisi)) format = PF_BIT16, io = GDT_Int16;
  if (in == GDT_Byte && idrisi) format = PF_BIT8, io = GDT_Byte;
  if (GDALDataTypeIsFloating(in)) format = PF_FLOAT32, io = GDT_Float32;
  std::unique_ptr<CImgFile> file = driver->Create();
  std::string reason;
  if (!driver->OpenWrite(*file, path, reason)) {
    CPLError(CE_Failure, CPLE_OpenFailed, "%s: %s", path, reason.c_str());
    return nullptr;
  }
  const int width = source->GetRasterXSize(), height = source->GetRasterYSize();
  file->SetWidth(static_cast<unsigned long>(width));
  file->SetHeight(static_cast<unsigned long>(height));
  file->SetPixelFormat(format);
  file->SetPixelFormatExt(format);
  if (format != PF_BIT8) driver->TakeCells(*file);
  double t[6];
  if (source->GetGeoTransform(t) == CE_None)
    driver->SetBounds(*file, CRect2D(t[0], t[3], t[0] + width * t[1], t[3] + height * t[5]));
  if (!driver->SaveHeader(*file, reason)) {
    CPLError(CE_Failure, CPLE_FileIO, "%s: %s", path, reason.c_str());
    return nullptr;
  }
  const int bytes = GDALGetDataTypeSizeBytes(io);
  CImgScanLine line(format, static_cast<long>(width) * bytes);
  for (int y = 0; y < height; ++y) {
    if (band->RasterIO(GF_Read, 0, y, width, 1, line.GetData(), width, 1, io, 0, 0, nullptr) != CE_None ||
        driver->WriteRow(*file, y, line) < 0) {
      CPLError(CE_Failure, CPLE_FileIO, "%s: cannot write row %d", path, y);
      return nullptr;
    }
    if (progress && !progress((y + 1.0) / height, nullptr, progressData)) {
      CPLError(CE_Failure, CPLE_UserInterrupt, "interrupted");
      return nullptr;
    }
  }
  if (!driver->FinishWrite(*file, reason)) {
    CPLError(CE_Failure, CPLE_FileIO, "%s: %s", path, reason.c_str());
    return nullptr;
  }
  file.reset();
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
    driver->SetMetadataItem(GDAL_DMD_CREATIONDATATYPES, "Byte Int16 Int32 Float32");
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
