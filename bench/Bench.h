// A small timing harness: each benchmark registers itself and reports the
// throughput of our driver beside GDAL's on the same file, in one run.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace bench {

// Shortest time of `passes` runs, in seconds.
double BestSeconds(int passes, const std::function<void()>& run);

// Processor seconds of one run of `run` (all threads of this process): on
// a machine shared with other work they vary far less than wall-clock time.
double CpuSecondsOf(const std::function<void()>& run);

// One line: both throughputs in MB/s and the ratio ours / GDAL's (above 1
// means we are faster).
void Report(const char* what, double bytes, double oursSeconds, double gdalSeconds);

// Best wall-clock and CPU seconds of our side and a peer's.
struct Timing {
  double oursWall = 1e300, oursCpu = 1e300, theirsWall = 1e300, theirsCpu = 1e300;
};

// Runs `ours` and `theirs` in turn `passes` times. The peer runs as a child
// process, and so does our side when `oursIsChild`: its CPU time is then
// the children's, not this process's.
Timing Alternate(int passes, const std::function<void()>& ours, const std::function<void()>& theirs,
                 bool oursIsChild = false);

// Runs a command without a shell (`path` looked up in PATH when it holds no
// "/"), its standard output to `out` and its errors to /dev/null; true on
// exit status 0.
bool Spawn(const std::string& path, std::vector<std::string> args, const std::string& out = "/dev/null");

// The vtfmt tool beside this benchmark, if it was built; empty otherwise.
std::string ToolBesideUs();

// A fresh directory under /tmp, removed with everything in it on destruction.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Registers a benchmark under `name`; `run(passes)` returns 0 or a failure code.
struct RegisterBench {
  RegisterBench(const char* name, int (*run)(int passes));
};

}  // namespace bench
