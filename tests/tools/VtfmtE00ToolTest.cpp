// `vtfmt e00` end to end: info keys, cat output, write levels, exit codes.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "e00/E00TestData.h"
#include "support/ToolRun.h"

namespace {

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

class VtfmtE00ToolTest : public ::testing::Test {
 protected:
  using Result = ToolResult;
  Result Run(const std::string& args) { return RunTool(dir, "e00 " + args); }
  static std::map<std::string, std::string> Keys(const std::string& text) { return KeyValues(text); }
  ScratchDir dir;
};

TEST_F(VtfmtE00ToolTest, WriteCatAndInfoAgreeAtEveryLevel) {
  const e00test::Lines plain = e00test::RealisticExport(8, 80);
  dir.Put("plain.e00", e00test::Join(plain));
  for (const char* level : {"none", "partial", "full"}) {
    const std::string out = dir / (std::string(level) + ".e00");
    Result w = Run(std::string("write --level ") + level + " " + Quote(dir / "plain.e00") + " " + Quote(out));
    ASSERT_EQ(w.status, 0) << w.err;
    Result cat = Run("cat " + Quote(out));
    ASSERT_EQ(cat.status, 0) << cat.err;
    EXPECT_EQ(cat.out, e00test::Join(plain)) << level;
    auto keys = Keys(Run("info " + Quote(out)).out);
    EXPECT_EQ(keys["compressed"], std::string(level) == "none" ? "0" : "1");
    EXPECT_EQ(keys["volumes"], "1");
    EXPECT_EQ(keys["length"], std::to_string(dir.Get(std::string(level) + ".e00").size()));
    EXPECT_EQ(keys["lines"], std::to_string(plain.size()));
  }
  // The default level is full.
  ASSERT_EQ(Run("write " + Quote(dir / "plain.e00") + " " + Quote(dir / "default.e00")).status, 0);
  EXPECT_EQ(dir.Get("default.e00"), dir.Get("full.e00"));
}

TEST_F(VtfmtE00ToolTest, TheSampleSetHasTwoVolumes) {
  const std::string sample = std::string(VTFMT_SOURCE_DIR) + "/samples/roads.e00";
  Result info = Run("info " + Quote(sample));
  ASSERT_EQ(info.status, 0) << info.err;
  auto keys = Keys(info.out);
  EXPECT_EQ(keys["compressed"], "1");
  EXPECT_EQ(keys["volumes"], "2");
  Result cat = Run("cat " + Quote(sample));
  ASSERT_EQ(cat.status, 0) << cat.err;
  const e00test::Lines lines = e00test::Split(cat.out);
  EXPECT_EQ(std::to_string(lines.size()), keys["lines"]);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front().substr(0, 6), "EXP  0");
  EXPECT_EQ(lines.back(), "EOS");
}

TEST_F(VtfmtE00ToolTest, FailuresNameTheFile) {
  dir.Put("bad.e00", "hello\n");
  Result bad = Run("cat " + Quote(dir / "bad.e00"));
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find(dir / "bad.e00"), std::string::npos) << bad.err;

  dir.Put("corrupt.e00", "EXP  1\n" + std::string(74, 'a') + "~}b~\x05\nrest~}\n");
  Result corrupt = Run("info " + Quote(dir / "corrupt.e00"));
  EXPECT_EQ(corrupt.status, 1);
  EXPECT_NE(corrupt.err.find("Unexpected code"), std::string::npos) << corrupt.err;
  Result half = Run("write " + Quote(dir / "corrupt.e00") + " " + Quote(dir / "out.e00"));
  EXPECT_EQ(half.status, 1);
  EXPECT_FALSE(dir.Exists("out.e00"));

  EXPECT_EQ(Run("").status, 2);
  EXPECT_EQ(Run("frob x").status, 2);
  EXPECT_EQ(Run("write --level most a b").status, 2);
  EXPECT_EQ(Run("info a b").status, 2);
  dir.Put("same.e00", "EXP  0\n");
  EXPECT_EQ(Run("write " + Quote(dir / "same.e00") + " " + Quote(dir / "same.e00")).status, 2);
  EXPECT_EQ(dir.Get("same.e00"), "EXP  0\n");
}

