// Feeds arbitrary bytes to the BMP driver. The first four bytes steer the
// reads: how the scan line is sized (exact, one byte short, with slack),
// whether 16-bit pixels are asked for as colours, and in which order rows
// are read; the rest is the file.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "FuzzInput.h"
#include "raster/CImgFileBmp.h"

namespace {
std::string Path() { return FuzzPath("bmp", "f.bmp"); }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const std::string path = Path();
  if (!WriteFuzzFile(path, data + 4, size - 4)) return 0;

  CImgFileBmp bmp;
  bmp.m_bSixteenAsRgb = (data[0] & 0x80) != 0;
  if (!bmp.OpenForRead(path.c_str())) return 0;
  if (bmp.LoadImage() == 1) {
    const long bytes = static_cast<long>(bmp.GetWidthBytes());
    if (bytes <= (1 << 20)) {
      const long slack = (data[0] & 0x7F) % 3 == 0 ? 0 : (data[0] & 0x7F) % 3 == 1 ? -1 : 7;
      CImgScanLine line(bmp.GetPixelFormat(), bytes + slack > 0 ? bytes + slack : 0);
      const long height = static_cast<long>(bmp.GetHeight());
      // Rows from a small generator seeded by the input: out of order and
      // repeated, so the row-start table is filled from anywhere.
      uint32_t state = data[1] | data[2] << 8 | data[3] << 16;
      const int reads = height < 64 ? static_cast<int>(height) + 4 : 68;
      for (int i = 0; i < reads; ++i) {
        state = state * 1103515245u + 12345u;
        const long row = (state >> 8) % static_cast<uint32_t>(height + 2) - 1;
        bmp.ReadScanLine(row, line);
      }
    }
  }
  bmp.Close();
  return 0;
}
