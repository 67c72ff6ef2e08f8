// JPEG: encoding and decoding a 6000 x 6000 RGB picture, ours beside GDAL's
// (which links the same libjpeg), and decoding beside libjpeg's own plain
// jpeg_read_scanlines loop on the same file. Both encoders run at quality 90;
// every decode of the same file must give the same checksum.
#include <gdal.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "Bench.h"
#include "raster/CImgFileJPEG.h"

namespace {

const unsigned kWidth = 6000, kHeight = 6000;
const size_t kRowBytes = size_t(kWidth) * 3;

// A picture with smooth areas, edges and texture, red, green, blue.
std::vector<unsigned char> MakePicture() {
  std::vector<unsigned char> p(kRowBytes * kHeight);
  unsigned state = 1;
  for (unsigned y = 0; y < kHeight; ++y)
    for (unsigned x = 0; x < kWidth; ++x) {
      state = state * 1103515245u + 12345u;
      const unsigned light = ((x / 40 + y / 40) % 2 ? 60 : 140) + (x * 7 + y * 3) % 50 + (state >> 16) % 12;
      unsigned char* px = &p[y * kRowBytes + x * 3];
      px[0] = static_cast<unsigned char>(light + (x % 64));
      px[1] = static_cast<unsigned char>(light);
      px[2] = static_cast<unsigned char>(light + (y % 48));
    }
  return p;
}

// CPU time of this thread, which a busy machine disturbs less than the clock.
double CpuNow() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// Sum of the green sample of one pixel a row.
inline unsigned long Probe(const unsigned char* row, unsigned r) { return row[(r % kWidth) * 3 + 1]; }

bool OursDecode(const std::string& path, unsigned long& checksum) {
  CImgFileJPEG file;
  if (!file.OpenForRead(path.c_str()) || file.LoadImage() != 1) return false;
  CImgScanLine line(file.GetPixelFormat(), static_cast<long>(file.GetWidthBytes()));
  bool ok = true;
  for (unsigned r = 0; r < kHeight; ++r) {
    ok = file.ReadScanLine(static_cast<long>(r), line) == 1 && ok;
    checksum += Probe(line.GetData(), r);
  }
  file.Close();
  return ok;
}

// The whole picture in one pixel-interleaved request, GDAL's fastest path.
bool GdalDecode(const std::string& path, std::vector<unsigned char>& picture, unsigned long& checksum) {
  GDALDatasetH ds = GDALOpen(path.c_str(), GA_ReadOnly);
  if (!ds) return false;
  const bool ok = GDALDatasetRasterIO(ds, GF_Read, 0, 0, kWidth, kHeight, picture.data(), kWidth, kHeight, GDT_Byte,
                                      3, nullptr, 3, static_cast<GSpacing>(kRowBytes), 1) == CE_None;
  GDALClose(ds);
  for (unsigned r = 0; r < kHeight; ++r) checksum += Probe(&picture[r * kRowBytes], r);
  return ok;
}

// libjpeg's own loop, as its example program reads a file: one row a call.
bool LibjpegDecode(const std::string& path, unsigned long& checksum) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  jpeg_decompress_struct d;
  jpeg_error_mgr err;
  d.err = jpeg_std_error(&err);
  jpeg_create_decompress(&d);
  jpeg_stdio_src(&d, f);
  jpeg_read_header(&d, TRUE);
  jpeg_start_decompress(&d);
  std::vector<unsigned char> row(size_t(d.output_width) * d.output_components);
  JSAMPROW p = row.data();
  while (d.output_scanline < d.output_height) {
    const unsigned r = d.output_scanline;
    jpeg_read_scanlines(&d, &p, 1);
    checksum += Probe(row.data(), r);
  }
  jpeg_finish_decompress(&d);
  jpeg_destroy_decompress(&d);
  std::fclose(f);
  return true;
}

