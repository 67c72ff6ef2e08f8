// The MFC exception classes the file layer throws.
// CFileException is thrown by value and caught by reference. Delete() exists so
// code written for MFC's heap-allocated exceptions ("catch (CException* e) {
// e->Delete(); }" turned into references) still compiles; it does nothing.
#pragma once

#include <exception>
#include <string>

#include "platform/mfc/CString.h"
#include "platform/win/windef.h"

class CException : public std::exception {
 public:
  CException() = default;
  ~CException() override = default;

  // Copies a NUL-terminated message, truncated to max - 1 chars, into buf.
  // The base class has no message: it writes "" and returns FALSE.
  virtual BOOL GetErrorMessage(char* buf, UINT max, UINT* help = nullptr) const;
  const char* what() const noexcept override;
  void Delete() {}

 protected:
  // Shared by the overrides: copies text into buf the way GetErrorMessage must.
  static void CopyMessage(const std::string& text, char* buf, UINT max);
};

class CFileException : public CException {
 public:
  enum {
    none = 0,
    genericException = 1,
    fileNotFound = 2,
    badPath = 3,
    tooManyOpenFiles = 4,
    accessDenied = 5,
    invalidFile = 6,
    removeCurrentDir = 7,
    directoryFull = 8,
    badSeek = 9,
    hardIO = 10,
    sharingViolation = 11,
    lockViolation = 12,
    diskFull = 13,
    endOfFile = 14
  };

  // osError is an errno value; -1 (or 0) means "no system error recorded".
  explicit CFileException(int cause = none, LONG osError = -1, const char* fileName = nullptr);

  // Maps an errno value to one of the causes above.
  static int OsErrorToException(LONG errnoValue);
  // Throws CFileException(OsErrorToException(errnoValue), errnoValue, fileName).
  [[noreturn]] static void ThrowOsError(LONG errnoValue, const char* fileName = nullptr);

  BOOL GetErrorMessage(char* buf, UINT max, UINT* help = nullptr) const override;
  const char* what() const noexcept override;

  // "File not found: 'a/b.ifo' (No such file or directory)". Built from the
  // public members each time, since callers may change them after construction.
  std::string Message() const;

  int m_cause;
  LONG m_lOsError;
  CString m_strFileName;

 private:
  mutable std::string m_what;  // keeps the text what() returned alive
};
