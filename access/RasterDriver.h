// How the access layer drives each raster driver: its name and capabilities,
// how to recognise its files, the protocol that opens one for reading or
// writing, and where the driver keeps what the base class does not (bounds,
// driver-specific facts). One adapter per driver, in drivers/.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "access/RowDescription.h"
#include "platform/vtcore/CRect2D.h"
#include "raster/imgfile/CImgFile.h"

namespace vtfmt {

using Options = std::map<std::string, std::string>;
// Extra `key: value` lines of `info`, in order.
using InfoLines = std::vector<std::pair<std::string, std::string>>;

// How the samples of a delivered row lie, for callers that hand rows on as
// typed arrays: `samples` per pixel of `bits` each, of a `kind`: 'u'
// unsigned, 'i' signed, 'f' IEEE float, 'c' complex (two floats of bits/2).
// Samples below 8 bits are packed, most significant bits first.
struct RowLayout {
  int samples = 1;
  int bits = 8;
  char kind = 'u';
};

// What a probe found: the content (a signature), the extension, or a sidecar
// file beside the named one. Higher wins.
enum ProbeScore { kNoMatch = 0, kSidecar = 1, kExtension = 2, kContent = 3 };

class RasterDriver {
 public:
  virtual ~RasterDriver() = default;

  virtual const char* Name() const = 0;
  virtual bool CanRead() const = 0;
  virtual bool CanWrite() const = 0;
  // Extensions claimed, lower case with their dot.
  virtual std::vector<std::string> Extensions() const = 0;
  // Keys accepted by -oo, with a one-line description each.
  virtual std::vector<std::pair<std::string, std::string>> OptionKeys() const { return {}; }

  // How sure the driver is that it reads `path`, whose first bytes are `head`
  // (empty when the file does not exist).
  virtual ProbeScore Probe(const std::string& path, const std::vector<unsigned char>& head) const;

  virtual std::unique_ptr<CImgFile> Create() const = 0;

  // Applies the -oo settings; false with `reason` for a bad value. Writers
  // get the settings whose keys they list in OptionKeys.
  virtual bool ApplyOptions(CImgFile& file, const Options& options, std::string& reason) const;
  // Opens `path` for reading by the driver's protocol (OpenForRead then
  // LoadImage unless the driver says otherwise). False with `reason`.
  virtual bool OpenRead(CImgFile& file, const std::string& path, std::string& reason) const;
  // True when row 0 of an open image is the bottom row of the picture.
  virtual bool BottomUp(CImgFile& file) const { return false; }
  // True when the driver delivers rows only once each, in order from row 0.
  virtual bool SequentialRead() const { return false; }
  // Reads row `row` (file order) of an open image; negative on failure.
  virtual long ReadRow(CImgFile& file, long row, CImgScanLine& line) const;
  // Geographic bounds of an open image; false when the format has none.
  virtual bool GetBounds(CImgFile& file, CRect2D& bounds) const { return false; }
  // True when the colour samples of 24-, 32-, 48- and 64-bit rows come red
  // first (false: blue first, as in device-independent bitmaps).
  virtual bool RowsRedFirst(CImgFile& file) const { return false; }
  // True when the rows hold measured values (heights, counts) rather than
  // colours or colour indices.
  virtual bool HoldsCells(CImgFile& file) const { return false; }
  // The value that marks cells without data in the delivered rows.
  virtual bool GetNoData(CImgFile& file, double& value) const { return false; }
  // True when 16-bit cells of the open image are unsigned (the platform's
  // 16-bit cells are signed).
  virtual bool UnsignedCells(CImgFile& file) const { return false; }
  // Tells a writer that the rows it gets hold measured values (signed
  // 16- and 32-bit cells), before the header is written.
  virtual void TakeCells(CImgFile& file) const {}
  // The same for rows of unsigned 16- or 32-bit cells, for writers that can
  // store them as unsigned; others are told nothing.
  virtual void TakeUnsignedCells(CImgFile& file) const {}
  // Tells a writer that the fourth sample of its 32-bit rows is opacity.
  virtual void TakeAlpha(CImgFile& file) const {}
  // What the fourth sample of four-sample colour rows of an open image is:
  // padding unless the driver knows better.
  virtual FourthSample Fourth(CImgFile& file) const { return FourthSample::kUnused; }
  // True when the palette entries of `file` hold red, green, blue, 0; false
  // for blue, green, red, 0 (Windows bitmaps). Convert swaps red and blue
  // when reader and writer differ.
  virtual bool PaletteRedFirst(CImgFile& file) const { return false; }
  virtual InfoLines ExtraInfo(CImgFile& file) const { return {}; }
  // The layout of the rows of an open image, from its pixel format and
  // whether it holds cells; false for a format whose samples it cannot say
  // (16-bit pictures, whose colour masks vary).
  virtual bool Layout(CImgFile& file, RowLayout& layout) const;
  // What the rows of an open image hold, from the facts above: the one
  // description that conversions, arrays and the GDAL plugin go by.
  RowDescription Describe(CImgFile& file) const;
  // The forms of row the writer stores, in its order of preference.
  virtual std::vector<RowForm> WriteForms() const { return {}; }

