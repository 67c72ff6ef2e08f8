// vtfmt_bench [--passes N] [NAME...]: runs the named benchmarks (all when
// none is named) and prints one line of throughputs per measurement.
#include <fcntl.h>
#include <gdal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

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

namespace {
double CpuSeconds(int who) {
  rusage usage;
  getrusage(who, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

double CpuSecondsOf(const std::function<void()>& run) {
  const double start = CpuSeconds(RUSAGE_SELF);
  run();
  return CpuSeconds(RUSAGE_SELF) - start;
}

namespace {
// Runs `run` and lowers `wall` and `cpu` to its times when they are shorter.
void Time(const std::function<void()>& run, int who, double& wall, double& cpu) {
  const auto start = std::chrono::steady_clock::now();
  const double before = CpuSeconds(who);
  run();
  cpu = std::min(cpu, CpuSeconds(who) - before);
  wall = std::min(wall, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
}
}  // namespace

Timing Alternate(int passes, const std::function<void()>& ours, const std::function<void()>& theirs,
                 bool oursIsChild) {
  Timing t;
  for (int i = 0; i < passes; ++i) {
    Time(ours, oursIsChild ? RUSAGE_CHILDREN : RUSAGE_SELF, t.oursWall, t.oursCpu);
    Time(theirs, RUSAGE_CHILDREN, t.theirsWall, t.theirsCpu);
  }
  return t;
}

bool Spawn(const std::string& path, std::vector<std::string> args, const std::string& out) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int failed = posix_spawnp(&pid, path.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  return failed == 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string ToolBesideUs() {
  char self[4096];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return "";
  std::string path(self, static_cast<size_t>(n));
  path = path.substr(0, path.rfind('/') + 1) + "vtfmt";
  return ::access(path.c_str(), X_OK) == 0 ? path : "";
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
