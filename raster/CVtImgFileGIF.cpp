#include "raster/CVtImgFileGIF.h"

#include <gif_lib.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/vtcore/CVtErrorMsg.h"
#include "platform/vtcore/CVtImgToolkit.h"

namespace {

// Reads a file front to back through a buffer; Byte() is -1 past the end.
class ByteReader {
 public:
  explicit ByteReader(FILE* file) : m_file(file) {}
  int Byte() {
    if (m_pos == m_len) {
      m_len = std::fread(m_buf, 1, sizeof m_buf, m_file);
      m_pos = 0;
      if (m_len == 0) return -1;
    }
    return m_buf[m_pos++];
  }
  // Skips `n` bytes; false when the file ends first.
  bool Skip(size_t n) {
    while (n > 0) {
      if (m_pos == m_len) {
        m_len = std::fread(m_buf, 1, sizeof m_buf, m_file);
        m_pos = 0;
        if (m_len == 0) return false;
      }
      const size_t step = std::min(n, m_len - m_pos);
      m_pos += step;
      n -= step;
    }
    return true;
  }
  // A little-endian 16-bit word; -1 past the end.
  long Word() {
    const int lo = Byte(), hi = Byte();
    return (lo < 0 || hi < 0) ? -1 : lo | hi << 8;
  }

