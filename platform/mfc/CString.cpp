#include "platform/mfc/CString.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <stdexcept>

namespace {

const char kWhiteSpace[] = " \t\r\n\v\f";

// ASCII-only case folding; bytes >= 0x80 belong to multi-byte characters.
inline unsigned char FoldLower(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; }
inline unsigned char FoldUpper(unsigned char c) { return (c >= 'a' && c <= 'z') ? c - ('a' - 'A') : c; }

// Clamps an index argument to [0, len], as MFC does for Insert and friends.
inline size_t ClampIndex(int index, size_t len) {
  if (index <= 0) return 0;
  return std::min(static_cast<size_t>(index), len);
}

inline int ToIndex(size_t pos) { return pos == std::string::npos ? -1 : static_cast<int>(pos); }

// Formats into a stack buffer; only results that do not fit take a second
// pass into a heap string. Calls sink(data, length); returns false on an
// encoding error. The result never aliases the string being formatted, so
// the arguments may point into it.
template <class Sink>
bool FormatTo(const char* fmt, va_list args, Sink sink) {
  if (!fmt) return false;
  char buf[1024];
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(buf, sizeof buf, fmt, copy);
  va_end(copy);
  if (n < 0) return false;
  if (static_cast<size_t>(n) < sizeof buf) {
    sink(buf, static_cast<size_t>(n));
    return true;
  }
  std::string big(static_cast<size_t>(n), '\0');
  std::vsnprintf(&big[0], big.size() + 1, fmt, args);
  sink(big.data(), big.size());
  return true;
}

}  // namespace

CString::CString(const char* pch, int len) {
  if (pch && len > 0) m_str.assign(pch, static_cast<size_t>(len));
}

CString::CString(char ch, int repeat) {
  if (repeat > 0) m_str.assign(static_cast<size_t>(repeat), ch);
}

CString& CString::operator=(const char* psz) {
  if (psz)
    m_str.assign(psz);
  else
    m_str.clear();
  return *this;
}

CString& CString::operator=(char ch) {
  m_str.assign(1, ch);
  return *this;
}

char CString::GetAt(int index) const {
  if (index < 0 || static_cast<size_t>(index) > m_str.size()) throw std::out_of_range("CString::GetAt");
  return m_str[static_cast<size_t>(index)];
}

void CString::SetAt(int index, char ch) {
  if (index < 0 || static_cast<size_t>(index) >= m_str.size()) throw std::out_of_range("CString::SetAt");
  m_str[static_cast<size_t>(index)] = ch;
}

void CString::Append(const char* pch, int len) {
  if (pch && len > 0) m_str.append(pch, static_cast<size_t>(len));
}

int CString::Compare(const char* psz) const {
  int r = m_str.compare(psz ? psz : "");
  return (r > 0) - (r < 0);
}

