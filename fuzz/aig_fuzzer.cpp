// Builds the four files of an Arc/Info binary grid from one input and reads
// every row (up to a bound). The input is the header (308 bytes), the
// bounds (32 bytes), a flag byte, the index length (2 bytes, in 8-byte
// entries past its 100-byte header) and the index, then the data file. Flag
// bit 0 mends the index's magic numbers and length word, bit 1 shortens the
// header by a byte, so that the fuzzer also reaches the tiles.
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "FuzzInput.h"
#include "raster/CImgFileArcGrd.h"

namespace {
void Set32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const size_t kFixed = 308 + 32 + 1 + 2;
  if (size < kFixed) return 0;
  const uint8_t flags = data[340];
  const size_t entries = size_t(data[341]) << 8 | data[342];
  const size_t rest = size - kFixed;
  const size_t indexBytes = std::min(rest, 100 + 8 * entries);
  std::vector<uint8_t> index(data + kFixed, data + kFixed + indexBytes);
  if ((flags & 1) && index.size() >= 100) {
    Set32(index, 0, 9994);
    Set32(index, 4, static_cast<uint32_t>(-1004));
    Set32(index, 24, static_cast<uint32_t>(index.size() / 2));
  }
  const std::string dir = FuzzPath("aig", "grid");
  static const bool made = [&dir] { return mkdir(dir.c_str(), 0700) == 0; }();
  (void)made;
  WriteFuzzFile(dir + "/hdr.adf", data, (flags & 2) ? 307 : 308);
  WriteFuzzFile(dir + "/dblbnd.adf", data + 308, 32);
  WriteFuzzFile(dir + "/w001001x.adf", index.data(), index.size());
  WriteFuzzFile(dir + "/w001001.adf", data + kFixed + indexBytes, rest - indexBytes);

  CImgFileArcGrd grid;
  grid.SetNoValue(static_cast<long>(flags) - 128);
  if (!grid.OpenForRead((dir + "/").c_str())) return 0;
  if (grid.LoadImage() >= 0) {
    // Rows sized as callers size them; a wide grid is read once, a short one
    // in full, then one row again out of order.
    const unsigned long bytes = grid.GetWidthBytes();
    if (bytes <= (1u << 18)) {
      CImgScanLine line(grid.GetPixelFormat(), static_cast<long>(bytes));
      const unsigned long rows = grid.GetHeight() < 64 ? grid.GetHeight() : 64;
      for (unsigned long r = 0; r < rows; ++r) grid.ReadScanLine(static_cast<long>(r), line);
      grid.ReadScanLine(static_cast<long>(grid.GetHeight() - 1), line);
      grid.ReadScanLine(0, line);
    }
  }
  grid.Close();
  return 0;
}
