#include "raster/CImgFileArcGrd.h"

#include <sys/stat.h>
#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstring>
#include <string>

#include "platform/posix/PathCase.h"
#include "platform/vtcore/CVtErrorMsg.h"
#include "platform/vtcore/CVtImgToolkit.h"
#include "platform/vtcore/CVtToolkit.h"

namespace {

// What a decoded cell holds.
enum : unsigned char { kEmpty = 0, kValue = 1, kNoValue = 2 };

// Limits that keep a forged header from making us allocate more than a real
// grid ever needs: cells of one tile (real grids use 256 x 4), cells of one
// decoded row of tiles, and the number of cells along either side.
const long long kMaxTileCells = 1LL << 20;
const long long kMaxTileRowCells = 1LL << 24;
const double kMaxSide = double(1 << 28);
// The most negative single, big-endian: a float cell without data.
const uint32_t kFloatNoData = 0xFF7FFFFFu;
// The integer cell without data in grids whose tiles hold raw 32-bit cells.
const int32_t kIntNoData = INT32_MIN + 1;
// Bytes of the data file read at once: tiles are mostly read in file order.
const size_t kWindowBytes = 1 << 18;

int32_t ReadInt32(const unsigned char* p) {
  return static_cast<int32_t>(uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]);
}

double ReadDouble(const unsigned char* p) {
  double v;
  std::memcpy(&v, p, 8);
  return CVtToolkit::FLIP8(v);
}

// min + v in the two's-complement arithmetic of 32-bit cells.
int32_t AddWrapped(uint32_t min, uint32_t v) { return static_cast<int32_t>(min + v); }

bool Reject(const char* format, ...) __attribute__((format(printf, 1, 2)));
bool Reject(const char* format, ...) {
  va_list args;
  va_start(args, format);
  CString text;
  text.FormatV(format, args);
  va_end(args);
  VtGetErrorMsgObj()->SetMessage(0L, text);
  return false;
}

// Reads the whole of `path` when its length lies in [least, most].
bool ReadSmallFile(const CString& path, size_t least, size_t most, std::vector<unsigned char>& bytes) {
  CFile file;
  if (!file.Open(path, CFile::modeRead | CFile::shareDenyNone)) return false;
  const ULONGLONG length = file.GetLength();
  if (length < least || length > most) return false;
  bytes.resize(static_cast<size_t>(length));
  return file.Read(bytes.data(), static_cast<UINT>(length)) == length;
}

// The largest code each integer tile type adds to its minimum.
long long LargestCode(unsigned char type) {
  switch (type) {
    case 0x01: case 0xFF: return 1;
    case 0x04: return 15;
    case 0x08: case 0xD7: case 0xF8: case 0xFC: return 255;
    case 0x10: case 0xCF: case 0xF0: return 65535;
    case 0x20: case 0xE0: return 1LL << 32;
    default: return 0;  // constant tiles and types that are not decoded
  }
}

// A bit plane in memory as a one-strip TIFF, for libtiff's fax decoder.
struct MemoryTiff {
  std::vector<unsigned char> bytes;
  toff_t at = 0;
  bool failed = false;  // libtiff reported a problem
};

tmsize_t TiffRead(thandle_t h, void* buf, tmsize_t size) {
  MemoryTiff& m = *static_cast<MemoryTiff*>(h);
  if (m.at >= m.bytes.size()) return 0;
  const tmsize_t n = std::min<tmsize_t>(size, static_cast<tmsize_t>(m.bytes.size() - m.at));
  std::memcpy(buf, m.bytes.data() + m.at, static_cast<size_t>(n));
  m.at += static_cast<toff_t>(n);
  return n;
}
tmsize_t TiffWrite(thandle_t, void*, tmsize_t) { return -1; }
toff_t TiffSeek(thandle_t h, toff_t off, int whence) {
  MemoryTiff& m = *static_cast<MemoryTiff*>(h);
  const toff_t base = whence == SEEK_CUR ? m.at : whence == SEEK_END ? m.bytes.size() : 0;
  m.at = base + off;
  return m.at;
}
int TiffClose(thandle_t) { return 0; }
toff_t TiffSize(thandle_t h) { return static_cast<MemoryTiff*>(h)->bytes.size(); }
int TiffMessage(TIFF*, void* user, const char*, const char*, va_list) {
  static_cast<MemoryTiff*>(user)->failed = true;
  return 1;  // handled: nothing is printed
}

