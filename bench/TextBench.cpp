// Text: 100 MB of GB18030 (Chinese with ASCII, and four-byte sequences for
// Latin letters and emoji) converted to UTF-8 through CVtTextCodec in 1 MB
// pieces and by the iconv command, in one run. The outputs are first
// compared byte for byte; the timed passes then discard the output,
// alternating the two sides. Then whole processes: `vtfmt text convert`
// beside iconv. Wall and CPU time are reported; ratio above 1 means we
// are faster.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Bench.h"
#include "text/CVtTextCodec.h"

namespace {

bool Iconv(const std::string& in, const std::string& out) {
  return bench::Spawn("iconv", {"iconv", "-f", "GB18030", "-t", "UTF-8", in}, out);
}

// Converts the file in 1 MB pieces, writing to `out` (nullptr: discarded).
// Returns the input bytes, -1 on failure.
long long Convert(const std::string& in, FILE* out) {
  CVtTextCodec codec;
  if (!codec.Open("UTF-8", "GB18030")) return -1;
  FILE* f = std::fopen(in.c_str(), "rb");
  if (!f) return -1;
  constexpr size_t kPiece = 1 << 20;
  std::vector<char> buffer(kPiece + 64);
  CString converted;
  size_t carried = 0;
  long long total = 0;
  codec.BeginStream();
  for (;;) {
    const size_t got = std::fread(buffer.data() + carried, 1, kPiece, f);
    const bool last = got < kPiece;
    int used = 0;
    if (!codec.ConvertPiece(converted, buffer.data(), static_cast<int>(carried + got), last, used)) break;
    if (out) std::fwrite(converted.GetString(), 1, static_cast<size_t>(converted.GetLength()), out);
    total += used;
    carried = carried + got - static_cast<size_t>(used);
    std::copy(buffer.begin() + used, buffer.begin() + used + static_cast<long>(carried), buffer.begin());
    if (last) {
      std::fclose(f);
      return carried == 0 ? total : -1;
    }
  }
  std::fclose(f);
  return -1;
}

bool MakeText(const std::string& path, double megabytes) {
  // One block of mixed text, made GB18030 by the codec, written until full.
  std::string utf8;
  for (int i = 0; utf8.size() < (1 << 20); ++i)
    utf8 += "\xE5\x9C\xB0\xE5\x9B\xBE\xE6\x95\xB0\xE6\x8D\xAE " + std::to_string(i) +
            " caf\xC3\xA9 \xE6\xB2\xB3\xE6\xB5\x81\xE4\xB8\x8E\xE9\x81\x93\xE8\xB7\xAF \xF0\x9F\x97\xBA\n";
  CVtTextCodec codec;
  CString block;
  if (!codec.Open("GB18030", "UTF-8") || !codec.Convert(block, utf8.data(), static_cast<int>(utf8.size())))
    return false;
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  for (double written = 0; written < megabytes * 1e6; written += block.GetLength())
    std::fwrite(block.GetString(), 1, static_cast<size_t>(block.GetLength()), f);
  return std::fclose(f) == 0;
}

std::string ReadAll(const std::string& path) {
  std::string data;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return data;
  char buf[1 << 16];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) data.append(buf, n);
  std::fclose(f);
  return data;
}

void Line(const char* what, double bytes, const bench::Timing& t) {
  std::printf("%-30s wall: vtfmt %7.1f MB/s   iconv %7.1f MB/s   ratio %.2f\n", what, bytes / t.oursWall / 1e6,
              bytes / t.theirsWall / 1e6, t.theirsWall / t.oursWall);
  std::printf("%-30s CPU:  vtfmt %6.2f s   iconv %6.2f s   ratio %.2f\n", what, t.oursCpu, t.theirsCpu,
              t.theirsCpu / t.oursCpu);
  std::fflush(stdout);
}

int Run(int passes) {
  if (std::system("command -v iconv >/dev/null 2>&1") != 0) {
    std::fprintf(stderr, "text: the iconv command is not installed\n");
    return 1;
  }
  bench::ScratchDir dir;
  const std::string gb = dir / "text.gb18030";
  if (!MakeText(gb, 100)) return 1;
  const double bytes = static_cast<double>(ReadAll(gb).size());
  std::printf("text: %.1f MB of GB18030 to UTF-8, best of %d passes\n", bytes / 1e6, passes);

  // Both sides once to real files: the same bytes.
  FILE* ours = std::fopen((dir / "ours.txt").c_str(), "wb");
  const bool converted = ours && Convert(gb, ours) == static_cast<long long>(bytes);
  if (ours) std::fclose(ours);
  if (!converted || !Iconv(gb, dir / "iconv.txt") || ReadAll(dir / "ours.txt") != ReadAll(dir / "iconv.txt")) {
    std::fprintf(stderr, "text: our conversion failed or differs from iconv's\n");
    return 1;
  }
  std::remove((dir / "ours.txt").c_str());
  std::remove((dir / "iconv.txt").c_str());

  bool failed = false;
  const bench::Timing library = bench::Alternate(
      passes, [&] { failed |= Convert(gb, nullptr) != static_cast<long long>(bytes); },
      [&] { failed |= !Iconv(gb, "/dev/null"); });
  if (failed) {
    std::fprintf(stderr, "text: a timed conversion failed\n");
    return 1;
  }
  Line("text: GB18030 to UTF-8", bytes, library);

  const std::string tool = bench::ToolBesideUs();
  if (tool.empty()) {
    std::printf("text: no vtfmt tool beside the benchmark: whole-process timing skipped\n");
    return 0;
  }
  const bench::Timing process = bench::Alternate(
      passes,
      [&] {
        failed |= !bench::Spawn(tool, {tool, "text", "convert", "--from", "134", "--to", "65536", gb, "/dev/null"});
      },
      [&] { failed |= !Iconv(gb, "/dev/null"); }, true);
  if (failed) {
    std::fprintf(stderr, "text: a whole-process conversion failed\n");
    return 1;
  }
  Line("text: whole process", bytes, process);
  return 0;
}

const bench::RegisterBench kRegistered("text", Run);

}  // namespace
