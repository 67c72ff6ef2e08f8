// MFC's CFile over a POSIX file descriptor.
// Failures of Read, Write, Seek and the other operations on an open file throw
// CFileException by value; Open reports failure through its return value and
// the optional CFileException record instead. Offsets are 64-bit.
#pragma once

#include "platform/mfc/CException.h"
#include "platform/mfc/CObject.h"
#include "platform/mfc/CString.h"
#include "platform/mfc/CTime.h"
#include "platform/win/windef.h"

struct CFileStatus {
  CTime m_ctime;  // status change time (Linux keeps no creation time everywhere)
  CTime m_mtime;
  CTime m_atime;
  ULONGLONG m_size = 0;
  BYTE m_attribute = 0;  // CFile::Attribute bits
  char m_szFullName[4096] = {};
};

class CFile : public CObject {
 public:
  enum OpenFlags : UINT {
    modeRead = 0x0000,
    modeWrite = 0x0001,
    modeReadWrite = 0x0002,
    shareCompat = 0x0000,
    shareExclusive = 0x0010,
    shareDenyWrite = 0x0020,
    shareDenyRead = 0x0030,
    shareDenyNone = 0x0040,
    modeNoInherit = 0x0080,
    modeCreate = 0x1000,
    modeNoTruncate = 0x2000,
    typeText = 0x4000,
    typeBinary = 0x8000
  };
  enum Attribute : BYTE {
    normal = 0x00,
    readOnly = 0x01,
    hidden = 0x02,
    system = 0x04,
    volume = 0x08,
    directory = 0x10,
    archive = 0x20
  };
  enum SeekPosition { begin = 0, current = 1, end = 2 };
  enum BufferCommand { bufferRead, bufferWrite, bufferCommit, bufferCheck };

  static constexpr int hFileNull = -1;  // inline: usable by reference too

  CFile();
  // Opens the file; throws CFileException on failure.
  CFile(const char* fileName, UINT openFlags);
  CFile(const CFile&) = delete;
  CFile& operator=(const CFile&) = delete;

  virtual ~CFile();
  virtual ULONGLONG GetPosition() const;
  virtual CString GetFileName() const;
  virtual CString GetFileTitle() const;
  virtual CString GetFilePath() const;
  virtual void SetFilePath(const char* newName);
  virtual BOOL Open(const char* fileName, UINT openFlags, CFileException* error = nullptr);
  virtual CFile* Duplicate() const;
  virtual ULONGLONG Seek(LONGLONG offset, UINT from);
  virtual void SetLength(ULONGLONG newLength);
  virtual ULONGLONG GetLength() const;
  virtual UINT Read(void* buf, UINT count);
  virtual void Write(const void* buf, UINT count);
  virtual void LockRange(ULONGLONG pos, ULONGLONG count);
  virtual void UnlockRange(ULONGLONG pos, ULONGLONG count);
  virtual void Abort();
  virtual void Flush();
  virtual void Close();
  virtual UINT GetBufferPtr(UINT command, UINT count = 0, void** bufStart = nullptr, void** bufMax = nullptr);

  void SeekToBegin() { Seek(0, begin); }
  ULONGLONG SeekToEnd() { return Seek(0, end); }

  // Status of the open file, or of a file by name (resolved ignoring case).
  BOOL GetStatus(CFileStatus& status) const;
  static BOOL GetStatus(const char* fileName, CFileStatus& status);
  // Throw CFileException on failure, like MFC's.
  static void Rename(const char* oldName, const char* newName);
  static void Remove(const char* fileName);

  int m_hFile;
  BOOL m_bCloseOnDelete;

 protected:
  // Throws the CFileException for errno value err on this file.
  [[noreturn]] void ThrowError(int err) const;
  // The lseek origin of a SeekPosition; throws badSeek for any other value.
  int SeekOrigin(UINT from) const;
  // Throws invalidFile when the file is not open.
  void CheckOpen() const;

  CString m_strFileName;  // the path actually opened
};
