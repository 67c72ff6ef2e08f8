// In-memory device-dependent bitmaps and GetDIBits. Handles are pointers to
// objects that a registry keeps track of, so a stale or foreign handle is
// refused instead of being dereferenced.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <unordered_set>
#include <vector>

#include "platform/win/wingdi.h"

struct HBITMAP__ {
  int width = 0;
  int height = 0;
  int bpp = 0;
  int stride = 0;               // bytes per row, a multiple of 2
  std::vector<BYTE> bits;       // top-down rows
  std::vector<RGBQUAD> colors;  // colour table of 1-, 4- and 8-bit bitmaps
};

struct HDC__ {
  HBITMAP selected = nullptr;
};

namespace {
std::mutex g_lock;
std::unordered_set<const void*> g_bitmaps;
std::unordered_set<const void*> g_dcs;

HBITMAP LiveBitmap(const void* handle) {
  std::lock_guard<std::mutex> guard(g_lock);
  return g_bitmaps.count(handle) ? static_cast<HBITMAP>(const_cast<void*>(handle)) : nullptr;
}

HDC LiveDC(const void* handle) {
  std::lock_guard<std::mutex> guard(g_lock);
  return g_dcs.count(handle) ? static_cast<HDC>(const_cast<void*>(handle)) : nullptr;
}

constexpr RGBQUAD Rgb(BYTE r, BYTE g, BYTE b) { return RGBQUAD{b, g, r, 0}; }

const RGBQUAD kVga[16] = {
    Rgb(0, 0, 0),       Rgb(128, 0, 0),   Rgb(0, 128, 0),   Rgb(128, 128, 0),
    Rgb(0, 0, 128),     Rgb(128, 0, 128), Rgb(0, 128, 128), Rgb(192, 192, 192),
    Rgb(128, 128, 128), Rgb(255, 0, 0),   Rgb(0, 255, 0),   Rgb(255, 255, 0),
    Rgb(0, 0, 255),     Rgb(255, 0, 255), Rgb(0, 255, 255), Rgb(255, 255, 255),
};

bool SupportedBitCount(int bpp) {
  return bpp == 1 || bpp == 4 || bpp == 8 || bpp == 16 || bpp == 24 || bpp == 32;
}

// The colour table a new bitmap of `bpp` bits starts with.
std::vector<RGBQUAD> DefaultColors(int bpp) {
  std::vector<RGBQUAD> table;
  if (bpp == 1) {
    table = {Rgb(0, 0, 0), Rgb(255, 255, 255)};
  } else if (bpp == 4) {
    table.assign(kVga, kVga + 16);
  } else if (bpp == 8) {
    for (int i = 0; i < 256; ++i) table.push_back(Rgb(i, i, i));
  }
  return table;
}

// The table GetDIBits answers with when it maps true colours to indexes:
// black and white, the VGA colours, or 3-3-2 levels of red, green and blue.
std::vector<RGBQUAD> ConversionColors(int bpp) {
  if (bpp != 8) return DefaultColors(bpp);
  std::vector<RGBQUAD> table;
  for (int i = 0; i < 256; ++i)
    table.push_back(Rgb(((i >> 5) & 7) * 255 / 7, ((i >> 2) & 7) * 255 / 7, (i & 3) * 255 / 3));
  return table;
}

int NearestIndex(const std::vector<RGBQUAD>& table, int bpp, RGBQUAD c) {
  if (bpp == 8) {  // the 3-3-2 table: computed, not searched
    int r = (c.rgbRed * 7 + 127) / 255, g = (c.rgbGreen * 7 + 127) / 255, b = (c.rgbBlue * 3 + 127) / 255;
    return (r << 5) | (g << 2) | b;
  }
  int best = 0;
  long bestDistance = -1;
  for (size_t i = 0; i < table.size(); ++i) {
    long dr = table[i].rgbRed - c.rgbRed, dg = table[i].rgbGreen - c.rgbGreen,
         db = table[i].rgbBlue - c.rgbBlue;
    long d = dr * dr + dg * dg + db * db;
    if (bestDistance < 0 || d < bestDistance) {
      bestDistance = d;
      best = static_cast<int>(i);
    }
  }
  return best;
}

int PixelIndex(const HBITMAP__& bm, const BYTE* row, int x) {
  switch (bm.bpp) {
    case 1:
      return (row[x / 8] >> (7 - x % 8)) & 1;
    case 4:
      return (x % 2 == 0) ? row[x / 2] >> 4 : row[x / 2] & 0x0F;
    default:
      return row[x];
  }
}

RGBQUAD PixelColor(const HBITMAP__& bm, const BYTE* row, int x) {
  switch (bm.bpp) {
    case 1:
    case 4:
    case 8: {
      size_t index = static_cast<size_t>(PixelIndex(bm, row, x));
      return index < bm.colors.size() ? bm.colors[index] : Rgb(0, 0, 0);
    }
    case 16: {
      unsigned v = row[2 * x] | (row[2 * x + 1] << 8);
      auto expand = [](unsigned five) { return static_cast<BYTE>((five << 3) | (five >> 2)); };
      return Rgb(expand((v >> 10) & 31), expand((v >> 5) & 31), expand(v & 31));
    }
    case 24:
      return Rgb(row[3 * x + 2], row[3 * x + 1], row[3 * x]);
    default:
      return Rgb(row[4 * x + 2], row[4 * x + 1], row[4 * x]);
  }
}

void PutIndex(BYTE* out, int bpp, int x, int index) {
  switch (bpp) {
    case 1:
      out[x / 8] |= static_cast<BYTE>((index & 1) << (7 - x % 8));
      break;
    case 4:
      out[x / 2] |= static_cast<BYTE>((x % 2 == 0) ? (index & 15) << 4 : (index & 15));
      break;
    default:
      out[x] = static_cast<BYTE>(index);
      break;
  }
}

void PutColor(BYTE* out, int bpp, int x, RGBQUAD c) {
  switch (bpp) {
    case 16: {
      unsigned v = ((c.rgbRed >> 3) << 10) | ((c.rgbGreen >> 3) << 5) | (c.rgbBlue >> 3);
      out[2 * x] = static_cast<BYTE>(v & 0xFF);
      out[2 * x + 1] = static_cast<BYTE>(v >> 8);
      break;
    }
    case 24:
      out[3 * x] = c.rgbBlue;
      out[3 * x + 1] = c.rgbGreen;
      out[3 * x + 2] = c.rgbRed;
      break;
    default:
      out[4 * x] = c.rgbBlue;
      out[4 * x + 1] = c.rgbGreen;
      out[4 * x + 2] = c.rgbRed;
      out[4 * x + 3] = 0;
      break;
  }
}

size_t DibStride(long width, int bpp) { return (static_cast<size_t>(width) * bpp + 31) / 32 * 4; }
}  // namespace

