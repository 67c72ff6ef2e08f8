// CArchive lays counts, strings and values out as MFC does, reads them back
// across its buffer's edges and reports data that ends early.
#include "platform/mfc/CArchive.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/mfc/CMemFile.h"
#include "support/ScratchDir.h"

namespace {

template <class Put>
std::string Stored(Put put) {
  CMemFile file;
  CArchive ar(&file, CArchive::store, 128);
  put(ar);
  ar.Close();
  return std::string(reinterpret_cast<const char*>(file.GetData()), file.GetLength());
}

TEST(CArchiveTest, CountAndStringPrefixesAreMfcs) {
  const std::pair<DWORD_PTR, std::string> counts[] = {
      {0, std::string("\0\0", 2)},
      {0xFFFE, "\xFE\xFF"},
      {0xFFFF, std::string("\xFF\xFF\xFF\xFF\0\0", 6)},
      {0xFFFFFFFFu, std::string("\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\0\0\0\0", 14)},
  };
  for (const auto& c : counts) {
    const std::string bytes = Stored([&](CArchive& ar) { ar.WriteCount(c.first); });
    EXPECT_EQ(bytes, c.second) << c.first;
    std::string copy = bytes;
    CMemFile file(reinterpret_cast<BYTE*>(&copy[0]), static_cast<UINT>(copy.size()));
    CArchive ar(&file, CArchive::load);
    EXPECT_EQ(ar.ReadCount(), c.first);
  }
  const std::pair<int, std::string> strings[] = {
      {0, std::string("\0", 1)},
      {254, "\xFE"},
      {255, std::string("\xFF\xFF\0", 3)},
      {0xFFFD, "\xFF\xFD\xFF"},
      {0xFFFE, std::string("\xFF\xFF\xFF\xFE\xFF\0\0", 7)},
  };
  for (const auto& s : strings) {
    const std::string bytes = Stored([&](CArchive& ar) { ar << CString(std::string(s.first, 'a')); });
    EXPECT_EQ(bytes.substr(0, s.second.size()), s.second) << s.first;
    EXPECT_EQ(bytes.size(), s.second.size() + s.first);
  }
}

TEST(CArchiveTest, ValuesReadBackFromADiskFileAcrossTheBuffersEdges) {
  ScratchDir dir;
  const std::string path = dir / "archive";
  {
    CFile file(path.c_str(), CFile::modeCreate | CFile::modeWrite);
    CArchive ar(&file, CArchive::store, 128);
    for (int i = 0; i < 100; ++i)
      ar << static_cast<BYTE>(i) << static_cast<short>(-i) << i * 1.5 << CString(std::string(i * 3, 'q'));
  }  // flushed by the destructor
  CFile file(path.c_str(), CFile::modeRead);
  CArchive ar(&file, CArchive::load, 128);
  for (int i = 0; i < 100; ++i) {
    BYTE b = 0;
    short s = 0;
    double d = 0;
    CString text;
    ar >> b >> s >> d >> text;
    ASSERT_TRUE(b == i && s == -i && d == i * 1.5 && text == CString(std::string(i * 3, 'q'))) << i;
  }
  int beyond = 0;
  try {
    ar >> beyond;
    ADD_FAILURE() << "read past the end";
  } catch (const CArchiveException& e) {
    EXPECT_EQ(e.m_cause, CArchiveException::endOfFile);
    EXPECT_NE(std::string(e.what()).find("archive"), std::string::npos);
  }
  EXPECT_THROW(ar << 1, CArchiveException);
}

}  // namespace
