#include "raster/CImgFileImg.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

#include "platform/vtcore/CVtErrorMsg.h"
#include "platform/vtcore/VtNumber.h"

namespace {

// Bits of a pixel of each HFA pixel type.
const int kSampleBits[13] = {1, 2, 4, 8, 8, 16, 16, 32, 32, 32, 64, 64, 128};

// Limits that keep a forged header from making us allocate more than real
// files need: one block (real files use 64 x 64 to 512 x 512 pixels of at
// most 16 bytes) and the buffers of one block row of one band.
const size_t kMaxBlockBytes = size_t(1) << 26;
const size_t kMaxBlockRowBytes = size_t(1) << 30;

const double kDegreesPerRadian = 57.29577951308232;

// The band registry: the bands LoadBandImg has handed out, each with the
// object that owns it and its index. Entries leave with their file.
struct RegistryEntry {
  const CImgFileImg* owner;
  int index;
  const HFABand* band;
};
std::mutex g_registryLock;
std::vector<RegistryEntry>& Registry() {
  static std::vector<RegistryEntry> registry;
  return registry;
}

bool Fail(const CString& text) {
  VtGetErrorMsgObj()->SetMessage(0L, text);
  return false;
}

// Records `text` and gives GetPJCoordSys's failure, 0.
int Refuse(const CString& text) {
  Fail(text);
  return 0;
}

bool FailHfa(const char* what) {
  // The geodata library may add a second line (the system's text for the
  // last error, "Success" after a short read): its first line is the reason.
  std::string reason = vtgeo::HfaLastError();
  reason = reason.substr(0, reason.find('\n'));
  CString text(what);
  if (!reason.empty()) text += CString(": ") + CString(reason);
  return Fail(text);
}

// Metres in one map unit of each unit name (lower case), for the WKT: feet
// in these files are US survey feet unless named international.
struct UnitMetres {
  const char* name;
  double metres;
  const char* wktName;
};
const UnitMetres kUnitMetres[] = {
    {"meters", 1, "metre"},
    {"meter", 1, "metre"},
    {"m", 1, "metre"},
    {"kilometers", 1000, "kilometre"},
    {"kilometer", 1000, "kilometre"},
    {"km", 1000, "kilometre"},
    {"millimeters", 0.001, "millimetre"},
    {"millimeter", 0.001, "millimetre"},
    {"mm", 0.001, "millimetre"},
    {"centimeters", 0.01, "centimetre"},
    {"centimeter", 0.01, "centimetre"},
    {"cm", 0.01, "centimetre"},
    {"yards", 0.9144, "yard"},
    {"yard", 0.9144, "yard"},
    {"yd", 0.9144, "yard"},
    {"feet", 0.3048006096012192, "US survey foot"},
    {"foot", 0.3048006096012192, "US survey foot"},
    {"ft", 0.3048006096012192, "US survey foot"},
    {"us_survey_feet", 0.3048006096012192, "US survey foot"},
    {"us_survey_foot", 0.3048006096012192, "US survey foot"},
    {"international_feet", 0.3048, "foot"},
    {"international_foot", 0.3048, "foot"},
};

// Angle units of geographic map information.
bool IsAngular(CString units) {
  units.MakeLower();
  return units == "dd" || units == "degrees" || units == "degree" || units == "ds" || units == "radians";
}

// The prime meridian of an ESRI WKT text: PRIMEM["name",longitude].
bool PrimeMeridianOf(const char* wkt, CString& name, double& longitude) {
  const char* p = wkt ? std::strstr(wkt, "PRIMEM[\"") : nullptr;
  if (!p) return false;
  p += 8;
  const char* close = std::strchr(p, '"');
  if (!close || close[1] != ',') return false;
  double value = 0;
  const size_t used = vtnum::ParseDouble(close + 2, std::strlen(close + 2), value);
  if (used == 0 || !std::isfinite(value)) return false;
  name = CString(p, static_cast<int>(close - p));
  longitude = value;
  return true;
}

}  // namespace

