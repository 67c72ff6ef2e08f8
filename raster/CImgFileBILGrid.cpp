#include "raster/CImgFileBILGrid.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "platform/vtcore/CVtImgToolkit.h"
#include "platform/vtcore/CVtToolkit.h"
#include "platform/vtcore/VtNumber.h"

namespace {

constexpr bool kHostBigEndian = __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__;

// atol of the header values: white space, a sign and digits, saturated to
// 32 bits so that no header number wraps.
int HeaderInt(const CString& text) {
  const long long v = std::strtoll(text, nullptr, 10);
  return static_cast<int>(v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : v);
}

// The reason a header count is refused, or empty: sizes (rows, columns,
// bands) must be positive, byte counts must not be negative. A count is
// taken as written, never without its sign.
CString CountRefusal(const char* key, int value, bool positive, bool given) {
  CString reason;
  if (!given && positive)
    reason.Format("the header gives no %s", key);
  else if (value < 0 || (positive && value == 0))
    reason.Format("%s %d is not a %s; it must be %s", key, value, positive ? "size" : "byte count",
                  positive ? "positive" : "0 or more");
  return reason;
}

// The first refusal of `counts`, or empty.
struct HeaderCount {
  const char* key;
  int value;
  bool positive;
  bool given;
};
// The first of the header's sizes and byte counts that is no size, or empty:
// the same keys for BIL and USGS headers.
CString SizeRefusal(int rows, bool rowsGiven, int columns, bool columnsGiven, int bands, int bandRowBytes,
                    int totalRowBytes, int bandGapBytes) {
  const HeaderCount counts[] = {{"NROWS", rows, true, rowsGiven},
                                {"NCOLS", columns, true, columnsGiven},
                                {"NBANDS", bands, true, true},
                                {"BANDROWBYTES", bandRowBytes, false, true},
                                {"TOTALROWBYTES", totalRowBytes, false, true},
                                {"BANDGAPBYTES", bandGapBytes, false, true}};
  for (const HeaderCount& c : counts) {
    const CString reason = CountRefusal(c.key, c.value, c.positive, c.given);
    if (!reason.IsEmpty()) return reason;
  }
  return CString();
}

// The no-data value is kept in 16 bits, as the header's number wraps into it.
int16_t HeaderShort(const CString& text) {
  return static_cast<int16_t>(static_cast<uint16_t>(static_cast<unsigned>(HeaderInt(text)) & 0xFFFFu));
}

// Splits a trimmed, upper-case header item at the first blank after its
// first character into keyword and value (leading blanks of the value
// dropped). False when there is no such blank.
bool SplitItem(const CString& item, CString& key, CString& value) {
  int at = -1;
  for (int i = 1; i < item.GetLength(); ++i) {
    if (item[i] == ' ' || item[i] == '\t') {
      at = i;
      break;
    }
  }
  if (at < 0) return false;
  key = item.Left(at);
  value = item.Mid(at + 1);
  value.TrimLeft();
  return true;
}

// Byte swaps written as shifts, which compilers turn into vector code.
uint16_t ByteSwap(uint16_t v) { return static_cast<uint16_t>(v << 8 | v >> 8); }
int16_t ByteSwap(int16_t v) { return static_cast<int16_t>(ByteSwap(static_cast<uint16_t>(v))); }
int32_t ByteSwap(int32_t v) {
  const uint32_t u = static_cast<uint32_t>(v);
  return static_cast<int32_t>(u << 24 | (u & 0xFF00u) << 8 | (u >> 8 & 0xFF00u) | u >> 24);
}
uint8_t ByteSwap(uint8_t v) { return v; }

// One cell: machine order, no-data replaced, bounds widened.
template <class T, bool kSwap>
inline T FinishCell(T v, bool replace, T noData, T substitute, T& low, T& high) {
  if (kSwap) v = ByteSwap(v);
  v = replace && v == noData ? substitute : v;
  low = v < low ? v : low;
  high = v > high ? v : high;
  return v;
}

// Puts `count` cells of type T in machine order, replaces those equal to
// `noData` (when `replace`) by `substitute`, and widens [lo, hi] to hold
// every cell. The cells go through a local block of fixed size, so that
// the loop over it is turned into vector code; a row is touched once.
template <class T, bool kSwap>
void FinishCells(unsigned char* data, size_t count, bool replace, T noData, T substitute, T& lo, T& hi) {
  constexpr size_t kBlock = 1024 / sizeof(T);
  T block[kBlock];
  T low = lo, high = hi;
  size_t i = 0;
  for (; i + kBlock <= count; i += kBlock) {
    unsigned char* at = data + i * sizeof(T);
    std::memcpy(block, at, sizeof block);
    T blockLow = low, blockHigh = high;
    for (size_t k = 0; k < kBlock; ++k)
      block[k] = FinishCell<T, kSwap>(block[k], replace, noData, substitute, blockLow, blockHigh);
    low = blockLow, high = blockHigh;
    std::memcpy(at, block, sizeof block);
  }
  for (; i < count; ++i) {
    T v;
    std::memcpy(&v, data + i * sizeof(T), sizeof(T));
    v = FinishCell<T, kSwap>(v, replace, noData, substitute, low, high);
    std::memcpy(data + i * sizeof(T), &v, sizeof(T));
  }
  lo = low, hi = high;
}

// The statistics start at 0, so the minimum never rises above 0 nor the
// maximum falls below it: a cell below the minimum cannot also be above the
// maximum, and keeping each bound on its own gives the same result as
// testing the maximum only when the minimum did not move.
template <class T>
void FinishRow(unsigned char* data, size_t count, bool swap, bool replace, T noData, T substitute,
               double& minimum, double& maximum) {
  T lo = 0, hi = 0;
  if (swap)
    FinishCells<T, true>(data, count, replace, noData, substitute, lo, hi);
  else
    FinishCells<T, false>(data, count, replace, noData, substitute, lo, hi);
  minimum = std::min(minimum, static_cast<double>(lo));
  maximum = std::max(maximum, static_cast<double>(hi));
}

ULONGLONG DataLength(const CFile& file) { return file.GetLength(); }

}  // namespace