 private:
  FILE* m_file;
  unsigned char m_buf[1 << 16];
  size_t m_pos = 0, m_len = 0;
};

// The most pixels an LZW code stream of `bytes` bytes can yield. The k-th
// code after a clear code stands for at most k pixels (each new table entry
// is one longer than an older one) and never more than the 4096 a full table
// allows; it is at least floor(log2(k + 1)) bits wide, as the code width
// grows with the table, and 12 bits once the table is full. Clear codes only
// lower the yield, so the bound assumes none.
uint64_t MaxPixels(uint64_t bytes) {
  uint64_t bits = bytes * 8, pixels = 0;
  for (uint64_t k = 1; k < 4096; ++k) {
    uint64_t width = 0;
    while ((uint64_t(2) << width) <= k + 1) ++width;
    width = std::max<uint64_t>(width, 1);
    if (bits < width) return pixels;
    bits -= width;
    pixels += k;
  }
  return pixels + bits / 12 * 4096;
}

// Walks the blocks of a GIF after its 6-byte signature: screen descriptor,
// colour tables, extensions and images, up to the trailer. Checks what must
// hold before giflib allocates anything: every image's pixels fit what its
// code stream can hold (and giflib's int arithmetic), the first image is
// not empty nor larger than the screen, and the file does not end early.
// Returns an empty text when the layout is sound, else why not.
std::string CheckLayout(FILE* file) {
  ByteReader in(file);
  if (!in.Skip(6)) return "the file ends inside its header";
  const long screenWidth = in.Word(), screenHeight = in.Word();
  const int screenFlags = in.Byte();
  if (screenWidth < 0 || screenHeight < 0 || screenFlags < 0 || !in.Skip(2))
    return "the file ends inside its screen descriptor";
  if ((screenFlags & 0x80) && !in.Skip(3u << ((screenFlags & 7) + 1)))
    return "the file ends inside its colour map";
  int images = 0;
  for (;;) {
    const int record = in.Byte();
    if (record < 0) return "the file ends before its trailer";
    if (record == 0x3B) break;
    if (record == 0x21) {  // extension: label, then data sub-blocks
      if (in.Byte() < 0) return "the file ends inside an extension";
    } else if (record == 0x2C) {
      in.Word();
      in.Word();
      const long width = in.Word(), height = in.Word();
      const int flags = in.Byte();
      if (flags < 0) return "the file ends inside an image descriptor";
      if (images == 0) {
        if (width == 0 || height == 0) return "the first image is empty";
        if (width > screenWidth || height > screenHeight) return "the first image is larger than its screen";
      }
      if ((flags & 0x80) && !in.Skip(3u << ((flags & 7) + 1))) return "the file ends inside a colour map";
      if (in.Byte() < 0) return "the file ends inside an image";  // LZW code size
      uint64_t data = 0;
      for (int n; (n = in.Byte()) != 0; data += static_cast<uint64_t>(n))
        if (n < 0 || !in.Skip(static_cast<size_t>(n))) return "the code stream of an image ends early";
      const uint64_t pixels = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
      if (pixels > static_cast<uint64_t>(INT_MAX) || pixels > MaxPixels(data))
        return "an image is larger than its code stream can hold";
      ++images;
      continue;
    } else {
      return "the file holds a record of unknown type";
    }
    for (int n; (n = in.Byte()) != 0;)
      if (n < 0 || !in.Skip(static_cast<size_t>(n))) return "the file ends inside an extension";
  }
  return images ? std::string() : "the file holds no image";
}

// Packs one index a byte into rows of `bits` (1 or 4) bits per pixel, the
// first pixel in the high bits.
void PackRow(const GifByteType* indices, uint32_t width, int bits, BYTE* out) {
  const int perByte = 8 / bits;
  const int mask = (1 << bits) - 1;
  for (uint32_t x = 0; x < width; ++x) {
    const int shift = 8 - bits * (static_cast<int>(x % perByte) + 1);
    out[x / perByte] |= static_cast<BYTE>((indices[x] & mask) << shift);
  }
}

// Row length of the quantizer's 24-bit and 8-bit buffers: padded to 16 bits.
size_t Row24(size_t width) { return ((width * 24 + 15) >> 4) * 2; }
size_t Row8(size_t width) { return ((width * 8 + 15) >> 4) * 2; }

// 5-5-5 device rows into 24-bit rows (blue, green, red).
void DdbBits16ToBits24(const BYTE* source, size_t width, size_t height, BYTE* target) {
  const size_t in = ((width * 16 + 15) >> 4) * 2, out = Row24(width);
  for (size_t y = 0; y < height; ++y) {
    const BYTE* s = source + y * in;
    BYTE* t = target + y * out;
    for (size_t x = 0; x < width; ++x) {
      const unsigned v = s[2 * x] | s[2 * x + 1] << 8;
      auto expand = [](unsigned five) { return static_cast<BYTE>((five << 3) | (five >> 2)); };
      t[3 * x] = expand(v & 31);
      t[3 * x + 1] = expand((v >> 5) & 31);
      t[3 * x + 2] = expand((v >> 10) & 31);
    }
  }
}

// Indices of up to `limit` distinct colours; colours are red << 16 | green << 8 | blue.
class ColourTable {
 public:
  // The index of `colour`, added when new; -1 when it would be colour
  // number `limit` + 1.
  int Find(uint32_t colour, size_t limit) {
    size_t slot = (colour * 2654435761u) >> (32 - kBits);
    for (;; slot = (slot + 1) & (kSlots - 1)) {
      if (m_keys[slot] == colour + 1) return m_index[slot];
      if (m_keys[slot] == 0) break;
    }
    if (m_colours.size() == limit) return -1;
    m_keys[slot] = colour + 1;
    m_index[slot] = static_cast<uint16_t>(m_colours.size());
    m_colours.push_back(colour);
    return m_index[slot];
  }
  const std::vector<uint32_t>& Colours() const { return m_colours; }

