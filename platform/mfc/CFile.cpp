#include "platform/mfc/CFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/posix/PathCase.h"

namespace {

// Closes fd, ignoring EINTR: on Linux the descriptor is released either way.
int CloseFd(int fd) {
  const int rc = ::close(fd);
  return (rc != 0 && errno == EINTR) ? 0 : rc;
}

void FillError(CFileException* error, int err, const char* fileName) {
  if (!error) return;
  error->m_cause = CFileException::OsErrorToException(err);
  error->m_lOsError = err;
  error->m_strFileName = fileName;
}

// Last component of a path, and that component without its extension.
CString LeafOf(const CString& path) { return path.Mid(path.ReverseFind('/') + 1); }

CString TitleOf(const CString& path) {
  const CString leaf = LeafOf(path);
  const int dot = leaf.ReverseFind('.');
  return dot > 0 ? leaf.Left(dot) : leaf;
}

// One fcntl record lock request. Open-file-description locks belong to the
// handle rather than the process, like Windows locks, so two CFile objects on
// the same file conflict and closing one does not drop the other's locks.
// Kernels without them get classic process-wide locks.
int SetLock(int fd, short type, ULONGLONG pos, ULONGLONG count) {
  struct flock lock = {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = static_cast<off_t>(pos);
  lock.l_len = static_cast<off_t>(count);
  lock.l_pid = 0;
#ifdef F_OFD_SETLK
  if (::fcntl(fd, F_OFD_SETLK, &lock) == 0) return 0;
  if (errno != EINVAL) return -1;
  lock.l_pid = 0;
#endif
  return ::fcntl(fd, F_SETLK, &lock);
}

void FillStatus(const struct stat& st, const char* name, CFileStatus& status) {
  status.m_ctime = CTime(st.st_ctime);
  status.m_mtime = CTime(st.st_mtime);
  status.m_atime = CTime(st.st_atime);
  status.m_size = static_cast<ULONGLONG>(st.st_size);
  BYTE attr = CFile::normal;
  if (S_ISDIR(st.st_mode)) attr |= CFile::directory;
  if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) attr |= CFile::readOnly;
  const char* slash = std::strrchr(name, '/');
  const char* leaf = slash ? slash + 1 : name;
  if (leaf[0] == '.' && std::strcmp(leaf, ".") != 0 && std::strcmp(leaf, "..") != 0)
    attr |= CFile::hidden;  // dot files are the Unix hidden files
  status.m_attribute = attr;

  char full[PATH_MAX];
  const char* src = ::realpath(name, full) ? full : name;
  std::snprintf(status.m_szFullName, sizeof status.m_szFullName, "%s", src);
}

}  // namespace

CFile::CFile() : m_hFile(hFileNull), m_bCloseOnDelete(FALSE) {}

CFile::CFile(const char* fileName, UINT openFlags) : CFile() {
  CFileException error;
  if (!Open(fileName, openFlags, &error)) throw error;
}

CFile::~CFile() {
  if (m_hFile != hFileNull && m_bCloseOnDelete) CloseFd(m_hFile);
}

void CFile::ThrowError(int err) const { CFileException::ThrowOsError(err, m_strFileName); }

void CFile::CheckOpen() const {
  if (m_hFile == hFileNull) throw CFileException(CFileException::invalidFile, EBADF, m_strFileName);
}

ULONGLONG CFile::GetPosition() const {
  CheckOpen();
  const off_t pos = ::lseek(m_hFile, 0, SEEK_CUR);
  if (pos < 0) ThrowError(errno);
  return static_cast<ULONGLONG>(pos);
}

CString CFile::GetFileName() const { return LeafOf(m_strFileName); }

CString CFile::GetFileTitle() const { return TitleOf(m_strFileName); }

CString CFile::GetFilePath() const { return m_strFileName; }

void CFile::SetFilePath(const char* newName) { m_strFileName = newName; }

