// Random bytes through the array reader of the Python module: the first byte
// picks the file's extension, the rest is the file. Whatever driver claims
// it, its rows go through the array layout (unpacking, colour order, bottom-up
// and forward-only row order) in ranges and backwards.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "access/ArrayReader.h"
#include "FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const char* const kNames[] = {"in.tif", "in.bmp", "in.png", "in.gif", "in.jpg", "in.asc", "in.img", "in.fst"};
  if (size < 1) return 0;
  SkipGeodataOpenJpeg();
  const std::string path = FuzzPath("array", kNames[data[0] % (sizeof kNames / sizeof kNames[0])]);
  if (!WriteFuzzFile(path, data + 1, size - 1)) return 0;
  try {
    vtfmt::ArrayReader reader(path, "", {});
    // Rows claimed beyond what a small file can hold are refused by the
    // drivers; a row wider than this is not worth the time here.
    if (reader.RowBytes() > (16u << 20)) return 0;
    const unsigned long height = reader.Height();
    const unsigned long first = std::min<unsigned long>(height, 16);
    std::vector<unsigned char> rows(reader.RowBytes() * first);
    reader.Read(0, first, rows.data());
    reader.Palette();
    reader.NoData();
    reader.Bounds();
    for (unsigned long k = 0; k < std::min<unsigned long>(height, 4); ++k)
      reader.Read(height - 1 - k, height - k, rows.data());
  } catch (const vtfmt::ArrayError&) {
  } catch (const vtfmt::ArrayArgumentError&) {
  }
  return 0;
}
