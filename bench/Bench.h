// A small timing harness: each benchmark registers itself and reports the
// throughput of our driver beside GDAL's on the same file, in one run.
#pragma once

#include <functional>
#include <string>

namespace bench {

// Shortest time of `passes` runs, in seconds.
double BestSeconds(int passes, const std::function<void()>& run);

// One line: both throughputs in MB/s and the ratio ours / GDAL's (above 1
// means we are faster).
void Report(const char* what, double bytes, double oursSeconds, double gdalSeconds);

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
