// Reads the plain lines of a plain or compressed E00 file one at a time,
// running on into the volumes beside it (names ending in 01, 02 ... 99), and
// can capture and restore its place in the set.
//
// Every volume is read as a file of its own: it has its own compression test
// and, when compressed, its first line is handed out as a header.
#pragma once

#include <cstdint>
#include <cstdio>

#include "platform/mfc/CString.h"

struct CFileE00ReadRecord;

class CFileE00 {
 public:
  // A place in a set of volumes: the volume, the byte offset at which its
  // next physical line begins, and the physical lines read from it so far.
  class CFilePosInfo {
   public:
    CFilePosInfo() = default;
    ~CFilePosInfo() {
      m_nVolumeNo = -1;
      m_nByteOffset = 0;
      m_nLineCount = 0;
    }
    CFilePosInfo(const CFilePosInfo&) = default;
    CFilePosInfo& operator=(const CFilePosInfo&) = default;

    int32_t m_nVolumeNo = -1;  // -1: none
    int64_t m_nByteOffset = 0;
    int64_t m_nLineCount = 0;  // the header counts as one
  };

  CFileE00();
  // A copy of an open reader opens the same volume on its own stream and
  // goes on from the same place.
  CFileE00(const CFileE00& other);
  CFileE00& operator=(const CFileE00& other);
  virtual ~CFileE00();

  // Opens one volume (closing any open one); 1 on success, 0 if it cannot
  // be opened.
  int OpenForRead(const CString& path);
  // The next plain line without its line end, or null at the end of the set,
  // when closed, or after a failure. Valid until the next call.
  const char* ReadNextLine();
  // ReadNextLine into `line`: 1, or 0 (line untouched) where it gives null.
  int ReadString(CString& line);
  void ReadClose();

  int IsCompressed();
  unsigned long GetLineNO() const { return static_cast<unsigned long>(m_PosInfo.m_nLineCount & 0xFFFFFFFFu); }
  CString GetFileName() const { return m_strFileName; }
  FILE* GetFileHandle();
  void GetPosInfo(CFilePosInfo& info) const { info = m_PosInfo; }
  // Goes back to a place captured by GetPosInfo, opening its volume when it
  // is another one; decoding resumes at the physical line at its offset.
  // 1, or 0 if the volume cannot be opened.
  int SeekPosition(const CFilePosInfo& info);

 private:
  void ReadTestOpen();
  void ReadNextSourceLine();
  void ReadRewind();
  const char* UncompressNextLine();
  int64_t GetPosition();
  void SeekFromBegin(int64_t offset);
  // This reader's name with its last two characters replaced by `volume`
  // in two digits.
  CString VolumeName(int volume) const;

  CFileE00ReadRecord* m_pReadHandle = nullptr;
  CString m_strFileName;
  CFilePosInfo m_PosInfo;
};
