// E00: a compressed export of over 100 MB decoded to plain lines and a plain
// one encoded at full compression, through CVtE00 and through e00conv doing
// the same conversion (run as a process), in one run. The outputs are first
// checked against each other; the timed passes then write to /dev/null,
// alternating the two sides, so disk writes and drift weigh on neither. Both
// wall time and CPU time (user + system) are reported, and then the same
// conversions as whole processes: `vtfmt e00 write` beside e00conv.
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "Bench.h"
#include "vector/e00/CVtE00.h"

namespace {

long long FileSize(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

// A plain coverage-like export: arc headers of seven integer fields and
// coordinate lines of four %14.7E fields, `arcs` arcs of ten points.
bool MakePlain(const std::string& path, long arcs, long& lines) {
  FILE* fp = std::fopen(path.c_str(), "w");
  if (!fp) return false;
  std::mt19937 rng(1);
  std::uniform_real_distribution<double> x(4.5e5, 4.9e5), y(3.4e6, 3.5e6);
  std::fputs("EXP  0 /BENCH/ROADS/ROADS.E00\nARC  2\n", fp);
  lines = 2;
  for (long a = 1; a <= arcs; ++a) {
    std::fprintf(fp, "%10ld%10ld%10ld%10ld%10d%10d%10d\n", a, a, a % 9973 + 1, (a * 7) % 9973 + 1, 0, 0, 10);
    for (int p = 0; p < 5; ++p)
      std::fprintf(fp, "%14.7E%14.7E%14.7E%14.7E\n", x(rng), y(rng), x(rng), y(rng));
    lines += 6;
  }
  std::fputs("        -1         0         0         0         0         0         0\nEOS\n", fp);
  lines += 2;
  return std::fclose(fp) == 0;
}

// Copies IN to OUT through CVtE00 at `level`; returns the lines copied.
long Convert(const std::string& in, const std::string& out, CVtE00::E00CompreeLevel level) {
  CVtE00 reader, writer;
  CString inName(in.c_str()), outName(out.c_str());
  if (!reader.Open(inName) || !writer.Create(outName, level)) return -1;
  long lines = 0;
  while (const char* line = reader.ReadNextLine()) {
    if (!writer.WriteNextLine(line)) return -1;
    ++lines;
  }
  return lines;
}

extern "C" char** environ;

// Runs a command without a shell, its output to /dev/null; true on exit
// status 0. `path` is looked up in PATH when it holds no "/".
bool Spawn(const std::string& path, std::vector<std::string> args) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int failed = posix_spawnp(&pid, path.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  return failed == 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Runs `e00conv IN OUT LEVEL`; true on exit status 0.
bool E00conv(const std::string& in, const std::string& out, const char* level) {
  return Spawn("e00conv", {"e00conv", in, out, level});
}

// The vtfmt tool beside this benchmark, if it was built; empty otherwise.
std::string ToolBesideUs() {
  char self[4096];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return "";
  std::string path(self, static_cast<size_t>(n));
  path = path.substr(0, path.rfind('/') + 1) + "vtfmt";
  return ::access(path.c_str(), X_OK) == 0 ? path : "";
}

// Runs `vtfmt e00 write --level LEVEL IN OUT`; true on exit status 0.
bool Vtfmt(const std::string& tool, const std::string& in, const std::string& out, const char* level) {
  return Spawn(tool, {"vtfmt", "e00", "write", "--level", level, in, out});
}

double CpuSeconds(int who) {
  rusage usage;
  getrusage(who, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Best wall and CPU seconds of each side over `passes` alternating runs.
struct Timing {
  double oursWall = 1e300, oursCpu = 1e300, theirsWall = 1e300, theirsCpu = 1e300;
};

template <class Ours, class Theirs>
Timing Alternate(int passes, Ours ours, Theirs theirs) {
  Timing t;
  for (int i = 0; i < passes; ++i) {
    auto start = std::chrono::steady_clock::now();
    double cpu = CpuSeconds(RUSAGE_SELF);
    ours();
    t.oursCpu = std::min(t.oursCpu, CpuSeconds(RUSAGE_SELF) - cpu);
    t.oursWall =
        std::min(t.oursWall, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    start = std::chrono::steady_clock::now();
    cpu = CpuSeconds(RUSAGE_CHILDREN);
    theirs();
    t.theirsCpu = std::min(t.theirsCpu, CpuSeconds(RUSAGE_CHILDREN) - cpu);
    t.theirsWall = std::min(t.theirsWall,
                            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  return t;
}

void Line(const char* what, long lines, double bytes, const Timing& t) {
  std::printf(
      "%-28s wall: vtfmt %6.2f Mlines/s %7.1f MB/s   e00conv %6.2f Mlines/s %7.1f MB/s   ratio %.2f\n", what,
      lines / t.oursWall / 1e6, bytes / t.oursWall / 1e6, lines / t.theirsWall / 1e6,
      bytes / t.theirsWall / 1e6, t.theirsWall / t.oursWall);
  std::printf("%-28s CPU:  vtfmt %6.2f s   e00conv %6.2f s   ratio %.2f\n", what, t.oursCpu, t.theirsCpu,
              t.theirsCpu / t.oursCpu);
  std::fflush(stdout);
}

int Run(int passes) {
  if (std::system("command -v e00conv >/dev/null 2>&1") != 0) {
    std::fprintf(stderr, "e00: e00conv is not installed\n");
    return 1;
  }
  bench::ScratchDir dir;
  const std::string plain = dir / "plain.e00", full = dir / "full.e00";
  long lines = 0;
  // 480000 arcs make some 170 MB plain and 107 MB compressed.
  if (!MakePlain(plain, 480000, lines) || !E00conv(plain, full, "FULL")) return 1;
  const double plainBytes = static_cast<double>(FileSize(plain));
  const double fullBytes = static_cast<double>(FileSize(full));
  std::printf("e00: %ld lines, %.1f MB plain, %.1f MB compressed, best of %d passes\n", lines,
              plainBytes / 1e6, fullBytes / 1e6, passes);

  // Both sides once to real files: same sizes, and our decode has every line.
  if (Convert(full, dir / "ours-plain.e00", CVtE00::E00ComprNone) != lines ||
      Convert(plain, dir / "ours-full.e00", CVtE00::E00ComprFull) != lines ||
      FileSize(dir / "ours-plain.e00") != FileSize(plain) ||
      FileSize(dir / "ours-full.e00") != FileSize(full)) {
    std::fprintf(stderr, "e00: our conversion failed or its output differs in size from e00conv's\n");
    return 1;
  }
  std::remove((dir / "ours-plain.e00").c_str());
  std::remove((dir / "ours-full.e00").c_str());

  bool failed = false;
  const Timing decode = Alternate(
      passes, [&] { failed |= Convert(full, "/dev/null", CVtE00::E00ComprNone) != lines; },
      [&] { failed |= !E00conv(full, "/dev/null", "NONE"); });
  const Timing encode = Alternate(
      passes, [&] { failed |= Convert(plain, "/dev/null", CVtE00::E00ComprFull) != lines; },
      [&] { failed |= !E00conv(plain, "/dev/null", "FULL"); });
  if (failed) {
    std::fprintf(stderr, "e00: a timed conversion failed\n");
    return 1;
  }
  // Throughput is counted on the compressed side of each conversion.
  Line("e00: decode full to plain", lines, fullBytes, decode);
  Line("e00: encode plain to full", lines, fullBytes, encode);

  // Whole processes on both sides: `vtfmt e00 write` beside e00conv, our
  // loading of the library and its dependencies included.
  const std::string tool = ToolBesideUs();
  if (tool.empty()) {
    std::printf("e00: no vtfmt tool beside the benchmark: whole-process timing skipped\n");
    return 0;
  }
  auto wholeProcess = [&](const char* ours, const char* theirs, const std::string& in) {
    Timing t;
    for (int i = 0; i < passes; ++i) {
      double cpu = CpuSeconds(RUSAGE_CHILDREN);
      auto start = std::chrono::steady_clock::now();
      failed |= !Vtfmt(tool, in, "/dev/null", ours);
      t.oursWall = std::min(t.oursWall,
                            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
      t.oursCpu = std::min(t.oursCpu, CpuSeconds(RUSAGE_CHILDREN) - cpu);
      cpu = CpuSeconds(RUSAGE_CHILDREN);
      start = std::chrono::steady_clock::now();
      failed |= !E00conv(in, "/dev/null", theirs);
      t.theirsWall = std::min(t.theirsWall,
                              std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
      t.theirsCpu = std::min(t.theirsCpu, CpuSeconds(RUSAGE_CHILDREN) - cpu);
    }
    return t;
  };
  const Timing decodeProcess = wholeProcess("none", "NONE", full);
  const Timing encodeProcess = wholeProcess("full", "FULL", plain);
  if (failed) {
    std::fprintf(stderr, "e00: a whole-process conversion failed\n");
    return 1;
  }
  Line("e00: decode, whole process", lines, fullBytes, decodeProcess);
  Line("e00: encode, whole process", lines, fullBytes, encodeProcess);
  return 0;
}

const bench::RegisterBench kRegistered("e00", Run);

}  // namespace
