#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "platform/mfc/CFileFind.h"
#include "support/ScratchDir.h"

namespace {

// A directory with mixed-case names, a name without extension, a dot file
// and a subdirectory.
void Populate(const ScratchDir& dir) {
  dir.Put("a.txt", "aaa");
  dir.Put("B.TXT", "bb");
  dir.Put("c.dat", "c");
  dir.Put("noext", "");
  dir.Put(".hidden", "h");
  ASSERT_EQ(::mkdir((dir / "sub").c_str(), 0755), 0);
}

// Every name the search yields, with the MFC loop.
std::vector<std::string> Names(const char* pattern) {
  CFileFind finder;
  std::vector<std::string> names;
  BOOL more = finder.FindFile(pattern);
  while (more) {
    more = finder.FindNextFile();
    names.push_back(finder.GetFileName().str());
  }
  return names;
}

using V = std::vector<std::string>;

}  // namespace

TEST(CFileFindTest, WildcardsMatchIgnoringCaseInNameOrder) {
  ScratchDir dir;
  Populate(dir);
  EXPECT_EQ(Names((dir / "*.txt").c_str()), (V{"B.TXT", "a.txt"}));
  EXPECT_EQ(Names((dir / "?.TxT").c_str()), (V{"B.TXT", "a.txt"}));
  EXPECT_EQ(Names((dir / "*.*").c_str()),
            (V{".", "..", ".hidden", "B.TXT", "a.txt", "c.dat", "noext", "sub"}));
  EXPECT_EQ(Names((dir / "*").c_str()), Names((dir / "*.*").c_str()));
  EXPECT_EQ(Names((dir / "NOEXT.*").c_str()), V{"noext"});  // ".*" also matches no extension
  EXPECT_EQ(Names((dir / "*T").c_str()), (V{"B.TXT", "a.txt", "c.dat", "noext"}));
  EXPECT_EQ(Names((dir / "??.txt").c_str()), V{});
  EXPECT_EQ(Names((dir / "missing/*.*").c_str()), V{});
}

TEST(CFileFindTest, PlainNameFindsOneFileWhateverItsCase) {
  ScratchDir dir;
  Populate(dir);
  CFileFind finder;
  ASSERT_TRUE(finder.FindFile((dir / "A.TXT").c_str()));
  EXPECT_FALSE(finder.FindNextFile());
  EXPECT_EQ(finder.GetFileName(), "a.txt");
  EXPECT_EQ(finder.GetFileTitle(), "a");
  EXPECT_EQ(finder.GetRoot(), (dir.path() + "/").c_str());
  EXPECT_EQ(finder.GetFilePath(), (dir / "a.txt").c_str());
  EXPECT_EQ(finder.GetLength(), 3u);
  EXPECT_FALSE(finder.IsDirectory());

  ASSERT_TRUE(finder.FindFile((dir / "SUB").c_str()));
  finder.FindNextFile();
  EXPECT_TRUE(finder.IsDirectory());
  EXPECT_FALSE(finder.IsDots());
  EXPECT_EQ(finder.GetFileName(), "sub");

  EXPECT_FALSE(finder.FindFile((dir / "absent.txt").c_str()));
  EXPECT_FALSE(finder.FindNextFile());
  EXPECT_TRUE(finder.GetFileName().IsEmpty());
}

TEST(CFileFindTest, FindNextFileReportsTheLastMatch) {
  ScratchDir dir;
  Populate(dir);
  CFileFind finder;
  ASSERT_TRUE(finder.FindFile((dir / "*.txt").c_str()));
  EXPECT_TRUE(finder.GetFileName().IsEmpty());  // nothing current before the first step
  EXPECT_TRUE(finder.FindNextFile());           // at B.TXT, a.txt follows
  EXPECT_EQ(finder.GetFileName(), "B.TXT");
  EXPECT_EQ(finder.GetLength(), 2u);
  EXPECT_FALSE(finder.FindNextFile());  // at a.txt, the last one
  EXPECT_EQ(finder.GetFileName(), "a.txt");
  EXPECT_FALSE(finder.FindNextFile());  // past the end: the last match stays
  EXPECT_EQ(finder.GetFileName(), "a.txt");

  // A new search starts over; Close forgets everything.
  ASSERT_TRUE(finder.FindFile((dir / "*.*").c_str()));
  int dirs = 0, dots = 0;
  BOOL more = TRUE;
  while (more) {
    more = finder.FindNextFile();
    dots += finder.IsDots();
    dirs += finder.IsDirectory();
  }
  EXPECT_EQ(dots, 2);
  EXPECT_EQ(dirs, 3);  // ".", ".." and "sub"
  finder.Close();
  EXPECT_TRUE(finder.GetFilePath().IsEmpty());
  EXPECT_FALSE(finder.FindNextFile());
}

TEST(CFileFindTest, RelativePatternsSearchTheCurrentDirectory) {
  ScratchDir dir;
  Populate(dir);
  CurrentDir cd(dir.path());
  CFileFind finder;
  ASSERT_TRUE(finder.FindFile("*.DAT"));
  finder.FindNextFile();
  EXPECT_EQ(finder.GetFilePath(), "c.dat");
  EXPECT_TRUE(finder.GetRoot().IsEmpty());
  EXPECT_EQ(Names(nullptr).size(), 8u);  // the default pattern is "*.*"
  EXPECT_EQ(Names("sub/*.*"), (V{".", ".."}));
}

TEST(CFileFindTest, ManyStarsDoNotBacktrackExponentially) {
  ScratchDir dir;
  const std::string name(200, 'a');
  dir.Put(name, "");
  dir.Put(name + "b", "");
  // Each '*' may start anywhere; a naive matcher takes ages on this.
  EXPECT_EQ(Names((dir / "*a*a*a*a*a*a*a*a*a*a*a*a*b").c_str()), V{name + "b"});
  EXPECT_EQ(Names((dir / "*A*A*A*A*A*A*A*A*A*A*A*A*C").c_str()), V{});
}
