// Arrays to raster files: picture rows (top row first, colour samples red
// first) stored through any writing driver, in the driver's own row order
// and colour order.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "access/ArrayReader.h"

namespace vtfmt {

// An image to write: `height` rows of `width` pixels of `samples` samples
// of `type`, top row first, each `rowBytes` after the last (0: packed one
// after another); colours red first unless `redFirst` is false.
struct ArrayImage {
  unsigned long width = 0, height = 0;
  int samples = 1;
  ArrayType type;
  const unsigned char* data = nullptr;
  size_t rowBytes = 0;
  bool redFirst = true;
};

// What the rows of `image` hold (its data is not read): indices with
// `palette` (red, green, blue, alpha entries), grey levels, colours (a
// fourth sample is opacity) or cells. ArrayArgumentError for a type or
// palette no pixel format holds.
RowDescription DescribeArray(const ArrayImage& image, const std::optional<CRect2D>& bounds,
                             const std::vector<unsigned char>& palette);

// Writes `image` to `path` through the named driver, or the one that claims
// the extension. `palette` holds red, green, blue, alpha entries (alpha is
// not stored); an 8-bit single-sample image without one is grey.
// A file left half-written is removed.
void WriteArray(const std::string& path, const std::string& driver, const Options& options, const ArrayImage& image,
                const std::optional<CRect2D>& bounds, const std::vector<unsigned char>& palette);

}  // namespace vtfmt
