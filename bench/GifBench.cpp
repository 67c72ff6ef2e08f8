// GIF: decoding a 6000 x 6000 8-bit GIF, ours beside GDAL's, and beside
// giflib's own DGifGetLine loop on the same file (the floor any driver over
// giflib stands on). The file is written here with giflib.
#include <dlfcn.h>
#include <gdal.h>
#include <gif_lib.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "Bench.h"
#include "raster/CVtImgFileGIF.h"

namespace {

// User and system time of the process so far.
double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

const int kWidth = 6000, kHeight = 6000;

// giflib as the library links it; the bench itself does not link giflib, so
// its functions are looked up in the process.
struct Giflib {
  decltype(&EGifOpenFileName) eOpen;
  decltype(&EGifPutScreenDesc) eScreen;
  decltype(&EGifPutImageDesc) eImage;
  decltype(&EGifPutLine) eLine;
  decltype(&EGifCloseFile) eClose;
  decltype(&GifMakeMapObject) makeMap;
  decltype(&GifFreeMapObject) freeMap;
  decltype(&DGifOpenFileName) dOpen;
  decltype(&DGifGetRecordType) dRecord;
  decltype(&DGifGetImageDesc) dImage;
  decltype(&DGifGetLine) dLine;
  decltype(&DGifGetExtension) dExtension;
  decltype(&DGifGetExtensionNext) dExtensionNext;
  decltype(&DGifCloseFile) dClose;

