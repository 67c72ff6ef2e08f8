// E00: a compressed export of over 100 MB decoded to plain lines and a plain
// one encoded at full compression, through CVtE00 and through e00conv doing
// the same conversion (run as a process), in one run. The outputs are first
// checked against each other; the timed passes then write to /dev/null,
// alternating the two sides, so disk writes and drift weigh on neither. Both
// wall time and CPU time (user + system) are reported, and then the same
// conversions as whole processes: `vtfmt e00 write` beside e00conv. Every
// ratio is printed beside the goal of 2.20x e00conv, "BELOW GOAL" when short.
#include <sys/stat.h>

#include <algorithm>

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

// Runs `e00conv IN OUT LEVEL`; true on exit status 0.
bool E00conv(const std::string& in, const std::string& out, const char* level) {
  return bench::Spawn("e00conv", {"e00conv", in, out, level});
}

// Runs `vtfmt e00 write --level LEVEL IN OUT`; true on exit status 0.
bool Vtfmt(const std::string& tool, const std::string& in, const std::string& out, const char* level) {
  return bench::Spawn(tool, {"vtfmt", "e00", "write", "--level", level, in, out});
}

// The goal: at least this many times e00conv's speed, both ways.
constexpr double kGoal = 2.20;

// " 1.62x (goal 2.20x) BELOW GOAL" for a ratio short of the goal.
std::string Ratio(double ratio) {
  char text[64];
  std::snprintf(text, sizeof text, "%.2fx (goal %.2fx)%s", ratio, kGoal, ratio >= kGoal ? "" : " BELOW GOAL");
  return text;
}

void Line(const char* what, long lines, double bytes, const bench::Timing& t) {
  std::printf(
      "%-28s wall: vtfmt %6.2f Mlines/s %7.1f MB/s   e00conv %6.2f Mlines/s %7.1f MB/s   ratio %s\n", what,
      lines / t.oursWall / 1e6, bytes / t.oursWall / 1e6, lines / t.theirsWall / 1e6,
      bytes / t.theirsWall / 1e6, Ratio(t.theirsWall / t.oursWall).c_str());
  std::printf("%-28s CPU:  vtfmt %6.2f s   e00conv %6.2f s   ratio %s\n", what, t.oursCpu, t.theirsCpu,
              Ratio(t.theirsCpu / t.oursCpu).c_str());
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
  const bench::Timing decode = bench::Alternate(
      passes, [&] { failed |= Convert(full, "/dev/null", CVtE00::E00ComprNone) != lines; },
      [&] { failed |= !E00conv(full, "/dev/null", "NONE"); });
  const bench::Timing encode = bench::Alternate(
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
  const std::string tool = bench::ToolBesideUs();
  if (tool.empty()) {
    std::printf("e00: no vtfmt tool beside the benchmark: whole-process timing skipped\n");
    return 0;
  }
  auto wholeProcess = [&](const char* ours, const char* theirs, const std::string& in) {
    return bench::Alternate(
        passes, [&] { failed |= !Vtfmt(tool, in, "/dev/null", ours); },
        [&] { failed |= !E00conv(in, "/dev/null", theirs); }, true);
  };
  const bench::Timing decodeProcess = wholeProcess("none", "NONE", full);
  const bench::Timing encodeProcess = wholeProcess("full", "FULL", plain);
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