  // Creates `path` for writing (the properties are already set). False with `reason`.
  virtual bool OpenWrite(CImgFile& file, const std::string& path, std::string& reason) const;
  // Hands bounds to a writer whose format stores them.
  virtual void SetBounds(CImgFile& file, const CRect2D& bounds) const {}
  // Writes the header once the properties and bounds are set (SaveImage
  // unless the driver says otherwise). False with `reason`.
  virtual bool SaveHeader(CImgFile& file, std::string& reason) const;
  // Writes row `row` in the writer's file order; negative on failure.
  virtual long WriteRow(CImgFile& file, long row, CImgScanLine& line) const;
  // Completes and closes a written file. False with `reason`.
  virtual bool FinishWrite(CImgFile& file, std::string& reason) const;
};

// Every driver, in a fixed order.
const std::vector<const RasterDriver*>& Drivers();
const RasterDriver* FindDriver(const std::string& name);
// The reading driver that recognises `path` best, or null.
const RasterDriver* DetectReader(const std::string& path);
// The writing driver that claims `path`'s extension, or null.
const RasterDriver* DetectWriter(const std::string& path);
// The driver called `name`, which must read (or write, when `writing`);
// ArrayArgumentError otherwise.
const RasterDriver& NamedDriver(const std::string& name, bool writing);
// The reading driver called `name`, or the one that recognises `path`;
// ArrayError naming the file when none does.
const RasterDriver& ReadingDriver(const std::string& name, const std::string& path);
// The writing driver called `name`, or the one that claims `path`'s
// extension; ArrayArgumentError when there is none.
const RasterDriver& WritingDriver(const std::string& name, const std::string& path);

// Parses `-oo band=N`: bands count from 1 for every driver. False with
// `reason` for anything but a whole number from 1 to `most`.
bool ParseBand(const std::string& text, long most, long& band, std::string& reason);

// Parses `-oo threads=N` of the writers that compress on several threads:
// a whole number from 1 (the calling thread alone) to 1024. False with
// `reason` otherwise.
bool ParseThreads(const std::string& text, long& threads, std::string& reason);

// The text of the error message of the calling thread, when a driver recorded one
// since the last ClearDriverMessage.
void ClearDriverMessage();
std::string DriverMessage();
// Why the data file of a headed raw raster cannot hold every row its header
// gives, naming the first row it ends inside; empty when it holds them all.
// Row r's bytes are `rowBytes` from first + r × stride. Reading such a file
// would lose rows, so adapters refuse it at open, for info as for dump.
std::string CutRows(const CImgFile& file, unsigned long long first, unsigned long long stride,
                    unsigned long long rowBytes, unsigned long long rows);
// Lower-cased extension of `path` with its dot, or empty.
std::string ExtensionOf(const std::string& path);
// Removes the output a failed write left at `path`: only a regular file,
// never a device or a pipe named as the output (/dev/null).
void RemovePartialFile(const std::string& path);

// Each adapter registers itself from its own file with a static
// `const RegisterDriver kRegistered(order, &adapter);`; `order` fixes its
// place in the list (raw 10, bmp 20, aaigrid 30, nsdtf 40, ...).
struct RegisterDriver {
  RegisterDriver(int order, const RasterDriver* driver);
};

}  // namespace vtfmt