int HFABand::SampleBits() const { return dataType >= 0 && dataType < 13 ? kSampleBits[dataType] : 0; }

size_t HFABand::BlockBytes() const {
  const size_t sample = static_cast<size_t>(std::max(1, SampleBits() / 8));
  return sample * static_cast<size_t>(blockWidth) * static_cast<size_t>(blockHeight);
}

CImgFileImg::CImgFileImg() {
  static const unsigned char kFormats[13] = {PF_BIT1,  PF_HFA_BIT2, PF_BIT4,      PF_BIT8,  PF_BIT8,
                                             PF_BIT16, PF_BIT16,    PF_BIT32,     PF_BIT32, PF_BIT32,
                                             PF_BIT64, PF_BIT64,    PF_HFA_BIT128};
  std::memcpy(m_PixelFormats, kFormats, sizeof m_PixelFormats);
}

CImgFileImg::~CImgFileImg() { Close(); }

void CImgFileImg::Close() {
  {
    std::lock_guard<std::mutex> lock(g_registryLock);
    auto& registry = Registry();
    registry.erase(std::remove_if(registry.begin(), registry.end(),
                                  [this](const RegistryEntry& e) { return e.owner == this; }),
                   registry.end());
  }
  if (m_hHFA) vtgeo::HFAClose(m_hHFA);
  m_hHFA = nullptr;
  m_pCurrentBand = nullptr;
  m_Bands.clear();
  m_BlockTable.clear();
  m_BlockTable.shrink_to_fit();
  m_LoadedBlockRow.clear();
  m_nBlocksPerRow = 0;
  CImgFile::Close();
}

int CImgFileImg::OpenForRead(CString path) {
  Close();
  m_hHFA = vtgeo::HFAOpen(path, "r");
  if (!m_hHFA) {
    FailHfa(CString("\"") + path + "\" cannot be opened as an ERDAS Imagine file");
    return 0;
  }
  vtgeo::HFAGetMapInfo(m_hHFA);
  int bands = 0;
  vtgeo::HFAGetRasterInfo(m_hHFA, nullptr, nullptr, &bands);
  m_nBandCount = std::max(0, bands);
  m_Bands.resize(static_cast<size_t>(m_nBandCount));
  m_LoadedBlockRow.assign(static_cast<size_t>(m_nBandCount), -1);
  return 1;
}

HFABand* CImgFileImg::Band(int band) {
  if (!m_hHFA || band < 0 || band >= m_nBandCount || static_cast<size_t>(band) >= m_Bands.size())
    return nullptr;
  if (m_Bands[band]) return m_Bands[band].get();
  int width = 0, height = 0, type = -1, blockWidth = 0, blockHeight = 0, compression = 0;
  if (vtgeo::HFAGetRasterInfo(m_hHFA, &width, &height, nullptr) != 0 ||
      vtgeo::HFAGetBandInfo(m_hHFA, band + 1, &type, &blockWidth, &blockHeight, &compression) != 0)
    return nullptr;
  // Blocks of more than 2^40 pixels exist in no file; their byte counts
  // would not fit a size_t.
  if (width <= 0 || height <= 0 || blockWidth <= 0 || blockHeight <= 0 || type < 0 || type > 12 ||
      static_cast<long long>(blockWidth) * blockHeight > (1LL << 40))
    return nullptr;
  auto b = std::make_unique<HFABand>();
  b->file = m_hHFA;
  b->index = band;
  b->dataType = type;
  b->width = width;
  b->height = height;
  b->blockWidth = blockWidth;
  b->blockHeight = blockHeight;
  b->blocksPerRow = static_cast<int>((static_cast<long long>(width) + blockWidth - 1) / blockWidth);
  b->blocksPerColumn = static_cast<int>((static_cast<long long>(height) + blockHeight - 1) / blockHeight);
  b->compression = compression;
  m_Bands[band] = std::move(b);
  return m_Bands[band].get();
}

