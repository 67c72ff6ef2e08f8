#include "raster/CImgFileRaw.h"

#include <cstdint>
#include <cstdlib>

#include "platform/mfc/CFileFind.h"
#include "platform/mfc/CStdioFile.h"
#include "platform/vtcore/CPoint2D.h"
#include "platform/vtcore/CVtErrorMsg.h"
#include "platform/vtcore/CVtToolkit.h"
#include "platform/vtcore/VtNumber.h"

namespace {
// "Resolution" in code page 936, the key of the cell size.
const char kResolutionKey[] = "\xB7\xD6\xB1\xE6\xC2\xCA";

bool FileFound(const CString& path) {
  CFileFind finder;
  return finder.FindFile(path) != FALSE;
}
}  // namespace

CImgFileRaw::CImgFileRaw() = default;

int CImgFileRaw::OpenForRead(CString path) {
  const CString rawPath = CVtToolkit::ChangeExtName(path, ".raw");
  if (!FileFound(rawPath)) {
    VtGetErrorMsgObj()->FormatMessage(CVtErrorMsg::MSG_FILE_MISSING, rawPath);
    return 0;
  }
  const CString ifoPath = CVtToolkit::ChangeExtName(path, ".ifo");
  if (!FileFound(ifoPath)) {
    VtGetErrorMsgObj()->FormatMessage(CVtErrorMsg::MSG_FILE_MISSING, ifoPath);
    return 0;
  }
  if (!CImgFile::OpenForRead(rawPath)) {
    VtGetErrorMsgObj()->FormatMessage(CVtErrorMsg::MSG_FILE_MISSING, rawPath);
    return 0;
  }
  // A sidecar that cannot be read leaves nothing to describe the image.
  if (!ReadIfoFile(rawPath)) {
    Close();
    return 0;
  }
  return 1;
}

int CImgFileRaw::ReadIfoFile(CString path) {
  const CString ifoPath = CVtToolkit::ChangeExtName(path, ".ifo");
  // A missing sidecar fails the open like an unreadable one.
  CStdioFile ifo;
  if (!ifo.Open(ifoPath, CFile::modeRead | CFile::typeText)) {
    VtGetErrorMsgObj()->FormatMessage(CVtErrorMsg::MSG_FILE_MISSING, ifoPath);
    return 0;
  }

  long long width = -1;
  long long height = -1;
  double cellSize = 1.0;
  CPoint2D corner;  // x: Xmin (north), y: Ymin (east)
  CString line;
  CString parts[2];
  while (ifo.ReadString(line)) {
    const char* key = nullptr;
    for (const char* k : {"Width", "Height", "Xmin", "Ymin", kResolutionKey}) {
      if (line.Find(k) >= 0) {
        key = k;
        break;
      }
    }
    if (!key) continue;
    SplitOneRow(line, parts, 2, "=");
    const char* value = parts[1];
    if (key[0] == 'W')
      width = std::strtoll(value, nullptr, 10);
    else if (key[0] == 'H')
      height = std::strtoll(value, nullptr, 10);
    else if (key[0] == 'X')
      corner.x = vtnum::AtoF(value);
    else if (key[0] == 'Y')
      corner.y = vtnum::AtoF(value);
    else
      cellSize = vtnum::AtoF(value);
  }
  ifo.Close();

  // Both sizes must be given and above zero, and a row of three bytes a
  // pixel must fit the 32-bit width bytes and lie in the raster file (a
  // file cut short still gives the rows it holds).
  CFileStatus status;
  const ULONGLONG rawBytes = CFile::GetStatus(path, status) ? status.m_size : 0;
  const char* problem = nullptr;
  if (width < 0 || height < 0)
    problem = "gives no Width or no Height";
  else if (width == 0 || height == 0 || width > UINT32_MAX / 3 || height > UINT32_MAX)
    problem = "gives an invalid image size";
  else if (static_cast<unsigned long long>(width) * 3 > rawBytes)
    problem = "gives rows longer than the raster file";
  if (problem) {
    CString text;
    text.Format("The sidecar file \"%s\" %s (%lld x %lld).", static_cast<const char*>(ifoPath), problem, width,
                height);
    VtGetErrorMsgObj()->SetMessage(0L, text);
    return 0;
  }
  SetWidth(static_cast<unsigned long>(width));
  SetHeight(static_cast<unsigned long>(height));
  SetPixelFormat(PF_BIT24);
  SetPixelFormatExt(PF_BIT24);
  SetWidthBytes(3 * GetWidth());
  SetOffBits(0);
  m_Bounds.left = corner.y;
  m_Bounds.bottom = corner.x;
  m_Bounds.right = corner.y + static_cast<double>(GetWidth()) * cellSize;
  m_Bounds.top = corner.x + static_cast<double>(GetHeight()) * cellSize;
  return 1;
}

long CImgFileRaw::ReadScanLine(long row, CImgScanLine& line) {
  const uint32_t bytes = m_dwWidthBytes;
  // Rows outside the image, and lines too short for a row, are refused
  // before anything is read.
  if (row < 0 || static_cast<unsigned long>(row) >= GetHeight() ||
      line.GetSize() < static_cast<long long>(bytes))
    return -1;
  Seek(static_cast<LONGLONG>(row) * bytes, CFile::begin);
  if (Read(line.GetData(), bytes) != bytes) return -1;
  return static_cast<long>(bytes);
}

int CImgFileRaw::SplitOneRow(CString& line, CString* parts, int count, const CString& separator) {
  if (!parts) return 0;
  line.Trim();
  int splits = 0;
  for (int i = 0; i < count; ++i) {
    const int at = line.Find(separator);
    if (at >= 0) {
      parts[i] = line.Left(at);
      line.Delete(0, at + separator.GetLength());
      line.TrimLeft();
      ++splits;
    } else {
      parts[i] = line;
    }
    parts[i].Trim();
  }
  return splits >= count - 1 ? 1 : 0;
}
