// 8-bit string with the MFC CString interface, backed by std::string.
// Bytes are in the process code page (GBK or UTF-8), so case mapping and
// trimming touch ASCII only. The length is explicit: embedded NULs are kept.
// Out-of-range character access throws std::out_of_range (a caller bug);
// every other index argument is clamped the way MFC clamps it.
#pragma once

#include <climits>
#include <cstdarg>
#include <iosfwd>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>

#include "platform/win/windef.h"

class CString {
 public:
  CString() = default;
  CString(const char* psz) : m_str(psz ? psz : "") {}
  CString(const char* pch, int len);
  CString(char ch, int repeat = 1);
  CString(const std::string& s) : m_str(s) {}
  CString(std::string&& s) noexcept : m_str(std::move(s)) {}
  CString(const CString&) = default;
  CString(CString&&) noexcept = default;
  ~CString() = default;

  CString& operator=(const CString&) = default;
  CString& operator=(CString&&) noexcept = default;
  CString& operator=(const char* psz);
  CString& operator=(char ch);

  CString& operator+=(const CString& s) {
    m_str += s.m_str;
    return *this;
  }
  CString& operator+=(const char* psz) {
    if (psz) m_str += psz;
    return *this;
  }
  CString& operator+=(char ch) {
    m_str += ch;
    return *this;
  }

  // Size and element access.
  int GetLength() const { return static_cast<int>(m_str.size()); }
  bool IsEmpty() const { return m_str.empty(); }
  void Empty() { m_str.clear(); }
  // Index == length reads the terminating NUL, as in MFC.
  char GetAt(int index) const;
  void SetAt(int index, char ch);
  char operator[](int index) const { return GetAt(index); }
  // Other index types (size_t, long) would otherwise be ambiguous with the
  // built-in subscript through operator const char*.
  template <class I, std::enable_if_t<std::is_integral<I>::value && !std::is_same<I, int>::value, int> = 0>
  char operator[](I index) const {
    if (static_cast<long long>(index) < 0 || static_cast<unsigned long long>(index) > INT_MAX)
      throw std::out_of_range("CString index out of range");
    return GetAt(static_cast<int>(index));
  }
  operator const char*() const { return m_str.c_str(); }
  const char* GetString() const { return m_str.c_str(); }
  const std::string& str() const { return m_str; }

  void Append(const char* psz) { *this += psz; }
  void Append(const char* pch, int len);
  void Append(const CString& s) { m_str += s.m_str; }
  void AppendChar(char ch) { m_str += ch; }

  // Comparison in unsigned byte order over the whole string, embedded NULs
  // included; results <0, 0, >0. A null argument compares as empty.
  int Compare(const char* psz) const;
  // ASCII letters compare equal regardless of case; bytes >= 0x80 are
  // compared as they are, so double-byte text is never folded.
  int CompareNoCase(const char* psz) const;
  int Collate(const char* psz) const;

  // Substrings; negative or too large arguments are clamped.
  CString Mid(int first) const;
  CString Mid(int first, int count) const;
  CString Left(int count) const;
  CString Right(int count) const;
  CString SpanIncluding(const char* set) const;
  CString SpanExcluding(const char* set) const;
  // Skips leading delimiters and returns the next token; at the end returns
  // an empty string and sets start to -1.
  CString Tokenize(const char* delims, int& start) const;

  // Searching: index or -1.
  int Find(char ch, int start = 0) const;
  int Find(const char* sub, int start = 0) const;
  int ReverseFind(char ch) const;
  int FindOneOf(const char* set) const;

  CString& MakeUpper();
  CString& MakeLower();
  CString& MakeReverse();

  // White space is space, \t, \r, \n, \v and \f.
  CString& Trim();
  CString& Trim(char ch);
  CString& Trim(const char* set);
  CString& TrimLeft();
  CString& TrimLeft(char ch);
  CString& TrimLeft(const char* set);
  CString& TrimRight();
  CString& TrimRight(char ch);
  CString& TrimRight(const char* set);

  // Editing. Replace/Remove return the number of changes, Insert/Delete the
  // new length.
  int Replace(char oldCh, char newCh);
  int Replace(const char* oldStr, const char* newStr);
  int Remove(char ch);
  int Insert(int index, char ch);
  int Insert(int index, const char* psz);
  int Delete(int index, int count = 1);

  // printf-style formatting, any result length.
  void Format(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
  void AppendFormat(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
  void FormatV(const char* fmt, va_list args);
  void AppendFormatV(const char* fmt, va_list args);

  // Direct buffer access. The buffer holds at least minLength characters
  // plus a NUL; the current contents are kept. ReleaseBuffer(-1) takes the
  // length up to the first NUL, never beyond the buffer.
  char* GetBuffer(int minLength = 0);
  char* GetBufferSetLength(int len);
  void ReleaseBuffer(int newLength = -1);
  void ReleaseBufferSetLength(int newLength) { ReleaseBuffer(newLength); }
  void Preallocate(int len);

 private:
  std::string m_str;
};

// Concatenation. An rvalue left operand is appended to in place, so chains
// like a + "," + b allocate once per step at most.
CString operator+(const CString& a, const CString& b);
CString operator+(const CString& a, const char* b);
CString operator+(const char* a, const CString& b);
CString operator+(const CString& a, char b);
CString operator+(char a, const CString& b);
inline CString operator+(CString&& a, const CString& b) {
  a += b;
  return std::move(a);
}
inline CString operator+(CString&& a, const char* b) {
  a += b;
  return std::move(a);
}
inline CString operator+(CString&& a, char b) {
  a += b;
  return std::move(a);
}

// Relational operators compare like Compare.
inline bool operator==(const CString& a, const CString& b) { return a.str() == b.str(); }
inline bool operator!=(const CString& a, const CString& b) { return a.str() != b.str(); }
inline bool operator<(const CString& a, const CString& b) { return a.str() < b.str(); }
inline bool operator>(const CString& a, const CString& b) { return a.str() > b.str(); }
inline bool operator<=(const CString& a, const CString& b) { return a.str() <= b.str(); }
inline bool operator>=(const CString& a, const CString& b) { return a.str() >= b.str(); }

inline bool operator==(const CString& a, const char* b) { return a.Compare(b) == 0; }
inline bool operator!=(const CString& a, const char* b) { return a.Compare(b) != 0; }
inline bool operator<(const CString& a, const char* b) { return a.Compare(b) < 0; }
inline bool operator>(const CString& a, const char* b) { return a.Compare(b) > 0; }
inline bool operator<=(const CString& a, const char* b) { return a.Compare(b) <= 0; }
inline bool operator>=(const CString& a, const char* b) { return a.Compare(b) >= 0; }

inline bool operator==(const char* a, const CString& b) { return b == a; }
inline bool operator!=(const char* a, const CString& b) { return b != a; }
inline bool operator<(const char* a, const CString& b) { return b > a; }
inline bool operator>(const char* a, const CString& b) { return b < a; }
inline bool operator<=(const char* a, const CString& b) { return b >= a; }
inline bool operator>=(const char* a, const CString& b) { return b <= a; }

// Writes the bytes, embedded NULs included (also used by test failure output).
std::ostream& operator<<(std::ostream& os, const CString& s);
