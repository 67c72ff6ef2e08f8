#include "platform/mfc/CStdioFile.h"

#include <stdio_ext.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace {

const size_t kStreamBufferSize = 64 * 1024;

// Throws for a failed stream operation; a failure that left errno at 0 is an
// I/O error as far as the caller can tell.
[[noreturn]] void ThrowErrno(int err, const CString& name) {
  CFileException::ThrowOsError(err != 0 ? err : EIO, name);
}

}  // namespace

CStdioFile::CStdioFile() : m_pStream(nullptr) {}

CStdioFile::CStdioFile(FILE* openStream) : m_pStream(openStream) {
  if (openStream) m_hFile = ::fileno(openStream);
  m_bCloseOnDelete = FALSE;
}

CStdioFile::CStdioFile(const char* fileName, UINT openFlags) : CStdioFile() {
  CFileException error;
  if (!Open(fileName, openFlags, &error)) throw error;
}

CStdioFile::~CStdioFile() {
  if (m_pStream && m_bCloseOnDelete) ::fclose(m_pStream);
  // The descriptor went with the stream (or belongs to the caller's stream):
  // keep ~CFile from closing it again.
  m_pStream = nullptr;
  m_hFile = hFileNull;
  std::free(m_lineBuf);
}

void CStdioFile::CheckStream() const {
  if (!m_pStream) throw CFileException(CFileException::invalidFile, EBADF, m_strFileName);
}

void CStdioFile::ThrowStreamError() const { ThrowErrno(errno, m_strFileName); }

BOOL CStdioFile::Open(const char* fileName, UINT openFlags, CFileException* error) {
  if (m_pStream) {
    if (error) *error = CFileException(CFileException::genericException, -1, fileName);
    return FALSE;
  }
  // The descriptor is opened by CFile so both classes agree on creation,
  // truncation, name case and directories; fdopen then neither truncates nor
  // creates, it only wraps the descriptor with the matching access.
  if (!CFile::Open(fileName, openFlags, error)) return FALSE;
  const char* mode = "rb";
  if ((openFlags & 0x3) == modeWrite)
    mode = "wb";
  else if ((openFlags & 0x3) == modeReadWrite)
    mode = "r+b";
  m_pStream = ::fdopen(m_hFile, mode);
  if (!m_pStream) {
    const int err = errno;
    const CString name = m_strFileName;
    CFile::Abort();
    if (error) *error = CFileException(CFileException::OsErrorToException(err), err, name);
    return FALSE;
  }
  // Large reads and writes go through a big buffer: the drivers read text
  // files of hundreds of megabytes line by line.
  m_streamBuf.reset(new char[kStreamBufferSize]);
  ::setvbuf(m_pStream, m_streamBuf.get(), _IOFBF, kStreamBufferSize);
  return TRUE;
}

CFile* CStdioFile::Duplicate() const {
  // A second stream over one descriptor would share its buffer state.
  throw CFileException(CFileException::genericException, ENOTSUP, m_strFileName);
}

ULONGLONG CStdioFile::GetPosition() const {
  CheckStream();
  const off_t pos = ::ftello(m_pStream);
  if (pos < 0) ThrowStreamError();
  return static_cast<ULONGLONG>(pos);
}

ULONGLONG CStdioFile::Seek(LONGLONG offset, UINT from) {
  CheckStream();
  const int whence = SeekOrigin(from);
  if (::fseeko(m_pStream, static_cast<off_t>(offset), whence) != 0) {
    if (errno == EINVAL) throw CFileException(CFileException::badSeek, EINVAL, m_strFileName);
    ThrowStreamError();
  }
  return GetPosition();
}

void CStdioFile::SetLength(ULONGLONG newLength) {
  CheckStream();
  // Buffered output must reach the file before it is cut or extended.
  if (::fflush(m_pStream) != 0) ThrowStreamError();
  CFile::SetLength(newLength);
}

ULONGLONG CStdioFile::GetLength() const {
  CheckStream();
  // Only output still in the buffer can make the descriptor's size stale;
  // flushing just then keeps a reader's buffer intact.
  if (::__fpending(m_pStream) > 0 && ::fflush(m_pStream) != 0) ThrowStreamError();
  return CFile::GetLength();
}

