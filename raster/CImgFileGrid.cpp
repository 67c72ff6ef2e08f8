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

#include "platform/vtcore/CVtImgToolkit.h"
#include "platform/vtcore/CVtToolkit.h"

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

// "%.16f" without trailing zeros and point.
CString Decimal16(double v) {
  CString text;
  text.Format("%.16f", v);
  text.TrimRight('0');
  text.TrimRight('.');
  return text;
}

bool IsSpace(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool IsDigit(int c) { return c >= '0' && c <= '9'; }
bool IsHexDigit(int c) { return IsDigit(c) || ((c | 0x20) >= 'a' && (c | 0x20) <= 'f'); }

// Reads numbers from a stdio stream as "%lf" does: the same text counts as
// a number and gives the same double, but the bytes are scanned straight
// from the stream's own buffer instead of through fscanf, which is several
// times faster. The stream's position stays exact, so anything may read on
// after it.
class ValueScanner {
 public:
  enum Result { kValue, kEnd, kNoMatch };

  explicit ValueScanner(FILE* stream) : m_stream(stream) {
    ::flockfile(m_stream);
    Attach();
  }
  ~ValueScanner() {
    Detach();
    ::funlockfile(m_stream);
  }
  ValueScanner(const ValueScanner&) = delete;
  ValueScanner& operator=(const ValueScanner&) = delete;

  Result Next(double& value) {
    int c = Peek();
    while (IsSpace(c)) {
      ++m_pos;
      c = Peek();
    }
    if (c == EOF) return kEnd;
    m_token.clear();
    return ScanNumber(value) ? kValue : kNoMatch;
  }

 private:
  // The next byte without taking it, or EOF.
  int Peek() {
    if (m_pos == m_end && !Refill()) return EOF;
    return static_cast<unsigned char>(*m_pos);
  }
  // Takes the next byte into the token.
  void Take() { m_token.push_back(*m_pos++); }
  bool TakeIf(char lower) {
    const int c = Peek();
    if (c == EOF || (c | 0x20) != lower) return false;
    Take();
    return true;
  }

#ifdef __GLIBC__
  // glibc's FILE exposes its read buffer; bytes taken from it are given back
  // to the stream by moving its read pointer.
  void Attach() {
    m_pos = m_stream->_IO_read_ptr;
    m_end = m_stream->_IO_read_end;
  }
  void Detach() { m_stream->_IO_read_ptr = m_pos; }
  bool Refill() {
    Detach();
    if (getc_unlocked(m_stream) == EOF) return false;
    --m_stream->_IO_read_ptr;  // getc refilled the buffer; unread its byte
    Attach();
    return m_pos != m_end;
  }
#else
  // Elsewhere one byte at a time, the one looked at but not taken put back.
  void Attach() { m_pos = m_end = m_byte; }
  void Detach() {
    if (m_pos != m_end) ::ungetc(static_cast<unsigned char>(*m_pos), m_stream);
    m_pos = m_end = m_byte;
  }
  bool Refill() {
    const int c = getc_unlocked(m_stream);
    if (c == EOF) return false;
    m_byte[0] = static_cast<char>(c);
    m_pos = m_byte;
    m_end = m_byte + 1;
    return true;
  }
  char m_byte[1];
#endif

  // Takes the longest text "%lf" takes: a sign, then "inf", "infinity",
  // "nan", a hexadecimal or a decimal number. An exponent marker without
  // digits is taken but does not count, as glibc does.
  bool ScanNumber(double& value) {
    bool negative = false;
    if (Peek() == '+' || Peek() == '-') {
      negative = *m_pos == '-';
      ++m_pos;
    }
    const int c = Peek() | 0x20;
    if (c == 'i' || c == 'n') {
      if (c == 'i' ? !(TakeIf('i') && TakeIf('n') && TakeIf('f'))
                   : !(TakeIf('n') && TakeIf('a') && TakeIf('n')))
        return false;
      if (c == 'i' && TakeIf('i') && !(TakeIf('n') && TakeIf('i') && TakeIf('t') && TakeIf('y')))
        return false;
      value = c == 'i' ? HUGE_VAL : std::nan("");
      if (negative) value = -value;
      return true;
    }
    if (Peek() == '0') {
      Take();
      if (TakeIf('x')) return ScanHex(negative, value);
    }
    bool digits = !m_token.empty();
    while (IsDigit(Peek())) Take(), digits = true;
    if (Peek() == '.') {
      Take();
      while (IsDigit(Peek())) Take(), digits = true;
    }
    if (!digits) return false;
    const size_t mantissa = m_token.size();
    if (TakeIf('e')) {
      if (Peek() == '+' || Peek() == '-') Take();
      if (!IsDigit(Peek())) m_token.resize(mantissa);
      while (IsDigit(Peek())) Take();
    }
    const char* first = m_token.data();
    const auto result = std::from_chars(first, first + m_token.size(), value);
    if (result.ec == std::errc::result_out_of_range) {
      value = std::strtod(m_token.c_str(), nullptr);  // strtod's overflow and underflow values
    } else if (result.ec != std::errc()) {
      return false;
    }
    if (negative) value = -value;
    return true;
  }

  // Hexadecimal digits after "0x", a point and a binary exponent: converted
  // by strtod, which knows the form.
  bool ScanHex(bool negative, double& value) {
    while (IsHexDigit(Peek())) Take();
    if (Peek() == '.') {
      Take();
      while (IsHexDigit(Peek())) Take();
    }
    const size_t mantissa = m_token.size();
    if (TakeIf('p')) {
      if (Peek() == '+' || Peek() == '-') Take();
      if (!IsDigit(Peek())) m_token.resize(mantissa);
      while (IsDigit(Peek())) Take();
    }
    value = std::strtod(m_token.c_str(), nullptr);  // "0x" alone reads as 0, as in scanf
    if (negative) value = -value;
    return true;
  }

  FILE* m_stream;
  char* m_pos = nullptr;
  char* m_end = nullptr;
  std::string m_token;
};

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
  CString line;
  if (!m_TextFile.ReadString(line)) return -1;
  line.TrimLeft();
  int space = line.Find(' ');
  if (space < 0) {
    // A first line without a keyword: a data file whose header lies beside
    // it in a .hdr file. That file must have a header of its own.
    const CString path = m_TextFile.GetFilePath();
    Close();
    if (m_nFormatMode == kEsriHeaderFile) return -1;
    CString drive, dir, name, ext;
    CVtToolkit::SplitPath(path, drive, dir, name, ext);
    const CString header = drive + dir + name + ".hdr";
    if (!CVtToolkit::IsFileExisted(header) || !OpenForRead(header)) return -1;
    m_nFormatMode = kEsriHeaderFile;
    return LoadEsriHeader();
  }
  const int columns = ParseInt(line.Mid(space));
  if (columns <= 0) return -1;
  m_nColumns = columns;
  int lines = 1;
  m_bCenter = 0;
  double x = m_dLowerLeftX, y = m_dLowerLeftY, cellSize = 30.0;

  if (m_TextFile.ReadString(line)) {
    ++lines;
    if ((space = line.Find(' ')) >= 0) m_nRows = ParseInt(line.Mid(space + 1));
  }
  for (int axis = 0; axis < 2; ++axis) {
    if (!m_TextFile.ReadString(line)) continue;
    ++lines;
    if ((space = line.Find(' ')) < 0) continue;
    (axis == 0 ? x : y) = std::atof(line.Mid(space + 1));
    if (line.Left(space).CompareNoCase(axis == 0 ? "xllcenter" : "yllcenter") == 0) m_bCenter = 1;
  }
  if (m_TextFile.ReadString(line)) {
    ++lines;
    if ((space = line.Find(' ')) >= 0) cellSize = std::atof(line.Mid(space + 1));
  }
  // An optional no-data line; anything else is the first row of values.
  const ULONGLONG mark = m_TextFile.GetPosition();
  if (m_TextFile.ReadString(line)) {
    CString upper = line;
    upper.MakeUpper();
    if (upper.Find("NO") >= 0 || upper.Find("VALUE") >= 0) {
      ++lines;
      if ((space = line.Find(' ')) >= 0) m_dNoDataValue = std::atof(line.Mid(space + 1));
    } else {
      m_TextFile.Seek(static_cast<LONGLONG>(mark), CFile::begin);
    }
  }

  if (m_RequestedPixelFormat < 0) m_RequestedPixelFormat = PF_BIT16;
  if (m_nFormatMode == kEsriHeaderFile) {
    m_RequestedPixelFormat = PF_FLOAT32;
    Close();  // the header file yields the header only
  }
  // Only a real pixel format may go into the format properties.
  if (!IsPixelFormat(m_RequestedPixelFormat)) return -1;
  const ImgPixelFormat format = static_cast<ImgPixelFormat>(m_RequestedPixelFormat);
  SetPixelFormat(format);
  SetPixelFormatExt(format);
  m_dLowerLeftX = x;
  m_dLowerLeftY = y;
  m_dCellWidth = m_dCellHeight = cellSize;
  m_nRows = m_nRows == INT32_MIN ? INT32_MAX : std::abs(m_nRows);
  SetWidth(static_cast<unsigned long>(m_nColumns));
  const long widthBytes = CVtImgToolkit::AlignWidth(format, m_nColumns);
  SetWidthBytes(static_cast<unsigned long>(widthBytes));
  SetHeight(static_cast<unsigned long>(m_nRows));
  // A row too long for the 32-bit width bytes cannot be handed out.
  if (lines < 5 || m_nRows <= 0 || widthBytes > static_cast<long>(UINT32_MAX)) return -1;
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
    if (scanner.Next(v) != ValueScanner::kValue) return -1;
    if (v - m_dNoDataValue > -1e-10 && v - m_dNoDataValue < 1e-10) v = substitute;
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
  const bool real = format == PF_FLOAT32 || format == PF_FLOAT64;
  std::string text;
  text.reserve(static_cast<size_t>(std::max(m_nColumns, 0)) * 12 + 1);
  char value[400];  // the longest "%f" of a double is 317 characters
  for (int i = 0; i < m_nColumns; ++i) {
    const int n = std::snprintf(value, sizeof value, real ? "%f" : "%.0f", line.GetValue(i));
    text.append(value, static_cast<size_t>(n));
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

int CImgFileGrid::GetGeoReference(CRect2D& bounds) {
  const double width = m_nColumns * m_dCellWidth;
  const double height = m_nRows * m_dCellHeight;
  if (m_bCenter) {
    bounds.SetRect(m_dLowerLeftX - width * 0.5, m_dLowerLeftY + height * 0.5, m_dLowerLeftX + width * 0.5,
                   m_dLowerLeftY - height * 0.5);
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
