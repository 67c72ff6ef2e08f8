// One raster file to another through any reading and any writing driver:
// every value kept, or a failure naming the first value or layout the
// writer cannot keep. Under `vtfmt convert`.
#pragma once

#include <functional>
#include <string>

#include "access/AccessError.h"
#include "access/RasterDriver.h"

namespace vtfmt {

struct ConvertSettings {
  std::string reader;  // the reading driver's name, or empty to detect it
  std::string writer;  // the writing driver's name, or empty for OUT's extension
  // Settings for the drivers: each goes to the driver, or both drivers, that
  // take it. `band=N` (from 1) that the reader does not take picks one
  // sample of each pixel.
  Options options;
  // Grid cells mapped to 8-bit grey: `scaleMin` to 0 and `scaleMax` to 255,
  // or the grid's own range without `scaleRange`.
  bool scale = false;
  bool scaleRange = false;
  double scaleMin = 0, scaleMax = 0;
  // Called after each row written with the rows done and the rows in all.
  std::function<void(unsigned long, unsigned long)> progress;
};

// Converts `in` to `out`. Throws ArrayArgumentError for bad settings and
// ArrayError naming the file otherwise; a half-written `out` is removed.
void ConvertRaster(const std::string& in, const std::string& out, const ConvertSettings& settings);

}  // namespace vtfmt