// ---------------------------------------------------------------------------
// CImgFileBILGrid

CImgFileBILGrid::CImgFileBILGrid() = default;

// The files' own destructors close them; Close could throw from here.
CImgFileBILGrid::~CImgFileBILGrid() = default;

BOOL CImgFileBILGrid::Open(const char* fileName, UINT openFlags, CFileException* error) {
  m_bOpen = 0;
  if (!CImgFile::Open(fileName, openFlags, error)) return FALSE;
  const CString path = fileName ? fileName : "";
  if (!m_HeaderFile.Open(CVtToolkit::ChangeExtName(path, ".HDR"), openFlags | CFile::typeText)) {
    CImgFile::Close();
    return FALSE;
  }
  m_WorldFile.Open(CVtToolkit::ChangeExtName(path, ".BLW"), openFlags | CFile::typeText);
  m_bOpen = 1;
  return TRUE;
}

int CImgFileBILGrid::OpenForRead(CString path) {
  m_bOpen = 0;
  CFileException error;
  if (!CImgFile::Open(path, CFile::modeRead, &error)) return 0;
  if (!m_HeaderFile.Open(CVtToolkit::ChangeExtName(path, ".HDR"), CFile::modeRead | CFile::typeText)) {
    CImgFile::Close();
    return 0;
  }
  m_bOpen = 1;
  // The world file is optional.
  m_WorldFile.Open(CVtToolkit::ChangeExtName(path, ".BLW"), CFile::modeRead | CFile::typeText);
  return 1;
}