HBITMAP CreateBitmap(int width, int height, UINT planes, UINT bitsPerPixel, const void* bits) {
  if (width <= 0 || height <= 0 || planes != 1 || !SupportedBitCount(static_cast<int>(bitsPerPixel)))
    return nullptr;
  const long long stride = (static_cast<long long>(width) * bitsPerPixel + 15) / 16 * 2;
  if (stride * height > (1LL << 31)) return nullptr;
  auto* bm = new HBITMAP__;
  bm->width = width;
  bm->height = height;
  bm->bpp = static_cast<int>(bitsPerPixel);
  bm->stride = static_cast<int>(stride);
  bm->bits.assign(static_cast<size_t>(stride * height), 0);
  if (bits) std::memcpy(bm->bits.data(), bits, bm->bits.size());
  bm->colors = DefaultColors(bm->bpp);
  std::lock_guard<std::mutex> guard(g_lock);
  g_bitmaps.insert(bm);
  return bm;
}

HBITMAP CreateCompatibleBitmap(HDC, int width, int height) {
  return CreateBitmap(width, height, 1, 32, nullptr);
}

BOOL DeleteObject(HGDIOBJ object) {
  HBITMAP bm;
  {
    std::lock_guard<std::mutex> guard(g_lock);
    if (!g_bitmaps.erase(object)) return FALSE;
    bm = static_cast<HBITMAP>(object);
    for (const void* dc : g_dcs) {
      auto* d = static_cast<HDC__*>(const_cast<void*>(dc));
      if (d->selected == bm) d->selected = nullptr;
    }
  }
  delete bm;
  return TRUE;
}

int GetObject(HGDIOBJ object, int size, LPVOID out) {
  HBITMAP bm = LiveBitmap(object);
  if (!bm) return 0;
  if (!out) return static_cast<int>(sizeof(BITMAP));  // the size a caller needs
  if (size <= 0) return 0;
  BITMAP info{};
  info.bmType = 0;
  info.bmWidth = bm->width;
  info.bmHeight = bm->height;
  info.bmWidthBytes = bm->stride;
  info.bmPlanes = 1;
  info.bmBitsPixel = static_cast<WORD>(bm->bpp);
  info.bmBits = nullptr;
  int n = std::min(size, static_cast<int>(sizeof(BITMAP)));
  std::memcpy(out, &info, static_cast<size_t>(n));
  return n;
}

HDC CreateCompatibleDC(HDC) {
  auto* dc = new HDC__;
  std::lock_guard<std::mutex> guard(g_lock);
  g_dcs.insert(dc);
  return dc;
}

