// `vtfmt e00`: the E00 interchange files, plain or compressed, in volumes.
//
//   vtfmt e00 info FILE    compressed, volumes, length and lines of the set
//   vtfmt e00 cat FILE     the plain lines of the set
//   vtfmt e00 write [--level none|partial|full] IN OUT
#include <stdlib.h>

#include <cstdio>
#include <string>
#include <vector>

#include "Command.h"
#include "access/RasterDriver.h"
#include "platform/vtcore/CVtErrorMsg.h"
#include "vector/e00/CVtE00.h"

namespace vtfmt {

namespace {

std::string LastMessage(const char* fallback) {
  CVtErrorMsg* msg = VtGetErrorMsgObj();
  return msg->HasMessage() && !msg->GetMessage().IsEmpty() ? msg->GetMessage().str() : fallback;
}

void OpenForRead(CVtE00& e00, const std::string& path) {
  CString name(path);
  if (!e00.Open(name)) {
    // The library's own reason, which names the file.
    const CString reason = CVtE00::GetLastFailure();
    throw FileError{path, reason.IsEmpty() ? "cannot be opened as E00" : reason.str()};
  }
}

// Hands every line of the set to `take`; a read error ends with a FileError.
template <class Take>
void ReadAll(CVtE00& e00, const std::string& path, Take take) {
  VtGetErrorMsgObj()->Clear();
  while (const char* line = e00.ReadNextLine()) take(line);
  if (VtGetErrorMsgObj()->HasMessage()) throw FileError{path, LastMessage("read failed")};
}

int Info(const std::string& path) {
  CVtE00 e00;
  OpenForRead(e00, path);
  const int compressed = e00.IsCompressed();
  const int volumes = e00.GetVolumeCount();
  const unsigned long length = e00.GetLength();
  unsigned long lines = 0;
  ReadAll(e00, path, [&lines](const char*) { ++lines; });
  std::printf("compressed: %d\nvolumes: %d\nlength: %lu\nlines: %lu\n", compressed, volumes, length, lines);
  return kOk;
}

int Cat(const std::string& path) {
  CVtE00 e00;
  OpenForRead(e00, path);
  ReadAll(e00, path, [](const char* line) {
    std::fputs(line, stdout);
    std::fputc('\n', stdout);
  });
  if (std::fflush(stdout) != 0) throw FileError{"<stdout>", "write failed"};
  return kOk;
}

int Write(CVtE00::E00CompreeLevel level, const std::string& in, const std::string& out) {
  if (SameFile(in, out)) throw UsageError{"the output " + out + " is the input"};
  CVtE00 reader;
  OpenForRead(reader, in);
  CVtE00 writer;
  CString outName(out);
  VtGetErrorMsgObj()->Clear();
  if (!writer.Create(outName, level)) throw FileError{out, "cannot be created"};
  try {
    ReadAll(reader, in, [&](const char* line) {
      if (!writer.WriteNextLine(line)) throw FileError{out, LastMessage("write failed")};
    });
    writer.Close();
    if (VtGetErrorMsgObj()->HasMessage()) throw FileError{out, LastMessage("write failed")};
  } catch (...) {
    writer.Close();
    RemovePartialFile(out);
    throw;
  }
  return kOk;
}

CVtE00::E00CompreeLevel ParseLevel(const std::string& text) {
  if (text == "none") return CVtE00::E00ComprNone;
  if (text == "partial") return CVtE00::E00ComprPartial;
  if (text == "full") return CVtE00::E00ComprFull;
  throw UsageError{"unknown level " + text + " (none, partial or full)"};
}

}  // namespace

int E00Command(int argc, char** argv, int first) {
  if (first >= argc) throw UsageError{"e00 needs a subcommand: info, cat or write"};
  // Our one line on standard error carries GDAL's message; its default
  // handler would print it a second time.
  ::setenv("CPL_LOG", "/dev/null", 0);
  const std::string sub = argv[first];
  std::vector<std::string> files;
  CVtE00::E00CompreeLevel level = CVtE00::E00ComprFull;
  for (int i = first + 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--level" && sub == "write") {
      if (i + 1 >= argc) throw UsageError{"--level needs a value"};
      level = ParseLevel(argv[++i]);
    } else if (a.size() > 1 && a[0] == '-') {
      throw UsageError{"unknown option " + a};
    } else {
      files.push_back(a);
    }
  }
  if (sub == "info" || sub == "cat") {
    if (files.size() != 1) throw UsageError{"e00 " + sub + " takes one FILE"};
    return sub == "info" ? Info(files[0]) : Cat(files[0]);
  }
  if (sub == "write") {
    if (files.size() != 2) throw UsageError{"e00 write takes IN and OUT"};
    return Write(level, files[0], files[1]);
  }
  throw UsageError{"unknown e00 subcommand " + sub};
}

}  // namespace vtfmt
