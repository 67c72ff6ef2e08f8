#include "raster/CImgFileFst.h"

#include <climits>
#include <cstring>

#include "platform/mfc/CStdioFile.h"
#include "platform/vtcore/CVtImgToolkit.h"
#include "platform/vtcore/CVtToolkit.h"

namespace {

const char* const kHeaderCodes[] = {"HPN", "HRF", "HTM"};
const char* const kBandCodes[] = {"B10", "B20", "B30", "B40", "B50", "B61", "B62", "B70", "B80"};

// The number that `text` (trimmed) starts with: its leading decimal digits.
// False when it starts with none, or with a number beyond 32 bits: such a
// value leaves the property alone. A size of zero or below is no size: it
// sets `refusal` (when empty) naming `what` and the text, and gives false.
bool SizeValue(CString text, unsigned long& value, const char* what, CString& refusal) {
  text.Trim();
  const char* p = text;
  const bool negative = *p == '-' && p[1] >= '0' && p[1] <= '9';
  if (negative) ++p;
  if (*p < '0' || *p > '9') return false;
  unsigned long long v = 0;
  const char* digits = p;
  for (; *p >= '0' && *p <= '9'; ++p) {
    v = v * 10 + static_cast<unsigned>(*p - '0');
    if (v > INT_MAX) break;
  }
  if (negative || v == 0) {
    if (refusal.IsEmpty()) refusal.Format("%s %s%.*s is not a size", what, negative ? "-" : "",
                                          static_cast<int>(p - digits), digits);
    return false;
  }
  if (v > INT_MAX) return false;
  value = static_cast<unsigned long>(v);
  return true;
}

bool EndsWithNoCase(const CString& text, const char* suffix) {
  const int n = static_cast<int>(std::strlen(suffix));
  return text.GetLength() >= n && text.Right(n).CompareNoCase(suffix) == 0;
}

}  // namespace

CImgFileFst::CImgFileFst() = default;

CImgFileFst::~CImgFileFst() = default;

int CImgFileFst::GetFileType(const CString& name, int& isHeader) {
  if (name.GetLength() <= 2 || name.Left(2).CompareNoCase("L7") != 0) return 0;
  const CString code = name.Right(3);
  for (const char* header : kHeaderCodes)
    if (code.CompareNoCase(header) == 0) {
      isHeader = 1;
      return 1;
    }
  for (const char* band : kBandCodes)
    if (code.CompareNoCase(band) == 0) {
      isHeader = 0;
      return 1;
    }
  return 0;
}

int CImgFileFst::SplitOneLine(const CString& line, CString& first, CString& second) {
  CString text = line;
  text.Trim();
  if (text.GetLength() <= 7 || text.Left(8).CompareNoCase("FILENAME") != 0) return 0;
  const CString rest = text.Mid(text.Find('=') + 1);
  const int equals = rest.Find('=');
  if (equals < 0) return 0;
  CString secondName = rest.Mid(equals + 1);
  secondName.Trim();
  CString before = rest.Left(equals);
  before.TrimRight();
  if (before.GetLength() <= 8 || !EndsWithNoCase(before, "FILENAME")) return 0;
  CString firstName = before.Left(before.GetLength() - 8);
  firstName.Trim();
  // Names lose their extension (the last four characters).
  int shortened = 0;
  for (CString* name : {&firstName, &secondName})
    if (name->GetLength() >= 5) {
      *name = name->Left(name->GetLength() - 4);
      shortened = 1;
    }
  first = firstName;
  second = secondName;
  return shortened;
}

int CImgFileFst::FindHeaderFile(const CString& bandPath, CString& headerPath) {
  headerPath.Empty();
  if (!CVtToolkit::IsFileExisted(bandPath)) return 0;
  CString drive, dir, name, ext;
  CVtToolkit::SplitPath(bandPath, drive, dir, name, ext);
  int isHeader = 0;
  if (!GetFileType(name, isHeader) || isHeader) return 0;
  const CString stem = name.Left(name.GetLength() - 3);
  for (const char* code : kHeaderCodes) {
    const CString candidate = drive + dir + stem + code + ext;
    if (!CVtToolkit::IsFileExisted(candidate)) continue;
    CStdioFile header;
    if (!header.Open(candidate, CFile::modeRead | CFile::typeText)) continue;
    CString line, first, second;
    while (header.ReadString(line)) {
      if (SplitOneLine(line, first, second) &&
          (first.CompareNoCase(name) == 0 || second.CompareNoCase(name) == 0)) {
        headerPath = candidate;
        break;
      }
    }
    header.Close();
    if (!headerPath.IsEmpty()) break;
  }
  return headerPath.IsEmpty() ? 0 : 1;
}

