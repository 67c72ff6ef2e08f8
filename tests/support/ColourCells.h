// The GIF export's colour cube, as the tests see it: which cell a colour
// falls into, and whether a written picture keeps every pixel within its
// cell but for the few least used cells the quantizer drops.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <tuple>
#include <string>
#include <vector>

#include "support/GdalRaster.h"

namespace colourcells {

struct Rgb {
  unsigned char r, g, b;
  bool operator<(const Rgb& o) const { return std::tie(r, g, b) < std::tie(o.r, o.g, o.b); }
  bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};

// A picture in memory, top row first.
struct Image {
  int width = 0, height = 0;
  std::vector<Rgb> pixels;
  Rgb At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

// The quantizer's cell of a colour: 6 blue, 7 green and 6 red levels.
inline int CellOf(Rgb c) {
  const int qb = c.b < 210 ? c.b / 42 : 5, qg = c.g < 216 ? c.g / 36 : 6, qr = c.r < 210 ? c.r / 42 : 5;
  return 42 * qb + 6 * qg + qr;
}

// Lowest and highest value of a channel in the cell level of `v`.
inline void Level(int v, int step, int last, int& lo, int& hi) {
  const int q = v < step * last ? v / step : last;
  lo = q * step;
  hi = q == last ? 255 : lo + step - 1;
}
inline bool InOwnCell(Rgb source, Rgb written) {
  int lo, hi;
  Level(source.r, 42, 5, lo, hi);
  if (written.r < lo || written.r > hi) return false;
  Level(source.g, 36, 6, lo, hi);
  if (written.g < lo || written.g > hi) return false;
  Level(source.b, 42, 5, lo, hi);
  return written.b >= lo && written.b <= hi;
}

// Every pixel lands in its own cell's average, except pixels of at most
// sixteen cells that are used no more than any cell that keeps its entry.
inline void ExpectWithinQuantizerError(const Image& image, const Image& back) {
  int counts[252] = {};
  for (const Rgb& c : image.pixels) ++counts[CellOf(c)];
  std::set<int> moved;
  for (size_t i = 0; i < image.pixels.size(); ++i)
    if (!InOwnCell(image.pixels[i], back.pixels[i])) moved.insert(CellOf(image.pixels[i]));
  EXPECT_LE(moved.size(), 16u);
  int mostMoved = 0, leastKept = 1 << 30;
  for (int cell = 0; cell < 252; ++cell) {
    if (moved.count(cell))
      mostMoved = std::max(mostMoved, counts[cell]);
    else if (counts[cell] > 0)
      leastKept = std::min(leastKept, counts[cell]);
  }
  EXPECT_LE(mostMoved, leastKept);
}


// GDAL's colours of a paletted file, top row first.
inline Image GdalColours(const std::string& path) {
  Picture p;
  EXPECT_TRUE(GdalRead(path, p)) << path;
  Image image;
  image.width = p.width;
  image.height = p.height;
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) {
      const GDALColorEntry& e = p.colors.at(p.At(x, y, 0));
      image.pixels.push_back(Rgb{static_cast<unsigned char>(e.c1), static_cast<unsigned char>(e.c2),
                                 static_cast<unsigned char>(e.c3)});
    }
  return image;
}

}  // namespace colourcells
