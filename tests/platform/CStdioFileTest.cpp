#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/mfc/CStdioFile.h"
#include "support/ScratchDir.h"

namespace {

std::vector<std::string> Lines(const ScratchDir& dir, const std::string& bytes) {
  dir.Put("text", bytes);
  CStdioFile file((dir / "text").c_str(), CFile::modeRead | CFile::typeText);
  std::vector<std::string> lines;
  CString line;
  while (file.ReadString(line)) lines.push_back(line.str());
  EXPECT_FALSE(file.ReadString(line));  // stays at the end
  EXPECT_TRUE(line.IsEmpty());
  return lines;
}

// fgets-style reads with a buffer of max chars, until nullptr.
std::vector<std::string> Chunks(const ScratchDir& dir, const std::string& bytes, UINT max) {
  dir.Put("text", bytes);
  CStdioFile file((dir / "text").c_str(), CFile::modeRead);
  std::vector<std::string> chunks;
  std::vector<char> buf(max + 1, '#');
  while (char* got = file.ReadString(buf.data(), max)) {
    EXPECT_EQ(got, buf.data());
    chunks.emplace_back(got);
    EXPECT_LE(chunks.back().size(), max - 1);
  }
  return chunks;
}

using V = std::vector<std::string>;

}  // namespace

TEST(CStdioFileTest, ReadStringTakesWindowsAndUnixLineEnds) {
  ScratchDir dir;
  EXPECT_EQ(Lines(dir, "a\r\nb\nc\r\n"), (V{"a", "b", "c"}));
  EXPECT_EQ(Lines(dir, "\n\r\n\nx"), (V{"", "", "", "x"}));  // empty lines, no final line end
  EXPECT_EQ(Lines(dir, "last\r\n"), (V{"last"}));
  EXPECT_EQ(Lines(dir, ""), V{});
  // Only a CR right before the LF belongs to the line end.
  EXPECT_EQ(Lines(dir, "x\ry\r\n\r\r\nz\r"), (V{"x\ry", "\r", "z\r"}));
}

TEST(CStdioFileTest, ReadStringHandlesLongLinesAndEmbeddedNul) {
  ScratchDir dir;
  std::string longLine(100 * 1024 + 3, 'q');
  for (size_t i = 0; i < longLine.size(); i += 997) longLine[i] = static_cast<char>('a' + i % 26);
  const V lines = Lines(dir, longLine + "\r\nshort\n" + std::string("ab\0cd\r\n", 7) + "end");
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], longLine);
  EXPECT_EQ(lines[1], "short");
  EXPECT_EQ(lines[2], std::string("ab\0cd", 5));
  EXPECT_EQ(lines[3], "end");
}

TEST(CStdioFileTest, FgetsFormKeepsLfAndFoldsCrLfAtTheBufferEdge) {
  ScratchDir dir;
  EXPECT_EQ(Chunks(dir, "abc\r\nde\nf", 16), (V{"abc\n", "de\n", "f"}));
  // With max 4, the CR of "ab\r\n" is the last char that fits.
  EXPECT_EQ(Chunks(dir, "ab\r\ncd", 4), (V{"ab\n", "cd"}));
  // A line longer than the buffer comes in pieces; a lone CR stays.
  EXPECT_EQ(Chunks(dir, "abcdefg\r\nh\ri", 4), (V{"abc", "def", "g\n", "h\ri"}));
  // A lone CR as the last char that fits stays, and what followed it is not lost.
  EXPECT_EQ(Chunks(dir, "ab\rcd", 4), (V{"ab\r", "cd"}));
  EXPECT_EQ(Chunks(dir, "xy\r", 3), (V{"xy", "\r"}));
  EXPECT_EQ(Chunks(dir, "", 8), V{});
}

TEST(CStdioFileTest, ReadStringMixesWithBinaryReadsAndScanf) {
  ScratchDir dir;
  dir.Put("mixed", "header\r\n12 3.5\nXYZ");
  CStdioFile file((dir / "mixed").c_str(), CFile::modeRead);
  CString line;
  ASSERT_TRUE(file.ReadString(line));
  EXPECT_EQ(line, "header");
  EXPECT_EQ(file.GetPosition(), 8u);
  int i = 0;
  double d = 0;
  ASSERT_EQ(std::fscanf(file.m_pStream, "%d %lf\n", &i, &d), 2);
  EXPECT_EQ(i, 12);
  EXPECT_EQ(d, 3.5);
  char buf[8];
  EXPECT_EQ(file.Read(buf, sizeof buf), 3u);
  EXPECT_EQ(std::string(buf, 3), "XYZ");
  EXPECT_EQ(file.Read(buf, sizeof buf), 0u);
  EXPECT_EQ(file.Seek(-3, CFile::end), 15u);
  EXPECT_EQ(file.GetLength(), 18u);
  EXPECT_THROW(file.Duplicate(), CFileException);  // one stream per descriptor
}

