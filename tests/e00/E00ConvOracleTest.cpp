// Round trips with e00conv, an independent reader and writer of compressed
// E00, and how often our compressed output is byte-identical to its.
#include <cpl_error.h>
#include <gtest/gtest.h>

#include <cstdio>
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
  for (const auto& l : e00test::E00convLossyLines()) plain.insert(plain.begin() + 5, l);
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

}  // namespace
