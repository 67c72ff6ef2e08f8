// The quick paths of the E00 readers and writer must answer exactly as the
// full ones do: every field, token and line that takes a quick path is
// checked here against the slow one.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "vector/e00/E00Codec.h"
#include "vector/e00/E00Reader.h"
#include "vector/e00/E00Sections.h"

#include "E00TestSource.h"

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

TEST(E00FastPathTest, QuickLineOfRealsAnswersAsTheScan) {
  const std::string marks = " -+.0E9/:D";
  for (int width : {14, 21}) {
    const int count = width == 14 ? 4 : 2;
    const std::vector<std::string> reals = PrintedReals(width);
    for (size_t first = 0; first + count <= reals.size(); ++first) {
      std::string printed;
      for (int i = 0; i < count; ++i) printed += reals[first + i];
      auto same = [&](const std::string& line) {
        ASSERT_EQ(e00::fields::AreReals(line.c_str(), line.size(), count, width, true),
                  e00::fields::AreReals(line.c_str(), line.size(), count, width, false))
            << "[" << line << "]";
      };
      ASSERT_TRUE(e00::fields::AreReals(printed.c_str(), printed.size(), count, width, true)) << printed;
      same(printed);
      // Every byte value at every place of the line.
      for (size_t at = 0; at < printed.size(); ++at) {
        for (int c = 1; c < 256; ++c) {
          std::string line = printed;
          line[at] = static_cast<char>(c);
          same(line);
        }
      }
      // Two places at once, in different fields too.
      for (size_t a = 0; a < printed.size(); ++a) {
        for (size_t b = a + 1; b < printed.size(); b += 3) {
          for (char ca : marks) {
            for (char cb : marks) {
              std::string line = printed;
              line[a] = ca;
              line[b] = cb;
              same(line);
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

// A stream of tokens cut into physical lines, decoded with or without the
// decoder's quick paths.
class CutSource : public e00test::PhysicalLines {
 public:
  using PhysicalLines::PhysicalLines;

  // Every logical line with what the decoder says of it: length, end flag
  // and where it stopped in the source.
  std::string DecodeAll(bool quick) {
    std::string out;
    for (int guard = 0; guard < 1000; ++guard) {
      const int n = e00::UncompressNextLine(buf, *this, quick);
      out += std::to_string(n) + "|" + buf.szOutLine + "|" + std::to_string(buf.bEnd) + "|" +
             std::to_string(buf.nSrcIndex) + "\n";
      if (buf.bEnd) break;
    }
    return out;
  }
};

void ExpectSameDecoding(const std::vector<std::string>& physical) {
  CutSource quick(physical), slow(physical);
  const std::string a = quick.DecodeAll(true), b = slow.DecodeAll(false);
  std::string joined;
  for (const auto& line : physical) joined += "[" + line + "]";
  ASSERT_EQ(a, b) << joined;
}

TEST(E00FastPathTest, QuickNumberDecodingEqualsTheFullLoop) {
  // Tokens of coordinates and their neighbours: codes with and without the
  // quick shapes, pairs of every kind, after a number and after text.
  const std::vector<std::string> tokens = {"~1NVkZ&", "~@CukC'", "~1Q&S}'&", "~@}#|'&", "~1}!}(}\"}#}$", "~^-CS5",
                                           "~!-CYo", "~1NVkZ", "~1NV"};
  const std::vector<std::string> stops = {" ", "~", "~}", "~-", "~ #", "x", ""};
  const std::vector<std::string> before = {"", " ", "~1NVkZ&", std::string(67, 'a'), std::string(70, 'b') + " "};
  for (const std::string& token : tokens) {
    for (const std::string& stop : stops) {
      for (const std::string& prefix : before) {
        const std::string stream = prefix + token + stop + " ~@CukC' 12~}EOS~}";
        ExpectSameDecoding({stream});
        // Cut into two physical lines at every place.
        for (size_t cut = 1; cut < stream.size(); ++cut)
          ExpectSameDecoding({stream.substr(0, cut), stream.substr(cut)});
      }
      // Every byte value at every place of the token and the character
      // after it.
      for (size_t at = 1; at <= token.size(); ++at) {
        for (int c = 1; c < 256; ++c) {
          std::string stream = " " + token + stop + " 5~}";
          stream[at] = static_cast<char>(c);
          ExpectSameDecoding({stream});
        }
      }
    }
  }
  // The quick path near the end of a full source line buffer.
  for (size_t length = 236; length < 256; ++length)
    ExpectSameDecoding({std::string(length, 'c') + "~1NVkZ& ~}", "~1NVkZ&~}"});
}

// Physical lines as the line reader must give them, one byte at a time:
// at most 255 bytes through the line feed, NULs as blanks, the line end
// and carriage returns before it dropped.
std::vector<std::string> PlainLines(const std::string& bytes) {
  std::vector<std::string> lines;
  for (size_t at = 0; at < bytes.size();) {
    std::string line;
    while (at < bytes.size() && line.size() < 255) {
      const char c = bytes[at++];
      line += c == '\0' ? ' ' : c;
      if (c == '\n') break;
    }
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

TEST(E00FastPathTest, LinesAreFoundAsOneByteAtATimeWouldFindThem) {
  // Lines of every length from 0 to 300, with NULs and carriage returns
  // at places that move against the sixteen-byte steps, and a last line
  // with and without its line feed.
  std::string bytes;
  for (int length = 0; length <= 300; ++length) {
    std::string line(static_cast<size_t>(length), 'a');
    for (int k = 0; k < length; ++k) line[static_cast<size_t>(k)] = static_cast<char>('a' + (k * 7 + length) % 26);
    if (length % 3 == 1) line[static_cast<size_t>(length / 2)] = '\0';
    if (length % 5 == 2) line[static_cast<size_t>(length - 1)] = '\r';
    bytes += line + "\n";
  }
  for (const std::string& tail : {std::string(), std::string("last"), std::string(17, '\0')}) {
    const std::string all = bytes + tail;
    FILE* fp = std::tmpfile();
    ASSERT_NE(fp, nullptr);
    std::fwrite(all.data(), 1, all.size(), fp);
    std::rewind(fp);
    e00::LineFile file;
    file.Attach(fp);
    char line[e00::kLineBufferSize];
    std::vector<std::string> got;
    while (file.Read(line) > 0) {
      got.emplace_back(line);
      ASSERT_EQ(static_cast<size_t>(file.LastLength()), got.back().size());
    }
    std::fclose(fp);
    const std::vector<std::string> want = PlainLines(all);
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) ASSERT_EQ(got[i], want[i]) << "line " << i;
  }
}

// The number encoder with and without its quick paths, on the text of
// `line` from its first character (a digit): the same token and end.
void ExpectSameNumberToken(const std::string& line) {
  if (line.empty() || line[0] < '0' || line[0] > '9') return;
  const char* nul = line.c_str() + line.size();
  char quick[e00::kMaxNumberToken], slow[e00::kMaxNumberToken];
  const char* quickEnd = nullptr;
  const char* slowEnd = nullptr;
  const int quickLength = e00::detail::EncodeNumber(line.c_str(), nul, quickEnd, quick, true);
  const int slowLength = e00::detail::EncodeNumber(line.c_str(), nul, slowEnd, slow, false);
  ASSERT_EQ(quickLength, slowLength) << "[" << line << "]";
  ASSERT_EQ(std::string(quick, quickLength), std::string(slow, slowLength)) << "[" << line << "]";
  ASSERT_EQ(quickEnd - line.c_str(), slowEnd - line.c_str()) << "[" << line << "]";
}

TEST(E00FastPathTest, QuickNumberTokensEqualTheFullScan) {
  // As %14.7E prints them, with pairs of every kind ("}" for 92 to 99).
  const char* numbers[] = {"4.6012345E+05", "3.4999999E-06", "9.2939495E+96", "0.0000000E+00", "1.0000000E-01",
                           "9.9999999E+99", "5.5000000E-99"};
  // What may follow a number: the line's end, a blank, a tilde, the line
  // end code's "}", a letter, a line feed, another digit, a sign.
  const char* stops[] = {"", " ", "~", "}", "x", "\n", "\r", "5", "-", "E", "."};
  for (const char* number : numbers) {
    for (const char* stop : stops) {
      const std::string line = std::string(number) + stop + " 1.5";
      // Cut at every length: the number may end anywhere.
      for (size_t cut = 1; cut <= line.size(); ++cut) ExpectSameNumberToken(line.substr(0, cut));
      // Every byte value at every place of the number and what follows it.
      for (size_t at = 1; at < 15 && at < line.size(); ++at) {
        for (int c = 1; c < 256; ++c) {
          std::string changed = line;
          changed[at] = static_cast<char>(c);
          ExpectSameNumberToken(changed);
        }
      }
    }
  }
  // Short numbers, which the quick path keeps as text.
  for (const char* text : {"7", "12", "123", "1234", "12.5", "7E+01 ", "99}", "1.", "123E"}) ExpectSameNumberToken(text);
}

// CompressLine with and without its quick paths, after `pending` characters
// already waiting: the same status and the same characters.
void ExpectSameEncoding(const std::string& line, int pending) {
  e00::PendingBuffer quick{}, slow{};
  quick.nLength = slow.nLength = pending;
  std::memset(quick.szBuf, 'p', sizeof quick.szBuf);
  std::memset(slow.szBuf, 'p', sizeof slow.szBuf);
  const int a = e00::CompressLine(quick, line.c_str(), true, true);
  const int b = e00::CompressLine(slow, line.c_str(), true, false);
  ASSERT_EQ(a, b) << "[" << line << "] after " << pending;
  ASSERT_EQ(quick.nLength, slow.nLength) << "[" << line << "] after " << pending;
  ASSERT_EQ(std::string(quick.szBuf, quick.nLength), std::string(slow.szBuf, slow.nLength))
      << "[" << line << "] after " << pending;
}

TEST(E00FastPathTest, QuickCoordinateLinesEncodeAsTheFullScan) {
  const std::vector<std::string> reals = PrintedReals(14);
  const std::string marks = " -+.0E9}~";
  for (size_t first = 0; first + 4 <= reals.size(); ++first) {
    std::string printed;
    for (int i = 0; i < 4; ++i) printed += reals[first + i];
    // Every length of what is pending before it, to the overflow and past.
    for (int pending = 0; pending < e00::kLineBufferSize; ++pending) ExpectSameEncoding(printed, pending);
    // Cut short, and run on.
    for (size_t cut = 0; cut < printed.size(); ++cut) ExpectSameEncoding(printed.substr(0, cut), 0);
    ExpectSameEncoding(printed + " ", 0);
    ExpectSameEncoding(printed + "\r\n", 0);
    // Every byte value at every place.
    for (size_t at = 0; at < printed.size(); ++at) {
      for (int c = 1; c < 256; ++c) {
        std::string line = printed;
        line[at] = static_cast<char>(c);
        ExpectSameEncoding(line, 0);
      }
    }
    // Two places at once.
    for (size_t a = 0; a < printed.size(); ++a) {
      for (size_t b = a + 1; b < printed.size(); b += 5) {
        for (char ca : marks) {
          for (char cb : marks) {
            std::string line = printed;
            line[a] = ca;
            line[b] = cb;
            ExpectSameEncoding(line, 0);
          }
        }
      }
    }
  }
}

}  // namespace