TEST_F(VtfmtE00ToolTest, ACutExportFailsAfterItsLinesWithTheLibrarysReasons) {
  const e00test::Lines plain = e00test::RealisticExport(9, 30);
  const std::string bytes = e00test::Join(plain);
  dir.Put("plain.e00", bytes);
  ASSERT_EQ(Run("write " + Quote(dir / "plain.e00") + " " + Quote(dir / "full.e00")).status, 0);
  const std::string full = dir.Get("full.e00");
  for (const std::string* whole : {&bytes, &full}) {
    const size_t at = whole->find('\n', whole->size() / 2) + 1;
    dir.Put("cut.e00", whole->substr(0, at));
    Result cat = Run("cat " + Quote(dir / "cut.e00"));
    EXPECT_EQ(cat.status, 1);
    EXPECT_NE(cat.err.find(dir / "cut.e00"), std::string::npos) << cat.err;
    EXPECT_NE(cat.err.find("truncated"), std::string::npos) << cat.err;
    const e00test::Lines out = e00test::Split(cat.out);
    ASSERT_GT(out.size(), 10u);
    EXPECT_EQ(out, e00test::Lines(plain.begin(), plain.begin() + static_cast<long>(out.size())));
    EXPECT_EQ(Run("info " + Quote(dir / "cut.e00")).status, 1);
  }
  // The reason the library gives for a file it cannot open.
  dir.Put("bad.e00", "hello\n");
  Result bad = Run("info " + Quote(dir / "bad.e00"));
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find(dir / "bad.e00 is not a valid E00 file."), std::string::npos) << bad.err;
  Result missing = Run("cat " + Quote(dir / "missing.e00"));
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("Failed to open " + dir / "missing.e00"), std::string::npos) << missing.err;
}

TEST_F(VtfmtE00ToolTest, TheSampleSetCutAtALineEndFailsWithOneLine) {
  // The sample's first volume cut after its fourth line, the second volume
  // whole: the stream goes on from the cut into the second volume's data.
  const std::string samples = std::string(VTFMT_SOURCE_DIR) + "/samples/";
  const Result whole = Run("cat " + Quote(samples + "roads.e00"));
  ASSERT_EQ(whole.status, 0) << whole.err;
  const e00test::Lines all = e00test::Split(whole.out);
  ASSERT_EQ(all.size(), 130u);
  dir.Put("roads.e00", ReadWhole(samples + "roads.e00").substr(0, 281));
  dir.Put("roads.E01", ReadWhole(samples + "roads.E01"));
  for (const char* command : {"cat", "info"}) {
    SCOPED_TRACE(command);
    const Result cut = Run(std::string(command) + " " + Quote(dir / "roads.e00"));
    EXPECT_EQ(cut.status, 1);
    ASSERT_FALSE(cut.err.empty());
    EXPECT_EQ(cut.err.find('\n'), cut.err.size() - 1) << cut.err;
    // The volume the broken line is in, and the one before it.
    EXPECT_NE(cut.err.find(dir / "roads.E01 is truncated or damaged: line 10 of the set: ARC record 3"),
              std::string::npos)
        << cut.err;
    EXPECT_NE(cut.err.find("follows on from " + dir / "roads.e00"), std::string::npos) << cut.err;
  }
  // Every line handed out before the failure is the sample's own.
  const e00test::Lines out = e00test::Split(Run("cat " + Quote(dir / "roads.e00")).out);
  ASSERT_EQ(out.size(), 9u);
  EXPECT_EQ(out, e00test::Lines(all.begin(), all.begin() + 9));
}

}  // namespace
