// Writes samples/hill-aig, the Arc/Info binary grid of the samples, with the
// tests' grid writer:
//   c++ -std=c++17 -I. -Itests scripts/make-aig-sample.cpp -ltiff -o /tmp/make-aig-sample
//   /tmp/make-aig-sample samples/hill-aig
// 40 x 24 integer cells (heights in metres), lower-left corner 440000 /
// 3750000, cells of 30; tiles of 16 x 4, so the last tile across holds 8
// cells; a no-data patch; a different encoding in every tile column.
#include <cmath>
#include <cstdio>

#include "support/AigWriter.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  AigGrid g;
  g.width = 40, g.height = 24, g.tileWidth = 16, g.tileHeight = 4;
  g.left = 440000, g.bottom = 3750000, g.cellWidth = g.cellHeight = 30;
  for (int y = 0; y < g.height; ++y)
    for (int x = 0; x < g.width; ++x) {
      const double h = 1200 + 300 * std::sin(x * 0.15) * std::cos(y * 0.2) + 2 * x - 3 * y;
      const bool lake = (x - 30) * (x - 30) + (y - 6) * (y - 6) < 12;
      g.cells.push_back(lake ? std::nan("") : std::floor(h));
    }
  // Runs of words, literal words with no-data blocks, literal bytes.
  g.typeOf = [](int, int column) { return column == 0 ? 0xF0 : column == 1 ? 0xCF : 0xD7; };
  if (!WriteAig(argv[1], g)) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