int CImgFileBILGrid::OpenForWrite(CString path) {
  m_bOpen = 0;
  const UINT flags = CFile::modeCreate | CFile::modeReadWrite;
  CFileException error;
  if (CImgFile::Open(path, flags, &error) &&
      m_HeaderFile.Open(CVtToolkit::ChangeExtName(path, ".HDR"), flags | CFile::typeText) &&
      m_WorldFile.Open(CVtToolkit::ChangeExtName(path, ".BLW"), flags | CFile::typeText)) {
    m_bOpen = 1;
    return 1;
  }
  Close();
  return 0;
}

void CImgFileBILGrid::Close() {
  m_bOpen = 0;
  m_WorldFile.Close();
  m_HeaderFile.Close();
  CImgFile::Close();
}

void CImgFileBILGrid::ResetHeader() {
  m_dUpperLeftX = m_dUpperLeftY = 0.0;
  m_dXDim = m_dYDim = 1.0;
  m_strByteOrder = "M";
  m_strLayout = "BIL";
  m_nBandCount = 1;
  m_nBitCount = 16;
  m_nBandRowBytes = m_nTotalRowBytes = m_nBandGapBytes = 0;
  m_nNoData = -9999;
  m_bFloat = m_bHasNoData = false;
  m_dNoData = -9999;
  m_strRefusal.Empty();
}

bool CImgFileBILGrid::ReadWorldFile() {
  if (!m_WorldFile.m_pStream) return false;
  m_WorldFile.SeekToBegin();
  CString line;
  for (int number = 1; number <= 6 && m_WorldFile.ReadString(line); ++number) {
    if (number == 2 || number == 3) continue;  // rotation terms: not used
    // A line without a number leaves the header's value.
    double v = 0;
    if (vtnum::ParseDouble(line, static_cast<size_t>(line.GetLength()), v) == 0) continue;
    if (number == 1)
      m_dXDim = v;
    else if (number == 4)
      m_dYDim = v < 0 ? -v : v;
    else if (number == 5)
      m_dUpperLeftX = v;
    else
      m_dUpperLeftY = v;
  }
  return true;
}

