// Feeds arbitrary bytes to the JPEG driver through a file. The first byte
// steers the reads: how the scan line is sized (exact, one byte short, with
// slack), how far each read skips ahead, and whether the decoding is
// restarted through PrepareForRead; the rest is the file.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "FuzzInput.h"
#include "raster/CImgFileJPEG.h"

namespace {
std::string Path() { return FuzzPath("jpeg", "f.jpg"); }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const std::string path = Path();
  if (!WriteFuzzFile(path, data + 1, size - 1)) return 0;

  const unsigned steer = data[0];
  CImgFileJPEG jpeg;
  if (!jpeg.OpenForRead(path.c_str())) return 0;
  if (jpeg.LoadImage() == 1) {
    const long bytes = static_cast<long>(jpeg.GetWidthBytes());
    const long slack = steer % 3 == 0 ? 0 : steer % 3 == 1 ? -1 : 5;
    CImgScanLine line(jpeg.GetPixelFormat(), bytes + slack);
    const long height = static_cast<long>(jpeg.GetHeight());
    const long step = 1 + (steer >> 2) % 4;
    for (int pass = 0; pass < ((steer & 0x40) ? 2 : 1); ++pass) {
      long row = 0;
      for (int i = 0; i < 48 && row < height + 2; ++i, row += step) jpeg.ReadScanLine(row, line);
      jpeg.ReadScanLine(0, line);  // behind: refused
      if (!jpeg.PrepareForRead()) break;
    }
    jpeg.EndForRead();
    jpeg.OpenForEcw();
  }
  jpeg.Close();
  return 0;
}
