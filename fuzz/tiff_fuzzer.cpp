// Feeds arbitrary bytes to the TIFF driver. The first byte steers the reads:
// bit 0 sets the grid flag, bits 1-2 size the scan line (exact, one byte
// short, with slack), bit 3 reads rows backwards; the rest is the file. Every
// sample plane is read row by row, then the first tiles and the bounds.
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "raster/CImgFileTiff.h"

namespace {
std::string Path() { return FuzzPath("tiff", "f.tif"); }

class Probe : public CImgFileTiff {
 public:
  using CImgFileTiff::ReadTiled;
  using CImgFileTiff::SetNoValueInScanLine;
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const std::string path = Path();
  if (!WriteFuzzFile(path, data + 1, size - 1)) return 0;

  Probe tiff;
  tiff.m_bGrid = data[0] & 1;
  if (!tiff.OpenForRead(path.c_str())) return 0;
  CRect2D bounds;
  tiff.LoadGeoImage(bounds, 10000);
  tiff.LoadGeoImage(bounds, 0);
  if (tiff.LoadImage() == 1) {
    const long bytes = static_cast<long>(tiff.GetWidthBytes());
    const long slack = (data[0] >> 1) % 3 == 0 ? 0 : (data[0] >> 1) % 3 == 1 ? -1 : 7;
    CImgScanLine line(tiff.GetPixelFormat(), bytes + slack > 0 ? bytes + slack : 0);
    const long height = static_cast<long>(tiff.GetHeight());
    const long rows = height < 64 ? height : 64;
    const int planes = tiff.IsMultiBand() ? static_cast<int>(tiff.GetBandCount()) : 1;
    for (int s = 0; s < planes && s < 4; ++s)
      for (long i = 0; i < rows; ++i) {
        const long row = (data[0] & 8) ? height - 1 - i : i;
        if (tiff.ReadScanLine(row, line, s) >= 0 && s == 0) tiff.SetNoValueInScanLine(line);
      }
    if (tiff.m_bTiled && tiff.m_nTileByteSize > 0 && tiff.m_nTileByteSize <= (1 << 24)) {
      std::vector<unsigned char> tile(static_cast<size_t>(tiff.m_nTileByteSize));
      for (long t = 0; t < 4; ++t) tiff.ReadTiled(t, t / 2, tile.data());
    }
    unsigned short v = 0;
    for (unsigned tag : {256u, 258u, 273u, 320u, 339u, 530u, 33550u}) tiff.GetTiffField(tag, &v);
  }
  tiff.Close();
  return 0;
}
