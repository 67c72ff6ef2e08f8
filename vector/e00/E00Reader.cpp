#include "vector/e00/E00Reader.h"

#include <algorithm>

#include "platform/geodata/GeodataCpl.h"

// The geodata library's error and file layer, bound when first used.
using namespace vtgeo;

namespace e00 {

namespace {
constexpr size_t kReadBufferSize = 1 << 16;
constexpr size_t kMaxPhysical = kLineBufferSize - 1;
}  // namespace

LineFile::LineFile() : m_buf(new char[kReadBufferSize]) {}
LineFile::~LineFile() = default;

void LineFile::Attach(FILE* fp) {
  m_fp = fp;
  m_pos = m_len = 0;
  m_eof = fp == nullptr;
  m_lastHadEnd = true;
  const long long at = fp ? ftello(fp) : 0;
  m_base = at < 0 ? 0 : at;
}

void LineFile::Fill() {
  if (m_pos > 0) {
    std::memmove(m_buf.get(), m_buf.get() + m_pos, m_len - m_pos);
    m_base += static_cast<int64_t>(m_pos);
    m_len -= m_pos;
    m_pos = 0;
  }
  while (!m_eof && m_len < kReadBufferSize) {
    const size_t got = std::fread(m_buf.get() + m_len, 1, kReadBufferSize - m_len, m_fp);
    m_len += got;
    if (got == 0) m_eof = true;
  }
}

int LineFile::Read(char* line) {
  if (m_len - m_pos < kMaxPhysical && !m_eof) Fill();
  const size_t avail = std::min(m_len - m_pos, kMaxPhysical);
  if (avail == 0) {
    line[0] = '\0';
    m_lastLength = 0;
    return 0;
  }
  const char* p = m_buf.get() + m_pos;
  const char* nl = static_cast<const char*>(std::memchr(p, '\n', avail));
  const size_t taken = nl ? static_cast<size_t>(nl - p) + 1 : avail;
  std::memcpy(line, p, taken);
  m_pos += taken;
  m_lastHadEnd = nl != nullptr;
  if (std::memchr(line, '\0', taken)) {
    for (size_t i = 0; i < taken; ++i)
      if (line[i] == '\0') line[i] = ' ';
  }
  size_t length = taken;
  while (length > 0 && (line[length - 1] == '\n' || line[length - 1] == '\r')) --length;
  line[length] = '\0';
  m_lastLength = static_cast<int>(length);
  return static_cast<int>(taken);
}

bool LineFile::Seek(int64_t offset) {
  if (!m_fp || offset < 0 || fseeko(m_fp, static_cast<off_t>(offset), SEEK_SET) != 0) return false;
  m_base = offset;
  m_pos = m_len = 0;
  m_eof = false;
  m_lastHadEnd = true;
  return true;
}

LineWriter::LineWriter() : m_buf(new char[kCapacity]) {}
LineWriter::~LineWriter() = default;

int LineWriter::Flush() {
  const size_t length = m_len;
  m_len = 0;
  if (length == 0) return kWriteOk;
  if (!m_fp || std::fwrite(m_buf.get(), 1, length, m_fp) != length) {
    CPLError(CE_Failure, CPLE_FileIO, "Error writing to file: %s", "");
    return kWriteFailed;
  }
  return kWriteOk;
}

long LineWriter::Tell() const {
  const long at = m_fp ? std::ftell(m_fp) : -1;
  return at < 0 ? -1 : at + static_cast<long>(m_len);
}

bool IsEndOfExport(const char* line) {
  if (std::strncmp(line, "EOS", 3) != 0) return false;
  for (const char* p = line + 3; *p; ++p)
    if (*p != ' ' && *p != '\t' && *p != '\x1a') return false;
  return true;
}

void ReadCore::ReadNextSourceLine() {
  if (dec.bEnd) return;
  dec.nSrcIndex = 0;
  if (ReadPhysical(dec.szSrcLine) == 0) {
    dec.szSrcLine[0] = '\0';
    bReachedEnd = true;
    dec.bEnd = 1;
    return;
  }
  ++nLineCount;
}

void ReadCore::Rewind() {
  dec.szSrcLine[0] = '\0';
  dec.szOutLine[0] = '\0';
  dec.nSrcIndex = 0;
  nLineCount = 0;
  bSawEos = false;
  bReachedEnd = false;
  bBroken = false;
  check.Restart();
  RewindPhysical();
  dec.bEnd = 0;
}

bool ReadCore::TestOpen() {
  ReadNextSourceLine();
  const char* src = dec.szSrcLine;
  const bool exp = std::strncmp(src, "EXP", 3) == 0;
  const bool compressedHeader = std::strncmp(src, "EXP  1", 6) == 0;
  do {
    ReadNextSourceLine();
  } while (!dec.bEnd && (src[0] == '\0' || src[0] == ' '));
  // A compressed header with nothing after it (a cut export) is handed out
  // as the header it stands for.
  bool compressed = dec.bEnd && compressedHeader;
  if (!dec.bEnd) {
    compressed = IsCompressedLine(src);
    if (!compressed && compressedHeader) {
      if (std::strchr(src, '~')) {
        compressed = true;
      } else if (std::strlen(src) >= kMaxLineLength - 2) {
        ReadNextSourceLine();
        compressed = !dec.bEnd && std::strchr(src, '~');
      }
    }
  }
  bCompressed = compressed;
  Rewind();
  return exp;
}

void ReadCore::NoteLine(const char* line) {
  const char first = line[0];
  if (first != ' ' && first != '\t' && first != '\x1a' && first != '\0') {
    bSawEos = first == 'E' && IsEndOfExport(line);
    return;
  }
  // A line that begins with a blank is not "EOS"; if it is all blanks, it
  // changes nothing.
  for (const char* p = line; *p; ++p) {
    if (*p != ' ' && *p != '\t' && *p != '\x1a') {
      bSawEos = false;
      return;
    }
  }
}

const char* ReadCore::NextLine() {
  if (dec.bEnd) return nullptr;
  const char* line;
  size_t length;  // of the line, known here rather than counted again
  if (bCompressed) {
    if (nLineCount == 0) {
      ReadNextSourceLine();
      UncompressHeader(dec.szSrcLine);
      line = dec.szSrcLine;
      length = dec.bEnd ? 0 : static_cast<size_t>(PhysicalLength());
    } else {
      if (nLineCount == 1) ReadNextSourceLine();
      length = static_cast<size_t>(UncompressNextLine(dec, *this));
      line = dec.szOutLine;
      // A line that the data ran out in, before its "~}", is the part of a
      // line before a cut and may end inside a number: not handed out.
      if (bReachedEnd && line[0] != '\0' && !IsEndOfExport(line)) return nullptr;
    }
  } else {
    ReadNextSourceLine();
    line = dec.szSrcLine;
    length = dec.bEnd ? 0 : static_cast<size_t>(PhysicalLength());
  }
  if (dec.bEnd && line[0] == '\0') return nullptr;
  // A line that decoding failed in is handed out as it is, with the failure;
  // so is a plain line that the data ran out in, before its line end: the
  // end of the data tells that it was cut.
  const bool unchecked = bCompressed ? dec.bEnd && !bReachedEnd : !PhysicalLineEnded();
  if (!unchecked && !check.Take(line, length)) {
    bBroken = true;
    dec.bEnd = 1;
    return nullptr;
  }
  // Most lines begin with neither a blank nor "E", or with one blank and
  // then something else (a positive number): not the closing line.
  const char first = line[0];
  const char second = first ? line[1] : '\0';
  if (first == ' ' && second != ' ' && second != '\t' && second != '\x1a' && second != '\0')
    bSawEos = false;
  else if (first == 'E' || first == ' ' || first == '\t' || first == '\x1a' || first == '\0')
    NoteLine(line);
  else
    bSawEos = false;
  return line;
}

}  // namespace e00
