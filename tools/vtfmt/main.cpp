// vtfmt: inspect, dump and convert raster files from the shell.
//
//   vtfmt formats
//   vtfmt info    [-f DRIVER] [-oo KEY=VALUE]... FILE
//   vtfmt dump    [-f DRIVER] [-oo KEY=VALUE]... FILE
//   vtfmt convert [-f DRIVER] [-F DRIVER] [-oo KEY=VALUE]... [-scale [MIN MAX]] IN OUT
//   vtfmt view    [-f ecw|mrsid] [-F DRIVER] FILE --window L,T,R,B (--size W,H | --level N) OUT
//   vtfmt e00 info FILE | cat FILE | write [--level none|partial|full] IN OUT
//   vtfmt gml export|import|info ...  (runs vtfmt-gml)
//   vtfmt mapinfo info|export|import ...  (runs vtfmt-mapinfo)
//   vtfmt text charsets | convert --from CHARSET --to CHARSET IN OUT
//
// Exit status: 0 success, 1 a file cannot be opened or is not of the format
// (one line on standard error), 2 a usage error.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "Command.h"
#include "access/RowConvert.h"
#include "access/RasterDriver.h"
#include "platform/mfc/CException.h"
#include "platform/vtcore/CVtImgToolkit.h"
#include "platform/vtcore/VtNumber.h"

namespace {
using namespace vtfmt;

const char kUsageText[] =
    "usage: vtfmt formats\n"
    "       vtfmt info    [-f DRIVER] [-oo KEY=VALUE]... FILE\n"
    "       vtfmt dump    [-f DRIVER] [-oo KEY=VALUE]... FILE\n"
    "       vtfmt convert [-f DRIVER] [-F DRIVER] [-oo KEY=VALUE]... [-scale [MIN MAX]] IN OUT\n"
    "       vtfmt view    [-f ecw|mrsid] [-F DRIVER] [-oo KEY=VALUE]... FILE\n"
    "                     --window LEFT,TOP,RIGHT,BOTTOM (--size W,H | --level N) OUT\n"
    "       vtfmt e00 info FILE\n"
    "       vtfmt e00 cat FILE\n"
    "       vtfmt e00 write [--level none|partial|full] IN OUT\n"
    "       vtfmt gml export [--charset CODE] [--progress] SRC OUT.gml\n"
    "       vtfmt gml import [-F OGR_DRIVER] [--progress] IN.gml OUT\n"
    "       vtfmt gml info IN.gml\n"
    "       vtfmt mapinfo info FILE.tab|FILE.mif\n"
    "       vtfmt mapinfo export FILE OUT [-F OGR_DRIVER]\n"
    "       vtfmt mapinfo import SRC OUT.tab|OUT.mif\n"
    "       vtfmt text charsets\n"
    "       vtfmt text convert --from CHARSET --to CHARSET IN OUT\n";

struct Arguments {
  std::string reader;  // -f
  std::string writer;  // -F
  Options options;     // -oo
  std::vector<std::string> files;
  bool scale = false;  // -scale [MIN MAX]
  bool scaleRange = false;
  double scaleMin = 0, scaleMax = 0;
};

// A whole argument that is a number, in the C locale.
bool NumberArgument(const char* text, double& value) {
  return vtnum::ParseWhole(text, std::strlen(text), value) && std::isfinite(value);
}

Arguments Parse(int argc, char** argv, int first, bool allowWriter) {
  Arguments args;
  for (int i = first; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) throw UsageError{"option " + a + " needs a value"};
      return argv[++i];
    };
    if (a == "-f") {
      args.reader = value();
    } else if (a == "-F" && allowWriter) {
      args.writer = value();
    } else if (a == "-scale" && allowWriter) {
      args.scale = true;
      double lo = 0, hi = 0;
      if (i + 2 < argc && NumberArgument(argv[i + 1], lo) && NumberArgument(argv[i + 2], hi)) {
        if (!(hi > lo)) throw UsageError{"-scale MIN MAX needs MAX above MIN"};
        args.scaleRange = true, args.scaleMin = lo, args.scaleMax = hi;
        i += 2;
      }
    } else if (a == "-oo") {
      std::string kv = value();
      size_t eq = kv.find('=');
      if (eq == std::string::npos || eq == 0) throw UsageError{"-oo expects KEY=VALUE, not " + kv};
      args.options[kv.substr(0, eq)] = kv.substr(eq + 1);
    } else if (a.size() > 1 && a[0] == '-') {
      throw UsageError{"unknown option " + a};
    } else {
      args.files.push_back(a);
    }
  }
  return args;
}

