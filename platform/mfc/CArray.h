// Dynamic array with the MFC CArray interface and growth policy.
// Unlike MFC, copying is allowed (element-wise) and moving is cheap.
// Bad indexes are caller bugs: element access outside [0, size) throws
// std::out_of_range instead of touching memory outside the array.
#pragma once

#include <algorithm>
#include <climits>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <stdexcept>
#include <type_traits>
#include <utility>

#include "platform/mfc/CObject.h"
#include "platform/win/windef.h"

template <class TYPE, class ARG_TYPE = const TYPE&>
class CArray : public CObject {
 public:
  CArray() = default;
  CArray(const CArray& src) : CObject() { Copy(src); }
  CArray(CArray&& src) noexcept : CObject() { TakeFrom(src); }
  CArray& operator=(const CArray& src) {
    Copy(src);
    return *this;
  }
  CArray& operator=(CArray&& src) noexcept {
    if (this != &src) {
      Release();
      TakeFrom(src);
    }
    return *this;
  }
  ~CArray() override { Release(); }

  int GetSize() const { return m_nSize; }
  int GetCount() const { return m_nSize; }
  int GetUpperBound() const { return m_nSize - 1; }
  bool IsEmpty() const { return m_nSize == 0; }
  // Capacity in elements (not in MFC; for tests and diagnostics).
  int GetAllocSize() const { return m_nMaxSize; }

  // Sets the size; growBy (when not -1) becomes the growth step. Size 0
  // frees the storage. New elements are value-initialised.
  void SetSize(int newSize, int growBy = -1);
  // Shrinks the storage to the current size.
  void FreeExtra();
  void RemoveAll() { SetSize(0); }

  const TYPE& GetAt(int index) const { return m_pData[CheckIndex(index)]; }
  TYPE& GetAt(int index) { return m_pData[CheckIndex(index)]; }
  void SetAt(int index, ARG_TYPE newElement) { m_pData[CheckIndex(index)] = newElement; }
  TYPE& ElementAt(int index) { return m_pData[CheckIndex(index)]; }
  const TYPE& ElementAt(int index) const { return m_pData[CheckIndex(index)]; }
  TYPE* GetData() { return m_pData; }
  const TYPE* GetData() const { return m_pData; }
  TYPE& operator[](int index) { return m_pData[CheckIndex(index)]; }
  const TYPE& operator[](int index) const { return m_pData[CheckIndex(index)]; }

  // Sets an element, growing the array when index is past the end.
  void SetAtGrow(int index, ARG_TYPE newElement);
  // Appends an element; returns its index.
  int Add(ARG_TYPE newElement) {
    int index = m_nSize;
    SetAtGrow(index, newElement);
    return index;
  }
  // Appends a copy of src (which may be this array); returns the old size.
  int Append(const CArray& src);
  // Makes this array an element-wise copy of src.
  void Copy(const CArray& src);
  // Inserts count copies of newElement at index; an index past the end
  // grows the array first.
  void InsertAt(int index, ARG_TYPE newElement, int count = 1);
  // Inserts the elements of newArray (which may be this array) at start.
  void InsertAt(int start, CArray* newArray);
  void RemoveAt(int index, int count = 1);

 protected:
  TYPE* m_pData = nullptr;
  int m_nSize = 0;
  int m_nMaxSize = 0;
  int m_nGrowBy = 0;

 private:
  static constexpr bool kTrivial = std::is_trivially_copyable<TYPE>::value;

  int CheckIndex(int index) const {
    if (index < 0 || index >= m_nSize) throw std::out_of_range("CArray index out of range");
    return index;
  }
  // Index of the element p points to, or -1 when p is not in the array, so
  // that arguments referring to our own elements survive reallocation.
  int IndexOf(const TYPE* p) const {
    std::less<const TYPE*> before;
    if (!m_pData || before(p, m_pData) || !before(p, m_pData + m_nSize)) return -1;
    return static_cast<int>(p - m_pData);
  }
  static int CheckedSum(int a, int b) {
    if (static_cast<long long>(a) + b > INT_MAX) throw std::bad_array_new_length();
    return a + b;
  }
  // Moves the elements into a new block of exactly newMax elements.
  void Reallocate(int newMax);
  void Release() {
    if (!m_pData) return;
    std::destroy_n(m_pData, m_nSize);
    std::allocator<TYPE>().deallocate(m_pData, static_cast<size_t>(m_nMaxSize));
    m_pData = nullptr;
    m_nSize = m_nMaxSize = 0;
  }
  void TakeFrom(CArray& src) noexcept {
    m_pData = std::exchange(src.m_pData, nullptr);
    m_nSize = std::exchange(src.m_nSize, 0);
    m_nMaxSize = std::exchange(src.m_nMaxSize, 0);
    m_nGrowBy = std::exchange(src.m_nGrowBy, 0);
  }
};

template <class TYPE, class ARG_TYPE>
void CArray<TYPE, ARG_TYPE>::Reallocate(int newMax) {
  std::allocator<TYPE> alloc;
  TYPE* block = newMax > 0 ? alloc.allocate(static_cast<size_t>(newMax)) : nullptr;
  if (m_nSize > 0) {
    if constexpr (kTrivial) {
      std::memcpy(static_cast<void*>(block), m_pData, static_cast<size_t>(m_nSize) * sizeof(TYPE));
    } else {
      // A byte copy of a non-trivial type (e.g. CString) is undefined.
      try {
        std::uninitialized_move_n(m_pData, m_nSize, block);
      } catch (...) {
        alloc.deallocate(block, static_cast<size_t>(newMax));
        throw;
      }
      std::destroy_n(m_pData, m_nSize);
    }
  }
  if (m_pData) alloc.deallocate(m_pData, static_cast<size_t>(m_nMaxSize));
  m_pData = block;
  m_nMaxSize = newMax;
}

