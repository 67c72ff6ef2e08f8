#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include "platform/mfc/CFile.h"
#include "support/ScratchDir.h"

namespace {

std::string ReadAll(CFile& file) {
  std::string out(static_cast<size_t>(file.GetLength()), '\0');
  file.SeekToBegin();
  out.resize(file.Read(&out[0], static_cast<UINT>(out.size())));
  return out;
}

// Runs body, which must throw CFileException, and returns its cause.
template <class F>
int CauseOf(F body) {
  try {
    body();
  } catch (const CFileException& e) {
    return e.m_cause;
  }
  return -1;
}

}  // namespace

TEST(CFileTest, OpenFlagsControlCreationTruncationAndAccess) {
  ScratchDir dir;
  const std::string path = dir / "data.bin";
  {
    CFile out(path.c_str(), CFile::modeCreate | CFile::modeWrite);
    out.Write("hello world", 11);
  }
  EXPECT_EQ(dir.Get("data.bin"), "hello world");

  {
    CFile in(path.c_str(), CFile::modeRead | CFile::shareDenyWrite);
    EXPECT_EQ(CauseOf([&] { in.Write("x", 1); }), CFileException::accessDenied);
    EXPECT_EQ(CauseOf([&] { in.SetLength(0); }), CFileException::accessDenied);
    EXPECT_EQ(ReadAll(in), "hello world");
  }
  {
    // Writing an existing file without modeCreate overwrites in place.
    CFile out(path.c_str(), CFile::modeWrite);
    EXPECT_EQ(out.GetLength(), 11u);
    out.Write("J", 1);
    char c;
    EXPECT_EQ(CauseOf([&] { out.Read(&c, 1); }), CFileException::accessDenied);
  }
  EXPECT_EQ(dir.Get("data.bin"), "Jello world");
  {
    CFile keep(path.c_str(), CFile::modeCreate | CFile::modeNoTruncate | CFile::modeReadWrite);
    EXPECT_EQ(keep.GetPosition(), 0u);
    EXPECT_EQ(ReadAll(keep), "Jello world");
    keep.SeekToEnd();
    keep.Write("!", 1);
  }
  EXPECT_EQ(dir.Get("data.bin"), "Jello world!");
  {
    CFile fresh(path.c_str(), CFile::modeCreate | CFile::modeReadWrite);
    EXPECT_EQ(fresh.GetLength(), 0u);
  }
  EXPECT_EQ(dir.Get("data.bin"), "");
  {
    // modeCreate | modeNoTruncate also creates a missing file.
    CFile made((dir / "new.bin").c_str(), CFile::modeCreate | CFile::modeNoTruncate | CFile::modeWrite);
    EXPECT_TRUE(dir.Exists("new.bin"));
  }
}

TEST(CFileTest, FailedOpenFillsTheRecordAndLeavesTheFileClosed) {
  ScratchDir dir;
  const std::string missing = dir / "missing.ifo";
  CFile file;
  CFileException error;
  EXPECT_FALSE(file.Open(missing.c_str(), CFile::modeRead, &error));
  EXPECT_EQ(error.m_cause, CFileException::fileNotFound);
  EXPECT_EQ(error.m_lOsError, ENOENT);
  EXPECT_EQ(error.m_strFileName, missing.c_str());
  EXPECT_EQ(file.m_hFile, CFile::hFileNull);
  EXPECT_TRUE(file.GetFilePath().IsEmpty());
  EXPECT_EQ(CauseOf([&] {
              char c;
              file.Read(&c, 1);
            }),
            CFileException::invalidFile);
  file.Close();  // closing a closed file does nothing
  file.Abort();

  // Without modeCreate, writing needs an existing file too; no record is fine.
  EXPECT_FALSE(file.Open(missing.c_str(), CFile::modeWrite));
  EXPECT_FALSE(dir.Exists("missing.ifo"));

  // A regular file used as a directory is a bad path.
  dir.Put("plain", "x");
  EXPECT_FALSE(file.Open((dir / "plain/child").c_str(), CFile::modeRead, &error));
  EXPECT_EQ(error.m_cause, CFileException::badPath);

  // The throwing constructor reports the same record.
  try {
    CFile thrown(missing.c_str(), CFile::modeRead);
    ADD_FAILURE() << "opened a missing file";
  } catch (const CFileException& e) {
    EXPECT_EQ(e.m_cause, CFileException::fileNotFound);
    EXPECT_NE(std::strstr(e.what(), "missing.ifo"), nullptr) << e.what();
    EXPECT_NE(std::strstr(e.what(), std::strerror(ENOENT)), nullptr) << e.what();
  }
}

