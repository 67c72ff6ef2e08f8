#include "access/RasterConvert.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "access/ArrayReader.h"
#include "access/RasterWriter.h"
#include "platform/mfc/CException.h"
#include "platform/vtcore/CImgScanLine.h"

namespace vtfmt {
namespace {

bool TakesOption(const RasterDriver& driver, const std::string& key) {
  for (const auto& k : driver.OptionKeys())
    if (k.first == key) return true;
  return false;
}

// A file opened by its reading driver's protocol.
struct Source {
  std::string path;
  const RasterDriver* driver = nullptr;
  std::unique_ptr<CImgFile> file;
  RowDescription rows;
  CImgScanLine line;

  std::string Failure(const std::string& reason) const {
    const std::string message = DriverMessage();
    return path + ": driver " + driver->Name() + ": " + reason + (message.empty() ? "" : ": " + message);
  }

  void Open(const std::string& name, const std::string& driverName, const Options& options) {
    path = name;
    driver = &ReadingDriver(driverName, path);
    file = driver->Create();
    std::string reason;
    if (!driver->ApplyOptions(*file, options, reason)) throw ArrayArgumentError(reason);
    ClearDriverMessage();
    if (!driver->OpenRead(*file, path, reason)) throw ArrayError(Failure(reason));
    rows = driver->Describe(*file);
    line = CImgScanLine(file->GetPixelFormat(), static_cast<long>(rows.lineBytes));
    if (static_cast<size_t>(line.GetSize()) < rows.lineBytes)
      throw ArrayError(Failure("a row is too long to hold"));
  }

  // Reads row `row` in the file's own order into `line`.
  void Read(unsigned long row) {
    ClearDriverMessage();
    if (driver->ReadRow(*file, static_cast<long>(row), line) < 0)
      throw ArrayError(Failure("cannot read row " + std::to_string(row)));
  }
};

// Source rows in the order a writer wants them. When the two files store
// rows in opposite orders the source is read backwards, or, when its driver
// reads only forwards, its rows are first spilled to a temporary file and
// taken back from there, so no more than one row is held in memory.
class RowSource {
 public:
  RowSource(Source& source, bool reverse) : source_(source), reverse_(reverse) {}
  ~RowSource() {
    if (spill_) std::fclose(spill_);
  }
  RowSource(const RowSource&) = delete;
  RowSource& operator=(const RowSource&) = delete;

  // The row that goes to the writer's row `k`.
  const unsigned char* Read(unsigned long k) {
    const unsigned long height = source_.rows.height;
    if (!reverse_) return ReadFromFile(k);
    if (!source_.driver->SequentialRead()) return ReadFromFile(height - 1 - k);
    const size_t bytes = source_.rows.lineBytes;
    if (!spill_) Spill(bytes);
    if (fseeko(spill_, static_cast<off_t>((height - 1 - k) * bytes), SEEK_SET) != 0 ||
        std::fread(source_.line.GetData(), 1, bytes, spill_) != bytes)
      throw ArrayError(std::string("temporary file: ") + std::strerror(errno));
    return source_.line.GetData();
  }

 private:
  const unsigned char* ReadFromFile(unsigned long row) {
    source_.Read(row);
    return source_.line.GetData();
  }

  void Spill(size_t bytes) {
    spill_ = std::tmpfile();
    if (!spill_) throw ArrayError(std::string("temporary file: ") + std::strerror(errno));
    for (unsigned long row = 0; row < source_.rows.height; ++row)
      if (std::fwrite(ReadFromFile(row), 1, bytes, spill_) != bytes)
        throw ArrayError(std::string("temporary file: ") + std::strerror(errno));
  }

  Source& source_;
  bool reverse_;
  FILE* spill_ = nullptr;
};

// True when CellValue reads cells of `f`: 8-, 16- and 32-bit integers,
// singles and doubles (not half floats, 64-bit integers or complex pairs).
bool NumericCells(const RowForm& f) {
  if (f.kind == 'f') return f.bits == 32 || f.bits == 64;
  return (f.kind == 'u' || f.kind == 'i') && (f.bits == 8 || f.bits == 16 || f.bits == 32);
}

double CellValue(const unsigned char* row, size_t x, const RowForm& f) {
  auto get = [&](auto v) {
    std::memcpy(&v, row + x * sizeof v, sizeof v);
    return static_cast<double>(v);
  };
  if (f.kind == 'f') return f.bits == 32 ? get(float{}) : get(double{});
  if (f.bits == 8) return f.kind == 'i' ? static_cast<int8_t>(row[x]) : row[x];
  if (f.bits == 16) return f.kind == 'i' ? get(int16_t{}) : get(uint16_t{});
  return f.kind == 'i' ? get(int32_t{}) : get(uint32_t{});
}

bool Skipped(double v, const RowDescription& rows) {
  return std::isnan(v) || (rows.noData && v == *rows.noData);
}

// Cells to 8-bit grey: `lo` to 0 and `hi` to 255 in a straight line,
// cells beyond them clamped, no-data 0.
void ScaleRow(const unsigned char* cells, unsigned char* grey, const RowDescription& rows, double lo,
              double hi) {
  const double span = hi > lo ? hi - lo : 1.0;
  for (size_t x = 0; x < rows.width; ++x) {
    const double v = CellValue(cells, x, rows);
    double g = 0;
    if (!Skipped(v, rows)) g = std::min(255.0, std::max(0.0, std::floor((v - lo) / span * 255.0 + 0.5)));
    grey[x] = static_cast<unsigned char>(g);
  }
}

// One sample of each pixel, when a band is asked for that the reader does
// not pick itself.
class BandPicker {
 public:
  // `rows` becomes the description of the band's rows.
  BandPicker(RowDescription& rows, int band, const std::string& path) : path_(path) {
    if (band <= 0) return;
    std::string reason;
    const bool many = rows.samples > 1;
    if (!plan_.SelectBand(rows, band, reason)) throw ArrayError(path + ": " + reason);
    if (!many) return;
    plan_.Choose(rows, {rows}, "", reason);  // the band as it is
    row_.resize(RowBytesOf(rows, rows.width));
    picking_ = true;
  }
  const unsigned char* Pick(const unsigned char* row, unsigned long k) {
    if (!picking_) return row;
    std::string reason;
    if (!plan_.Convert(row, row_.data(), reason))
      throw ArrayError(path_ + ": row " + std::to_string(k) + ", " + reason);
    return row_.data();
  }