void PutLE16(std::vector<unsigned char>& b, uint16_t v) {
  b.push_back(static_cast<unsigned char>(v));
  b.push_back(static_cast<unsigned char>(v >> 8));
}
void PutLE32(std::vector<unsigned char>& b, uint32_t v) {
  PutLE16(b, static_cast<uint16_t>(v));
  PutLE16(b, static_cast<uint16_t>(v >> 16));
}

}  // namespace

CImgFileArcGrd::CImgFileArcGrd() = default;

int CImgFileArcGrd::OpenForRead(CString path) {
  std::string p = path.str();
  // A directory named without its trailing separator is the grid itself.
  struct stat st;
  if (!p.empty() && p.back() != '/' && p.back() != '\\' && ::stat(VtResolvePathCase(p).c_str(), &st) == 0 &&
      S_ISDIR(st.st_mode))
    p += '/';
  CString drive, dir, name, ext;
  CVtToolkit::SplitPath(CString(p), drive, dir, name, ext);
  m_strDirectory = drive + dir;
  return CImgFile::OpenForRead(m_strDirectory + "w001001.adf");
}

long CImgFileArcGrd::LoadImage() {
  m_nDecodedTileRow = -1;
  m_nCutTile = -1;
  m_nBadTile = -1;
  m_nTileCount = 0;
  m_Window.clear();  // bytes of a file opened before
  if (m_hFile == hFileNull) return -1;
  if (!LoadBndFile() || !LoadHeadFile() || !LoadIndexFile()) {
    m_nTileCount = 0;
    m_nTileWidth = 0;  // ReadScanLine refuses rows until a load succeeds
    return -1;
  }
  return 1;
}

int CImgFileArcGrd::LoadBndFile() {
  std::vector<unsigned char> b;
  if (!ReadSmallFile(m_strDirectory + "dblbnd.adf", 32, 32, b))
    return Reject("The bounds file dblbnd.adf of grid \"%s\" is missing or not 32 bytes long.",
                  m_strDirectory.GetString());
  m_Bounds.left = ReadDouble(&b[0]);
  m_Bounds.bottom = ReadDouble(&b[8]);
  m_Bounds.right = ReadDouble(&b[16]);
  m_Bounds.top = ReadDouble(&b[24]);
  return 1;
}