BOOL DeleteDC(HDC dc) {
  {
    std::lock_guard<std::mutex> guard(g_lock);
    if (!g_dcs.erase(dc)) return FALSE;
  }
  delete dc;
  return TRUE;
}

HGDIOBJ SelectObject(HDC dc, HGDIOBJ object) {
  HDC d = LiveDC(dc);
  HBITMAP bm = LiveBitmap(object);
  if (!d || !bm) return nullptr;
  HBITMAP previous = d->selected;
  d->selected = bm;
  return previous;
}

UINT SetDIBColorTable(HDC dc, UINT start, UINT count, const RGBQUAD* colors) {
  HDC d = LiveDC(dc);
  if (!d || !colors || !LiveBitmap(d->selected)) return 0;
  std::vector<RGBQUAD>& table = d->selected->colors;
  UINT n = 0;
  for (; n < count && start + n < table.size(); ++n) table[start + n] = colors[n];
  return n;
}

UINT GetDIBColorTable(HDC dc, UINT start, UINT count, RGBQUAD* colors) {
  HDC d = LiveDC(dc);
  if (!d || !colors || !LiveBitmap(d->selected)) return 0;
  const std::vector<RGBQUAD>& table = d->selected->colors;
  UINT n = 0;
  for (; n < count && start + n < table.size(); ++n) colors[n] = table[start + n];
  return n;
}

int GetDIBits(HDC dc, HBITMAP bitmap, UINT start, UINT lines, LPVOID bits, BITMAPINFO* info, UINT usage) {
  HBITMAP bm = LiveBitmap(bitmap);
  if (!LiveDC(dc) || !bm || !info || usage != DIB_RGB_COLORS) return 0;
  BITMAPINFOHEADER& h = info->bmiHeader;
  if (h.biSize != 40 && h.biSize != 108 && h.biSize != 124) return 0;

  if (!bits && h.biBitCount == 0) {  // describe the bitmap itself
    h.biWidth = bm->width;
    h.biHeight = bm->height;
    h.biPlanes = 1;
    h.biBitCount = static_cast<WORD>(bm->bpp);
    h.biCompression = BI_RGB;
    const size_t image = DibStride(bm->width, bm->bpp) * static_cast<size_t>(bm->height);
    if (image > UINT32_MAX) return 0;
    h.biSizeImage = static_cast<DWORD>(image);
    return bm->height;
  }

  const int bpp = h.biBitCount;
  if (!SupportedBitCount(bpp) || h.biCompression != BI_RGB || h.biWidth <= 0 || h.biHeight == 0) return 0;
  const long width = h.biWidth;
  const long rows = h.biHeight > 0 ? h.biHeight : -static_cast<long>(h.biHeight);
  const size_t stride = DibStride(width, bpp);
  // The image size must fit its 32-bit field, or callers would allocate too little.
  if (stride * static_cast<size_t>(rows) > UINT32_MAX) return 0;

  // Indexed targets: keep the source's indexes when its table fits,
  // otherwise map every colour to the nearest entry of a fixed table.
  std::vector<RGBQUAD> table;
  bool copyIndexes = false;
  if (bpp <= 8) {
    const size_t entries = size_t(1) << bpp;
    if (bm->bpp <= 8 && bm->colors.size() <= entries) {
      table = bm->colors;
      copyIndexes = true;
    } else {
      table = ConversionColors(bpp);
    }
    table.resize(entries, RGBQUAD{0, 0, 0, 0});
    auto* out = reinterpret_cast<RGBQUAD*>(reinterpret_cast<BYTE*>(info) + h.biSize);
    std::copy(table.begin(), table.end(), out);
  }
  h.biSizeImage = static_cast<DWORD>(stride * static_cast<size_t>(rows));
  h.biClrUsed = 0;
  if (!bits) return bm->height;

  if (start >= static_cast<UINT>(bm->height)) return 0;
  const int copyWidth = static_cast<int>(std::min<long>(width, bm->width));
  int copied = 0;
  for (UINT i = 0; i < lines; ++i) {
    const long r = static_cast<long>(start) + i;
    if (r >= bm->height) break;
    const long sourceRow = h.biHeight > 0 ? bm->height - 1 - r : r;
    const BYTE* src = bm->bits.data() + static_cast<size_t>(sourceRow) * bm->stride;
    BYTE* out = static_cast<BYTE*>(bits) + i * stride;
    std::memset(out, 0, stride);
    for (int x = 0; x < copyWidth; ++x) {
      if (bpp > 8)
        PutColor(out, bpp, x, PixelColor(*bm, src, x));
      else if (copyIndexes)
        PutIndex(out, bpp, x, PixelIndex(*bm, src, x));
      else
        PutIndex(out, bpp, x, NearestIndex(table, bpp, PixelColor(*bm, src, x)));
    }
    ++copied;
  }
  return copied;
}
