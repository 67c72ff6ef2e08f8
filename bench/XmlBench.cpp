// XML: a generated document of small feature elements parsed through the
// document framework (handlers gather every text run) beside expat alone
// with empty callbacks, in one run, timed in processor seconds; and a 1 GB document streamed through a
// pipe, with the resident memory sampled as it goes.
#include <expat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include "Bench.h"
#include "xml/XMLIO_Document.h"

namespace {

std::string Feature(long i) {
  return "<f id=\"" + std::to_string(i) + "\"><x>" + std::to_string(i * 0.25) + "</x><name>feature " +
         std::to_string(i) + "</name><v a=\"1\" b=\"two\"/></f>\n";
}

// Gathers the text of one feature's fields; the framework deletes it at the
// feature's end, as a reader's record handler is.
class FieldHandler : public XMLIO_Element {
 public:
  XMLIO_Element* XMLIO_startTag(const std::string&, const XMLIO_Attributes&) override { return this; }
  void XMLIO_getCharacters(const std::string& text) override { gathered += text; }
  bool XMLIO_remove() override { return true; }
  std::string gathered;
};

class Collection : public XMLIO_Element {
 public:
  long features = 0;
  XMLIO_Element* XMLIO_startTag(const std::string&, const XMLIO_Attributes&) override {
    ++features;
    return new FieldHandler;
  }
};

// One handler for every element that does nothing with what it gets: the
// framework's own cost beside expat's empty callbacks.
class ClaimAll : public XMLIO_Element {
 public:
  long features = 0;
  XMLIO_Element* XMLIO_startTag(const std::string& tag, const XMLIO_Attributes&) override {
    if (tag.size() == 1 && tag[0] == 'f') ++features;
    return this;
  }
};

class BenchDocument : public XMLIO_Document {
 public:
  explicit BenchDocument(bool handlerPerFeature) : perFeature(handlerPerFeature) {}
  bool perFeature;
  Collection collection;
  ClaimAll claimAll;
  XMLIO_Element* XMLIO_startTag(const std::string&, const XMLIO_Attributes&) override {
    return perFeature ? static_cast<XMLIO_Element*>(&collection) : &claimAll;
  }
  long features() const { return perFeature ? collection.features : claimAll.features; }
};

long ParseFramework(FILE* stream, size_t step, bool perFeature, const std::function<void()>& everyStep = nullptr) {
  BenchDocument doc(perFeature);
  if (doc.open(stream, "r") != 0 || doc.readDocument() != 0) return -1;
  doc.setReadStep(step);
  while (doc.ParseOneBuffer()) {
    if (everyStep) everyStep();
  }
  long n = doc.errorText().empty() ? doc.features() : -1;
  doc.close();
  return n;
}

long ParseFramework(const std::string& path, size_t step, bool perFeature) {
  FILE* f = std::fopen(path.c_str(), "r");
  if (!f) return -1;
  long n = ParseFramework(f, step, perFeature);
  std::fclose(f);
  return n;
}

void XMLCALL NoStart(void*, const XML_Char*, const XML_Char**) {}
void XMLCALL NoEnd(void*, const XML_Char*) {}
void XMLCALL NoText(void*, const XML_Char*, int) {}

bool ParseBareExpat(const std::string& path, size_t step) {
  FILE* f = std::fopen(path.c_str(), "r");
  if (!f) return false;
  XML_Parser p = XML_ParserCreate(nullptr);
  XML_SetElementHandler(p, NoStart, NoEnd);
  XML_SetCharacterDataHandler(p, NoText);
  bool ok = true;
  for (;;) {
    void* buf = XML_GetBuffer(p, static_cast<int>(step));
    size_t n = std::fread(buf, 1, step, f);
    if (XML_ParseBuffer(p, static_cast<int>(n), n == 0) != XML_STATUS_OK) {
      ok = false;
      break;
    }
    if (n == 0) break;
  }
  XML_ParserFree(p);
  std::fclose(f);
  return ok;
}

int RunParse(int passes) {
  bench::ScratchDir dir;
  const std::string path = dir / "features.xml";
  const char* env = std::getenv("VTFMT_BENCH_XML_MB");
  const double wantBytes = (env ? std::atof(env) : 100.0) * 1e6;
  long features = 0;
  double bytes = 0;
  {
    std::ofstream out(path);
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<collection>\n";
    while (bytes < wantBytes) {
      std::string f = Feature(features++);
      bytes += static_cast<double>(f.size());
      out << f;
    }
    out << "</collection>\n";
  }
  if (ParseFramework(path, 1000, false) != features || ParseFramework(path, 1000, true) != features ||
      !ParseBareExpat(path, 65536)) {
    std::fprintf(stderr, "xml: parse failed\n");
    return 1;
  }
  // The framework's goal beside expat alone, in both cases.
  const double goal = 0.85;
  const char* labels[] = {"one handler claims all", "a handler per feature"};
  for (bool perFeature : {false, true}) {
    for (size_t step : {size_t{1000}, size_t{65536}}) {
      // Alternate the two sides so drift weighs on neither; best of the passes.
      double ours = 1e300, bare = 1e300;
      for (int i = 0; i < passes; ++i) {
        ours = std::min(ours, bench::CpuSecondsOf([&] { ParseFramework(path, step, perFeature); }));
        bare = std::min(bare, bench::CpuSecondsOf([&] { ParseBareExpat(path, 65536); }));
      }
      std::printf("xml parse, %-22s %5zu-byte steps: framework %6.1f MB/s, bare expat %6.1f MB/s: %.2fx expat (goal %.2fx)%s\n",
                  labels[perFeature], step, bytes / ours / 1e6, bytes / bare / 1e6, bare / ours, goal,
                  bare / ours >= goal ? "" : " BELOW GOAL");
    }
  }
  std::fflush(stdout);
  return 0;
}
bench::RegisterBench parse("xml", RunParse);

long ResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.compare(0, 6, "VmRSS:") == 0) return std::atol(line.c_str() + 6);
  return -1;
}

// Streams VTFMT_BENCH_XML_MEMORY_MB (default 1000) of features through a pipe,
// so the document never exists on disk or in memory as a whole.
int RunMemory(int) {
  const char* env = std::getenv("VTFMT_BENCH_XML_MEMORY_MB");
  const double wantBytes = (env ? std::atof(env) : 1000.0) * 1e6;
  int fds[2];
  if (pipe(fds) != 0) return 1;
  double written = 0;
  std::thread writer([&] {
    FILE* out = fdopen(fds[1], "w");
    std::fputs("<collection>\n", out);
    for (long i = 0; written < wantBytes; ++i) {
      std::string f = Feature(i);
      written += static_cast<double>(f.size());
      std::fwrite(f.data(), 1, f.size(), out);
    }
    std::fputs("</collection>\n", out);
    std::fclose(out);
  });
  FILE* in = fdopen(fds[0], "r");
  long steps = 0, first = -1, peak = 0, last = 0;
  long features = ParseFramework(in, 65536, true, [&] {
    if (++steps % 2000 != 0) return;
    last = ResidentKiB();
    if (first < 0) first = last;
    if (last > peak) peak = last;
  });
  writer.join();
  std::fclose(in);
  std::printf("xml memory: %.0f MB, %ld features; resident at first sample %ld KiB, peak %ld KiB, last %ld KiB\n",
              written / 1e6, features, first, peak, last);
  return features > 0 ? 0 : 1;
}
bench::RegisterBench memory("xml-memory", RunMemory);

}  // namespace