int CImgFileArcGrd::LoadHeadFile() {
  std::vector<unsigned char> h;
  const char* dir = m_strDirectory.GetString();
  if (!ReadSmallFile(m_strDirectory + "hdr.adf", 308, 308, h))
    return Reject("The header hdr.adf of grid \"%s\" is missing or not 308 bytes long.", dir);
  if (strncasecmp(reinterpret_cast<const char*>(h.data()), "GRID1.2", 7) != 0)
    return Reject("The header of grid \"%s\" does not start with GRID1.2.", dir);
  const int32_t cellType = ReadInt32(&h[16]);
  if (cellType != 1 && cellType != 2)
    return Reject("The header of grid \"%s\" gives cell type %d (1 integer, 2 floating point).", dir, cellType);
  m_bFloat = cellType == 2 ? 1 : 0;
  if (m_bFloat) SetPixelFormat(PF_FLOAT32);
  m_bCompressed = ReadInt32(&h[20]) == 0 ? 1 : 0;
  m_dCellWidth = ReadDouble(&h[256]);
  m_dCellHeight = ReadDouble(&h[264]);
  m_nTilesPerRow = ReadInt32(&h[288]);
  m_nTilesPerColumn = ReadInt32(&h[292]);
  m_nTileWidth = ReadInt32(&h[296]);
  m_nTileHeight = ReadInt32(&h[304]);

  const double columns = m_Bounds.Width() / m_dCellWidth + 0.001;
  const double rows = m_Bounds.Height() / m_dCellHeight + 0.001;
  if (!(m_dCellWidth > 0) || !(m_dCellHeight > 0) || !(columns >= 1) || !(rows >= 1) || !(columns < kMaxSide) ||
      !(rows < kMaxSide))
    return Reject("Grid \"%s\": bounds %g, %g, %g, %g with cells of %g x %g give no size that can be read.", dir,
                  m_Bounds.left, m_Bounds.bottom, m_Bounds.right, m_Bounds.top, m_dCellWidth, m_dCellHeight);
  SetWidth(static_cast<unsigned long>(columns));
  SetHeight(static_cast<unsigned long>(rows));
  const long long tw = m_nTileWidth, th = m_nTileHeight;
  if (tw <= 0 || th <= 0 || tw * th > kMaxTileCells || m_nTilesPerRow <= 0 || m_nTilesPerColumn <= 0)
    return Reject("Grid \"%s\": tiles of %d x %d cells, %d per row and %d per column cannot be read.", dir,
                  m_nTileWidth, m_nTileHeight, m_nTilesPerRow, m_nTilesPerColumn);
  const long long across = (static_cast<long long>(GetWidth()) + tw - 1) / tw;
  const long long down = (static_cast<long long>(GetHeight()) + th - 1) / th;
  // Tiles beyond the header's tiles per row or column lie in other data
  // files (w001002.adf, ...), which are not read: refuse rather than take
  // the next row's tiles for them.
  if (across > m_nTilesPerRow || down > m_nTilesPerColumn)
    return Reject("Grid \"%s\" (%lu x %lu) needs %lld x %lld tiles, more than one tile file holds (%d x %d).", dir,
                  GetWidth(), GetHeight(), across, down, m_nTilesPerRow, m_nTilesPerColumn);
  if (across * tw * th > kMaxTileRowCells)
    return Reject("Grid \"%s\": a row of %lld tiles of %lld x %lld cells is too large.", dir, across, tw, th);
  m_nTilesAcross = static_cast<int>(across);
  return 1;
}

int CImgFileArcGrd::LoadIndexFile() {
  const char* dir = m_strDirectory.GetString();
  std::vector<unsigned char> x;
  if (!ReadSmallFile(m_strDirectory + "w001001x.adf", 100, size_t(1) << 31, x))
    return Reject("The tile index w001001x.adf of grid \"%s\" is missing or too short.", dir);
  // The second word is -1004 in some grids and -1016 in others that ESRI
  // software writes; only its first two bytes (FF FF) are checked.
  if (ReadInt32(&x[0]) != 9994 || x[4] != 0xFF || x[5] != 0xFF ||
      static_cast<uint64_t>(static_cast<uint32_t>(ReadInt32(&x[24]))) * 2 != x.size() || (x.size() - 100) % 8 != 0)
    return Reject("The tile index of grid \"%s\" is malformed.", dir);
  m_nDataLength = GetLength();
  const int count = static_cast<int>((x.size() - 100) / 8);
  m_TileOffsets.SetSize(count);
  m_IndexSizes.SetSize(count);
  for (int i = 0; i < count; ++i) {
    m_TileOffsets[i] = static_cast<uint32_t>(ReadInt32(&x[100 + 8 * size_t(i)]));
    m_IndexSizes[i] = static_cast<uint32_t>(ReadInt32(&x[104 + 8 * size_t(i)]));
  }
  m_nTileCount = count;

  long long format = PF_BIT1;
  if (m_bFloat) {
    format = PF_FLOAT32;
  } else if (!m_bCompressed) {
    format = PF_INT32;
  } else {
    m_TileTypes.SetSize(count);
    m_TileSizes.SetSize(count);
    m_MinSizes.SetSize(count);
    m_Minimums.SetSize(count);
    m_TileState.SetSize(count);
    int largestMinSize = 0;
    bool wide = false;  // some tile may hold values beyond 16 bits
    for (int i = 0; i < count; ++i) {
      ReadTileInfo(i);
      if (m_TileState[i] == kTileUnreadable) continue;
      const unsigned char type = m_TileTypes[i];
      format = std::max<long long>(format, CheckPixelFormat(type));
      largestMinSize = std::max<int>(largestMinSize, m_MinSizes[i]);
      const long long lo = static_cast<int32_t>(m_Minimums[i]);
      if (!HasNoValue(i) && (lo < INT16_MIN || lo + LargestCode(type) > INT16_MAX)) wide = true;
    }
    const long long byMinimum =
        largestMinSize == 0 ? PF_BIT1 : largestMinSize == 1 ? PF_BIT8 : largestMinSize == 2 ? PF_BIT16 : PF_INT32;
    format = std::max<long long>({format, byMinimum, PF_BIT16});
    // 16-bit cells would cut such values short.
    if (wide) format = PF_INT32;
  }
  const ImgPixelFormat pf = static_cast<ImgPixelFormat>(format);
  SetPixelFormat(pf);
  SetWidthBytes(static_cast<unsigned long>(CVtImgToolkit::AlignWidth(pf, static_cast<long>(GetWidth()))));
  m_nTileRowBytes = static_cast<int>(CVtImgToolkit::AlignWidthByte(pf, m_nTileWidth));
  return 1;
}

