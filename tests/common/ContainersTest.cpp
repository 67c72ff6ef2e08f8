// The exported arrays: growth, count-then-bytes archives laid out as MFC
// lays them out, damaged archives that claim more than they hold, property
// lists that read back in another process.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <type_traits>
#include <typeinfo>

#include "common/CVtGeoArrays.h"
#include "common/CVtGeoStyles.h"
#include "common/CVtObjProperties.h"
#include "platform/mfc/CMemFile.h"
#include "support/ScratchDir.h"

namespace {

template <class Array>
std::string Store(Array& array) {
  CMemFile file;
  {
    CArchive ar(&file, CArchive::store);
    array.Serialize(ar);
    ar.Close();
  }
  return std::string(reinterpret_cast<const char*>(file.GetData()), file.GetLength());
}

template <class Array>
void Load(Array& array, std::string bytes) {
  CMemFile file(reinterpret_cast<BYTE*>(&bytes[0]), static_cast<UINT>(bytes.size()));
  CArchive ar(&file, CArchive::load);
  array.Serialize(ar);
}

// The cause of the CArchiveException that loading `bytes` throws, or -1.
template <class Array>
int LoadFailure(const std::string& bytes) {
  Array array;
  try {
    Load(array, bytes);
  } catch (const CArchiveException& e) {
    return e.m_cause;
  }
  return -1;
}

std::string Count(DWORD_PTR n) {
  CMemFile file;
  CArchive ar(&file, CArchive::store);
  ar.WriteCount(n);
  ar.Close();
  return std::string(reinterpret_cast<const char*>(file.GetData()), file.GetLength());
}

template <class T>
class ByteArrays : public ::testing::Test {};
using ByteArrayTypes = ::testing::Types<CPoint2Ds, CPoint3Ds, CPoints, CRect2Ds, CRects, CVtGeoStyles, CVtByteArrayEx>;
TYPED_TEST_SUITE(ByteArrays, ByteArrayTypes);

// Growth is CArray's own (tested there); what the arrays add is storage.
TYPED_TEST(ByteArrays, StoreCountThenBytesAndLoadThemBack) {
  using Element = std::remove_reference_t<decltype(std::declval<TypeParam&>()[0])>;
  for (int n : {0, 3, 0xFFFE, 0xFFFF, 70000}) {
    TypeParam stored;
    stored.SetSize(n);
    for (int i = 0; i < n; ++i)
      for (size_t k = 0; k < sizeof(Element); ++k)
        reinterpret_cast<BYTE*>(&stored[i])[k] = static_cast<BYTE>(i * 7 + k * 13 + 1);
    const std::string bytes = Store(stored);
    const std::string prefix = Count(static_cast<DWORD_PTR>(n));
    EXPECT_EQ(prefix.size(), n < 0xFFFF ? 2u : 6u);
    ASSERT_EQ(bytes.size(), prefix.size() + n * sizeof(Element)) << n;
    EXPECT_EQ(bytes.substr(0, prefix.size()), prefix);
    EXPECT_TRUE(n == 0 || std::memcmp(bytes.data() + prefix.size(), stored.GetData(), n * sizeof(Element)) == 0);
    TypeParam loaded;
    loaded.SetSize(5);
    Load(loaded, bytes);
    ASSERT_EQ(loaded.GetSize(), n);
    EXPECT_TRUE(n == 0 || std::memcmp(loaded.GetData(), stored.GetData(), n * sizeof(Element)) == 0);
  }
}

// A count the data cannot hold fails before anything is allocated; so does
// one beyond an int.
TYPED_TEST(ByteArrays, CountsBeyondTheDataFail) {
  EXPECT_EQ(LoadFailure<TypeParam>(Count(0x7FFFFFFF)), CArchiveException::endOfFile);
  EXPECT_EQ(LoadFailure<TypeParam>(Count(2) + "x"), CArchiveException::endOfFile);
  EXPECT_EQ(LoadFailure<TypeParam>(Count(0x80000000u)), CArchiveException::badIndex);
  EXPECT_EQ(LoadFailure<TypeParam>(std::string("\xFF\xFF\x01", 3)), CArchiveException::endOfFile);
}

// A pipe cannot tell its length: the array grows only as bytes arrive.
TEST(ContainersTest, ACountReadFromAPipeGrowsOnlyAsDataArrives) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const std::string bytes = Count(0x7FFFFFFF) + std::string(100, '\1');
  ASSERT_EQ(::write(fds[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  ::close(fds[1]);
  CFile pipe;
  pipe.m_hFile = fds[0];
  pipe.m_bCloseOnDelete = TRUE;
  CRect2Ds rects;
  CArchive ar(&pipe, CArchive::load);
  try {
    rects.Serialize(ar);
    FAIL() << "loaded";
  } catch (const CArchiveException& e) {
    EXPECT_EQ(e.m_cause, CArchiveException::endOfFile);
  }
  EXPECT_LE(rects.GetAllocSize(), (1 << 20) / 32 + 1);
  ar.Abort();
}

CVtObjProperties SampleProperties() {
  CVtObjProperties list;
  const std::string texts[] = {"", "name", "\xB5\xD8\xCD\xBC", std::string("a\0b", 3), std::string(254, 'x'),
                               std::string(255, 'y'), std::string(0xFFFD, 'z'), std::string(0xFFFE, 'w'),
                               std::string(70000, 'v')};
  short i = 0;
  for (const std::string& text : texts) {
    CVtObjProperty p;
    p.m_nID = static_cast<short>(i * 1000 - 1);
    p.m_nType = static_cast<short>(-i);
    p.m_strName = CString(text);
    p.m_strValue = CString(texts[8 - i]);
    list.Add(p);
    ++i;
  }
  return list;
}

// The stored list carries its strings' text: another process (this test
// program run again) reads it back whole.
TEST(ContainersTest, AStoredPropertyListReadsBackInAnotherProcess) {
  if (const char* path = std::getenv("VTFMT_STORED_PROPERTIES")) {
    CFile file(path, CFile::modeRead);
    CArchive ar(&file, CArchive::load);
    CVtObjProperties list;
    list.Serialize(ar);
    const CVtObjProperties expected = SampleProperties();
    ASSERT_EQ(list.GetSize(), expected.GetSize());
    for (int i = 0; i < list.GetSize(); ++i) EXPECT_TRUE(list[i] == expected[i]) << i;
    return;
  }
  ScratchDir dir;
  {
    CVtObjProperties list = SampleProperties();
    CFile file((dir / "list").c_str(), CFile::modeCreate | CFile::modeWrite);
    CArchive ar(&file, CArchive::store);
    list.Serialize(ar);
    ar.Close();
  }
  char self[4096];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  ASSERT_GT(n, 0);
  const std::string command = "VTFMT_STORED_PROPERTIES='" + (dir / "list") + "' '" +
                              std::string(self, static_cast<size_t>(n)) +
                              "' --gtest_filter=ContainersTest.AStoredPropertyListReadsBackInAnotherProcess >'" +
                              (dir / "log") + "' 2>&1";
  EXPECT_EQ(std::system(command.c_str()), 0) << dir.Get("log");
  EXPECT_NE(dir.Get("log").find("[  PASSED  ] 1 test."), std::string::npos) << dir.Get("log");
  // Damaged copies fail cleanly.
  const std::string bytes = dir.Get("list");
  for (size_t cut : {size_t{1}, size_t{3}, size_t{7}, bytes.size() / 2, bytes.size() - 1})
    EXPECT_EQ(LoadFailure<CVtObjProperties>(bytes.substr(0, cut)), CArchiveException::endOfFile) << cut;
  EXPECT_EQ(LoadFailure<CVtObjProperties>(Count(1) + std::string("\0\0\0\0\xFF\xFE\xFF", 7)),
            CArchiveException::badSchema);
}

// Added errors are constructed; their records hold the values only, so a
// record whose first bytes are anything at all loads and destroys safely.
TEST(ContainersTest, TransformErrorsStoreValuesNotTheirTablePointer) {
  CTransformErrors errors;
  errors.SetSize(3);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(errors[i].m_nPoint, -1);
  errors[1].m_nPoint = 7;
  errors[1].m_dErrorX = 0.25;
  errors[2].m_dError = -1e300;
  std::string bytes = Store(errors);
  ASSERT_EQ(bytes.size(), 2 + 3 * 32u);
  for (int i = 0; i < 3; ++i) std::memcpy(&bytes[2 + 32 * i], "\xEF\xBE\xAD\xDE", 4);
  CTransformErrors loaded;
  Load(loaded, bytes);
  ASSERT_EQ(loaded.GetSize(), 3);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(loaded[i] == errors[i]) << i;
  EXPECT_EQ(LoadFailure<CTransformErrors>(Count(3) + std::string(95, '\0')), CArchiveException::endOfFile);
}

// A default property is (-1, 0, "", ""); copies, constructed or assigned,
// are equal and keep their own strings when the original changes.
TEST(ContainersTest, APropertyDefaultsAndCopiesIndependently) {
  const CVtObjProperty fresh;
  EXPECT_EQ(fresh.m_nID, -1);
  EXPECT_EQ(fresh.m_nType, 0);
  EXPECT_TRUE(fresh.m_strName.IsEmpty());
  EXPECT_TRUE(fresh.m_strValue.IsEmpty());
  CVtObjProperty original;
  original.m_nID = 12;
  original.m_nType = -3;
  original.m_strName = "name";
  original.m_strValue = "value";
  CVtObjProperty constructed(original);
  CVtObjProperty assigned;
  assigned = original;
  CVtObjProperties list;
  list.Add(original);
  original.m_strName += "-changed";
  original.m_strValue.Empty();
  for (const CVtObjProperty* copy : {&constructed, &assigned, &list[0]}) {
    EXPECT_EQ(copy->m_nID, 12);
    EXPECT_EQ(copy->m_nType, -3);
    EXPECT_EQ(copy->m_strName.str(), "name");
    EXPECT_EQ(copy->m_strValue.str(), "value");
  }
  EXPECT_EQ(original.m_strName.str(), "name-changed");
}

// An element with a virtual destructor, as a transform error has, that
// counts how many of its kind are alive and how many destructors ran.
struct CountedElement {
  static int alive;
  static int destroyed;
  CountedElement() { ++alive; }
  CountedElement(const CountedElement&) { ++alive; }
  CountedElement(CountedElement&&) noexcept { ++alive; }
  CountedElement& operator=(const CountedElement&) = default;
  virtual ~CountedElement() {
    --alive;
    ++destroyed;
  }
  LONG point = -1;
};
int CountedElement::alive = 0;
int CountedElement::destroyed = 0;

// Transform-error lists are arrays of such elements: growing constructs each
// added element (and keeps the others), shrinking and destroying the list
// run one destructor per element in use, whatever the capacity.
TEST(ContainersTest, TransformErrorListsConstructAndDestroyEachElementOnce) {
  static_assert(std::is_base_of_v<CArray<CTransformError>, CTransformErrors>);
  static_assert(std::has_virtual_destructor_v<CTransformError>);
  {
    CTransformErrors errors;
    for (int n : {1, 5, 6, 40, 41, 300}) {
      errors.SetSize(n);
      errors[0].m_nPoint = 99;
      for (int i = 1; i < n; ++i) EXPECT_EQ(errors[i].m_nPoint, -1) << n << "/" << i;
      for (int i = 0; i < n; ++i) EXPECT_TRUE(typeid(errors[i]) == typeid(CTransformError));
      errors.SetSize(n - 1);
      errors.SetSize(n);
      EXPECT_EQ(errors[n - 1].m_nPoint, -1);
    }
  }
  CountedElement::alive = CountedElement::destroyed = 0;
  {
    CArray<CountedElement> errors;
    errors.SetSize(3);
    EXPECT_EQ(CountedElement::alive, 3);
    errors.SetSize(50);  // grows the block: the moved-from elements end with it
    EXPECT_EQ(CountedElement::alive, 50);
    CountedElement::destroyed = 0;
    errors.SetSize(20);
    EXPECT_EQ(CountedElement::destroyed, 30);
    EXPECT_GE(errors.GetAllocSize(), 50);
    CountedElement::destroyed = 0;
  }
  EXPECT_EQ(CountedElement::destroyed, 20);
  EXPECT_EQ(CountedElement::alive, 0);
}

}  // namespace
