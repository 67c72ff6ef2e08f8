// Physical lines of a compressed E00 stream handed to the decoder one at a
// time, for the decoder's tests.
#pragma once

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "vector/e00/E00Codec.h"

namespace e00test {

class PhysicalLines : public e00::LineSource {
 public:
  explicit PhysicalLines(std::vector<std::string> physical) : m_lines(std::move(physical)) {
    std::memset(&buf, 0, sizeof buf);
  }
  void ReadNextSourceLine() override {
    buf.nSrcIndex = 0;
    if (m_next >= m_lines.size()) {
      buf.szSrcLine[0] = '\0';
      buf.bEnd = 1;
      return;
    }
    std::snprintf(buf.szSrcLine, sizeof buf.szSrcLine, "%s", m_lines[m_next++].c_str());
  }
  long LineNumber() const override { return static_cast<long>(m_next); }

  e00::DecodeBuffer buf;

 private:
  std::vector<std::string> m_lines;
  size_t m_next = 0;
};

}  // namespace e00test
