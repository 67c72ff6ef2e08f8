// A small writer of Arc/Info binary grids, for tests, the benchmark and the
// sample: it lays out the files as GDAL reads them (hdr.adf, dblbnd.adf,
// sta.adf, w001001x.adf, w001001.adf, all big-endian) and encodes each
// integer tile in the type the caller picks, its cells as one stream so
// that runs and blocks pass from row to row.
#pragma once

#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

struct AigGrid {
  int width = 0, height = 0;
  int tileWidth = 8, tileHeight = 4;
  int tilesPerRow = 0, tilesPerColumn = 0;  // 0: just enough for the grid
  bool isFloat = false;
  bool compressed = true;  // false: integer tiles of raw 32-bit cells
  double left = 0, bottom = 0, cellWidth = 1, cellHeight = 1;
  std::vector<double> cells;  // top row first; NaN marks no data
  // Encoding of the integer tile at (tile row, tile column); -1 leaves the
  // tile empty (index size 0). Default 0xD7.
  std::function<int(int, int)> typeOf;
  int minSize = -1;       // bytes of each tile's minimum; -1: the fewest that hold it
  bool upperCase = false;  // file names in upper case, as copied from Windows
};

namespace aigw {

inline void Put32(std::vector<unsigned char>& b, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<unsigned char>(v >> s));
}
inline void Put16(std::vector<unsigned char>& b, uint32_t v) {
  b.push_back(static_cast<unsigned char>(v >> 8));
  b.push_back(static_cast<unsigned char>(v));
}
inline void PutDouble(std::vector<unsigned char>& b, double d) {
  uint64_t u;
  std::memcpy(&u, &d, 8);
  Put32(b, static_cast<uint32_t>(u >> 32));
  Put32(b, static_cast<uint32_t>(u));
}
inline void Set32(std::vector<unsigned char>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<unsigned char>(v >> (24 - 8 * i));
}
inline bool Save(const std::string& path, const std::vector<unsigned char>& b) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(b.data(), 1, b.size(), f) == b.size();
  return std::fclose(f) == 0 && ok;
}
// The 100-byte header of the index and data files: magic numbers and the
// file's length in 16-bit words.
inline std::vector<unsigned char> FileHeader() {
  std::vector<unsigned char> b(100, 0);
  Set32(b, 0, 9994);
  Set32(b, 4, static_cast<uint32_t>(-1004));
  return b;
}

// `bits` (1 = minimum + 1), tile width x height, CCITT run-length coded by
// libtiff, the most significant bit of each byte first.
inline bool CcittRle(const std::vector<int>& ones, int width, int height, std::vector<unsigned char>& out) {
  char path[] = "/tmp/vtfmt-aig-ccitt-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) return false;
  close(fd);
  TIFF* tif = TIFFOpen(path, "w");
  bool ok = tif != nullptr;
  if (ok) {
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(height));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTRLE);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(tif, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, uint32_t(height));
    std::vector<unsigned char> row((width + 7) / 8);
    for (int y = 0; ok && y < height; ++y) {
      std::fill(row.begin(), row.end(), 0);
      for (int x = 0; x < width; ++x)
        if (ones[size_t(y) * width + x]) row[x / 8] |= static_cast<unsigned char>(0x80 >> (x % 8));
      ok = TIFFWriteScanline(tif, row.data(), uint32_t(y), 0) == 1;
    }
    TIFFClose(tif);
  }
  if (ok) {
    tif = TIFFOpen(path, "r");
    ok = tif != nullptr;
    if (ok) {
      out.resize(static_cast<size_t>(TIFFRawStripSize(tif, 0)));
      ok = TIFFReadRawStrip(tif, 0, out.data(), static_cast<tmsize_t>(out.size())) ==
           static_cast<tmsize_t>(out.size());
      TIFFClose(tif);
    }
  }
  unlink(path);
  return ok;
}