long CImgFileBILGrid::LoadImage() {
  if (!m_bOpen || !m_HeaderFile.m_pStream) return -1;
  // Every LoadImage starts from the defaults: a second file read through
  // the same object does not inherit the first one's keys.
  ResetHeader();
  int rows = 0, columns = 0;
  bool rowsGiven = false, columnsGiven = false;
  bool floatCells = false;
  m_HeaderFile.SeekToBegin();
  CString line, key, value;
  while (m_HeaderFile.ReadString(line)) {
    line.Trim();
    line.MakeUpper();
    // Old files separate their lines by carriage returns only: each item
    // between them is a line of its own.
    int start = 0;
    while (start <= line.GetLength()) {
      int end = line.Find('\r', start);
      if (end < 0) end = line.GetLength();
      CString item = line.Mid(start, end - start);
      start = end + 1;
      item.Trim();
      if (!SplitItem(item, key, value)) continue;
      if (key == "BYTEORDER")
        m_strByteOrder = value;
      else if (key == "LAYOUT")
        m_strLayout = value;
      else if (key == "NROWS")
        rows = HeaderInt(value), rowsGiven = true;
      else if (key == "NCOLS")
        columns = HeaderInt(value), columnsGiven = true;
      else if (key == "NBANDS")
        m_nBandCount = HeaderInt(value);
      else if (key == "NBITS")
        m_nBitCount = HeaderInt(value);
      else if (key == "BANDROWBYTES")
        m_nBandRowBytes = HeaderInt(value);
      else if (key == "TOTALROWBYTES")
        m_nTotalRowBytes = HeaderInt(value);
      else if (key == "BANDGAPBYTES")
        m_nBandGapBytes = HeaderInt(value);
      else if (key == "NODATA") {
        m_nNoData = HeaderShort(value);
        m_bHasNoData = true;
        m_dNoData = vtnum::AtoF(value);
      } else if (key == "ULXMAP")
        m_dUpperLeftX = vtnum::AtoF(value);
      else if (key == "ULYMAP")
        m_dUpperLeftY = vtnum::AtoF(value);
      else if (key == "XDIM")
        m_dXDim = vtnum::AtoF(value);
      else if (key == "YDIM")
        m_dYDim = vtnum::AtoF(value);
      else if (key == "PIXELTYPE")
        floatCells = value == "FLOAT";
    }
  }
  ReadWorldFile();

  m_strRefusal = SizeRefusal(rows, rowsGiven, columns, columnsGiven, m_nBandCount, m_nBandRowBytes,
                             m_nTotalRowBytes, m_nBandGapBytes);
  if (!m_strRefusal.IsEmpty()) return -1;

  // The driver delivers 8-bit, 16-bit and 32-bit integer cells and 32-bit
  // singles; other bit counts would come out as meaningless numbers.
  if (floatCells && m_nBitCount != 32) {
    m_strRefusal.Format("PIXELTYPE FLOAT with NBITS %d is not read; only NBITS 32", m_nBitCount);
    return -1;
  }
  if (m_nBitCount != 8 && m_nBitCount != 16 && m_nBitCount != 32) {
    m_strRefusal.Format("NBITS %d is not read; only 8, 16 and 32", m_nBitCount);
    return -1;
  }
  m_bFloat = floatCells;
  const ImgPixelFormat format =
      m_bFloat ? PF_FLOAT32 : m_nBitCount == 8 ? PF_BIT8 : m_nBitCount == 32 ? PF_INT32 : PF_BIT16;

  const long long bandRow = static_cast<long long>(columns) * m_nBitCount / 8;
  if (bandRow > INT_MAX) return -1;
  if (m_nBandRowBytes == 0)
    m_nBandRowBytes = static_cast<int>(bandRow);
  else if (m_nBandRowBytes != bandRow)
    return -1;
  const long long totalRow = static_cast<long long>(m_nBandCount) * m_nBandRowBytes;
  if (totalRow > INT_MAX) return -1;
  if (m_nTotalRowBytes == 0)
    m_nTotalRowBytes = static_cast<int>(totalRow);
  else if (m_nTotalRowBytes != totalRow)
    return -1;
  // A header promising rows longer than the whole data file describes
  // another file: callers size their lines from it.
  if (static_cast<ULONGLONG>(bandRow) > DataLength(*this)) return -1;

  SetPixelFormat(format);
  SetPixelFormatExt(format);
  SetWidth(static_cast<unsigned long>(columns));
  SetHeight(static_cast<unsigned long>(rows));
  SetWidthBytes(static_cast<unsigned long>(CVtImgToolkit::AlignWidth(format, columns)));
  return 1;
}

long CImgFileBILGrid::SaveImage() { return 1; }

long CImgFileBILGrid::WriteScanLine(long, CImgScanLine&) { return 0; }

long CImgFileBILGrid::ReadScanLine(long row, CImgScanLine& line) { return ReadScanLine(0, row, line); }

