// A file held in memory. The object either owns its buffer (allocated with
// malloc, released on Close and destruction) or borrows it (a caller's buffer,
// or one handed out with GetBuffer(true)). A borrowed buffer is never grown or
// freed: writes past its capacity stop at its end.
#pragma once

#include <cstdint>

class CVtMemFile {
 public:
  explicit CVtMemFile(unsigned char* buffer = nullptr, unsigned long length = 0);
  // A copy shares the buffer but never owns it, so only the original frees it.
  CVtMemFile(const CVtMemFile& other);
  CVtMemFile& operator=(const CVtMemFile& other);
  virtual ~CVtMemFile();

  // Starts an empty owned buffer; false when a buffer is already present.
  bool Open();
  // Frees an owned buffer; always true. Position and size are kept.
  virtual bool Close();
  // detach true: the caller takes the buffer and frees it; false: the object takes it.
  unsigned char* GetBuffer(bool detach);

  virtual unsigned Read(void* data, unsigned size, unsigned count);
  virtual unsigned Write(const void* data, unsigned size, unsigned count);
  // origin 0 from the start, 1 from the current position, 2 from the end.
  virtual bool Seek(long offset, int origin);
  virtual long Tell();
  virtual long Size();
  virtual bool Flush();
  virtual bool Eof();
  virtual long Error();
  virtual bool PutC(unsigned char c);
  virtual long GetC();

  bool OwnsBuffer() const { return m_bOwnsBuffer; }
  unsigned long Capacity() const { return m_nCapacity; }

 private:
  // Makes room for `needed` bytes; false when the buffer is borrowed or
  // allocation fails.
  bool Reserve(uint64_t needed);

  unsigned char* m_pBuffer = nullptr;
  uint32_t m_nCapacity = 0;
  bool m_bOwnsBuffer = false;
  int32_t m_nPosition = 0;
  uint32_t m_nSize = 0;
};