const unsigned char* CImgFileArcGrd::DataAt(uint64_t offset, size_t count) {
  if (offset > m_nDataLength || count > m_nDataLength - offset) return nullptr;
  if (offset < m_nWindowStart || offset + count > m_nWindowStart + m_Window.size()) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(std::max(kWindowBytes, count), m_nDataLength - offset));
    m_Window.resize(want);
    Seek(static_cast<LONGLONG>(offset), CFile::begin);
    if (Read(m_Window.data(), static_cast<UINT>(want)) != want) {
      m_Window.clear();
      return nullptr;
    }
    m_nWindowStart = offset;
  }
  return m_Window.data() + (offset - m_nWindowStart);
}

void CImgFileArcGrd::ReadTileInfo(int tile) {
  m_TileState[tile] = kTileUnreadable;
  m_TileTypes[tile] = 0;
  m_TileSizes[tile] = 0;
  m_MinSizes[tile] = 0;
  m_Minimums[tile] = 0;
  if (m_IndexSizes[tile] == 0) return;  // an empty tile
  const uint64_t offset = 2 * uint64_t(m_TileOffsets[tile]);
  const unsigned char* head = DataAt(offset, 4);
  if (!head) return;
  const uint32_t size = 2 * GetVal(head, 2);
  const int n = head[3];
  if (size < 2u + n || !DataAt(offset, 2 + size_t(size))) return;
  head = DataAt(offset, 4 + size_t(n));
  const unsigned char* m = head + 4;
  // The minimum is a big-endian two's-complement number of n bytes; of a
  // longer one the low 32 bits count. Cells are the minimum plus their code
  // in 32-bit wrapping arithmetic, so that a minimum of 80 00 00 01 (the
  // cell without data) plus codes 80 00 xx xx gives xx xx + 1.
  uint32_t min = 0;
  for (int i = 0; i < n; ++i) min = min << 8 | m[i];
  if (n >= 1 && n <= 3 && m[0] >= 0x80) min -= uint32_t(1) << (8 * n);
  // A constant tile of that minimum holds no data.
  const BYTE state = head[2] == 0x00 && static_cast<int32_t>(min) == kIntNoData ? kTileNoData : kTileReadable;
  m_TileTypes[tile] = head[2];
  m_TileSizes[tile] = size;
  m_MinSizes[tile] = static_cast<BYTE>(n);
  m_Minimums[tile] = min;
  m_TileState[tile] = state;
}

bool CImgFileArcGrd::HasNoValue(int tile) const { return m_TileState[tile] == kTileNoData; }

ImgPixelFormat CImgFileArcGrd::CheckPixelFormat(unsigned char type) {
  switch (type) {
    case 0x04: return PF_BIT4;
    case 0x08: case 0xD7: case 0xDF: case 0xF8: case 0xFC: return PF_BIT8;
    case 0x10: case 0xCF: case 0xF0: return PF_BIT16;
    case 0x20: case 0xE0: return PF_INT32;
    default: return PF_BIT1;
  }
}

int CImgFileArcGrd::GetBitFlag(const unsigned char* data, long index) {
  return (data[index >> 3] >> (7 - (index & 7))) & 1;
}

