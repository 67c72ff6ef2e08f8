// Feeds arbitrary bytes to the GIF driver. The first two bytes steer the
// reads: how the scan line is sized (exact, one byte short, with slack) and
// in which order rows are read; the rest is the file.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "FuzzInput.h"
#include "raster/CVtImgFileGIF.h"

namespace {
std::string Path() { return FuzzPath("gif", "f.gif"); }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const std::string path = Path();
  if (!WriteFuzzFile(path, data + 2, size - 2)) return 0;

  CVtImgFileGIF gif;
  if (gif.OpenForRead(path.c_str()) && gif.LoadImage() == 1) {
    const long bytes = static_cast<long>(gif.GetWidthBytes());
    const long slack = data[0] % 3 == 0 ? 0 : data[0] % 3 == 1 ? -1 : 7;
    CImgScanLine line(gif.GetPixelFormat(), bytes + slack > 0 ? bytes + slack : 0);
    const long height = static_cast<long>(gif.GetHeight());
    // Every row, then a few from outside the image, in an order the input picks.
    uint32_t state = data[1];
    for (long i = 0; i < height + 4; ++i) {
      state = state * 1103515245u + 12345u;
      const long row = data[1] & 1 ? (state >> 8) % static_cast<uint32_t>(height + 4) - 2 : i - 2;
      gif.ReadScanLine(row, line);
    }
    CPaletteArray palette;
    gif.GetPalette(palette);
  }
  gif.Close();
  return 0;
}
