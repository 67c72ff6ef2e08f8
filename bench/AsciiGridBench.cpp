// ESRI ASCII grid: a 3000 x 3000 float grid written by GDAL, every row read
// as single-precision cells by our driver and by GDAL; the whole grid parsed
// on all cores beside one thread; then the same grid written by both from
// memory. Each figure with a goal prints it beside the figure.
#include <cpl_string.h>
#include <gdal.h>

#include <sys/stat.h>

#include <cmath>
#include <functional>
#include <cstdio>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "Bench.h"
#include "access/ArrayReader.h"
#include "raster/CImgFileGrid.h"

namespace {

const int kSize = 3000;

// Goals of the figures below.
const double kGdalGoal = 5.0;      // ours beside GDAL's, CPU
const double kThreadsGoal = 1.70;  // all cores beside one thread, wall clock

// " (goal 5.00x)", and " BELOW GOAL" when `ratio` falls short of it.
std::string Goal(double ratio, double goal) {
  char text[64];
  std::snprintf(text, sizeof text, " (goal %.2fx)%s", goal, ratio >= goal ? "" : " BELOW GOAL");
  return text;
}

double WallSeconds(const std::function<void()>& run) {
  const auto start = std::chrono::steady_clock::now();
  run();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double FileBytes(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? double(st.st_size) : 0.0;
}

int Run(int passes) {
  GDALAllRegister();
  bench::ScratchDir dir;
  const std::string source = dir / "bench.asc";
  std::vector<float> cells(size_t(kSize) * kSize);
  for (size_t i = 0; i < cells.size(); ++i)
    cells[i] = float(std::sin(double(i % 7919) * 0.01) * 1000.0 + double(i / kSize) * 0.25);
  GDALDatasetH mem = GDALCreate(GDALGetDriverByName("MEM"), "", kSize, kSize, 1, GDT_Float32, nullptr);
  double gt[6] = {500000, 30, 0, 4000000, 0, -30};
  GDALSetGeoTransform(mem, gt);
  if (GDALRasterIO(GDALGetRasterBand(mem, 1), GF_Write, 0, 0, kSize, kSize, cells.data(), kSize, kSize,
                   GDT_Float32, 0, 0) != CE_None) {
    GDALClose(mem);
    return 1;
  }
  GDALClose(
      GDALCreateCopy(GDALGetDriverByName("AAIGrid"), source.c_str(), mem, FALSE, nullptr, nullptr, nullptr));
  const double bytes = FileBytes(source);
  std::printf("ASCII grid %d x %d float (%.1f MB), best of %d passes\n", kSize, kSize, bytes / 1e6, passes);

  bool failed = false;
  double sumOurs = 0, sumGdal = 0;
  const double ours = bench::BestSeconds(passes, [&] {
    CImgFileGrid grid;
    grid.m_RequestedPixelFormat = PF_FLOAT32;
    if (!grid.OpenForRead(source.c_str()) || grid.LoadImage() < 0) {
      failed = true;
      return;
    }
    CImgScanLine line(PF_FLOAT32, long(grid.GetWidthBytes()));
    sumOurs = 0;
    for (int r = 0; r < kSize; ++r) {
      if (grid.ReadScanLine(r, line) < 0) failed = true;
      sumOurs += line.GetValue(r);
    }
    grid.Close();
  });
  const double gdal = bench::BestSeconds(passes, [&] {
    GDALDatasetH ds = GDALOpen(source.c_str(), GA_ReadOnly);
    if (!ds) {
      failed = true;
      return;
    }
    std::vector<float> row(kSize);
    sumGdal = 0;
    for (int r = 0; r < kSize; ++r) {
      if (GDALRasterIO(GDALGetRasterBand(ds, 1), GF_Read, 0, r, kSize, 1, row.data(), kSize, 1, GDT_Float32,
                       0, 0) != CE_None)
        failed = true;
      sumGdal += row[size_t(r)];
    }
    GDALClose(ds);
  });
  if (failed || sumOurs != sumGdal) {
    std::fprintf(stderr, "aaigrid: the reads failed or disagree\n");
    GDALClose(mem);
    return 1;
  }
  std::printf("%-34s vtfmt %8.1f MB/s   GDAL %8.1f MB/s   ratio %.2f%s\n", "aaigrid: read float rows",
              bytes / ours / 1e6, bytes / gdal / 1e6, gdal / ours, Goal(gdal / ours, kGdalGoal).c_str());
  std::fflush(stdout);

  // Parsing the whole grid, its cell format chosen from the values, on all
  // cores beside one thread: alternated, best of the passes, wall clock
  // (the processor seconds beside it).
  {
    double oneWall = 1e300, allWall = 1e300, oneCpu = 1e300, allCpu = 1e300;
    size_t oneBytes = 0, allBytes = 0;
    auto parse = [&](const char* threads, size_t& rowBytes) {
      vtfmt::Options options;
      if (threads) options["threads"] = threads;
      try {
        vtfmt::ArrayReader reader(source, "aaigrid", options);
        rowBytes = reader.RowBytes();
      } catch (const std::exception& e) {
        std::fprintf(stderr, "aaigrid: %s\n", e.what());
        failed = true;
      }
    };
    for (int i = 0; i < passes; ++i) {
      double wall = 0;
      const double oneRun = bench::CpuSecondsOf([&] { wall = WallSeconds([&] { parse("1", oneBytes); }); });
      oneWall = std::min(oneWall, wall), oneCpu = std::min(oneCpu, oneRun);
      const double allRun =
          bench::CpuSecondsOf([&] { wall = WallSeconds([&] { parse(nullptr, allBytes); }); });
      allWall = std::min(allWall, wall), allCpu = std::min(allCpu, allRun);
    }
    if (failed || oneBytes != allBytes) {
      std::fprintf(stderr, "aaigrid: the threaded parse failed or disagrees\n");
      GDALClose(mem);
      return 1;
    }
    const double cores = std::max(1u, std::thread::hardware_concurrency());
    const double ratio = oneWall / allWall;
    std::printf("aaigrid: parse all cores (%.0f) vs one thread: one %.2f s, all %.2f s wall "
                "(CPU %.2f s, %.2f s): %.2fx%s\n",
                cores, oneWall, allWall, oneCpu, allCpu, ratio, Goal(ratio, kThreadsGoal).c_str());
    std::fflush(stdout);
  }

  // Whole processes: `vtfmt dump` with the cell format chosen and without
  // it (the format then chosen from the values in the same single pass)
  // beside gdal_translate to ENVI in memory, loading included.
  const std::string tool = bench::ToolBesideUs();
  if (tool.empty()) {
    std::printf("aaigrid: no vtfmt tool beside the benchmark: whole-process timing skipped\n");
  } else {
    auto wholeProcess = [&](const char* what, std::vector<std::string> args) {
      const bench::Timing t = bench::Alternate(
          passes, [&] { failed |= !bench::Spawn(tool, args); },
          [&] {
            failed |= !bench::Spawn("gdal_translate",
                                    {"gdal_translate", "-q", "-of", "ENVI", source, "/vsimem/bench.envi"});
          },
          true);
      const double ratio = t.theirsCpu / t.oursCpu;
      std::printf("%-40s CPU: vtfmt %6.2f s  gdal_translate %6.2f s  ratio %.2f%s   wall ratio %.2f\n", what,
                  t.oursCpu, t.theirsCpu, ratio, Goal(ratio, kGdalGoal).c_str(), t.theirsWall / t.oursWall);
      std::fflush(stdout);
    };
    wholeProcess("aaigrid: dump -oo pixel_format=3200", {"vtfmt", "dump", "-oo", "pixel_format=3200", source});
    wholeProcess("aaigrid: dump, format from the values", {"vtfmt", "dump", source});
    if (failed) {
      std::fprintf(stderr, "aaigrid: a whole-process read failed\n");
      GDALClose(mem);
      return 1;
    }
  }

  // Writing: ours from float rows (shortest text that reads back), GDAL's CreateCopy from memory.
  const std::string oursOut = dir / "ours.asc", gdalOut = dir / "gdal.asc";
  const double write = bench::BestSeconds(passes, [&] {
    CImgFileGrid grid;
    if (!grid.OpenForWrite(oursOut.c_str())) {
      failed = true;
      return;
    }
    grid.m_nColumns = grid.m_nRows = kSize;
    grid.m_dLowerLeftX = 500000;
    grid.m_dLowerLeftY = 4000000 - 30.0 * kSize;
    grid.m_dCellWidth = grid.m_dCellHeight = 30;
    grid.SaveImage();
    CImgScanLine line(PF_FLOAT32, 4L * kSize);
    for (int r = 0; r < kSize; ++r) {
      std::memcpy(line.GetData(), cells.data() + size_t(r) * kSize, 4 * size_t(kSize));
      if (grid.WriteScanLine(r, line) < 0) failed = true;
    }
    grid.Close();
  });
  const double gdalWrite = bench::BestSeconds(passes, [&] {
    GDALClose(GDALCreateCopy(GDALGetDriverByName("AAIGrid"), gdalOut.c_str(), mem, FALSE, nullptr, nullptr,
                             nullptr));
  });
  GDALClose(mem);
  if (failed) {
    std::fprintf(stderr, "aaigrid: the writes failed\n");
    return 1;
  }
  bench::Report("aaigrid: write float rows (MB of our file)", FileBytes(oursOut), write, gdalWrite);
  std::printf("aaigrid: files written: ours %.1f MB (shortest floats), GDAL %.1f MB\n", FileBytes(oursOut) / 1e6,
              FileBytes(gdalOut) / 1e6);
  return 0;
}

const bench::RegisterBench kRegistered("aaigrid", Run);

}  // namespace