uint32_t CImgFileArcGrd::GetVal(const unsigned char* data, int bytes) {
  uint32_t v = 0;
  for (int i = 0; i < bytes; ++i) v = v << 8 | data[i];
  return v;
}

const unsigned char* CImgFileArcGrd::ReadTileBytes(int tile, size_t& size) {
  const uint64_t offset = 2 * uint64_t(m_TileOffsets[tile]);
  const uint64_t bytes = 2 * uint64_t(m_IndexSizes[tile]);
  // The tile's own size word repeats the index's; a tile is at most 65535 words.
  if (bytes > 2 * 0xFFFFu) return nullptr;
  const unsigned char* p = DataAt(offset, static_cast<size_t>(bytes) + 2);
  if (!p || 2 * uint64_t(GetVal(p, 2)) != bytes) return nullptr;
  size = static_cast<size_t>(bytes);
  return p + 2;
}

bool CImgFileArcGrd::ReadRowInTileFloat(int tile, int slot) {
  const size_t cells = size_t(m_nTileWidth) * m_nTileHeight;
  if (m_IndexSizes[tile] == 0) return true;  // an empty tile: no cells
  size_t size = 0;
  const unsigned char* p = ReadTileBytes(tile, size);
  if (!p || size != 4 * cells) return false;
  int32_t* out = m_Cells.data() + size_t(slot) * cells;
  unsigned char* kinds = m_Kinds.data() + size_t(slot) * cells;
  for (size_t i = 0; i < cells; ++i, p += 4) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    v = __builtin_bswap32(v);
    out[i] = static_cast<int32_t>(v);
    const bool none = m_bFloat ? v == kFloatNoData : static_cast<int32_t>(v) == kIntNoData;
    kinds[i] = none ? kNoValue : kValue;
  }
  return true;
}

namespace {

// One integer tile's encoded cells, decoded as one stream of `count` cells.
struct TileStream {
  const unsigned char* data;
  size_t size;
  uint32_t min;
  int32_t* cells;
  unsigned char* kinds;
  size_t count;

  void Fill(size_t at, size_t n, int32_t value) {
    std::fill(cells + at, cells + at + n, value);
    std::fill(kinds + at, kinds + at + n, kValue);
  }

  // Raw cells of `bits` bits each, big-endian, packed without row padding.
  bool Raw(int bits) {
    if ((uint64_t(count) * bits + 7) / 8 > size) return false;
    for (size_t i = 0; i < count; ++i) {
      uint32_t v;
      switch (bits) {
        case 1: v = (data[i >> 3] >> (7 - (i & 7))) & 1; break;
        case 4: v = (i & 1) ? data[i >> 1] & 0x0F : data[i >> 1] >> 4; break;
        case 8: v = data[i]; break;
        case 16: v = uint32_t(data[2 * i]) << 8 | data[2 * i + 1]; break;
        default: v = static_cast<uint32_t>(ReadInt32(data + 4 * i)); break;
      }
      cells[i] = AddWrapped(min, v);
    }
    std::fill(kinds, kinds + count, kValue);
    return true;
  }

  // Count-and-value runs with values of `bytes` bytes (0xE0, 0xF0, 0xF8,
  // 0xFC). A run may pass the end of a row into the next, never the tile's.
  bool Runs(int bytes) {
    size_t at = 0, pos = 0;
    while (at < count) {
      if (size - pos < size_t(1) + bytes) return false;
      const size_t n = data[pos];
      uint32_t v = 0;
      for (int b = 0; b < bytes; ++b) v = v << 8 | data[pos + 1 + b];
      pos += 1 + bytes;
      if (n > count - at) return false;
      Fill(at, n, AddWrapped(min, v));
      at += n;
    }
    return true;
  }

  // Marker blocks (0xCF, 0xD7, 0xDF): a marker m below 128 is followed by m
  // values of `bytes` bytes (none: m cells of the minimum); m of 128 or more
  // stands for 256 - m cells without data, which stay empty.
  bool Blocks(int bytes) {
    size_t at = 0, pos = 0;
    while (at < count) {
      if (pos >= size) return false;
      const size_t m = data[pos++];
      const size_t n = m >= 128 ? 256 - m : m;
      if (n > count - at) return false;
      if (m >= 128) {
        at += n;
        continue;
      }
      if (size - pos < n * bytes) return false;
      for (size_t i = 0; i < n; ++i, pos += bytes) {
        const uint32_t v = bytes == 0 ? 0 : bytes == 1 ? data[pos] : uint32_t(data[pos]) << 8 | data[pos + 1];
        cells[at + i] = AddWrapped(min, v);
        kinds[at + i] = kValue;
      }
      at += n;
    }
    return true;
  }
};

}  // namespace

