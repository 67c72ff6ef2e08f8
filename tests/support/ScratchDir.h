// A fresh temporary directory for one test, removed with everything in it
// when the test ends.
#pragma once

#include <ftw.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

class ScratchDir {
 public:
  ScratchDir() {
    const char* tmp = ::getenv("TMPDIR");
    std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/vtfmt-file-XXXXXX";
    if (!::mkdtemp(&templ[0])) throw std::runtime_error("mkdtemp failed");
    m_path = templ;
  }
  ~ScratchDir() { ::nftw(m_path.c_str(), &RemoveOne, 16, FTW_DEPTH | FTW_PHYS); }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& path() const { return m_path; }
  std::string operator/(const std::string& name) const { return m_path + "/" + name; }

  // Writes bytes exactly as given (binary, no line-end translation).
  void Put(const std::string& name, const std::string& bytes) const {
    std::ofstream out(*this / name, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + name);
  }
  std::string Get(const std::string& name) const {
    std::ifstream in(*this / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  bool Exists(const std::string& name) const { return ::access((*this / name).c_str(), F_OK) == 0; }

 private:
  static int RemoveOne(const char* path, const struct stat*, int, struct FTW*) {
    ::remove(path);
    return 0;
  }

  std::string m_path;
};

// Runs a test body with the current directory changed, restoring it after.
class CurrentDir {
 public:
  explicit CurrentDir(const std::string& dir) {
    char buf[4096];
    if (!::getcwd(buf, sizeof buf) || ::chdir(dir.c_str()) != 0) throw std::runtime_error("chdir failed");
    m_saved = buf;
  }
  ~CurrentDir() { (void)!::chdir(m_saved.c_str()); }

 private:
  std::string m_saved;
};
