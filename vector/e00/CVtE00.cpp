#include "vector/e00/CVtE00.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_vsi.h>

#include <cstring>
#include <string>

#include "platform/posix/PathCase.h"
#include "platform/vtcore/CVtErrorMsg.h"
#include "vector/e00/E00Codec.h"

// The read stream: the current volume and the decoder's state.
struct CVtE00ReadRecord {
  FILE* fp;
  int bCompressed;
  int nLineCount;  // physical lines since opening or rewinding, across volumes
  e00::DecodeBuffer dec;
};

// The write stream.
struct CVtE00WriteRecord {
  FILE* fp;
  int nLevel;
  int nLinesWritten;
  e00::PendingBuffer pending;
};

namespace {

// Volume bookkeeping of the read stream, one for the process.
struct VolumeSet {
  std::string baseName;  // the opened path without its extension
  int counter = 0;       // number of the last volume switched to
  unsigned long totalLength = 0;
  int volumes = 0;
};
VolumeSet g_volumes;

constexpr int kLastVolume = 99;

std::string VolumeName(int volume) {
  char suffix[16];
  std::snprintf(suffix, sizeof suffix, ".E%02d", volume);
  return g_volumes.baseName + suffix;
}

FILE* OpenForRead(const std::string& path) { return VSIFOpen(VtResolvePathCase(path).c_str(), "rt"); }

unsigned long FileSize(FILE* fp) {
  if (VSIFSeek(fp, 0, SEEK_END) != 0) return 0;
  const long size = VSIFTell(fp);
  return size < 0 ? 0 : static_cast<unsigned long>(size);
}

// Reads the next physical line; at the end of a volume the stream runs on
// into the next one without a break.
void ReadSourceLine(CVtE00ReadRecord* r) {
  e00::DecodeBuffer& dec = r->dec;
  if (dec.bEnd) return;
  dec.nSrcIndex = 0;
  int taken = e00::ReadPhysicalLine(r->fp, dec.szSrcLine);
  if (taken == 0) {
    FILE* next = ++g_volumes.counter <= kLastVolume ? OpenForRead(VolumeName(g_volumes.counter)) : nullptr;
    if (next) {
      VSIFClose(r->fp);
      r->fp = next;
      taken = e00::ReadPhysicalLine(r->fp, dec.szSrcLine);
    }
    if (taken == 0) {
      dec.bEnd = 1;
      return;
    }
  }
  ++r->nLineCount;
}

void ReadRewind(CVtE00ReadRecord* r) {
  CPLErrorReset();
  r->dec.szSrcLine[0] = '\0';
  r->dec.szOutLine[0] = '\0';
  r->dec.nSrcIndex = 0;
  r->nLineCount = 0;
  VSIRewind(r->fp);
  r->dec.bEnd = 0;
}

void ReadClose(CVtE00ReadRecord* r) {
  CPLErrorReset();
  if (r->fp) VSIFClose(r->fp);
  CPLFree(r);
  g_volumes.totalLength = 0;
  g_volumes.volumes = 0;
}

CVtE00ReadRecord* ReadOpen(const std::string& path) {
  CPLErrorReset();
  g_volumes.totalLength = 0;
  g_volumes.volumes = 0;
  const std::string resolved = VtResolvePathCase(path);
  FILE* fp = VSIFOpen(resolved.c_str(), "rt");
  if (!fp) {
    CPLError(CE_Failure, CPLE_OpenFailed, "Failed to open %s: %s", path.c_str(), "unknown");
    return nullptr;
  }
  auto* r = static_cast<CVtE00ReadRecord*>(CPLCalloc(1, sizeof(CVtE00ReadRecord)));
  r->fp = fp;
  // The bookkeeping is this file's before anything reads: the compression
  // test may run past the end of a file of one line.
  const size_t slash = path.rfind('/');
  const size_t dot = path.rfind('.');
  g_volumes.baseName =
      dot != std::string::npos && (slash == std::string::npos || dot > slash) ? path.substr(0, dot) : path;
  g_volumes.counter = 0;

  ReadSourceLine(r);
  if (std::strncmp(r->dec.szSrcLine, "EXP", 3) != 0) {
    VSIFClose(r->fp);
    CPLFree(r);
    CPLError(CE_Failure, CPLE_OpenFailed, "%s is not a valid E00 file.", path.c_str());
    return nullptr;
  }
  do {
    ReadSourceLine(r);
  } while (!r->dec.bEnd && (r->dec.szSrcLine[0] == '\0' || r->dec.szSrcLine[0] == ' '));
  r->bCompressed = !r->dec.bEnd && e00::IsCompressedLine(r->dec.szSrcLine);
  if (g_volumes.counter != 0) {
    // The test went on into a later volume: start again from the first.
    FILE* first = VSIFOpen(resolved.c_str(), "rt");
    if (!first) {
      ReadClose(r);
      CPLError(CE_Failure, CPLE_OpenFailed, "Failed to open %s: %s", path.c_str(), "unknown");
      return nullptr;
    }
    VSIFClose(r->fp);
    r->fp = first;
    g_volumes.counter = 0;
  }
  ReadRewind(r);

  g_volumes.totalLength = FileSize(r->fp);
  VSIRewind(r->fp);
  g_volumes.volumes = 1;
  for (int i = 1; i <= kLastVolume; ++i) {
    FILE* volume = OpenForRead(VolumeName(i));
    if (!volume) break;
    g_volumes.totalLength += FileSize(volume);
    ++g_volumes.volumes;
    VSIFClose(volume);
  }
  return r;
}

struct RecordSource : e00::LineSource {
  explicit RecordSource(CVtE00ReadRecord* record) : r(record) {}
  void ReadNextSourceLine() override { ReadSourceLine(r); }
  long LineNumber() const override { return r->nLineCount; }
  void UngetFailed() override {
    CPLError(CE_Failure, CPLE_AssertionFailed,
             "UNEXPECTED INTERNAL ERROR: _UngetSourceChar() failed while reading line %d.", r->nLineCount);
  }
  CVtE00ReadRecord* r;
};

const char* ReadNextLine(CVtE00ReadRecord* r) {
  CPLErrorReset();
  if (!r || r->dec.bEnd) return nullptr;
  e00::DecodeBuffer& dec = r->dec;
  const char* line;
  if (r->bCompressed) {
    if (r->nLineCount == 0) {
      ReadSourceLine(r);
      e00::UncompressHeader(dec.szSrcLine);
      line = dec.szSrcLine;
    } else {
      if (r->nLineCount == 1) ReadSourceLine(r);
      RecordSource source(r);
      e00::UncompressNextLine(dec, source);
      line = dec.szOutLine;
    }
  } else {
    ReadSourceLine(r);
    line = dec.szSrcLine;
  }
  return dec.bEnd && line[0] == '\0' ? nullptr : line;
}

CVtE00WriteRecord* WriteOpen(const std::string& path, int level) {
  CPLErrorReset();
  FILE* fp = VSIFOpen(path.c_str(), "wt");
  if (!fp) {
    CPLError(CE_Failure, CPLE_OpenFailed, "Failed to open %s: %s", path.c_str(), "");
    return nullptr;
  }
  auto* w = static_cast<CVtE00WriteRecord*>(CPLCalloc(1, sizeof(CVtE00WriteRecord)));
  w->fp = fp;
  w->nLevel = level;
  return w;
}

// Writes a line that goes out unchanged; it must fit the line buffer.
int WriteWholeLine(CVtE00WriteRecord* w, const char* prefix, const char* text) {
  const size_t prefixLength = std::strlen(prefix), textLength = std::strlen(text);
  if (prefixLength + textLength >= static_cast<size_t>(e00::kLineBufferSize)) {
    CPLError(CE_Failure, CPLE_IllegalArg, "Line of %lu characters too long to write: at most %d fit.",
             static_cast<unsigned long>(prefixLength + textLength), e00::kLineBufferSize - 1);
    return e00::kLineTooLong;
  }
  if (prefixLength == 0) return e00::WritePhysicalLine(w->fp, text, static_cast<int>(textLength));
  char line[e00::kLineBufferSize];
  std::memcpy(line, prefix, prefixLength);
  std::memcpy(line + prefixLength, text, textLength);
  return e00::WritePhysicalLine(w->fp, line, static_cast<int>(prefixLength + textLength));
}

int WriteNextLine(CVtE00WriteRecord* w, const char* text) {
  CPLErrorReset();
  if (!w || !w->fp) {
    CPLError(CE_Failure, CPLE_IllegalArg, "Invalid E00WritePtr handle!");
    return e00::kInvalidHandle;
  }
  const int k = w->nLinesWritten++;
  if (w->nLevel > 0 && k > 0) {
    e00::PendingBuffer& pending = w->pending;
    int status = e00::CompressLine(pending, text, w->nLevel == CVtE00::E00ComprFull);
    for (int cut; status == e00::kWriteOk && (cut = e00::NextCutLength(pending)) > 0;) {
      status = e00::WritePhysicalLine(w->fp, pending.szBuf, cut);
      e00::DropPending(pending, cut);
    }
    return status;
  }
  if (w->nLevel > 0) {
    if (const char* zero = std::strstr(text, " 0")) return WriteWholeLine(w, "EXP  1", zero + 2);
  }
  return WriteWholeLine(w, "", text);
}

int WriteClose(CVtE00WriteRecord* w) {
  CPLErrorReset();
  int status = e00::kWriteOk;
  if (w->pending.nLength > 0) status = e00::WritePhysicalLine(w->fp, w->pending.szBuf, w->pending.nLength);
  if (VSIFClose(w->fp) != 0 && status == e00::kWriteOk) {
    CPLError(CE_Failure, CPLE_FileIO, "Error writing to file: %s", "");
    status = e00::kWriteFailed;
  }
  CPLFree(w);
  return status;
}

void CopyLastError() { VtGetErrorMsgObj()->SetMessage(0L, CString(CPLGetLastErrorMsg())); }

}  // namespace

