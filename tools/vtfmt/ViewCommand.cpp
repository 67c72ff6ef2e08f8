// `vtfmt view`: one window of an ECW or MrSID image, decoded by the
// driver's own windowed reads, written through any writing driver.
//
//   vtfmt view [-f ecw|mrsid] [-F DRIVER] [-oo KEY=VALUE]... FILE
//              --window LEFT,TOP,RIGHT,BOTTOM (--size W,H | --level N) OUT
//
// The window is in full-resolution pixels, right and bottom outside. ECW
// resamples it to W x H; MrSID decodes the part of it inside the image at
// level N (the image reduced by 2^N). Key: value lines on standard output
// tell what was written.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "access/ArrayWriter.h"
#include "Command.h"
#include "access/RasterDriver.h"
#include "raster/CImgFileECW.h"
#include "raster/CImgFileMrSID20.h"

namespace vtfmt {
namespace {

struct ViewArguments {
  std::string reader, writer;
  Options options;
  std::vector<std::string> files;
  std::vector<double> window;  // left, top, right, bottom
  std::vector<double> size;    // width, height
  bool hasLevel = false;
  long level = 0;
};

// Comma-separated numbers in the C locale; exactly `count` of them.
std::vector<double> Numbers(const std::string& option, const std::string& text, size_t count) {
  std::vector<double> values;
  size_t at = 0;
  while (at <= text.size()) {
    size_t comma = text.find(',', at);
    if (comma == std::string::npos) comma = text.size();
    double v = 0;
    const char* first = text.data() + at;
    const char* last = text.data() + comma;
    const auto parsed = std::from_chars(first, last, v);
    if (first == last || parsed.ec != std::errc() || parsed.ptr != last || !std::isfinite(v))
      throw UsageError{option + " takes " + std::to_string(count) + " numbers separated by commas, not " + text};
    values.push_back(v);
    at = comma + 1;
  }
  if (values.size() != count)
    throw UsageError{option + " takes " + std::to_string(count) + " numbers separated by commas, not " + text};
  return values;
}

// A whole number within 32 bits.
long Whole(const std::string& option, double v) {
  if (v != std::floor(v) || v < -2147483648.0 || v > 2147483647.0)
    throw UsageError{option + " takes whole numbers of 32 bits"};
  return static_cast<long>(v);
}

ViewArguments ParseView(int argc, char** argv, int first) {
  ViewArguments args;
  for (int i = first; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) throw UsageError{"option " + a + " needs a value"};
      return argv[++i];
    };
    if (a == "-f") {
      args.reader = value();
    } else if (a == "-F") {
      args.writer = value();
    } else if (a == "-oo") {
      const std::string kv = value();
      const size_t eq = kv.find('=');
      if (eq == std::string::npos || eq == 0) throw UsageError{"-oo expects KEY=VALUE, not " + kv};
      args.options[kv.substr(0, eq)] = kv.substr(eq + 1);
    } else if (a == "--window") {
      args.window = Numbers(a, value(), 4);
    } else if (a == "--size") {
      args.size = Numbers(a, value(), 2);
    } else if (a == "--level") {
      const double v = Numbers(a, value(), 1)[0];
      if (v != std::floor(v) || v < 0 || v > 64) throw UsageError{"--level takes a level from 0"};
      args.hasLevel = true;
      args.level = static_cast<long>(v);
    } else if (a.size() > 1 && a[0] == '-') {
      throw UsageError{"unknown option " + a};
    } else {
      args.files.push_back(a);
    }
  }
  if (args.files.size() != 2) throw UsageError{"view takes FILE and OUT"};
  if (args.window.empty()) throw UsageError{"view needs --window LEFT,TOP,RIGHT,BOTTOM"};
  return args;
}

// A decoded window: rows top first, `rowBytes` apart, blue first.
struct Window {
  long width = 0, height = 0;
  ImgPixelFormat format = PF_BIT24;
  const unsigned char* pixels = nullptr;
  long rowBytes = 0;
  long rowStep = 1;  // rows of the buffer per window row
};

std::string EcwReason(const CImgFileECW& ecw) {
  const std::string detail = NCSGetLastErrorText();
  return std::string(NCSGetErrorText(static_cast<NCSError>(ecw.GetLastError()))) +
         (detail.empty() ? "" : " (" + detail + ")");
}

std::string WithMessage(const std::string& reason) {
  const std::string message = DriverMessage();
  return message.empty() ? reason : reason + ": " + message;
}