// Encodes one integer tile's payload (type, minimum size, minimum, codes).
// `values` holds every cell of the tile, `none` its cells without data.
inline bool EncodeTile(int type, int minSize, const std::vector<int64_t>& values, const std::vector<bool>& none,
                       int width, int height, std::vector<unsigned char>& p) {
  int64_t min = INT64_MAX;
  for (size_t i = 0; i < values.size(); ++i)
    if (!none[i]) min = std::min(min, values[i]);
  if (min == INT64_MAX) min = 0;
  auto fits = [min](int n) {
    if (n == 0) return min == 0;
    if (n >= 4) return true;
    const int64_t half = int64_t(1) << (8 * n - 1);
    return min >= -half && min < half;
  };
  int n = minSize;
  if (n < 0)
    for (n = 0; !fits(n);) ++n;
  p = {static_cast<unsigned char>(type), static_cast<unsigned char>(n)};
  for (int i = n - 1; i >= 0; --i) p.push_back(static_cast<unsigned char>(uint64_t(min) >> (8 * i)));
  std::vector<uint32_t> v(values.size());
  for (size_t i = 0; i < values.size(); ++i) v[i] = static_cast<uint32_t>(none[i] ? 0 : values[i] - min);
  const bool anyNone = std::find(none.begin(), none.end(), true) != none.end();
  const size_t count = v.size();
  auto blocks = [&](int bytes) {  // 0xCF, 0xD7, 0xDF
    for (size_t i = 0; i < count;) {
      size_t j = i;
      if (none[i]) {
        while (j < count && none[j] && j - i < 127) ++j;
        p.push_back(static_cast<unsigned char>(256 - (j - i)));
      } else {
        while (j < count && !none[j] && j - i < 127) ++j;
        p.push_back(static_cast<unsigned char>(j - i));
        for (size_t k = i; k < j; ++k) {
          if (bytes == 2) p.push_back(static_cast<unsigned char>(v[k] >> 8));
          if (bytes >= 1) p.push_back(static_cast<unsigned char>(v[k]));
        }
      }
      i = j;
    }
  };
  auto runs = [&](int bytes) {  // 0xE0, 0xF0, 0xF8, 0xFC
    for (size_t i = 0; i < count;) {
      size_t j = i;
      while (j < count && v[j] == v[i] && j - i < 255) ++j;
      p.push_back(static_cast<unsigned char>(j - i));
      for (int s = 8 * (bytes - 1); s >= 0; s -= 8) p.push_back(static_cast<unsigned char>(v[i] >> s));
      i = j;
    }
  };
  uint32_t largest = 0;
  for (uint32_t x : v) largest = std::max(largest, x);
  switch (type) {
    case 0x00:
      if (largest != 0 || anyNone) return false;
      break;
    case 0x01:
    case 0x04:
    case 0x08:
    case 0x10:
    case 0x20: {
      const int bits = type == 0x01 ? 1 : type == 0x04 ? 4 : type == 0x08 ? 8 : type == 0x10 ? 16 : 32;
      if (anyNone || (bits < 32 && largest >= (1u << bits))) return false;
      std::vector<unsigned char> packed((count * bits + 7) / 8, 0);
      for (size_t i = 0; i < count; ++i) {
        if (bits < 8)
          packed[i * bits / 8] |= static_cast<unsigned char>(v[i] << (8 - bits - (i * bits) % 8));
        else
          for (int b = 0; b < bits / 8; ++b) packed[i * bits / 8 + b] = static_cast<unsigned char>(v[i] >> (bits - 8 - 8 * b));
      }
      p.insert(p.end(), packed.begin(), packed.end());
      break;
    }
    case 0xCF: if (largest > 0xFFFF) return false; blocks(2); break;
    case 0xD7: if (largest > 0xFF) return false; blocks(1); break;
    case 0xDF: if (largest != 0) return false; blocks(0); break;
    case 0xE0: if (anyNone) return false; runs(4); break;
    case 0xF0: if (anyNone || largest > 0xFFFF) return false; runs(2); break;
    case 0xF8:
    case 0xFC: if (anyNone || largest > 0xFF) return false; runs(1); break;
    case 0xFF: {
      if (anyNone || largest > 1) return false;
      std::vector<int> ones(v.begin(), v.end());
      std::vector<unsigned char> coded;
      if (!CcittRle(ones, width, height, coded)) return false;
      p.insert(p.end(), coded.begin(), coded.end());
      break;
    }
    default: return false;
  }
  if (p.size() % 2) p.push_back(0);  // sizes are counted in 16-bit words
  return true;
}

}  // namespace aigw

