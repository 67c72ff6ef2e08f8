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
// Bytes of the file buffered at a time for the run-length decoder, in
// blocks at multiples of this size, so that walking the codes backwards
// meets the same blocks as walking them forwards.
const size_t kCodeWindow = 1 << 16;
// A decoding state is kept once this many code bytes lie past the last kept
// state, or once at least kKeepMinBytes and kKeepRows rows do. A walk to any
// row starts from a kept state, so it covers a few kilobytes at most, while
// the table costs at most a tenth of the file.
const uint64_t kKeepAfterBytes = 4096;
const uint64_t kKeepMinBytes = 256;
const uint32_t kKeepRows = 4;
// One code byte describes at most this many pixels of a row (a run of 255
// pixels in two bytes; a position offset of 255 in four).
const uint64_t kPixelsPerCodeByte = 128;

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

// A colour mask is one run of set bits, or no bits at all.
bool OneRunOfBits(uint32_t mask) { return mask == 0 || ((mask + (mask & (~mask + 1))) & mask) == 0; }

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
  m_States.clear();
  m_bHaveNext = false;
  m_bFileEnded = false;
  for (CodeBlock& b : m_Blocks) {
    b.index = UINT64_MAX;
    b.len = 0;
  }
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
  const ImgPixelFormat fileFormat = CVtImgToolkit::Bit2Format(static_cast<unsigned short>(bits));
  const long rowBytes = CVtImgToolkit::AlignWidth(fileFormat, static_cast<long>(width));
  if (rowBytes <= 0 || rowBytes > INT_MAX) return Refuse(path, "the rows are too long");
  if (fileHeader.bfOffBits >= length) return Refuse(path, "the pixel data starts past the end of the file");

  // The pixels the header describes must be in the file before any row is
  // sized by it. Uncompressed rows are all there (the last one may lack its
  // padding); run-length codes must be able to reach across the width.
  const DWORD compression = os2 ? BI_RGB : info.biCompression;
  const bool encoded = compression == BI_RLE8 || compression == BI_RLE4;
  const uint64_t held = length - fileHeader.bfOffBits;
  const uint64_t pixelBytes =
      static_cast<uint64_t>(CVtImgToolkit::AlignWidthByte(fileFormat, static_cast<long>(width)));
  const uint64_t needed =
      encoded ? (width + kPixelsPerCodeByte - 1) / kPixelsPerCodeByte
              : static_cast<uint64_t>(height - 1) * static_cast<uint64_t>(rowBytes) + pixelBytes;
  if (needed > held) {
    CString why;
    if (encoded)
      why.Format("the file holds %llu bytes of run-length codes, too few for rows of %lu pixels",
                 static_cast<unsigned long long>(held), static_cast<unsigned long>(width));
    else
      why.Format("the file holds %llu bytes of pixels where its header describes %llu",
                 static_cast<unsigned long long>(held), static_cast<unsigned long long>(needed));
    return Refuse(path, static_cast<const char*>(why));
  }

  // Colour masks of 16- and 32-bit pixels: after a 40-byte header, or in the
  // longer headers at the same place (the alpha mask from 56 bytes on).
  uint32_t masks[4] = {0, 0, 0, 0};
  if (!os2 && (bits == 16 || bits == 32)) {
    if (compression == BI_BITFIELDS) {
      Seek(kFileHeaderSize + kInfoHeaderSize, CFile::begin);
      const UINT want = headerSize >= kInfoHeaderSize + 16 ? 16 : 12;
      if (Read(masks, want) != want) return Refuse(path, "the colour masks are incomplete");
    } else if (bits == 16) {
      masks[0] = 0x7C00;
      masks[1] = 0x03E0;
      masks[2] = 0x001F;
    } else {
      masks[0] = 0x00FF0000;
      masks[1] = 0x0000FF00;
      masks[2] = 0x000000FF;
    }
    for (uint32_t m : masks)
      if (!OneRunOfBits(m)) return Refuse(path, "a colour mask is not one run of bits");
  }
  // 32-bit pixels whose masks are not blue, green, red in byte order are
  // turned into that order; 16-bit ones when the caller asked for colours.
  const bool plain32 = masks[0] == 0x00FF0000 && masks[1] == 0x0000FF00 && masks[2] == 0x000000FF &&
                       (masks[3] == 0 || masks[3] == 0xFF000000);
  const bool unpack = !os2 && ((bits == 32 && !plain32) || (bits == 16 && m_bSixteenAsRgb));
  const ImgPixelFormat format = unpack && bits == 16 ? PF_BIT24 : fileFormat;
  const long widthBytes = CVtImgToolkit::AlignWidth(format, static_cast<long>(width));
  if (widthBytes <= 0 || widthBytes > INT_MAX) return Refuse(path, "the rows are too long");

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
    } else if (format == PF_BIT16) {
      m_Palette.SetSize(3);
      std::memcpy(m_Palette.GetData(), masks, 3 * sizeof masks[0]);
    }  // 24 and 32 bits leave the palette as it was
  }
  m_dwTopDown = topDown ? 1 : 0;
  m_nFileBits = bits;
  m_dwRowBytes = static_cast<unsigned long>(rowBytes);
  m_dwPixelBytes = static_cast<unsigned long>(pixelBytes);
  m_bUnpack = unpack;
  for (int i = 0; i < 4; ++i) {
    Mask& m = m_Masks[i];
    m.mask = masks[i];
    m.shift = 0;
    m.bits = 0;
    for (uint32_t v = masks[i]; v && !(v & 1); v >>= 1) ++m.shift;
    for (uint32_t v = masks[i] >> m.shift; v & 1; v >>= 1) ++m.bits;
  }
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
  m_bUnpack = false;
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

