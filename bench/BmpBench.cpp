// Bitmaps: writing and reading a 6000 x 6000 24-bit file, ours beside GDAL,
// and reading a 6000 x 6000 run-length encoded 8-bit file, which we encode
// here (GDAL's reading is tried too and reported when it succeeds).
#include <gdal.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "Bench.h"
#include "raster/CImgFileBmp.h"

namespace {

const unsigned kWidth = 6000, kHeight = 6000;

void FillRow(std::vector<unsigned char>& row, unsigned r) {
  for (size_t i = 0; i < row.size(); ++i) row[i] = static_cast<unsigned char>((i * 7 + r * 13) & 0xFF);
}

// The byte of file row `r` that goes into the checksum: the green byte of one
// pixel, or one index, so that BGR and RGB rows agree.
size_t Probe(unsigned r, int bands) { return (r % kWidth) * bands + (bands == 3 ? 1 : 0); }

// Reads every row with GDAL, pixel interleaved, in file order (bottom row
// first); false on failure.
bool GdalReadAll(const std::string& path, int bands, unsigned long& checksum) {
  GDALDatasetH ds = GDALOpen(path.c_str(), GA_ReadOnly);
  if (!ds) return false;
  std::vector<unsigned char> line(size_t(kWidth) * bands);
  bool ok = true;
  for (unsigned r = 0; r < kHeight && ok; ++r) {
    ok = GDALDatasetRasterIO(ds, GF_Read, 0, static_cast<int>(kHeight - 1 - r), static_cast<int>(kWidth), 1,
                             line.data(), static_cast<int>(kWidth), 1, GDT_Byte, bands, nullptr, bands,
                             static_cast<GSpacing>(line.size()), 1) == CE_None;
    checksum += line[Probe(r, bands)];
  }
  GDALClose(ds);
  return ok;
}

bool OursReadAll(const std::string& path, unsigned long& checksum) {
  CImgFileBmp file;
  if (!file.OpenForRead(path.c_str()) || file.LoadImage() < 0) return false;
  CImgScanLine line(file.GetPixelFormat(), static_cast<long>(file.GetWidthBytes()));
  const int bands = file.GetPixelFormat() == PF_BIT24 ? 3 : 1;
  bool ok = true;
  for (unsigned r = 0; r < kHeight; ++r) {
    ok = file.ReadScanLine(static_cast<long>(r), line) >= 0 && ok;
    checksum += line[static_cast<int>(Probe(r, bands))];
  }
  file.Close();
  return ok;
}

// An 8-bit run-length file: rows of runs of varying length beside short
// absolute blocks, about a third of the raw size.
void WriteRle8(const std::string& path) {
  std::mt19937 gen(5);
  std::string codes;
  for (unsigned r = 0; r < kHeight; ++r) {
    unsigned x = 0;
    while (x < kWidth) {
      const unsigned left = kWidth - x;
      if (gen() % 3) {
        const unsigned n = std::min<unsigned>(left, 1 + gen() % 40);
        codes += static_cast<char>(n);
        codes += static_cast<char>(gen());
        x += n;
      } else if (left >= 3) {
        const unsigned n = std::min<unsigned>(left, 3 + gen() % 30);
        codes += '\0';
        codes += static_cast<char>(n);
        for (unsigned i = 0; i < n; ++i) codes += static_cast<char>(gen());
        if (n & 1) codes += '\0';
        x += n;
      }
    }
    codes += std::string(2, '\0');
  }
  codes += std::string("\0\1", 2);
  std::string header = "BM";
  auto put32 = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i) header += static_cast<char>(v >> (8 * i));
  };
  put32(static_cast<uint32_t>(1078 + codes.size()));
  put32(0);
  put32(1078);
  put32(40);
  put32(kWidth);
  put32(kHeight);
  put32(1 | 8 << 16);  // planes, bit count
  put32(BI_RLE8);
  put32(static_cast<uint32_t>(codes.size()));
  for (int i = 0; i < 4; ++i) put32(0);
  for (int i = 0; i < 256; ++i) header += std::string{char(i), char(i), char(i), 0};
  std::ofstream(path, std::ios::binary) << header << codes;
}

