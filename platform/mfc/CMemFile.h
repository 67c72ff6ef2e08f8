// MFC's CMemFile: a CFile held in memory. It owns a growing buffer, or reads
// and writes a caller's buffer of fixed size in place (never growing or
// freeing it). Writing past the end of a fixed buffer throws
// CFileException(diskFull); reading stops at the end of the data.
#pragma once

#include <vector>

#include "platform/mfc/CFile.h"

class CMemFile : public CFile {
 public:
  explicit CMemFile(UINT growBytes = 1024);
  // Works on `size` bytes of the caller's `buffer`, all of them data.
  CMemFile(BYTE* buffer, UINT size, UINT growBytes = 0);
  ~CMemFile() override;

  ULONGLONG GetPosition() const override;
  ULONGLONG Seek(LONGLONG offset, UINT from) override;
  void SetLength(ULONGLONG newLength) override;
  ULONGLONG GetLength() const override;
  UINT Read(void* buf, UINT count) override;
  void Write(const void* buf, UINT count) override;
  void Flush() override {}
  void Close() override;
  void Abort() override { Close(); }
  CFile* Duplicate() const override;
  void LockRange(ULONGLONG, ULONGLONG) override;
  void UnlockRange(ULONGLONG, ULONGLONG) override;

  // Not in MFC: the data, GetLength() bytes.
  const BYTE* GetData() const { return m_pFixed ? m_pFixed : m_owned.data(); }

 private:
  BYTE* Data() { return m_pFixed ? m_pFixed : m_owned.data(); }

  std::vector<BYTE> m_owned;
  BYTE* m_pFixed = nullptr;
  ULONGLONG m_nFixedSize = 0;
  ULONGLONG m_nLength = 0;
  ULONGLONG m_nPosition = 0;
};