 private:
  // Four times the most colours kept, so that probes stay short.
  static constexpr int kBits = 10;
  static constexpr size_t kSlots = size_t(1) << kBits;
  uint32_t m_keys[kSlots] = {};  // colour + 1; 0 for a free slot
  uint16_t m_index[kSlots] = {};
  std::vector<uint32_t> m_colours;
};

// When the opaque pixels of the 24-bit rows `source` (blue, green, red) hold
// no more than `limit` colours: `colours` receives them in ascending order of
// red, green, blue, `indices` each opaque pixel's index among them, and the
// result is true. Pixels whose `alpha` is 0 are not counted and their index
// is left as it was; a null `alpha` means every pixel is opaque.
bool ExactColours(const unsigned char* source, const unsigned char* alpha, size_t width, size_t height,
                  size_t limit, unsigned char* indices, std::vector<GifColorType>& colours) {
  auto table = std::make_unique<ColourTable>();
  const size_t in = Row24(width), out = Row8(width);
  uint32_t last = 0;
  int lastIndex = -1;
  for (size_t y = 0; y < height; ++y) {
    const unsigned char* s = source + y * in;
    unsigned char* t = indices + y * out;
    for (size_t x = 0; x < width; ++x, s += 3) {
      if (alpha && alpha[y * width + x] == 0) continue;
      const uint32_t colour = uint32_t(s[2]) << 16 | uint32_t(s[1]) << 8 | s[0];
      if (lastIndex < 0 || colour != last) {
        lastIndex = table->Find(colour, limit);
        if (lastIndex < 0) return false;
        last = colour;
      }
      t[x] = static_cast<unsigned char>(lastIndex);
    }
  }
  // Ascending colours, so that a grey ramp keeps its order in the map.
  const std::vector<uint32_t>& found = table->Colours();
  std::vector<uint32_t> sorted = found;
  std::sort(sorted.begin(), sorted.end());
  unsigned char order[256] = {};
  for (size_t i = 0; i < found.size(); ++i)
    order[i] =
        static_cast<unsigned char>(std::lower_bound(sorted.begin(), sorted.end(), found[i]) - sorted.begin());
  for (size_t y = 0; y < height; ++y) {
    unsigned char* t = indices + y * out;
    for (size_t x = 0; x < width; ++x)
      if (!alpha || alpha[y * width + x]) t[x] = order[t[x]];
  }
  colours.clear();
  for (uint32_t c : sorted)
    colours.push_back(GifColorType{static_cast<GifByteType>(c >> 16), static_cast<GifByteType>(c >> 8),
                                   static_cast<GifByteType>(c)});
  return true;
}

}  // namespace

CVtImgFileGIF::CVtImgFileGIF() = default;

CVtImgFileGIF::~CVtImgFileGIF() { Close(); }

void CVtImgFileGIF::Close() {
  if (m_pGifFile) {
    int error = 0;
    DGifCloseFile(m_pGifFile, &error);
    m_pGifFile = nullptr;
  }
  m_nRasterWidth = m_nRasterHeight = 0;
  if (m_hFile != hFileNull) CImgFile::Close();
}

long CVtImgFileGIF::Fail(long code, const std::string& text) {
  VtGetErrorMsgObj()->SetMessage(0L, CString(text.c_str()));
  return code;
}

long CVtImgFileGIF::CheckHeader(const CString& path) {
  FILE* file = std::fopen(path, "rb");
  if (!file) return -1;
  char signature[4] = {}, version[4] = {};
  long result;
  if (std::fread(signature, 1, 3, file) != 3 || std::strcmp(signature, "GIF") != 0)
    result = 0;
  else
    result = (std::fread(version, 1, 3, file) == 3 && std::strcmp(version, "89a") <= 0) ? 1 : -2;
  std::fclose(file);
  return result;
}

int CVtImgFileGIF::OpenForRead(CString path) {
  Close();
  m_nGifError = 0;
  const long header = CheckHeader(path);
  if (header == -1) return static_cast<int>(Fail(0, std::string("cannot open ") + path.str()));
  if (header == -2) return static_cast<int>(Fail(0, "GIF version later than 89a"));
  if (header == 0) return static_cast<int>(Fail(0, "not a GIF file"));
  FILE* file = std::fopen(path, "rb");
  if (!file) return static_cast<int>(Fail(0, std::string("cannot open ") + path.str()));
  const std::string layout = CheckLayout(file);
  std::fclose(file);
  if (!layout.empty()) return static_cast<int>(Fail(0, "damaged GIF: " + layout));

  int error = 0;
  GifFileType* gif = DGifOpenFileName(path, &error);
  if (!gif) {
    m_nGifError = error;
    return static_cast<int>(Fail(0, std::string("giflib: ") + GifErrorString(error)));
  }
  if (DGifSlurp(gif) != GIF_OK || gif->ImageCount < 1 || !gif->SavedImages[0].RasterBits) {
    m_nGifError = gif->Error ? gif->Error : D_GIF_ERR_NO_IMAG_DSCR;
    DGifCloseFile(gif, &error);
    return static_cast<int>(Fail(0, std::string("giflib: ") + GifErrorString(m_nGifError)));
  }
  m_pGifFile = gif;
  return 1;
}