TEST(CStdioFileTest, WritesGoOutUnchangedAndCountBeforeFlushing) {
  ScratchDir dir;
  const std::string path = dir / "out.txt";
  {
    CStdioFile file(path.c_str(), CFile::modeCreate | CFile::modeReadWrite);
    file.WriteString("one\ntwo\r\n");
    file.Write("3", 1);
    EXPECT_EQ(file.GetLength(), 10u);  // still in the stream buffer
    EXPECT_EQ(file.GetPosition(), 10u);
    file.SeekToBegin();
    CString line;
    ASSERT_TRUE(file.ReadString(line));
    EXPECT_EQ(line, "one");
    file.SetLength(7);
    file.Close();
    file.Close();
  }
  EXPECT_EQ(dir.Get("out.txt"), "one\ntwo");
  {
    CStdioFile file(path.c_str(), CFile::modeCreate | CFile::modeNoTruncate | CFile::modeWrite);
    file.SeekToEnd();
    file.WriteString("\nthree");
  }
  EXPECT_EQ(dir.Get("out.txt"), "one\ntwo\nthree");
  {
    // modeWrite on an existing file neither truncates nor appends.
    CStdioFile file(path.c_str(), CFile::modeWrite);
    file.WriteString("ONE");
  }
  EXPECT_EQ(dir.Get("out.txt"), "ONE\ntwo\nthree");
  { CStdioFile file(path.c_str(), CFile::modeCreate | CFile::modeWrite); }
  EXPECT_EQ(dir.Get("out.txt"), "");
}

TEST(CStdioFileTest, FailuresThrowWithTheirCause) {
  ScratchDir dir;
  dir.Put("ro", "data\n");
  CStdioFile reader((dir / "RO").c_str(), CFile::modeRead);  // found ignoring case
  EXPECT_EQ(reader.GetFileName(), "ro");
  try {
    reader.WriteString("x");
    reader.Flush();
    ADD_FAILURE() << "wrote to a read-only stream";
  } catch (const CFileException& e) {
    EXPECT_EQ(e.m_cause, CFileException::accessDenied);
  }
  CString line;
  EXPECT_TRUE(reader.ReadString(line));  // the stream still reads after the failure
  EXPECT_EQ(line, "data");

  CStdioFile closed;
  CFileException error;
  EXPECT_FALSE(closed.Open((dir / "missing").c_str(), CFile::modeRead, &error));
  EXPECT_EQ(error.m_cause, CFileException::fileNotFound);
  EXPECT_EQ(closed.m_pStream, nullptr);
  EXPECT_FALSE(closed.Open(dir.path().c_str(), CFile::modeRead, &error));
  EXPECT_EQ(error.m_cause, CFileException::accessDenied);
  try {
    closed.ReadString(line);
    ADD_FAILURE() << "read a closed file";
  } catch (const CFileException& e) {
    EXPECT_EQ(e.m_cause, CFileException::invalidFile);
  }
  EXPECT_FALSE(reader.Open((dir / "ro").c_str(), CFile::modeRead));  // already open

  CStdioFile full;
  if (!full.Open("/dev/full", CFile::modeWrite)) GTEST_SKIP() << "no /dev/full";
  full.WriteString("buffered");  // the error shows when the buffer goes out
  try {
    full.Flush();
    ADD_FAILURE() << "flushed to /dev/full";
  } catch (const CFileException& e) {
    EXPECT_EQ(e.m_cause, CFileException::diskFull);
  }
  full.Abort();
  EXPECT_EQ(full.m_pStream, nullptr);
}

TEST(CStdioFileTest, SeeksBeyondFourGigabytes) {
  ScratchDir dir;
  const ULONGLONG far = (4ull << 30) + 100;
  CStdioFile file((dir / "sparse.txt").c_str(), CFile::modeCreate | CFile::modeReadWrite);
  EXPECT_EQ(file.Seek(static_cast<LONGLONG>(far), CFile::begin), far);
  file.WriteString("far line\r\n");
  EXPECT_EQ(file.GetLength(), far + 10);
  EXPECT_EQ(file.Seek(static_cast<LONGLONG>(far), CFile::begin), far);
  CString line;
  ASSERT_TRUE(file.ReadString(line));
  EXPECT_EQ(line, "far line");
  EXPECT_FALSE(file.ReadString(line));
  try {
    file.Seek(-1, CFile::begin);
    ADD_FAILURE() << "seeked before the start";
  } catch (const CFileException& e) {
    EXPECT_EQ(e.m_cause, CFileException::badSeek);
  }
}
