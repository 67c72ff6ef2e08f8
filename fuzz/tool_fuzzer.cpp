// One input down the command-line tool's own paths, the way `vtfmt info`,
// `vtfmt dump` and `vtfmt convert` take a file: the reading driver found by
// content detection, the description info prints, every row read as dump
// reads it and again through the array reader, and a conversion to a
// writer. The first byte names the file (modulo the names: none, an
// extension no driver claims, one of the readers' own, so that a file is
// detected by its bytes as well as by its name, or a name a format wants);
// bits 0-2 of the second pick the writer, bit 3 asks for band 2. The rest
// is the file, up to the first "\n@@file NAME\n", after which come the files
// beside it (headers, companion files, the other files of a grid), each
// under its NAME and up to the next such line.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "FuzzInput.h"
#include "access/ArrayReader.h"
#include "access/RasterConvert.h"
#include "access/RasterDriver.h"
#include "platform/mfc/CException.h"
#include "platform/vtcore/CVtImgToolkit.h"
#include "platform/vtcore/VtNumber.h"

namespace {

// A few bytes can rightly claim a picture of hundreds of megabytes; reading
// it three times over teaches nothing a small one does not.
constexpr size_t kMaxPictureBytes = size_t(4) << 20;

// Names for the input: two that do not give the format away, two that
// formats of several files want, then one for each extension a reader
// claims.
const std::vector<std::string>& InputNames() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> all{"input", "input.dat", "w001001.adf", "L71034032_03219991212_B10.FST"};
    std::vector<std::string> claimed;
    for (const vtfmt::RasterDriver* d : vtfmt::Drivers())
      if (d->CanRead())
        for (const std::string& e : d->Extensions())
          if (std::find(claimed.begin(), claimed.end(), e) == claimed.end()) claimed.push_back(e);
    for (const std::string& e : claimed) all.push_back("input" + e);
    return all;
  }();
  return names;
}

// Output files in memory where the system offers it: the writers' own
// code is what is searched, not the disk.
std::string OutputPath(const char* name) {
  static const std::string dir = [] {
    std::string templ = access("/dev/shm", W_OK) == 0 ? "/dev/shm/vtfmt-fuzz-tool-XXXXXX" : "/tmp/vtfmt-fuzz-tool-XXXXXX";
    return mkdtemp(&templ[0]) ? templ : std::string("/tmp");
  }();
  return dir + "/" + name;
}

const char kFileMark[] = "\n@@file ";

// A name for a file beside the input: a plain name of up to 64 characters.
bool PlainName(const std::string& name) {
  if (name.empty() || name.size() > 64 || name == "." || name == "..") return false;
  for (char c : name)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '_' && c != '-') return false;
  return true;
}

// Writes the input under `path` and the files after it beside it; the
// names of those written go to `written`, to be removed after the run so
// that no run sees another's files.
bool WriteFiles(const std::string& path, const uint8_t* data, size_t size, std::vector<std::string>& written) {
  const std::string dir = path.substr(0, path.rfind('/') + 1);
  const size_t markBytes = sizeof kFileMark - 1;
  auto next = [&](size_t from) {
    const uint8_t* end = data + size;
    const uint8_t* at = std::search(data + from, end, kFileMark, kFileMark + markBytes);
    return static_cast<size_t>(at - data);
  };
  size_t end = next(0);
  if (!WriteFuzzFile(path, data, end)) return false;
  while (end < size) {
    const size_t nameAt = end + markBytes;
    const uint8_t* eol = std::find(data + nameAt, data + size, '\n');
    const std::string name(data + nameAt, eol);
    const size_t from = eol < data + size ? static_cast<size_t>(eol - data) + 1 : size;
    end = next(from);
    if (!PlainName(name) || dir + name == path) continue;
    if (WriteFuzzFile(dir + name, data + from, end - from)) written.push_back(dir + name);
  }
  return true;
}

struct Reader {
  const vtfmt::RasterDriver* driver = nullptr;
  std::unique_ptr<CImgFile> file;
};

