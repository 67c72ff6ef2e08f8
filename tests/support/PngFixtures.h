// PNG test helpers: GDAL's reading of an image at its own sample width, the
// row our PNG driver must give for it, and small PNG files built byte by
// byte for the cases no writer makes.
#pragma once

#include <gdal.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/vtcore/ImgPixelFormat.h"

// Every band of an image as GDAL reads it, samples kept at up to 16 bits,
// top row first and interleaved by pixel; band 1's colour table (with its
// alpha) and each band's no-data value.
struct GdalImage {
  int width = 0, height = 0, bands = 0;
  std::vector<uint16_t> values;
  std::vector<GDALColorEntry> colors;
  std::vector<double> noData;  // per band; empty when none
  uint16_t At(int x, int y, int band) const {
    return values[(static_cast<size_t>(y) * width + x) * bands + band];
  }
};

inline bool GdalReadNative(const std::string& path, GdalImage& g) {
  GDALAllRegister();
  GDALDatasetH ds = GDALOpen(path.c_str(), GA_ReadOnly);
  if (!ds) return false;
  g.width = GDALGetRasterXSize(ds);
  g.height = GDALGetRasterYSize(ds);
  g.bands = GDALGetRasterCount(ds);
  g.values.assign(static_cast<size_t>(g.width) * g.height * g.bands, 0);
  const CPLErr err = GDALDatasetRasterIO(ds, GF_Read, 0, 0, g.width, g.height, g.values.data(), g.width,
                                         g.height, GDT_UInt16, g.bands, nullptr, 2 * g.bands,
                                         static_cast<GSpacing>(g.width) * g.bands * 2, 2);
  g.colors.clear();
  if (GDALColorTableH table = GDALGetRasterColorTable(GDALGetRasterBand(ds, 1)))
    for (int i = 0; i < GDALGetColorEntryCount(table); ++i) g.colors.push_back(*GDALGetColorEntry(table, i));
  g.noData.clear();
  for (int b = 1; b <= g.bands; ++b) {
    int has = 0;
    const double v = GDALGetRasterNoDataValue(GDALGetRasterBand(ds, b), &has);
    if (!has) {
      g.noData.clear();
      break;
    }
    g.noData.push_back(v);
  }
  GDALClose(ds);
  return err == CE_None;
}

// What the file's header says, for ExpectedRow.
struct PngHeader {
  int depth = 8;
  int colorType = 0;
  bool trns = false;
};

// The row our driver must give for picture row `y`, from GDAL's samples:
// indexes packed for 1 and 4 bits, one byte per index or grey value
// otherwise, colour blue first, samples of 16 bits cut to their high byte,
// and images with transparency as blue, green, red, alpha.
inline std::vector<unsigned char> ExpectedRow(const GdalImage& g, int y, const PngHeader& h) {
  std::vector<unsigned char> row;
  const auto cut = [&](unsigned v) { return static_cast<unsigned char>(h.depth == 16 ? v >> 8 : v); };
  const bool palette = h.colorType == 3, grey = h.colorType == 0 || h.colorType == 4;
  if (palette && !h.trns && (h.depth == 1 || h.depth == 4)) {
    row.assign(static_cast<size_t>((g.width * h.depth + 7) / 8), 0);
    const int perByte = 8 / h.depth;
    for (int x = 0; x < g.width; ++x)
      row[static_cast<size_t>(x / perByte)] |=
          static_cast<unsigned char>(g.At(x, y, 0) << (h.depth * (perByte - 1 - x % perByte)));
    return row;
  }
  for (int x = 0; x < g.width; ++x) {
    if ((palette || (grey && h.colorType == 0)) && !h.trns) {
      row.push_back(cut(g.At(x, y, 0)));
    } else if (palette) {  // expanded through the colour table
      const GDALColorEntry& c = g.colors.at(g.At(x, y, 0));
      row.insert(row.end(), {static_cast<unsigned char>(c.c3), static_cast<unsigned char>(c.c2),
                             static_cast<unsigned char>(c.c1), static_cast<unsigned char>(c.c4)});
    } else if (grey) {
      const unsigned v = g.At(x, y, 0);
      // Grey below 8 bits is scaled to the full range when it becomes colour.
      const unsigned char k = h.depth < 8 ? static_cast<unsigned char>(v * 255 / ((1u << h.depth) - 1)) : cut(v);
      unsigned char alpha = 255;
      if (h.colorType == 4) alpha = cut(g.At(x, y, 1));
      if (h.trns && !g.noData.empty() && v == g.noData[0]) alpha = 0;
      row.insert(row.end(), {k, k, k, alpha});
    } else {
      for (int c = 2; c >= 0; --c) row.push_back(cut(g.At(x, y, c)));
      if (h.colorType == 6) {
        row.push_back(cut(g.At(x, y, 3)));
      } else if (h.trns) {
        bool transparent = g.noData.size() >= 3;
        for (int c = 0; c < 3 && transparent; ++c) transparent = g.At(x, y, c) == g.noData[static_cast<size_t>(c)];
        row.push_back(transparent ? 0 : 255);
      }
    }
  }
  return row;
}

