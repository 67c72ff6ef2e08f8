#include "platform/mfc/CException.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

void CException::CopyMessage(const std::string& text, char* buf, UINT max) {
  if (!buf || max == 0) return;
  const size_t n = std::min<size_t>(text.size(), max - 1);
  std::memcpy(buf, text.data(), n);
  buf[n] = '\0';
}

BOOL CException::GetErrorMessage(char* buf, UINT max, UINT* help) const {
  if (help) *help = 0;
  CopyMessage(std::string(), buf, max);
  return FALSE;
}

const char* CException::what() const noexcept { return "unknown exception"; }

CFileException::CFileException(int cause, LONG osError, const char* fileName)
    : m_cause(cause), m_lOsError(osError), m_strFileName(fileName) {}

int CFileException::OsErrorToException(LONG errnoValue) {
  switch (errnoValue) {
    case 0:
      return none;
    case ENOENT:
      return fileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
      return badPath;
    case EMFILE:
    case ENFILE:
      return tooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
      return accessDenied;
    case EBADF:
      return invalidFile;
    case ENOSPC:
    case EDQUOT:
      return diskFull;
    case EIO:
      return hardIO;
    case ESPIPE:
      return badSeek;  // EINVAL means a bad seek only for lseek; CFile::Seek maps it there
    default:
      return genericException;
  }
}

void CFileException::ThrowOsError(LONG errnoValue, const char* fileName) {
  throw CFileException(OsErrorToException(errnoValue), errnoValue, fileName);
}

namespace {

const char* CauseText(int cause) {
  switch (cause) {
    case CFileException::none:
      return "No error";
    case CFileException::fileNotFound:
      return "File not found";
    case CFileException::badPath:
      return "Invalid path";
    case CFileException::tooManyOpenFiles:
      return "Too many open files";
    case CFileException::accessDenied:
      return "Access denied";
    case CFileException::invalidFile:
      return "Invalid file handle";
    case CFileException::removeCurrentDir:
      return "Cannot remove the current directory";
    case CFileException::directoryFull:
      return "Directory full";
    case CFileException::badSeek:
      return "Bad seek";
    case CFileException::hardIO:
      return "Hardware I/O error";
    case CFileException::sharingViolation:
      return "Sharing violation";
    case CFileException::lockViolation:
      return "Lock violation";
    case CFileException::diskFull:
      return "Disk full";
    case CFileException::endOfFile:
      return "Unexpected end of file";
    default:
      return "File error";
  }
}

}  // namespace

std::string CFileException::Message() const {
  std::string text = CauseText(m_cause);
  text += m_strFileName.IsEmpty() ? std::string(" (unnamed file)") : ": '" + m_strFileName.str() + "'";
  if (m_lOsError > 0) {
    text += " (";
    text += std::strerror(m_lOsError);
    text += ')';
  }
  return text;
}

BOOL CFileException::GetErrorMessage(char* buf, UINT max, UINT* help) const {
  if (help) *help = 0;
  CopyMessage(Message(), buf, max);
  return TRUE;
}

const char* CFileException::what() const noexcept {
  try {
    m_what = Message();
    return m_what.c_str();
  } catch (...) {
    return "file error";
  }
}
