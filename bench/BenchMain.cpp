// vtfmt_bench [--passes N] [NAME...]: runs the named benchmarks (all when
// none is named) and prints one line of throughputs per measurement.
#include <gdal.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "Bench.h"

namespace bench {
namespace {
std::vector<std::pair<std::string, int (*)(int)>>& Registry() {
  static std::vector<std::pair<std::string, int (*)(int)>> registry;
  return registry;
}
}  // namespace

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
  std::printf("%-34s vtfmt %8.1f MB/s   GDAL %8.1f MB/s   ratio %.2f\n", what, bytes / ours / 1e6,
              bytes / gdal / 1e6, gdal / ours);
  std::fflush(stdout);
}

ScratchDir::ScratchDir() {
  char name[] = "/tmp/vtfmt-bench-XXXXXX";
  if (!mkdtemp(name)) {
    std::perror("mkdtemp");
    std::exit(1);
  }
  path_ = name;
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

RegisterBench::RegisterBench(const char* name, int (*run)(int)) { Registry().emplace_back(name, run); }

}  // namespace bench

int main(int argc, char** argv) {
  int passes = 5;
  std::vector<std::string> names;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--passes") == 0 && i + 1 < argc) {
      passes = std::atoi(argv[++i]);
    } else if (argv[i][0] == '-') {
      passes = 0;
      break;
    } else {
      names.push_back(argv[i]);
    }
  }
  auto& registry = bench::Registry();
  std::sort(registry.begin(), registry.end());
  if (passes <= 0) {
    std::fprintf(stderr, "usage: vtfmt_bench [--passes N] [NAME...]\nbenchmarks:");
    for (const auto& entry : registry) std::fprintf(stderr, " %s", entry.first.c_str());
    std::fprintf(stderr, "\n");
    return 2;
  }
  GDALAllRegister();
  int status = 0;
  for (const auto& entry : registry) {
    if (!names.empty() && std::find(names.begin(), names.end(), entry.first) == names.end()) continue;
    if (entry.second(passes) != 0) {
      std::fprintf(stderr, "benchmark %s failed\n", entry.first.c_str());
      status = 1;
    }
  }
  return status;
}
