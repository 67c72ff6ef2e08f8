// Round trips with e00conv, an independent reader and writer of compressed
// E00, and how often our compressed output is byte-identical to its.
#include <cpl_error.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>

#include "E00TestData.h"
#include "support/ScratchDir.h"
#include "vector/e00/CVtE00.h"

namespace {

using e00test::Lines;

class E00ConvOracleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::system("command -v e00conv >/dev/null 2>&1") != 0) GTEST_SKIP() << "e00conv is not installed";
    CPLPushErrorHandler(CPLQuietErrorHandler);
  }
  void TearDown() override { CPLPopErrorHandler(); }

  Lines ReadOurs(const std::string& name) {
    CVtE00 e00;
    CString path(dir / name);
    Lines lines;
    EXPECT_TRUE(e00.Open(path)) << name;
    while (const char* line = e00.ReadNextLine()) lines.push_back(line);
    EXPECT_EQ(CPLGetLastErrorNo(), 0) << CPLGetLastErrorMsg();
    return lines;
  }
  void WriteOurs(const std::string& name, const Lines& lines, CVtE00::E00CompreeLevel level) {
    CVtE00 e00;
    CString path(dir / name);
    ASSERT_TRUE(e00.Create(path, level));
    for (const auto& line : lines) ASSERT_TRUE(e00.WriteNextLine(line.c_str())) << line;
    e00.Close();
  }

  ScratchDir dir;
};

struct Level {
  const char* name;
  CVtE00::E00CompreeLevel level;
};
const Level kLevels[] = {
    {"NONE", CVtE00::E00ComprNone}, {"PARTIAL", CVtE00::E00ComprPartial}, {"FULL", CVtE00::E00ComprFull}};

TEST_F(E00ConvOracleTest, RoundTripsBothWaysOnRealisticExports) {
  int files = 0, identical[3] = {0, 0, 0};
  for (unsigned seed = 1; seed <= 12; ++seed) {
    Lines plain = e00test::RealisticExport(seed, seed == 12 ? 3000 : 10 + 17 * static_cast<int>(seed));
    if (seed % 3 == 0)
      for (const auto& l : e00test::EdgeLines()) plain.insert(plain.end() - 1, l);
    dir.Put("plain.e00", e00test::Join(plain));
    ++files;
    for (int i = 0; i < 3; ++i) {
      const Level& lv = kLevels[i];
      SCOPED_TRACE(std::string(lv.name) + " seed " + std::to_string(seed));
      // e00conv compresses, we decode.
      ASSERT_TRUE(e00test::E00conv(dir / "plain.e00", dir / "theirs.e00", lv.name));
      EXPECT_EQ(ReadOurs("theirs.e00"), plain);
      // We compress, e00conv decodes.
      WriteOurs("ours.e00", plain, lv.level);
      ASSERT_TRUE(e00test::E00conv(dir / "ours.e00", dir / "back.e00", "NONE"));
      EXPECT_EQ(e00test::Split(dir.Get("back.e00")), plain);
      if (dir.Get("ours.e00") == dir.Get("theirs.e00")) ++identical[i];
    }
  }
  std::printf("byte-identical to e00conv: NONE %d/%d, PARTIAL %d/%d, FULL %d/%d\n", identical[0], files,
              identical[1], files, identical[2], files);
  RecordProperty("identical_full", identical[2]);
  // Where e00conv keeps the data, our encoder and its agree to the byte.
  EXPECT_EQ(identical[0], files);
  EXPECT_EQ(identical[1], files);
  EXPECT_EQ(identical[2], files);
}

TEST_F(E00ConvOracleTest, WhereE00convLosesDataOursDoesNot) {
  Lines plain = e00test::RealisticExport(3, 20);
  // In the log, whose lines are free text.
  const auto log = std::find(plain.begin(), plain.end(), "EOL");
  ASSERT_NE(log, plain.end());
  const Lines lossy = e00test::E00convLossyLines();
  plain.insert(log, lossy.begin(), lossy.end());
  dir.Put("plain.e00", e00test::Join(plain));
  ASSERT_TRUE(e00test::E00conv(dir / "plain.e00", dir / "theirs.e00", "FULL"));
  ASSERT_TRUE(e00test::E00conv(dir / "theirs.e00", dir / "theirs-back.e00", "NONE"));
  // Our reader decodes e00conv's output exactly as e00conv does, lossy parts included.
  const Lines theirsBack = e00test::Split(dir.Get("theirs-back.e00"));
  EXPECT_NE(theirsBack, plain);
  EXPECT_EQ(ReadOurs("theirs.e00"), theirsBack);
  // Our output carries every line, for e00conv and for us.
  WriteOurs("ours.e00", plain, CVtE00::E00ComprFull);
  ASSERT_TRUE(e00test::E00conv(dir / "ours.e00", dir / "ours-back.e00", "NONE"));
  EXPECT_EQ(e00test::Split(dir.Get("ours-back.e00")), plain);
  EXPECT_EQ(ReadOurs("ours.e00"), plain);
}

// Random lines over the characters the encoder treats apart: digits, points,
// exponents, signs, runs of blanks, tildes and braces.
Lines RandomLines(unsigned seed, int count) {
  std::mt19937 rng(seed);
  const std::string pieces[] = {"4.6012345E+05", "-1.2345678E-03", "0.0000000E+00", "9.9999999E+99", "1",
                                "42", "123", "1234", "12345678901234.5", "1.E+05", " ", "  ", "   ",
                                "          ", "~", "}", "-", ".", "E+", "E-1", "X", "ARC", "7E+07", "00"};
  Lines lines = {"EXP  0 /RANDOM/R.E00"};
  for (int i = 0; i < count; ++i) {
    std::string line;
    const int parts = std::uniform_int_distribution<int>(0, 9)(rng);
    for (int p = 0; p < parts; ++p) {
      const std::string& piece = pieces[rng() % (sizeof pieces / sizeof pieces[0])];
      if (line.size() + piece.size() > 80) break;
      line += piece;
    }
    lines.push_back(line);
  }
  lines.push_back("EOS");
  return lines;
}

