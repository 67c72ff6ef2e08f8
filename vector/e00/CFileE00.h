// Reads the plain lines of a plain or compressed E00 file one at a time,
// running on into the volumes beside it (names ending in 01, 02 ... 99), and
// can capture and restore its place in the set.
//
// Every volume is read as a file of its own: it has its own compression test
// and, when compressed, its first line is handed out as a header.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/mfc/CString.h"

struct CFileE00ReadRecord;

class CFileE00 {
 public:
  // A place in a set of volumes: the volume, the byte offset at which a
  // physical line begins, the physical lines read from the volume before
  // it, and in a compressed volume the characters of that line already
  // decoded (decoding goes on in the middle of a physical line).
  class CFilePosInfo {
   public:
    CFilePosInfo() = default;
    ~CFilePosInfo() {
      m_nVolumeNo = -1;
      m_nByteOffset = 0;
      m_nLineCount = 0;
      m_nSourceIndex = 0;
    }
    CFilePosInfo(const CFilePosInfo&) = default;
    CFilePosInfo& operator=(const CFilePosInfo&) = default;

    int32_t m_nVolumeNo = -1;  // -1: none
    int64_t m_nByteOffset = 0;
    int64_t m_nLineCount = 0;  // the header counts as one
    int32_t m_nSourceIndex = 0;
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
  // when closed, or after a failure. Valid until the next call. A set that
  // ends without its EOS line, whose volume is cut short before the next
  // one, or with a line that cannot follow the lines before it in the
  // export's sections (where a volume lost its last lines, mostly), is
  // truncated: the lines before are handed out, then null, with the failure
  // recorded through CPLError and IsTruncated() set.
  const char* ReadNextLine();
  // ReadNextLine into `line`: 1, or 0 (line untouched) where it gives null.
  int ReadString(CString& line);
  void ReadClose();

  int IsCompressed();
  // The set read so far ended without its EOS line or with a cut volume.
  int IsTruncated() const { return m_bTruncated; }
  unsigned long GetLineNO() const;
  CString GetFileName() const { return m_strFileName; }
  // The open volume's stream. Reading is buffered: the stream's own
  // position runs ahead of the lines handed out (GetPosInfo gives theirs).
  FILE* GetFileHandle();
  void GetPosInfo(CFilePosInfo& info) const;
  // Goes back to a place captured by GetPosInfo, opening its volume when it
  // is another one; reading goes on exactly where it was, in the middle of
  // a physical line of a compressed volume too. 1, or 0 if the volume
  // cannot be opened.
  int SeekPosition(const CFilePosInfo& info);

 private:
  // Ends the set as truncated: records the failure.
  void ReportTruncated(const char* why);
  // Ends the set where a line does not fit the export's sections.
  void ReportBroken(const std::string& why);
  // This reader's name with its last two characters replaced by `volume`
  // in two digits.
  CString VolumeName(int volume) const;

  CFileE00ReadRecord* m_pReadHandle = nullptr;
  CString m_strFileName;
  CString m_strPrevious;  // the volume read before the open one, if any
  CFilePosInfo m_PosInfo;  // volume number; the open volume's place is in the read record
  int m_bTruncated = 0;
};