TEST(CFileTest, DirectoriesAndSecondOpensAreRefused) {
  ScratchDir dir;
  CFile file;
  CFileException error;
  EXPECT_FALSE(file.Open(dir.path().c_str(), CFile::modeRead, &error));
  EXPECT_EQ(error.m_cause, CFileException::accessDenied);
  EXPECT_EQ(file.m_hFile, CFile::hFileNull);
  EXPECT_FALSE(file.Open(dir.path().c_str(), CFile::modeCreate | CFile::modeWrite, &error));
  EXPECT_EQ(error.m_cause, CFileException::accessDenied);

  dir.Put("a", "first");
  dir.Put("b", "second");
  ASSERT_TRUE(file.Open((dir / "a").c_str(), CFile::modeRead));
  EXPECT_FALSE(file.Open((dir / "b").c_str(), CFile::modeRead));
  EXPECT_EQ(file.GetFileName(), "a");
  EXPECT_EQ(ReadAll(file), "first");
}

TEST(CFileTest, NamesResolveIgnoringCaseUnlessCreatedAfresh) {
  ScratchDir dir;
  dir.Put("dem.IFO", "ifo");
  CFile file;
  ASSERT_TRUE(file.Open((dir / "dem.ifo").c_str(), CFile::modeRead));
  EXPECT_EQ(file.GetFilePath(), (dir / "dem.IFO").c_str());
  EXPECT_EQ(file.GetFileName(), "dem.IFO");
  EXPECT_EQ(file.GetFileTitle(), "dem");
  EXPECT_EQ(ReadAll(file), "ifo");
  file.Close();

  // Open-or-create finds the existing variant instead of making a second file.
  ASSERT_TRUE(
      file.Open((dir / "DEM.ifo").c_str(), CFile::modeCreate | CFile::modeNoTruncate | CFile::modeReadWrite));
  EXPECT_EQ(ReadAll(file), "ifo");
  file.Close();
  EXPECT_FALSE(dir.Exists("DEM.ifo"));

  // A plain create makes exactly the name asked for and leaves the variant.
  ASSERT_TRUE(file.Open((dir / "DEM.ifo").c_str(), CFile::modeCreate | CFile::modeWrite));
  file.Write("new", 3);
  file.Close();
  EXPECT_EQ(dir.Get("DEM.ifo"), "new");
  EXPECT_EQ(dir.Get("dem.IFO"), "ifo");

  // The exact name wins; a third spelling is ambiguous and not found.
  ASSERT_TRUE(file.Open((dir / "dem.IFO").c_str(), CFile::modeRead));
  EXPECT_EQ(ReadAll(file), "ifo");
  file.Close();
  CFileException error;
  EXPECT_FALSE(file.Open((dir / "dem.ifo").c_str(), CFile::modeRead, &error));
  EXPECT_EQ(error.m_cause, CFileException::fileNotFound);
}