const RasterDriver* NamedDriver(const std::string& name) {
  const RasterDriver* d = FindDriver(name);
  if (!d) throw UsageError{"unknown driver " + name + " (see vtfmt formats)"};
  return d;
}

// Shortest decimal text that reads back as the same double.
std::string Number(double v) {
  char text[64];
  for (int precision = 15; precision <= 17; ++precision) {
    std::snprintf(text, sizeof text, "%.*g", precision, v);
    if (std::strtod(text, nullptr) == v || std::isnan(v)) break;
  }
  return text;
}

// A reader opened by its driver's protocol; the driver closes its files
// when it is destroyed.
struct OpenReader {
  const RasterDriver* driver = nullptr;
  std::unique_ptr<CImgFile> file;
};

// A driver's failure on `file`: the reason, and the text the driver
// recorded on the error-message object, if any.
FileError DriverFailure(const std::string& file, const std::string& reason) {
  const std::string message = DriverMessage();
  return FileError{file, message.empty() ? reason : reason + ": " + message};
}

void OpenForReading(OpenReader& r, const Arguments& args, const std::string& path,
                    const Options* options = nullptr) {
  if (!args.reader.empty()) {
    r.driver = NamedDriver(args.reader);
    if (!r.driver->CanRead()) throw UsageError{"driver " + args.reader + " cannot read"};
  } else {
    r.driver = DetectReader(path);
    if (!r.driver) {
      FILE* f = std::fopen(path.c_str(), "rb");
      if (!f) throw FileError{path, std::strerror(errno)};
      std::fclose(f);
      throw FileError{path, "format not recognised (try -f DRIVER)"};
    }
  }
  r.file = r.driver->Create();
  std::string reason;
  if (!r.driver->ApplyOptions(*r.file, options ? *options : args.options, reason)) throw UsageError{reason};
  ClearDriverMessage();
  if (!r.driver->OpenRead(*r.file, path, reason))
    throw DriverFailure(path, "driver " + std::string(r.driver->Name()) + ": " + reason);
}

// Bytes a scan line must hold for this image: the driver's width bytes, and
// at least the bytes its pixels occupy.
long LineBytes(CImgFile& f) {
  return std::max<long>(static_cast<long>(f.GetWidthBytes()),
                        CVtImgToolkit::AlignWidthByte(f.GetPixelFormat(), f.GetWidth()));
}

bool TakesOption(const RasterDriver& driver, const std::string& key) {
  for (const auto& k : driver.OptionKeys())
    if (k.first == key) return true;
  return false;
}

// Exchanges the first and third colour sample of every pixel of a 24-, 32-,
// 48- or 64-bit row: red first becomes blue first and back.
void SwapColourOrder(CImgScanLine& line, ImgPixelFormat format, unsigned long width) {
  size_t samples = 0, sample = 1;
  switch (format) {
    case PF_BIT24: samples = 3; break;
    case PF_BIT32: samples = 4; break;
    case PF_BIT48: samples = 3, sample = 2; break;
    case PF_BIT64: samples = 4, sample = 2; break;
    default: return;
  }
  const size_t pixels = std::min<size_t>(width, static_cast<size_t>(line.GetSize()) / (samples * sample));
  SwapRedBlue(line.GetData(), pixels, samples, sample);
}

int Formats() {
  for (const RasterDriver* d : Drivers()) {
    std::string caps = d->CanRead() ? "read" : "";
    if (d->CanWrite()) caps += caps.empty() ? "write" : ",write";
    std::string exts;
    for (const std::string& e : d->Extensions()) exts += (exts.empty() ? "" : " ") + e;
    std::printf("%-8s %-11s %s\n", d->Name(), caps.c_str(), exts.c_str());
  }
  return kOk;
}

int Info(const Arguments& args) {
  if (args.files.size() != 1) throw UsageError{"info takes one FILE"};
  OpenReader r;
  OpenForReading(r, args, args.files[0]);
  CImgFile& f = *r.file;
  std::printf("driver: %s\n", r.driver->Name());
  std::printf("width: %lu\n", f.GetWidth());
  std::printf("height: %lu\n", f.GetHeight());
  std::printf("pixel_format: %d\n", static_cast<int>(f.GetPixelFormat()));
  std::printf("pixel_format_ext: %d\n", static_cast<int>(f.GetPixelFormatExt()));
  std::printf("width_bytes: %lu\n", f.GetWidthBytes());
  std::printf("palette_entries: %d\n", f.m_Palette.GetSize());
  std::printf("row_order: %s\n", r.driver->BottomUp(f) ? "bottom-up" : "top-down");
  CRect2D b;
  if (r.driver->GetBounds(f, b))
    std::printf("bounds: %s %s %s %s\n", Number(b.left).c_str(), Number(b.top).c_str(),
                Number(b.right).c_str(), Number(b.bottom).c_str());
  else
    std::printf("bounds: none\n");
  for (const auto& line : r.driver->ExtraInfo(f))
    std::printf("%s: %s\n", line.first.c_str(), line.second.c_str());
  return kOk;
}