namespace {

// A field of `bits` bits widened or narrowed to 8: narrower fields repeat
// their bits downwards (5 bits 10000 become 10000100), so full scale stays
// full scale; wider ones are rounded.
BYTE ToByte(uint32_t value, unsigned bits) {
  if (bits == 8) return static_cast<BYTE>(value);
  if (bits == 0) return 0;
  if (bits > 8) {
    const uint64_t top = (uint64_t{1} << bits) - 1;
    return static_cast<BYTE>((value * uint64_t{255} + top / 2) / top);
  }
  unsigned out = 0;
  for (int at = 8 - static_cast<int>(bits); at > -static_cast<int>(bits); at -= static_cast<int>(bits))
    out |= at >= 0 ? value << at : value >> -at;
  return static_cast<BYTE>(out);
}

}  // namespace

void CImgFileBmp::UnpackMaskedRow(BYTE* row) const {
  auto channel = [this](uint32_t pixel, int i) {
    const Mask& m = m_Masks[i];
    return ToByte((pixel & m.mask) >> m.shift, m.bits);
  };
  if (m_nFileBits == 16) {
    // Three bytes out for two in: from the right, so no pixel is overwritten
    // before it is read.
    for (size_t i = m_dwWidth; i-- > 0;) {
      const uint32_t pixel = row[2 * i] | row[2 * i + 1] << 8;
      BYTE* out = row + 3 * i;
      out[0] = channel(pixel, 2);
      out[1] = channel(pixel, 1);
      out[2] = channel(pixel, 0);
    }
    std::memset(row + 3 * static_cast<size_t>(m_dwWidth), 0,
                m_dwWidthBytes - 3 * static_cast<size_t>(m_dwWidth));
    return;
  }
  for (size_t i = 0; i < m_dwWidth; ++i) {
    BYTE* p = row + 4 * i;
    const uint32_t pixel = p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
    p[0] = channel(pixel, 2);
    p[1] = channel(pixel, 1);
    p[2] = channel(pixel, 0);
    p[3] = channel(pixel, 3);
  }
}

