// `vtfmt gml ...` and `vtfmt mapinfo ...` run vtfmt-gml and vtfmt-mapinfo,
// which sit beside vtfmt and link the geodata library, with the arguments
// after the subcommand.
#include <limits.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "Command.h"

namespace vtfmt {

int CompanionCommand(const char* name, int argc, char** argv, int first) {
  char self[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) throw FileError{name, "cannot find vtfmt's own directory"};
  self[n] = '\0';
  std::string program(self);
  program = program.substr(0, program.rfind('/') + 1) + name;
  std::vector<char*> args = {const_cast<char*>(program.c_str())};
  for (int i = first; i < argc; ++i) args.push_back(argv[i]);
  args.push_back(nullptr);
  execv(program.c_str(), args.data());
  throw FileError{program, std::strerror(errno)};
}

}  // namespace vtfmt
