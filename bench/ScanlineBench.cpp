// Scan-line throughput of our drivers beside GDAL's reading of the same file,
// in one run, reported as a ratio (ours / GDAL's; above 1 means faster).
//
//   vtfmt_bench [width height [passes]]
//
// The raw raster is read-only, so only reads are measured so far; GDAL reads
// the same .raw through an ESRI .hdr header written beside it.
#include <gdal.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "raster/CImgFileRaw.h"

namespace {

double BestSeconds(int passes, const std::function<void()>& run) {
  double best = 1e300;
  for (int i = 0; i < passes; ++i) {
    auto start = std::chrono::steady_clock::now();
    run();
    std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    best = std::min(best, took.count());
  }
  return best;
}

void Report(const char* what, double bytes, double ours, double gdal) {
  std::printf("%-28s vtfmt %8.1f MB/s   GDAL %8.1f MB/s   ratio %.2f\n", what, bytes / ours / 1e6,
              bytes / gdal / 1e6, gdal / ours);
}

}  // namespace

int main(int argc, char** argv) {
  const unsigned width = argc > 2 ? static_cast<unsigned>(std::atoi(argv[1])) : 4000;
  const unsigned height = argc > 2 ? static_cast<unsigned>(std::atoi(argv[2])) : 3000;
  const int passes = argc > 3 ? std::atoi(argv[3]) : 5;
  if (width == 0 || height == 0 || passes <= 0) {
    std::fprintf(stderr, "usage: vtfmt_bench [width height [passes]]\n");
    return 2;
  }

  char dirTemplate[] = "/tmp/vtfmt-bench-XXXXXX";
  if (!mkdtemp(dirTemplate)) return 1;
  const std::string dir = dirTemplate;
  const std::string raw = dir + "/bench.raw";
  const size_t rowBytes = size_t(width) * 3;
  {
    std::vector<char> row(rowBytes);
    std::ofstream out(raw, std::ios::binary);
    for (unsigned r = 0; r < height; ++r) {
      for (size_t i = 0; i < rowBytes; ++i) row[i] = static_cast<char>((i * 7 + r * 13) & 0xFF);
      out.write(row.data(), static_cast<std::streamsize>(rowBytes));
    }
    std::ofstream(dir + "/bench.ifo") << "Width=" << width << "\nHeight=" << height << "\nXmin=0\nYmin=0\n";
    std::ofstream(dir + "/bench.hdr")
        << "NROWS " << height << "\nNCOLS " << width << "\nNBANDS 3\nNBITS 8\nLAYOUT BIP\n";
  }
  const double bytes = double(rowBytes) * height;
  std::printf("raw raster %u x %u x 24 bits (%.1f MB), best of %d passes\n", width, height, bytes / 1e6,
              passes);

  unsigned long checksumOurs = 0, checksumGdal = 0;
  const double ours = BestSeconds(passes, [&] {
    CImgFileRaw file;
    if (!file.OpenForRead(raw.c_str())) std::exit(1);
    CImgScanLine line(PF_BIT24, static_cast<long>(file.GetWidthBytes()));
    for (unsigned r = 0; r < height; ++r) {
      if (file.ReadScanLine(static_cast<long>(r), line) < 0) std::exit(1);
      checksumOurs += line[static_cast<int>(r % rowBytes)];
    }
    file.Close();
  });

  GDALAllRegister();
  const double gdal = BestSeconds(passes, [&] {
    GDALDatasetH ds = GDALOpen(raw.c_str(), GA_ReadOnly);
    if (!ds) std::exit(1);
    std::vector<unsigned char> line(rowBytes);
    for (unsigned r = 0; r < height; ++r) {
      if (GDALDatasetRasterIO(ds, GF_Read, 0, static_cast<int>(r), static_cast<int>(width), 1, line.data(),
                              static_cast<int>(width), 1, GDT_Byte, 3, nullptr, 3,
                              static_cast<GSpacing>(rowBytes), 1) != CE_None)
        std::exit(1);
      checksumGdal += line[r % rowBytes];
    }
    GDALClose(ds);
  });
  if (checksumOurs != checksumGdal) {
    std::fprintf(stderr, "the two reads disagree\n");
    return 1;
  }
  Report("raw: read scan lines", bytes, ours, gdal);
  std::printf("%-28s no writing driver yet\n", "write scan lines");

  std::remove(raw.c_str());
  std::remove((dir + "/bench.ifo").c_str());
  std::remove((dir + "/bench.hdr").c_str());
  rmdir(dir.c_str());
  return 0;
}
