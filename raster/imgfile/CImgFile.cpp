#include "raster/imgfile/CImgFile.h"

#include <algorithm>
#include <cstring>

#include "platform/vtcore/CVtErrorMsg.h"
#include "platform/vtcore/CVtImgToolkit.h"
#include "platform/win/winuser.h"

CImgFile::CImgFile() : m_ModifiedDate(1990, 1, 1, 0, 0, 0, -1) {}

CImgFile::~CImgFile() = default;

BOOL CImgFile::Open(const char* fileName, UINT openFlags, CFileException* error) {
  return CFile::Open(fileName, openFlags, error);
}

void CImgFile::Close() { CFile::Close(); }

int CImgFile::OpenForRead(CString path) {
  CFileException error;
  return CFile::Open(path, CFile::modeRead | CFile::shareDenyNone, &error) ? 1 : 0;
}

int CImgFile::OpenForWrite(CString path) {
  CFileException error;
  return CFile::Open(path, CFile::modeCreate | CFile::modeReadWrite, &error) ? 1 : 0;
}

long CImgFile::LoadImage() { return -1; }
long CImgFile::SaveImage() { return -1; }
long CImgFile::ReadScanLine(long, CImgScanLine&) { return -1; }
long CImgFile::WriteScanLine(long, CImgScanLine&) { return -1; }

long CImgFile::SetPalette(CArray<PALETTEENTRY, PALETTEENTRY>& palette) {
  // Emptying first would wipe the source when it is our own palette.
  if (&palette == &m_Palette) return m_Palette.GetSize();
  m_Palette.SetSize(0);
  m_Palette.SetSize(palette.GetSize());
  for (int i = 0; i < palette.GetSize(); ++i) m_Palette[i] = palette[i];
  return m_Palette.GetSize();
}

void CImgFile::SeekMe() { Seek(m_dwOffBits, CFile::begin); }

long CImgFile::CreateGrayPalette(CArray<PALETTEENTRY, PALETTEENTRY>& palette, long count) {
  if (count < 0) count = 0;
  palette.SetSize(static_cast<int>(count));
  for (long i = 0; i < count; ++i) {
    BYTE v = static_cast<BYTE>(i % 256);
    palette[static_cast<int>(i)] = PALETTEENTRY{v, v, v, 0};
  }
  return 1;
}

CBitmap* CImgFile::Paste() {
  if (!OpenClipboard(nullptr)) return nullptr;
  HANDLE handle = GetClipboardData(CF_BITMAP);
  CBitmap* bitmap = handle ? CBitmap::FromHandle(static_cast<HBITMAP>(handle)) : nullptr;
  CloseClipboard();
  return bitmap;
}

long CImgFile::Copy(CBitmap* bitmap) {
  if (!bitmap) return 1;
  if (OpenClipboard(nullptr)) {
    EmptyClipboard();
    SetClipboardData(CF_BITMAP, bitmap->Detach());
    CloseClipboard();
  }
  return 1;
}

bool CImgFile::DescribeDeviceBitmap(CDC* dc, CBitmap* bitmap, ImgPixelFormat format, BITMAP& info,
                                    DeviceBitmapInfo& dib) {
  std::memset(&info, 0, sizeof info);
  if (!bitmap || !dc || ::GetObject(bitmap->GetSafeHandle(), sizeof(info), &info) == 0 || info.bmWidth <= 0 ||
      info.bmHeight <= 0)
    return false;
  std::memset(&dib, 0, sizeof(dib));
  dib.header.bV4Size = sizeof(BITMAPV4HEADER);
  dib.header.bV4Width = info.bmWidth;
  dib.header.bV4Height = info.bmHeight;
  dib.header.bV4Planes = 1;
  dib.header.bV4BitCount = CVtImgToolkit::BitCount(format);
  dib.header.bV4V4Compression = BI_RGB;
  HBITMAP handle = *bitmap;
  if (GetDIBits(dc->GetSafeHdc(), handle, 0, 1, nullptr, dib.Info(), DIB_RGB_COLORS) == 0) return false;
  SetWidth(static_cast<unsigned long>(info.bmWidth));
  SetHeight(static_cast<unsigned long>(info.bmHeight));
  SetPixelFormat(format);
  return true;
}

long CImgFile::OutputDirect(CString path, CDC* dc, CBitmap* bitmap, ImgPixelFormat format,
                            CRect2D /*bounds*/) {
  if (!OpenForWrite(path)) {
    Close();
    return -1;
  }
  // A file error thrown while writing leaves the object closed like every
  // other exit; the exception goes on to the caller.
  try {
    BITMAP info{};
    DeviceBitmapInfo dib;
    if (!DescribeDeviceBitmap(dc, bitmap, format, info, dib)) {
      Close();
      return -1;
    }
    BITMAPINFO* bmi = dib.Info();
    HBITMAP handle = *bitmap;

    // Colour-table entries are copied unchanged (blue, green, red, 0).
    const int entries = CVtImgToolkit::PaletteSize(format);
    m_Palette.SetSize(entries);
    if (entries) std::memcpy(m_Palette.GetData(), dib.colors, entries * sizeof(PALETTEENTRY));

    if (SaveImage() < 0) {
      Close();
      return -2;
    }

    // GetDIBits fills a row padded to 4 bytes, which may exceed the width
    // bytes SaveImage chose; the line must hold either.
    const long rowBytes = std::max<long>(static_cast<long>(GetWidthBytes()) + 3,
                                         CVtImgToolkit::AlignWidth(format, info.bmWidth));
    CImgScanLine line(format, rowBytes);
    SeekMe();
    for (long row = 0; row < static_cast<long>(GetHeight()); ++row) {
      if (GetDIBits(dc->GetSafeHdc(), handle, static_cast<UINT>(row), 1, line.GetData(), bmi,
                    DIB_RGB_COLORS) == 0) {
        Close();
        return -3;
      }
      if (WriteScanLine(row, line) < 0) {
        Close();
        return -4;
      }
    }
    Close();
    return 1;
  } catch (CFileException&) {
    Abort();
    throw;
  }
}
