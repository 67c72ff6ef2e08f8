#include "platform/mfc/CArchive.h"

#include <algorithm>
#include <climits>

namespace {
const char* CauseText(int cause) {
  switch (cause) {
    case CArchiveException::none: return "No error";
    case CArchiveException::readOnly: return "Archive opened for loading was written to";
    case CArchiveException::endOfFile: return "Unexpected end of archive";
    case CArchiveException::writeOnly: return "Archive opened for storing was read from";
    case CArchiveException::badIndex: return "Count in archive out of range";
    case CArchiveException::badClass: return "Unexpected class in archive";
    case CArchiveException::badSchema: return "Unsupported data in archive";
    case CArchiveException::bufferFull: return "Archive buffer full";
    default: return "Archive error";
  }
}
}  // namespace

CArchiveException::CArchiveException(int cause, const char* fileName) : m_cause(cause), m_strFileName(fileName) {}

std::string CArchiveException::Message() const {
  std::string text = CauseText(m_cause);
  if (!m_strFileName.IsEmpty()) text += ": '" + m_strFileName.str() + "'";
  return text;
}

BOOL CArchiveException::GetErrorMessage(char* buf, UINT max, UINT* help) const {
  if (help) *help = 0;
  CopyMessage(Message(), buf, max);
  return TRUE;
}

const char* CArchiveException::what() const noexcept {
  try {
    m_what = Message();
    return m_what.c_str();
  } catch (...) {
    return "archive error";
  }
}

CArchive::CArchive(CFile* file, UINT mode, int bufferSize)
    : m_pFile(file), m_nMode(mode), m_buffer(static_cast<size_t>(std::max(bufferSize, 128))) {}

CArchive::~CArchive() {
  if (!m_pFile) return;
  if (m_nMode & bNoFlushOnDelete) {
    Abort();
    return;
  }
  try {
    Close();
  } catch (...) {
    m_pFile = nullptr;
  }
}

void CArchive::Throw(int cause) const {
  throw CArchiveException(cause, m_pFile ? m_pFile->GetFilePath().GetString() : nullptr);
}

void CArchive::CheckMode(bool storing) const {
  if (!m_pFile) throw CArchiveException(CArchiveException::genericException);
  if (storing && IsLoading()) Throw(CArchiveException::readOnly);
  if (!storing && IsStoring()) Throw(CArchiveException::writeOnly);
}

UINT CArchive::Read(void* buf, UINT count) {
  CheckMode(false);
  BYTE* out = static_cast<BYTE*>(buf);
  UINT done = 0;
  while (done < count) {
    if (m_nCur == m_nEnd) {
      const UINT want = count - done;
      // Large reads go straight to the caller's memory.
      if (want >= m_buffer.size()) return done + m_pFile->Read(out + done, want);
      m_nCur = 0;
      m_nEnd = m_pFile->Read(m_buffer.data(), static_cast<UINT>(m_buffer.size()));
      if (m_nEnd == 0) break;
    }
    const size_t take = std::min<size_t>(m_nEnd - m_nCur, count - done);
    std::memcpy(out + done, m_buffer.data() + m_nCur, take);
    m_nCur += take;
    done += static_cast<UINT>(take);
  }
  return done;
}

void CArchive::Write(const void* buf, UINT count) {
  CheckMode(true);
  if (count == 0) return;
  const BYTE* in = static_cast<const BYTE*>(buf);
  if (m_nCur + count > m_buffer.size()) {
    FlushStore();
    if (count >= m_buffer.size()) {
      m_pFile->Write(in, count);
      return;
    }
  }
  std::memcpy(m_buffer.data() + m_nCur, in, count);
  m_nCur += count;
}

void CArchive::FlushStore() {
  if (m_nCur > 0) m_pFile->Write(m_buffer.data(), static_cast<UINT>(m_nCur));
  m_nCur = 0;
}

void CArchive::Flush() {
  if (!m_pFile) return;
  if (IsStoring()) {
    FlushStore();
  } else if (m_nEnd > m_nCur) {
    const LONGLONG unread = static_cast<LONGLONG>(m_nEnd - m_nCur);
    m_nCur = m_nEnd = 0;
    m_pFile->Seek(-unread, CFile::current);
  }
}

void CArchive::Close() {
  Flush();
  m_pFile = nullptr;
}

void CArchive::Abort() {
  m_nCur = m_nEnd = 0;
  m_pFile = nullptr;
}

