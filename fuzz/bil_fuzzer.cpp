// Feeds arbitrary bytes to the BIL and USGS grid readers: the first byte
// picks the reader (bit 0) and whether the header text also serves as the
// .blw world file (bit 1); the next two give the header's length; the
// header goes to the .hdr file and the rest to the data file. Every row the
// header claims (up to a bound) is read for every band, into lines of the
// width bytes, of the cells alone and of one byte.
#include <cstdint>
#include <string>

#include "FuzzInput.h"
#include "raster/CImgFileBILGrid.h"

namespace {

template <class Grid, class ReadFn>
void ReadRows(Grid& grid, int bands, ReadFn read) {
  const unsigned long bytes = grid.GetWidthBytes();
  if (bytes > (1u << 16)) return;
  CImgScanLine line(grid.GetPixelFormat(), static_cast<long>(bytes));
  CImgScanLine cells(grid.GetPixelFormat(), static_cast<long>(grid.GetWidth() * 2));
  CImgScanLine tiny(grid.GetPixelFormat(), 1);
  const unsigned long rows = grid.GetHeight() < 64 ? grid.GetHeight() : 64;
  for (int band = 0; band < bands && band < 4; ++band)
    for (unsigned long r = 0; r <= rows; ++r) {
      read(band, static_cast<long>(r), line);
      read(band, static_cast<long>(r), cells);
      read(band, static_cast<long>(r), tiny);
    }
  read(0, -1, line);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const bool usgs = (data[0] & 1) != 0;
  const bool world = (data[0] & 2) != 0;
  size_t headerBytes = data[1] | (data[2] << 8);
  if (headerBytes > size - 3) headerBytes = size - 3;
  const uint8_t* header = data + 3;
  const std::string path = FuzzPath("bil", "g.bil");
  WriteFuzzFile(FuzzPath("bil", "g.hdr"), header, headerBytes);
  WriteFuzzFile(path, header + headerBytes, size - 3 - headerBytes);
  const std::string blw = FuzzPath("bil", "g.blw");
  if (world)
    WriteFuzzFile(blw, header, headerBytes);
  else
    std::remove(blw.c_str());

  if (usgs) {
    CImgFileUSGrid grid;
    if (!grid.OpenForRead(path.c_str())) return 0;
    if (grid.LoadImage() >= 0) {
      CRect2D bounds;
      grid.GetGeoReference(bounds);
      ReadRows(grid, 1, [&](int, long row, CImgScanLine& line) { grid.ReadScanLine(row, line); });
    }
    grid.Close();
  } else {
    CImgFileBILGrid grid;
    if (!grid.OpenForRead(path.c_str())) return 0;
    if (grid.LoadImage() >= 0) {
      CRect2D bounds;
      grid.GetGeoReference(bounds);
      ReadRows(grid, grid.m_nBandCount,
               [&](int band, long row, CImgScanLine& line) { grid.ReadScanLine(band, row, line); });
    }
    grid.Close();
  }
  return 0;
}
