// MFC's CFileFind over a directory listing.
// A name without wildcards finds that one file, whatever the case of its last
// component; a '*'/'?' pattern in the last component matches the directory's
// entries ignoring ASCII case, as Windows does. Matches come sorted by name.
//
// Protocol, as in MFC: FindFile starts a search; FindNextFile moves to the
// next match and returns FALSE when that match is the last one (the match is
// still readable). So:
//   BOOL more = finder.FindFile("dir/*.txt");
//   while (more) { more = finder.FindNextFile(); use(finder.GetFilePath()); }
#pragma once

#include <string>
#include <vector>

#include "platform/mfc/CString.h"
#include "platform/win/windef.h"

class CFileFind {
 public:
  CFileFind() = default;
  virtual ~CFileFind() = default;

  // FALSE when nothing matches. Like Windows, "." and ".." match "*" and "*.*";
  // skip them with IsDots.
  virtual BOOL FindFile(const char* name = "*.*", DWORD unused = 0);
  virtual BOOL FindNextFile();
  void Close();

  // Valid after FindNextFile. GetFilePath() == GetRoot() + GetFileName().
  CString GetFilePath() const;
  CString GetFileName() const;
  CString GetFileTitle() const;  // the name without its extension
  CString GetRoot() const;       // the directory part of the search, with its '/'
  ULONGLONG GetLength() const;
  BOOL IsDirectory() const;
  BOOL IsDots() const;

 private:
  struct Entry {
    std::string name;
    bool isDirectory = false;
    ULONGLONG size = 0;
  };
  const Entry* Current() const;

  std::string m_root;
  std::vector<Entry> m_entries;
  int m_index = -1;  // -1 until the first FindNextFile
};