long CImgFileFst::LoadImage() {
  if (m_hFile == hFileNull) return -1;
  CString headerPath;
  if (!FindHeaderFile(GetFilePath(), headerPath)) return -1;
  CStdioFile header;
  if (!header.Open(headerPath, CFile::modeRead | CFile::typeText)) return -1;
  m_strRefusal.Empty();
  m_nRecordBytes = 0;
  unsigned long width = GetWidth(), height = GetHeight(), recordBytes = 0;
  ImgPixelFormat format = GetPixelFormat();
  CString line;
  while (header.ReadString(line)) {
    line.Trim();
    const CString key = line.Left(6);
    if (key.CompareNoCase("VOLUME") == 0) {
      // "VOLUME #/# IN SET =1/1  PIXELS PER LINE = 7981  LINES PER BAND = 7101/ 7101"
      const int first = line.Find('=');
      if (first < 0) continue;
      CString rest = line.Mid(first + 1);
      const int second = rest.Find('=');
      if (second < 0) continue;
      rest = rest.Mid(second + 1);
      CString pixels = rest;
      pixels.TrimLeft();
      const int lines = pixels.Find("LINES");
      if (lines >= 0) SizeValue(pixels.Left(lines), width, "PIXELS PER LINE", m_strRefusal);
      const int third = rest.Find('=');
      if (third < 0) continue;
      const CString after = rest.Mid(third + 1);
      const int slash = after.Find('/');
      SizeValue(slash >= 0 ? after.Left(slash) : after, height, "LINES PER BAND", m_strRefusal);
    } else if (line.Find("REC SIZE") >= 0) {
      // "START LINE #=    1  BLOCKING FACTOR =  1  REC SIZE = 7981": the bytes
      // from one row to the next.
      const int equals = line.Find('=', line.Find("REC SIZE"));
      if (equals >= 0) SizeValue(line.Mid(equals + 1), recordBytes, "REC SIZE", m_strRefusal);
    } else if (key.CompareNoCase("OUTPUT") == 0) {
      // "OUTPUT BITS PER PIXEL = 8  ACQUIRED BITS PER PIXEL = 8"
      const int equals = line.Find('=');
      if (equals < 0) continue;
      const int acquired = line.Find("ACQUIRED", equals + 1);
      unsigned long bits = 0;
      CString ignored;  // a bit count that is not 8 or 16 is passed over
      if (SizeValue(acquired >= 0 ? line.Mid(equals + 1, acquired - equals - 1) : line.Mid(equals + 1), bits,
                    "OUTPUT BITS PER PIXEL", ignored) &&
          (bits == 8 || bits == 16))
        format = bits == 8 ? PF_BIT8 : PF_BIT16;
    }
  }
  header.Close();
  if (!m_strRefusal.IsEmpty()) return -1;

  // Rows longer than the whole band file belong to another file: callers
  // size their lines from them.
  const unsigned long long rowBytes = static_cast<unsigned long long>(width) * CVtImgToolkit::BitCount(format) / 8;
  if (rowBytes == 0 || rowBytes > GetLength()) return -1;
  // Records longer than a row hold the row and padding; shorter ones would
  // cut every row.
  if (recordBytes != 0 && recordBytes < rowBytes) {
    m_strRefusal.Format("REC SIZE %lu is shorter than a row of %llu bytes", recordBytes, rowBytes);
    return -1;
  }
  m_nRecordBytes = recordBytes != 0 ? recordBytes : static_cast<unsigned long>(rowBytes);
  SetWidth(width);
  SetHeight(height);
  SetPixelFormat(format);
  SetPixelFormatExt(format);
  SetWidthBytes(static_cast<unsigned long>(rowBytes));
  SetOffBits(0);
  return 1;
}

long CImgFileFst::ReadScanLine(long row, CImgScanLine& line) {
  const unsigned long bytes = GetWidthBytes();
  if (m_hFile == hFileNull || line.GetSize() == 0 || static_cast<unsigned long>(line.GetSize()) < bytes || bytes == 0)
    return 0;
  if (row < 0 || static_cast<unsigned long>(row) >= GetHeight()) return 0;
  const long long offset = static_cast<long long>(row) * (m_nRecordBytes > bytes ? m_nRecordBytes : bytes);
  SetOffBits(static_cast<unsigned long>(offset));
  Seek(offset, CFile::begin);
  const UINT got = Read(line.GetData(), static_cast<UINT>(bytes));
  if (got == 0) return 0;
  if (got < bytes) std::memset(line.GetData() + got, 0, bytes - got);
  return 1;
}
