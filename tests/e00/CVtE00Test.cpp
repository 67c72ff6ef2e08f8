// CVtE00: one stream over a set of volumes, the writer at its three levels,
// and failures reported on the error-message object.
#include "vector/e00/CVtE00.h"

#include <cpl_error.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "E00TestData.h"
#include "platform/vtcore/CVtErrorMsg.h"
#include "support/ScratchDir.h"

namespace {

using e00test::Lines;

class CVtE00Test : public ::testing::Test {
 protected:
  void SetUp() override {
    CPLPushErrorHandler(CPLQuietErrorHandler);
    VtGetErrorMsgObj()->Clear();
  }
  void TearDown() override { CPLPopErrorHandler(); }

  std::string Write(const std::string& name, const Lines& lines, CVtE00::E00CompreeLevel level) {
    CVtE00 e00;
    CString path(dir / name);
    EXPECT_TRUE(e00.Create(path, level));
    EXPECT_EQ(e00.IsCompressed(), level > 0 ? 1 : 0);
    for (const auto& line : lines) EXPECT_TRUE(e00.WriteNextLine(line.c_str())) << line;
    e00.Close();
    return dir.Get(name);
  }
  static Lines ReadAll(CVtE00& e00) {
    Lines lines;
    while (const char* line = e00.ReadNextLine()) lines.push_back(line);
    return lines;
  }
  ScratchDir dir;
};

TEST_F(CVtE00Test, WritesEachLevel) {
  const Lines plain = e00test::RealisticExport(11, 40);
  EXPECT_EQ(Write("none.e00", plain, CVtE00::E00ComprNone), e00test::Join(plain));

  const Lines full = e00test::Split(Write("full.e00", plain, CVtE00::E00ComprFull));
  ASSERT_GT(full.size(), 2u);
  EXPECT_EQ(full[0], "EXP  1 /USERS/GIS/DATA/ROADS/ROADS.E00");
  for (size_t i = 1; i < full.size(); ++i) {
    EXPECT_LE(full[i].size(), 80u);
    EXPECT_NE(full[i].back(), ' ');
    if (i + 1 < full.size()) {
      EXPECT_GE(full[i].size(), 70u) << "line " << i;
    }
  }
  EXPECT_EQ(full.back().substr(full.back().size() - 2), "~}");
  const Lines partial = e00test::Split(Write("partial.e00", plain, CVtE00::E00ComprPartial));
  EXPECT_GT(partial.size(), full.size());

  // Both read back to the plain lines; a header without " 0" goes out as it is.
  for (const char* name : {"full.e00", "partial.e00"}) {
    CVtE00 e00;
    CString path(dir / name);
    ASSERT_TRUE(e00.Open(path));
    EXPECT_TRUE(e00.IsCompressed());
    EXPECT_EQ(ReadAll(e00), plain) << name;
  }
  Lines odd = plain;
  odd[0] = "EXP1";
  EXPECT_EQ(e00test::Split(Write("odd.e00", odd, CVtE00::E00ComprFull))[0], "EXP1");
}

TEST_F(CVtE00Test, RefusesWhatDoesNotFitAndWritesAfterClose) {
  CVtE00 e00;
  CString path(dir / "long.e00");
  ASSERT_TRUE(e00.Create(path, CVtE00::E00ComprNone));
  EXPECT_TRUE(e00.WriteNextLine(std::string(255, 'x').c_str()));
  EXPECT_FALSE(e00.WriteNextLine(std::string(256, 'y').c_str()));
  EXPECT_TRUE(VtGetErrorMsgObj()->HasMessage());
  EXPECT_EQ(VtGetErrorMsgObj()->GetCode(), 0);
  EXPECT_NE(VtGetErrorMsgObj()->GetMessage().Find("too long"), -1);
  e00.Close();
  EXPECT_EQ(dir.Get("long.e00"), std::string(255, 'x') + "\n");

  // A compressed header that would not fit, and a data line that overflows.
  CString full(dir / "full.e00");
  ASSERT_TRUE(e00.Create(full, CVtE00::E00ComprFull));
  EXPECT_FALSE(e00.WriteNextLine(("EXP  0" + std::string(250, 'h')).c_str()));
  EXPECT_FALSE(e00.WriteNextLine(std::string(200, '~').c_str()));
  EXPECT_STREQ(VtGetErrorMsgObj()->GetMessage(), "Output buffer overflow!!!.");
  EXPECT_TRUE(e00.WriteNextLine("after"));
  e00.Close();
  EXPECT_EQ(dir.Get("full.e00"), "after~}\n");

  VtGetErrorMsgObj()->Clear();
  EXPECT_FALSE(e00.WriteNextLine("late"));
  EXPECT_STREQ(VtGetErrorMsgObj()->GetMessage(), "Invalid E00WritePtr handle!");
  CString unwritable(dir / "no/such/dir.e00");
  EXPECT_FALSE(e00.Create(unwritable, CVtE00::E00ComprFull));
  EXPECT_EQ(CPLGetLastErrorNo(), CPLE_OpenFailed);
}

TEST_F(CVtE00Test, ReadsASetOfVolumesAsOneStream) {
  // A compressed stream cut at physical lines into three volumes, in a
  // folder whose name holds a dot.
  ASSERT_EQ(::mkdir((dir / "maps.2024").c_str(), 0755), 0);
  const Lines plain = e00test::RealisticExport(21, 150);
  const Lines physical = e00test::Split(Write("whole.e00", plain, CVtE00::E00ComprFull));
  const size_t third = physical.size() / 3;
  dir.Put("maps.2024/roads.e00", e00test::Join(Lines(physical.begin(), physical.begin() + third)));
  dir.Put("maps.2024/roads.E01",
          e00test::Join(Lines(physical.begin() + third, physical.begin() + 2 * third)));
  dir.Put("maps.2024/ROADS.e02", e00test::Join(Lines(physical.begin() + 2 * third, physical.end())));
  const unsigned long total = dir.Get("whole.e00").size();

  CVtE00 e00;
  CString path(dir / "maps.2024/roads.e00");
  ASSERT_TRUE(e00.Open(path));
  EXPECT_EQ(e00.GetLength(), total);
  EXPECT_EQ(e00.GetVolumeCount(), 3);
  Lines lines;
  unsigned long last = 0;
  while (const char* line = e00.ReadNextLine()) {
    lines.push_back(line);
    const unsigned long position = e00.GetPosition();
    EXPECT_GE(position, last);
    last = position;
  }
  EXPECT_EQ(lines, plain);
  EXPECT_GT(last, total / 2);
  EXPECT_LE(last, total);
  EXPECT_FALSE(VtGetErrorMsgObj()->HasMessage());

  // Back to the start of the current (last) volume: its first line is
  // taken as a header.
  e00.SeekToBegin();
  const char* first = e00.ReadNextLine();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(std::string(first), physical[2 * third]);
  e00.Close();
  EXPECT_EQ(e00.GetLength(), 0u);
  e00.SeekToBegin();
  EXPECT_EQ(e00.ReadNextLine(), nullptr);
}

TEST_F(CVtE00Test, AOneLineFileKeepsItsOwnVolumes) {
  // An earlier set leaves its bookkeeping behind.
  dir.Put("big.e00", "EXP  0 big\nline\n");
  dir.Put("big.E01", "more of big\n");
  dir.Put("one.e00", "EXP  0 one\n");
  CVtE00 e00;
  CString big(dir / "big.e00"), one(dir / "one.e00");
  ASSERT_TRUE(e00.Open(big));
  EXPECT_EQ(e00.GetVolumeCount(), 2);
  ASSERT_TRUE(e00.Open(one));
  EXPECT_EQ(ReadAll(e00), (Lines{"EXP  0 one"}));

  // The one line may be followed by a volume of its own.
  dir.Put("one.E01", "next\n");
  ASSERT_TRUE(e00.Open(one));
  EXPECT_EQ(e00.GetVolumeCount(), 2);
  EXPECT_EQ(ReadAll(e00), (Lines{"EXP  0 one", "next"}));
}

TEST_F(CVtE00Test, FailuresReachTheErrorMessageObject) {
  dir.Put("bad.e00", "NOT AN EXPORT\n");
  CVtE00 e00;
  CString bad(dir / "bad.e00"), missing(dir / "missing.e00");
  EXPECT_FALSE(e00.Open(bad));
  EXPECT_EQ(std::string(CPLGetLastErrorMsg()), dir / "bad.e00" + " is not a valid E00 file.");
  EXPECT_FALSE(VtGetErrorMsgObj()->HasMessage());
  EXPECT_FALSE(e00.Open(missing));
  EXPECT_EQ(CPLGetLastErrorNo(), CPLE_OpenFailed);
  EXPECT_FALSE(e00.IsOpen());

  // An unknown code ends the read with the message; later reads give null.
  dir.Put("corrupt.e00", "EXP  1\n" + std::string(74, 'a') + "~}b~\x05\nrest~}\n");
  CString corrupt(dir / "corrupt.e00");
  ASSERT_TRUE(e00.Open(corrupt));
  EXPECT_STREQ(e00.ReadNextLine(), "EXP  0");
  EXPECT_EQ(std::string(e00.ReadNextLine()), std::string(74, 'a'));
  EXPECT_EQ(e00.ReadNextLine(), nullptr);
  EXPECT_EQ(VtGetErrorMsgObj()->GetCode(), 0);
  EXPECT_NE(VtGetErrorMsgObj()->GetMessage().Find("Unexpected code"), -1);
  EXPECT_EQ(e00.ReadNextLine(), nullptr);

  // Every prefix of a compressed set ends, with or without an error.
  const std::string bytes = Write("whole.e00", e00test::RealisticExport(4, 15), CVtE00::E00ComprFull);
  for (size_t cut = 0; cut < bytes.size(); cut += 5) {
    dir.Put("t.e00", bytes.substr(0, cut));
    CString t(dir / "t.e00");
    if (!e00.Open(t)) continue;
    for (int guard = 0; e00.ReadNextLine(); ++guard) ASSERT_LT(guard, 10000);
  }
}

TEST_F(CVtE00Test, SeekMovesWithinTheCurrentVolume) {
  dir.Put("s.e00", "EXP  0\nfirst\nsecond\n");
  CVtE00 e00;
  CString s(dir / "s.e00");
  ASSERT_TRUE(e00.Open(s));
  e00.Seek(13, 0);
  EXPECT_STREQ(e00.ReadNextLine(), "second");
  e00.Seek(-13, 2);
  EXPECT_STREQ(e00.ReadNextLine(), "first");
  e00.Seek(1, 1);
  EXPECT_STREQ(e00.ReadNextLine(), "econd");
  EXPECT_EQ(e00.ReadNextLine(), nullptr);
}

TEST_F(CVtE00Test, ReadersOfDifferentSetsKeepTheirOwnVolumes) {
  // Two compressed sets of three and two volumes, read side by side.
  const Lines plainA = e00test::RealisticExport(51, 120, "A");
  const Lines plainB = e00test::RealisticExport(52, 40, "B");
  unsigned long lengths[2] = {0, 0};
  for (int s = 0; s < 2; ++s) {
    const Lines physical = e00test::Split(Write("whole.e00", s ? plainB : plainA, CVtE00::E00ComprFull));
    const int parts = s ? 2 : 3;
    const std::string base = s ? "b" : "a";
    for (int v = 0; v < parts; ++v) {
      const size_t from = physical.size() * v / parts, to = physical.size() * (v + 1) / parts;
      dir.Put(base + (v ? ".E0" + std::to_string(v) : ".e00"),
              e00test::Join(Lines(physical.begin() + static_cast<long>(from), physical.begin() + static_cast<long>(to))));
    }
    lengths[s] = dir.Get("whole.e00").size();
  }
  CVtE00 a, b;
  CString pathA(dir / "a.e00"), pathB(dir / "b.e00");
  ASSERT_TRUE(a.Open(pathA));
  ASSERT_TRUE(b.Open(pathB));
  EXPECT_EQ(a.GetLength(), lengths[0]);
  EXPECT_EQ(b.GetLength(), lengths[1]);
  EXPECT_EQ(a.GetVolumeCount(), 3);
  EXPECT_EQ(b.GetVolumeCount(), 2);
  Lines linesA, linesB;
  for (bool more = true; more;) {
    more = false;
    for (int turn = 0; turn < 3; ++turn) {
      if (const char* line = a.ReadNextLine()) {
        linesA.push_back(line);
        more = true;
      }
    }
    if (const char* line = b.ReadNextLine()) {
      linesB.push_back(line);
      more = true;
    }
  }
  EXPECT_EQ(linesA, plainA);
  EXPECT_EQ(linesB, plainB);
  EXPECT_FALSE(a.IsTruncated());
  EXPECT_FALSE(b.IsTruncated());
  // Closing one leaves the other's length alone.
  b.Close();
  EXPECT_EQ(a.GetLength(), lengths[0]);
}

}  // namespace
