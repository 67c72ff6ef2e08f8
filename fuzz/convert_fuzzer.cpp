// Random bytes converted to every writing driver: the first byte picks the
// file's extension and the writer, the rest is the file. Whatever driver
// claims it, its row description goes through the choice of a writer form
// and each row through the conversion into it.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "access/RasterConvert.h"
#include "FuzzInput.h"

namespace {

// A few bytes can rightly claim a picture of hundreds of megabytes (a
// run-length bitmap that ends in its first row leaves every later row
// blank); writing it out takes seconds and teaches nothing that a small
// one does not, so pictures of more bytes than this are skipped.
constexpr size_t kMaxPictureBytes = size_t(16) << 20;

bool TooLarge(const std::string& path) {
  const vtfmt::RasterDriver* driver = vtfmt::DetectReader(path);
  if (!driver) return false;
  const std::unique_ptr<CImgFile> file = driver->Create();
  std::string reason;
  if (!driver->OpenRead(*file, path, reason)) return false;
  const vtfmt::RowDescription rows = driver->Describe(*file);
  file->Close();
  return rows.height != 0 && rows.lineBytes > kMaxPictureBytes / rows.height;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const char* const kNames[] = {"in.tif", "in.bmp", "in.png", "in.gif", "in.jpg", "in.asc", "in.img", "in.nsdtf"};
  static const char* const kOutputs[] = {"out.bmp", "out.png", "out.tif", "out.asc", "out.nsdtf", "out.img",
                                         "out.gif", "out.jpg"};
  if (size < 1) return 0;
  SkipGeodataOpenJpeg();
  const std::string path = FuzzPath("convert", kNames[data[0] % 8]);
  const std::string out = FuzzPath("convert", kOutputs[(data[0] / 8) % 8]);
  if (!WriteFuzzFile(path, data + 1, size - 1)) return 0;
  if (TooLarge(path)) return 0;
  vtfmt::ConvertSettings settings;
  if (data[0] >= 192) settings.options["band"] = "2";
  try {
    vtfmt::ConvertRaster(path, out, settings);
  } catch (const vtfmt::ArrayError&) {
  } catch (const vtfmt::ArrayArgumentError&) {
  }
  std::remove(out.c_str());
  return 0;
}