int Run(int passes) {
  GDALAllRegister();
  bench::ScratchDir dir;
  const std::string ours = dir / "ours.bmp", theirs = dir / "gdal.bmp";
  const size_t rowBytes = size_t(kWidth) * 3;
  const double bytes = double(rowBytes) * kHeight;
  std::printf("bmp %u x %u x 24 bits (%.1f MB), best of %d passes\n", kWidth, kHeight, bytes / 1e6, passes);
  bool failed = false;

  const double writeOurs = bench::BestSeconds(passes, [&] {
    CImgFileBmp file;
    if (!file.OpenForWrite(ours.c_str())) {
      failed = true;
      return;
    }
    file.SetWidth(kWidth);
    file.SetHeight(kHeight);
    file.SetPixelFormat(PF_BIT24);
    failed = file.SaveImage() < 0 || failed;
    CImgScanLine line(PF_BIT24, static_cast<long>(file.GetWidthBytes()));
    std::vector<unsigned char> row(rowBytes);
    for (unsigned r = 0; r < kHeight; ++r) {
      FillRow(row, r);
      std::copy(row.begin(), row.end(), line.GetData());
      failed = file.WriteScanLine(static_cast<long>(r), line) < 0 || failed;
    }
    file.Close();
  });
  const double writeGdal = bench::BestSeconds(passes, [&] {
    GDALDatasetH ds =
        GDALCreate(GDALGetDriverByName("BMP"), theirs.c_str(), kWidth, kHeight, 3, GDT_Byte, nullptr);
    if (!ds) {
      failed = true;
      return;
    }
    std::vector<unsigned char> row(rowBytes);
    for (unsigned r = 0; r < kHeight; ++r) {
      FillRow(row, r);
      failed = GDALDatasetRasterIO(ds, GF_Write, 0, static_cast<int>(kHeight - 1 - r),
                                   static_cast<int>(kWidth), 1, row.data(), static_cast<int>(kWidth), 1,
                                   GDT_Byte, 3, nullptr, 3, static_cast<GSpacing>(rowBytes), 1) != CE_None ||
               failed;
    }
    GDALClose(ds);
  });

  unsigned long sumOurs = 0, sumGdal = 0;
  const double readOurs = bench::BestSeconds(passes, [&] { failed = !OursReadAll(ours, sumOurs) || failed; });
  const double readGdal =
      bench::BestSeconds(passes, [&] { failed = !GdalReadAll(ours, 3, sumGdal) || failed; });
  if (failed || sumOurs != sumGdal) {
    std::fprintf(stderr, "bmp: the 24-bit reads or writes failed or disagree\n");
    return 1;
  }
  bench::Report("bmp: write scan lines (24-bit)", bytes, writeOurs, writeGdal);
  bench::Report("bmp: read scan lines (24-bit)", bytes, readOurs, readGdal);

  const std::string rle = dir / "rle8.bmp";
  WriteRle8(rle);
  const double pixels = double(kWidth) * kHeight;
  unsigned long sumRle = 0, sumRleGdal = 0;
  const double rleOurs = bench::BestSeconds(passes, [&] { failed = !OursReadAll(rle, sumRle) || failed; });
  if (failed) {
    std::fprintf(stderr, "bmp: the run-length read failed\n");
    return 1;
  }
  bool gdalFailed = false;
  const double rleGdal =
      bench::BestSeconds(passes, [&] { gdalFailed = !GdalReadAll(rle, 1, sumRleGdal) || gdalFailed; });
  if (!gdalFailed && sumRle == sumRleGdal) {
    bench::Report("bmp: read RLE8 (decoded bytes)", pixels, rleOurs, rleGdal);
  } else {
    std::printf("%-34s vtfmt %8.1f MB/s   GDAL cannot read it\n", "bmp: read RLE8 (decoded bytes)",
                pixels / rleOurs / 1e6);
  }
  return 0;
}

const bench::RegisterBench kRegistered("bmp", Run);

}  // namespace