long CImgFileImg::TakeBand(int band) {
  HFABand* b = Band(band);
  if (!b) {
    CString text;
    text.Format("the file has no band %d (bands: %d)", band, m_hHFA ? m_nBandCount : 0);
    Fail(text);
    return -1;
  }
  // Rows are DIB-aligned to 4 bytes; the byte count must fit the property.
  const long long rowBytes = (static_cast<long long>(b->width) * b->SampleBits() + 31) / 32 * 4;
  if (rowBytes > INT32_MAX) {
    Fail("a row of the band is too long to hold");
    return -1;
  }
  m_pCurrentBand = b;
  const ImgPixelFormat format = static_cast<ImgPixelFormat>(m_PixelFormats[b->dataType]);
  SetPixelFormat(format);
  SetPixelFormatExt(format);
  SetWidth(static_cast<unsigned long>(b->width));
  SetWidthBytes(static_cast<unsigned long>(rowBytes));
  SetHeight(static_cast<unsigned long>(b->height));
  return 1;
}

long CImgFileImg::LoadImage() { return TakeBand(0); }

long CImgFileImg::LoadImage(int band) {
  if (TakeBand(band) < 0) return -1;
  m_nBlockWidth = m_pCurrentBand->blockWidth;
  m_nBlockHeight = m_pCurrentBand->blockHeight;
  return 1;
}

bool CImgFileImg::LoadBandImg(int band, HFABand*& result) {
  HFABand* b = Band(band);
  result = b;
  if (!b) {
    CString text;
    text.Format("the file has no band %d", band);
    return Fail(text);
  }
  // Blocks may be any size. Packed pixels run on from row to row within a
  // block; a block whose pixels end inside a byte is written short by
  // GDAL and read back shifted, so its pixels are not known.
  const int bits = b->SampleBits();
  if (bits < 8 && static_cast<long long>(b->blockWidth) * b->blockHeight * bits % 8 != 0) {
    CString text;
    text.Format("its %d-bit pixels are packed in blocks of %d x %d pixels, which end inside a byte; not read", bits,
                b->blockWidth, b->blockHeight);
    return Fail(text);
  }
  const size_t blockBytes = b->BlockBytes();
  if (blockBytes > kMaxBlockBytes || blockBytes * static_cast<size_t>(b->blocksPerRow) > kMaxBlockRowBytes) {
    CString text;
    text.Format("a block row of band %d (%d blocks of %d x %d pixels) is too large to hold", band,
                b->blocksPerRow, b->blockWidth, b->blockHeight);
    return Fail(text);
  }
  if (m_BlockTable.empty()) {
    m_nBlocksPerRow = b->blocksPerRow;
    m_BlockTable.resize(static_cast<size_t>(m_nBlocksPerRow) * static_cast<size_t>(m_nBandCount));
  } else if (b->blocksPerRow != m_nBlocksPerRow) {
    CString text;
    text.Format("band %d has %d blocks a row where the bands loaded before have %d", band, b->blocksPerRow,
                m_nBlocksPerRow);
    return Fail(text);
  }
  const size_t first = static_cast<size_t>(band) * static_cast<size_t>(m_nBlocksPerRow);
  try {
    for (int i = 0; i < m_nBlocksPerRow; ++i) {
      BlockRecord& record = m_BlockTable[first + i];
      record.width = b->blockWidth;
      record.height = b->blockHeight;
      if (record.buffer.size() != blockBytes) record.buffer.assign(blockBytes, 0);
      // The first block read proves the file holds the band's block list
      // before the others are allocated.
      if (i == 0 && GetRasterBlock(b, 0, 0, record.buffer.data()) == 0) {
        record.buffer.clear();
        return FailHfa("the blocks of the band cannot be read");
      }
    }
  } catch (const std::bad_alloc&) {
    for (int i = 0; i < m_nBlocksPerRow; ++i) m_BlockTable[first + i].buffer = std::vector<unsigned char>();
    return Fail("not enough memory for a block row of the band");
  }
  m_LoadedBlockRow[band] = -1;

  std::lock_guard<std::mutex> lock(g_registryLock);
  auto& registry = Registry();
  const bool known = std::any_of(registry.begin(), registry.end(),
                                 [&](const RegistryEntry& e) { return e.owner == this && e.index == band; });
  if (!known) registry.push_back({this, band, b});
  m_pCurrentBand = b;
  return true;
}