int Run(int passes) {
  GDALAllRegister();
  bench::ScratchDir dir;
  const std::string ours = dir / "ours.jpg", theirs = dir / "gdal.jpg";
  const double bytes = double(kRowBytes) * kHeight;
  std::printf("jpeg %u x %u RGB (%.1f MB decoded), quality 90, best of %d passes\n", kWidth, kHeight, bytes / 1e6,
              passes);
  std::vector<unsigned char> picture = MakePicture();
  bool failed = false;

  const double encodeOurs = bench::BestSeconds(passes, [&] {
    CImgFileJPEG file;
    file.SetQuality(90);
    if (!file.OpenForWrite(ours.c_str())) {
      failed = true;
      return;
    }
    file.SetWidth(kWidth);
    file.SetHeight(kHeight);
    file.SetPixelFormat(PF_BIT24);
    failed = file.SaveImage() != 1 || failed;
    CImgScanLine line(PF_BIT24, static_cast<long>(file.GetWidthBytes()));
    for (unsigned r = 0; r < kHeight; ++r) {
      std::copy(&picture[r * kRowBytes], &picture[(r + 1) * kRowBytes], line.GetData());
      failed = file.WriteScanLine(static_cast<long>(r), line) != 1 || failed;
    }
    file.Close();
    failed = file.LastCloseFailed() || failed;
  });
  GDALDatasetH mem = GDALCreate(GDALGetDriverByName("MEM"), "", kWidth, kHeight, 3, GDT_Byte, nullptr);
  failed = !mem || GDALDatasetRasterIO(mem, GF_Write, 0, 0, kWidth, kHeight, picture.data(), kWidth, kHeight,
                                       GDT_Byte, 3, nullptr, 3, static_cast<GSpacing>(kRowBytes), 1) != CE_None;
  const double encodeGdal = bench::BestSeconds(passes, [&] {
    const char* options[] = {"QUALITY=90", nullptr};
    GDALDatasetH out = GDALCreateCopy(GDALGetDriverByName("JPEG"), theirs.c_str(), mem, FALSE,
                                      const_cast<char**>(options), nullptr, nullptr);
    if (!out) failed = true;
    else GDALClose(out);
  });
  if (mem) GDALClose(mem);
  if (failed) {
    std::fprintf(stderr, "jpeg: encoding failed\n");
    return 1;
  }
  bench::Report("jpeg: encode (RGB)", bytes, encodeOurs, encodeGdal);

  // Each file is decoded by the three readers in turn, pass after pass, so
  // that a busy machine slows all three alike; the best pass of each counts.
  for (const std::string* path : {&theirs, &ours}) {
    unsigned long sumOurs = 0, sumGdal = 0, sumLib = 0;
    double decodeOurs = 1e30, decodeGdal = 1e30, decodeLib = 1e30;
    double cpuOurs = 1e30, cpuGdal = 1e30, cpuLib = 1e30;
    for (int pass = 0; pass < passes; ++pass) {
      unsigned long a = 0, b = 0, c = 0;
      double cpu = 0;
      decodeOurs = std::min(decodeOurs, bench::BestSeconds(1, [&] {
        const double start = CpuNow();
        failed = !OursDecode(*path, a) || failed;
        cpu = CpuNow() - start;
      }));
      cpuOurs = std::min(cpuOurs, cpu);
      decodeGdal = std::min(decodeGdal, bench::BestSeconds(1, [&] {
        const double start = CpuNow();
        failed = !GdalDecode(*path, picture, b) || failed;
        cpu = CpuNow() - start;
      }));
      cpuGdal = std::min(cpuGdal, cpu);
      decodeLib = std::min(decodeLib, bench::BestSeconds(1, [&] {
        const double start = CpuNow();
        failed = !LibjpegDecode(*path, c) || failed;
        cpu = CpuNow() - start;
      }));
      cpuLib = std::min(cpuLib, cpu);
      sumOurs = a;
      sumGdal = b;
      sumLib = c;
    }
    if (failed || sumOurs != sumGdal || sumOurs != sumLib) {
      std::fprintf(stderr, "jpeg: the decodes of %s failed or disagree\n", path->c_str());
      return 1;
    }
    const char* what = path == &theirs ? "jpeg: decode GDAL's file (RGB)" : "jpeg: decode our file (RGB)";
    bench::Report(what, bytes, decodeOurs, decodeGdal);
    std::printf("%-34s vtfmt %8.1f MB/s   libjpeg %5.1f MB/s   ratio %.2f\n", what, bytes / decodeOurs / 1e6,
                bytes / decodeLib / 1e6, decodeLib / decodeOurs);
    std::printf("%-34s CPU time: vtfmt %.3f s, GDAL %.3f s, libjpeg %.3f s; ratios to vtfmt %.2f, %.2f\n", what,
                cpuOurs, cpuGdal, cpuLib, cpuGdal / cpuOurs, cpuLib / cpuOurs);
  }
  return 0;
}

const bench::RegisterBench kRegistered("jpeg", Run);

}  // namespace