int CString::CompareNoCase(const char* psz) const {
  if (!psz) psz = "";
  const unsigned char* a = reinterpret_cast<const unsigned char*>(m_str.data());
  const unsigned char* b = reinterpret_cast<const unsigned char*>(psz);
  size_t na = m_str.size(), nb = std::strlen(psz);
  for (size_t i = 0, n = std::min(na, nb); i < n; ++i) {
    unsigned char ca = FoldLower(a[i]), cb = FoldLower(b[i]);
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  return (na > nb) - (na < nb);
}

int CString::Collate(const char* psz) const {
  int r = std::strcoll(m_str.c_str(), psz ? psz : "");
  return (r > 0) - (r < 0);
}

CString CString::Mid(int first) const { return Mid(first, INT_MAX); }

CString CString::Mid(int first, int count) const {
  size_t from = ClampIndex(first, m_str.size());
  size_t n = count > 0 ? std::min(static_cast<size_t>(count), m_str.size() - from) : 0;
  return CString(m_str.substr(from, n));
}

CString CString::Left(int count) const { return CString(m_str.substr(0, ClampIndex(count, m_str.size()))); }

CString CString::Right(int count) const {
  size_t n = ClampIndex(count, m_str.size());
  return CString(m_str.substr(m_str.size() - n));
}

CString CString::SpanIncluding(const char* set) const {
  if (!set) return CString();
  size_t n = m_str.find_first_not_of(set);
  return n == std::string::npos ? *this : CString(m_str.substr(0, n));
}

CString CString::SpanExcluding(const char* set) const {
  if (!set) return *this;
  size_t n = m_str.find_first_of(set);
  return n == std::string::npos ? *this : CString(m_str.substr(0, n));
}

CString CString::Tokenize(const char* delims, int& start) const {
  if (start < 0) {
    start = -1;
    return CString();
  }
  size_t len = m_str.size();
  size_t from = static_cast<size_t>(start);
  if (from < len && (!delims || !*delims)) {
    // No delimiters: the rest is one token, and the next call ends.
    start = static_cast<int>(len);
    return CString(m_str.substr(from));
  }
  if (from < len) from = m_str.find_first_not_of(delims, from);
  if (from >= len) {
    start = -1;
    return CString();
  }
  size_t to = std::min(m_str.find_first_of(delims, from), len);
  // Past the delimiter that ended the token (length + 1 at the end, like MFC).
  start = static_cast<int>(std::min<size_t>(to + 1, INT_MAX));
  return CString(m_str.substr(from, to - from));
}

int CString::Find(char ch, int start) const {
  if (start < 0) start = 0;
  if (static_cast<size_t>(start) >= m_str.size()) return -1;
  return ToIndex(m_str.find(ch, static_cast<size_t>(start)));
}

int CString::Find(const char* sub, int start) const {
  if (!sub) return -1;
  if (start < 0) start = 0;
  if (static_cast<size_t>(start) > m_str.size()) return -1;
  return ToIndex(m_str.find(sub, static_cast<size_t>(start)));
}

int CString::ReverseFind(char ch) const { return ToIndex(m_str.rfind(ch)); }

int CString::FindOneOf(const char* set) const {
  if (!set) return -1;
  return ToIndex(m_str.find_first_of(set));
}

CString& CString::MakeUpper() {
  for (char& c : m_str) c = static_cast<char>(FoldUpper(static_cast<unsigned char>(c)));
  return *this;
}

CString& CString::MakeLower() {
  for (char& c : m_str) c = static_cast<char>(FoldLower(static_cast<unsigned char>(c)));
  return *this;
}

CString& CString::MakeReverse() {
  std::reverse(m_str.begin(), m_str.end());
  return *this;
}

CString& CString::Trim() { return TrimRight(kWhiteSpace).TrimLeft(kWhiteSpace); }
CString& CString::Trim(char ch) { return TrimRight(ch).TrimLeft(ch); }
CString& CString::Trim(const char* set) { return TrimRight(set).TrimLeft(set); }
CString& CString::TrimLeft() { return TrimLeft(kWhiteSpace); }
CString& CString::TrimRight() { return TrimRight(kWhiteSpace); }

CString& CString::TrimLeft(char ch) {
  m_str.erase(0, std::min(m_str.find_first_not_of(ch), m_str.size()));
  return *this;
}

CString& CString::TrimLeft(const char* set) {
  if (set) m_str.erase(0, std::min(m_str.find_first_not_of(set), m_str.size()));
  return *this;
}

CString& CString::TrimRight(char ch) {
  m_str.erase(m_str.find_last_not_of(ch) + 1);  // npos + 1 == 0 clears
  return *this;
}

CString& CString::TrimRight(const char* set) {
  if (set) m_str.erase(m_str.find_last_not_of(set) + 1);
  return *this;
}

int CString::Replace(char oldCh, char newCh) {
  if (oldCh == newCh) return 0;
  int count = 0;
  for (char& c : m_str) {
    if (c == oldCh) {
      c = newCh;
      ++count;
    }
  }
  return count;
}

int CString::Replace(const char* oldStr, const char* newStr) {
  if (!oldStr || !*oldStr) return 0;
  const size_t oldLen = std::strlen(oldStr);
  const char* rep = newStr ? newStr : "";
  const size_t repLen = std::strlen(rep);

  // Count first so the result is allocated once. Matches do not overlap and
  // the replacement text is never searched again.
  size_t first = m_str.find(oldStr, 0, oldLen);
  if (first == std::string::npos) return 0;
  size_t count = 0;
  for (size_t p = first; p != std::string::npos; p = m_str.find(oldStr, p + oldLen, oldLen)) ++count;

  // Built in a new string: oldStr or newStr may point into this one.
  std::string out;
  out.reserve(m_str.size() - count * oldLen + count * repLen);
  size_t last = 0;
  for (size_t p = first; p != std::string::npos; p = m_str.find(oldStr, last, oldLen)) {
    out.append(m_str, last, p - last).append(rep, repLen);
    last = p + oldLen;
  }
  out.append(m_str, last, std::string::npos);
  m_str.swap(out);
  return static_cast<int>(count);
}

int CString::Remove(char ch) {
  auto end = std::remove(m_str.begin(), m_str.end(), ch);
  int count = static_cast<int>(m_str.end() - end);
  m_str.erase(end, m_str.end());
  return count;
}

int CString::Insert(int index, char ch) {
  m_str.insert(ClampIndex(index, m_str.size()), 1, ch);
  return GetLength();
}

int CString::Insert(int index, const char* psz) {
  if (psz && *psz) m_str.insert(ClampIndex(index, m_str.size()), psz);
  return GetLength();
}

int CString::Delete(int index, int count) {
  size_t from = ClampIndex(index, m_str.size());
  if (count > 0) m_str.erase(from, static_cast<size_t>(count));  // erase clamps the count
  return GetLength();
}

void CString::Format(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  FormatV(fmt, args);
  va_end(args);
}

void CString::AppendFormat(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  AppendFormatV(fmt, args);
  va_end(args);
}

void CString::FormatV(const char* fmt, va_list args) {
  if (!FormatTo(fmt, args, [this](const char* p, size_t n) { m_str.assign(p, n); })) m_str.clear();
}

void CString::AppendFormatV(const char* fmt, va_list args) {
  FormatTo(fmt, args, [this](const char* p, size_t n) { m_str.append(p, n); });
}

char* CString::GetBuffer(int minLength) {
  if (minLength > 0 && static_cast<size_t>(minLength) > m_str.size())
    m_str.resize(static_cast<size_t>(minLength));
  return &m_str[0];
}

char* CString::GetBufferSetLength(int len) {
  m_str.resize(len > 0 ? static_cast<size_t>(len) : 0);
  return &m_str[0];
}

void CString::ReleaseBuffer(int newLength) {
  // The buffer is the string's own storage: its size is the current length.
  size_t n = newLength < 0 ? strnlen(m_str.data(), m_str.size())
                           : std::min(static_cast<size_t>(newLength), m_str.size());
  m_str.resize(n);
}

void CString::Preallocate(int len) {
  if (len > 0) m_str.reserve(static_cast<size_t>(len));
}

CString operator+(const CString& a, const CString& b) {
  std::string r;
  r.reserve(a.str().size() + b.str().size());
  r.append(a.str()).append(b.str());
  return CString(std::move(r));
}

CString operator+(const CString& a, const char* b) {
  if (!b) return a;
  size_t nb = std::strlen(b);
  std::string r;
  r.reserve(a.str().size() + nb);
  r.append(a.str()).append(b, nb);
  return CString(std::move(r));
}

CString operator+(const char* a, const CString& b) {
  if (!a) return b;
  size_t na = std::strlen(a);
  std::string r;
  r.reserve(na + b.str().size());
  r.append(a, na).append(b.str());
  return CString(std::move(r));
}

CString operator+(const CString& a, char b) {
  std::string r;
  r.reserve(a.str().size() + 1);
  r.append(a.str()).push_back(b);
  return CString(std::move(r));
}

CString operator+(char a, const CString& b) {
  std::string r;
  r.reserve(1 + b.str().size());
  r.append(1, a).append(b.str());
  return CString(std::move(r));
}

std::ostream& operator<<(std::ostream& os, const CString& s) {
  return os.write(s.str().data(), static_cast<std::streamsize>(s.str().size()));
}
