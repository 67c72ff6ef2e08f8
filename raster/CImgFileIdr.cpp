#include "raster/CImgFileIdr.h"

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/mfc/CStdioFile.h"
#include "platform/vtcore/CVtErrorMsg.h"
#include "platform/vtcore/CVtImgToolkit.h"
#include "platform/vtcore/CVtToolkit.h"
#include "platform/vtcore/VtNumber.h"

namespace {

// The documentation lines read, their keys, how many characters of the key
// are compared, and the message of a line that fails. Lines 3, 6 to 8, 13
// and 14 are not checked.
struct DocLine {
  int number;  // 1-based
  const char* key;
  int compared;
  unsigned code;
};

const DocLine kDocLines[] = {
    {1, "file title", 10, CVtErrorMsg::MSG_IDRISI_TITLE},
    {2, "data type", 9, CVtErrorMsg::MSG_IDRISI_DATA_TYPE},
    {4, "columns", 7, CVtErrorMsg::MSG_IDRISI_SIZE},
    {5, "rows", 4, CVtErrorMsg::MSG_IDRISI_SIZE},
    {9, "min. x", 6, CVtErrorMsg::MSG_IDRISI_RANGE},
    {10, "max. x", 6, CVtErrorMsg::MSG_IDRISI_RANGE},
    {11, "min. y", 6, CVtErrorMsg::MSG_IDRISI_RANGE},
    {12, "max. y", 6, CVtErrorMsg::MSG_IDRISI_RANGE},
    {15, "min. value", 10, CVtErrorMsg::MSG_IDRISI_RANGE},
    {16, "max. value", 10, CVtErrorMsg::MSG_IDRISI_RANGE},
};

// The value of a documentation line: its text from column 14 on (the key
// padded to 12 characters, a colon and a blank).
const int kValueColumn = 14;

long Fail(unsigned code) {
  VtGetErrorMsgObj()->SetMessage(code, -1, CString());
  return -1;
}

// The leading decimal digits of `text` (after blanks), 0 when there are
// none; saturated rather than wrapped.
long long LeadingDigits(const CString& text) {
  const char* p = text;
  while (*p == ' ' || *p == '\t') ++p;
  long long v = 0;
  for (; *p >= '0' && *p <= '9'; ++p) v = v > (LLONG_MAX - 9) / 10 ? LLONG_MAX : v * 10 + (*p - '0');
  return v;
}

// The documentation's name for the data type of a pixel format, or null.
const char* DataTypeName(ImgPixelFormat format) {
  switch (format) {
    case PF_BIT8: return "byte";
    case PF_BIT16: return "integer";
    case PF_BIT32:
    case PF_FLOAT32: return "real";
    default: return nullptr;
  }
}

// A value of the range: reals as the shortest text of their float.
std::string Value(double v, bool real) {
  return real ? vtnum::Shortest(static_cast<float>(v)) : vtnum::Shortest(v);
}

std::string Line(const char* key, const std::string& value) {
  std::string line = key;
  line.resize(12, ' ');
  return line + ": " + value + "\r\n";
}

}  // namespace

CImgFileIdr::CImgFileIdr() = default;

CImgFileIdr::~CImgFileIdr() = default;

int CImgFileIdr::OpenForRead(CString path) {
  if (!CImgFile::OpenForRead(path)) return 0;
  m_bWriting = false;
  m_strImagePath = path;
  m_strDocPath = CVtToolkit::ChangeExtName(path, ".doc");
  if (!CVtToolkit::IsFileExisted(path)) {
    CImgFile::Close();
    return 0;
  }
  return 1;
}

