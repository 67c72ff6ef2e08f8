#include "platform/mfc/CArray.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/mfc/CString.h"

namespace {

// Exposes the protected storage fields.
template <class T, class A = const T&>
struct Probe : CArray<T, A> {
  T* Data() const { return this->m_pData; }
  int Size() const { return this->m_nSize; }
  int MaxSize() const { return this->m_nMaxSize; }
  int GrowBy() const { return this->m_nGrowBy; }
  bool FieldsInDeclaredOrder() const {
    auto at = [](const void* p) { return reinterpret_cast<uintptr_t>(p); };
    return at(&this->m_pData) < at(&this->m_nSize) &&
           at(&this->m_nSize) + sizeof(int) == at(&this->m_nMaxSize) &&
           at(&this->m_nMaxSize) + sizeof(int) == at(&this->m_nGrowBy);
  }
};

template <class Array>
int CapacityAfterAddingOneTo(int size) {
  Array a;
  a.SetSize(size);
  a.Add(1);
  EXPECT_EQ(a.GetSize(), size + 1);
  EXPECT_EQ(a[size], 1);
  return a.GetAllocSize();
}

TEST(CArrayTest, GrowthFollowsTheMfcPolicy) {
  Probe<int> a;
  EXPECT_TRUE(a.FieldsInDeclaredOrder());
  EXPECT_EQ(a.Data(), nullptr);
  EXPECT_EQ(a.Size(), 0);
  EXPECT_EQ(a.MaxSize(), 0);
  EXPECT_EQ(a.GrowBy(), 0);

  a.SetSize(1);  // first allocation is exact
  EXPECT_EQ(a.GetAllocSize(), 1);
  a.SetSize(2, 0);  // step: size / 8 raised to 4
  EXPECT_EQ(a.GetAllocSize(), 5);
  EXPECT_EQ(a.MaxSize(), 5);
  a.SetSize(0);
  EXPECT_EQ(a.Data(), nullptr);
  EXPECT_EQ(a.GetAllocSize(), 0);

  EXPECT_EQ(CapacityAfterAddingOneTo<CArray<int>>(100), 112);
  EXPECT_EQ(CapacityAfterAddingOneTo<CArray<int>>(40), 45);
  EXPECT_EQ(CapacityAfterAddingOneTo<CArray<int>>(10000), 11024);  // step capped at 1024
  EXPECT_EQ(CapacityAfterAddingOneTo<CByteArray>(100), 112);
  EXPECT_EQ(CapacityAfterAddingOneTo<CWordArray>(100), 112);
  EXPECT_EQ(CapacityAfterAddingOneTo<CDWordArray>(10000), 11024);

  // Adding one at a time from empty.
  CArray<int> b;
  std::vector<int> caps;
  for (int i = 0; i < 10; ++i) {
    b.Add(i);
    caps.push_back(b.GetAllocSize());
  }
  EXPECT_EQ(caps, (std::vector<int>{1, 5, 5, 5, 5, 9, 9, 9, 9, 13}));

  // An explicit step is stored before sizing and kept by later calls; a
  // request beyond capacity + step is met exactly.
  Probe<int> c;
  c.SetSize(1, 10);
  EXPECT_EQ(c.GrowBy(), 10);
  EXPECT_EQ(c.GetAllocSize(), 1);
  c.SetSize(2);
  EXPECT_EQ(c.GetAllocSize(), 11);
  c.SetSize(50);
  EXPECT_EQ(c.GetAllocSize(), 50);
  c.RemoveAll();
  EXPECT_EQ(c.GrowBy(), 10);
  EXPECT_EQ(c.Data(), nullptr);

  // FreeExtra trims the capacity and keeps the elements.
  CArray<int> d;
  d.SetSize(100);
  for (int i = 0; i < 100; ++i) d[i] = i;
  d.Add(100);
  d.FreeExtra();
  EXPECT_EQ(d.GetAllocSize(), 101);
  EXPECT_EQ(d[57], 57);
  d.RemoveAt(0, 101);
  d.FreeExtra();
  EXPECT_EQ(d.GetData(), nullptr);
}

struct Pod {
  int i;
  double d;
  char c[3];
};

TEST(CArrayTest, ShrinkThenGrowReinitialisesElements) {
  CArray<int> a;
  a.SetSize(10);
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(a[i], 0);
    a[i] = i + 1;
  }
  a.SetSize(3);
  a.SetSize(10);  // within capacity
  EXPECT_EQ(a.GetAllocSize(), 10);
  EXPECT_EQ(a[2], 3);
  for (int i = 3; i < 10; ++i) EXPECT_EQ(a[i], 0) << i;
  a[9] = 9;
  a.SetSize(5);
  a.SetSize(40);  // through a reallocation
  EXPECT_EQ(a[4], 0);
  for (int i = 5; i < 40; ++i) EXPECT_EQ(a[i], 0) << i;

