#include "platform/geodata/GeodataRaster.h"


#include <algorithm>
#include <cmath>
#include <new>

#include "platform/geodata/GeodataCpl.h"

namespace vtgeo {
namespace {

// The library's types, as its C interface lays them out.
typedef void* DatasetH;
typedef void* BandH;
typedef void* TableH;
typedef void* DriverH;
enum { kRead = 0, kByte = 1, kOpenRaster = 0x02, kOpenVerboseError = 0x40 };

struct ColourEntry {
  short c1, c2, c3, c4;
};

// Extra arguments of a read (its first version, which every later release
// accepts).
struct RasterIOExtraArg {
  int nVersion;
  int eResampleAlg;
  int (*pfnProgress)(double, const char*, void*);
  void* pProgressData;
  int bFloatingPointWindowValidity;
  double dfXOff, dfYOff, dfXSize, dfYSize;
};

struct RasterEntries {
  void (*allRegister)() = nullptr;
  int (*driverCount)() = nullptr;
  DatasetH (*openEx)(const char*, unsigned, const char* const*, const char* const*, const char* const*) = nullptr;
  void (*close)(DatasetH) = nullptr;
  int (*xSize)(DatasetH) = nullptr;
  int (*ySize)(DatasetH) = nullptr;
  int (*count)(DatasetH) = nullptr;
  BandH (*band)(DatasetH, int) = nullptr;
  int (*dataType)(BandH) = nullptr;
  const char* (*typeName)(int) = nullptr;
  int (*typeBits)(int) = nullptr;
  TableH (*colourTable)(BandH) = nullptr;
  int (*entryCount)(TableH) = nullptr;
  int (*entryAsRGB)(TableH, int, ColourEntry*) = nullptr;
  double (*noData)(BandH, int*) = nullptr;
  int (*overviewCount)(BandH) = nullptr;
  BandH (*overview)(BandH, int) = nullptr;
  int (*bandXSize)(BandH) = nullptr;
  int (*bandYSize)(BandH) = nullptr;
  int (*datasetRead)(DatasetH, int, int, int, int, int, void*, int, int, int, int, int*, long long, long long,
                     long long, RasterIOExtraArg*) = nullptr;
  DriverH (*datasetDriver)(DatasetH) = nullptr;
  const char* (*driverName)(DriverH) = nullptr;
  bool bound = false;
};

const RasterEntries& Entries() {
  static const RasterEntries entries = [] {
    RasterEntries e;
    if (!GeodataLibrary()) return e;
    e.bound = BindGeodata("GDALAllRegister", e.allRegister) && BindGeodata("GDALGetDriverCount", e.driverCount) &&
              BindGeodata("GDALOpenEx", e.openEx) && BindGeodata("GDALClose", e.close) &&
              BindGeodata("GDALGetRasterXSize", e.xSize) && BindGeodata("GDALGetRasterYSize", e.ySize) &&
              BindGeodata("GDALGetRasterCount", e.count) && BindGeodata("GDALGetRasterBand", e.band) &&
              BindGeodata("GDALGetRasterDataType", e.dataType) && BindGeodata("GDALGetDataTypeName", e.typeName) &&
              BindGeodata("GDALGetDataTypeSizeBits", e.typeBits) &&
              BindGeodata("GDALGetRasterColorTable", e.colourTable) &&
              BindGeodata("GDALGetColorEntryCount", e.entryCount) &&
              BindGeodata("GDALGetColorEntryAsRGB", e.entryAsRGB) &&
              BindGeodata("GDALGetRasterNoDataValue", e.noData) &&
              BindGeodata("GDALGetOverviewCount", e.overviewCount) && BindGeodata("GDALGetOverview", e.overview) &&
              BindGeodata("GDALGetRasterBandXSize", e.bandXSize) && BindGeodata("GDALGetRasterBandYSize", e.bandYSize) &&
              BindGeodata("GDALDatasetRasterIOEx", e.datasetRead) &&
              BindGeodata("GDALGetDatasetDriver", e.datasetDriver) &&
              BindGeodata("GDALGetDriverShortName", e.driverName);
    // The host may have registered the drivers already; otherwise we do.
    if (e.bound && e.driverCount() == 0) e.allRegister();
    return e;
  }();
  return entries;
}

// The library's message for the last call, or `fallback` when it gave none.
std::string ReasonOr(const char* fallback) {
  const std::string text = GeodataLastMessage();
  return text.empty() ? fallback : text;
}

const char kNoLibrary[] = "the geodata library (GDAL) cannot be loaded";

}  // namespace

bool RasterAvailable() { return Entries().bound; }

bool RasterDataset::Open(const std::string& path, std::string& reason) {
  Close();
  const RasterEntries& e = Entries();
  if (!e.bound) {
    reason = kNoLibrary;
    return false;
  }
  GeodataQuiet quiet;
  DatasetH ds = e.openEx(path.c_str(), kOpenRaster | kOpenVerboseError, nullptr, nullptr, nullptr);
  if (!ds) {
    reason = ReasonOr("the file cannot be opened as a raster");
    return false;
  }
  const int width = e.xSize(ds), height = e.ySize(ds), bands = e.count(ds);
  if (width < 1 || height < 1 || bands < 1) {
    e.close(ds);
    reason = "the file holds no raster pixels";
    return false;
  }
  for (int b = 1; b <= bands; ++b) {
    const int type = e.dataType(e.band(ds, b));
    if (type != kByte) {
      const char* name = e.typeName(type);
      reason = "band " + std::to_string(b) + " holds " + std::to_string(e.typeBits(type)) + "-bit samples (" +
               (name ? name : "?") + "); the decoder delivers 8-bit samples";
      e.close(ds);
      return false;
    }
  }
  m_hDataset = ds;
  m_nWidth = width, m_nHeight = height, m_nBands = bands;
  BandH first = e.band(ds, 1);
  TableH table = bands == 1 ? e.colourTable(first) : nullptr;
  m_bPalette = table != nullptr;
  if (m_bPalette) {
    m_Colours.assign(256 * 3, 0);
    const int entries = std::min(256, e.entryCount(table));
    for (int i = 0; i < entries; ++i) {
      ColourEntry c{0, 0, 0, 0};
      if (!e.entryAsRGB(table, i, &c)) continue;
      m_Colours[i * 3 + 0] = static_cast<unsigned char>(c.c1);
      m_Colours[i * 3 + 1] = static_cast<unsigned char>(c.c2);
      m_Colours[i * 3 + 2] = static_cast<unsigned char>(c.c3);
    }
  }
  m_NoData.clear();
  for (int b = 1; b <= bands; ++b) {
    int has = 0;
    const double v = e.noData(e.band(ds, b), &has);
    m_NoData.push_back(has ? v : NAN);
  }
  m_Overviews.clear();
  const int overviews = e.overviewCount(first);
  for (int i = 0; i < overviews; ++i) {
    BandH o = e.overview(first, i);
    if (o) m_Overviews.emplace_back(e.bandXSize(o), e.bandYSize(o));
  }
  const char* name = e.driverName(e.datasetDriver(ds));
  m_strDriver = name ? name : "";
  return true;
}

void RasterDataset::Close() {
  if (m_hDataset) {
    const RasterEntries& e = Entries();
    GeodataQuiet quiet;
    e.close(m_hDataset);
  }
  m_hDataset = nullptr;
  m_nWidth = m_nHeight = m_nBands = 0;
  m_bPalette = false;
  m_Colours.clear();
  m_Overviews.clear();
  m_NoData.clear();
  m_strDriver.clear();
}

unsigned char RasterDataset::Background(int band) const {
  if (band < 0 || band >= Bands() || m_NoData.empty()) return 0;
  const double v = m_NoData[m_bPalette ? 0 : static_cast<size_t>(band)];
  if (std::isnan(v) || v < 0 || v > 255) return 0;
  const int index = static_cast<int>(v);
  return m_bPalette ? m_Colours[static_cast<size_t>(index) * 3 + static_cast<size_t>(band)]
                    : static_cast<unsigned char>(index);
}

bool RasterDataset::Read(int x, int y, int w, int h, int bw, int bh, const int* bands, int count, unsigned char* out,
                         long long pixelSpace, long long lineSpace, long long bandSpace, RasterResampling resampling,
                         std::string& reason) const {
  const RasterEntries& e = Entries();
  if (!m_hDataset) {
    reason = "no raster is open";
    return false;
  }
  if (x < 0 || y < 0 || w < 1 || h < 1 || x > m_nWidth - w || y > m_nHeight - h || bw < 1 || bh < 1 || count < 1 ||
      !out) {
    reason = "the area read lies outside the raster";
    return false;
  }
  for (int i = 0; i < count; ++i)
    if (bands[i] < 0 || bands[i] >= Bands()) {
      reason = "band " + std::to_string(bands[i] + 1) + " is not in the raster";
      return false;
    }
  RasterIOExtraArg extra{1, m_bPalette ? kResampleNearest : resampling, nullptr, nullptr, 0, 0, 0, 0, 0};
  GeodataQuiet quiet;
  if (!m_bPalette) {
    std::vector<int> map(bands, bands + count);
    for (int& b : map) ++b;
    if (e.datasetRead(m_hDataset, kRead, x, y, w, h, out, bw, bh, kByte, count, map.data(), pixelSpace, lineSpace,
                      bandSpace, &extra) != 0) {
      reason = ReasonOr("the raster cannot be read");
      return false;
    }
    return true;
  }
  std::vector<unsigned char> indices;
  try {
    indices.resize(static_cast<size_t>(bw) * static_cast<size_t>(bh));
  } catch (const std::bad_alloc&) {
    reason = "not enough memory for the area read";
    return false;
  }
  int one = 1;
  if (e.datasetRead(m_hDataset, kRead, x, y, w, h, indices.data(), bw, bh, kByte, 1, &one, 1, bw, 0, &extra) != 0) {
    reason = ReasonOr("the raster cannot be read");
    return false;
  }
  for (int r = 0; r < bh; ++r)
    for (int c = 0; c < bw; ++c) {
      const unsigned char* colour = &m_Colours[indices[static_cast<size_t>(r) * bw + c] * 3u];
      unsigned char* pixel = out + r * lineSpace + c * pixelSpace;
      for (int i = 0; i < count; ++i) pixel[i * bandSpace] = colour[bands[i]];
    }
  return true;
}

}  // namespace vtgeo