long CImgFileIdr::LoadImage() {
  CStdioFile doc;
  if (!doc.Open(m_strDocPath, CFile::modeRead | CFile::typeText)) return -1;
  // The sixteen lines, a missing one read as empty so that it fails its
  // check; lines after the sixteenth are not read.
  CString lines[17];
  for (int n = 1; n <= 16 && doc.ReadString(lines[n]); ++n) {
  }
  doc.Close();
  for (const DocLine& d : kDocLines)
    if (lines[d.number].GetLength() < d.compared ||
        lines[d.number].Left(d.compared).CompareNoCase(CString(d.key).Left(d.compared)) != 0)
      return Fail(d.code);

  CString type = lines[2].Mid(kValueColumn);
  type.Trim();
  unsigned short bits = 0;
  if (type.CompareNoCase("byte") == 0)
    bits = 8;
  else if (type.CompareNoCase("integer") == 0)
    bits = 16;
  else if (type.CompareNoCase("real") == 0)
    bits = 32;
  else
    return Fail(CVtErrorMsg::MSG_IDRISI_DATA_TYPE);
  const long long columns = LeadingDigits(lines[4].Mid(kValueColumn));
  const long long rows = LeadingDigits(lines[5].Mid(kValueColumn));
  // An image without pixels, or whose rows are longer than the image file,
  // is not described by this documentation: callers size their lines from it.
  if (columns == 0 || rows == 0 || rows > INT_MAX || columns > INT_MAX ||
      columns > static_cast<long long>(GetLength()) * 8 / bits)
    return Fail(CVtErrorMsg::MSG_IDRISI_SIZE);

  m_strTitle = lines[1].Mid(kValueColumn);
  m_strTitle.TrimRight();
  const ImgPixelFormat format = CVtImgToolkit::Bit2Format(bits);
  m_bmiHeader.biSize = sizeof m_bmiHeader;
  m_bmiHeader.biWidth = static_cast<LONG>(columns);
  m_bmiHeader.biHeight = static_cast<LONG>(rows);
  m_bmiHeader.biPlanes = 1;
  m_bmiHeader.biBitCount = bits;
  SetPixelFormat(format);
  SetPixelFormatExt(format);
  SetWidth(static_cast<unsigned long>(columns));
  SetWidthBytes(static_cast<unsigned long>(CVtImgToolkit::AlignWidth(format, static_cast<long>(columns))));
  SetHeight(static_cast<unsigned long>(rows));
  SetOffBits(0);
  SeekMe();
  return 1;
}

long CImgFileIdr::ReadScanLine(long, CImgScanLine& line) {
  if (m_hFile == hFileNull || m_bWriting) return -1;
  // Rows are stored as they are, without padding to 4 bytes.
  const long bytes = CVtImgToolkit::AlignWidthByte(GetPixelFormat(), static_cast<long>(GetWidth()));
  if (line.GetSize() < bytes) return -1;
  if (Read(line.GetData(), static_cast<UINT>(bytes)) < static_cast<UINT>(bytes)) return -4;
  return line.GetSize();
}

int CImgFileIdr::OpenForWrite(CString path) {
  m_bWriting = m_bSaved = false;
  if (!CImgFile::OpenForWrite(path)) return 0;
  m_strImagePath = path;
  m_strDocPath = CVtToolkit::ChangeExtName(path, ".doc");
  m_bWriting = true;
  m_nRowsWritten = 0;
  m_dMinValue = m_dMaxValue = 0.0;
  return 1;
}

long CImgFileIdr::SaveImage() {
  if (!m_bWriting) return -1;
  const ImgPixelFormat format = GetPixelFormat();
  if (!DataTypeName(format)) {
    CString text;
    text.Format("IDRISI images hold bytes, 16-bit integers or 32-bit reals; pixel format %d cannot be written.",
                static_cast<int>(format));
    VtGetErrorMsgObj()->SetMessage(0L, text);
    return -1;
  }
  if (GetWidth() == 0 || GetHeight() == 0 || GetWidth() > INT_MAX || GetHeight() > INT_MAX) {
    VtGetErrorMsgObj()->SetMessage(0L, CString("An IDRISI image needs at least one row and one column."));
    return -1;
  }
  const unsigned short bits = CVtImgToolkit::BitCount(format);
  m_bmiHeader.biSize = sizeof m_bmiHeader;
  m_bmiHeader.biWidth = static_cast<LONG>(GetWidth());
  m_bmiHeader.biHeight = static_cast<LONG>(GetHeight());
  m_bmiHeader.biPlanes = 1;
  m_bmiHeader.biBitCount = bits;
  SetWidthBytes(static_cast<unsigned long>(CVtImgToolkit::AlignWidth(format, static_cast<long>(GetWidth()))));
  SetOffBits(0);
  if (!WriteDocFile()) {
    VtGetErrorMsgObj()->FormatMessage(CVtErrorMsg::MSG_CANNOT_OPEN, m_strDocPath);
    return -1;
  }
  m_bSaved = true;
  return 1;
}

