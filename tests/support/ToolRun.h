// Runs the vtfmt tool from a test and splits its `key: value` output.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <map>
#include <sstream>
#include <string>

#include "support/ScratchDir.h"

// A shell-quoted argument.
inline std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += (c == '\'') ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

struct ToolResult {
  int status = -1;  // exit status, -1 when the tool did not exit normally
  std::string out;
  std::string err;
};

// Runs `vtfmt ARGS` (ARGS already quoted), capturing both streams in `dir`.
inline ToolResult RunTool(const ScratchDir& dir, const std::string& args) {
  const std::string cmd =
      Quote(VTFMT_TOOL_PATH) + " " + args + " >" + Quote(dir / "stdout") + " 2>" + Quote(dir / "stderr");
  ToolResult r;
  const int raw = std::system(cmd.c_str());
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.out = dir.Get("stdout");
  r.err = dir.Get("stderr");
  return r;
}

// The `key: value` lines of `text`.
inline std::map<std::string, std::string> KeyValues(const std::string& text) {
  std::map<std::string, std::string> keys;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    const size_t colon = line.find(": ");
    if (colon != std::string::npos) keys[line.substr(0, colon)] = line.substr(colon + 2);
  }
  return keys;
}

// A test of the tool in a scratch directory: Run gives the exit status and
// keeps standard error in `err` (standard output in `out` when asked).
class ToolTest : public ::testing::Test {
 protected:
  int Run(const std::string& args, std::string* out = nullptr) {
    const ToolResult r = RunTool(dir, args);
    if (out) *out = r.out;
    err = r.err;
    return r.status;
  }
  ScratchDir dir;
  std::string err;
};