CVtE00::~CVtE00() { Close(); }

int CVtE00::Open(CString& path) {
  m_dwTotal = 0;
  m_dwLast = 0;
  Close();
  m_pReadStream = ReadOpen(path.str());
  return IsLoading();
}

int CVtE00::Create(CString& path, E00CompreeLevel level) {
  Close();
  m_pWriteStream = WriteOpen(path.str(), level);
  return IsStoring();
}

void CVtE00::Close() {
  if (m_pReadStream) ReadClose(m_pReadStream);
  // What is still pending is a write too: its failure is passed on.
  if (m_pWriteStream && WriteClose(m_pWriteStream) != e00::kWriteOk) CopyLastError();
  m_pReadStream = nullptr;
  m_pWriteStream = nullptr;
}

const char* CVtE00::ReadNextLine() {
  const char* line = ::ReadNextLine(m_pReadStream);
  if (CPLGetLastErrorNo() != 0) {
    CopyLastError();
    return nullptr;
  }
  return line;
}

int CVtE00::ReadString(CString& line) {
  const char* text = ReadNextLine();
  if (!text) return 0;
  line = text;
  return 1;
}

int CVtE00::WriteNextLine(const char* line) {
  if (::WriteNextLine(m_pWriteStream, line ? line : "") == e00::kWriteOk) return 1;
  CopyLastError();
  return 0;
}