bool CImgFileImg::ReadBlockRow(HFABand& band, size_t first, int blockRow) {
  for (int i = 0; i < band.blocksPerRow; ++i)
    if (GetRasterBlock(&band, i, blockRow, m_BlockTable[first + i].buffer.data()) == 0) {
      CString text;
      text.Format("block %d of block row %d of band %d cannot be read", i, blockRow, band.index);
      return FailHfa(text);
    }
  return true;
}

long CImgFileImg::ReadScanLine(long row, CImgScanLine& line, HFABand* band) {
  if (!band) return -1;
  int b = -1;
  {
    std::lock_guard<std::mutex> lock(g_registryLock);
    for (const RegistryEntry& e : Registry())
      if (e.owner == this && e.band == band) b = e.index;
  }
  if (b < 0) {
    Fail("the band was not loaded by this file (LoadBandImg)");
    return -1;
  }
  if (row < 0 || row >= band->height) return -1;
  const int bits = band->SampleBits();
  const long long rowBytes = (static_cast<long long>(band->width) * bits + 7) / 8;
  if (line.GetSize() < rowBytes) {
    CString text;
    text.Format("a scan line of %d bytes cannot hold row %ld (%lld bytes)", line.GetSize(), row, rowBytes);
    Fail(text);
    return -1;
  }
  const int blockRow = static_cast<int>(row / band->blockHeight);
  const int r = static_cast<int>(row % band->blockHeight);
  const size_t first = static_cast<size_t>(b) * static_cast<size_t>(m_nBlocksPerRow);
  if (m_LoadedBlockRow[b] != blockRow) {
    m_LoadedBlockRow[b] = -1;
    if (!ReadBlockRow(*band, first, blockRow)) return -1;
    m_LoadedBlockRow[b] = blockRow;
  }
  unsigned char* out = line.GetData();
  if (bits >= 8) {
    const size_t pixelBytes = static_cast<size_t>(bits / 8);
    const size_t blockRowBytes = static_cast<size_t>(band->blockWidth) * pixelBytes;
    for (int i = 0; i < band->blocksPerRow; ++i) {
      const long long x = static_cast<long long>(i) * band->blockWidth;
      const size_t count = static_cast<size_t>(std::min<long long>(band->blockWidth, band->width - x));
      std::memcpy(out + x * pixelBytes, m_BlockTable[first + i].buffer.data() + r * blockRowBytes,
                  count * pixelBytes);
    }
  } else {
    // Blocks of packed pixels, least significant bits first, rows following
    // one another without padding (blocks may be any number of pixels
    // wide); rows are delivered most significant bits first.
    const int mask = (1 << bits) - 1;
    const long long rowBytesOut = (static_cast<long long>(band->width) * bits + 7) / 8;
    std::memset(out, 0, static_cast<size_t>(rowBytesOut));
    for (int i = 0; i < band->blocksPerRow; ++i) {
      const long long x0 = static_cast<long long>(i) * band->blockWidth;
      const long long count = std::min<long long>(band->blockWidth, band->width - x0);
      const unsigned char* block = m_BlockTable[first + i].buffer.data();
      for (long long c = 0; c < count; ++c) {
        const long long in = (static_cast<long long>(r) * band->blockWidth + c) * bits;
        const int v = (block[in / 8] >> (in % 8)) & mask;
        const long long at = (x0 + c) * bits;
        out[at / 8] |= static_cast<unsigned char>(v << (8 - bits - at % 8));
      }
    }
  }
  return line.GetSize();
}