long CImgFileBILGrid::ReadScanLine(long band, long row, CImgScanLine& line) {
  if (!m_bOpen || line.GetSize() == 0) return 0;
  if (band < 0 || band >= m_nBandCount || row < 0 || static_cast<unsigned long>(row) >= GetHeight()) return 0;
  // The bands of pixel-interleaved and band-sequential files are not where
  // the band-interleaved-by-line rule puts them; one band is the same in
  // every layout.
  if (m_nBandCount > 1 && (m_strLayout == "BIP" || m_strLayout == "BSQ")) return 0;
  const size_t cellBytes = static_cast<size_t>(m_nBitCount / 8);
  const size_t cells = GetWidth();
  const size_t lineBytes = static_cast<size_t>(line.GetSize());
  // The line must hold the row's cells; it is filled up to the width
  // bytes, never past its own end.
  if (cellBytes == 0 || lineBytes < cells * cellBytes) return 0;
  const UINT want = static_cast<UINT>(std::min<size_t>(GetWidthBytes(), lineBytes));

  const long long offset = static_cast<long long>(row) * (static_cast<long long>(m_nBandGapBytes) + m_nTotalRowBytes) +
                           static_cast<long long>(band) * m_nBandRowBytes;
  SetOffBits(static_cast<unsigned long>(offset));
  Seek(offset, CFile::begin);
  const UINT got = Read(line.GetData(), want);
  if (got == 0) return 0;

  // Only whole cells that were read count.
  const size_t count = std::min(cells, got / cellBytes);
  const bool swap = (m_strByteOrder == "M") != kHostBigEndian;
  unsigned char* data = line.GetData();
  switch (m_nBitCount) {
    case 8:
      FinishRow<uint8_t>(data, count, false, m_nNoData >= 0 && m_nNoData <= 255, static_cast<uint8_t>(m_nNoData),
                         241, m_dMinimum, m_dMaximum);
      break;
    case 16:
      FinishRow<int16_t>(data, count, swap, true, m_nNoData, -9999, m_dMinimum, m_dMaximum);
      break;
    default:
      if (m_bFloat)
        FinishFloatRow(data, count, swap);
      else
        FinishRow<int32_t>(data, count, swap, true, m_nNoData, 0, m_dMinimum, m_dMaximum);
      break;
  }
  return static_cast<long>(got);
}

void CImgFileBILGrid::FinishFloatRow(unsigned char* data, size_t count, bool swap) {
  // Singles keep their bits; the statistics pass over no-data and NaN cells.
  const float noData = static_cast<float>(m_dNoData);
  for (size_t i = 0; i < count; ++i) {
    uint32_t bits;
    std::memcpy(&bits, data + 4 * i, 4);
    if (swap) bits = static_cast<uint32_t>(ByteSwap(static_cast<int32_t>(bits)));
    std::memcpy(data + 4 * i, &bits, 4);
    float v;
    std::memcpy(&v, &bits, 4);
    if (std::isnan(v) || (m_bHasNoData && v == noData)) continue;
    m_dMinimum = std::min(m_dMinimum, static_cast<double>(v));
    m_dMaximum = std::max(m_dMaximum, static_cast<double>(v));
  }
}

int CImgFileBILGrid::GetGeoReference(CRect2D& bounds) const {
  const double left = m_dUpperLeftX - m_dXDim * 0.5;
  const double top = m_dUpperLeftY + m_dYDim * 0.5;
  bounds.SetRect(left, top, left + static_cast<double>(GetWidth()) * m_dXDim,
                 top - static_cast<double>(GetHeight()) * m_dYDim);
  return 1;
}

// ---------------------------------------------------------------------------
// CImgFileUSGrid

CImgFileUSGrid::CImgFileUSGrid() = default;

CImgFileUSGrid::~CImgFileUSGrid() = default;

BOOL CImgFileUSGrid::Open(const char* fileName, UINT openFlags, CFileException* error) {
  m_bOpen = 0;
  if (!CImgFile::Open(fileName, openFlags, error)) return FALSE;
  if (!m_HeaderFile.Open(CVtToolkit::ChangeExtName(fileName ? fileName : "", ".HDR"), openFlags | CFile::typeText)) {
    CImgFile::Close();
    return FALSE;
  }
  m_bOpen = 1;
  return TRUE;
}

int CImgFileUSGrid::OpenForRead(CString path) {
  return Open(path, CFile::modeRead | CFile::shareDenyNone) ? 1 : 0;
}

int CImgFileUSGrid::OpenForWrite(CString path) {
  return Open(path, CFile::modeCreate | CFile::modeReadWrite) ? 1 : 0;
}

