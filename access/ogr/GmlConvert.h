// GML conversion between OGR's vector formats and the platform's GML: what
// `vtfmt gml` and the Python module run. Reads and writes through the
// geodata library (OGR).
#pragma once

#include <cstdio>
#include <string>

namespace vtfmt {
namespace gml {

// A failure: the text names the file; code 1 for a file that cannot be read
// or written, 2 for a bad request (an unknown OGR driver).
struct Failure {
  std::string text;
  int code;
};

// GDAL-style progress on standard error: 0...10...20...100 - done.
class Progress {
 public:
  explicit Progress(bool on) : on_(on) {}
  void Show(int percent) {
    if (!on_) return;
    for (; next_ <= percent && next_ <= 100; next_ += 2) {
      if (next_ % 10 == 0) std::fprintf(stderr, "%d", next_);
      else if (next_ % 2 == 0) std::fputc('.', stderr);
    }
    if (percent >= 100 && !done_) {
      std::fputs(" - done.\n", stderr);
      done_ = true;
    }
  }

 private:
  bool on_;
  int next_ = 0;
  bool done_ = false;
};

struct Counts {
  int layers = 0;
  long long features = 0;
};

// Every layer of the vector dataset `source` to the GML file `target`;
// `charset` as the GML writer takes it (0: UTF-8).
Counts Export(const std::string& source, const std::string& target, int charset, Progress& progress);
// The layers of the GML file `source` to `target` through the OGR driver
// named, or the one `target`'s extension calls for.
Counts Import(const std::string& source, const std::string& target, std::string driverName, Progress& progress);
// Prints the layers, bounds, fields and feature counts of a GML file.
void Info(const std::string& source);

}  // namespace gml
}  // namespace vtfmt
