// The compressed E00 stream: decoding, encoding, cutting into physical lines.
#include "vector/e00/E00Codec.h"
#include "vector/e00/E00Reader.h"

#include <cpl_error.h>
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "E00TestData.h"
#include "E00TestSource.h"

namespace {

using e00test::Lines;

// Physical lines handed to the decoder one at a time.
class VectorSource : public e00test::PhysicalLines {
 public:
  using PhysicalLines::PhysicalLines;

  // Decodes logical lines until the data ends.
  Lines DecodeAll() {
    Lines out;
    for (int guard = 0; guard < 100000; ++guard) {
      const int n = e00::UncompressNextLine(buf, *this);
      if (buf.bEnd && n == 0) break;
      out.push_back(buf.szOutLine);
      if (buf.bEnd) break;
    }
    return out;
  }
};

Lines Decode(const std::string& stream) { return VectorSource({stream}).DecodeAll(); }

std::string EncodeOne(const std::string& line, bool full = true) {
  e00::PendingBuffer pending{};
  EXPECT_EQ(e00::CompressLine(pending, line.c_str(), full), e00::kWriteOk) << line;
  return std::string(pending.szBuf, static_cast<size_t>(pending.nLength));
}

// Encodes every line and cuts the stream as the writer does.
Lines EncodeAll(const Lines& lines, bool full) {
  e00::PendingBuffer pending{};
  Lines physical;
  for (const auto& line : lines) {
    EXPECT_EQ(e00::CompressLine(pending, line.c_str(), full), e00::kWriteOk) << line;
    for (int cut; (cut = e00::NextCutLength(pending)) > 0;) {
      physical.emplace_back(pending.szBuf, static_cast<size_t>(cut));
      e00::DropPending(pending, cut);
    }
  }
  if (pending.nLength) physical.emplace_back(pending.szBuf, static_cast<size_t>(pending.nLength));
  return physical;
}

class E00CodecTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CPLPushErrorHandler(CPLQuietErrorHandler);
    CPLErrorReset();
  }
  void TearDown() override { CPLPopErrorHandler(); }
};

TEST_F(E00CodecTest, DecodesEveryKindOfToken) {
  // Runs of spaces: the count character less 32, none at or below 32.
  EXPECT_EQ(Decode("a~ !b~}a~ #b~}a~  b~}a~ \x1f"
                   "b~}"),
            (Lines{"a b", "a   b", "ab", "ab"}));
  // Tildes, a literal "-" and the end of line.
  EXPECT_EQ(Decode("~~x~-y~}~}"), (Lines{"~x-y", ""}));
  // The worked example, and the same number followed by a "-" and a tilde.
  EXPECT_EQ(Decode("~^-CS5~}~^-CS5~-3~}~^-CS5~~~}"), (Lines{"1.2345E+02", "1.2345E+02-3", "1.2345E+02~"}));
  // After a number, "~" and a character is that character, never a code.
  EXPECT_EQ(Decode("~!-C~A~!-C~^~}"), (Lines{"1234A1234^"}));
  // Pair "}" and "(" is 99; a "}" at the very end of the data is 92.
  EXPECT_EQ(Decode("~!}(~}~!}"), (Lines{"99", "92"}));
  // No point for p = 0; k >= 45 drops the last digit; "E-" for kind 2.
  EXPECT_EQ(Decode("~!5~}~N5~}~@!!~}"), (Lines{"20", "2", "0.0E-00"}));
  // The stream runs on across physical lines; empty ones are passed over.
  EXPECT_EQ(VectorSource({"ab~", "", "!-C", "S~}c"}).DecodeAll(), (Lines{"ab123450", "c"}));
  EXPECT_EQ(CPLGetLastErrorNo(), 0);
}

TEST_F(E00CodecTest, UnknownCodeEndsTheDataWithError6) {
  VectorSource src(
      {"abc~\x7f"
       "def~}",
       "more~}"});
  EXPECT_EQ(e00::UncompressNextLine(src.buf, src), 3);
  EXPECT_STREQ(src.buf.szOutLine, "abc");
  EXPECT_TRUE(src.buf.bEnd);
  EXPECT_EQ(CPLGetLastErrorNo(), CPLE_NotSupported);
  EXPECT_NE(std::strstr(CPLGetLastErrorMsg(), "Unexpected code \"~\x7f\" encountered in line 1."), nullptr);
}