bool CImgFileArcGrd::ReadRowInTileInteger(int tile, int slot) {
  if (m_IndexSizes[tile] == 0) return true;  // an empty tile: no cells
  if (!DecodeIntegerTile(tile, slot)) return false;
  // A cell that comes out as the integer no-data value has no data, in
  // whichever encoding it was stored.
  const size_t cells = size_t(m_nTileWidth) * m_nTileHeight;
  const int32_t* values = m_Cells.data() + size_t(slot) * cells;
  unsigned char* kinds = m_Kinds.data() + size_t(slot) * cells;
  for (size_t i = 0; i < cells; ++i)
    if (kinds[i] == kValue && values[i] == kIntNoData) kinds[i] = kNoValue;
  return true;
}

bool CImgFileArcGrd::DecodeIntegerTile(int tile, int slot) {
  if (m_TileState[tile] == kTileUnreadable) return false;
  size_t size = 0;
  const unsigned char* bytes = ReadTileBytes(tile, size);
  if (!bytes) return false;
  const size_t cells = size_t(m_nTileWidth) * m_nTileHeight;
  const size_t skip = 2 + m_MinSizes[tile];  // type, minimum size and minimum
  if (size < skip) return false;
  TileStream s{bytes + skip, size - skip, m_Minimums[tile],
               m_Cells.data() + size_t(slot) * cells, m_Kinds.data() + size_t(slot) * cells, cells};
  switch (m_TileTypes[tile]) {
    case 0x00:
      if (HasNoValue(tile)) {
        std::fill(s.kinds, s.kinds + cells, kNoValue);
      } else {
        s.Fill(0, cells, static_cast<int32_t>(s.min));
      }
      return true;
    case 0x01: return s.Raw(1);
    case 0x04: return s.Raw(4);
    case 0x08: return s.Raw(8);
    case 0x10: return s.Raw(16);
    case 0x20: return s.Raw(32);
    case 0xCF: return s.Blocks(2);
    case 0xD7: return s.Blocks(1);
    case 0xDF: return s.Blocks(0);
    case 0xE0: return s.Runs(4);
    case 0xF0: return s.Runs(2);
    case 0xF8:
    case 0xFC: return s.Runs(1);
    case 0xFF: {
      // A bit plane: cells are the minimum, or the minimum + 1 where set.
      std::vector<unsigned char> bits;
      if (!DecodeBitPlane(s.data, s.size, bits)) return false;
      const size_t rowBytes = (size_t(m_nTileWidth) + 7) / 8;
      for (size_t y = 0, i = 0; y < size_t(m_nTileHeight); ++y)
        for (size_t x = 0; x < size_t(m_nTileWidth); ++x, ++i)
          s.cells[i] = AddWrapped(s.min, GetBitFlag(bits.data() + y * rowBytes, static_cast<long>(x)));
      std::fill(s.kinds, s.kinds + cells, kValue);
      return true;
    }
    default: return false;  // an encoding this reader does not know
  }
}

