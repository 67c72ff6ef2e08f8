// BIL: every row of a 6000 x 6000 16-bit grid, big-endian and
// little-endian, read by our driver and by GDAL's EHdr driver, with plain
// read() of the same rows as the floor. The BIL driver cannot write, so only
// reads are measured.
#include <fcntl.h>
#include <gdal.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "Bench.h"
#include "raster/CImgFileBILGrid.h"

namespace {

const int kSize = 6000;

bool WriteGrid(const std::string& path, const std::string& header, bool bigEndian) {
  std::ofstream out(path, std::ios::binary);
  std::vector<unsigned char> row(size_t(kSize) * 2);
  for (int y = 0; y < kSize; ++y) {
    for (int x = 0; x < kSize; ++x) {
      const uint16_t v = static_cast<uint16_t>((x * 7 + y * 13) % 30000);
      row[2 * x + (bigEndian ? 0 : 1)] = static_cast<unsigned char>(v >> 8);
      row[2 * x + (bigEndian ? 1 : 0)] = static_cast<unsigned char>(v & 0xFF);
    }
    out.write(reinterpret_cast<const char*>(row.data()), static_cast<std::streamsize>(row.size()));
  }
  std::ofstream(header) << "BYTEORDER " << (bigEndian ? "M" : "I") << "\nLAYOUT BIL\nNROWS " << kSize
                        << "\nNCOLS " << kSize << "\nNBANDS 1\nNBITS 16\nPIXELTYPE SIGNEDINT\n"
                        << "ULXMAP 500015\nULYMAP 3999985\nXDIM 30\nYDIM 30\n";
  return static_cast<bool>(out);
}

int RunOne(bench::ScratchDir& dir, bool bigEndian, int passes) {
  const std::string name = bigEndian ? "m" : "i";
  const std::string path = dir / (name + ".bil");
  if (!WriteGrid(path, dir / (name + ".hdr"), bigEndian)) return 1;
  const double bytes = 2.0 * kSize * kSize;

  bool failed = false;
  long long sumOurs = 0, sumGdal = 0, sumRead = 0;
  const double ours = bench::BestSeconds(passes, [&] {
    CImgFileBILGrid bil;
    if (!bil.OpenForRead(path.c_str()) || bil.LoadImage() < 0) {
      failed = true;
      return;
    }
    CImgScanLine line(PF_BIT16, static_cast<long>(bil.GetWidthBytes()));
    sumOurs = 0;
    for (int r = 0; r < kSize; ++r) {
      if (bil.ReadScanLine(r, line) <= 0) failed = true;
      sumOurs += static_cast<long long>(line.GetValue(r));
    }
    bil.Close();
  });
  const double gdal = bench::BestSeconds(passes, [&] {
    GDALDatasetH ds = GDALOpen(path.c_str(), GA_ReadOnly);
    if (!ds) {
      failed = true;
      return;
    }
    std::vector<int16_t> row(kSize);
    sumGdal = 0;
    for (int r = 0; r < kSize; ++r) {
      if (GDALRasterIO(GDALGetRasterBand(ds, 1), GF_Read, 0, r, kSize, 1, row.data(), kSize, 1, GDT_Int16, 0, 0) !=
          CE_None)
        failed = true;
      sumGdal += row[size_t(r)];
    }
    GDALClose(ds);
  });
  // The floor: the same rows read with read(), nothing done to them.
  const double floor = bench::BestSeconds(passes, [&] {
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) {
      failed = true;
      return;
    }
    std::vector<unsigned char> row(size_t(kSize) * 2);
    sumRead = 0;
    for (int r = 0; r < kSize; ++r) {
      if (::read(fd, row.data(), row.size()) != static_cast<ssize_t>(row.size())) failed = true;
      sumRead += row[size_t(r)];
    }
    ::close(fd);
  });
  if (failed || sumOurs != sumGdal) {
    std::fprintf(stderr, "bil: the reads failed or disagree\n");
    return 1;
  }
  const std::string what = "bil: read 16-bit rows, " + std::string(bigEndian ? "big" : "little") + "-endian";
  bench::Report(what.c_str(), bytes, ours, gdal);
  std::printf("%-34s read() %8.1f MB/s   vtfmt / read() %.2f\n", "", bytes / floor / 1e6, floor / ours);
  return 0;
}

int Run(int passes) {
  GDALAllRegister();
  bench::ScratchDir dir;
  std::printf("BIL %d x %d x 16 bits (%.1f MB), best of %d passes\n", kSize, kSize, 2.0 * kSize * kSize / 1e6,
              passes);
  return RunOne(dir, true, passes) || RunOne(dir, false, passes);
}

const bench::RegisterBench kRegistered("bil", Run);

}  // namespace