void CImgFileUSGrid::Close() {
  m_bOpen = 0;
  m_HeaderFile.Close();
  CImgFile::Close();
}

long CImgFileUSGrid::LoadImage() {
  if (!m_bOpen || !m_HeaderFile.m_pStream) return -1;
  // Each LoadImage starts from the defaults.
  m_dX = m_dY = 0.0;
  m_dXDim = m_dYDim = 1.0;
  m_nRows = m_nColumns = 0;
  m_strByteOrder = "M";
  m_strLayout = "BIL";
  m_nBandCount = 1;
  m_nBitCount = 16;
  m_nBandRowBytes = m_nTotalRowBytes = m_nBandGapBytes = 0;
  m_nNoData = -9999;
  m_bXCorner = m_bYCorner = false;
  m_strRefusal.Empty();
  bool rowsGiven = false, columnsGiven = false;

  m_HeaderFile.SeekToBegin();
  CString line, key, value;
  while (m_HeaderFile.ReadString(line)) {
    line.Trim();
    line.MakeUpper();
    if (!SplitItem(line, key, value)) continue;
    if (key == "BYTEORDER") {
      m_strByteOrder = value;
    } else if (key == "LAYOUT") {
      m_strLayout = value;
    } else if (key == "NROWS") {
      m_nRows = HeaderInt(value), rowsGiven = true;
    } else if (key == "NCOLS") {
      m_nColumns = HeaderInt(value), columnsGiven = true;
    } else if (key == "NBANDS") {
      m_nBandCount = HeaderInt(value);
    } else if (key == "NBITS") {
      m_nBitCount = HeaderInt(value);
    } else if (key == "BANDROWBYTES") {
      m_nBandRowBytes = HeaderInt(value);
    } else if (key == "TOTALROWBYTES") {
      m_nTotalRowBytes = HeaderInt(value);
    } else if (key == "BANDGAPBYTES") {
      m_nBandGapBytes = HeaderInt(value);
    } else if (key == "NODATA") {
      m_nNoData = HeaderShort(value);
    } else if (key == "ULXMAP" || key == "XLLCORNER") {
      m_dX = vtnum::AtoF(value);
      m_bXCorner = key == "XLLCORNER";
    } else if (key == "ULYMAP" || key == "YLLCORNER") {
      m_dY = vtnum::AtoF(value);
      m_bYCorner = key == "YLLCORNER";
    } else if (key == "XDIM") {
      m_dXDim = std::abs(vtnum::AtoF(value));
    } else if (key == "YDIM") {
      m_dYDim = std::abs(vtnum::AtoF(value));
    } else if (key == "CELLSIZE") {
      m_dXDim = m_dYDim = std::abs(vtnum::AtoF(value));
    }
  }

  m_strRefusal = SizeRefusal(m_nRows, rowsGiven, m_nColumns, columnsGiven, m_nBandCount, m_nBandRowBytes,
                             m_nTotalRowBytes, m_nBandGapBytes);
  if (!m_strRefusal.IsEmpty()) return -1;
  // Cells of 16 or 32 bits only: others would be read as 16-bit cells from
  // the wrong bytes.
  if (m_nBitCount != 16 && m_nBitCount != 32) {
    m_strRefusal.Format("NBITS %d is not read; only 16 and 32", m_nBitCount);
    return -1;
  }
  const long long row = static_cast<long long>(m_nColumns) * m_nBitCount / 8;
  if (row > INT_MAX) return -1;
  if (m_nBandRowBytes == 0) m_nBandRowBytes = static_cast<int>(row);
  const long long total = static_cast<long long>(m_nBandCount) * m_nBandRowBytes;
  if (m_nTotalRowBytes == 0) {
    if (total > INT_MAX) return -1;
    m_nTotalRowBytes = static_cast<int>(total);
  }
  // Rows longer than the whole data file: not this file's header, and the
  // row buffers are sized from it.
  if (static_cast<ULONGLONG>(row) > DataLength(*this)) return -1;

  if (m_nBitCount == 32)
    m_Cells32.resize(static_cast<size_t>(row));
  else
    std::vector<unsigned char>().swap(m_Cells32);
  SetPixelFormat(PF_BIT16);
  SetPixelFormatExt(PF_BIT16);
  SetWidth(static_cast<unsigned long>(m_nColumns));
  SetWidthBytes(static_cast<unsigned long>(CVtImgToolkit::AlignWidth(PF_BIT16, m_nColumns)));
  SetHeight(static_cast<unsigned long>(m_nRows));
  return 1;
}