int Dump(const Arguments& args) {
  if (args.files.size() != 1) throw UsageError{"dump takes one FILE"};
  OpenReader r;
  OpenForReading(r, args, args.files[0]);
  CImgFile& f = *r.file;
  const long rowBytes = CVtImgToolkit::AlignWidthByte(f.GetPixelFormat(), f.GetWidth());
  CImgScanLine line(f.GetPixelFormat(), LineBytes(f));
  static char buffer[1 << 16];
  std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
  for (unsigned long row = 0; row < f.GetHeight(); ++row) {
    ClearDriverMessage();
    if (r.driver->ReadRow(f, static_cast<long>(row), line) < 0)
      throw DriverFailure(args.files[0], "cannot read row " + std::to_string(row));
    if (std::fwrite(line.GetData(), 1, static_cast<size_t>(rowBytes), stdout) !=
        static_cast<size_t>(rowBytes))
      throw FileError{"standard output", std::strerror(errno)};
  }
  if (std::fflush(stdout) != 0) throw FileError{"standard output", std::strerror(errno)};
  return kOk;
}

// A progress bar on standard error, only when it is a terminal.
class Progress {
 public:
  explicit Progress(unsigned long total) : total_(total), shown_(isatty(STDERR_FILENO) != 0) {}
  void Update(unsigned long done) {
    if (!shown_ || total_ == 0) return;
    int percent = static_cast<int>(done * 100 / total_);
    if (percent == last_) return;
    last_ = percent;
    std::string bar(static_cast<size_t>(percent / 2), '#');
    bar.resize(50, ' ');
    std::fprintf(stderr, "\r[%s] %3d%%", bar.c_str(), percent);
    if (done == total_) std::fputc('\n', stderr);
  }

 private:
  unsigned long total_;
  bool shown_;
  int last_ = -1;
};

// Source rows in the order a writer wants them. Rows keep their place in
// the picture: when the two files store rows in opposite orders, the source
// is read backwards, or, when its driver can only read forwards, its rows
// are first spilled to a temporary file and taken back from there, so no
// more than one row is ever held in memory.
class RowSource {
 public:
  RowSource(const RasterDriver& driver, CImgFile& file, const std::string& path, bool reverse)
      : driver_(driver), file_(file), path_(path), reverse_(reverse) {}
  ~RowSource() {
    if (spill_) std::fclose(spill_);
  }
  RowSource(const RowSource&) = delete;
  RowSource& operator=(const RowSource&) = delete;

  // Fills `line` with the row that goes to the writer's row `k`.
  void Read(unsigned long k, CImgScanLine& line) {
    const unsigned long height = file_.GetHeight();
    if (!reverse_) return ReadFromFile(k, line);
    if (!driver_.SequentialRead()) return ReadFromFile(height - 1 - k, line);
    if (!spill_) Spill(line);
    const size_t bytes = static_cast<size_t>(line.GetSize());
    if (fseeko(spill_, static_cast<off_t>((height - 1 - k) * bytes), SEEK_SET) != 0 ||
        std::fread(line.GetData(), 1, bytes, spill_) != bytes)
      throw FileError{"temporary file", std::strerror(errno)};
  }

 private:
  void ReadFromFile(unsigned long row, CImgScanLine& line) {
    ClearDriverMessage();
    if (driver_.ReadRow(file_, static_cast<long>(row), line) < 0)
      throw DriverFailure(path_, "cannot read row " + std::to_string(row));
  }

  void Spill(CImgScanLine& line) {
    spill_ = std::tmpfile();
    if (!spill_) throw FileError{"temporary file", std::strerror(errno)};
    const size_t bytes = static_cast<size_t>(line.GetSize());
    for (unsigned long row = 0; row < file_.GetHeight(); ++row) {
      ReadFromFile(row, line);
      if (std::fwrite(line.GetData(), 1, bytes, spill_) != bytes)
        throw FileError{"temporary file", std::strerror(errno)};
    }
  }

  const RasterDriver& driver_;
  CImgFile& file_;
  std::string path_;
  bool reverse_;
  FILE* spill_ = nullptr;
};

bool IsNoData(double v, bool hasNoData, double noData) { return hasNoData && v == noData; }

