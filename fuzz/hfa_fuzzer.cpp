// Feeds arbitrary bytes to the ERDAS Imagine reader through the geodata
// library's HFA functions. The first byte steers the reads: bits 0-1 pick
// the band, bits 2-3 size the scan line (exact, one byte short, with
// slack), bit 4 reads rows backwards; the rest is the file. Every band is
// loaded, the chosen one read row by row (up to a bound) and block by
// block, then the coordinate system and bounds are read.
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "raster/CImgFileImg.h"

namespace {
// Block rows above this are not read here: allocating and clearing them is
// all the reader does with them, and it would only slow the search down.
const size_t kMaxBlockRowBytes = size_t(1) << 26;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const std::string path = FuzzPath("hfa", "f.img");
  if (!WriteFuzzFile(path, data + 1, size - 1)) return 0;

  CImgFileImg img;
  if (!img.OpenForRead(path.c_str())) return 0;
  const int chosen = data[0] & 3;
  if (img.LoadImage() == 1 && img.LoadImage(chosen) == 1) {
    for (int b = 0; b < img.GetBandCount() && b < 4; ++b) {
      HFABand* band = nullptr;
      img.LoadImage(b);
      if (!img.m_pCurrentBand ||
          img.m_pCurrentBand->BlockBytes() * size_t(img.m_pCurrentBand->blocksPerRow) > kMaxBlockRowBytes)
        continue;
      if (!img.LoadBandImg(b, band) || b != chosen) continue;
      const long bytes = static_cast<long>(img.GetWidthBytes());
      const int mode = (data[0] >> 2) % 3;
      const long slack = mode == 0 ? 0 : mode == 1 ? -1 : 9;
      CImgScanLine line(PF_BIT8, bytes + slack > 0 ? bytes + slack : 0);
      const long height = static_cast<long>(img.GetHeight());
      const long rows = height < 96 ? height : 96;
      for (long i = 0; i < rows; ++i) img.ReadScanLine((data[0] & 16) ? height - 1 - i : i, line, band);
      std::vector<unsigned char> block(band->BlockBytes());
      for (long k = 0; k < 3; ++k) img.GetImgBlock(k, 2 - k, block.data());
    }
  }
  CRect2D bounds;
  img.GetMapBounds(bounds);
  CVtPJCoordSys cs;
  if (img.GetPJCoordSys(path.c_str(), cs)) cs.ExportToWkt();
  img.Close();
  return 0;
}