  CArray<Pod> p;
  p.SetSize(4);
  p[3] = Pod{7, 1.5, {'a', 'b', 'c'}};
  p.SetSize(1);
  p.SetSize(4);
  EXPECT_EQ(p[3].i, 0);
  EXPECT_EQ(p[3].d, 0.0);
  EXPECT_EQ(p[3].c[2], '\0');

  CArray<CString> s;
  s.SetSize(3);
  s[2] = "gone";
  s.SetSize(2);
  s.SetSize(3);
  EXPECT_TRUE(s[2].IsEmpty());
}

TEST(CArrayTest, OutOfRangeArgumentsThrowAndLeaveTheArrayAlone) {
  CArray<int> a;
  EXPECT_THROW(a[0], std::out_of_range);
  a.Add(1);
  a.Add(2);
  const CArray<int>& c = a;
  EXPECT_THROW(a.GetAt(2), std::out_of_range);
  EXPECT_THROW(c.GetAt(-1), std::out_of_range);
  EXPECT_THROW(a[2], std::out_of_range);
  EXPECT_THROW(c[-1], std::out_of_range);
  EXPECT_THROW(a.ElementAt(INT_MAX), std::out_of_range);
  EXPECT_THROW(a.SetAt(2, 0), std::out_of_range);
  EXPECT_THROW(a.SetAtGrow(-1, 0), std::out_of_range);
  EXPECT_THROW(a.InsertAt(-1, 0), std::out_of_range);
  EXPECT_THROW(a.InsertAt(0, 0, -1), std::invalid_argument);
  EXPECT_THROW(a.InsertAt(0, nullptr), std::invalid_argument);
  EXPECT_THROW(a.RemoveAt(2), std::out_of_range);
  EXPECT_THROW(a.RemoveAt(1, 2), std::out_of_range);
  EXPECT_THROW(a.RemoveAt(-1), std::out_of_range);
  EXPECT_THROW(a.RemoveAt(0, -1), std::invalid_argument);
  EXPECT_THROW(a.SetSize(-1), std::invalid_argument);
  EXPECT_THROW(a.SetSize(1, -2), std::invalid_argument);
  EXPECT_EQ(a.GetSize(), 2);
  EXPECT_EQ(a[0] + a[1], 3);
  a.RemoveAt(2, 0);  // empty range at the end is fine
  a.InsertAt(1, 9, 0);
  EXPECT_EQ(a.GetSize(), 2);
}

struct Huge {
  char bytes[size_t(1) << 33];
};

TEST(CArrayTest, OversizedRequestsThrowBadAlloc) {
  CArray<int> a;
  a.Add(5);
  EXPECT_THROW(a.SetAtGrow(INT_MAX, 1), std::bad_alloc);
  EXPECT_THROW(a.InsertAt(INT_MAX - 2, 1, 5), std::bad_alloc);
  EXPECT_EQ(a.GetSize(), 1);
  EXPECT_EQ(a[0], 5);

  // INT_MAX elements of 8 GiB: the byte count must not wrap around.
  CArray<Huge> h;
  EXPECT_THROW(h.SetSize(INT_MAX), std::bad_alloc);
  EXPECT_EQ(h.GetSize(), 0);
  EXPECT_EQ(h.GetAllocSize(), 0);
}

