// MFC's CArchive: a buffered binary stream over a CFile, for storing and
// loading objects. Values are little-endian as on the platform; counts and
// strings use MFC's length prefixes, so archives interoperate with the
// platform's. A load that runs past the end of the data throws
// CArchiveException(endOfFile); errors of the file itself propagate as
// CFileException.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

#include "platform/mfc/CArray.h"
#include "platform/mfc/CException.h"
#include "platform/mfc/CFile.h"
#include "platform/mfc/CString.h"
#include "platform/win/windef.h"

class CArchiveException : public CException {
 public:
  enum {
    none = 0,
    genericException = 1,
    readOnly = 2,
    endOfFile = 3,
    writeOnly = 4,
    badIndex = 5,
    badClass = 6,
    badSchema = 7,
    bufferFull = 8
  };
  explicit CArchiveException(int cause = none, const char* fileName = nullptr);

  BOOL GetErrorMessage(char* buf, UINT max, UINT* help = nullptr) const override;
  const char* what() const noexcept override;
  std::string Message() const;

  int m_cause;
  CString m_strFileName;

 private:
  mutable std::string m_what;
};

class CArchive {
 public:
  enum Mode { store = 0, load = 1, bNoFlushOnDelete = 2 };

  CArchive(CFile* file, UINT mode, int bufferSize = 4096);
  // A storing archive that was not closed is flushed here; errors are lost,
  // so callers that need them call Close.
  ~CArchive();
  CArchive(const CArchive&) = delete;
  CArchive& operator=(const CArchive&) = delete;

  BOOL IsLoading() const { return (m_nMode & load) != 0; }
  BOOL IsStoring() const { return (m_nMode & load) == 0; }
  CFile* GetFile() const { return m_pFile; }

  // Bytes read, fewer than `count` only at the end of the data.
  UINT Read(void* buf, UINT count);
  void Write(const void* buf, UINT count);
  // Writes pending bytes to the file (storing) or drops read-ahead bytes
  // and puts the file back where the archive's reading stands (loading).
  void Flush();
  // Flushes and detaches from the file.
  void Close();
  // Detaches without writing pending bytes.
  void Abort();

  // Element counts: a WORD below 0xFFFF, else 0xFFFF then a DWORD (and
  // above that 0xFFFFFFFF then a 64-bit count).
  void WriteCount(DWORD_PTR count);
  DWORD_PTR ReadCount();

  // Not in MFC. Reads exactly `bytes` bytes or throws endOfFile.
  void ReadExact(void* buf, ULONGLONG bytes);
  void WriteLarge(const void* buf, ULONGLONG bytes);
  // True, with the bytes left to load, when the file can tell its length
  // and position (a disk or memory file; not a pipe).
  bool BytesLeft(ULONGLONG& left) const;
  // Reads a count of elements that take at least `minElementBytes` each and
  // checks it against the bytes left, so that a damaged count cannot make
  // the caller allocate more than the data holds. Throws badIndex for a
  // count beyond an int, endOfFile for one the data cannot hold. `checked`
  // is false when the file cannot tell what is left: the caller must then
  // grow its storage only as elements arrive.
  int ReadElementCount(ULONGLONG minElementBytes, bool& checked);

  CArchive& operator<<(BYTE v) { return Put(v); }
  CArchive& operator<<(char v) { return Put(v); }
  CArchive& operator<<(WORD v) { return Put(v); }
  CArchive& operator<<(short v) { return Put(v); }
  CArchive& operator<<(int v) { return Put(v); }
  CArchive& operator<<(DWORD v) { return Put(v); }
  CArchive& operator<<(LONGLONG v) { return Put(v); }
  CArchive& operator<<(ULONGLONG v) { return Put(v); }
  CArchive& operator<<(float v) { return Put(v); }
  CArchive& operator<<(double v) { return Put(v); }
  // MFC's string form: the length in MFC's prefix, then the bytes.
  CArchive& operator<<(const CString& s);

  CArchive& operator>>(BYTE& v) { return Get(v); }
  CArchive& operator>>(char& v) { return Get(v); }
  CArchive& operator>>(WORD& v) { return Get(v); }
  CArchive& operator>>(short& v) { return Get(v); }
  CArchive& operator>>(int& v) { return Get(v); }
  CArchive& operator>>(DWORD& v) { return Get(v); }
  CArchive& operator>>(LONGLONG& v) { return Get(v); }
  CArchive& operator>>(ULONGLONG& v) { return Get(v); }
  CArchive& operator>>(float& v) { return Get(v); }
  CArchive& operator>>(double& v) { return Get(v); }
  // Reads MFC's string form. Wide (UTF-16) strings, which the platform's
  // 8-bit strings never produce, throw badSchema.
  CArchive& operator>>(CString& s);

 private:
  static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "values are stored in memory order");

  template <class T>
  CArchive& Put(T v) {
    static_assert(std::is_arithmetic<T>::value, "plain values only");
    Write(&v, sizeof v);
    return *this;
  }
  template <class T>
  CArchive& Get(T& v) {
    static_assert(std::is_arithmetic<T>::value, "plain values only");
    ReadExact(&v, sizeof v);
    return *this;
  }
  [[noreturn]] void Throw(int cause) const;
  void CheckMode(bool storing) const;
  void FlushStore();

  CFile* m_pFile;
  UINT m_nMode;
  std::vector<BYTE> m_buffer;
  size_t m_nCur = 0;  // loading: next byte; storing: bytes pending
  size_t m_nEnd = 0;  // loading: bytes in the buffer
};

// Count-then-bytes serialization of an array of plain values: the count,
// then the elements as they lie in memory. Loading checks the count against
// the data before the array is sized, or, when the file cannot tell its
// length, grows the array only as the bytes arrive.
template <class TYPE, class ARG_TYPE>
void SerializeElementBytes(CArray<TYPE, ARG_TYPE>& array, CArchive& ar) {
  static_assert(std::is_trivially_copyable<TYPE>::value, "elements stored as their bytes");
  if (ar.IsStoring()) {
    ar.WriteCount(static_cast<DWORD_PTR>(array.GetSize()));
    ar.WriteLarge(array.GetData(), static_cast<ULONGLONG>(array.GetSize()) * sizeof(TYPE));
    return;
  }
  bool checked = false;
  const int count = ar.ReadElementCount(sizeof(TYPE), checked);
  if (checked) {
    array.SetSize(count);
    ar.ReadExact(array.GetData(), static_cast<ULONGLONG>(count) * sizeof(TYPE));
    return;
  }
  constexpr int kStep = static_cast<int>((1u << 20) / sizeof(TYPE)) + 1;
  array.SetSize(0);
  for (int done = 0; done < count;) {
    const int step = count - done < kStep ? count - done : kStep;
    array.SetSize(done + step);
    ar.ReadExact(array.GetData() + done, static_cast<ULONGLONG>(step) * sizeof(TYPE));
    done += step;
  }
}

// Loads `count` elements through `loadOne(element)` after a count checked
// against the data (at least `minElementBytes` each). When the file cannot
// tell its length, the array grows only as elements arrive.
template <class Array, class LoadOne>
void LoadElements(Array& array, CArchive& ar, ULONGLONG minElementBytes, LoadOne loadOne) {
  bool checked = false;
  const int count = ar.ReadElementCount(minElementBytes, checked);
  array.SetSize(checked ? count : 0);
  for (int i = 0; i < count; ++i) {
    if (!checked) array.SetSize(i + 1);
    loadOne(array[i]);
  }
}
