// The quick paths of the E00 readers and writer must answer exactly as the
// full ones do: every field, token and line that takes a quick path is
// checked here against the slow one.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "vector/e00/E00Sections.h"

namespace {

// Reals as the sections print them, in single (14) and double (21) width.
std::vector<std::string> PrintedReals(int width) {
  const double values[] = {0.0, 1.0, -1.0, 4.6012345e5, -3.4999999e6, 9.9999999e99, 1.5e-99, -7.25e-3, 123456.789};
  std::vector<std::string> out;
  for (double v : values) {
    char text[64];
    std::snprintf(text, sizeof text, width == 14 ? "%14.7E" : "%21.14E", v);
    out.push_back(text);
  }
  return out;
}

TEST(E00FastPathTest, QuickRealTestNeverAcceptsWhatTheScanRefuses) {
  // Characters that matter to either test, for changes at two places.
  const std::string marks = " -+.0159Ee D/:\t";
  for (int width : {14, 21}) {
    for (const std::string& printed : PrintedReals(width)) {
      ASSERT_EQ(printed.size(), static_cast<size_t>(width)) << printed;
      // The printed shape takes the quick path, and the scan agrees.
      EXPECT_TRUE(e00::fields::IsPrintedReal(printed.c_str(), width)) << printed;
      EXPECT_TRUE(e00::fields::ScanReal(printed.c_str(), width)) << printed;
      // Every byte value at every place.
      for (int at = 0; at < width; ++at) {
        for (int c = 1; c < 256; ++c) {
          std::string field = printed;
          field[at] = static_cast<char>(c);
          const bool scan = e00::fields::ScanReal(field.c_str(), width);
          if (e00::fields::IsPrintedReal(field.c_str(), width)) {
            ASSERT_TRUE(scan) << "[" << field << "] width " << width;
          }
          ASSERT_EQ(e00::fields::IsReal(field.c_str(), width), scan) << "[" << field << "]";
        }
      }
      // Two places changed at once, from the characters that matter.
      for (int a = 0; a < width; ++a) {
        for (int b = a + 1; b < width; ++b) {
          for (char ca : marks) {
            for (char cb : marks) {
              std::string field = printed;
              field[a] = ca;
              field[b] = cb;
              ASSERT_EQ(e00::fields::IsReal(field.c_str(), width), e00::fields::ScanReal(field.c_str(), width))
                  << "[" << field << "]";
            }
          }
        }
      }
    }
  }
}

TEST(E00FastPathTest, QuickIntegerTestAnswersAsTheScan) {
  const char* bases[] = {"         1", "        -1", "1234567890", "-123456789", "     12345", "         0",
                         "          ", "       - 7"};
  const std::string marks = " -09+.a";
  for (const char* base : bases) {
    const std::string printed = base;
    ASSERT_EQ(printed.size(), 10u);
    for (int at = 0; at < 10; ++at) {
      for (int c = 1; c < 256; ++c) {
        std::string field = printed;
        field[at] = static_cast<char>(c);
        ASSERT_EQ(e00::fields::IsInt(field.c_str(), 10), e00::fields::ScanInt(field.c_str(), 10))
            << "[" << field << "]";
      }
    }
    for (int a = 0; a < 10; ++a) {
      for (int b = a + 1; b < 10; ++b) {
        for (char ca : marks) {
          for (char cb : marks) {
            std::string field = printed;
            field[a] = ca;
            field[b] = cb;
            ASSERT_EQ(e00::fields::IsInt(field.c_str(), 10), e00::fields::ScanInt(field.c_str(), 10))
                << "[" << field << "]";
          }
        }
      }
    }
  }
}

}  // namespace