TEST(CFileTest, ReadSeekAndLength) {
  ScratchDir dir;
  dir.Put("f", "0123456789");
  CFile file((dir / "f").c_str(), CFile::modeReadWrite);
  char buf[16] = {};
  EXPECT_EQ(file.Read(buf, 4), 4u);
  EXPECT_EQ(std::string(buf, 4), "0123");
  EXPECT_EQ(file.Seek(-2, CFile::end), 8u);
  EXPECT_EQ(file.Read(buf, sizeof buf), 2u);  // short read at the end
  EXPECT_EQ(std::string(buf, 2), "89");
  EXPECT_EQ(file.Read(buf, sizeof buf), 0u);  // at the end: 0, no throw
  EXPECT_EQ(file.Seek(-3, CFile::current), 7u);

  // A seek before the start fails and leaves the position alone.
  EXPECT_EQ(CauseOf([&] { file.Seek(-1, CFile::begin); }), CFileException::badSeek);
  EXPECT_EQ(CauseOf([&] { file.Seek(-20, CFile::current); }), CFileException::badSeek);
  EXPECT_EQ(file.GetPosition(), 7u);

  file.SetLength(4);
  EXPECT_EQ(file.GetLength(), 4u);
  file.SetLength(6);  // grows with zero bytes
  EXPECT_EQ(ReadAll(file), std::string("0123\0\0", 6));
  EXPECT_EQ(file.SeekToEnd(), 6u);
}

TEST(CFileTest, OffsetsBeyondFourGigabytes) {
  ScratchDir dir;
  const ULONGLONG far = (5ull << 30) + 7;  // 5 GiB + 7: needs 64-bit offsets
  CFile file((dir / "sparse").c_str(), CFile::modeCreate | CFile::modeReadWrite);
  EXPECT_EQ(file.Seek(static_cast<LONGLONG>(far), CFile::begin), far);
  file.Write("tail", 4);
  EXPECT_EQ(file.GetLength(), far + 4);
  EXPECT_EQ(file.GetPosition(), far + 4);
  EXPECT_EQ(file.Seek(-4, CFile::end), far);
  char buf[4];
  EXPECT_EQ(file.Read(buf, 4), 4u);
  EXPECT_EQ(std::string(buf, 4), "tail");
  file.SetLength(far - 1);
  EXPECT_EQ(file.GetLength(), far - 1);
  EXPECT_EQ(file.Seek(0, CFile::current), far + 4);  // position past the end stays
}

TEST(CFileTest, DuplicateSharesThePositionAndClosesSeparately) {
  ScratchDir dir;
  dir.Put("f", "abcdef");
  CFile file((dir / "f").c_str(), CFile::modeRead);
  char c;
  file.Read(&c, 1);
  std::unique_ptr<CFile> copy(file.Duplicate());
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->GetFilePath(), file.GetFilePath());
  ASSERT_EQ(copy->Read(&c, 1), 1u);
  EXPECT_EQ(c, 'b');
  copy->Close();
  ASSERT_EQ(file.Read(&c, 1), 1u);
  EXPECT_EQ(c, 'c');
}

TEST(CFileTest, FullDiskIsReported) {
  CFile full;
  if (!full.Open("/dev/full", CFile::modeWrite)) GTEST_SKIP() << "no /dev/full";
  try {
    full.Write("x", 1);
    ADD_FAILURE() << "write to /dev/full succeeded";
  } catch (const CFileException& e) {
    EXPECT_EQ(e.m_cause, CFileException::diskFull);
    EXPECT_EQ(e.m_lOsError, ENOSPC);
    EXPECT_EQ(e.m_strFileName, "/dev/full");
  }
}

TEST(CFileTest, LockedRangesConflictBetweenHandles) {
  ScratchDir dir;
  dir.Put("f", std::string(100, 'x'));
  CFile a((dir / "f").c_str(), CFile::modeReadWrite | CFile::shareDenyNone);
  CFile b((dir / "f").c_str(), CFile::modeReadWrite | CFile::shareDenyNone);
  a.LockRange(10, 20);
  EXPECT_EQ(CauseOf([&] { b.LockRange(25, 10); }), CFileException::lockViolation);
  b.LockRange(30, 10);  // touches, does not overlap
  a.UnlockRange(10, 20);
  b.LockRange(10, 20);
  // Closing the other handle must not drop b's locks.
  a.Close();
  CFile c((dir / "f").c_str(), CFile::modeRead);
  EXPECT_EQ(CauseOf([&] { c.LockRange(15, 1); }), CFileException::lockViolation);
}