template <class TYPE, class ARG_TYPE>
void CArray<TYPE, ARG_TYPE>::SetSize(int newSize, int growBy) {
  if (newSize < 0) throw std::invalid_argument("CArray::SetSize: negative size");
  if (growBy != -1) {
    if (growBy < 0) throw std::invalid_argument("CArray::SetSize: negative growBy");
    m_nGrowBy = growBy;
  }
  if (newSize == 0) {
    Release();
    return;
  }
  if (!m_pData) {
    // First allocation: exactly the requested size.
    Reallocate(newSize);
  } else if (newSize > m_nMaxSize) {
    // Grow by the step (default: an eighth of the size, 4..1024), or to
    // newSize if that is further.
    int step = m_nGrowBy > 0 ? m_nGrowBy : std::clamp(m_nSize / 8, 4, 1024);
    long long wanted = std::max<long long>(static_cast<long long>(m_nMaxSize) + step, newSize);
    Reallocate(static_cast<int>(std::min<long long>(wanted, INT_MAX)));
  }
  if (newSize > m_nSize)
    std::uninitialized_value_construct_n(m_pData + m_nSize, newSize - m_nSize);
  else
    std::destroy_n(m_pData + newSize, m_nSize - newSize);
  m_nSize = newSize;
}

template <class TYPE, class ARG_TYPE>
void CArray<TYPE, ARG_TYPE>::FreeExtra() {
  if (m_nSize == 0)
    Release();
  else if (m_nSize != m_nMaxSize)
    Reallocate(m_nSize);
}

template <class TYPE, class ARG_TYPE>
void CArray<TYPE, ARG_TYPE>::SetAtGrow(int index, ARG_TYPE newElement) {
  if (index < 0) throw std::out_of_range("CArray::SetAtGrow: negative index");
  if (index >= m_nSize) {
    int alias = IndexOf(std::addressof(newElement));
    SetSize(CheckedSum(index, 1));
    if (alias >= 0) {
      m_pData[index] = m_pData[alias];
      return;
    }
  }
  m_pData[index] = newElement;
}

template <class TYPE, class ARG_TYPE>
int CArray<TYPE, ARG_TYPE>::Append(const CArray& src) {
  int oldSize = m_nSize;
  int count = src.m_nSize;  // read before growing: src may be *this
  SetSize(CheckedSum(oldSize, count));
  std::copy_n(src.m_pData, count, m_pData + oldSize);
  return oldSize;
}

template <class TYPE, class ARG_TYPE>
void CArray<TYPE, ARG_TYPE>::Copy(const CArray& src) {
  if (this == &src) return;
  SetSize(src.m_nSize);
  std::copy_n(src.m_pData, src.m_nSize, m_pData);
}

template <class TYPE, class ARG_TYPE>
void CArray<TYPE, ARG_TYPE>::InsertAt(int index, ARG_TYPE newElement, int count) {
  if (index < 0) throw std::out_of_range("CArray::InsertAt: negative index");
  if (count < 0) throw std::invalid_argument("CArray::InsertAt: negative count");
  if (count == 0) return;
  // The element may be one of ours, which the shifting below overwrites.
  if (IndexOf(std::addressof(newElement)) >= 0) {
    TYPE copy(newElement);
    InsertAt(index, copy, count);
    return;
  }
  int oldSize = m_nSize;
  if (index >= oldSize) {
    SetSize(CheckedSum(index, count));
  } else {
    SetSize(CheckedSum(oldSize, count));
    std::move_backward(m_pData + index, m_pData + oldSize, m_pData + oldSize + count);
  }
  std::fill_n(m_pData + index, count, newElement);
}

template <class TYPE, class ARG_TYPE>
void CArray<TYPE, ARG_TYPE>::InsertAt(int start, CArray* newArray) {
  if (!newArray) throw std::invalid_argument("CArray::InsertAt: null array");
  if (start < 0) throw std::out_of_range("CArray::InsertAt: negative index");
  if (newArray == this) {
    CArray copy(*this);
    InsertAt(start, &copy);
    return;
  }
  int count = newArray->m_nSize;
  if (count == 0) return;
  InsertAt(start, newArray->m_pData[0], count);
  std::copy_n(newArray->m_pData, count, m_pData + start);
}

template <class TYPE, class ARG_TYPE>
void CArray<TYPE, ARG_TYPE>::RemoveAt(int index, int count) {
  if (count < 0) throw std::invalid_argument("CArray::RemoveAt: negative count");
  if (index < 0 || index > m_nSize || count > m_nSize - index)
    throw std::out_of_range("CArray::RemoveAt: range outside the array");
  std::move(m_pData + index + count, m_pData + m_nSize, m_pData + index);
  std::destroy_n(m_pData + m_nSize - count, count);
  m_nSize -= count;
}

// Arrays of the Windows integer types; they grow exactly like CArray.
class CByteArray : public CArray<BYTE, BYTE> {
 public:
  using CArray<BYTE, BYTE>::CArray;
  using CArray<BYTE, BYTE>::operator=;
  // The count, then the bytes.
  void Serialize(CArchive& ar) override;
};

class CWordArray : public CArray<WORD, WORD> {
 public:
  using CArray<WORD, WORD>::CArray;
  using CArray<WORD, WORD>::operator=;
};

class CDWordArray : public CArray<DWORD, DWORD> {
 public:
  using CArray<DWORD, DWORD>::CArray;
  using CArray<DWORD, DWORD>::operator=;
};
