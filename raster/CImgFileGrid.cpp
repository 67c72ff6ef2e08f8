// ESRI ASCII grid part of CImgFileGrid, and the format dispatch.
#include "raster/CImgFileGrid.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/vtcore/CVtErrorMsg.h"
#include "platform/vtcore/CVtImgToolkit.h"
#include "platform/vtcore/CVtToolkit.h"
#include "platform/vtcore/VtNumber.h"

namespace {

// Truncation toward zero to 32 bits. NaN and values out of range give
// INT32_MIN, the "integer indefinite" that the platform's conversion gives.
int32_t ToInt32(double v) {
  const double t = std::trunc(v);
  if (!(t >= static_cast<double>(INT32_MIN) && t <= static_cast<double>(INT32_MAX))) return INT32_MIN;
  return static_cast<int32_t>(t);
}

// Single precision, with overflow giving infinity as in IEEE arithmetic.
float ToFloat(double v) {
  if (v > FLT_MAX) return HUGE_VALF;
  if (v < -FLT_MAX) return -HUGE_VALF;
  return static_cast<float>(v);
}

template <class T>
void Store(unsigned char* data, long index, T value) {
  std::memcpy(data + static_cast<size_t>(index) * sizeof(T), &value, sizeof(T));
}

// Bytes that `count` cells take in a row of the reader's pixel format.
long long EsriRowBytes(int format, long long count) {
  switch (format) {
    case PF_BIT1:
      return (count + 7) / 8;
    case PF_BIT4:
      return (count + 1) / 2;
    case PF_BIT8:
      return count;
    case PF_BIT16:
      return 2 * count;
    case PF_BIT24:  // a 32-bit integer a cell
    case PF_BIT32:
    case PF_INT32:
    case PF_FLOAT32:
      return 4 * count;
    case PF_BIT64:
    case PF_FLOAT64:
      return 8 * count;
    default:
      return 0;  // nothing is stored
  }
}

bool IsPixelFormat(int format) {
  // Checked against the enumeration's range before the cast.
  if (format < PF_UNKNOWN || format > PF_FLOAT64) return false;
  return format == PF_UNKNOWN || CVtImgToolkit::BitCount(static_cast<ImgPixelFormat>(format)) != 0;
}

// "%.16f" in the C locale without trailing zeros and point.
CString Decimal16(double v) {
  CString text = vtnum::Fixed(v, 16).c_str();
  if (text.Find('.') >= 0) {
    text.TrimRight('0');
    text.TrimRight('.');
  }
  return text;
}

bool IsSpace(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Reads the cell values of a grid from a stdio stream one white-space
// separated token at a time. Each token must be one number as strtod reads
// it in the C locale; the character that ends it is given back, so the
// stream stands exactly after the last value taken, on any C library.
class ValueScanner {
 public:
  enum Result { kValue, kEnd, kNoMatch };

  explicit ValueScanner(FILE* stream) : m_stream(stream) { ::flockfile(m_stream); }
  ~ValueScanner() { ::funlockfile(m_stream); }
  ValueScanner(const ValueScanner&) = delete;
  ValueScanner& operator=(const ValueScanner&) = delete;

  Result Next(double& value) {
#if defined(__GLIBC__)
    // A token that lies whole in the stream's buffer, white space behind it,
    // is read in place: what getc would give one character at a time.
    const char* p = m_stream->_IO_read_ptr;
    const char* end = m_stream->_IO_read_end;
    while (p < end && IsSpace(*p)) ++p;
    m_stream->_IO_read_ptr = const_cast<char*>(p);
    if (p < end) {
      const size_t used = vtnum::ParseDouble(p, static_cast<size_t>(end - p), value);
      // Longer tokens are cut at the token buffer's size below.
      if (used > 0 && used <= sizeof m_token && used < static_cast<size_t>(end - p) && IsSpace(p[used])) {
        m_stream->_IO_read_ptr = const_cast<char*>(p + used);
        return kValue;
      }
    }
#endif
    int c = getc_unlocked(m_stream);
    while (c != EOF && IsSpace(c)) c = getc_unlocked(m_stream);
    if (c == EOF) return kEnd;
    size_t n = 0;
    while (c != EOF && !IsSpace(c) && n < sizeof m_token) {
      m_token[n++] = static_cast<char>(c);
      c = getc_unlocked(m_stream);
    }
    if (c != EOF) ::ungetc(c, m_stream);
    m_length = n;
    return CImgFileGrid::ParseCellToken(m_token, n, value) ? kValue : kNoMatch;
  }
  // The token that was not a number.
  std::string Token() const { return std::string(m_token, m_length); }

 private:
  FILE* m_stream;
  char m_token[CImgFileGrid::kCellTokenMax];
  size_t m_length = 0;
};

// A header keyword line: the keyword, lower case, and the text after it.
bool KeywordLine(const CString& line, std::string& keyword, std::string& value) {
  const char* p = line;
  while (*p && IsSpace(*p)) ++p;
  const char* k = p;
  while (*p && !IsSpace(*p)) ++p;
  keyword.assign(k, p);
  for (char& c : keyword) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  if (keyword.empty() || !((keyword[0] >= 'a' && keyword[0] <= 'z') || keyword[0] == '_')) return false;
  if (keyword == "nan" || keyword == "inf" || keyword == "infinity") return false;  // a value
  while (*p && IsSpace(*p)) ++p;
  const char* e = p + std::strlen(p);
  while (e > p && IsSpace(e[-1])) --e;
  value.assign(p, e);
  return true;
}

// A header value; a decimal comma is read as a point, as GDAL reads it.
bool HeaderNumber(const std::string& text, double& v) {
  if (vtnum::ParseWhole(text.data(), text.size(), v)) return true;
  std::string dotted = text;
  const size_t comma = dotted.find(',');
  if (comma == std::string::npos || dotted.find('.') != std::string::npos ||
      dotted.find(',', comma + 1) != std::string::npos)
    return false;
  dotted[comma] = '.';
  return vtnum::ParseWhole(dotted.data(), dotted.size(), v);
}

long Refuse(const CString& path, const std::string& why) {
  CString text;
  text.Format("ESRI ASCII grid \"%s\": %s", static_cast<const char*>(path), why.c_str());
  VtGetErrorMsgObj()->SetMessage(0L, text);
  return -1;
}

}  // namespace

CImgFileGrid::CImgFileGrid() = default;

int CImgFileGrid::ParseInt(const char* text) {
  const long long v = std::strtoll(text, nullptr, 10);
  return static_cast<int>(v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : v);
}

// The text file's own destructor closes it; Close could throw from here.
CImgFileGrid::~CImgFileGrid() = default;

BOOL CImgFileGrid::Open(const char* fileName, UINT openFlags, CFileException* error) {
  const BOOL opened = m_TextFile.Open(fileName, openFlags, error);
  // A failed second open leaves the first file open, and so the flag set.
  m_bOpen = m_TextFile.m_pStream ? 1 : 0;
  return opened;
}

int CImgFileGrid::OpenForRead(CString path) {
  CFileException error;
  if (!m_TextFile.Open(path, CFile::modeRead | CFile::shareDenyNone | CFile::typeText, &error)) return 0;
  m_bOpen = 1;
  m_bHeaderLoaded = 0;
  return 1;
}

int CImgFileGrid::OpenForWrite(CString path) {
  CFileException error;
  if (!m_TextFile.Open(path, CFile::modeCreate | CFile::modeReadWrite | CFile::typeText, &error)) return 0;
  m_bOpen = 1;
  m_bHeaderLoaded = 0;
  return 1;
}

void CImgFileGrid::Close() {
  if (!m_bOpen) return;
  m_bOpen = 0;
  m_bHeaderLoaded = 0;
  m_TextFile.Close();
}

void CImgFileGrid::Abort() {
  m_bOpen = 0;
  m_bHeaderLoaded = 0;
  m_TextFile.Abort();
}

long CImgFileGrid::LoadImage() {
  switch (m_nFormatMode) {
    case kEsriGrid:
    case kEsriHeaderFile:
      return LoadEsriHeader();
    case kNsdtfGrid:
      return LoadNsdtf();
    default:
      return -1;
  }
}

long CImgFileGrid::SaveImage() {
  switch (m_nFormatMode) {
    case kEsriGrid:
      return SaveEsriHeader();
    case kNsdtfGrid:
      return SaveNsdtf();
    default:
      return -1;
  }
}

long CImgFileGrid::ReadScanLine(long row, CImgScanLine& line) {
  return m_nFormatMode == kEsriGrid ? ReadScanLineEsri(row, line, -9999.0) : -1;
}

long CImgFileGrid::LoadEsriHeader() {
  m_bHeaderLoaded = 0;
  if (!m_bOpen) return -1;
  const CString path = m_TextFile.GetFilePath();
  // The header is the run of keyword lines at the top, in any order and
  // case, keywords and values apart by spaces or tabs. The first line that
  // starts with a number is the first row of values.
  bool haveColumns = false, haveRows = false, haveX = false, haveY = false, haveSize = false, haveDy = false;
  bool xCenter = false, yCenter = false, noData = false;
  double columns = 0, rows = 0, x = 0, y = 0, cellWidth = 0, cellHeight = 0, noDataValue = -9999.0;
  int lines = 0;
  CString line;
  std::string keyword, value;
  for (;;) {
    const ULONGLONG mark = m_TextFile.GetPosition();
    if (!m_TextFile.ReadString(line)) break;
    if (!KeywordLine(line, keyword, value)) {
      CString trimmed = line;
      trimmed.Trim();
      if (trimmed.IsEmpty() && lines > 0) continue;  // blank lines inside the header
      m_TextFile.Seek(static_cast<LONGLONG>(mark), CFile::begin);
      break;
    }
    ++lines;
    double v = 0;
    const bool number = HeaderNumber(value, v);
    auto need = [&](bool ok) {
      if (!ok) Refuse(path, "the value of " + keyword + " is not a number: \"" + value + "\"");
      return ok;
    };
    if (keyword == "ncols") {
      if (!need(number)) return -1;
      columns = v, haveColumns = true;
    } else if (keyword == "nrows") {
      if (!need(number)) return -1;
      rows = v, haveRows = true;
    } else if (keyword == "xllcorner" || keyword == "xllcenter") {
      if (!need(number)) return -1;
      x = v, haveX = true, xCenter = keyword == "xllcenter";
    } else if (keyword == "yllcorner" || keyword == "yllcenter") {
      if (!need(number)) return -1;
      y = v, haveY = true, yCenter = keyword == "yllcenter";
    } else if (keyword == "cellsize" || keyword == "dx") {
      if (!need(number)) return -1;
      cellWidth = v, haveSize = true;
      if (!haveDy) cellHeight = v;
    } else if (keyword == "dy") {
      if (!need(number)) return -1;
      cellHeight = v, haveDy = true;
    } else if (keyword.find("no") != std::string::npos || keyword.find("value") != std::string::npos) {
      if (!need(number)) return -1;
      noDataValue = v, noData = true;
    }
    // Other keywords are not the grid's business.
  }

  if (lines == 0) {
    // No keyword at the top: a data file whose header lies beside it in a
    // .hdr file. That file must have a header of its own.
    Close();
    if (m_nFormatMode == kEsriHeaderFile) return Refuse(path, "the header file holds no header");
    CString drive, dir, name, ext;
    CVtToolkit::SplitPath(path, drive, dir, name, ext);
    const CString header = drive + dir + name + ".hdr";
    if (!CVtToolkit::IsFileExisted(header) || !OpenForRead(header))
      return Refuse(path, "no header, and no .hdr file beside it");
    m_nFormatMode = kEsriHeaderFile;
    m_strDataPath = path;
    return LoadEsriHeader();
  }
  if (!haveColumns || !haveRows || !haveX || !haveY || !haveSize) {
    const char* missing = !haveColumns ? "ncols"
                          : !haveRows  ? "nrows"
                          : !haveX     ? "xllcorner or xllcenter"
                          : !haveY     ? "yllcorner or yllcenter"
                                       : "cellsize";
    return Refuse(path, std::string("the header has no ") + missing);
  }
  if (!(columns >= 1 && columns <= INT32_MAX && columns == std::floor(columns)) ||
      !(rows >= 1 && rows <= INT32_MAX && rows == std::floor(rows)))
    return Refuse(path, "the column and row counts must be whole numbers above zero");
  if (!(cellWidth > 0 && cellHeight > 0 && std::isfinite(cellWidth) && std::isfinite(cellHeight)) ||
      !std::isfinite(x) || !std::isfinite(y))
    return Refuse(path, "the cell size must be above zero and the corner a finite position");
  // Every cell takes at least one byte of text: a header promising more
  // cells than the data file holds bytes is refused before anything is
  // sized from it.
  const double cells = columns * rows;
  ULONGLONG dataBytes = 0;
  if (m_nFormatMode == kEsriHeaderFile) {
    CFileStatus status;
    dataBytes = CFile::GetStatus(m_strDataPath, status) ? status.m_size : 0;
  } else {
    dataBytes = m_TextFile.GetLength() - m_TextFile.GetPosition();
  }
  if (cells > static_cast<double>(dataBytes))
    return Refuse(path, "the file is too short for the " + vtnum::Shortest(cells) + " cells of its header");

  if (m_RequestedPixelFormat < 0) m_RequestedPixelFormat = PF_BIT16;
  if (m_nFormatMode == kEsriHeaderFile) {
    m_RequestedPixelFormat = PF_FLOAT32;
    Close();  // the header file yields the header only
  }
  // Only a real pixel format may go into the format properties.
  if (!IsPixelFormat(m_RequestedPixelFormat)) return -1;
  const ImgPixelFormat format = static_cast<ImgPixelFormat>(m_RequestedPixelFormat);
  // A centre is that of the lower-left cell; the members keep the form the
  // header used when both axes agree, else the corner.
  m_bCenter = xCenter && yCenter ? 1 : 0;
  if (xCenter && !yCenter) x -= cellWidth * 0.5;
  if (yCenter && !xCenter) y -= cellHeight * 0.5;
  m_nColumns = static_cast<int>(columns);
  m_nRows = static_cast<int>(rows);
  m_dLowerLeftX = x;
  m_dLowerLeftY = y;
  m_dCellWidth = cellWidth;
  m_dCellHeight = cellHeight;
  m_bHasNoData = noData ? 1 : 0;
  if (noData) m_dNoDataValue = noDataValue;
  const long widthBytes = CVtImgToolkit::AlignWidth(format, m_nColumns);
  // A row too long for the 32-bit width bytes cannot be handed out.
  if (widthBytes > static_cast<long>(UINT32_MAX)) return Refuse(path, "the rows are too long");
  SetPixelFormat(format);
  SetPixelFormatExt(format);
  SetWidth(static_cast<unsigned long>(m_nColumns));
  SetWidthBytes(static_cast<unsigned long>(widthBytes));
  SetHeight(static_cast<unsigned long>(m_nRows));
  m_bHeaderLoaded = 1;
  return 1;
}

long CImgFileGrid::ReadScanLineEsri(long, CImgScanLine& line, double substitute) {
  if (!m_bOpen || !m_bHeaderLoaded || !m_TextFile.m_pStream) return -1;
  const int format = m_RequestedPixelFormat;
  const long count = m_nColumns;
  // The cells of some formats are wider than the width bytes promise (24
  // stores 4 bytes a cell): a line too small for the row is refused whole.
  if (line.GetSize() < EsriRowBytes(format, count)) return -1;
  unsigned char* data = line.GetData();
  ValueScanner scanner(m_TextFile.m_pStream);
  for (long i = 0; i < count; ++i) {
    double v;
    // The end of input, or text that is no number, ends the row: a short
    // row must not pass for a whole one.
    const ValueScanner::Result r = scanner.Next(v);
    if (r == ValueScanner::kNoMatch) ReportNotANumber(scanner.Token());
    if (r != ValueScanner::kValue) return -1;
    v = CellValue(v, substitute);
    switch (format) {
      case PF_BIT1:
        SetByteBit(data[i / 8], 7 - static_cast<int>(i % 8), ToInt32(v) != 0);
        break;
      case PF_BIT4: {
        const unsigned nibble = static_cast<uint32_t>(ToInt32(v)) & 0x0F;
        unsigned char& byte = data[i / 2];
        byte =
            static_cast<unsigned char>(i % 2 == 0 ? (byte & 0x0F) | (nibble << 4) : (byte & 0xF0) | nibble);
        break;
      }
      case PF_BIT8:
        data[i] = static_cast<unsigned char>(ToInt32(v));
        break;
      case PF_BIT16:
        Store<uint16_t>(data, i, static_cast<uint16_t>(ToInt32(v)));
        break;
      case PF_BIT24:
      case PF_BIT32:
      case PF_INT32:
        Store<int32_t>(data, i, ToInt32(v));
        break;
      case PF_BIT64:
        Store<int64_t>(data, i, ToInt32(v));
        break;
      case PF_FLOAT32:
        Store<float>(data, i, ToFloat(v));
        break;
      case PF_FLOAT64:
        Store<double>(data, i, v);
        break;
      default:
        break;
    }
  }
  return line.GetSize();
}

long CImgFileGrid::WriteScanLine(long, CImgScanLine& line) {
  if (m_nFormatMode != kEsriGrid || !m_bOpen) return -1;
  // A row shorter than the column count would be padded with zeros.
  const ImgPixelFormat format = line.m_PixelFormat;
  if (CVtImgToolkit::BitCount(format) == 0 ||
      line.GetSize() < CVtImgToolkit::AlignWidthByte(format, std::max(m_nColumns, 0)))
    return -1;
  // Floats in the shortest text that reads back as the same value; other
  // cells as whole numbers.
  std::string text;
  text.reserve(static_cast<size_t>(std::max(m_nColumns, 0)) * 12 + 1);
  char value[64];
  for (int i = 0; i < m_nColumns; ++i) {
    const double v = line.GetValue(i);
    std::to_chars_result r;
    if (format == PF_FLOAT32)
      r = std::to_chars(value, value + sizeof value, static_cast<float>(v));
    else if (format == PF_FLOAT64)
      r = std::to_chars(value, value + sizeof value, v);
    else
      r = std::to_chars(value, value + sizeof value, static_cast<long long>(v));
    text.append(value, r.ptr);
    text.push_back(i + 1 < m_nColumns ? ' ' : '\n');
  }
  if (m_nColumns <= 0) text.push_back('\n');
  m_TextFile.Write(text.data(), static_cast<UINT>(text.size()));
  return 1;
}

long CImgFileGrid::SaveEsriHeader() {
  m_bCenter = 0;  // always written in the corner form
  if (!m_bOpen) return 1;
  if (m_dCellWidth > -1e-10 && m_dCellWidth < 1e-10) m_dCellWidth = 1.0;
  CString text;
  text.Format("ncols         %d\nnrows         %d\n", m_nColumns, m_nRows);
  text += "xllcorner     " + Decimal16(m_dLowerLeftX) + "\n";
  text += "yllcorner     " + Decimal16(m_dLowerLeftY) + "\n";
  text += "cellsize      " + Decimal16(m_dCellWidth) + "\n";
  text.AppendFormat("NODATA_value  %d\n", ToInt32(m_dNoDataValue));
  m_TextFile.WriteString(text);
  return 1;
}

bool CImgFileGrid::ParseCellToken(const char* text, size_t length, double& value) {
  if (vtnum::ParseWhole(text, length, value)) return true;
  // A decimal comma (",270E+01" from a comma-decimal locale) is read as a
  // point, as GDAL reads it; a token of several commas is no number.
  if (length > kCellTokenMax) return false;
  const void* comma = std::memchr(text, ',', length);
  if (!comma || std::memchr(text, '.', length)) return false;
  const size_t at = static_cast<size_t>(static_cast<const char*>(comma) - text);
  if (std::memchr(text + at + 1, ',', length - at - 1)) return false;
  char dotted[kCellTokenMax];
  std::memcpy(dotted, text, length);
  dotted[at] = '.';
  return vtnum::ParseWhole(dotted, length, value);
}

void CImgFileGrid::ReportNotANumber(const std::string& token) {
  Refuse(m_TextFile.GetFilePath(), "\"" + token + "\" is not a number");
}

int CImgFileGrid::GetGeoReference(CRect2D& bounds) {
  const double width = m_nColumns * m_dCellWidth;
  const double height = m_nRows * m_dCellHeight;
  if (m_bCenter) {
    // The reference point is the centre of the lower-left cell.
    const double left = m_dLowerLeftX - m_dCellWidth * 0.5, bottom = m_dLowerLeftY - m_dCellHeight * 0.5;
    bounds.SetRect(left, bottom + height, left + width, bottom);
  } else {
    bounds.SetRect(m_dLowerLeftX, m_dLowerLeftY + height, m_dLowerLeftX + width, m_dLowerLeftY);
  }
  return 1;
}

void CImgFileGrid::SetByteBit(unsigned char& byte, int bit, int value) {
  if (bit < 0 || bit > 7) return;
  const unsigned char mask = static_cast<unsigned char>(1u << bit);
  byte = static_cast<unsigned char>(value ? byte | mask : byte & ~mask);
}
