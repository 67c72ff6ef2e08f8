// Reads and writes E00 files line by line.
//
// Reading hands out the plain lines of a plain or compressed file and runs on
// through the volumes beside it (BASE.E01 up to BASE.E99) as one stream,
// with a position and a total length over the whole set for progress
// display. Writing makes a plain, partly or fully compressed file from plain
// lines, header first.
//
// Errors are recorded in GDAL's error facility; ReadNextLine and
// WriteNextLine copy the message of a failure to the error-message object.
// They clear GDAL's last error where an earlier call of theirs failed, not
// on every line (its error state is costly to touch), so an error recorded
// by other code in between stays.
// Each reader keeps its own volume bookkeeping: several CVtE00 may read at
// once.
#pragma once

#include "platform/mfc/CString.h"

struct CVtE00ReadRecord;
struct CVtE00WriteRecord;

class CVtE00 {
 public:
  enum E00CompreeLevel {
    E00ComprNone = 0,     // plain lines
    E00ComprPartial = 1,  // tildes and runs of spaces
    E00ComprFull = 2,     // also numbers
  };

  CVtE00() = default;
  ~CVtE00();
  CVtE00(const CVtE00&) = delete;
  CVtE00& operator=(const CVtE00&) = delete;

  int IsOpen() const { return IsLoading() || IsStoring(); }
  int IsLoading() const { return m_pReadStream != nullptr; }
  int IsStoring() const { return m_pWriteStream != nullptr; }

  // Closes whatever is open and opens `path` for reading; its first line
  // must begin with "EXP". Returns IsLoading().
  int Open(CString& path);
  // The message of the last failure recorded in GDAL's error facility on
  // this thread, where Open reports why it failed.
  static CString GetLastFailure();
  // Closes whatever is open and creates `path` for writing at `level`.
  // Returns IsStoring().
  int Create(CString& path, E00CompreeLevel level);
  // Ends reading or writing; writing first writes what is still pending.
  void Close();

  // The next plain line, or null at the end of the set or after an error
  // (then on the error-message object). Valid until the next call. A set
  // that ends without its EOS line, whose volume is cut short before the
  // next one, or with a line that cannot follow the lines before it in the
  // export's sections (where a volume lost its last lines, mostly), is
  // truncated: the lines before are handed out, then null with the failure
  // on the error-message object, and IsTruncated().
  const char* ReadNextLine();
  int ReadString(CString& line);
  // Writes the next line (the first is the header): 1, or 0 with the error
  // on the error-message object.
  int WriteNextLine(const char* line);

  // Reading: the approximate position in the whole set; it keeps rising
  // across volumes as long as it is asked for at least once in each.
  // Writing: the position in the file.
  unsigned long GetPosition();
  // Reading: the summed sizes of the file and the volumes found beside it.
  unsigned long GetLength() const;
  // Reading: the number of files in the set, the opened one included.
  int GetVolumeCount() const;
  int IsCompressed() const;
  // Reading found the set cut short.
  int IsTruncated() const;
  // Moves the current volume's stream to `offset` from the start (origin 0),
  // the position (1) or the length (2) of the set, taken within the current
  // volume; reading resumes at the byte reached. Nothing when not reading.
  void Seek(long offset, unsigned origin);
  // Reading: back to the start of the current volume, whose first line is
  // then taken as a header.
  void SeekToBegin();

 private:
  CVtE00ReadRecord* m_pReadStream = nullptr;
  CVtE00WriteRecord* m_pWriteStream = nullptr;
  unsigned long m_dwTotal = 0;  // last positions seen in the volumes left behind
  unsigned long m_dwLast = 0;   // last position seen in the current volume
};