long CVtImgFileGIF::LoadImage() {
  if (!m_pGifFile || m_pGifFile->ImageCount < 1) return -1;
  const SavedImage& image = m_pGifFile->SavedImages[0];
  const uint32_t width = static_cast<uint32_t>(image.ImageDesc.Width);
  const uint32_t height = static_cast<uint32_t>(image.ImageDesc.Height);

  // The colour resolution (1 to 8 bits) rounded up to a format with a
  // palette; 8 bits when an index of the image would not fit in fewer.
  const int resolution = m_pGifFile->SColorResolution;
  int bits = resolution <= 1 ? 1 : resolution <= 4 ? 4 : 8;
  if (bits < 8) {
    const GifByteType* p = image.RasterBits;
    const GifByteType* end = p + static_cast<size_t>(width) * height;
    GifByteType all = 0;
    for (; p != end; ++p) all |= *p;
    if (all >> bits) bits = 8;
  }
  const ImgPixelFormat format = CVtImgToolkit::Bit2Format(static_cast<unsigned short>(bits));

  SetWidth(width);
  SetHeight(height);
  SetPixelFormat(format);
  SetPixelFormatExt(format);
  SetWidthBytes(static_cast<unsigned long>(CVtImgToolkit::AlignWidth(format, width)));

  // The image's own colour map rules its pixels when it has one (as in
  // GDAL and every viewer); otherwise the screen's. Entries past the map,
  // or all of them without a map, are black.
  const int entries = CVtImgToolkit::PaletteSize(format);
  m_Palette.SetSize(0);
  const ColorMapObject* map = image.ImageDesc.ColorMap ? image.ImageDesc.ColorMap : m_pGifFile->SColorMap;
  if (map)
    for (int i = 0; i < map->ColorCount; ++i)
      m_Palette.Add(PALETTEENTRY{map->Colors[i].Red, map->Colors[i].Green, map->Colors[i].Blue, 0});
  while (m_Palette.GetSize() < entries) m_Palette.Add(PALETTEENTRY{0, 0, 0, 0});
  m_nRasterWidth = width;
  m_nRasterHeight = height;
  return 1;
}

long CVtImgFileGIF::ReadScanLine(long row, CImgScanLine& line) {
  if (!m_pGifFile || m_pGifFile->ImageCount < 1 || !m_pGifFile->SavedImages[0].RasterBits) return 0;
  if (m_nRasterWidth == 0 || row < 0 || static_cast<unsigned long>(row) >= m_nRasterHeight) return -1;
  const unsigned long bytes = GetWidthBytes();
  if (static_cast<unsigned long>(line.GetSize()) < bytes) return -1;
  const int bits = CVtImgToolkit::BitCount(GetPixelFormat());
  if (bits != 1 && bits != 4 && bits != 8) return -1;
  if (static_cast<unsigned long>(CVtImgToolkit::AlignWidthByte(GetPixelFormat(), m_nRasterWidth)) > bytes)
    return -1;

  // giflib keeps one index a byte, rows of the image's width, in display order.
  const GifByteType* indices =
      m_pGifFile->SavedImages[0].RasterBits + static_cast<size_t>(row) * m_nRasterWidth;
  BYTE* out = line.GetData();
  if (bits == 8) {
    std::memcpy(out, indices, m_nRasterWidth);
    std::memset(out + m_nRasterWidth, 0, bytes - m_nRasterWidth);
  } else {
    std::memset(out, 0, bytes);
    PackRow(indices, m_nRasterWidth, bits, out);
  }
  return 1;
}