// The smallest and largest cell of the grid, no-data cells aside, read
// through a reader of its own.
void CellRange(const Arguments& args, const std::string& path, const Options& options, double& lo, double& hi,
               bool hasNoData, double noData) {
  OpenReader r;
  OpenForReading(r, args, path, &options);
  CImgFile& f = *r.file;
  CImgScanLine line(f.GetPixelFormat(), LineBytes(f));
  lo = HUGE_VAL, hi = -HUGE_VAL;
  for (unsigned long row = 0; row < f.GetHeight(); ++row) {
    if (r.driver->ReadRow(f, static_cast<long>(row), line) < 0)
      throw DriverFailure(path, "cannot read row " + std::to_string(row));
    for (unsigned long x = 0; x < f.GetWidth(); ++x) {
      const double v = line.GetValue(static_cast<long>(x));
      if (IsNoData(v, hasNoData, noData) || std::isnan(v)) continue;
      lo = std::min(lo, v), hi = std::max(hi, v);
    }
  }
}

// Cells to 8-bit grey: `lo` to 0 and `hi` to 255 in a straight line,
// cells beyond them clamped, no-data 0.
void ScaleRow(const CImgScanLine& cells, CImgScanLine& grey, unsigned long width, double lo, double hi,
              bool hasNoData, double noData) {
  const double span = hi > lo ? hi - lo : 1.0;
  for (unsigned long x = 0; x < width; ++x) {
    const double v = cells.GetValue(static_cast<long>(x));
    double g = 0;
    if (!IsNoData(v, hasNoData, noData) && !std::isnan(v))
      g = std::min(255.0, std::max(0.0, std::floor((v - lo) / span * 255.0 + 0.5)));
    grey[static_cast<int>(x)] = static_cast<BYTE>(g);
  }
}

