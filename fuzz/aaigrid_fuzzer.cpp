// Feeds arbitrary bytes to the ESRI ASCII grid reader: the header, then
// every row it claims (up to a bound) in a cell format chosen by the first
// byte. Every other input is also offered as the .hdr header of a
// headerless data file, the reader's second path.
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "raster/CImgFileGrid.h"

namespace {
const int kFormats[] = {1, 4, 8, 16, 24, 32, 64, 320, 3200, 6400, 48, -1};

std::string Dir() {
  static const std::string dir = [] {
    char templ[] = "/tmp/vtfmt-fuzz-aaigrid-XXXXXX";
    return std::string(mkdtemp(templ) ? templ : "/tmp");
  }();
  return dir;
}

void Put(const std::string& path, const uint8_t* data, size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const int format = kFormats[data[0] % (sizeof kFormats / sizeof kFormats[0])];
  const bool viaHeaderFile = (data[0] & 0x80) != 0;
  const std::string dir = Dir();
  std::string path = dir + "/g.asc";
  if (viaHeaderFile) {
    Put(dir + "/g.hdr", data + 1, size - 1);
    static const uint8_t kValues[] = "1.5 2\n3 -4\n";
    Put(dir + "/g.flt", kValues, sizeof kValues - 1);
    path = dir + "/g.flt";
  } else {
    Put(path, data + 1, size - 1);
  }

  CImgFileGrid grid;
  grid.m_RequestedPixelFormat = format;
  if (!grid.OpenForRead(path.c_str())) return 0;
  if (grid.LoadImage() >= 0) {
    CRect2D bounds;
    grid.GetGeoReference(bounds);
    // Rows sized by the width bytes, as callers size them; 24 and others
    // with wider cells must refuse them rather than overrun.
    const unsigned long bytes = grid.GetWidthBytes();
    if (bytes <= (1u << 16)) {
      CImgScanLine line(grid.GetPixelFormat(), static_cast<long>(bytes));
      const unsigned long rows = grid.GetHeight() < 64 ? grid.GetHeight() : 64;
      for (unsigned long r = 0; r < rows; ++r)
        if (grid.ReadScanLine(static_cast<long>(r), line) < 0) break;
    }
  }
  grid.Close();
  return 0;
}