bool CImgFileArcGrd::DecodeBitPlane(const unsigned char* data, size_t size, std::vector<unsigned char>& bits) const {
  // A little-endian TIFF of one strip: the tile's bits, CCITT run-length
  // coded, the most significant bit of each byte first.
  const uint32_t width = static_cast<uint32_t>(m_nTileWidth), height = static_cast<uint32_t>(m_nTileHeight);
  const uint16_t entries = 9;
  const uint32_t dataOffset = 8 + 2 + 12u * entries + 4;
  MemoryTiff m;
  std::vector<unsigned char>& b = m.bytes;
  b = {'I', 'I', 42, 0, 8, 0, 0, 0};
  PutLE16(b, entries);
  auto entry = [&b](uint16_t tag, uint16_t type, uint32_t value) {
    PutLE16(b, tag);
    PutLE16(b, type);
    PutLE32(b, 1);
    if (type == TIFF_SHORT) {
      PutLE16(b, static_cast<uint16_t>(value));
      PutLE16(b, 0);
    } else {
      PutLE32(b, value);
    }
  };
  entry(TIFFTAG_IMAGEWIDTH, TIFF_LONG, width);
  entry(TIFFTAG_IMAGELENGTH, TIFF_LONG, height);
  entry(TIFFTAG_BITSPERSAMPLE, TIFF_SHORT, 1);
  entry(TIFFTAG_COMPRESSION, TIFF_SHORT, COMPRESSION_CCITTRLE);
  entry(TIFFTAG_PHOTOMETRIC, TIFF_SHORT, PHOTOMETRIC_MINISWHITE);
  entry(TIFFTAG_FILLORDER, TIFF_SHORT, FILLORDER_MSB2LSB);
  entry(TIFFTAG_STRIPOFFSETS, TIFF_LONG, dataOffset);
  entry(TIFFTAG_ROWSPERSTRIP, TIFF_LONG, height);
  entry(TIFFTAG_STRIPBYTECOUNTS, TIFF_LONG, static_cast<uint32_t>(size));
  PutLE32(b, 0);
  b.insert(b.end(), data, data + size);

  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (!options) return false;
  TIFFOpenOptionsSetErrorHandlerExtR(options, TiffMessage, &m);
  TIFFOpenOptionsSetWarningHandlerExtR(options, TiffMessage, &m);
  TIFFOpenOptionsSetMaxSingleMemAlloc(options, tmsize_t(1) << 26);
  TIFF* tif = TIFFClientOpenExt("tile", "rm", &m, TiffRead, TiffWrite, TiffSeek, TiffClose, TiffSize, nullptr,
                                nullptr, options);
  TIFFOpenOptionsFree(options);
  if (!tif) return false;
  const tmsize_t expected = static_cast<tmsize_t>((width + 7) / 8) * height;
  bits.assign(static_cast<size_t>(expected), 0);
  const tmsize_t got = TIFFReadEncodedStrip(tif, 0, bits.data(), expected);
  TIFFClose(tif);
  // A plane cut short or holding a bad code is not taken in part.
  return got == expected && !m.failed;
}

void CImgFileArcGrd::DecodeTileRow(int tileRow) {
  const size_t cells = size_t(m_nTileWidth) * m_nTileHeight;
  const size_t slots = size_t(m_nTilesAcross);
  m_Cells.resize(slots * cells);
  m_Kinds.assign(slots * cells, kEmpty);
  m_SlotDecoded.assign(slots, 0);
  m_nDecodedTileRow = tileRow;
  m_nCutTile = -1;
  m_nBadTile = -1;
  for (size_t i = 0; i < slots; ++i) {
    const long long tile = static_cast<long long>(tileRow) * m_nTilesPerRow + static_cast<long long>(i);
    if (tile >= m_nTileCount) continue;  // missing from the index
    const int t = static_cast<int>(tile), slot = static_cast<int>(i);
    // A tile the index places (wholly or in part) past the end of the data
    // file was cut off: its rows fail rather than read as no data.
    if (m_IndexSizes[t] != 0 && TileEnd(t) > m_nDataLength) {
      m_nCutTile = t;
      return;
    }
    const bool ok = (m_bFloat || !m_bCompressed) ? ReadRowInTileFloat(t, slot) : ReadRowInTileInteger(t, slot);
    // A tile the index gives no bytes is empty; one whose bytes do not
    // decode (an unknown type, codes running past its cells or its bytes)
    // is damaged, and its rows fail rather than read as no data.
    if (!ok && m_IndexSizes[t] != 0) {
      m_nBadTile = t;
      return;
    }
    if (!ok) std::fill(m_Kinds.begin() + static_cast<long>(i * cells), m_Kinds.begin() + static_cast<long>((i + 1) * cells), kEmpty);
    m_SlotDecoded[i] = ok ? 1 : 0;
  }
}