long CImgFileImg::GetImgBlock(long blockRow, long blockColumn, unsigned char* data) {
  const HFABand* b = m_pCurrentBand;
  if (!b || !data || blockRow < 0 || blockColumn < 0 || blockColumn >= b->blocksPerRow ||
      blockRow >= b->blocksPerColumn)
    return 0;
  return GetRasterBlock(m_pCurrentBand, static_cast<int>(blockColumn), static_cast<int>(blockRow), data);
}

int CImgFileImg::GetRasterBlock(HFABand* band, int blockColumn, int blockRow, void* data) {
  // Only this object's bands: one of a closed file is no longer valid.
  const bool owned = std::any_of(m_Bands.begin(), m_Bands.end(),
                                 [band](const std::unique_ptr<HFABand>& b) { return b.get() == band; });
  if (!band || !owned || band->unreadable || !data || blockColumn < 0 || blockRow < 0 ||
      blockColumn >= band->blocksPerRow || blockRow >= band->blocksPerColumn ||
      band->BlockBytes() > static_cast<size_t>(INT_MAX))
    return 0;
  const bool read = vtgeo::HFAGetRasterBlockEx(m_hHFA, band->index + 1, blockColumn, blockRow, data,
                                               static_cast<int>(band->BlockBytes())) == 0;
  if (!band->blockListRead) {
    band->blockListRead = read;
    band->unreadable = !read;
  }
  return read ? 1 : 0;
}

bool CImgFileImg::GetMapBounds(CRect2D& bounds) const {
  const vtgeo::Eprj_MapInfo* map = m_hHFA ? vtgeo::HFAGetMapInfo(m_hHFA) : nullptr;
  int width = 0, height = 0;
  if (!map || vtgeo::HFAGetRasterInfo(m_hHFA, &width, &height, nullptr) != 0) return false;
  // As the geodata library makes its geotransform: a pixel size of 0 is 1,
  // and rows run south when the upper-left centre lies north of the
  // lower-right one.
  const double pixelWidth = map->pixelSize.width != 0 ? map->pixelSize.width : 1.0;
  double pixelHeight =
      map->upperLeftCenter.y >= map->lowerRightCenter.y ? -map->pixelSize.height : map->pixelSize.height;
  if (pixelHeight == 0) pixelHeight = 1.0;
  bounds.left = map->upperLeftCenter.x - pixelWidth * 0.5;
  bounds.top = map->upperLeftCenter.y - pixelHeight * 0.5;
  bounds.right = bounds.left + width * pixelWidth;
  bounds.bottom = bounds.top + height * pixelHeight;
  return true;
}

bool CImgFileImg::GetNoData(int band, double& value) const {
  return m_hHFA && vtgeo::HFAGetBandNoData(m_hHFA, band + 1, &value) == 1;
}

CString CImgFileImg::GetMapUnits() const {
  const vtgeo::Eprj_MapInfo* map = m_hHFA ? vtgeo::HFAGetMapInfo(m_hHFA) : nullptr;
  return map && map->units ? CString(map->units) : CString();
}

CString CImgFileImg::GetProjectionName() const {
  const vtgeo::Eprj_ProParameters* pro = m_hHFA ? vtgeo::HFAGetProParameters(m_hHFA) : nullptr;
  return pro && pro->proName ? CString(pro->proName) : CString();
}

