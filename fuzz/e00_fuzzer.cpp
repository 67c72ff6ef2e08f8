// Feeds arbitrary bytes to the E00 readers as a set of one to three volumes
// (f.e00, f.E01, f.E02): the first byte gives the count and the cut points.
// Both readers read the set to its end (up to a bound); the lines read are
// written back through the compressing writer, and so are the raw bytes as
// one long line. Restored places and two readers of one set must give the
// same lines.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <string>

#include "vector/e00/CFileE00.h"
#include "vector/e00/CVtE00.h"

namespace {
const std::string& Dir() {
  static const std::string dir = [] {
    char templ[] = "/tmp/vtfmt-fuzz-e00-XXXXXX";
    // GDAL's default error handler would print every decoding message.
    ::setenv("CPL_LOG", "/dev/null", 1);
    return std::string(mkdtemp(templ) ? templ : "/tmp");
  }();
  return dir;
}

void Put(const std::string& path, const uint8_t* data, size_t size) {
  FILE* fp = std::fopen(path.c_str(), "wb");
  if (!fp) return;
  std::fwrite(data, 1, size, fp);
  std::fclose(fp);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& dir = Dir();
  const std::string names[3] = {dir + "/f.e00", dir + "/f.E01", dir + "/f.E02"};
  for (const auto& name : names) ::unlink(name.c_str());
  const int volumes = size ? 1 + data[0] % 3 : 1;
  const uint8_t* body = size ? data + 1 : data;
  const size_t length = size ? size - 1 : 0;
  // Cut points from the first byte's upper bits, spread over the body.
  size_t start = 0;
  for (int v = 0; v < volumes; ++v) {
    size_t end = v + 1 == volumes ? length : length * (v + 1) / volumes;
    if (size && v == 0) end = (end + (data[0] >> 2)) < length ? end + (data[0] >> 2) : end;
    Put(names[v], body + start, end - start);
    start = end;
  }

  CString path(names[0].c_str());
  CString out((dir + "/out.e00").c_str());
  {
    CVtE00 reader, writer;
    if (reader.Open(path)) {
      writer.Create(out, CVtE00::E00ComprFull);
      for (int i = 0; i < 20000; ++i) {
        const char* line = reader.ReadNextLine();
        if (!line) break;
        reader.GetPosition();
        writer.WriteNextLine(line);
      }
      reader.SeekToBegin();
      reader.ReadNextLine();
    }
  }
  {
    // The encoder on the raw bytes as one line, far longer than E00 allows.
    CVtE00 writer;
    if (writer.Create(out, CVtE00::E00ComprFull)) {
      const std::string text(reinterpret_cast<const char*>(body), length);
      writer.WriteNextLine("EXP  0");
      writer.WriteNextLine(text.c_str());
    }
  }
  {
    // Places captured before the first lines give the same lines again
    // when restored.
    CFileE00 file;
    if (file.OpenForRead(path)) {
      constexpr int kMarks = 8;
      CFileE00::CFilePosInfo marks[kMarks];
      std::string lines[kMarks];
      int marked = 0;
      for (int i = 0; i < 20000; ++i) {
        if (i < kMarks) file.GetPosInfo(marks[i]);
        const char* line = file.ReadNextLine();
        if (!line) break;
        if (i < kMarks) lines[marked++] = line;
      }
      CFileE00 again;
      if (marked > 0 && again.OpenForRead(path)) {
        for (int i = marked - 1; i >= 0; --i) {
          if (!again.SeekPosition(marks[i])) break;
          const char* line = again.ReadNextLine();
          if (!line || lines[i] != line) std::abort();
        }
      }
    }
  }
  {
    // Two readers of one set at once.
    CVtE00 a, b;
    if (a.Open(path) && b.Open(path)) {
      for (int i = 0; i < 20000; ++i) {
        const char* la = a.ReadNextLine();
        const std::string first = la ? la : "";
        const char* lb = b.ReadNextLine();
        if (!la != !lb || (la && first != lb)) std::abort();
        if (!la) break;
      }
    }
  }
  return 0;
}
