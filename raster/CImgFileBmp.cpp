#include "raster/CImgFileBmp.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "platform/vtcore/CVtErrorMsg.h"
#include "platform/vtcore/CVtImgToolkit.h"

// The headers are read and written as they lie in memory: the file's byte
// order must be the machine's.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "BMP headers are read as little-endian structures");

namespace {

const WORD kTypeBM = 0x4D42;  // "BM"
const WORD kTypebm = 0x6D62;  // "bm"
const DWORD kFileHeaderSize = sizeof(BITMAPFILEHEADER);
const DWORD kInfoHeaderSize = sizeof(BITMAPINFOHEADER);
const DWORD kCoreHeaderSize = sizeof(BITMAPCOREHEADER);
// Shortest Windows-style header: OS/2 2.x headers may stop after the bit count.
const DWORD kShortestInfoHeader = 16;
// Bytes of the file buffered at a time for the run-length decoder.
const size_t kCodeWindow = 1 << 16;

bool BmpBitCount(unsigned bits) {
  return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// Compressions this driver reads, for the bit count they apply to.
bool ReadableCompression(DWORD compression, unsigned bits) {
  switch (compression) {
    case BI_RGB:
      return true;
    case BI_RLE8:
      return bits == 8;
    case BI_RLE4:
      return bits == 4;
    case BI_BITFIELDS:
      return bits == 16 || bits == 32;
    default:
      return false;
  }
}

// Records why `path` could not be read or written and returns -1.
long Refuse(const CString& path, const char* why) {
  CString text;
  text.Format("BMP file \"%s\": %s", static_cast<const char*>(path), why);
  VtGetErrorMsgObj()->SetMessage(0L, text);
  return -1;
}

}  // namespace

CImgFileBmp::CImgFileBmp() {
  std::memset(&m_bmfHeader, 0, sizeof m_bmfHeader);
  std::memset(&m_bmiHeader, 0, sizeof m_bmiHeader);
  std::memset(&m_bmcHeader, 0, sizeof m_bmcHeader);
  SetTypeFlag("BM");
}

CImgFileBmp::~CImgFileBmp() = default;

void CImgFileBmp::Close() {
  ResetCodes();
  CImgFile::Close();
}

void CImgFileBmp::ResetCodes() {
  m_RowStarts.clear();
  m_CodesEnd = kNotEnded;
  m_nCodesLen = 0;
  m_qwCodesAt = 0;
}

long CImgFileBmp::LoadImage() {
  const CString path = GetFilePath();
  const ULONGLONG length = GetLength();
  SeekToBegin();
  BITMAPFILEHEADER fileHeader;
  DWORD headerSize = 0;
  if (Read(&fileHeader, kFileHeaderSize) != kFileHeaderSize || Read(&headerSize, 4) != 4)
    return Refuse(path, "the file is too short for a BMP header");
  if (fileHeader.bfType != kTypeBM && fileHeader.bfType != kTypebm) return Refuse(path, "no BM signature");
  if (kFileHeaderSize + static_cast<ULONGLONG>(headerSize) > length)
    return Refuse(path, "the information header runs past the end of the file");
  Seek(kFileHeaderSize, CFile::begin);

  // Everything is read into locals first: a refused file changes nothing.
  const bool os2 = headerSize == kCoreHeaderSize;
  BITMAPCOREHEADER core{};
  BITMAPINFOHEADER info{};
  uint32_t width = 0, height = 0;
  bool topDown = false;
  unsigned bits = 0;
  if (os2) {
    Read(&core, kCoreHeaderSize);
    width = core.bcWidth;
    height = core.bcHeight;
    bits = core.bcBitCount;
  } else {
    if (headerSize < kShortestInfoHeader) return Refuse(path, "unknown information header size");
    // Fields a short header leaves out read as zero; a longer one is read in
    // its first 40 bytes.
    Read(&info, std::min(headerSize, kInfoHeaderSize));
    if (info.biWidth <= 0) return Refuse(path, "the width is not positive");
    if (info.biHeight == 0 || info.biHeight == INT32_MIN) return Refuse(path, "invalid height");
    width = static_cast<uint32_t>(info.biWidth);
    topDown = info.biHeight < 0;
    height = static_cast<uint32_t>(topDown ? -info.biHeight : info.biHeight);
    bits = info.biBitCount;
    if (BmpBitCount(bits) && !ReadableCompression(info.biCompression, bits))
      return Refuse(path, "unsupported compression");
  }
  if (width == 0 || height == 0) return Refuse(path, "the image has no pixels");
  if (!BmpBitCount(bits)) return Refuse(path, "unsupported bit count");
  const ImgPixelFormat format = CVtImgToolkit::Bit2Format(static_cast<unsigned short>(bits));
  const long widthBytes = CVtImgToolkit::AlignWidth(format, static_cast<long>(width));
  if (widthBytes <= 0 || widthBytes > INT_MAX) return Refuse(path, "the rows are too long");
  if (fileHeader.bfOffBits >= length) return Refuse(path, "the pixel data starts past the end of the file");

  // The palette follows the header. Entries the file does not hold (fewer
  // colours used, or the pixels start early) are left black.
  const int entries = CVtImgToolkit::PaletteSize(format);
  const unsigned entryBytes = os2 ? 3 : 4;
  const DWORD paletteAt = kFileHeaderSize + headerSize;
  int stored = entries;
  if (!os2 && info.biClrUsed > 0 && info.biClrUsed < static_cast<DWORD>(entries))
    stored = static_cast<int>(info.biClrUsed);
  if (fileHeader.bfOffBits >= paletteAt)
    stored = static_cast<int>(std::min<DWORD>(stored, (fileHeader.bfOffBits - paletteAt) / entryBytes));
  std::vector<BYTE> table(static_cast<size_t>(entries) * entryBytes, 0);
  if (stored > 0) {
    Seek(paletteAt, CFile::begin);
    const UINT want = static_cast<UINT>(stored) * entryBytes;
    if (Read(table.data(), want) != want) return Refuse(path, "the palette is incomplete");
  }
  DWORD masks[3] = {0, 0, 0};
  if (!os2 && bits == 16) {
    if (info.biCompression == BI_BITFIELDS) {
      Seek(kFileHeaderSize + kInfoHeaderSize, CFile::begin);
      if (Read(masks, sizeof masks) != sizeof masks) return Refuse(path, "the colour masks are incomplete");
    } else {
      masks[0] = 0x7C00;
      masks[1] = 0x03E0;
      masks[2] = 0x001F;
    }
  }

  m_bmfHeader = fileHeader;
  if (os2) {
    m_bmcHeader = core;
    m_wHeaderKind = kOs2Header;
    m_TripleBuffer.SetSize(static_cast<int>(table.size()));
    if (!table.empty()) std::memcpy(m_TripleBuffer.GetData(), table.data(), table.size());
    m_Palette.SetSize(entries);
    for (int i = 0; i < entries; ++i) {
      const BYTE* t = &table[static_cast<size_t>(i) * 3];
      m_Palette[i] = PALETTEENTRY{t[2], t[1], t[0], 0};
    }
  } else {
    m_bmiHeader = info;
    m_wHeaderKind = kWindowsHeader;
    if (entries > 0) {
      m_Palette.SetSize(entries);
      std::memcpy(m_Palette.GetData(), table.data(), table.size());
    } else if (bits == 16) {
      m_Palette.SetSize(3);
      std::memcpy(m_Palette.GetData(), masks, sizeof masks);
    }  // 24 and 32 bits leave the palette as it was
  }
  m_dwTopDown = topDown ? 1 : 0;
  SetPixelFormat(format);
  SetPixelFormatExt(format);
  SetWidth(width);
  SetHeight(height);
  SetWidthBytes(static_cast<unsigned long>(widthBytes));
  SetOffBits(fileHeader.bfOffBits);
  ResetCodes();
  return 1;
}

long CImgFileBmp::SaveImage() {
  const CString path = GetFilePath();
  const unsigned bits = CVtImgToolkit::BitCount(m_PixelFormat);
  if (!BmpBitCount(bits) || CVtImgToolkit::Bit2Format(static_cast<unsigned short>(bits)) != m_PixelFormat)
    return Refuse(path, "a BMP file holds 1, 4, 8, 16, 24 or 32-bit pixels only");
  if (m_dwWidth == 0 || m_dwHeight == 0 || m_dwWidth > INT32_MAX || m_dwHeight > INT32_MAX)
    return Refuse(path, "the image size cannot be written");
  const int entries = CVtImgToolkit::PaletteSize(m_PixelFormat);
  const DWORD offBits = kFileHeaderSize + kInfoHeaderSize + 4 * static_cast<DWORD>(entries);
  const long widthBytes = CVtImgToolkit::AlignWidth(m_PixelFormat, static_cast<long>(m_dwWidth));
  const unsigned long long fileSize = offBits + static_cast<unsigned long long>(widthBytes) * m_dwHeight;
  if (widthBytes > INT_MAX || fileSize > UINT32_MAX)
    return Refuse(path, "the image is too large for a BMP file");

  std::memset(&m_bmfHeader, 0, sizeof m_bmfHeader);
  m_bmfHeader.bfType = kTypeBM;
  m_bmfHeader.bfSize = static_cast<DWORD>(fileSize);
  m_bmfHeader.bfOffBits = offBits;
  std::memset(&m_bmiHeader, 0, sizeof m_bmiHeader);
  m_bmiHeader.biSize = kInfoHeaderSize;
  m_bmiHeader.biWidth = static_cast<LONG>(m_dwWidth);
  m_bmiHeader.biHeight = static_cast<LONG>(m_dwHeight);  // positive: bottom row first
  m_bmiHeader.biPlanes = 1;
  m_bmiHeader.biBitCount = static_cast<WORD>(bits);
  m_bmiHeader.biCompression = BI_RGB;
  m_bmiHeader.biXPelsPerMeter = 283;
  m_bmiHeader.biYPelsPerMeter = 283;
  SetOffBits(offBits);
  SetWidthBytes(static_cast<unsigned long>(widthBytes));
  m_dwTopDown = 0;
  m_wHeaderKind = kWindowsHeader;
  ResetCodes();

  Write(&m_bmfHeader, kFileHeaderSize);
  Write(&m_bmiHeader, kInfoHeaderSize);
  if (entries == 0) return 1;
  // A palette short of the format's entries is replaced whole by a grey
  // ramp; the fourth byte of the entries given stays.
  if (m_Palette.GetSize() < entries) {
    m_Palette.SetSize(entries);
    for (int i = 0; i < entries; ++i) {
      PALETTEENTRY& e = m_Palette[i];
      e.peRed = e.peGreen = e.peBlue = static_cast<BYTE>(i);
    }
  }
  Write(m_Palette.GetData(), 4 * static_cast<UINT>(entries));
  return 1;
}

long CImgFileBmp::WriteScanLine(long, CImgScanLine& line) {
  if (line.GetSize() == 0) return 0;
  if (static_cast<unsigned long>(line.GetSize()) < m_dwWidthBytes) return -1;
  Write(line.GetData(), m_dwWidthBytes);
  return line.GetSize();
}

bool CImgFileBmp::IsEncoded() const {
  return m_wHeaderKind == kWindowsHeader &&
         (m_bmiHeader.biCompression == BI_RLE8 || m_bmiHeader.biCompression == BI_RLE4);
}

long CImgFileBmp::ReadScanLine(long row, CImgScanLine& line) {
  if (row < 0) return -1;
  if (static_cast<unsigned long>(row) >= m_dwHeight) return 0;
  if (static_cast<unsigned long>(line.GetSize()) < m_dwWidthBytes) return -1;
  if (IsEncoded()) return ReadEncodedRow(row, line);
  Seek(static_cast<LONGLONG>(m_dwOffBits) + static_cast<LONGLONG>(row) * m_dwWidthBytes, CFile::begin);
  if (Read(line.GetData(), m_dwWidthBytes) < m_dwWidthBytes) return kShortRow;
  return line.GetSize();
}

int CImgFileBmp::CodeByte(uint64_t pos) {
  if (pos - m_qwCodesAt < m_nCodesLen) return m_Codes[pos - m_qwCodesAt];
  if (pos > static_cast<uint64_t>(LLONG_MAX)) return -1;
  m_Codes.resize(kCodeWindow);
  Seek(static_cast<LONGLONG>(pos), CFile::begin);
  m_qwCodesAt = pos;
  m_nCodesLen = Read(m_Codes.data(), static_cast<UINT>(kCodeWindow));
  return m_nCodesLen ? m_Codes[0] : -1;
}

CImgFileBmp::RowEnd CImgFileBmp::WalkRow(uint64_t& pos, BYTE* pixels, uint32_t width) {
  const bool four = m_PixelFormat == PF_BIT4;
  uint32_t x = 0;
  // Pixels land once each, left to right, in a row cleared beforehand; those
  // past the width are dropped.
  auto put = [&](int value) {
    if (x < width) {
      if (four)
        pixels[x / 2] |= static_cast<BYTE>((x & 1) ? value : value << 4);
      else
        pixels[x] = static_cast<BYTE>(value);
      ++x;
    }
  };
  for (;;) {
    const int count = CodeByte(pos);
    const int value = CodeByte(pos + 1);
    if (count < 0 || value < 0) return kFileEnded;
    pos += 2;
    m_dwByteCount += 2;
    if (count > 0) {  // a run of one colour (4-bit: two alternating)
      if (!pixels) continue;
      if (!four && x < width) {
        const uint32_t n = std::min<uint32_t>(static_cast<uint32_t>(count), width - x);
        std::memset(pixels + x, value, n);
        x += n;
      } else {
        for (int i = 0; i < count && x < width; ++i)
          put(four ? ((i & 1) ? value & 0x0F : value >> 4) : value);
      }
      continue;
    }
    switch (value) {
      case 0:
        return kEndOfRow;
      case 1:
        return kBitmapEnded;
      case 2:  // position offset: its two bytes are skipped
        if (CodeByte(pos + 1) < 0) return kFileEnded;
        pos += 2;
        m_dwByteCount += 2;
        break;
      default: {  // absolute block of `value` pixels, padded to whole words
        const uint32_t bytes = four ? (static_cast<uint32_t>(value) + 1) / 2 : static_cast<uint32_t>(value);
        if (CodeByte(pos + bytes - 1) < 0) return kFileEnded;
        if (pixels) {
          for (int i = 0; i < value && x < width; ++i) {
            const int b = CodeByte(pos + static_cast<uint32_t>(four ? i / 2 : i));
            put(four ? ((i & 1) ? b & 0x0F : b >> 4) : b);
          }
        }
        pos += bytes + (bytes & 1);
        m_dwByteCount += bytes + (bytes & 1);
      }
    }
  }
}

void CImgFileBmp::FindRowStart(long row) {
  if (m_RowStarts.empty()) m_RowStarts.push_back(m_dwOffBits);
  if (static_cast<size_t>(row) < m_RowStarts.size() || m_CodesEnd != kNotEnded) return;
  // Walk on from the last row whose start is known, recording every row
  // start up to the last row, so each later read is one seek away.
  uint64_t pos = m_RowStarts.back();
  while (m_RowStarts.size() < m_dwHeight) {
    const RowEnd end = WalkRow(pos, nullptr, 0);
    if (end != kEndOfRow) {
      m_CodesEnd = end == kBitmapEnded ? kEndOfBitmap : kEndOfFile;
      return;
    }
    m_RowStarts.push_back(pos);
  }
}

long CImgFileBmp::ReadEncodedRow(long row, CImgScanLine& line) {
  FindRowStart(row);
  BYTE* pixels = line.GetData();
  std::memset(pixels, 0, static_cast<size_t>(line.GetSize()));
  const size_t index = static_cast<size_t>(row);
  if (index >= m_RowStarts.size()) {
    // No code describes this row: after an end of bitmap it is blank.
    return m_CodesEnd == kEndOfBitmap ? line.GetSize() : kShortRow;
  }
  uint64_t pos = m_RowStarts[index];
  const RowEnd end = WalkRow(pos, pixels, m_dwWidth);
  // Reading in order finds the next row's start on the way.
  if (index + 1 == m_RowStarts.size() && m_CodesEnd == kNotEnded) {
    if (end == kEndOfRow && m_RowStarts.size() < m_dwHeight)
      m_RowStarts.push_back(pos);
    else if (end != kEndOfRow)
      m_CodesEnd = end == kBitmapEnded ? kEndOfBitmap : kEndOfFile;
  }
  return end == kFileEnded ? kShortRow : line.GetSize();
}
