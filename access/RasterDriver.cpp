#include "access/RasterDriver.h"

#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <fstream>

#include "access/AccessError.h"
#include "platform/vtcore/CVtErrorMsg.h"
#include "platform/vtcore/CVtImgToolkit.h"

namespace vtfmt {

std::string CutRows(const CImgFile& file, unsigned long long first, unsigned long long stride,
                    unsigned long long rowBytes, unsigned long long rows) {
  const unsigned long long length = file.GetLength();
  // Rows and stride come from 32-bit header counts: no product wraps.
  if (rows == 0 || first + (rows - 1) * stride + rowBytes <= length) return {};
  const unsigned long long row = length < first + rowBytes ? 0 : (length - first - rowBytes) / stride + 1;
  return "the data file (" + std::to_string(length) + " bytes) ends inside row " + std::to_string(row) + " of the " +
         std::to_string(rows) + " the header gives";
}

std::string ExtensionOf(const std::string& path) {
  size_t slash = path.find_last_of("/\\");
  size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  std::string ext = path.substr(dot);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

void RemovePartialFile(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) std::remove(path.c_str());
}

void ClearDriverMessage() { VtGetErrorMsgObj()->Clear(); }

std::string DriverMessage() {
  const CVtErrorMsg* msg = VtGetErrorMsgObj();
  if (!msg->HasMessage()) return {};
  std::string text = msg->GetMessage().str();
  if (msg->GetCode() != 0) text += " (" + std::to_string(msg->GetCode()) + ")";
  return text;
}

bool ParseBand(const std::string& text, long most, long& band, std::string& reason) {
  char* end = nullptr;
  errno = 0;
  band = std::strtol(text.c_str(), &end, 10);
  if (!text.empty() && *end == '\0' && errno == 0 && band >= 1 && band <= most) return true;
  reason = "band must be a band number from 1, not " + text;
  return false;
}

bool ParseThreads(const std::string& text, long& threads, std::string& reason) {
  const auto parsed = std::from_chars(text.data(), text.data() + text.size(), threads);
  if (!text.empty() && parsed.ec == std::errc() && parsed.ptr == text.data() + text.size() && threads >= 1 &&
      threads <= 1024)
    return true;
  reason = "threads must be a whole number from 1 to 1024, not " + text;
  return false;
}

ProbeScore RasterDriver::Probe(const std::string& path, const std::vector<unsigned char>&) const {
  const std::vector<std::string> exts = Extensions();
  return std::find(exts.begin(), exts.end(), ExtensionOf(path)) != exts.end() ? kExtension : kNoMatch;
}

bool RasterDriver::ApplyOptions(CImgFile&, const Options& options, std::string& reason) const {
  if (options.empty()) return true;
  reason = "driver " + std::string(Name()) + " takes no option " + options.begin()->first;
  return false;
}

bool RasterDriver::OpenRead(CImgFile& file, const std::string& path, std::string& reason) const {
  if (!file.OpenForRead(path.c_str())) {
    reason = "cannot open the file";
    return false;
  }
  if (file.LoadImage() < 0) {
    file.Close();
    reason = std::string("not a ") + Name() + " file";
    return false;
  }
  return true;
}

bool RasterDriver::OpenWrite(CImgFile& file, const std::string& path, std::string& reason) const {
  if (!file.OpenForWrite(path.c_str())) {
    reason = "cannot create the file";
    return false;
  }
  return true;
}

namespace {
std::vector<std::pair<int, const RasterDriver*>>& Registry() {
  static std::vector<std::pair<int, const RasterDriver*>> registry;
  return registry;
}
}  // namespace

RegisterDriver::RegisterDriver(int order, const RasterDriver* driver) {
  Registry().emplace_back(order, driver);
}

const std::vector<const RasterDriver*>& Drivers() {
  static const std::vector<const RasterDriver*> drivers = [] {
    auto registry = Registry();
    std::stable_sort(registry.begin(), registry.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<const RasterDriver*> list;
    for (const auto& entry : registry) list.push_back(entry.second);
    return list;
  }();
  return drivers;
}

const RasterDriver* FindDriver(const std::string& name) {
  for (const RasterDriver* d : Drivers())
    if (name == d->Name()) return d;
  return nullptr;
}

const RasterDriver* DetectReader(const std::string& path) {
  std::vector<unsigned char> head(512);
  std::ifstream in(path, std::ios::binary);
  if (in) {
    in.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<size_t>(in.gcount()));
  } else {
    head.clear();
  }
  const RasterDriver* best = nullptr;
  int bestScore = kNoMatch;
  for (const RasterDriver* d : Drivers()) {
    if (!d->CanRead()) continue;
    int score = d->Probe(path, head);
    if (score > bestScore) {
      best = d;
      bestScore = score;
    }
  }
  return best;
}

const RasterDriver* DetectWriter(const std::string& path) {
  const std::string ext = ExtensionOf(path);
  for (const RasterDriver* d : Drivers()) {
    if (!d->CanWrite()) continue;
    const std::vector<std::string> exts = d->Extensions();
    if (std::find(exts.begin(), exts.end(), ext) != exts.end()) return d;
  }
  return nullptr;
}

const RasterDriver& NamedDriver(const std::string& name, bool writing) {
  const RasterDriver* driver = FindDriver(name);
  if (!driver) {
    std::string names;
    for (const RasterDriver* d : Drivers()) names += (names.empty() ? "" : " ") + std::string(d->Name());
    throw ArrayArgumentError("unknown driver " + name + " (the drivers: " + names + ")");
  }
  if (!(writing ? driver->CanWrite() : driver->CanRead()))
    throw ArrayArgumentError("driver " + name + (writing ? " cannot write" : " cannot read"));
  return *driver;
}

const RasterDriver& ReadingDriver(const std::string& name, const std::string& path) {
  if (!name.empty()) return NamedDriver(name, false);
  if (const RasterDriver* driver = DetectReader(path)) return *driver;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) throw ArrayError(path + ": " + std::strerror(errno));
  std::fclose(f);
  throw ArrayError(path + ": format not recognised (name the driver with -f)");
}