long CImgFileBmp::ReadScanLine(long row, CImgScanLine& line) {
  if (row < 0) return -1;
  if (static_cast<unsigned long>(row) >= m_dwHeight) return 0;
  if (static_cast<unsigned long>(line.GetSize()) < m_dwWidthBytes) return -1;
  if (IsEncoded()) return ReadEncodedRow(row, line);
  Seek(static_cast<LONGLONG>(m_dwOffBits) + static_cast<LONGLONG>(row) * m_dwRowBytes, CFile::begin);
  BYTE* bytes = line.GetData();
  const UINT got = Read(bytes, m_dwRowBytes);
  if (got < m_dwPixelBytes) return kShortRow;
  std::memset(bytes + got, 0, m_dwRowBytes - got);  // a last row without its padding
  if (m_bUnpack) UnpackMaskedRow(bytes);
  return line.GetSize();
}

const CImgFileBmp::CodeBlock* CImgFileBmp::Block(uint64_t index) {
  for (CodeBlock& b : m_Blocks) {
    if (b.index == index) {
      b.stamp = ++m_nStamp;
      return m_pLastBlock = &b;
    }
  }
  CodeBlock& b = m_Blocks[0].stamp <= m_Blocks[1].stamp ? m_Blocks[0] : m_Blocks[1];
  b.data.resize(kCodeWindow);
  b.index = index;
  b.stamp = ++m_nStamp;
  b.len = 0;
  if (index <= static_cast<uint64_t>(LLONG_MAX) / kCodeWindow) {
    Seek(static_cast<LONGLONG>(index * kCodeWindow), CFile::begin);
    b.len = Read(b.data.data(), static_cast<UINT>(kCodeWindow));
  }
  return m_pLastBlock = &b;
}

const BYTE* CImgFileBmp::CodeBytes(uint64_t pos, size_t n) {
  const uint64_t index = pos / kCodeWindow;
  const size_t off = static_cast<size_t>(pos % kCodeWindow);
  const CodeBlock* b = Block(index);
  if (off + n <= b->len) return b->data.data() + off;
  if (b->len < kCodeWindow || off + n <= kCodeWindow) return nullptr;  // the file ends first
  // The bytes straddle two blocks.
  const size_t head = kCodeWindow - off;
  std::memcpy(m_Joined, b->data.data() + off, head);
  const CodeBlock* c = Block(index + 1);
  if (c->len < n - head) return nullptr;
  std::memcpy(m_Joined + head, c->data.data(), n - head);
  return m_Joined;
}

