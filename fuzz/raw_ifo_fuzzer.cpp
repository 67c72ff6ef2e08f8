// Feeds arbitrary bytes to the raw driver as its .ifo sidecar, then reads
// every row the sidecar claims (up to a bound) from a small .raw beside it.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "raster/CImgFileRaw.h"

namespace {
std::string Dir() {
  static std::string dir = [] {
    char templ[] = "/tmp/vtfmt-fuzz-raw-XXXXXX";
    std::string d = mkdtemp(templ) ? templ : "/tmp";
    FILE* raw = std::fopen((d + "/f.raw").c_str(), "wb");
    for (int i = 0; i < 4096; ++i) std::fputc(i & 0xFF, raw);
    std::fclose(raw);
    return d;
  }();
  return dir;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string dir = Dir();
  FILE* ifo = std::fopen((dir + "/f.ifo").c_str(), "wb");
  if (!ifo) return 0;
  std::fwrite(data, 1, size, ifo);
  std::fclose(ifo);

  CImgFileRaw raw;
  if (raw.OpenForRead((dir + "/f.bmp").c_str())) {
    const unsigned long bytes = raw.GetWidthBytes();
    if (bytes <= (1u << 16)) {
      CImgScanLine line(PF_BIT24, static_cast<long>(bytes));
      const unsigned long rows = raw.GetHeight() < 64 ? raw.GetHeight() : 64;
      for (unsigned long r = 0; r < rows; ++r) raw.ReadScanLine(static_cast<long>(r), line);
      raw.ReadScanLine(static_cast<long>(raw.GetHeight()), line);
    }
    // A short line must be refused, never overrun.
    CImgScanLine small(PF_BIT24, 1);
    raw.ReadScanLine(0, small);
    raw.Close();
  }
  return 0;
}
