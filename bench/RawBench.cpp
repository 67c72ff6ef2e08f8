// Raw raster: scan-line reads of a 4000 x 3000 24-bit image; GDAL reads the
// same .raw through an ESRI .hdr header written beside it. The raw driver
// cannot write, so only reads are measured.
#include <gdal.h>

#include <cstdio>
#include <fstream>
#include <vector>

#include "Bench.h"
#include "raster/CImgFileRaw.h"

namespace {

int Run(int passes) {
  const unsigned width = 4000, height = 3000;
  bench::ScratchDir dir;
  const std::string raw = dir / "bench.raw";
  const size_t rowBytes = size_t(width) * 3;
  {
    std::vector<char> row(rowBytes);
    std::ofstream out(raw, std::ios::binary);
    for (unsigned r = 0; r < height; ++r) {
      for (size_t i = 0; i < rowBytes; ++i) row[i] = static_cast<char>((i * 7 + r * 13) & 0xFF);
      out.write(row.data(), static_cast<std::streamsize>(rowBytes));
    }
    std::ofstream(dir / "bench.ifo") << "Width=" << width << "\nHeight=" << height << "\nXmin=0\nYmin=0\n";
    std::ofstream(dir / "bench.hdr") << "NROWS " << height << "\nNCOLS " << width
                                     << "\nNBANDS 3\nNBITS 8\nLAYOUT BIP\n";
  }
  const double bytes = double(rowBytes) * height;
  std::printf("raw raster %u x %u x 24 bits (%.1f MB), best of %d passes\n", width, height, bytes / 1e6,
              passes);

  unsigned long checksumOurs = 0, checksumGdal = 0;
  bool failed = false;
  const double ours = bench::BestSeconds(passes, [&] {
    CImgFileRaw file;
    if (!file.OpenForRead(raw.c_str())) {
      failed = true;
      return;
    }
    CImgScanLine line(PF_BIT24, static_cast<long>(file.GetWidthBytes()));
    for (unsigned r = 0; r < height; ++r) {
      if (file.ReadScanLine(static_cast<long>(r), line) < 0) failed = true;
      checksumOurs += line[static_cast<int>(r % rowBytes)];
    }
    file.Close();
  });

  const double gdal = bench::BestSeconds(passes, [&] {
    GDALDatasetH ds = GDALOpen(raw.c_str(), GA_ReadOnly);
    if (!ds) {
      failed = true;
      return;
    }
    std::vector<unsigned char> line(rowBytes);
    for (unsigned r = 0; r < height; ++r) {
      if (GDALDatasetRasterIO(ds, GF_Read, 0, static_cast<int>(r), static_cast<int>(width), 1, line.data(),
                              static_cast<int>(width), 1, GDT_Byte, 3, nullptr, 3,
                              static_cast<GSpacing>(rowBytes), 1) != CE_None)
        failed = true;
      checksumGdal += line[r % rowBytes];
    }
    GDALClose(ds);
  });
  if (failed || checksumOurs != checksumGdal) {
    std::fprintf(stderr, "raw: the reads failed or disagree\n");
    return 1;
  }
  bench::Report("raw: read scan lines", bytes, ours, gdal);
  return 0;
}

const bench::RegisterBench kRegistered("raw", Run);

}  // namespace
