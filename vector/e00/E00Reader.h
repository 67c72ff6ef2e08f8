// What the two E00 readers share: buffered physical lines, the compression
// test, the header and line count of a compressed stream, rewinding, and
// the check that an export ends with its EOS line. CFileE00 reads each
// volume as a file of its own; CVtE00 runs the volumes together.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "vector/e00/E00Codec.h"
#include "vector/e00/E00Sections.h"

namespace e00 {

// Physical lines from a stream, through a buffer of our own. Tell() is the
// offset at which the next physical line begins, exactly, whether the lines
// end in LF or CR LF.
class LineFile {
 public:
  LineFile();
  ~LineFile();
  LineFile(const LineFile&) = delete;
  LineFile& operator=(const LineFile&) = delete;

  // Reads from `fp` (which stays the caller's) from its current position.
  void Attach(FILE* fp);
  FILE* Stream() const { return m_fp; }

  // Reads one physical line (at most 255 characters, through the line feed)
  // into `line` (kLineBufferSize) without its line end; NUL bytes become
  // spaces. Returns the number of bytes taken, 0 when nothing is left.
  int Read(char* line);
  int64_t Tell() const { return m_base + static_cast<int64_t>(m_pos); }
  bool Seek(int64_t offset);
  // The last line read ended in a line feed.
  bool LastHadLineEnd() const { return m_lastHadEnd; }
  // Characters of the last line read, without its line end.
  int LastLength() const { return m_lastLength; }

 private:
  void Fill();

  FILE* m_fp = nullptr;
  std::unique_ptr<char[]> m_buf;
  size_t m_pos = 0, m_len = 0;
  int64_t m_base = 0;  // file offset of m_buf[0]
  bool m_eof = false;
  bool m_lastHadEnd = true;
  int m_lastLength = 0;
};

// Lines written through a buffer of our own, each followed by a line end.
class LineWriter {
 public:
  LineWriter();
  ~LineWriter();
  LineWriter(const LineWriter&) = delete;
  LineWriter& operator=(const LineWriter&) = delete;

  void Attach(FILE* fp) { m_fp = fp; }
  FILE* Stream() const { return m_fp; }
  // Writes `length` characters and a line feed. Returns kWriteOk or
  // kWriteFailed (reported through CPLError).
  int Write(const char* text, int length) {
    if (m_len + static_cast<size_t>(length) + 1 > kCapacity && Flush() != kWriteOk) return kWriteFailed;
    char* p = m_buf.get() + m_len;
    std::memcpy(p, text, static_cast<size_t>(length));
    p[length] = '\n';
    m_len += static_cast<size_t>(length) + 1;
    return kWriteOk;
  }
  // Hands what is buffered to the stream.
  int Flush();
  // Offset in the file, buffered lines included; -1 if unknown.
  long Tell() const;

 private:
  static constexpr size_t kCapacity = 1 << 16;
  FILE* m_fp = nullptr;
  std::unique_ptr<char[]> m_buf;
  size_t m_len = 0;
};

// One reader's state over a stream of physical lines. The derived reader
// says where the physical lines come from.
class ReadCore : public LineSource {
 public:
  ReadCore() { std::memset(&dec, 0, sizeof dec); }
  virtual ~ReadCore() = default;

  // Reads the header and decides whether the stream is compressed, then
  // rewinds. Returns whether the header begins with "EXP".
  //
  // The stream is compressed when its first line after the header that is
  // neither empty nor begins with a space has 79 or 80 characters and a
  // "~". A header "EXP  1" is evidence too: then a "~" in that line is
  // enough (a small export, or a first line cut shorter to not end in a
  // space), and so is a "~" in the next line after a first line of 78 or
  // more characters (a first logical line long enough to fill a line).
  // A header "EXP  1" with no line after it is taken as compressed too.
  bool TestOpen();
  // The next logical line, or null at the end of the stream (end flag set
  // and nothing read). A compressed line cut short by the end of the data is
  // not handed out, nor is a line that cannot follow the lines before it in
  // the export's sections: then bBroken is set with the reason in
  // check.Why(), and the end flag.
  const char* NextLine();
  // Back to the start of the stream, whose first line is a header again.
  void Rewind();

  // From LineSource: one physical line into the source line, or the end flag.
  void ReadNextSourceLine() override;
  long LineNumber() const override { return static_cast<long>(nLineCount); }

  // The last line handed out that is not blank is "EOS": the export ended.
  bool SawEndOfExport() const { return bSawEos; }

  DecodeBuffer dec;
  int bCompressed = 0;
  int64_t nLineCount = 0;  // physical lines since opening or rewinding
  bool bSawEos = false;
  bool bReachedEnd = false;  // a physical read found nothing more
  SectionCheck check;
  bool bBroken = false;  // a line did not fit the export's sections

 protected:
  // The next physical line into `line`: bytes taken, 0 at the end.
  virtual int ReadPhysical(char* line) = 0;
  virtual void RewindPhysical() = 0;
  // The last physical line read ended with a line end.
  virtual bool PhysicalLineEnded() const = 0;
  // Characters of the last physical line read, without its line end.
  virtual int PhysicalLength() const = 0;

 private:
  void NoteLine(const char* line);
};

// True for an export's closing line: "EOS", trailing blanks allowed.
bool IsEndOfExport(const char* line);

}  // namespace e00