int CImgFileImg::ImgPrjToVt(int number, CVtPJObject& projection) {
  // HFA projection number -> projection type. Geographic files carry 0,
  // Albers (3) is its own method, and polar stereographic (6) has a type.
  static const int kTypes[][2] = {{0, VTPJ_GEOGRAPHIC},
                                  {1, 43006},
                                  {9, 43006},
                                  {3, VTPJ_ALBERS},
                                  {11, 43033},
                                  {4, 43020},
                                  {5, 43004},
                                  {6, VTPJ_POLAR_STEREOGRAPHIC},
                                  {7, 43021},
                                  {8, 43027},
                                  {10, 43026},
                                  {12, 43032},
                                  {13, 43036},
                                  {16, 43008},
                                  {18, 43003},
                                  {19, 43029},
                                  {24, 43030},
                                  {28, 43009},
                                  {34, 43001},
                                  {35, 43002},
                                  {36, 43005},
                                  {37, 43010},
                                  {38, 43011},
                                  {39, 43012},
                                  {40, 43013},
                                  {41, 43014},
                                  {42, 43015},
                                  {43, 43016},
                                  {44, 43017},
                                  {45, 43018},
                                  {46, 43019},
                                  {47, 43022},
                                  {48, 43023},
                                  {49, 43024},
                                  {50, VTPJ_GEOGRAPHIC},
                                  {51, 43028},
                                  {52, 43031}};
  for (const auto& entry : kTypes)
    if (entry[0] == number) {
      projection.SetType(entry[1]);
      return 1;
    }
  return 0;
}

long CImgFileImg::ImgUnitsToVt(CString units, long& code) {
  static const std::pair<const char*, long> kCodes[] = {{"meters", 10000},
                                                        {"meter", 10000},
                                                        {"m", 10000},
                                                        {"kilometers", 10000000},
                                                        {"kilometer", 10000000},
                                                        {"km", 10000000},
                                                        {"miles", 16090000},
                                                        {"mile", 16090000},
                                                        {"mi", 16090000},
                                                        {"inches", 254},
                                                        {"inch", 254},
                                                        {"in", 254},
                                                        {"yards", 9144},
                                                        {"yard", 9144},
                                                        {"yd", 9144},
                                                        {"feet", 3048},
                                                        {"foot", 3048},
                                                        {"ft", 3048},
                                                        {"us_survey_feet", 3048},
                                                        {"us_survey_foot", 3048},
                                                        {"international_feet", 3048},
                                                        {"international_foot", 3048},
                                                        {"millimeters", 10},
                                                        {"millimeter", 10},
                                                        {"mm", 10},
                                                        {"centimeters", 100},
                                                        {"centimeter", 100},
                                                        {"cm", 100}};
  units.MakeLower();
  code = 10000;
  for (const auto& entry : kCodes)
    if (units == entry.first) code = entry.second;
  return code;
}

int CImgFileImg::ImgDatumToVt(CString name, CVtPJDatum& datum, CVtPJGeoCoordSys& geoCoordSys) {
  if (name == "Beijing1954(taiwan)") {
    datum.SetType(6214);
    geoCoordSys.SetType(4214);
  }
  return 1;
}

int CImgFileImg::ImgSpheroidToVt(CString name, CVtPJSpheroid& spheroid) {
  if (name == "Krasovsky") spheroid.SetType(7024);
  return 1;
}