 private:
  std::string path_;
  RowPlan plan_;
  std::vector<unsigned char> row_;
  bool picking_ = false;
};

}  // namespace

void ConvertRaster(const std::string& in, const std::string& out, const ConvertSettings& settings) {
  const RasterDriver& writer = WritingDriver(settings.writer, out);
  // Each setting goes to the driver, or both drivers, that take it; a band
  // the reader does not pick itself is picked here.
  const RasterDriver* reader =
      settings.reader.empty() ? DetectReader(in) : &NamedDriver(settings.reader, false);
  Options readerOptions, writerOptions;
  int band = 0;
  for (const auto& option : settings.options) {
    const bool toWriter = TakesOption(writer, option.first);
    const bool toReader = reader && TakesOption(*reader, option.first);
    if (option.first == "band" && !toWriter && !toReader) {
      long value = 0;
      std::string reason;
      if (!ParseBand(option.second, 64, value, reason)) throw ArrayArgumentError(reason);
      band = static_cast<int>(value);
      continue;
    }
    if (toWriter) writerOptions.insert(option);
    if (!toWriter || toReader) readerOptions.insert(option);
  }
  Source source;
  source.Open(in, settings.reader, readerOptions);
  RowDescription rows = source.rows;
  BandPicker picker(rows, band, in);

  // Grid cells become picture pixels only through -scale: elevations are
  // not colours.
  if (settings.scale && rows.content != RowContent::kCells)
    throw ArrayArgumentError("-scale applies to grids; " + in + " holds a picture");
  if (settings.scale && !NumericCells(rows))
    throw ArrayError(in + ": -scale maps integer and float cells to grey; the rows hold " + LayoutText(rows));
  RowDescription scaled = rows;
  double lo = settings.scaleMin, hi = settings.scaleMax;
  if (settings.scale) {
    if (!settings.scaleRange) {
      // The smallest and largest cell, no-data aside, through a reader of its own.
      Source pass;
      pass.Open(in, settings.reader, readerOptions);
      RowDescription passRows = pass.rows;
      BandPicker passPicker(passRows, band, in);
      lo = HUGE_VAL, hi = -HUGE_VAL;
      for (unsigned long row = 0; row < passRows.height; ++row) {
        pass.Read(row);
        const unsigned char* data = passPicker.Pick(pass.line.GetData(), row);
        for (size_t x = 0; x < passRows.width; ++x) {
          const double v = CellValue(data, x, passRows);
          if (!Skipped(v, passRows)) lo = std::min(lo, v), hi = std::max(hi, v);
        }
      }
    }
    scaled.content = RowContent::kGrey;
    scaled.samples = 1, scaled.bits = 8, scaled.kind = 'u';
    scaled.format = PF_BIT8;
    scaled.noData.reset();
  }
  RowPlan writePlan;
  std::string reason;
  if (!RasterWriter::Plan(writer, scaled, writePlan, reason)) throw ArrayError(in + ": " + reason);

  RasterWriter target(out, writer, writerOptions, scaled, writePlan);
  std::vector<unsigned char> grey(settings.scale ? rows.width : 0);
  RowSource order(source, source.rows.bottomUp != target.BottomUp());
  try {
    for (unsigned long k = 0; k < rows.height; ++k) {
      const unsigned char* row = picker.Pick(order.Read(k), k);
      if (settings.scale) {
        ScaleRow(row, grey.data(), rows, lo, hi);
        row = grey.data();
      }
      target.Write(k, row);
      if (settings.progress) settings.progress(k + 1, rows.height);
    }
    target.Finish();
  } catch (const CFileException& e) {
    throw ArrayError(std::string(e.what()));
  }
}

}  // namespace vtfmt