UINT CStdioFile::Read(void* buf, UINT count) {
  CheckStream();
  if (count == 0) return 0;
  const size_t n = ::fread(buf, 1, count, m_pStream);
  if (n < count && ::ferror(m_pStream)) {
    const int err = errno;
    ::clearerr(m_pStream);
    ThrowErrno(err == EBADF ? EACCES : err, m_strFileName);  // EBADF: opened write-only
  }
  return static_cast<UINT>(n);
}

void CStdioFile::Write(const void* buf, UINT count) {
  CheckStream();
  if (count == 0) return;
  if (::fwrite(buf, 1, count, m_pStream) != count) {
    const int err = errno;
    ::clearerr(m_pStream);
    ThrowErrno(err == EBADF ? EACCES : err, m_strFileName);  // EBADF: opened read-only
  }
}

void CStdioFile::Abort() {
  // Like CFile::Abort, closes even a stream the object was handed.
  if (m_pStream) ::fclose(m_pStream);
  m_pStream = nullptr;
  m_hFile = hFileNull;
  m_strFileName.Empty();
  m_streamBuf.reset();
}

void CStdioFile::Flush() {
  if (m_pStream && ::fflush(m_pStream) != 0) ThrowStreamError();
}

void CStdioFile::Close() {
  if (!m_pStream) return;
  // fclose writes what is still buffered, so a full disk shows up here. Like
  // CFile::Close, this closes even a stream the object was handed.
  const int rc = ::fclose(m_pStream);
  const int err = errno;
  const CString name = m_strFileName;
  m_pStream = nullptr;
  m_hFile = hFileNull;
  m_strFileName.Empty();
  m_streamBuf.reset();
  if (rc != 0) ThrowErrno(err, name);
}

BOOL CStdioFile::ReadString(CString& line) {
  CheckStream();
  const ssize_t n = ::getline(&m_lineBuf, &m_lineCap, m_pStream);
  if (n < 0) {
    // getline also fails without the error flag (no memory for a huge
    // line); only a real end of file may read as one.
    if (::ferror(m_pStream) || !::feof(m_pStream)) {
      const int err = errno;
      ::clearerr(m_pStream);
      ThrowErrno(err, m_strFileName);
    }
    line.Empty();
    return FALSE;
  }
  size_t len = static_cast<size_t>(n);
  if (len > 0 && m_lineBuf[len - 1] == '\n') {
    --len;
    if (len > 0 && m_lineBuf[len - 1] == '\r') --len;
  }
  if (len > static_cast<size_t>(INT_MAX))
    throw CFileException(CFileException::genericException, EOVERFLOW, m_strFileName);
  line = CString(m_lineBuf, static_cast<int>(len));
  return TRUE;
}

char* CStdioFile::ReadString(char* buf, UINT max) {
  CheckStream();
  if (!buf || max == 0) return nullptr;
  // One lock for the whole line, then the unlocked getc: as fast as fgets.
  ::flockfile(m_pStream);
  UINT len = 0;
  int c = 0;
  while (len + 1 < max) {
    c = ::getc_unlocked(m_pStream);
    if (c == EOF) break;
    if (c == '\r') {
      // Look one char ahead, even when this CR is the last char that fits,
      // so that a CR LF split by the buffer size still reads as one LF.
      const int next = ::getc_unlocked(m_pStream);
      if (next == '\n')
        c = '\n';
      else if (next != EOF)
        ::ungetc(next, m_pStream);
    }
    buf[len++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  const bool failed = ::ferror_unlocked(m_pStream) != 0;
  const int err = errno;
  if (failed) ::clearerr_unlocked(m_pStream);
  ::funlockfile(m_pStream);
  if (failed) ThrowErrno(err, m_strFileName);
  buf[len] = '\0';
  return len == 0 && c == EOF ? nullptr : buf;
}

void CStdioFile::WriteString(const char* text) {
  CheckStream();
  if (!text || !*text) return;
  if (::fputs(text, m_pStream) == EOF) {
    const int err = errno;
    ::clearerr(m_pStream);
    ThrowErrno(err == EBADF ? EACCES : err, m_strFileName);
  }
}
