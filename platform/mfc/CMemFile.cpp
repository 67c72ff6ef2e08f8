#include "platform/mfc/CMemFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

CMemFile::CMemFile(UINT) {}

CMemFile::CMemFile(BYTE* buffer, UINT size, UINT) : m_pFixed(buffer), m_nFixedSize(size), m_nLength(size) {}

CMemFile::~CMemFile() = default;

ULONGLONG CMemFile::GetPosition() const { return m_nPosition; }

ULONGLONG CMemFile::Seek(LONGLONG offset, UINT from) {
  LONGLONG base = 0;
  switch (from) {
    case begin: base = 0; break;
    case current: base = static_cast<LONGLONG>(m_nPosition); break;
    case end: base = static_cast<LONGLONG>(m_nLength); break;
    default: throw CFileException(CFileException::badSeek, EINVAL);
  }
  if ((offset < 0 && base + offset < 0)) throw CFileException(CFileException::badSeek, EINVAL);
  m_nPosition = static_cast<ULONGLONG>(base + offset);
  return m_nPosition;
}

void CMemFile::SetLength(ULONGLONG newLength) {
  if (m_pFixed) {
    if (newLength > m_nFixedSize) throw CFileException(CFileException::diskFull, ENOSPC);
  } else {
    m_owned.resize(static_cast<size_t>(newLength));
  }
  m_nLength = newLength;
  m_nPosition = std::min(m_nPosition, m_nLength);
}

ULONGLONG CMemFile::GetLength() const { return m_nLength; }

UINT CMemFile::Read(void* buf, UINT count) {
  if (m_nPosition >= m_nLength) return 0;
  const UINT n = static_cast<UINT>(std::min<ULONGLONG>(count, m_nLength - m_nPosition));
  std::memcpy(buf, Data() + m_nPosition, n);
  m_nPosition += n;
  return n;
}

void CMemFile::Write(const void* buf, UINT count) {
  if (count == 0) return;
  const ULONGLONG end = m_nPosition + count;
  if (m_pFixed) {
    if (end > m_nFixedSize) throw CFileException(CFileException::diskFull, ENOSPC);
  } else if (end > m_owned.size()) {
    // Geometric growth keeps long runs of small writes linear.
    m_owned.reserve(std::max<size_t>(static_cast<size_t>(end), m_owned.capacity() * 2));
    m_owned.resize(static_cast<size_t>(end));
  }
  std::memcpy(Data() + m_nPosition, buf, count);
  m_nPosition = end;
  m_nLength = std::max(m_nLength, end);
}

void CMemFile::Close() {
  m_owned.clear();
  m_owned.shrink_to_fit();
  m_pFixed = nullptr;
  m_nFixedSize = m_nLength = m_nPosition = 0;
}

CFile* CMemFile::Duplicate() const { throw CFileException(CFileException::genericException, ENOTSUP); }

void CMemFile::LockRange(ULONGLONG, ULONGLONG) { throw CFileException(CFileException::genericException, ENOTSUP); }

void CMemFile::UnlockRange(ULONGLONG, ULONGLONG) { throw CFileException(CFileException::genericException, ENOTSUP); }
