// CFileE00: volumes read as files of their own, positions, failures.
#include "vector/e00/CFileE00.h"

#include <cpl_error.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "E00TestData.h"
#include "support/ScratchDir.h"
#include "vector/e00/CVtE00.h"

namespace {

using e00test::Lines;

class CFileE00Test : public ::testing::Test {
 protected:
  void SetUp() override { CPLPushErrorHandler(CPLQuietErrorHandler); }
  void TearDown() override { CPLPopErrorHandler(); }

  void WriteCompressed(const std::string& name, const Lines& lines) {
    CVtE00 e00;
    CString path(dir / name);
    ASSERT_TRUE(e00.Create(path, CVtE00::E00ComprFull));
    for (const auto& line : lines) ASSERT_TRUE(e00.WriteNextLine(line.c_str()));
  }
  static Lines ReadAll(CFileE00& file) {
    Lines lines;
    for (int guard = 0; guard < 1000000; ++guard) {
      const char* line = file.ReadNextLine();
      if (!line) break;
      lines.push_back(line);
    }
    return lines;
  }
  ScratchDir dir;
};

TEST_F(CFileE00Test, ReadsEachVolumeAsAFileOfItsOwn) {
  const Lines first = e00test::RealisticExport(1, 30, "A");
  const Lines second = {"EXP  0 /TMP/A.E01", "plain  second", "EOS"};
  WriteCompressed("a.E00", first);
  dir.Put("a.E01", e00test::Join(second));
  dir.Put("a.E03", "EXP  0 skipped: a.E02 is missing\n");

  CFileE00 file;
  ASSERT_TRUE(file.OpenForRead(CString(dir / "a.E00")));
  EXPECT_TRUE(file.IsCompressed());
  Lines expected = first;
  expected.insert(expected.end(), second.begin(), second.end());
  EXPECT_EQ(ReadAll(file), expected);
  EXPECT_EQ(file.ReadNextLine(), nullptr);
  EXPECT_EQ(file.GetFileHandle(), nullptr);
  EXPECT_EQ(file.IsCompressed(), 0);
  EXPECT_EQ(CPLGetLastErrorNo(), 0);

  // Volume 99 is the last; a name that ends in other characters is volume 0.
  dir.Put("b.E99", "EXP  0\nlast\n");
  dir.Put("b.E00", "EXP  0\nnot reached\n");
  ASSERT_TRUE(file.OpenForRead(CString(dir / "b.E99")));
  EXPECT_EQ(ReadAll(file), (Lines{"EXP  0", "last"}));
  dir.Put("x.txt", "EXP  0\none\n");
  dir.Put("x.t01", "EXP  0\ntwo\n");
  ASSERT_TRUE(file.OpenForRead(CString(dir / "x.txt")));
  EXPECT_EQ(ReadAll(file), (Lines{"EXP  0", "one", "EXP  0", "two"}));
  EXPECT_FALSE(file.OpenForRead(CString(dir / "missing.e00")));
}

TEST_F(CFileE00Test, CompressionTestLooksAtTheFirstLineThatCounts) {
  // 80 characters with a tilde right after the header: compressed, and
  // decoded as such.
  const std::string eighty = std::string(74, 'a') + "~ #b~}";
  dir.Put("c.e00", "EXP  1 /X/C.E00\n" + eighty + "\n");
  CFileE00 file;
  ASSERT_TRUE(file.OpenForRead(CString(dir / "c.e00")));
  EXPECT_TRUE(file.IsCompressed());
  EXPECT_EQ(ReadAll(file), (Lines{"EXP  0 /X/C.E00", std::string(74, 'a') + "   b"}));
  file.ReadClose();

  // Empty lines and lines that begin with a space are passed over.
  dir.Put("d.e00", "EXP  0\n\n " + eighty + "\nshort ~ line\n" + eighty + "\n");
  ASSERT_TRUE(file.OpenForRead(CString(dir / "d.e00")));
  EXPECT_FALSE(file.IsCompressed());
  file.ReadClose();
  dir.Put("e.e00", "EXP  0\n\n " + std::string(20, 'x') + "\n" + eighty + "\n");
  ASSERT_TRUE(file.OpenForRead(CString(dir / "e.e00")));
  EXPECT_TRUE(file.IsCompressed());
}

TEST_F(CFileE00Test, PositionsSurviveLineEndsAndVolumes) {
  // CR LF line ends and empty lines: the offset after a line is where the
  // next begins.
  dir.Put("p.e00", "EXP  0 /P\r\nfirst\r\n\r\n\nthird\r\n");
  dir.Put("p.e01", "EXP  0 /P1\nother\n");
  CFileE00 file;
  ASSERT_TRUE(file.OpenForRead(CString(dir / "p.e00")));
  EXPECT_STREQ(file.ReadNextLine(), "EXP  0 /P");
  CFileE00::CFilePosInfo afterHeader;
  file.GetPosInfo(afterHeader);
  EXPECT_EQ(afterHeader.m_nVolumeNo, 0);
  EXPECT_EQ(afterHeader.m_nByteOffset, 11);
  EXPECT_EQ(afterHeader.m_nLineCount, 1);
  EXPECT_STREQ(file.ReadNextLine(), "first");
  EXPECT_STREQ(file.ReadNextLine(), "");
  EXPECT_STREQ(file.ReadNextLine(), "");
  EXPECT_STREQ(file.ReadNextLine(), "third");
  EXPECT_EQ(file.GetLineNO(), 5u);
  EXPECT_STREQ(file.ReadNextLine(), "EXP  0 /P1");
  EXPECT_EQ(file.GetFileName(), CString(dir / "p.e01"));

  // Back into the first volume, from the second.
  ASSERT_TRUE(file.SeekPosition(afterHeader));
  EXPECT_EQ(file.GetFileName(), CString(dir / "p.e00"));
  EXPECT_EQ(file.GetLineNO(), 1u);
  EXPECT_STREQ(file.ReadNextLine(), "first");
  // A copy goes on from the same place on its own stream.
  CFileE00 copy(file);
  EXPECT_STREQ(copy.ReadNextLine(), "");
  EXPECT_STREQ(file.ReadNextLine(), "");
  copy = file;
  EXPECT_STREQ(copy.ReadNextLine(), "");
  EXPECT_STREQ(copy.ReadNextLine(), "third");
  EXPECT_STREQ(file.ReadNextLine(), "");

  // A volume that cannot be opened leaves the reader closed.
  CFileE00::CFilePosInfo missing = afterHeader;
  missing.m_nVolumeNo = 7;
  EXPECT_FALSE(file.SeekPosition(missing));
  EXPECT_EQ(file.ReadNextLine(), nullptr);
  EXPECT_FALSE(file.SeekPosition(afterHeader));
}

TEST_F(CFileE00Test, CorruptAndTruncatedVolumesEndWithoutACrash) {
  // An unknown code: the line so far is handed out, then the next volume.
  const std::string head = "EXP  1 /X\n" + std::string(70, 'a') + "~ #b~}cd~\x01\nef~}\n";
  dir.Put("u.e00", head);
  dir.Put("u.e01", "EXP  0\nnext volume\nEOS\n");
  CFileE00 file;
  ASSERT_TRUE(file.OpenForRead(CString(dir / "u.e00")));
  EXPECT_EQ(ReadAll(file),
            (Lines{"EXP  0 /X", std::string(70, 'a') + "   b", "cd", "EXP  0", "next volume", "EOS"}));
  EXPECT_EQ(CPLGetLastErrorNo(), CPLE_NotSupported);

  // Every prefix of a compressed file reads to its end.
  WriteCompressed("full.e00", e00test::RealisticExport(5, 12));
  const std::string bytes = dir.Get("full.e00");
  for (size_t cut = 0; cut < bytes.size(); cut += 7) {
    dir.Put("t.e00", bytes.substr(0, cut));
    if (!file.OpenForRead(CString(dir / "t.e00"))) continue;
    ReadAll(file);
    EXPECT_EQ(file.ReadNextLine(), nullptr);
    file.ReadClose();
  }
}

TEST_F(CFileE00Test, EveryPlaceInACompressedSetCanBeRestored) {
  // Logical lines start in the middle of physical ones; a place captured
  // before any line, in either volume, gives that line and the ones after.
  const Lines first = e00test::RealisticExport(41, 25, "A");
  const Lines second = e00test::RealisticExport(42, 10, "B");
  WriteCompressed("a.E00", first);
  WriteCompressed("a.E01", second);
  Lines all = first;
  all.insert(all.end(), second.begin(), second.end());

  CFileE00 file;
  ASSERT_TRUE(file.OpenForRead(CString(dir / "a.E00")));
  std::vector<CFileE00::CFilePosInfo> places;
  Lines lines;
  for (;;) {
    places.emplace_back();
    file.GetPosInfo(places.back());
    const char* line = file.ReadNextLine();
    if (!line) break;
    lines.push_back(line);
  }
  ASSERT_EQ(lines, all);

  CFileE00 again;
  ASSERT_TRUE(again.OpenForRead(CString(dir / "a.E00")));
  for (size_t i = 0; i < all.size(); ++i) {
    ASSERT_TRUE(again.SeekPosition(places[i])) << i;
    const char* line = again.ReadNextLine();
    ASSERT_NE(line, nullptr) << i;
    ASSERT_EQ(std::string(line), all[i]) << i;
    if (i + 1 < all.size()) {
      line = again.ReadNextLine();
      ASSERT_NE(line, nullptr) << i;
      ASSERT_EQ(std::string(line), all[i + 1]) << i;
    }
    // A place captured after a restore is the same place.
    CFileE00::CFilePosInfo here;
    again.GetPosInfo(here);
    if (i + 2 < all.size()) {
      EXPECT_EQ(here.m_nVolumeNo, places[i + 2].m_nVolumeNo);
      EXPECT_EQ(here.m_nByteOffset, places[i + 2].m_nByteOffset);
      EXPECT_EQ(here.m_nLineCount, places[i + 2].m_nLineCount);
    }
  }
}

TEST_F(CFileE00Test, APlaceAfterAFailedVolumeIsTheNextVolume) {
  // Decoding fails in the first volume (a line of over 80 characters); the
  // next line read is then the second volume's first, and a place captured
  // in between leads there. (Found by the fuzzer.)
  dir.Put("f.e00", "EXP  1 /F\n" + std::string(60, 'a') + "~ #b" + std::string(20, 'c') + "~}rest~}\n");
  dir.Put("f.E01", "EXP  0 /F1\nsecond\nEOS\n");
  CFileE00 file;
  ASSERT_TRUE(file.OpenForRead(CString(dir / "f.e00")));
  std::vector<CFileE00::CFilePosInfo> places;
  Lines lines;
  for (;;) {
    places.emplace_back();
    file.GetPosInfo(places.back());
    const char* line = file.ReadNextLine();
    if (!line) break;
    lines.push_back(line);
  }
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0], "EXP  0 /F");
  EXPECT_EQ(lines[2], "EXP  0 /F1");
  EXPECT_EQ(places[2].m_nVolumeNo, 1);
  EXPECT_EQ(file.GetLineNO(), 3u);
  CFileE00 again;
  ASSERT_TRUE(again.OpenForRead(CString(dir / "f.e00")));
  for (size_t i = lines.size(); i-- > 0;) {
    ASSERT_TRUE(again.SeekPosition(places[i])) << i;
    const char* line = again.ReadNextLine();
    ASSERT_NE(line, nullptr) << i;
    EXPECT_EQ(std::string(line), lines[i]) << i;
  }
}

}  // namespace