TEST_F(E00CodecTest, OverlongLinesStopWithinTheOutputLine) {
  // 81 plain characters: the check after each token fails the line.
  VectorSource plain({std::string(81, 'x') + "~}"});
  EXPECT_EQ(e00::UncompressNextLine(plain.buf, plain), 81);
  EXPECT_TRUE(plain.buf.bEnd);
  EXPECT_EQ(CPLGetLastErrorNo(), CPLE_FileIO);

  // One number token whose digit pairs run on for far more than the output
  // line holds: it must stop inside the buffer (ASan watches the writes).
  CPLErrorReset();
  VectorSource number({"~!" + std::string(200, '|'), std::string(200, '|') + "~}"});
  const int n = e00::UncompressNextLine(number.buf, number);
  EXPECT_LT(n, e00::kLineBufferSize);
  EXPECT_EQ(static_cast<int>(std::strlen(number.buf.szOutLine)), n);
  EXPECT_TRUE(number.buf.bEnd);
  EXPECT_EQ(CPLGetLastErrorNo(), CPLE_FileIO);
}

TEST_F(E00CodecTest, EncodesTheDocumentedExamples) {
  EXPECT_EQ(EncodeOne("   "), "~ #~}");
  EXPECT_EQ(EncodeOne("a  b"), "a  b~}");
  EXPECT_EQ(EncodeOne("~"), "~~~}");
  EXPECT_EQ(EncodeOne("12345678"), "~!-CYo~}");
  EXPECT_EQ(EncodeOne("1.2345E+02"), "~^-CS5~}");
  EXPECT_EQ(EncodeOne("12 7"), "12 7~}");
  // Partial compression leaves numbers alone; the end of the line is at a
  // line feed or carriage return.
  EXPECT_EQ(EncodeOne("12345678   x\r\nignored", false), "12345678~ #x~}");
  // A number followed by another character closes its token with "~".
  EXPECT_EQ(EncodeOne("12345678X"), "~!-CYo~X~}");
}

TEST_F(E00CodecTest, NumbersNextToTheLineEndCodeStayText) {
  // "~}" after a token would end the line; "~-" never starts a number.
  EXPECT_EQ(EncodeOne("123456}X"), "123456}X~}");
  EXPECT_EQ(EncodeOne("123456789012.34"), "123456789012.34~}");
  for (const auto& line : e00test::E00convLossyLines()) {
    const Lines back = Decode(EncodeOne(line));
    ASSERT_EQ(back.size(), 1u) << line;
    EXPECT_EQ(back[0], line);
  }
}

TEST_F(E00CodecTest, OverflowOfThePendingBufferLeavesItAsItWas) {
  e00::PendingBuffer pending{};
  ASSERT_EQ(e00::CompressLine(pending, "first", true), e00::kWriteOk);
  const std::string before(pending.szBuf, static_cast<size_t>(pending.nLength));
  for (const std::string& big : {std::string(200, '~'), std::string(250, '9') + "X", std::string(255, 'a')}) {
    CPLErrorReset();
    EXPECT_EQ(e00::CompressLine(pending, big.c_str(), true), e00::kBufferOverflow) << big.size();
    EXPECT_EQ(std::string(pending.szBuf, static_cast<size_t>(pending.nLength)), before);
    EXPECT_STREQ(CPLGetLastErrorMsg(), "Output buffer overflow!!!.");
  }
  // A long line of digits fits when its token is short.
  EXPECT_EQ(e00::CompressLine(pending, std::string(300, '1').c_str(), true), e00::kWriteOk);

  // Digit runs that fill the number token to its last places before an
  // exponent, an odd digit and the closing "~" (ASan watches the writes).
  for (int digits = 500; digits <= 512; ++digits) {
    for (const char* tail : {"E+99X", "E+9X", "X", ""}) {
      e00::PendingBuffer empty{};
      const std::string line = std::string(static_cast<size_t>(digits), '9') + tail;
      EXPECT_EQ(e00::CompressLine(empty, line.c_str(), true), e00::kBufferOverflow) << digits << tail;
      EXPECT_EQ(empty.nLength, 0);
    }
  }
}

TEST_F(E00CodecTest, CutsLinesOfAtMost80NeverEndingInASpace) {
  e00::PendingBuffer pending{};
  std::string stream = std::string(78, 'a') + "  " + "b" + std::string(10, 'c');
  std::memcpy(pending.szBuf, stream.data(), stream.size());
  pending.nLength = static_cast<int>(stream.size());
  EXPECT_EQ(e00::NextCutLength(pending), 78);
  pending.nLength = 79;
  EXPECT_EQ(e00::NextCutLength(pending), 0);
  pending.nLength = 80;
  EXPECT_EQ(e00::NextCutLength(pending), 80);
  std::memset(pending.szBuf, ' ', 90);
  pending.nLength = 90;
  EXPECT_EQ(e00::NextCutLength(pending), 1);
}