int CImgFileImg::GetPJCoordSys(CString path, CVtPJCoordSys& coordSys) {
  coordSys.SetName("UserDefine");
  if (!OpenForRead(path)) {
    Close();
    return 0;
  }
  const vtgeo::Eprj_MapInfo* map = vtgeo::HFAGetMapInfo(m_hHFA);
  if (!map) return Refuse("the file has no map information");
  const CString name = map->proName ? map->proName : "";
  const CString units = map->units ? map->units : "";
  long unit = 10000;
  ImgUnitsToVt(units, unit);

  const vtgeo::Eprj_Datum* fileDatum = vtgeo::HFAGetDatum(m_hHFA);
  if (!fileDatum) return Refuse("the file has no datum");
  const CString datumName = fileDatum->datumname ? fileDatum->datumname : "";
  const CString geoName =
      fileDatum->type == vtgeo::EPRJ_DATUM_PARAMETRIC || fileDatum->type == vtgeo::EPRJ_DATUM_GRID
          ? datumName
          : CString();

  const vtgeo::Eprj_ProParameters* pro = vtgeo::HFAGetProParameters(m_hHFA);
  if (!pro) return Refuse("the file has no projection parameters");
  CVtPJObject projection;
  CVtPJParams params;
  CVtPJDatum datum;
  CVtPJGeoCoordSys geo;
  if (pro->proType == vtgeo::EPRJ_INTERNAL) {
    if (!ImgPrjToVt(pro->proNumber, projection)) {
      CString text;
      text.Format("projection number %d (%s) has no projection type", pro->proNumber,
                  pro->proName ? pro->proName : "");
      return Refuse(text);
    }
    // Number 50 is the extended stereographic projection; only files in
    // angle units use it for longitude and latitude.
    const bool stereographic = pro->proNumber == 50 && !IsAngular(units);
    if (stereographic) projection.SetType(VTPJ_STEREOGRAPHIC);

    const vtgeo::Eprj_Spheroid& s = pro->proSpheroid;
    CVtPJSpheroid spheroid;
    spheroid.Set(s.sphereName ? s.sphereName : "", s.a, s.a != 0 ? (s.a - s.b) / s.a : 0.0);
    ImgSpheroidToVt(spheroid.m_strName, spheroid);
    if (spheroid.IsValid()) datum.Set(datumName, spheroid);
    ImgDatumToVt(datumName, datum, geo);

    const double* p = pro->proParams;
    const long type = projection.GetType();
    if (type == 43006 || type == 43005 || stereographic) {
      params.m_dScaleFactor = p[2];
    } else {
      params.m_dScaleFactor = 1.0;
      params.m_dStandardParallel1 = p[2] * kDegreesPerRadian;
      params.m_dStandardParallel2 = p[3] * kDegreesPerRadian;
    }
    params.m_dCentralMeridian = p[4] * kDegreesPerRadian;
    params.m_dLatitudeOfOrigin = p[5] * kDegreesPerRadian;
    params.m_dFalseEasting = p[6];
    params.m_dFalseNorthing = p[7];
    if (pro->proNumber == 1) {
      // UTM: the zone is in its own field, the parameters may all be 0;
      // parameter 3 below 0 (or a negative zone) means the south.
      const int zone = std::abs(pro->proZone);
      if (zone < 1 || zone > 60) {
        CString text;
        text.Format("UTM zone %d is not 1 to 60", pro->proZone);
        return Refuse(text);
      }
      const bool south = pro->proZone < 0 || p[3] < 0;
      params.m_nZone = south ? -zone : zone;
      params.m_dScaleFactor = 0.9996;
      params.m_dStandardParallel1 = params.m_dStandardParallel2 = 0;
      params.m_dCentralMeridian = -183.0 + 6.0 * zone;
      params.m_dLatitudeOfOrigin = 0;
      params.m_dFalseEasting = 500000;
      params.m_dFalseNorthing = south ? 10000000 : 0;
    }
  }

  // Greenwich, unless the file's ESRI text names another prime meridian.
  CVtPJPrimeMeridian primeMeridian;
  primeMeridian.Set("", 0.0);
  if (char* pe = vtgeo::HFAGetPEString(m_hHFA)) {
    CString pmName;
    double longitude = 0;
    if (PrimeMeridianOf(pe, pmName, longitude) && longitude != 0) primeMeridian.Set(pmName, longitude);
    vtgeo::VSIFree(pe);
  }

  geo.Set(geoName, datum, primeMeridian, unit);
  if (projection.GetType() == VTPJ_GEOGRAPHIC) {
    coordSys.SetEarth(geo, unit);
  } else {
    coordSys.Set(name, geo, projection, params, unit);
    CString lower = units;
    lower.MakeLower();
    for (const UnitMetres& u : kUnitMetres)
      if (lower == u.name) coordSys.SetLinearUnit(u.wktName, u.metres);
  }
  return 1;
}