BOOL CFile::Open(const char* fileName, UINT openFlags, CFileException* error) {
  const char* name = fileName ? fileName : "";
  if (m_hFile != hFileNull) {
    if (error) *error = CFileException(CFileException::genericException, -1, name);
    return FALSE;
  }

  int flags = O_CLOEXEC;
  switch (openFlags & 0x3) {
    case modeRead:
      flags |= O_RDONLY;
      break;
    case modeWrite:
      flags |= O_WRONLY;
      break;
    case modeReadWrite:
      flags |= O_RDWR;
      break;
    default:
      FillError(error, EINVAL, name);
      return FALSE;
  }
  // The share flags are accepted and ignored: Linux has no mandatory share
  // modes, and advisory locks would only bind programs that ask for them.
  // modeNoInherit needs nothing either, every descriptor is close-on-exec.
  const bool create = (openFlags & modeCreate) != 0;
  const bool truncate = create && (openFlags & modeNoTruncate) == 0;
  if (create) flags |= O_CREAT;
  if (truncate) flags |= O_TRUNC;

  // A file that must already exist, or may, is found whatever the case of its
  // name; a file created afresh gets exactly the name asked for.
  const std::string path = truncate ? std::string(name) : VtResolvePathCase(name);

  int fd;
  do {
    fd = ::open(path.c_str(), flags, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    FillError(error, errno, path.c_str());
    return FALSE;
  }
  // Windows refuses to open a directory as a file; read-only open() does not.
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    CloseFd(fd);
    FillError(error, EISDIR, path.c_str());
    return FALSE;
  }

  m_hFile = fd;
  m_bCloseOnDelete = TRUE;
  m_strFileName = CString(path);
  return TRUE;
}

CFile* CFile::Duplicate() const {
  CheckOpen();
  const int fd = ::fcntl(m_hFile, F_DUPFD_CLOEXEC, 0);
  if (fd < 0) ThrowError(errno);
  CFile* copy = new CFile;
  copy->m_hFile = fd;
  copy->m_bCloseOnDelete = TRUE;
  copy->m_strFileName = m_strFileName;
  return copy;
}

int CFile::SeekOrigin(UINT from) const {
  switch (from) {
    case begin:
      return SEEK_SET;
    case current:
      return SEEK_CUR;
    case end:
      return SEEK_END;
    default:
      throw CFileException(CFileException::badSeek, EINVAL, m_strFileName);
  }
}

ULONGLONG CFile::Seek(LONGLONG offset, UINT from) {
  CheckOpen();
  const int whence = SeekOrigin(from);
  const off_t pos = ::lseek(m_hFile, static_cast<off_t>(offset), whence);
  if (pos < 0) {
    // EINVAL from lseek: the resulting position would be negative.
    if (errno == EINVAL) throw CFileException(CFileException::badSeek, EINVAL, m_strFileName);
    ThrowError(errno);
  }
  return static_cast<ULONGLONG>(pos);
}

void CFile::SetLength(ULONGLONG newLength) {
  CheckOpen();
  if (newLength > static_cast<ULONGLONG>(LLONG_MAX))
    throw CFileException(CFileException::badSeek, EINVAL, m_strFileName);
  int rc;
  do {
    rc = ::ftruncate(m_hFile, static_cast<off_t>(newLength));
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) ThrowError(errno == EBADF || errno == EINVAL ? EACCES : errno);
}

ULONGLONG CFile::GetLength() const {
  CheckOpen();
  struct stat st;
  if (::fstat(m_hFile, &st) != 0) ThrowError(errno);
  return static_cast<ULONGLONG>(st.st_size);
}

UINT CFile::Read(void* buf, UINT count) {
  CheckOpen();
  char* out = static_cast<char*>(buf);
  UINT done = 0;
  while (done < count) {
    const ssize_t n = ::read(m_hFile, out + done, count - done);
    if (n > 0) {
      done += static_cast<UINT>(n);
    } else if (n == 0) {
      break;  // end of file
    } else if (errno != EINTR) {
      // EBADF on an open descriptor: it was opened write-only.
      ThrowError(errno == EBADF ? EACCES : errno);
    }
  }
  return done;
}