TEST(CFileTest, ExceptionTextNamesFileAndReason) {
  CFileException e(CFileException::accessDenied, EACCES, "/data/dem.ifo");
  const std::string what = e.what();
  EXPECT_NE(what.find("/data/dem.ifo"), std::string::npos) << what;
  EXPECT_NE(what.find(std::strerror(EACCES)), std::string::npos) << what;

  char small[8];
  UINT help = 99;
  EXPECT_TRUE(e.GetErrorMessage(small, sizeof small, &help));
  EXPECT_EQ(std::strlen(small), sizeof small - 1);
  EXPECT_EQ(what.compare(0, sizeof small - 1, small), 0);
  EXPECT_EQ(help, 0u);

  // The text follows the public members, which callers may set after the fact.
  e.m_strFileName = "other.hdr";
  e.m_lOsError = -1;
  EXPECT_NE(std::string(e.what()).find("other.hdr"), std::string::npos);

  EXPECT_EQ(CFileException::OsErrorToException(ENOENT), CFileException::fileNotFound);
  EXPECT_EQ(CFileException::OsErrorToException(ENAMETOOLONG), CFileException::badPath);
  EXPECT_EQ(CFileException::OsErrorToException(EROFS), CFileException::accessDenied);
  EXPECT_EQ(CFileException::OsErrorToException(EDQUOT), CFileException::diskFull);
  EXPECT_EQ(CFileException::OsErrorToException(EIO), CFileException::hardIO);
  EXPECT_EQ(CFileException::OsErrorToException(EXDEV), CFileException::genericException);

  EXPECT_EQ(CauseOf([&] { CFileException::ThrowOsError(EMFILE, "x"); }), CFileException::tooManyOpenFiles);
}

TEST(CFileTest, StatusRenameAndRemove) {
  ScratchDir dir;
  dir.Put("Grid.HDR", "12345");
  const struct timespec times[2] = {{1000000000, 0}, {1234567890, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, (dir / "Grid.HDR").c_str(), times, 0), 0);
  CFileStatus status;
  ASSERT_TRUE(CFile::GetStatus((dir / "grid.hdr").c_str(), status));
  EXPECT_EQ(status.m_size, 5u);
  EXPECT_EQ(status.m_atime.GetTime(), 1000000000);
  EXPECT_EQ(status.m_mtime.GetTime(), 1234567890);
  EXPECT_EQ(status.m_attribute & CFile::directory, 0);
  EXPECT_EQ(status.m_szFullName[0], '/');
  EXPECT_NE(std::strstr(status.m_szFullName, "Grid.HDR"), nullptr);
  ASSERT_TRUE(CFile::GetStatus(dir.path().c_str(), status));
  EXPECT_NE(status.m_attribute & CFile::directory, 0);
  EXPECT_FALSE(CFile::GetStatus((dir / "none").c_str(), status));

  ASSERT_EQ(::chmod((dir / "Grid.HDR").c_str(), 0444), 0);
  {
    CFile file((dir / "Grid.HDR").c_str(), CFile::modeRead);
    ASSERT_TRUE(file.GetStatus(status));
    EXPECT_NE(status.m_attribute & CFile::readOnly, 0);
  }

  CFile::Rename((dir / "grid.hdr").c_str(), (dir / "moved.hdr").c_str());
  EXPECT_FALSE(dir.Exists("Grid.HDR"));
  EXPECT_EQ(dir.Get("moved.hdr"), "12345");
  CFile::Remove((dir / "MOVED.HDR").c_str());
  EXPECT_FALSE(dir.Exists("moved.hdr"));
  EXPECT_EQ(CauseOf([&] { CFile::Remove((dir / "moved.hdr").c_str()); }), CFileException::fileNotFound);
}
