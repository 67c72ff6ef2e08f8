// Random bytes converted to every writing driver: the first byte picks the
// file's extension and the writer, the rest is the file. Whatever driver
// claims it, its row description goes through the choice of a writer form
// and each row through the conversion into it.
#include <cstdint>
#include <cstdio>
#include <string>

#include "access/RasterConvert.h"
#include "FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const char* const kNames[] = {"in.tif", "in.bmp", "in.png", "in.gif", "in.jpg", "in.asc", "in.img", "in.nsdtf"};
  static const char* const kOutputs[] = {"out.bmp", "out.png", "out.tif", "out.asc", "out.nsdtf", "out.img",
                                         "out.gif", "out.jpg"};
  if (size < 1) return 0;
  SkipGeodataOpenJpeg();
  const std::string path = FuzzPath("convert", kNames[data[0] % 8]);
  const std::string out = FuzzPath("convert", kOutputs[(data[0] / 8) % 8]);
  if (!WriteFuzzFile(path, data + 1, size - 1)) return 0;
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
