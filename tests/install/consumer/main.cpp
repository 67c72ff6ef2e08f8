// Opens a raw raster through the installed library and prints its size.
#include <cstdio>

#include "raster/CImgFileRaw.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  CImgFileRaw raw;
  if (!raw.OpenForRead(argv[1])) return 1;
  CImgScanLine line(raw.GetPixelFormat(), static_cast<long>(raw.GetWidthBytes()));
  long rows = 0;
  for (unsigned long r = 0; r < raw.GetHeight(); ++r)
    if (raw.ReadScanLine(static_cast<long>(r), line) > 0) ++rows;
  std::printf("%lu %lu %ld\n", raw.GetWidth(), raw.GetHeight(), rows);
  return 0;
}
