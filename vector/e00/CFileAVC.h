// A placeholder for Arc/Info coverage files: the class is exported so that
// modules built against it keep linking; it reads and writes nothing.
#pragma once

#include "platform/win/windef.h"

class CFileAVC {
 public:
  CFileAVC() = default;
  CFileAVC(const CFileAVC&) = default;
  CFileAVC& operator=(const CFileAVC&) = default;
  virtual ~CFileAVC();

  DWORD m_dwReserved = 0;  // no operation reads or writes it
};