void CArchive::WriteCount(DWORD_PTR count) {
  if (count < 0xFFFF) {
    *this << static_cast<WORD>(count);
    return;
  }
  *this << static_cast<WORD>(0xFFFF);
  if (count < 0xFFFFFFFFu) {
    *this << static_cast<DWORD>(count);
    return;
  }
  *this << static_cast<DWORD>(0xFFFFFFFFu) << static_cast<ULONGLONG>(count);
}

DWORD_PTR CArchive::ReadCount() {
  WORD w = 0;
  *this >> w;
  if (w != 0xFFFF) return w;
  DWORD d = 0;
  *this >> d;
  if (d != 0xFFFFFFFFu) return d;
  ULONGLONG q = 0;
  *this >> q;
  return static_cast<DWORD_PTR>(q);
}

void CArchive::ReadExact(void* buf, ULONGLONG bytes) {
  BYTE* out = static_cast<BYTE*>(buf);
  while (bytes > 0) {
    const UINT step = static_cast<UINT>(std::min<ULONGLONG>(bytes, 1u << 30));
    if (Read(out, step) != step) Throw(CArchiveException::endOfFile);
    out += step;
    bytes -= step;
  }
}

void CArchive::WriteLarge(const void* buf, ULONGLONG bytes) {
  const BYTE* in = static_cast<const BYTE*>(buf);
  while (bytes > 0) {
    const UINT step = static_cast<UINT>(std::min<ULONGLONG>(bytes, 1u << 30));
    Write(in, step);
    in += step;
    bytes -= step;
  }
}

bool CArchive::BytesLeft(ULONGLONG& left) const {
  if (!m_pFile || IsStoring()) return false;
  try {
    const ULONGLONG length = m_pFile->GetLength();
    const ULONGLONG position = m_pFile->GetPosition();
    left = (m_nEnd - m_nCur) + (length > position ? length - position : 0);
    return true;
  } catch (const CException&) {
    return false;
  }
}

int CArchive::ReadElementCount(ULONGLONG minElementBytes, bool& checked) {
  const DWORD_PTR count = ReadCount();
  if (count > static_cast<DWORD_PTR>(INT_MAX)) Throw(CArchiveException::badIndex);
  ULONGLONG left = 0;
  checked = BytesLeft(left);
  if (checked && minElementBytes > 0 && count > left / minElementBytes) Throw(CArchiveException::endOfFile);
  return static_cast<int>(count);
}

CArchive& CArchive::operator<<(const CString& s) {
  const ULONGLONG length = static_cast<ULONGLONG>(s.GetLength());
  if (length < 0xFF) {
    *this << static_cast<BYTE>(length);
  } else {
    *this << static_cast<BYTE>(0xFF);
    if (length < 0xFFFE) {
      *this << static_cast<WORD>(length);
    } else {
      *this << static_cast<WORD>(0xFFFF);
      if (length < 0xFFFFFFFFu)
        *this << static_cast<DWORD>(length);
      else
        *this << static_cast<DWORD>(0xFFFFFFFFu) << length;
    }
  }
  WriteLarge(s.GetString(), length);
  return *this;
}

CArchive& CArchive::operator>>(CString& s) {
  ULONGLONG length = 0;
  BYTE b = 0;
  *this >> b;
  if (b < 0xFF) {
    length = b;
  } else {
    WORD w = 0;
    *this >> w;
    if (w == 0xFFFE) Throw(CArchiveException::badSchema);
    if (w < 0xFFFF) {
      length = w;
    } else {
      DWORD d = 0;
      *this >> d;
      if (d < 0xFFFFFFFFu)
        length = d;
      else
        *this >> length;
    }
  }
  if (length > static_cast<ULONGLONG>(INT_MAX)) Throw(CArchiveException::badIndex);
  ULONGLONG left = 0;
  if (BytesLeft(left) && length > left) Throw(CArchiveException::endOfFile);
  // Read in steps so that a length the file cannot tell about costs no
  // more memory than the bytes that actually arrive.
  std::string text;
  while (text.size() < length) {
    const size_t step = static_cast<size_t>(std::min<ULONGLONG>(length - text.size(), 1u << 20));
    const size_t at = text.size();
    text.resize(at + step);
    ReadExact(&text[at], step);
  }
  s = CString(std::move(text));
  return *this;
}