// Writes `g` into directory `dir` (created if need be). False when a tile
// cannot be encoded in the type asked for.
inline bool WriteAig(const std::string& dir, const AigGrid& g) {
  using namespace aigw;
  mkdir(dir.c_str(), 0755);
  auto name = [&](std::string n) {
    if (g.upperCase) std::transform(n.begin(), n.end(), n.begin(), ::toupper);
    return dir + "/" + n;
  };
  const int tw = g.tileWidth, th = g.tileHeight;
  const int across = (g.width + tw - 1) / tw, down = (g.height + th - 1) / th;
  const int perRow = g.tilesPerRow > 0 ? g.tilesPerRow : across;
  const int perColumn = g.tilesPerColumn > 0 ? g.tilesPerColumn : down;

  std::vector<unsigned char> hdr(308, 0);
  std::memcpy(hdr.data(), "GRID1.2", 8);
  Set32(hdr, 16, g.isFloat ? 2 : 1);
  Set32(hdr, 20, g.compressed ? 0 : 1);
  std::vector<unsigned char> tail;
  PutDouble(tail, g.cellWidth);
  PutDouble(tail, g.cellHeight);
  PutDouble(tail, g.left);
  PutDouble(tail, g.bottom + g.height * g.cellHeight);
  Put32(tail, uint32_t(perRow));
  Put32(tail, uint32_t(perColumn));
  Put32(tail, uint32_t(tw));
  Put32(tail, 1);
  Put32(tail, uint32_t(th));
  std::copy(tail.begin(), tail.end(), hdr.begin() + 256);

  std::vector<unsigned char> bnd;
  for (double d : {g.left, g.bottom, g.left + g.width * g.cellWidth, g.bottom + g.height * g.cellHeight})
    PutDouble(bnd, d);

  double lo = HUGE_VAL, hi = -HUGE_VAL, sum = 0;
  size_t valued = 0;
  for (double c : g.cells)
    if (!std::isnan(c)) lo = std::min(lo, c), hi = std::max(hi, c), sum += c, ++valued;
  std::vector<unsigned char> sta;
  for (double d : {valued ? lo : 0.0, valued ? hi : 0.0, valued ? sum / double(valued) : 0.0, 0.0}) PutDouble(sta, d);

  std::vector<unsigned char> index = FileHeader(), data = FileHeader();
  for (int tr = 0; tr < perColumn && tr < down; ++tr) {
    for (int tc = 0; tc < perRow; ++tc) {
      const bool plain = g.isFloat || !g.compressed;
      std::vector<int64_t> values(size_t(tw) * th, 0);
      std::vector<bool> none(values.size(), true), past(values.size(), false);
      std::vector<float> floats(values.size(), -3.4028234663852886e38f);
      bool any = false;
      int64_t least = INT64_MAX;
      for (int y = 0; y < th; ++y)
        for (int x = 0; x < tw; ++x) {
          const int gx = tc * tw + x, gy = tr * th + y;
          const size_t i = size_t(y) * tw + x;
          if (gx >= g.width || gy >= g.height) {
            past[i] = true;
            continue;
          }
          const double c = g.cells[size_t(gy) * g.width + gx];
          if (std::isnan(c)) continue;
          none[i] = false;
          values[i] = static_cast<int64_t>(c);
          floats[i] = static_cast<float>(c);
          least = std::min(least, values[i]);
          any = true;
        }
      // Cells past the grid take the tile's smallest value, which every
      // encoding can hold.
      for (size_t i = 0; i < values.size(); ++i)
        if (past[i] && !plain) none[i] = false, values[i] = least == INT64_MAX ? 0 : least;
      int type = g.typeOf ? g.typeOf(tr, tc) : 0xD7;
      if (!any && !g.typeOf) type = -1;
      std::vector<unsigned char> payload;
      if (type == -1) {
        Put32(index, uint32_t(data.size() / 2));
        Put32(index, 0);
        continue;
      }
      if (plain) {
        for (size_t i = 0; i < values.size(); ++i) {
          uint32_t u;
          if (g.isFloat) {
            std::memcpy(&u, &floats[i], 4);
          } else {
            u = none[i] ? 0x80000001u : static_cast<uint32_t>(values[i]);
          }
          Put32(payload, u);
        }
      } else if (!EncodeTile(type, g.minSize, values, none, tw, th, payload)) {
        return false;
      }
      Put32(index, uint32_t(data.size() / 2));
      Put32(index, uint32_t(payload.size() / 2));
      Put16(data, uint32_t(payload.size() / 2));
      data.insert(data.end(), payload.begin(), payload.end());
    }
  }
  Set32(index, 24, uint32_t(index.size() / 2));
  Set32(data, 24, uint32_t(data.size() / 2));
  return Save(name("hdr.adf"), hdr) && Save(name("dblbnd.adf"), bnd) && Save(name("sta.adf"), sta) &&
         Save(name("w001001x.adf"), index) && Save(name("w001001.adf"), data);
}
