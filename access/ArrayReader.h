// Raster files as arrays: a reader that delivers any range of picture rows
// (top row first, colour samples red first, packed indices one a byte) into
// a caller's buffer, whatever the file's own row order. Under the Python
// module and the GDAL plugin.
#pragma once

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "access/AccessError.h"
#include "access/RasterDriver.h"
#include "platform/vtcore/CImgScanLine.h"

namespace vtfmt {


// The element type of the arrays: `kind` as in RowLayout, `bytes` a sample.
struct ArrayType {
  char kind = 'u';
  int bytes = 1;
};

class ArrayReader {
 public:
  // Opens `path` with the named driver, or the one that recognises it.
  ArrayReader(const std::string& path, const std::string& driver, const Options& options);

  const RasterDriver& Driver() const { return *driver_; }
  CImgFile& File() { return *file_; }
  unsigned long Width() const { return width_; }
  unsigned long Height() const { return height_; }
  int Samples() const { return rows_.samples; }
  ArrayType Type() const;
  // Bytes of one picture row in the array.
  size_t RowBytes() const;
  bool BottomUp() const { return rows_.bottomUp; }
  // Red, green, blue, 255 of each palette entry of an indexed picture.
  std::vector<unsigned char> Palette();
  std::optional<double> NoData();
  std::optional<CRect2D> Bounds();
  // What the file's rows hold, as its driver describes them.
  const RowDescription& Rows() const { return rows_; }

  // Fills `out` (RowBytes() each) with picture rows [start, stop). Rows
  // are read where the driver can seek, and forward otherwise.
  void Read(unsigned long start, unsigned long stop, unsigned char* out);

 private:
  void Open();
  // Reads file row `row` into line_.
  void ReadFileRow(long row);
  // Copies line_ to `out` in the array's form.
  void Deliver(unsigned char* out) const;
  std::string Failure(const std::string& reason) const;

  std::string path_;
  const RasterDriver* driver_ = nullptr;
  Options options_;
  std::unique_ptr<CImgFile> file_;
  CImgScanLine line_;
  RowDescription rows_;
  unsigned long width_ = 0, height_ = 0;
  long nextRow_ = 0;  // the next row a sequential driver delivers
};

}  // namespace vtfmt
