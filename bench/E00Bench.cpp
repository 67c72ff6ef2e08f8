// E00: a compressed export of over 100 MB decoded to plain lines and a plain
// one encoded at full compression, through CVtE00 and through e00conv doing
// the same conversion (run as a process), in one run.
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

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

bool E00conv(const std::string& in, const std::string& out, const char* level) {
  const std::string cmd = "e00conv '" + in + "' '" + out + "' " + level + " >/dev/null 2>&1";
  const int raw = std::system(cmd.c_str());
  return WIFEXITED(raw) && WEXITSTATUS(raw) == 0;
}

void Line(const char* what, long lines, double bytes, double ours, double theirs) {
  std::printf("%-32s vtfmt %6.2f Mlines/s %7.1f MB/s   e00conv %6.2f Mlines/s %7.1f MB/s   ratio %.2f\n",
              what, lines / ours / 1e6, bytes / ours / 1e6, lines / theirs / 1e6, bytes / theirs / 1e6,
              theirs / ours);
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

  bool failed = false;
  const double oursDecode = bench::BestSeconds(
      passes, [&] { failed |= Convert(full, dir / "ours-plain.e00", CVtE00::E00ComprNone) != lines; });
  const double theirsDecode =
      bench::BestSeconds(passes, [&] { failed |= !E00conv(full, dir / "theirs-plain.e00", "NONE"); });
  const double oursEncode = bench::BestSeconds(
      passes, [&] { failed |= Convert(plain, dir / "ours-full.e00", CVtE00::E00ComprFull) != lines; });
  const double theirsEncode =
      bench::BestSeconds(passes, [&] { failed |= !E00conv(plain, dir / "theirs-full.e00", "FULL"); });
  if (failed || FileSize(dir / "ours-plain.e00") != FileSize(plain) ||
      FileSize(dir / "ours-full.e00") != FileSize(full)) {
    std::fprintf(stderr, "e00: a conversion failed or its output differs in size\n");
    return 1;
  }
  // Throughput is counted on the compressed side of each conversion.
  Line("e00: decode full to plain", lines, fullBytes, oursDecode, theirsDecode);
  Line("e00: encode plain to full", lines, fullBytes, oursEncode, theirsEncode);
  return 0;
}

const bench::RegisterBench kRegistered("e00", Run);

}  // namespace
