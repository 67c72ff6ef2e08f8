#include "platform/mfc/CFileFind.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>

#include "platform/posix/PathCase.h"

namespace {

char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c; }

// '*' matches any run of chars, '?' any one char, the rest ignoring ASCII
// case. Iterative, backtracking only to the last '*', so no pattern can make
// it exponential.
bool MatchWildcard(const char* pat, const char* name) {
  const char* starPat = nullptr;
  const char* starName = nullptr;
  while (*name) {
    if (*pat == '*') {
      starPat = ++pat;
      starName = name;
    } else if (*pat == '?' || (*pat && FoldAscii(*pat) == FoldAscii(*name))) {
      ++pat;
      ++name;
    } else if (starPat) {
      pat = starPat;
      name = ++starName;
    } else {
      return false;
    }
  }
  while (*pat == '*') ++pat;
  return *pat == '\0';
}

// Windows reads a final ".*" as "any extension or none": "*.*" is every
// name, "dem.*" also finds a plain "dem".
bool MatchesWindows(const std::string& pattern, const char* name) {
  if (MatchWildcard(pattern.c_str(), name)) return true;
  const size_t n = pattern.size();
  if (n >= 2 && pattern[n - 2] == '.' && pattern[n - 1] == '*')
    return MatchWildcard(pattern.substr(0, n - 2).c_str(), name);
  return false;
}

}  // namespace

void CFileFind::Close() {
  m_root.clear();
  m_entries.clear();
  m_index = -1;
}

BOOL CFileFind::FindFile(const char* name, DWORD) {
  Close();
  const std::string pattern = (name && *name) ? name : "*.*";
  const size_t slash = pattern.rfind('/');
  m_root = slash == std::string::npos ? std::string() : pattern.substr(0, slash + 1);
  const std::string leaf = pattern.substr(m_root.size());
  if (leaf.empty()) return FALSE;  // "dir/" names no file

  const char* dirName = m_root.empty() ? "." : m_root.c_str();
  if (leaf.find_first_of("*?") == std::string::npos) {
    const std::string path = VtResolvePathCase(pattern);
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return FALSE;
    m_entries.push_back(
        {path.substr(m_root.size()), S_ISDIR(st.st_mode), static_cast<ULONGLONG>(st.st_size)});
    return TRUE;
  }

  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(dirName), &::closedir);
  if (!dir) return FALSE;
  const int dirFd = ::dirfd(dir.get());
  while (const dirent* entry = ::readdir(dir.get())) {
    if (!MatchesWindows(leaf, entry->d_name)) continue;
    Entry found;
    found.name = entry->d_name;
    // Follow symbolic links, as Windows reports what a link points to; a
    // dangling link is listed as an empty file.
    struct stat st;
    if (::fstatat(dirFd, entry->d_name, &st, 0) == 0) {
      found.isDirectory = S_ISDIR(st.st_mode);
      found.size = static_cast<ULONGLONG>(st.st_size);
    }
    m_entries.push_back(std::move(found));
  }
  std::sort(m_entries.begin(), m_entries.end(),
            [](const Entry& a, const Entry& b) { return a.name < b.name; });
  return m_entries.empty() ? FALSE : TRUE;
}

BOOL CFileFind::FindNextFile() {
  if (m_index + 1 >= static_cast<int>(m_entries.size())) return FALSE;
  ++m_index;
  return m_index + 1 < static_cast<int>(m_entries.size()) ? TRUE : FALSE;
}

const CFileFind::Entry* CFileFind::Current() const {
  if (m_index < 0 || m_index >= static_cast<int>(m_entries.size())) return nullptr;
  return &m_entries[static_cast<size_t>(m_index)];
}

CString CFileFind::GetFilePath() const {
  const Entry* e = Current();
  return e ? CString(m_root + e->name) : CString();
}

CString CFileFind::GetFileName() const {
  const Entry* e = Current();
  return e ? CString(e->name) : CString();
}

CString CFileFind::GetFileTitle() const {
  const Entry* e = Current();
  if (!e || IsDots()) return e ? CString(e->name) : CString();
  const size_t dot = e->name.rfind('.');
  return CString(dot == std::string::npos || dot == 0 ? e->name : e->name.substr(0, dot));
}

CString CFileFind::GetRoot() const { return CString(m_root); }

ULONGLONG CFileFind::GetLength() const {
  const Entry* e = Current();
  return e ? e->size : 0;
}

BOOL CFileFind::IsDirectory() const {
  const Entry* e = Current();
  return e && e->isDirectory ? TRUE : FALSE;
}

BOOL CFileFind::IsDots() const {
  const Entry* e = Current();
  return e && (e->name == "." || e->name == "..") ? TRUE : FALSE;
}
