// `vtfmt text` beside the iconv command: files larger than one piece, by
// code or by name, and failures that name the byte and leave no output.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "support/ToolRun.h"

namespace {

class VtfmtTextToolTest : public ToolTest {
 protected:
  // `iconv` on the file `in` of the scratch directory.
  std::string Iconv(const std::string& from, const std::string& to, const std::string& in) {
    const std::string cmd = "iconv -f " + from + " -t " + to + " " + Quote(dir / in) + " > " + Quote(dir / "iconv");
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    return dir.Get("iconv");
  }
  // About 3 MB of UTF-8 from one to four bytes a character, so sequences
  // straddle the tool's pieces.
  void PutText(const std::string& name) {
    std::string text;
    for (int i = 0; text.size() < 3000000; ++i)
      text += "line " + std::to_string(i) + ": \xE5\x9C\xB0\xE5\x9B\xBE caf\xC3\xA9 \xF0\x9F\x97\xBA \xE2\x82\xAC\n";
    dir.Put(name, text);
  }
};

TEST_F(VtfmtTextToolTest, CharsetsListsCodesWithNamesIconvKnows) {
  std::string out;
  ASSERT_EQ(Run("text charsets", &out), 0) << err;
  std::istringstream lines(out);
  int code = 0, count = 0;
  std::string name;
  while (lines >> code >> name) {
    ++count;
    const std::string cmd = "iconv -f " + name + " -t UTF-8 </dev/null >/dev/null 2>&1";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << code << " " << name;
  }
  EXPECT_EQ(count, 21);
}

TEST_F(VtfmtTextToolTest, ConversionsMatchIconv) {
  PutText("utf8.txt");
  dir.Put("gb.txt", Iconv("UTF-8", "GB18030", "utf8.txt"));
  struct Case {
    const char* from;  // as given to vtfmt
    const char* to;
    const char* iconvFrom;
    const char* iconvTo;
    const char* in;
  };
  const Case cases[] = {
      {"134", "65536", "GB18030", "UTF-8", "gb.txt"},
      {"UTF-8", "GB18030", "UTF-8", "GB18030", "utf8.txt"},
      {"GB18030", "UTF-16", "GB18030", "UTF-16", "gb.txt"},
      {"utf-8", "CP1252//TRANSLIT", "UTF-8", "CP1252//TRANSLIT", "utf8.txt"},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(Run(std::string("text convert --from ") + c.from + " --to " + Quote(c.to) + " " + Quote(dir / c.in) +
                  " " + Quote(dir / "out")),
              0)
        << err;
    EXPECT_TRUE(dir.Get("out") == Iconv(c.iconvFrom, Quote(c.iconvTo), c.in)) << c.from << " -> " << c.to;
  }
}

TEST_F(VtfmtTextToolTest, FailuresNameTheByteAndLeaveNoOutput) {
  PutText("bad.txt");
  std::string bad = dir.Get("bad.txt");
  bad[2000001] = '\xFF';
  dir.Put("bad.txt", bad);
  dir.Put("cut.txt", bad.substr(0, 2000001) + "\xE5\x9C");
  const std::pair<std::string, std::string> failures[] = {
      {"--from UTF-8 --to UTF-16 " + Quote(dir / "bad.txt"), "at byte 2000001"},
      {"--from UTF-8 --to UTF-16 " + Quote(dir / "cut.txt"), "ends inside a character (byte 2000001)"},
      {"--from UTF-8 --to CP1252 " + Quote(dir / "cut.txt"), "at byte 8"},
      {"--from UTF-8 --to UTF-16 " + Quote(dir / "none.txt"), "No such file"},
  };
  for (const auto& f : failures) {
    EXPECT_EQ(Run("text convert " + f.first + " " + Quote(dir / "out")), 1) << f.first;
    EXPECT_NE(err.find(f.second), std::string::npos) << err;
    EXPECT_FALSE(dir.Exists("out"));
  }
  const std::string usage[] = {
      "convert --from 2 --to UTF-8 a b",
      "convert --from no-such-set --to UTF-8 a b",
      "convert --from UTF-8 a b",
      "convert --from UTF-8 --to UTF-16 " + Quote(dir / "bad.txt") + " " + Quote(dir / "bad.txt"),
      "transcode",
  };
  for (const std::string& args : usage) EXPECT_EQ(Run("text " + args), 2) << args;
  EXPECT_EQ(dir.Get("bad.txt"), bad);
}

}  // namespace