const RasterDriver& WritingDriver(const std::string& name, const std::string& path) {
  if (!name.empty()) return NamedDriver(name, true);
  const RasterDriver* driver = DetectWriter(path);
  if (!driver) throw ArrayArgumentError("no writing driver claims " + path + " (name the driver)");
  return *driver;
}

}  // namespace vtfmt

namespace vtfmt {

long RasterDriver::ReadRow(CImgFile& file, long row, CImgScanLine& line) const {
  return file.ReadScanLine(row, line);
}

bool RasterDriver::Layout(CImgFile& file, RowLayout& layout) const {
  const bool cells = HoldsCells(file);
  switch (file.GetPixelFormat()) {
    case PF_BIT1:
      layout = {1, 1, 'u'};
      return true;
    case PF_BIT4:
      layout = {1, 4, 'u'};
      return true;
    case PF_BIT8:
      layout = {1, 8, 'u'};
      return true;
    case PF_BIT16:
      if (!cells) return false;
      layout = {1, 16, UnsignedCells(file) ? 'u' : 'i'};
      return true;
    case PF_BIT24:
      layout = {3, 8, 'u'};
      return true;
    case PF_BIT32:
      layout = cells ? RowLayout{1, 32, 'i'} : RowLayout{4, 8, 'u'};
      return true;
    case PF_BIT48:
      layout = {3, 16, 'u'};
      return true;
    case PF_BIT64:
      layout = {4, 16, 'u'};
      return true;
    case PF_INT32:
      layout = {1, 32, 'i'};
      return true;
    case PF_FLOAT32:
      layout = {1, 32, 'f'};
      return true;
    case PF_FLOAT64:
      layout = {1, 64, 'f'};
      return true;
    default:
      return false;
  }
}

bool RasterDriver::SaveHeader(CImgFile& file, std::string& reason) const {
  if (file.SaveImage() >= 0) return true;
  reason = "cannot write the header";
  return false;
}

long RasterDriver::WriteRow(CImgFile& file, long row, CImgScanLine& line) const {
  return file.WriteScanLine(row, line);
}

bool RasterDriver::FinishWrite(CImgFile& file, std::string&) const {
  file.Close();
  return true;
}

}  // namespace vtfmt

namespace vtfmt {

RowDescription RasterDriver::Describe(CImgFile& file) const {
  RowDescription d;
  d.width = file.GetWidth();
  d.height = file.GetHeight();
  d.format = file.GetPixelFormat();
  d.lineBytes = static_cast<size_t>(
      std::max<long>(static_cast<long>(file.GetWidthBytes()),
                     CVtImgToolkit::AlignWidthByte(d.format, static_cast<long>(d.width))));
  d.bottomUp = BottomUp(file);
  CRect2D bounds;
  if (GetBounds(file, bounds)) d.bounds = bounds;
  RowLayout layout;
  if (!Layout(file, layout)) {
    // 16-bit colours keep their masks where the palette would be.
    if (d.format == PF_BIT16 && file.m_Palette.GetSize() == 3) {
      d.content = RowContent::kMasked;
      d.bits = 16;
      std::memcpy(d.masks.data(), file.m_Palette.GetData(), sizeof d.masks);
    } else {
      d.samples = 0;  // rows of no form this layer knows
    }
    return d;
  }
  d.samples = layout.samples;
  d.bits = layout.bits;
  d.kind = layout.kind;
  if (HoldsCells(file) || (d.samples == 1 && (d.bits > 8 || d.kind != 'u'))) {
    d.content = RowContent::kCells;
    double noData = 0;
    if (GetNoData(file, noData)) d.noData = noData;
    return d;
  }
  if (d.samples == 3 || d.samples == 4) {
    d.content = RowContent::kColour;
    d.redFirst = RowsRedFirst(file);
    d.fourth = d.samples == 4 ? Fourth(file) : FourthSample::kNone;
    return d;
  }
  if (d.samples != 1) {
    d.content = RowContent::kGrey;  // grey and other samples: no writer's form but their own
    return d;
  }
  // One sample of 8 bits or fewer: grey levels without a palette or with a
  // grey ramp, indices into a palette otherwise.
  const bool redFirst = PaletteRedFirst(file);
  const int entries = std::min<int>(file.m_Palette.GetSize(), 1 << d.bits);
  bool ramp = true;
  for (int i = 0; i < entries; ++i) {
    const PALETTEENTRY& e = file.m_Palette[i];
    const uint8_t red = redFirst ? e.peRed : e.peBlue, blue = redFirst ? e.peBlue : e.peRed;
    d.palette.push_back({red, e.peGreen, blue});
    const int grey = i * 255 / ((1 << d.bits) - 1);
    ramp = ramp && red == grey && e.peGreen == grey && blue == grey;
  }
  d.content = entries == 0 || (ramp && entries == (1 << d.bits)) ? RowContent::kGrey : RowContent::kIndexed;
  if (d.content == RowContent::kGrey) d.palette.clear();
  return d;
}

}  // namespace vtfmt