  bool Load() {
    auto get = [](auto& fn, const char* name) {
      fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(dlsym(RTLD_DEFAULT, name));
      return fn != nullptr;
    };
    return get(eOpen, "EGifOpenFileName") && get(eScreen, "EGifPutScreenDesc") && get(eImage, "EGifPutImageDesc") &&
           get(eLine, "EGifPutLine") && get(eClose, "EGifCloseFile") && get(makeMap, "GifMakeMapObject") &&
           get(freeMap, "GifFreeMapObject") && get(dOpen, "DGifOpenFileName") &&
           get(dRecord, "DGifGetRecordType") && get(dImage, "DGifGetImageDesc") && get(dLine, "DGifGetLine") &&
           get(dExtension, "DGifGetExtension") && get(dExtensionNext, "DGifGetExtensionNext") &&
           get(dClose, "DGifCloseFile");
  }
};

// Blocks of slowly changing indices with some noise: about 2.5 bits a pixel.
void FillRow(std::vector<GifPixelType>& row, int y, std::mt19937& gen) {
  for (int x = 0; x < kWidth; ++x)
    row[x] = static_cast<GifPixelType>(((x / 16) * 3 + (y / 16) * 5 + (gen() % 8 == 0 ? gen() % 4 : 0)) & 0xFF);
}

bool WriteGif(const Giflib& g, const std::string& path) {
  int error = 0;
  GifFileType* gif = g.eOpen(path.c_str(), false, &error);
  if (!gif) return false;
  GifColorType colors[256];
  for (int i = 0; i < 256; ++i)
    colors[i] = GifColorType{static_cast<GifByteType>(i), static_cast<GifByteType>(255 - i), static_cast<GifByteType>(i * 7)};
  ColorMapObject* map = g.makeMap(256, colors);
  bool ok = g.eScreen(gif, kWidth, kHeight, 8, 0, map) == GIF_OK && g.eImage(gif, 0, 0, kWidth, kHeight, false, nullptr) == GIF_OK;
  g.freeMap(map);
  std::vector<GifPixelType> row(kWidth);
  std::mt19937 gen(9);
  for (int y = 0; y < kHeight && ok; ++y) {
    FillRow(row, y, gen);
    ok = g.eLine(gif, row.data(), kWidth) == GIF_OK;
  }
  return g.eClose(gif, &error) == GIF_OK && ok;
}

// The index of one pixel per row, summed: all three readers must agree.
unsigned long Probe(const unsigned char* row, int y) { return row[(y * 7) % kWidth]; }

bool OursReadAll(const std::string& path, unsigned long& sum) {
  CVtImgFileGIF gif;
  if (!gif.OpenForRead(path.c_str()) || gif.LoadImage() < 0) return false;
  CImgScanLine line(gif.GetPixelFormat(), static_cast<long>(gif.GetWidthBytes()));
  bool ok = true;
  for (int y = 0; y < kHeight; ++y) {
    ok = gif.ReadScanLine(y, line) >= 0 && ok;
    sum += Probe(line.GetData(), y);
  }
  gif.Close();
  return ok;
}

bool GdalReadAll(const std::string& path, unsigned long& sum) {
  GDALDatasetH ds = GDALOpen(path.c_str(), GA_ReadOnly);
  if (!ds) return false;
  GDALRasterBandH band = GDALGetRasterBand(ds, 1);
  std::vector<unsigned char> row(kWidth);
  bool ok = true;
  for (int y = 0; y < kHeight && ok; ++y) {
    ok = GDALRasterIO(band, GF_Read, 0, y, kWidth, 1, row.data(), kWidth, 1, GDT_Byte, 0, 0) == CE_None;
    sum += Probe(row.data(), y);
  }
  GDALClose(ds);
  return ok;
}

// giflib's own loop: records, the image descriptor, then DGifGetLine row by row.
bool GiflibReadAll(const Giflib& g, const std::string& path, unsigned long& sum) {
  int error = 0;
  GifFileType* gif = g.dOpen(path.c_str(), &error);
  if (!gif) return false;
  std::vector<GifPixelType> row(kWidth);
  bool ok = true, done = false;
  while (ok && !done) {
    GifRecordType type;
    ok = g.dRecord(gif, &type) == GIF_OK;
    if (!ok) break;
    if (type == IMAGE_DESC_RECORD_TYPE) {
      ok = g.dImage(gif) == GIF_OK && gif->Image.Width == kWidth && gif->Image.Height == kHeight;
      for (int y = 0; y < kHeight && ok; ++y) {
        ok = g.dLine(gif, row.data(), kWidth) == GIF_OK;
        sum += Probe(row.data(), y);
      }
      done = true;
    } else if (type == EXTENSION_RECORD_TYPE) {
      int code;
      GifByteType* ext;
      ok = g.dExtension(gif, &code, &ext) == GIF_OK;
      while (ok && ext) ok = g.dExtensionNext(gif, &ext) == GIF_OK;
    } else if (type == TERMINATE_RECORD_TYPE) {
      ok = false;
    }
  }
  g.dClose(gif, &error);
  return ok;
}

int Run(int passes) {
  Giflib g;
  if (!g.Load()) {
    std::fprintf(stderr, "gif: giflib's functions are not in the process\n");
    return 1;
  }
  bench::ScratchDir dir;
  const std::string path = dir / "big.gif";
  if (!WriteGif(g, path)) {
    std::fprintf(stderr, "gif: cannot write the test file\n");
    return 1;
  }
  const double pixels = double(kWidth) * kHeight;
  FILE* f = std::fopen(path.c_str(), "rb");
  std::fseek(f, 0, SEEK_END);
  const long size = std::ftell(f);
  std::fclose(f);
  std::printf("gif %d x %d x 8 bits (%.1f MB decoded, %.1f MB file), best of %d passes\n", kWidth, kHeight,
              pixels / 1e6, size / 1e6, passes);

  // The three readers take turns within each pass, so a change in the
  // machine's load falls on all of them alike; the best wall and CPU time
  // of each counts (CPU time is steadier on a shared machine).
  bool failed = false;
  unsigned long sumOurs = 0, sumGdal = 0, sumLoop = 0;
  double wall[3] = {1e300, 1e300, 1e300}, cpu[3] = {1e300, 1e300, 1e300};
  auto time = [&](int which, const std::function<void()>& run) {
    const double before = CpuSeconds();
    wall[which] = std::min(wall[which], bench::BestSeconds(1, run));
    cpu[which] = std::min(cpu[which], CpuSeconds() - before);
  };
  for (int pass = 0; pass < passes; ++pass) {
    time(0, [&] {
      sumOurs = 0;
      failed = !OursReadAll(path, sumOurs) || failed;
    });
    time(1, [&] {
      sumGdal = 0;
      failed = !GdalReadAll(path, sumGdal) || failed;
    });
    time(2, [&] {
      sumLoop = 0;
      failed = !GiflibReadAll(g, path, sumLoop) || failed;
    });
  }
  if (failed || sumOurs != sumGdal || sumOurs != sumLoop) {
    std::fprintf(stderr, "gif: the reads failed or disagree (%lu %lu %lu)\n", sumOurs, sumGdal, sumLoop);
    return 1;
  }
  bench::Report("gif: decode scan lines (8-bit)", pixels, wall[0], wall[1]);
  std::printf("%-34s vtfmt %8.1f MB/s   giflib %6.1f MB/s   ratio %.2f\n", "gif: decode vs giflib's own loop",
              pixels / wall[0] / 1e6, pixels / wall[2] / 1e6, wall[2] / wall[0]);
  std::printf("%-34s vtfmt %6.3f s   GDAL %6.3f s   giflib %6.3f s   ratios %.2f %.2f\n", "gif: decode CPU time",
              cpu[0], cpu[1], cpu[2], cpu[1] / cpu[0], cpu[2] / cpu[0]);
  return 0;
}

const bench::RegisterBench kRegistered("gif", Run);

}  // namespace