long CImgFileUSGrid::SaveImage() { return 1; }

long CImgFileUSGrid::WriteScanLine(long, CImgScanLine&) { return 0; }

long CImgFileUSGrid::ReadScanLine(long row, CImgScanLine& line) {
  if (!m_bOpen || line.GetSize() == 0) return 0;
  if (row < 0 || row >= m_nRows) return 0;
  const size_t columns = static_cast<size_t>(m_nColumns);
  const size_t lineBytes = static_cast<size_t>(line.GetSize());
  if (lineBytes < columns * 2) return 0;
  const bool big = m_strByteOrder == "M";
  const bool little = m_strByteOrder == "I";

  const long long offset = static_cast<long long>(row) * (static_cast<long long>(m_nBandGapBytes) + m_nTotalRowBytes);
  SetOffBits(static_cast<unsigned long>(offset));
  Seek(offset, CFile::begin);
  unsigned char* data = line.GetData();
  UINT got = 0;
  size_t count = 0;
  if (m_nBitCount == 32) {
    if (m_Cells32.size() != columns * 4) m_Cells32.resize(columns * 4);
    got = Read(m_Cells32.data(), static_cast<UINT>(m_Cells32.size()));
    if (got == 0) return 0;
    count = got / 4;
    // Each cell keeps its least significant 16 bits.
    const unsigned char* from = m_Cells32.data();
    for (size_t i = 0; i < count; ++i, from += 4) {
      uint16_t low;
      if (big) {
        low = static_cast<uint16_t>(from[2] << 8 | from[3]);
      } else if (little) {
        low = static_cast<uint16_t>(from[0] | from[1] << 8);
      } else {
        uint32_t cell;
        std::memcpy(&cell, from, 4);
        low = static_cast<uint16_t>(cell & 0xFFFFu);
      }
      std::memcpy(data + 2 * i, &low, 2);
    }
  } else {
    got = Read(data, static_cast<UINT>(std::min<size_t>(GetWidthBytes(), lineBytes)));
    if (got == 0) return 0;
    count = std::min<size_t>(columns, got / 2);
    if ((big && !kHostBigEndian) || (little && kHostBigEndian)) {
      for (size_t i = 0; i < count; ++i) {
        uint16_t v;
        std::memcpy(&v, data + 2 * i, 2);
        v = ByteSwap(v);
        std::memcpy(data + 2 * i, &v, 2);
      }
    }
  }
  // An unknown byte order leaves the cells as they are.
  if (!big && !little) return static_cast<long>(got);
  FinishRow<int16_t>(data, count, false, true, m_nNoData, 0, m_dMinimum, m_dMaximum);
  return static_cast<long>(got);
}

int CImgFileUSGrid::GetGeoReference(CRect2D& bounds) const {
  const double left = m_bXCorner ? m_dX : m_dX - m_dXDim * 0.5;
  const double top = m_bYCorner ? m_dY + static_cast<double>(m_nRows) * m_dYDim : m_dY + m_dYDim * 0.5;
  bounds.SetRect(left, top, left + static_cast<double>(m_nColumns) * m_dXDim,
                 top - static_cast<double>(m_nRows) * m_dYDim);
  return 1;
}