// What `vtfmt info` gathers and prints, into `out` so that none of it is
// optimised away.
void Describe(Reader& r, std::string& out) {
  CImgFile& f = *r.file;
  out += r.driver->Name();
  out += std::to_string(f.GetWidth()) + std::to_string(f.GetHeight()) +
         std::to_string(static_cast<int>(f.GetPixelFormat())) + std::to_string(static_cast<int>(f.GetPixelFormatExt())) +
         std::to_string(f.GetWidthBytes()) + std::to_string(f.m_Palette.GetSize()) + (r.driver->BottomUp(f) ? "b" : "t");
  const vtfmt::RowDescription rows = r.driver->Describe(f);
  if (rows.samples > 0) out += vtfmt::LayoutText(rows);
  CRect2D b;
  if (r.driver->GetBounds(f, b))
    out += vtnum::Coordinate(b.left) + vtnum::Coordinate(b.top) + vtnum::Coordinate(b.right) +
           vtnum::Coordinate(b.bottom);
  for (const auto& line : r.driver->ExtraInfo(f)) out += line.first + line.second;
}

// Every row as `vtfmt dump` reads it, until the first the driver refuses.
void Dump(Reader& r) {
  CImgFile& f = *r.file;
  const long rowBytes = CVtImgToolkit::AlignWidthByte(f.GetPixelFormat(), f.GetWidth());
  const vtfmt::RowDescription rows = r.driver->Describe(f);
  CImgScanLine line(f.GetPixelFormat(), static_cast<long>(rows.lineBytes));
  std::vector<unsigned char> written(rowBytes > 0 ? static_cast<size_t>(rowBytes) : 0);
  for (unsigned long row = 0; row < f.GetHeight(); ++row) {
    vtfmt::ClearDriverMessage();
    if (r.driver->ReadRow(f, static_cast<long>(row), line) < 0) return;
    // The bytes dump writes out of the line.
    if (!written.empty()) std::memcpy(written.data(), line.GetData(), written.size());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const char* const kOutputs[] = {"out.bmp", "out.png", "out.tif", "out.asc",
                                         "out.nsdtf", "out.img", "out.gif", "out.jpg"};
  if (size < 2) return 0;
  SkipGeodataOpenJpeg();
  if (TiffClaimsManyBands(data + 2, size - 2, 256)) return 0;
  const std::vector<std::string>& names = InputNames();
  const std::string path = FuzzPath("tool", names[data[0] % names.size()].c_str());
  const std::string out = OutputPath(kOutputs[data[1] & 7]);
  std::vector<std::string> beside;
  struct Cleanup {
    std::vector<std::string>& files;
    ~Cleanup() {
      for (const std::string& f : files) std::remove(f.c_str());
    }
  } cleanup{beside};
  beside.push_back(path);
  if (!WriteFiles(path, data + 2, size - 2, beside)) return 0;

  Reader r;
  r.driver = vtfmt::DetectReader(path);
  if (!r.driver) return 0;
  try {
    r.file = r.driver->Create();
    std::string reason, text;
    vtfmt::ClearDriverMessage();
    if (!r.driver->ApplyOptions(*r.file, {}, reason) || !r.driver->OpenRead(*r.file, path, reason)) return 0;
    Describe(r, text);
    const vtfmt::RowDescription rows = r.driver->Describe(*r.file);
    const bool small = rows.height == 0 || rows.lineBytes <= kMaxPictureBytes / rows.height;
    if (small) Dump(r);
    r.file->Close();
    r.file.reset();
    if (!small) return 0;

    // The array reader's rows, as the Python module and the GDAL plugin
    // take them, and the conversion.
    try {
      vtfmt::ArrayReader reader(path, "", {});
      if (reader.Height() > 0 && reader.RowBytes() <= kMaxPictureBytes / reader.Height()) {
        std::vector<unsigned char> all(reader.RowBytes() * reader.Height());
        reader.Read(0, reader.Height(), all.data());
        reader.Palette();
        reader.NoData();
        reader.Bounds();
      }
    } catch (const vtfmt::ArrayError&) {
    }
    vtfmt::ConvertSettings settings;
    if (data[1] & 8) settings.options["band"] = "2";
    vtfmt::ConvertRaster(path, out, settings);
  } catch (const vtfmt::ArrayError&) {
  } catch (const vtfmt::ArrayArgumentError&) {
  } catch (const CFileException&) {
  }
  std::remove(out.c_str());
  return 0;
}