// CRC-32 of PNG chunks (and zlib's Adler-32), computed here so the tests
// need no codec library of their own.
inline uint32_t PngCrc(const std::string& bytes) {
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char b : bytes) {
    crc ^= b;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return crc ^ 0xFFFFFFFFu;
}

// A zlib stream of stored (uncompressed) blocks.
inline std::string ZlibStored(const std::string& raw) {
  std::string out("\x78\x01", 2);
  size_t at = 0;
  do {
    const size_t n = std::min<size_t>(raw.size() - at, 65535);
    out += static_cast<char>(at + n == raw.size() ? 1 : 0);
    out += static_cast<char>(n & 0xFF);
    out += static_cast<char>(n >> 8);
    out += static_cast<char>(~n & 0xFF);
    out += static_cast<char>((~n >> 8) & 0xFF);
    out += raw.substr(at, n);
    at += n;
  } while (at < raw.size());
  uint32_t a = 1, b = 0;
  for (unsigned char c : raw) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  const uint32_t adler = (b << 16) | a;
  for (int i = 3; i >= 0; --i) out += static_cast<char>(adler >> (8 * i));
  return out;
}

// A chunk: length, type, data and CRC.
inline std::string PngChunk(const std::string& type, const std::string& data) {
  std::string out;
  const uint32_t n = static_cast<uint32_t>(data.size());
  for (int i = 3; i >= 0; --i) out += static_cast<char>(n >> (8 * i));
  const std::string body = type + data;
  out += body;
  const uint32_t crc = PngCrc(body);
  for (int i = 3; i >= 0; --i) out += static_cast<char>(crc >> (8 * i));
  return out;
}

inline std::string PngBE32(uint32_t v) {
  std::string s;
  for (int i = 3; i >= 0; --i) s += static_cast<char>(v >> (8 * i));
  return s;
}

// A PNG of the given header whose image data is `raw` (filtered rows)
// in stored zlib blocks; `extra` chunks go before the image data.
inline std::string PngFile(uint32_t width, uint32_t height, int depth, int colorType, const std::string& raw,
                           const std::string& extra = "", bool interlaced = false) {
  std::string ihdr = PngBE32(width) + PngBE32(height);
  ihdr += static_cast<char>(depth);
  ihdr += static_cast<char>(colorType);
  ihdr += std::string(2, '\0');
  ihdr += static_cast<char>(interlaced ? 1 : 0);
  return std::string("\x89PNG\r\n\x1a\n", 8) + PngChunk("IHDR", ihdr) + extra +
         PngChunk("IDAT", ZlibStored(raw)) + PngChunk("IEND", "");
}

// The filtered image data (filter 0 on every row) of `pixels`, `bytes`
// bytes a pixel, top row first: plain, or in the seven passes of Adam7.
inline std::string PngRaw(const std::string& pixels, uint32_t width, uint32_t height, size_t bytes, bool adam7) {
  std::string raw;
  if (!adam7) {
    for (uint32_t y = 0; y < height; ++y) raw += '\0' + pixels.substr(size_t(y) * width * bytes, width * bytes);
    return raw;
  }
  const uint32_t x0[7] = {0, 4, 0, 2, 0, 1, 0}, y0[7] = {0, 0, 4, 0, 2, 0, 1};
  const uint32_t dx[7] = {8, 8, 4, 4, 2, 2, 1}, dy[7] = {8, 8, 8, 4, 4, 2, 2};
  for (int pass = 0; pass < 7; ++pass) {
    if (x0[pass] >= width) continue;
    for (uint32_t y = y0[pass]; y < height; y += dy[pass]) {
      raw += '\0';
      for (uint32_t x = x0[pass]; x < width; x += dx[pass]) raw += pixels.substr((size_t(y) * width + x) * bytes, bytes);
    }
  }
  return raw;
}
