// Start-up: processor time of short runs of the vtfmt tool as whole
// processes (`formats`, and `info` and `dump` of a small grid and of a small
// GeoTIFF), the median of many runs beside the goal.
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "Bench.h"

namespace {

double ChildCpuMs() {
  rusage u{};
  getrusage(RUSAGE_CHILDREN, &u);
  return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

// Median processor milliseconds of `runs` runs; negative when one fails.
double MedianMs(const std::string& tool, const std::vector<std::string>& args, int runs) {
  std::vector<double> ms;
  for (int i = 0; i < runs; ++i) {
    std::vector<std::string> argv{tool};
    argv.insert(argv.end(), args.begin(), args.end());
    const double before = ChildCpuMs();
    if (!bench::Spawn(tool, argv)) return -1;
    ms.push_back(ChildCpuMs() - before);
  }
  std::sort(ms.begin(), ms.end());
  return ms[ms.size() / 2];
}

int Run(int passes) {
  const std::string tool = bench::ToolBesideUs();
  if (tool.empty()) {
    std::printf("startup: no vtfmt tool beside the benchmark: skipped\n");
    return 0;
  }
  bench::ScratchDir dir;
  const std::string grid = dir / "small.asc", tiff = dir / "small.tif";
  {
    std::ofstream out(grid);
    out << "ncols 20\nnrows 20\nxllcorner 1000\nyllcorner 2000\ncellsize 10\nNODATA_value -9999\n";
    for (int r = 0; r < 20; ++r) {
      for (int c = 0; c < 20; ++c) out << (r * 20 + c) * 0.5 << ' ';
      out << '\n';
    }
  }
  if (!bench::Spawn(tool, {tool, "convert", grid, tiff, "-oo", "pixel_format=3200"}) &&
      !bench::Spawn(tool, {tool, "convert", grid, tiff})) {
    std::fprintf(stderr, "startup: cannot write the small GeoTIFF\n");
    return 1;
  }
  const int runs = std::max(21, passes * 7);
  const double goal = 10.0;
  struct Case {
    const char* what;
    std::vector<std::string> args;
  };
  const Case cases[] = {{"vtfmt formats", {"formats"}},
                        {"vtfmt info, 20 x 20 ASCII grid", {"info", grid}},
                        {"vtfmt dump, 20 x 20 ASCII grid", {"dump", grid}},
                        {"vtfmt info, 20 x 20 GeoTIFF", {"info", tiff}}};
  for (const Case& c : cases) {
    const double ms = MedianMs(tool, c.args, runs);
    if (ms < 0) {
      std::fprintf(stderr, "startup: %s failed\n", c.what);
      return 1;
    }
    std::printf("startup: %-32s %6.1f ms CPU, median of %d (goal under %.1f ms)%s\n", c.what, ms, runs, goal,
                ms < goal ? "" : " ABOVE GOAL");
  }
  return 0;
}

const bench::RegisterBench kRegistered("startup", Run);

}  // namespace