TEST_F(E00CodecTest, RealisticAndEdgeLinesSurviveEveryLevel) {
  Lines lines = e00test::RealisticExport(7, 60);
  for (const auto& l : e00test::EdgeLines()) lines.push_back(l);
  for (const auto& l : e00test::E00convLossyLines()) lines.push_back(l);
  // Random lines over the characters that matter.
  std::mt19937 rng(42);
  const std::string alphabet = "0123456789.E+-~} ~  9E+0";
  for (int i = 0; i < 3000; ++i) {
    std::string line;
    const int length = std::uniform_int_distribution<int>(0, 80)(rng);
    for (int c = 0; c < length; ++c) line += alphabet[rng() % alphabet.size()];
    lines.push_back(line);
  }
  for (bool full : {false, true}) {
    const Lines physical = EncodeAll(lines, full);
    for (const auto& p : physical) {
      ASSERT_LE(p.size(), 80u);
      ASSERT_FALSE(p.empty());
    }
    const Lines back = VectorSource(physical).DecodeAll();
    ASSERT_EQ(back.size(), lines.size()) << "full " << full;
    for (size_t i = 0; i < lines.size(); ++i)
      ASSERT_EQ(back[i], lines[i]) << "full " << full << " line " << i;
  }
  EXPECT_EQ(CPLGetLastErrorNo(), 0);
}

TEST_F(E00CodecTest, WhereTheStreamIsCutDoesNotMatter) {
  // Number tokens inside one physical line take a faster path than tokens
  // cut across lines; both decode alike, at every width of cutting.
  Lines lines = e00test::RealisticExport(17, 12);
  for (const auto& l : e00test::EdgeLines()) lines.push_back(l);
  std::string stream;
  for (const auto& p : EncodeAll(lines, true)) stream += p;
  for (size_t width : {1, 2, 3, 5, 7, 13, 40, 79, 80, 200}) {
    Lines physical;
    for (size_t at = 0; at < stream.size(); at += width) physical.push_back(stream.substr(at, width));
    EXPECT_EQ(VectorSource(physical).DecodeAll(), lines) << "width " << width;
  }
  EXPECT_EQ(CPLGetLastErrorNo(), 0);
}

TEST_F(E00CodecTest, PhysicalLinesLoseTheirLineEndAndNuls) {
  FILE* fp = std::tmpfile();
  ASSERT_NE(fp, nullptr);
  const std::string bytes = std::string("ab\0cd\r\n", 7) + "\n" + std::string(300, 'x') + "\nlast";
  std::fwrite(bytes.data(), 1, bytes.size(), fp);
  std::rewind(fp);
  char line[e00::kLineBufferSize];
  e00::LineFile file;
  file.Attach(fp);
  EXPECT_EQ(file.Read(line), 7);
  EXPECT_STREQ(line, "ab cd");
  EXPECT_EQ(file.Read(line), 1);
  EXPECT_STREQ(line, "");
  EXPECT_EQ(file.Read(line), 255);
  EXPECT_EQ(file.Read(line), 46);
  EXPECT_EQ(std::string(line), std::string(45, 'x'));
  EXPECT_EQ(file.Read(line), 4);
  EXPECT_STREQ(line, "last");
  EXPECT_EQ(file.Read(line), 0);
  std::fclose(fp);
}

}  // namespace

// A run of spaces longer than one token carries is split, and every count
// character stays ASCII: a count past 127 would read back short.
TEST_F(E00CodecTest, LongSpaceRunsSplitAtTheLastAsciiCount) {
  for (int n : {3, 94, 95, 96, 97, 150, 190, 191}) {
    const std::string line = "a" + std::string(static_cast<size_t>(n), ' ') + "b";
    const std::string encoded = EncodeOne(line, false);
    std::string back;
    for (size_t i = 0; i < encoded.size(); ++i) {
      const unsigned char c = static_cast<unsigned char>(encoded[i]);
      ASSERT_LT(c, 128u) << n << " spaces, byte " << i;
      if (c == '~' && i + 2 < encoded.size() && encoded[i + 1] == ' ') {
        const unsigned char count = static_cast<unsigned char>(encoded[i + 2]);
        ASSERT_LT(count, 128u) << n << " spaces, count at byte " << i + 2;
        back.append(static_cast<size_t>(count - ' '), ' ');
        i += 2;
      } else if (c == '~' && i + 1 < encoded.size() && encoded[i + 1] == '}') {
        break;
      } else {
        back.push_back(static_cast<char>(c));
      }
    }
    EXPECT_EQ(back, line) << n << " spaces";
  }
}
