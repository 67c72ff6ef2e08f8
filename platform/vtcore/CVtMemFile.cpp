#include "platform/vtcore/CVtMemFile.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {
// Positions are 32-bit signed, so the file never grows past this.
constexpr uint64_t kMaxBytes = static_cast<uint64_t>(std::numeric_limits<int32_t>::max());
}  // namespace

// Without a buffer there is nothing to describe, whatever the length; a
// borrowed buffer is seen up to the largest size a position can reach.
CVtMemFile::CVtMemFile(unsigned char* buffer, unsigned long length)
    : m_pBuffer(buffer),
      m_nCapacity(buffer ? static_cast<uint32_t>(std::min<uint64_t>(length, kMaxBytes)) : 0),
      m_bOwnsBuffer(buffer == nullptr),
      m_nPosition(0),
      m_nSize(m_nCapacity) {}

CVtMemFile::CVtMemFile(const CVtMemFile& other)
    : m_pBuffer(other.m_pBuffer),
      m_nCapacity(other.m_nCapacity),
      m_bOwnsBuffer(false),
      m_nPosition(other.m_nPosition),
      m_nSize(other.m_nSize) {}

CVtMemFile& CVtMemFile::operator=(const CVtMemFile& other) {
  if (this == &other) return *this;
  // Assigning a view of our own buffer keeps our ownership; any other
  // assignment releases what we own and makes us a view.
  const bool sameBuffer = m_pBuffer == other.m_pBuffer;
  if (m_pBuffer && m_bOwnsBuffer && !sameBuffer) std::free(m_pBuffer);
  m_bOwnsBuffer = sameBuffer && m_bOwnsBuffer;
  m_pBuffer = other.m_pBuffer;
  m_nCapacity = other.m_nCapacity;
  m_nPosition = other.m_nPosition;
  m_nSize = other.m_nSize;
  return *this;
}

CVtMemFile::~CVtMemFile() { CVtMemFile::Close(); }

bool CVtMemFile::Open() {
  if (m_pBuffer) return false;
  m_nSize = m_nCapacity = 0;
  m_nPosition = 0;
  m_pBuffer = static_cast<unsigned char*>(std::malloc(0));
  m_bOwnsBuffer = true;
  return m_pBuffer != nullptr;
}

bool CVtMemFile::Close() {
  if (m_pBuffer && m_bOwnsBuffer) {
    std::free(m_pBuffer);
    m_pBuffer = nullptr;
    m_nCapacity = 0;
  }
  return true;
}

unsigned char* CVtMemFile::GetBuffer(bool detach) {
  m_bOwnsBuffer = !detach;
  return m_pBuffer;
}

bool CVtMemFile::Reserve(uint64_t needed) {
  if (needed <= m_nCapacity) return true;
  if (!m_bOwnsBuffer || needed > kMaxBytes) return false;
  // Double the capacity so a stream of small writes stays linear.
  uint64_t grown = std::max<uint64_t>({needed, static_cast<uint64_t>(m_nCapacity) * 2, 4096});
  grown = std::min(grown, kMaxBytes);
  auto* block = static_cast<unsigned char*>(std::realloc(m_pBuffer, grown));
  if (!block) return false;
  m_pBuffer = block;
  m_nCapacity = static_cast<uint32_t>(grown);
  return true;
}

unsigned CVtMemFile::Read(void* data, unsigned size, unsigned count) {
  if (size == 0 || count == 0 || !m_pBuffer || static_cast<uint32_t>(m_nPosition) >= m_nSize) return 0;
  uint64_t available = m_nSize - static_cast<uint32_t>(m_nPosition);
  uint64_t items = std::min<uint64_t>(count, available / size);
  uint64_t bytes = items * size;
  std::memcpy(data, m_pBuffer + m_nPosition, bytes);
  m_nPosition += static_cast<int32_t>(bytes);
  return static_cast<unsigned>(items);
}

unsigned CVtMemFile::Write(const void* data, unsigned size, unsigned count) {
  if (size == 0 || count == 0) return 0;
  // After Close freed the buffer its old size describes nothing.
  if (!m_pBuffer) m_nSize = 0;
  uint64_t start = static_cast<uint32_t>(m_nPosition);
  uint64_t items = count;
  if (!Reserve(start + items * size)) {
    // Write the whole items that still fit (a borrowed or exhausted buffer).
    items = start < m_nCapacity ? (m_nCapacity - start) / size : 0;
    if (items == 0) return 0;
  }
  uint64_t bytes = items * size;
  if (start > m_nSize) std::memset(m_pBuffer + m_nSize, 0, start - m_nSize);  // gap after a seek
  std::memcpy(m_pBuffer + start, data, bytes);
  m_nPosition = static_cast<int32_t>(start + bytes);
  m_nSize = std::max<uint32_t>(m_nSize, static_cast<uint32_t>(m_nPosition));
  return static_cast<unsigned>(items);
}

bool CVtMemFile::Seek(long offset, int origin) {
  int64_t base;
  switch (origin) {
    case 0:
      base = 0;
      break;
    case 1:
      base = m_nPosition;
      break;
    case 2:
      base = m_nSize;
      break;
    default:
      return false;
  }
  // Both terms are bounded before the sum, so it cannot overflow.
  if (offset > static_cast<long>(kMaxBytes) || offset < -static_cast<long>(kMaxBytes)) return false;
  int64_t target = base + static_cast<int64_t>(offset);
  if (target < 0 || static_cast<uint64_t>(target) > kMaxBytes) return false;
  m_nPosition = static_cast<int32_t>(target);
  return true;
}

long CVtMemFile::Tell() { return m_nPosition; }
long CVtMemFile::Size() { return static_cast<long>(m_nSize); }
bool CVtMemFile::Flush() { return true; }
bool CVtMemFile::Eof() { return static_cast<uint32_t>(m_nPosition) >= m_nSize; }
long CVtMemFile::Error() { return 0; }
bool CVtMemFile::PutC(unsigned char c) { return Write(&c, 1, 1) == 1; }

long CVtMemFile::GetC() {
  unsigned char c;
  return Read(&c, 1, 1) == 1 ? c : -1;
}