unsigned long CVtE00::GetPosition() {
  if (m_pReadStream) {
    const long p = VSIFTell(m_pReadStream->fp);
    if (p < 0) return 0;
    const unsigned long position = static_cast<unsigned long>(p);
    if (m_dwLast > position) {
      // Reading has moved into a new volume.
      m_dwTotal += m_dwLast;
      m_dwLast = 0;
    } else {
      m_dwLast = position;
    }
    return m_dwTotal + position;
  }
  if (m_pWriteStream) {
    const long p = VSIFTell(m_pWriteStream->fp);
    return p < 0 ? 0 : static_cast<unsigned long>(p);
  }
  return 0;
}

unsigned long CVtE00::GetLength() const { return m_pReadStream ? g_volumes.totalLength : 0; }

int CVtE00::GetVolumeCount() const { return m_pReadStream ? g_volumes.volumes : 0; }

int CVtE00::IsCompressed() const {
  if (m_pReadStream) return m_pReadStream->bCompressed;
  if (m_pWriteStream) return m_pWriteStream->nLevel > 0;
  return 0;
}

void CVtE00::Seek(long offset, unsigned origin) {
  if (!m_pReadStream) return;
  long base = 0;
  if (origin == 1)
    base = static_cast<long>(GetPosition());
  else if (origin == 2)
    base = static_cast<long>(GetLength());
  // Earlier volumes stand for m_dwTotal bytes of the set.
  long target = base + offset - static_cast<long>(m_dwTotal);
  if (target < 0) target = 0;
  CVtE00ReadRecord* r = m_pReadStream;
  if (VSIFSeek(r->fp, target, SEEK_SET) != 0) return;
  r->dec.szSrcLine[0] = '\0';
  r->dec.nSrcIndex = 0;
  r->dec.bEnd = 0;
  m_dwLast = static_cast<unsigned long>(target);
}

void CVtE00::SeekToBegin() {
  if (m_pReadStream) ReadRewind(m_pReadStream);
}