long CVtImgFileGIF::GetPalette(CArray<PALETTEENTRY, PALETTEENTRY>& palette) {
  if (m_Palette.GetSize() == 0) return 0;
  palette.SetSize(m_Palette.GetSize());
  for (int i = 0; i < m_Palette.GetSize(); ++i) palette[i] = m_Palette[i];
  return 1;
}

long CVtImgFileGIF::CalcWidthBytes(long width, unsigned char bitsPerPixel) {
  return ((width * bitsPerPixel + 15) / 16) * 2;
}

void CVtImgFileGIF::Bits32ToBits24(unsigned char* source, unsigned char*& target) {
  const size_t width = m_dwWidth, in = m_dwWidthBytes, out = Row24(width);
  for (size_t y = 0; y < m_dwHeight; ++y) {
    const unsigned char* s = source + y * in;
    unsigned char* t = target + y * out;
    for (size_t x = 0; x < width; ++x, s += 4, t += 3) {
      t[0] = s[0];
      t[1] = s[1];
      t[2] = s[2];
    }
  }
}

void CVtImgFileGIF::QuantizeColor(unsigned char* source, unsigned char*& indices, CPalette*& palette) {
  // Sums are 64-bit: one cell of a large picture can hold more than 2^32 / 255
  // pixels, whose 32-bit sum would wrap and give the cell a wrong colour.
  struct Cell {
    uint64_t red = 0, green = 0, blue = 0;
    uint32_t count = 0;
    bool kept = true;
  };
  Cell cells[kCells];
  const size_t width = m_dwWidth, height = m_dwHeight;
  const size_t in = Row24(width), out = Row8(width);

  // Transparent pixels (alpha 0) have no colour to keep: they count in no
  // cell and get their own index afterwards.
  const unsigned char* alpha = m_Alpha.size() == width * height ? m_Alpha.data() : nullptr;

  // 1. Every pixel into its cell; the cell number stands in for the index.
  for (size_t y = 0; y < height; ++y) {
    const unsigned char* s = source + y * in;
    unsigned char* t = indices + y * out;
    for (size_t x = 0; x < width; ++x, s += 3) {
      if (alpha && alpha[y * width + x] == 0) {
        t[x] = 0;
        continue;
      }
      const unsigned blue = s[0], green = s[1], red = s[2];
      const unsigned qb = blue < 210 ? blue / 42 : 5;
      const unsigned qg = green < 216 ? green / 36 : 6;
      const unsigned qr = red < 210 ? red / 42 : 5;
      const unsigned cell = 42 * qb + 6 * qg + qr;
      t[x] = static_cast<unsigned char>(cell);
      Cell& c = cells[cell];
      c.red += red;
      c.green += green;
      c.blue += blue;
      ++c.count;
    }
  }

  // 2. Drop the sixteen least used cells, the first of equal counts first.
  for (int round = 0; round < kDroppedCells; ++round) {
    int smallest = -1;
    for (int i = 0; i < kCells; ++i)
      if (cells[i].kept && (smallest < 0 || cells[i].count < cells[smallest].count)) smallest = i;
    cells[smallest].kept = false;
  }

  // 3. The system palette with the kept cells' average colours in between.
  std::vector<unsigned char> block(sizeof(LOGPALETTE) + 255 * sizeof(PALETTEENTRY));
  LOGPALETTE* log = reinterpret_cast<LOGPALETTE*>(block.data());
  log->palVersion = 0x300;
  log->palNumEntries = 256;
  GetSystemPaletteEntries(nullptr, 0, 256, log->palPalEntry);
  auto average = [](const Cell& c) {
    const uint64_t n = c.count ? c.count : 1;
    return PALETTEENTRY{static_cast<BYTE>(c.red / n), static_cast<BYTE>(c.green / n),
                        static_cast<BYTE>(c.blue / n), 0};
  };
  unsigned char mapping[kCells];
  int k = 0;
  for (int i = 0; i < kCells; ++i) {
    if (!cells[i].kept) continue;
    PALETTEENTRY entry = average(cells[i]);
    entry.peFlags = PC_NOCOLLAPSE;
    log->palPalEntry[kFirstCellEntry + k] = entry;
    mapping[i] = static_cast<unsigned char>(kFirstCellEntry + k);
    ++k;
  }
  palette = new CPalette;
  palette->CreatePalette(log);

  // 4. A dropped cell takes the entry nearest to its own average colour.
  for (int i = 0; i < kCells; ++i) {
    if (cells[i].kept) continue;
    const PALETTEENTRY c = average(cells[i]);
    mapping[i] = static_cast<unsigned char>(palette->GetNearestPaletteIndex(RGB(c.peRed, c.peGreen, c.peBlue)));
  }

  // 5. Cell numbers into palette indices, padding bytes included.
  unsigned char* p = indices;
  for (unsigned char* end = indices + out * height; p != end; ++p) *p = mapping[*p < kCells ? *p : 0];
}