void CFile::Write(const void* buf, UINT count) {
  CheckOpen();
  const char* in = static_cast<const char*>(buf);
  UINT done = 0;
  while (done < count) {
    const ssize_t n = ::write(m_hFile, in + done, count - done);
    if (n > 0)
      done += static_cast<UINT>(n);
    else if (n == 0)
      ThrowError(ENOSPC);  // nothing taken and no error: the device is full
    else if (errno != EINTR)
      ThrowError(errno == EBADF ? EACCES : errno);  // EBADF: opened read-only
  }
}

void CFile::LockRange(ULONGLONG pos, ULONGLONG count) {
  CheckOpen();
  // An exclusive lock needs a descriptor open for writing; a read-only one
  // gets a shared lock, which still keeps writers' exclusive locks out.
  const int mode = ::fcntl(m_hFile, F_GETFL);
  const short type = (mode >= 0 && (mode & O_ACCMODE) == O_RDONLY) ? F_RDLCK : F_WRLCK;
  if (SetLock(m_hFile, type, pos, count) != 0) {
    const int err = errno;
    if (err == EACCES || err == EAGAIN)
      throw CFileException(CFileException::lockViolation, err, m_strFileName);
    ThrowError(err);
  }
}

void CFile::UnlockRange(ULONGLONG pos, ULONGLONG count) {
  CheckOpen();
  if (SetLock(m_hFile, F_UNLCK, pos, count) != 0) ThrowError(errno);
}

void CFile::Abort() {
  if (m_hFile != hFileNull) {
    CloseFd(m_hFile);
    m_hFile = hFileNull;
  }
  m_strFileName.Empty();
}

void CFile::Flush() {
  if (m_hFile == hFileNull) return;
  // Data handed to write() is already visible to every reader; Flush also
  // makes it durable, as FlushFileBuffers does. Pipes and character devices
  // cannot be synced, which is not an error.
  if (::fdatasync(m_hFile) != 0 && errno != EINVAL && errno != EROFS) ThrowError(errno);
}

void CFile::Close() {
  if (m_hFile == hFileNull) return;
  const int rc = CloseFd(m_hFile);
  const int err = errno;
  const CString name = m_strFileName;
  m_hFile = hFileNull;
  m_strFileName.Empty();
  if (rc != 0) CFileException::ThrowOsError(err, name);
}

UINT CFile::GetBufferPtr(UINT, UINT, void** bufStart, void** bufMax) {
  // Plain files have no buffer to hand out.
  if (bufStart) *bufStart = nullptr;
  if (bufMax) *bufMax = nullptr;
  return 0;
}

BOOL CFile::GetStatus(CFileStatus& status) const {
  struct stat st;
  if (m_hFile == hFileNull || ::fstat(m_hFile, &st) != 0) return FALSE;
  FillStatus(st, m_strFileName, status);
  return TRUE;
}

BOOL CFile::GetStatus(const char* fileName, CFileStatus& status) {
  if (!fileName) return FALSE;
  const std::string path = VtResolvePathCase(fileName);
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return FALSE;
  FillStatus(st, path.c_str(), status);
  return TRUE;
}

void CFile::Rename(const char* oldName, const char* newName) {
  const std::string from = VtResolvePathCase(oldName ? oldName : "");
  if (::rename(from.c_str(), newName ? newName : "") != 0) CFileException::ThrowOsError(errno, from.c_str());
}

void CFile::Remove(const char* fileName) {
  const std::string path = VtResolvePathCase(fileName ? fileName : "");
  if (::unlink(path.c_str()) != 0)
    CFileException::ThrowOsError(errno == EISDIR ? EACCES : errno, path.c_str());
}