TEST_F(E00ConvOracleTest, RandomLinesMatchE00convWhereverItKeepsThem) {
  for (unsigned seed = 1; seed <= 4; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    Lines plain = RandomLines(seed, 2500);
    // Lines e00conv does not carry through full compression are left out;
    // on the rest its output and ours agree to the byte. A marker line after
    // each line finds them, since a lossy line may come back as two.
    const std::string marker = "#MARK#";
    Lines marked;
    for (const auto& line : plain) {
      marked.push_back(line);
      marked.push_back(marker);
    }
    dir.Put("plain.e00", e00test::Join(marked));
    ASSERT_TRUE(e00test::E00conv(dir / "plain.e00", dir / "theirs.e00", "FULL"));
    ASSERT_TRUE(e00test::E00conv(dir / "theirs.e00", dir / "back.e00", "NONE"));
    Lines kept;
    {
      const Lines back = e00test::Split(dir.Get("back.e00"));
      size_t line = 0;
      Lines group;
      for (const auto& b : back) {
        if (b != marker) {
          group.push_back(b);
          continue;
        }
        ASSERT_LT(line, plain.size());
        if (group.size() == 1 && group[0] == plain[line]) kept.push_back(plain[line]);
        group.clear();
        ++line;
      }
      ASSERT_EQ(line, plain.size());
    }
    ASSERT_GT(kept.size(), plain.size() * 3 / 4);
    dir.Put("kept.e00", e00test::Join(kept));
    for (const Level& lv : kLevels) {
      SCOPED_TRACE(lv.name);
      ASSERT_TRUE(e00test::E00conv(dir / "kept.e00", dir / "theirs.e00", lv.name));
      WriteOurs("ours.e00", kept, lv.level);
      EXPECT_EQ(dir.Get("ours.e00"), dir.Get("theirs.e00"));
      EXPECT_EQ(ReadOurs("theirs.e00"), kept);
    }
    // Every line, lossy ones included, survives our own round trip.
    WriteOurs("all.e00", plain, CVtE00::E00ComprFull);
    EXPECT_EQ(ReadOurs("all.e00"), plain);
  }
}

TEST_F(E00ConvOracleTest, RandomTokenStreamsDecodeAsE00convDecodesThem) {
  // Compressed data no writer of ours makes: number codes of every kind,
  // pair characters of every value (with "}" pairs), tokens cut across
  // physical lines, literals after numbers, runs and line ends.
  std::mt19937 rng(77);
  auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  int compared = 0;
  for (int file = 0; file < 40; ++file) {
    std::string stream;
    for (int line = 0; line < 60; ++line) {
      int length = 0;
      while (length < 20) {
        const int kind = pick(0, 9);
        std::string token;
        if (kind <= 5) {
          token = "~" + std::string(1, static_cast<char>(pick('!', 'z')));
          if (token[1] == '-') token[1] = '!';
          // An exponent takes the last two digits written and an odd count
          // drops one: such tokens have the pairs for it, as every writer
          // makes them (without, e00conv takes characters before the token).
          const int k = token[1] - '!';
          const int least = k / 15 % 3 != 0 ? 2 : k >= 45 ? 1 : 0;
          for (int p = pick(least, 8); p > 0; --p) {
            if (pick(0, 9) == 0)
              token += "}" + std::string(1, static_cast<char>(pick('!', '(')));
            else
              token += static_cast<char>(pick('!', '|'));
          }
          token += pick(0, 3) == 0 ? "~" + std::string(1, static_cast<char>(pick('A', 'Z'))) : " ";
        } else if (kind == 6) {
          token = "~ " + std::string(1, static_cast<char>(pick('!', '0')));
        } else if (kind == 7) {
          token = "~~";
        } else {
          token = std::string(1, static_cast<char>(pick('A', 'Z')));
        }
        stream += token;
        length += static_cast<int>(token.size());
      }
      stream += "~}";
    }
    stream += "EOS~}";
    // Physical lines of 80, the first with a tilde, as a writer cuts them.
    std::string bytes = "EXP  1 /RANDOM/T.E00\n";
    for (size_t at = 0; at < stream.size(); at += 80) bytes += stream.substr(at, 80) + "\n";
    dir.Put("t.e00", bytes);
    if (!e00test::E00conv(dir / "t.e00", dir / "t-back.e00", "NONE")) continue;
    const Lines theirs = e00test::Split(dir.Get("t-back.e00"));
    CVtE00 e00;
    CString path(dir / "t.e00");
    ASSERT_TRUE(e00.Open(path));
    Lines ours;
    while (const char* line = e00.ReadNextLine()) ours.push_back(line);
    // A line over 80 characters stops both; what came before agrees.
    const bool stopped = e00.IsTruncated() || CPLGetLastErrorNo() != 0;
    ASSERT_LE(ours.size(), theirs.size());
    for (size_t i = 0; i < ours.size(); ++i) ASSERT_EQ(ours[i], theirs[i]) << "file " << file << " line " << i;
    if (!stopped) {
      EXPECT_EQ(ours.size(), theirs.size()) << file;
      ++compared;
    }
  }
  EXPECT_GT(compared, 5);
}

}  // namespace