// Add/InsertAt/RemoveAt on a non-trivial type, checked against std::vector.
TEST(CArrayTest, CStringArrayEditsMatchAModel) {
  CArray<CString> a;
  std::vector<std::string> model;
  auto same = [&] {
    if (a.GetSize() != static_cast<int>(model.size())) return false;
    for (int i = 0; i < a.GetSize(); ++i)
      if (a[i].str() != model[static_cast<size_t>(i)]) return false;
    return true;
  };

  unsigned seed = 12345;
  auto next = [&](unsigned n) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) % n;
  };
  for (int step = 0; step < 3000; ++step) {
    // Long enough values that a byte copy would share heap buffers.
    std::string value = "value-" + std::to_string(step) + std::string(20, 'x');
    int size = a.GetSize();
    switch (next(5)) {
      case 0:
      case 1:
      case 2:
        EXPECT_EQ(a.Add(CString(value)), size);
        model.push_back(value);
        break;
      case 3: {
        int at = static_cast<int>(next(static_cast<unsigned>(size) + 3));
        int count = static_cast<int>(next(3)) + 1;
        a.InsertAt(at, CString(value), count);
        if (at > size) model.resize(static_cast<size_t>(at));
        model.insert(model.begin() + at, static_cast<size_t>(count), value);
        break;
      }
      default:
        if (size == 0) break;
        int at = static_cast<int>(next(static_cast<unsigned>(size)));
        int count = static_cast<int>(next(static_cast<unsigned>(std::min(size - at, 4)))) + 1;
        a.RemoveAt(at, count);
        model.erase(model.begin() + at, model.begin() + at + count);
        break;
    }
    ASSERT_TRUE(same()) << "step " << step;
  }
  EXPECT_GT(a.GetSize(), 100);
}

TEST(CArrayTest, ArgumentsMayReferToOwnElements) {
  CArray<CString> a;
  a.Add(CString("first-element-long-enough-for-heap"));
  ASSERT_EQ(a.GetAllocSize(), 1);
  a.Add(a[0]);  // reallocates while reading a[0]
  EXPECT_EQ(a[1], a[0]);
  while (a.GetSize() < a.GetAllocSize()) a.Add(CString("filler"));
  a.Add(a[0]);
  EXPECT_EQ(a[a.GetUpperBound()], "first-element-long-enough-for-heap");

  int n = a.GetSize();
  a.InsertAt(0, a[n - 1], 2);  // shifts the source element too
  EXPECT_EQ(a[0], "first-element-long-enough-for-heap");
  EXPECT_EQ(a[1], "first-element-long-enough-for-heap");
  a.SetAtGrow(a.GetSize() + 2, a[2]);
  EXPECT_EQ(a[a.GetUpperBound()], a[2]);
  EXPECT_TRUE(a[a.GetUpperBound() - 1].IsEmpty());

  CArray<CString> b;
  b.Add(CString("x"));
  b.Add(CString("y"));
  EXPECT_EQ(b.Append(b), 2);
  b.InsertAt(1, &b);
  std::string joined;
  for (int i = 0; i < b.GetSize(); ++i) joined += b[i].str();
  EXPECT_EQ(joined, "xxyxyyxy");
}

TEST(CArrayTest, CopiesAreIndependentAndMovesEmptyTheSource) {
  CArray<CString> a;
  a.Add(CString("one"));
  a.Add(CString("two"));
  CArray<CString> copy(a);
  copy[0] = "changed";
  EXPECT_EQ(a[0], "one");
  EXPECT_EQ(copy.GetSize(), 2);

  CArray<CString> big;
  big.SetSize(10);
  big = a;
  EXPECT_EQ(big.GetSize(), 2);
  EXPECT_EQ(big[1], "two");
  big = big;  // self-assignment keeps the contents
  EXPECT_EQ(big[1], "two");

  CArray<CString> other;
  other.Add(CString("zero"));
  EXPECT_EQ(other.Append(a), 1);
  EXPECT_EQ(other[2], "two");
  other.InsertAt(5, &a);  // past the end: the gap is default elements
  EXPECT_EQ(other.GetSize(), 7);
  EXPECT_TRUE(other[4].IsEmpty());
  EXPECT_EQ(other[6], "two");

  Probe<CString> src;
  src.SetSize(3, 16);
  src[0] = "moved";
  Probe<CString> dst;
  static_cast<CArray<CString>&>(dst) = std::move(src);
  EXPECT_EQ(dst[0], "moved");
  EXPECT_EQ(dst.GrowBy(), 16);
  EXPECT_EQ(src.Data(), nullptr);
  EXPECT_EQ(src.Size() + src.MaxSize() + src.GrowBy(), 0);

  CByteArray bytes;
  bytes.Add(1);
  bytes.Add(2);
  CByteArray bytesCopy(bytes);
  bytesCopy.SetAt(0, 9);
  CByteArray bytesMoved(std::move(bytesCopy));
  EXPECT_EQ(bytes[0], 1);
  EXPECT_EQ(bytesMoved[0], 9);
  EXPECT_TRUE(bytesCopy.IsEmpty());
  CDWordArray dwords;
  dwords.Add(0xFFFFFFFFu);
  CDWordArray dwordsCopy;
  dwordsCopy = dwords;
  EXPECT_EQ(dwordsCopy[0], 0xFFFFFFFFu);
}

}  // namespace