CImgFileBmp::RowEnd CImgFileBmp::StepRow(CodeState& s, BYTE* pixels) {
  const bool four = m_PixelFormat == PF_BIT4;
  const uint32_t width = m_dwWidth;
  uint64_t pos = s.pos;
  uint32_t x = s.x;  // never past the width: what lies beyond is dropped
  // The block the codes are being read from: most codes lie wholly inside
  // it and are read in place.
  const BYTE* window = nullptr;
  uint64_t windowAt = 0, windowEnd = 0;
  auto codeBytes = [&](uint64_t at, size_t n) -> const BYTE* {
    if (at >= windowAt && at + n <= windowEnd) return window + (at - windowAt);
    // Reading may have reloaded the window's block: it is taken afresh.
    const BYTE* bytes = CodeBytes(at, n);
    window = nullptr;
    windowAt = windowEnd = 0;
    if (bytes && bytes != m_Joined) {
      const CodeBlock& b = *m_pLastBlock;
      window = b.data.data();
      windowAt = b.index * kCodeWindow;
      windowEnd = windowAt + b.len;
    }
    return bytes;
  };
  // Pixels land once each in a row cleared beforehand.
  auto putFour = [pixels](uint32_t at, unsigned value) {
    pixels[at / 2] |= static_cast<BYTE>((at & 1) ? value : value << 4);
  };
  auto finish = [&](uint32_t next, uint32_t nextX) {
    m_dwByteCount += static_cast<DWORD>(pos - s.pos);
    s = CodeState{pos, s.row + 1, next >= m_dwHeight ? kNoRow : next, nextX};
    return kRowDone;
  };
  for (;;) {
    const BYTE* code = codeBytes(pos, 2);
    if (!code) return kFileEnded;
    const uint32_t count = code[0], value = code[1];
    if (count > 0) {  // a run of one colour (4-bit: two alternating)
      pos += 2;
      if (pixels && x < width) {
        const uint32_t n = std::min(count, width - x);
        if (!four) {
          std::memset(pixels + x, static_cast<int>(value), n);
        } else {
          for (uint32_t i = 0; i < n; ++i) putFour(x + i, (i & 1) ? value & 0x0F : value >> 4);
        }
      }
      x = std::min(x + count, width);
      continue;
    }
    switch (value) {
      case 0:  // end of row
        pos += 2;
        return finish(s.row + 1, 0);
      case 1:  // end of bitmap
        pos += 2;
        return finish(kNoRow, 0);
      case 2: {  // position offset: right, then down
        const BYTE* offset = codeBytes(pos + 2, 2);
        if (!offset) return kFileEnded;
        pos += 4;
        x = std::min(x + offset[0], width);
        if (offset[1] > 0)
          return finish(static_cast<uint32_t>(std::min<uint64_t>(uint64_t{s.row} + offset[1], kNoRow)), x);
        break;
      }
      default: {  // absolute block of `value` pixels, padded to whole words
        const uint32_t bytes = four ? (value + 1) / 2 : value;
        const BYTE* block = codeBytes(pos + 2, bytes);
        if (!block) return kFileEnded;
        if (pixels && x < width) {
          const uint32_t n = std::min(value, width - x);
          if (!four) {
            std::memcpy(pixels + x, block, n);
          } else {
            for (uint32_t i = 0; i < n; ++i)
              putFour(x + i, (i & 1) ? block[i / 2] & 0x0F : block[i / 2] >> 4);
          }
        }
        x = std::min(x + value, width);
        pos += 2 + bytes + (bytes & 1);
      }
    }
  }
}

void CImgFileBmp::KeepState(const CodeState& s) {
  const CodeState& last = m_States.back();
  if (s.first <= last.first) return;
  const uint64_t bytes = s.pos - last.pos;
  if (s.row == kNoRow || bytes >= kKeepAfterBytes ||
      (bytes >= kKeepMinBytes && s.first - last.first >= kKeepRows))
    m_States.push_back(s);
}

long CImgFileBmp::ReadEncodedRow(long row, CImgScanLine& line) {
  BYTE* pixels = line.GetData();
  std::memset(pixels, 0, static_cast<size_t>(line.GetSize()));
  const uint32_t wanted = static_cast<uint32_t>(row);
  if (m_States.empty()) m_States.push_back(CodeState{m_dwOffBits, 0, 0, 0});
  if (m_bFileEnded && wanted > m_FileEnd.row) return kShortRow;
  // Start from the latest known state at or before the row.
  auto after = std::upper_bound(m_States.begin(), m_States.end(), wanted,
                                [](uint32_t r, const CodeState& s) { return r < s.first; });
  CodeState s = *(after - 1);
  if (m_bHaveNext && m_Next.first <= wanted && m_Next.first > s.first) s = m_Next;
  auto broke = [&](const CodeState& at) {
    m_bFileEnded = true;
    m_FileEnd = at;
    return kShortRow;
  };
  while (s.row < wanted) {
    CodeState next = s;
    if (StepRow(next, nullptr) == kFileEnded) return broke(s);
    s = next;
    KeepState(s);
  }
  // Passed over by a position offset, or after the end of the bitmap: blank.
  if (s.row != wanted) return line.GetSize();
  CodeState next = s;
  if (StepRow(next, pixels) == kFileEnded) return broke(s);
  KeepState(next);
  m_Next = next;
  m_bHaveNext = true;
  return line.GetSize();
}