long CVtImgFileGIF::OutputDirect(CString path, CDC* dc, CBitmap* bitmap, ImgPixelFormat /*format*/,
                                 CRect2D /*bounds*/) {
  m_nGifError = 0;
  // The alpha describes this export's bitmap only.
  struct ClearAlpha {
    std::vector<unsigned char>& alpha;
    ~ClearAlpha() { std::vector<unsigned char>().swap(alpha); }
  } clearAlpha{m_Alpha};

  int error = 0;
  GifFileType* gif = EGifOpenFileName(path, true, &error);
  if (!gif) {
    m_nGifError = error;
    return Fail(-1, std::string("cannot create ") + path.str() + ": " + GifErrorString(error));
  }
  std::unique_ptr<CPalette> palette;
  // Every failure from here closes the output and removes the unfinished file.
  auto fail = [&](long code, const std::string& text) {
    int closeError = 0;
    if (gif) EGifCloseFile(gif, &closeError);
    gif = nullptr;
    std::remove(path);
    return Fail(code, text);
  };

  BITMAP info{};
  if (!bitmap || ::GetObject(bitmap->GetSafeHandle(), sizeof(info), &info) == 0 || info.bmWidth <= 0 ||
      info.bmHeight <= 0)
    return fail(-1, "the bitmap cannot be described");
  if (info.bmWidth > 0xFFFF || info.bmHeight > 0xFFFF) return fail(-1, "the bitmap is larger than a GIF holds");
  const size_t width = static_cast<size_t>(info.bmWidth), height = static_cast<size_t>(info.bmHeight);
  SetWidth(width);
  SetHeight(height);
  SetPixelFormat(CVtImgToolkit::Bit2Format(info.bmBitsPixel));
  const int bpp = info.bmBitsPixel;
  SetWidthBytes(static_cast<unsigned long>(CalcWidthBytes(static_cast<long>(width), static_cast<unsigned char>(bpp))));

  // A GIF pixel is either transparent or opaque: any other alpha is refused.
  const unsigned char* alpha = m_Alpha.empty() ? nullptr : m_Alpha.data();
  bool transparent = false;
  if (alpha && m_Alpha.size() != width * height)
    return fail(-1, "the alpha does not match the bitmap's size");
  for (size_t i = 0; i < m_Alpha.size(); ++i) {
    if (alpha[i] == 0) {
      transparent = true;
    } else if (alpha[i] != 255) {
      return fail(-1, "the pixel at row " + std::to_string(i / width) + ", column " +
                          std::to_string(i % width) + " is partly transparent (alpha " +
                          std::to_string(alpha[i]) + "); a GIF pixel is either transparent or opaque");
    }
  }
  if (!transparent) alpha = nullptr;

  std::vector<unsigned char> indices;
  try {
    indices.assign(height * Row8(width), 0);
  } catch (const std::bad_alloc&) {
    return fail(-2, "not enough memory for the bitmap");
  }

  // Rows from the device, top row first, at `fetchBits` bits a pixel, each
  // handed to `take` with its number.
  struct {
    BITMAPINFOHEADER header;
    RGBQUAD colors[256];
  } dib{};
  HDC hdc = dc ? dc->GetSafeHdc() : nullptr;
  CDC own;
  if (!hdc && own.CreateCompatibleDC(nullptr)) hdc = own.GetSafeHdc();
  auto fetch = [&](int fetchBits, auto&& take) {
    dib.header.biSize = sizeof(BITMAPINFOHEADER);
    dib.header.biWidth = static_cast<LONG>(width);
    dib.header.biHeight = -static_cast<LONG>(height);  // top row first
    dib.header.biPlanes = 1;
    dib.header.biBitCount = static_cast<WORD>(fetchBits);
    dib.header.biCompression = BI_RGB;
    // The device pads rows to 4 bytes.
    std::vector<unsigned char> row((width * fetchBits + 31) / 32 * 4);
    for (size_t y = 0; y < height; ++y) {
      if (GetDIBits(hdc, *bitmap, static_cast<UINT>(y), 1, row.data(), reinterpret_cast<BITMAPINFO*>(&dib),
                    DIB_RGB_COLORS) != 1)
        return false;
      take(y, row.data());
    }
    return true;
  };

  // The colour map, in index order.
  std::vector<GifColorType> colours;
  int transparentIndex = -1;
  if (bpp <= 8 && !transparent) {
    // Indexed bitmaps keep their indices and colour table as they are.
    const bool fetched = fetch(bpp, [&](size_t y, const unsigned char* row) {
      unsigned char* t = indices.data() + y * Row8(width);
      for (size_t x = 0; x < width; ++x)
        t[x] = bpp == 8   ? row[x]
               : bpp == 4 ? (x % 2 ? row[x / 2] & 0x0F : row[x / 2] >> 4)
                          : (row[x / 8] >> (7 - x % 8)) & 1;
    });
    if (!fetched) return fail(-2, "the device cannot deliver the bitmap's rows");
    for (int i = 0; i < (1 << bpp); ++i)
      colours.push_back(GifColorType{dib.colors[i].rgbRed, dib.colors[i].rgbGreen, dib.colors[i].rgbBlue});
  } else {
    // Bitmaps of 16, 24 and 32 bits are fetched in their own format and
    // widened here; indexed ones are fetched as 24-bit rows, colours looked
    // up by the device.
    std::vector<unsigned char> bits24;
    try {
      bits24.assign(height * Row24(width), 0);
    } catch (const std::bad_alloc&) {
      return fail(-2, "not enough memory for the bitmap");
    }
    const int fetchBits = (bpp == 16 || bpp == 24 || bpp == 32) ? bpp : 24;
    const size_t rowBytes =
        static_cast<size_t>(CalcWidthBytes(static_cast<long>(width), static_cast<unsigned char>(fetchBits)));
    std::vector<unsigned char> bits;
    try {
      bits.assign(height * rowBytes, 0);
    } catch (const std::bad_alloc&) {
      return fail(-2, "not enough memory for the bitmap");
    }
    if (!fetch(fetchBits, [&](size_t y, const unsigned char* row) {
          std::memcpy(bits.data() + y * rowBytes, row, rowBytes);
        }))
      return fail(-2, "the device cannot deliver the bitmap's rows");
    unsigned char* target = bits24.data();
    if (fetchBits == 32) {
      const uint32_t savedBytes = m_dwWidthBytes;
      m_dwWidthBytes = static_cast<uint32_t>(rowBytes);
      Bits32ToBits24(bits.data(), target);
      m_dwWidthBytes = savedBytes;
    } else if (fetchBits == 16) {
      DdbBits16ToBits24(bits.data(), width, height, target);
    } else {
      bits24.swap(bits);  // 24-bit device rows have the quantizer's row length
    }
    std::vector<unsigned char>().swap(bits);

    // As many colours as a colour map holds (one entry less when a
    // transparent one is needed) are kept exactly; more go through the
    // quantizer.
    if (!ExactColours(bits24.data(), alpha, width, height, transparent ? 255 : 256, indices.data(),
                      colours)) {
      CPalette* made = nullptr;
      unsigned char* indexData = indices.data();
      QuantizeColor(bits24.data(), indexData, made);
      palette.reset(made);
      PALETTEENTRY entries[256] = {};
      palette->GetPaletteEntries(0, 256, entries);
      colours.clear();
      for (const PALETTEENTRY& e : entries) colours.push_back(GifColorType{e.peRed, e.peGreen, e.peBlue});
    }
    std::vector<unsigned char>().swap(bits24);

    // Transparent pixels take an entry no opaque pixel uses: the one after
    // the exact colours, or one the quantizer left unused (it maps the
    // pixels to at most 252 of its 256 entries).
    if (alpha) {
      bool used[256] = {};
      for (size_t y = 0; y < height; ++y)
        for (size_t x = 0; x < width; ++x)
          if (alpha[y * width + x]) used[indices[y * Row8(width) + x]] = true;
      transparentIndex = static_cast<int>(std::find(used, used + 256, false) - used);
      if (transparentIndex == 256) return fail(-2, "no colour map entry is left for the transparent pixels");
      if (static_cast<size_t>(transparentIndex) >= colours.size())
        colours.resize(static_cast<size_t>(transparentIndex) + 1, GifColorType{0, 0, 0});
      for (size_t y = 0; y < height; ++y)
        for (size_t x = 0; x < width; ++x)
          if (!alpha[y * width + x])
            indices[y * Row8(width) + x] = static_cast<unsigned char>(transparentIndex);
    }
  }

  // A colour map holds a power of two entries, at least two; black fills it.
  size_t mapSize = 2;
  while (mapSize < colours.size()) mapSize *= 2;
  colours.resize(mapSize, GifColorType{0, 0, 0});
  ColorMapObject* map = GifMakeMapObject(static_cast<int>(mapSize), colours.data());
  if (!map) return fail(-2, "not enough memory for the colour map");
  // Transparency needs a graphic control block, which version 89a brings.
  if (transparentIndex >= 0) EGifSetGifVersion(gif, true);
  const int screen = EGifPutScreenDesc(gif, static_cast<int>(width), static_cast<int>(height), 8, 0, map);
  GifFreeMapObject(map);
  bool described = screen != GIF_ERROR;
  if (described && transparentIndex >= 0) {
    GraphicsControlBlock control{};
    control.DisposalMode = DISPOSAL_UNSPECIFIED;
    control.UserInputFlag = false;
    control.DelayTime = 0;
    control.TransparentColor = transparentIndex;
    GifByteType extension[4];
    const size_t length = EGifGCBToExtension(&control, extension);
    described =
        EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(length), extension) != GIF_ERROR;
  }
  if (!described || EGifPutImageDesc(gif, 0, 0, static_cast<int>(width), static_cast<int>(height), true,
                                     nullptr) == GIF_ERROR) {
    m_nGifError = gif->Error;
    return fail(-1, std::string("giflib: ") + GifErrorString(gif->Error));
  }

  // Rows in the order of the four interlace passes.
  static const size_t kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
  const size_t row8 = Row8(width);
  for (int pass = 0; pass < 4; ++pass)
    for (size_t y = kStart[pass]; y < height; y += kStep[pass])
      if (EGifPutLine(gif, indices.data() + y * row8, static_cast<int>(width)) == GIF_ERROR) {
        m_nGifError = gif->Error;
        return fail(-3, std::string("giflib: ") + GifErrorString(gif->Error));
      }

  GifFileType* done = gif;
  gif = nullptr;
  if (EGifCloseFile(done, &error) == GIF_ERROR) {
    m_nGifError = error;
    return fail(-4, std::string("giflib: ") + GifErrorString(error));
  }
  return 1;
}
