// Rows of any description stored through a writing driver: the writer's
// form is chosen from the description and the writer's forms, the file is
// set up for it, and each row is converted on its way in. Under `vtfmt
// convert`, the array writer and the GDAL plugin's copies.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "access/AccessError.h"
#include "access/RasterDriver.h"
#include "access/RowPlan.h"
#include "platform/vtcore/CImgScanLine.h"

namespace vtfmt {

class RasterWriter {
 public:
  // Plans rows of `source` for `writer`. False with `reason` when the
  // writer cannot keep their values.
  static bool Plan(const RasterDriver& writer, const RowDescription& source, RowPlan& plan,
                   std::string& reason);

  // Creates `path` for rows of `source` along `plan`, with `options` for the
  // writer. Throws ArrayArgumentError for a bad option, ArrayError naming the
  // file otherwise.
  RasterWriter(const std::string& path, const RasterDriver& writer, const Options& options,
               const RowDescription& source, const RowPlan& plan);
  // A file not finished is removed.
  ~RasterWriter();
  RasterWriter(const RasterWriter&) = delete;
  RasterWriter& operator=(const RasterWriter&) = delete;

  // True when the writer stores its row 0 at the bottom of the picture.
  bool BottomUp() const { return bottomUp_; }
  // Converts the source row `row` (the writer's row order) and writes it.
  void Write(unsigned long row, const unsigned char* from);
  // Completes the file.
  void Finish();
  // Removes the file; every later call fails.
  void Abandon();

 private:
  std::string Failure(const std::string& why) const;

  std::string path_;
  const RasterDriver& writer_;
  RowPlan plan_;
  std::unique_ptr<CImgFile> file_;
  CImgScanLine line_;
  bool bottomUp_ = false;
  bool open_ = false;
};

}  // namespace vtfmt
