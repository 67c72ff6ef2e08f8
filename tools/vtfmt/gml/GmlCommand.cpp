// vtfmt-gml: the `vtfmt gml` subcommands, in a program of their own because
// they read and write every vector format through the geodata library (OGR),
// which vtfmt itself does not load.
//
//   vtfmt gml export [--charset CODE] [--progress] SRC OUT.gml
//   vtfmt gml import [-F OGR_DRIVER] [--progress] IN.gml OUT
//   vtfmt gml info IN.gml
//
// Exit status: 0 success, 1 a file cannot be read or written, 2 usage.
#include <gdal_priv.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "access/ogr/GmlConvert.h"

namespace {

using namespace vtfmt::gml;

const char kUsage[] =
    "usage: vtfmt gml export [--charset CODE] [--progress] SRC OUT.gml\n"
    "       vtfmt gml import [-F OGR_DRIVER] [--progress] IN.gml OUT\n"
    "       vtfmt gml info IN.gml\n";

[[noreturn]] void Usage(const std::string& why) { throw Failure{why, 2}; }

int Written(const std::string& target, const Counts& counts) {
  std::printf("written: %s\nlayers: %d\nfeatures: %lld\n", target.c_str(), counts.layers, counts.features);
  return 0;
}

int Run(int argc, char** argv) {
  if (argc < 2) Usage("");
  const std::string command = argv[1];
  std::vector<std::string> files;
  int charset = 0;
  bool progress = isatty(2) != 0;
  std::string driver;
  for (int i = 2; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--charset" && command == "export" && i + 1 < argc) {
      char* end = nullptr;
      long code = std::strtol(argv[++i], &end, 10);
      if (*end || code < 0 || code > 65538) Usage("bad character-set code " + std::string(argv[i]));
      charset = static_cast<int>(code);
    } else if (a == "-F" && command == "import" && i + 1 < argc) {
      driver = argv[++i];
    } else if (a == "--progress") {
      progress = true;
    } else if (!a.empty() && a[0] == '-') {
      Usage("unknown option " + a);
    } else {
      files.push_back(a);
    }
  }
  GDALAllRegister();
  Progress shown(progress);
  if (command == "export" && files.size() == 2) return Written(files[1], Export(files[0], files[1], charset, shown));
  if (command == "import" && files.size() == 2) return Written(files[1], Import(files[0], files[1], driver, shown));
  if (command == "info" && files.size() == 1) return Info(files[0]), 0;
  Usage(command == "export" || command == "import" || command == "info" ? "wrong number of files"
                                                                        : "unknown gml command " + command);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const Failure& f) {
    if (!f.text.empty()) std::fprintf(stderr, "vtfmt gml: %s\n", f.text.c_str());
    if (f.code == 2) std::fputs(kUsage, stderr);
    return f.code;
  }
}
