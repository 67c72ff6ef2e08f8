#include "platform/posix/PathCase.h"

#include <dirent.h>
#include <sys/stat.h>

#include <memory>

namespace {

// ASCII-only case folding: bytes >= 0x80 (GBK, UTF-8) must match exactly,
// whatever the process locale says.
bool EqualsNoCaseAscii(const char* a, const std::string& b) {
  std::string::size_type i = 0;
  for (; a[i] != '\0'; ++i) {
    if (i == b.size()) return false;
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + ('a' - 'A'));
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + ('a' - 'A'));
    if (x != y) return false;
  }
  return i == b.size();
}

}  // namespace

std::string VtResolvePathCase(const std::string& path) {
  // The common case: the name is right as given. One stat and done.
  struct stat st;
  if (path.empty() || ::stat(path.c_str(), &st) == 0) return path;

  const std::string::size_type slash = path.rfind('/');
  std::string dirPart;  // prefix kept as given, with its trailing '/'
  std::string leaf;
  if (slash == std::string::npos) {
    leaf = path;
  } else {
    dirPart = path.substr(0, slash + 1);
    leaf = path.substr(slash + 1);
  }
  if (leaf.empty() || leaf == "." || leaf == "..") return path;

  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(dirPart.empty() ? "." : dirPart.c_str()), &::closedir);
  if (!dir) return path;

  std::string match;
  int matches = 0;
  while (const dirent* entry = ::readdir(dir.get())) {
    if (!EqualsNoCaseAscii(entry->d_name, leaf)) continue;
    if (++matches > 1) return path;  // ambiguous: "dem.ifo" and "DEM.IFO" both present
    match = entry->d_name;
  }
  return matches == 1 ? dirPart + match : path;
}