uint64_t CImgFileArcGrd::TileEnd(int tile) const {
  return 2 * uint64_t(m_TileOffsets[tile]) + 2 + 2 * uint64_t(m_IndexSizes[tile]);
}

bool CImgFileArcGrd::ReadRowInTile(int slot, int rowInTile, unsigned char* buffer, long cellsWanted) {
  if (!m_SlotDecoded[size_t(slot)]) return false;
  const size_t at = (size_t(slot) * m_nTileHeight + size_t(rowInTile)) * size_t(m_nTileWidth);
  const int32_t* cells = m_Cells.data() + at;
  const unsigned char* kinds = m_Kinds.data() + at;
  // Cells that have no value keep the buffer's bytes.
  auto put = [&](auto noValue, auto cast) {
    using Cell = decltype(noValue);
    for (long x = 0; x < cellsWanted; ++x) {
      if (kinds[x] == kEmpty) continue;
      const Cell c = kinds[x] == kNoValue ? noValue : cast(cells[x]);
      std::memcpy(buffer + sizeof(Cell) * size_t(x), &c, sizeof(Cell));
    }
  };
  switch (GetPixelFormat()) {
    case PF_BIT16: put(static_cast<int16_t>(m_nNoValue), [](int32_t v) { return static_cast<int16_t>(v); }); break;
    case PF_FLOAT32: {
      // Float cells are kept as their bits.
      const float none = static_cast<float>(m_nNoValue);
      uint32_t noneBits;
      std::memcpy(&noneBits, &none, 4);
      put(noneBits, [](int32_t v) { return static_cast<uint32_t>(v); });
      break;
    }
    default: put(m_nNoValue, [](int32_t v) { return v; }); break;
  }
  return true;
}

long CImgFileArcGrd::ReadScanLine(long row, CImgScanLine& line) {
  if (line.GetSize() == 0) return 0;
  m_nLineWidth = static_cast<int32_t>(line.m_nWidth);
  if (m_nTileWidth <= 0 || m_nTilesAcross <= 0 || row < 0 || static_cast<unsigned long>(row) >= GetHeight())
    return -1;
  const long width = static_cast<long>(GetWidth());
  if (line.GetSize() < CVtImgToolkit::AlignWidthByte(GetPixelFormat(), width)) return -1;
  const int tileRow = static_cast<int>(row / m_nTileHeight);
  if (tileRow != m_nDecodedTileRow) DecodeTileRow(tileRow);
  if (m_nCutTile >= 0) {
    const int t = m_nCutTile;
    Reject("Grid \"%s\": tile %d (bytes %llu to %llu) runs past the end of w001001.adf (%llu bytes).",
           m_strDirectory.GetString(), t, static_cast<unsigned long long>(2 * uint64_t(m_TileOffsets[t])),
           static_cast<unsigned long long>(TileEnd(t)), static_cast<unsigned long long>(m_nDataLength));
    return -1;
  }
  if (m_nBadTile >= 0) {
    const int t = m_nBadTile;
    const unsigned long long from = 2 * uint64_t(m_TileOffsets[t]), to = TileEnd(t);
    if (m_bFloat || !m_bCompressed)
      Reject("Grid \"%s\": tile %d (bytes %llu to %llu of w001001.adf) does not hold its cells.",
             m_strDirectory.GetString(), t, from, to);
    else
      Reject("Grid \"%s\": tile %d (type 0x%02X, bytes %llu to %llu of w001001.adf) cannot be decoded.",
             m_strDirectory.GetString(), t, unsigned(m_TileTypes[t]), from, to);
    return -1;
  }
  const int cellBytes = GetPixelFormat() == PF_BIT16 ? 2 : 4;
  for (int i = 0; i < m_nTilesAcross; ++i) {
    const long first = static_cast<long>(i) * m_nTileWidth;
    // The last tile across gives only the cells the grid's width leaves.
    const long cells = std::min<long>(m_nTileWidth, width - first);
    ReadRowInTile(i, static_cast<int>(row % m_nTileHeight), line.GetData() + first * cellBytes, cells);
  }
  return 1;
}

void CImgFileArcGrd::SetNoValue(long value) { m_nNoValue = static_cast<int32_t>(value); }