int Convert(const Arguments& args) {
  if (args.files.size() != 2) throw UsageError{"convert takes IN and OUT"};
  const std::string& in = args.files[0];
  const std::string& out = args.files[1];
  // Creating OUT would truncate IN before a row was read.
  if (SameFile(in, out)) throw UsageError{"IN and OUT are the same file"};
  const RasterDriver* writer = nullptr;
  if (!args.writer.empty()) {
    writer = NamedDriver(args.writer);
    if (!writer->CanWrite()) throw UsageError{"driver " + args.writer + " cannot write"};
  } else {
    writer = DetectWriter(out);
    if (!writer) throw UsageError{"no writing driver claims " + out + " (use -F DRIVER)"};
  }

  // Each -oo setting goes to the driver, or both drivers, that take it.
  const RasterDriver* reader = args.reader.empty() ? DetectReader(in) : NamedDriver(args.reader);
  Options readerOptions, writerOptions;
  for (const auto& option : args.options) {
    const bool toWriter = TakesOption(*writer, option.first);
    if (toWriter) writerOptions.insert(option);
    if (!toWriter || (reader && TakesOption(*reader, option.first))) readerOptions.insert(option);
  }
  OpenReader r;
  OpenForReading(r, args, in, &readerOptions);
  CImgFile& src = *r.file;

  // Grid cells become picture pixels only through -scale: elevations are
  // not colours.
  const bool cells = r.driver->HoldsCells(src);
  if (cells && writer->WritesPictures() && !args.scale)
    throw FileError{in, "the rows hold grid cells, not colours; -scale [MIN MAX] maps them to 8-bit grey for " +
                            std::string(writer->Name())};
  const bool scaling = args.scale && cells;
  if (args.scale && !cells) throw UsageError{"-scale applies to grids; " + in + " holds a picture"};
  double noData = 0;
  const bool hasNoData = r.driver->GetNoData(src, noData);
  double lo = args.scaleMin, hi = args.scaleMax;
  if (scaling && !args.scaleRange) CellRange(args, in, readerOptions, lo, hi, hasNoData, noData);

  std::unique_ptr<CImgFile> dst = writer->Create();
  std::string reason;
  if (!writer->ApplyOptions(*dst, writerOptions, reason)) throw UsageError{reason};
  ClearDriverMessage();
  const std::string writerName = "driver " + std::string(writer->Name()) + ": ";
  if (!writer->OpenWrite(*dst, out, reason)) throw DriverFailure(out, writerName + reason);
  dst->SetWidth(src.GetWidth());
  dst->SetHeight(src.GetHeight());
  // Unsigned 16-bit cells go to a text grid as 32-bit ones, which hold
  // every value; the platform's 16-bit cells are signed.
  const bool widen = cells && !scaling && src.GetPixelFormat() == PF_BIT16 && r.driver->UnsignedCells(src) &&
                     writer->WritesValues();
  const ImgPixelFormat outFormat = scaling ? PF_BIT8 : widen ? PF_INT32 : src.GetPixelFormat();
  dst->SetPixelFormat(outFormat);
  dst->SetPixelFormatExt(scaling || widen ? outFormat : src.GetPixelFormatExt());
  if (scaling)
    CImgFile::CreateGrayPalette(dst->m_Palette, 256);
  else
    dst->SetPalette(src.m_Palette);
  // Colour tables of indexed images only: other formats may keep other
  // things there (a bitmap's 16-bit colour masks).
  if (CVtImgToolkit::PaletteSize(src.GetPixelFormat()) > 0 &&
      r.driver->PaletteRedFirst(src) != writer->PaletteRedFirst(*dst))
    for (int i = 0; i < dst->m_Palette.GetSize(); ++i) std::swap(dst->m_Palette[i].peRed, dst->m_Palette[i].peBlue);
  const bool swapColours = r.driver->RowsRedFirst(src) != writer->RowsRedFirst(*dst);
  if (cells && !scaling) writer->TakeCells(*dst);
  CRect2D bounds;
  if (r.driver->GetBounds(src, bounds)) writer->SetBounds(*dst, bounds);
  // A half-written file is of no use: it goes.
  auto abandon = [&](const FileError& error) {
    dst->Abort();
    RemovePartialFile(out);
    return error;
  };
  try {
    if (!writer->SaveHeader(*dst, reason)) throw DriverFailure(out, writerName + reason);
    CImgScanLine line(src.GetPixelFormat(),
                      std::max<long>(LineBytes(src), static_cast<long>(dst->GetWidthBytes())));
    // The row handed to the writer when it differs from the row read.
    CImgScanLine grey(outFormat, std::max<long>(static_cast<long>(dst->GetWidthBytes()),
                                                CVtImgToolkit::AlignWidth(outFormat, static_cast<long>(src.GetWidth()))));
    RowSource rows(*r.driver, src, in, r.driver->BottomUp(src) != writer->BottomUp(*dst));
    Progress progress(src.GetHeight());
    for (unsigned long k = 0; k < src.GetHeight(); ++k) {
      rows.Read(k, line);
      if (swapColours && !scaling) SwapColourOrder(line, src.GetPixelFormat(), src.GetWidth());
      if (scaling) ScaleRow(line, grey, src.GetWidth(), lo, hi, hasNoData, noData);
      if (widen) WidenUnsigned16(line.GetData(), grey.GetData(), src.GetWidth());
      if (writer->WriteRow(*dst, static_cast<long>(k), scaling || widen ? grey : line) < 0)
        throw DriverFailure(out, writerName + "cannot write row " + std::to_string(k));
      progress.Update(k + 1);
    }
    if (!writer->FinishWrite(*dst, reason)) throw DriverFailure(out, writerName + reason);
  } catch (const FileError& error) {
    throw abandon(error);
  } catch (const CFileException&) {
    abandon(FileError{});
    throw;
  }
  return kOk;
}

int Run(int argc, char** argv) {
  if (argc < 2) throw UsageError{""};
  const std::string command = argv[1];
  if (command == "-h" || command == "--help" || command == "help") {
    std::fputs(kUsageText, stdout);
    return kOk;
  }
  if (command == "formats") {
    if (argc != 2) throw UsageError{"formats takes no arguments"};
    return Formats();
  }
  if (command == "info") return Info(Parse(argc, argv, 2, false));
  if (command == "dump") return Dump(Parse(argc, argv, 2, false));
  if (command == "convert") return Convert(Parse(argc, argv, 2, true));
  if (command == "view") return ViewCommand(argc, argv, 2);
  if (command == "e00") return E00Command(argc, argv, 2);
  if (command == "gml") return CompanionCommand("vtfmt-gml", argc, argv, 2);
  if (command == "mapinfo") return CompanionCommand("vtfmt-mapinfo", argc, argv, 2);
  if (command == "text") return TextCommand(argc, argv, 2);
  throw UsageError{"unknown command " + command};
}
}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const UsageError& e) {
    if (!e.text.empty()) std::fprintf(stderr, "vtfmt: %s\n", e.text.c_str());
    std::fputs(kUsageText, stderr);
    return kUsage;
  } catch (const FileError& e) {
    std::fprintf(stderr, "vtfmt: %s: %s\n", e.file.c_str(), e.reason.c_str());
    return kFailed;
  } catch (const CFileException& e) {
    std::fprintf(stderr, "vtfmt: %s\n", e.what());
    return kFailed;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vtfmt: %s\n", e.what());
    return kFailed;
  }
}