// Writes the window through `writer` as `out`; a half-written file goes.
void WriteWindow(const ViewArguments& args, const RasterDriver& writer, const Window& w) {
  ArrayImage image;
  image.width = static_cast<unsigned long>(w.width);
  image.height = static_cast<unsigned long>(w.height);
  image.samples = w.format == PF_BIT24 ? 3 : 1;
  image.data = w.pixels;
  image.rowBytes = static_cast<size_t>(w.rowStep * w.rowBytes);
  image.redFirst = false;
  try {
    WriteArray(args.files[1], writer.Name(), args.options, image, std::nullopt, {});
  } catch (const ArrayArgumentError& e) {
    throw UsageError{e.what()};
  }
}

}  // namespace

int ViewCommand(int argc, char** argv, int first) {
  const ViewArguments args = ParseView(argc, argv, first);
  const std::string& in = args.files[0];
  const std::string& out = args.files[1];
  if (SameFile(in, out)) throw UsageError{"FILE and OUT are the same file"};
  const RasterDriver* reader = args.reader.empty() ? DetectReader(in) : FindDriver(args.reader);
  if (!args.reader.empty() && !reader) throw UsageError{"unknown driver " + args.reader + " (see vtfmt formats)"};
  const std::string kind = reader ? reader->Name() : "";
  if (kind != "ecw" && kind != "mrsid")
    throw UsageError{"view reads ECW and MrSID images (-f ecw or -f mrsid)" +
                     (reader ? ", not " + kind : std::string())};
  const RasterDriver* writer = args.writer.empty() ? DetectWriter(out) : FindDriver(args.writer);
  if (!writer) throw UsageError{"no writing driver claims " + out + " (use -F DRIVER)"};
  if (!writer->CanWrite()) throw UsageError{"driver " + std::string(writer->Name()) + " cannot write"};

  ClearDriverMessage();
  Window w;
  std::string extra;  // lines of the driver, after the common ones
  if (kind == "ecw") {
    if (args.hasLevel || args.size.empty()) throw UsageError{"an ECW view takes --size W,H (and no --level)"};
    const CRect rect(Whole("--window", args.window[0]), Whole("--window", args.window[1]),
                     Whole("--window", args.window[2]), Whole("--window", args.window[3]));
    const long width = Whole("--size", args.size[0]), height = Whole("--size", args.size[1]);
    CImgFileECW ecw;
    if (!ecw.Open(in.c_str()))
      throw FileError{in, WithMessage(ecw.GetLastError() == NCS_SUCCESS ? "cannot open the file" : "cannot open the image")};
    if (!ecw.SetFileView(rect, width, height, nullptr, 0)) throw FileError{in, EcwReason(ecw)};
    w.width = width;
    w.height = height;
    w.format = ecw.GetBandCount() >= 3 ? PF_BIT24 : PF_BIT8;
    w.pixels = ecw.GetBuffer();
    // Files of one or two bands keep one cache row per band: band 0 is the view.
    w.rowBytes = ecw.GetBufferWidth() * (w.format == PF_BIT24 ? 3 : 1);
    w.rowStep = w.format == PF_BIT24 ? 1 : ecw.GetBandCount();
    WriteWindow(args, *writer, w);
  } else {
    if (!args.hasLevel || !args.size.empty()) throw UsageError{"a MrSID view takes --level N (and no --size)"};
    CImgFileMrSID20 sid;
    sid.OpenForRead(in.c_str());
    if (sid.LoadImage() != 1) throw FileError{in, "cannot open the image: " + sid.GetStatusText().str()};
    if (args.level > sid.GetLev())
      throw FileError{in, "level " + std::to_string(args.level) + " is deeper than the image's deepest level, " +
                              std::to_string(sid.GetLev())};
    sid.SetViewRect(CRect2D(args.window[0], args.window[1], args.window[2], args.window[3]));
    // The resolution of level N: the level chosen is N itself.
    sid.SetResolution(std::ldexp(1.0, -static_cast<int>(args.level)));
    if (!sid.GetImage()) {
      const std::string status = sid.GetStatusText().str();
      throw FileError{in, WithMessage(status == "None" ? "the window cannot be decoded" : status)};
    }
    w.width = sid.GetWindowWidth();
    w.height = sid.GetWindowHeight();
    w.format = sid.GetPixelFormat();
    w.pixels = sid.GetBuffer();
    w.rowBytes = sid.GetRowBytes();
    WriteWindow(args, *writer, w);
    const CRect r = sid.GetWindowRect();
    extra = "level: " + std::to_string(sid.GetScale()) + "\nlevel_window: " + std::to_string(r.left) + " " +
            std::to_string(r.top) + " " + std::to_string(r.right) + " " + std::to_string(r.bottom) + "\n";
  }
  std::printf("driver: %s\nwidth: %ld\nheight: %ld\npixel_format: %d\n%s", kind.c_str(), w.width, w.height,
              static_cast<int>(w.format), extra.c_str());
  return kOk;
}

}  // namespace vtfmt
