// MFC's CStdioFile: a CFile read and written through a buffered FILE stream.
// m_pStream is public, as in MFC, because text parsers fscanf on it directly;
// m_hFile holds the stream's descriptor so LockRange and GetStatus still work.
// Text and binary mode are the same on Linux, except for ReadString, which
// reads Windows CR LF line ends as LF whatever the mode.
#pragma once

#include <cstdio>
#include <memory>

#include "platform/mfc/CFile.h"

class CStdioFile : public CFile {
 public:
  CStdioFile();
  // Wraps a stream the caller opened and keeps owning (stdin, popen...).
  explicit CStdioFile(FILE* openStream);
  // Opens the file; throws CFileException on failure.
  CStdioFile(const char* fileName, UINT openFlags);
  ~CStdioFile() override;

  BOOL Open(const char* fileName, UINT openFlags, CFileException* error = nullptr) override;
  // A stream cannot be duplicated: returns nullptr.
  CFile* Duplicate() const override;
  ULONGLONG GetPosition() const override;
  ULONGLONG Seek(LONGLONG offset, UINT from) override;
  void SetLength(ULONGLONG newLength) override;
  ULONGLONG GetLength() const override;
  UINT Read(void* buf, UINT count) override;
  void Write(const void* buf, UINT count) override;
  void Abort() override;
  void Flush() override;
  void Close() override;

  // The next line without its line end ("\n", or "\r\n"); FALSE at end of
  // file when nothing was read. Lines may be of any length and hold NULs.
  BOOL ReadString(CString& line);
  // fgets: at most max - 1 chars, the '\n' kept, NUL-terminated; nullptr at
  // end of file. "\r\n" is stored as "\n".
  char* ReadString(char* buf, UINT max);
  // Writes text as it is; line ends are the caller's ("\n" on Linux).
  void WriteString(const char* text);

  FILE* m_pStream;

 private:
  void CheckStream() const;
  [[noreturn]] void ThrowStreamError() const;

  std::unique_ptr<char[]> m_streamBuf;  // the stream's 64 KiB buffer
  char* m_lineBuf = nullptr;            // getline's buffer, reused from line to line
  size_t m_lineCap = 0;
};
