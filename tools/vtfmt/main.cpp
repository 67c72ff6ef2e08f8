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
#include "access/RasterConvert.h"
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
  try {
    r.driver = &ReadingDriver(args.reader, path);
  } catch (const ArrayArgumentError& e) {
    throw UsageError{e.what()};
  } catch (const ArrayError& e) {
    throw FileError{"", e.what()};
  }
  r.file = r.driver->Create();
  std::string reason;
  if (!r.driver->ApplyOptions(*r.file, options ? *options : args.options, reason)) throw UsageError{reason};
  ClearDriverMessage();
  if (!r.driver->OpenRead(*r.file, path, reason))
    throw DriverFailure(path, "driver " + std::string(r.driver->Name()) + ": " + reason);
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
  // What the rows hold, as conversions see them.
  const RowDescription rows = r.driver->Describe(f);
  std::printf("rows: %s\n", rows.samples > 0 ? LayoutText(rows).c_str() : "of no known form");
  CRect2D b;
  if (r.driver->GetBounds(f, b))
    std::printf("bounds: %s %s %s %s\n", vtnum::Coordinate(b.left).c_str(), vtnum::Coordinate(b.top).c_str(),
                vtnum::Coordinate(b.right).c_str(), vtnum::Coordinate(b.bottom).c_str());
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
  // The driver's width bytes, and at least the bytes its pixels occupy.
  CImgScanLine line(f.GetPixelFormat(), static_cast<long>(r.driver->Describe(f).lineBytes));
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
  Progress() : shown_(isatty(STDERR_FILENO) != 0) {}
  void Update(unsigned long done, unsigned long total) {
    if (!shown_ || total == 0) return;
    total_ = total;
    int percent = static_cast<int>(done * 100 / total_);
    if (percent == last_) return;
    last_ = percent;
    std::string bar(static_cast<size_t>(percent / 2), '#');
    bar.resize(50, ' ');
    std::fprintf(stderr, "\r[%s] %3d%%", bar.c_str(), percent);
    if (done == total_) std::fputc('\n', stderr);
  }

 private:
  unsigned long total_ = 0;
  bool shown_;
  int last_ = -1;
};

int Convert(const Arguments& args) {
  if (args.files.size() != 2) throw UsageError{"convert takes IN and OUT"};
  const std::string& in = args.files[0];
  const std::string& out = args.files[1];
  // Creating OUT would truncate IN before a row was read.
  if (SameFile(in, out)) throw UsageError{"IN and OUT are the same file"};
  ConvertSettings settings;
  settings.reader = args.reader;
  settings.writer = args.writer;
  settings.options = args.options;
  settings.scale = args.scale;
  settings.scaleRange = args.scaleRange;
  settings.scaleMin = args.scaleMin;
  settings.scaleMax = args.scaleMax;
  Progress progress;
  settings.progress = [&](unsigned long done, unsigned long total) { progress.Update(done, total); };
  try {
    ConvertRaster(in, out, settings);
  } catch (const ArrayArgumentError& e) {
    throw UsageError{e.what()};
  } catch (const ArrayError& e) {
    throw FileError{"", e.what()};
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
    if (e.file.empty())
      std::fprintf(stderr, "vtfmt: %s\n", e.reason.c_str());
    else
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