long CImgFileIdr::WriteScanLine(long, CImgScanLine& line) {
  if (!m_bWriting || !m_bSaved || m_hFile == hFileNull) return -1;
  const ImgPixelFormat format = GetPixelFormat();
  const long bytes = CVtImgToolkit::AlignWidthByte(format, static_cast<long>(GetWidth()));
  if (bytes <= 0 || line.GetSize() < bytes) return -1;
  Write(line.GetData(), static_cast<UINT>(bytes));
  // The range of the values, for the documentation file.
  const unsigned char* data = line.GetData();
  for (unsigned long i = 0; i < GetWidth(); ++i) {
    double v;
    if (format == PF_BIT8) {
      v = data[i];
    } else if (format == PF_BIT16) {
      int16_t cell;
      std::memcpy(&cell, data + 2 * i, 2);
      v = cell;
    } else {
      float cell;
      std::memcpy(&cell, data + 4 * i, 4);
      if (std::isnan(cell)) continue;
      v = cell;
    }
    if (m_nRowsWritten == 0 && i == 0) m_dMinValue = m_dMaxValue = v;
    m_dMinValue = std::fmin(m_dMinValue, v);
    m_dMaxValue = std::fmax(m_dMaxValue, v);
  }
  ++m_nRowsWritten;
  return bytes;
}

void CImgFileIdr::Close() {
  const bool complete = m_bWriting && m_bSaved && m_nRowsWritten > 0;
  m_bWriting = m_bSaved = false;
  CImgFile::Close();
  if (complete && !WriteDocFile())
    VtGetErrorMsgObj()->FormatMessage(CVtErrorMsg::MSG_CANNOT_OPEN, m_strDocPath);
}

bool CImgFileIdr::WriteDocFile() {
  CString drive, dir, name, ext;
  CVtToolkit::SplitPath(m_strImagePath, drive, dir, name, ext);
  const std::string title = m_strTitle.IsEmpty() ? name.str() : m_strTitle.str();
  const std::string columns = std::to_string(GetWidth()), rows = std::to_string(GetHeight());
  const bool real = GetPixelFormat() == PF_BIT32 || GetPixelFormat() == PF_FLOAT32;
  std::string text = Line("file title", title) + Line("data type", DataTypeName(GetPixelFormat())) +
                     Line("file type", "binary") + Line("columns", columns) + Line("rows", rows) +
                     Line("ref. system", "plane") + Line("ref. units", "m") + Line("unit dist.", "1") +
                     Line("min. X", "0") + Line("max. X", columns) + Line("min. Y", "0") + Line("max. Y", rows) +
                     Line("pos'n error", "unknown") + Line("resolution", "unknown") +
                     Line("min. value", Value(m_dMinValue, real)) + Line("max. value", Value(m_dMaxValue, real)) + Line("value units", "unspecified") +
                     Line("value error", "unknown") + Line("flag value", "none") + Line("flag def'n", "none") +
                     Line("legend cats", "0");
  CStdioFile doc;
  if (!doc.Open(m_strDocPath, CFile::modeCreate | CFile::modeWrite | CFile::typeText)) return false;
  doc.WriteString(text.c_str());
  doc.Close();
  return true;
}
