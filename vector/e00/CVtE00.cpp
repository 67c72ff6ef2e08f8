#include "vector/e00/CVtE00.h"

#include <cstring>
#include <string>

#include "platform/geodata/GeodataCpl.h"
#include "platform/posix/PathCase.h"
#include "platform/vtcore/CVtErrorMsg.h"
#include "vector/e00/E00Codec.h"
#include "vector/e00/E00Reader.h"

// The geodata library's error and file layer, bound when first used.
using namespace vtgeo;

// The read stream: the shared reader over the current volume, with the
// volume bookkeeping of this reader: the stream runs on from one volume into
// the next without a break, and the line count does not restart.
struct CVtE00ReadRecord : e00::ReadCore {
  e00::LineFile file;
  std::string baseName;  // the opened path without its extension
  int counter = 0;       // number of the last volume switched to
  unsigned long totalLength = 0;
  int volumes = 0;
  std::string volumeName;  // the current volume's path
  std::string previousName;  // the volume read before it, if any
  bool truncated = false;
  bool failed = false;  // a failure was recorded since the last read began

  ~CVtE00ReadRecord() override { CloseStream(); }

  void CloseStream() {
    if (file.Stream()) VSIFClose(file.Stream());
    file.Attach(nullptr);
  }
  std::string VolumeName(int volume) const;
  // Ends the stream as truncated: records the failure.
  void Truncated(const char* why) {
    CPLError(CE_Failure, CPLE_FileIO, "%s is truncated: %s", volumeName.c_str(), why);
    truncated = true;
    failed = true;
    dec.bEnd = 1;
  }
  // Names the volume in the decoder's message, and the volume before it:
  // where a volume was cut, the stream rarely decodes across the join.
  void DecodingFailed() {
    const std::string message = CPLGetLastErrorMsg();
    const CPLErrorNum number = CPLGetLastErrorNo();
    std::string after;
    if (!previousName.empty()) after = " It follows on from " + previousName + ", which may have been cut short.";
    CPLError(CE_Failure, number, "%s: %s%s", volumeName.c_str(), message.c_str(), after.c_str());
  }
  // Ends the stream where a line does not fit the export's sections.
  void Broken() {
    std::string why = check.Why();
    if (!previousName.empty()) why += " It follows on from " + previousName + ", which may have been cut short.";
    CPLError(CE_Failure, CPLE_FileIO, "%s is truncated or damaged: %s", volumeName.c_str(), why.c_str());
    truncated = true;
    failed = true;
  }

 protected:
  int ReadPhysical(char* line) override;
  void RewindPhysical() override { file.Seek(0); }
  bool PhysicalLineEnded() const override { return file.LastHadLineEnd(); }
  int PhysicalLength() const override { return file.LastLength(); }
  void UngetFailed() override {
    failed = true;
    CPLError(CE_Failure, CPLE_AssertionFailed,
             "UNEXPECTED INTERNAL ERROR: _UngetSourceChar() failed while reading line %ld.",
             static_cast<long>(nLineCount));
  }
};

// The write stream.
struct CVtE00WriteRecord {
  e00::LineWriter out;
  int nLevel = 0;
  int nLinesWritten = 0;
  e00::PendingBuffer pending{};
  bool failed = false;  // the last write failed
};

namespace {

constexpr int kLastVolume = 99;

FILE* OpenForRead(const std::string& path) { return VSIFOpen(VtResolvePathCase(path).c_str(), "rt"); }

unsigned long FileSize(FILE* fp) {
  if (VSIFSeek(fp, 0, SEEK_END) != 0) return 0;
  const long size = VSIFTell(fp);
  return size < 0 ? 0 : static_cast<unsigned long>(size);
}

}  // namespace

std::string CVtE00ReadRecord::VolumeName(int volume) const {
  char suffix[16];
  std::snprintf(suffix, sizeof suffix, ".E%02d", volume);
  return baseName + suffix;
}

// At the end of a volume the stream runs on into the next one, unless the
// volume's last line was cut short: then the set is truncated.
int CVtE00ReadRecord::ReadPhysical(char* line) {
  int taken = file.Read(line);
  while (taken == 0 && counter < kLastVolume) {
    const std::string name = VolumeName(counter + 1);
    FILE* next = OpenForRead(name);
    if (!next) break;
    ++counter;
    if (!file.LastHadLineEnd()) {
      VSIFClose(next);
      Truncated("its last line is cut short before the next volume.");
      return 0;
    }
    CloseStream();
    file.Attach(next);
    previousName = volumeName;
    volumeName = name;
    taken = file.Read(line);
  }
  return taken;
}

namespace {

void ReadRewind(CVtE00ReadRecord* r) {
  CPLErrorReset();
  r->truncated = false;
  r->Rewind();
}

void ReadClose(CVtE00ReadRecord* r) {
  CPLErrorReset();
  delete r;
}

CVtE00ReadRecord* ReadOpen(const std::string& path) {
  CPLErrorReset();
  const std::string resolved = VtResolvePathCase(path);
  FILE* fp = VSIFOpen(resolved.c_str(), "rt");
  if (!fp) {
    CPLError(CE_Failure, CPLE_OpenFailed, "Failed to open %s: %s", path.c_str(), "unknown");
    return nullptr;
  }
  auto* r = new CVtE00ReadRecord;
  r->file.Attach(fp);
  r->volumeName = path;
  // The bookkeeping is this file's before anything reads: the compression
  // test may run past the end of a file of one line.
  const size_t slash = path.rfind('/');
  const size_t dot = path.rfind('.');
  r->baseName = dot != std::string::npos && (slash == std::string::npos || dot > slash) ? path.substr(0, dot) : path;
  r->counter = 0;

  if (!r->TestOpen()) {
    delete r;
    CPLError(CE_Failure, CPLE_OpenFailed, "%s is not a valid E00 file.", path.c_str());
    return nullptr;
  }
  if (r->counter != 0) {
    // The test went on into a later volume: start again from the first.
    FILE* first = VSIFOpen(resolved.c_str(), "rt");
    if (!first) {
      delete r;
      CPLError(CE_Failure, CPLE_OpenFailed, "Failed to open %s: %s", path.c_str(), "unknown");
      return nullptr;
    }
    r->CloseStream();
    r->file.Attach(first);
    r->volumeName = path;
    r->previousName.clear();
    r->counter = 0;
    r->Rewind();
  }
  CPLErrorReset();
  r->truncated = false;

  r->totalLength = FileSize(r->file.Stream());
  r->file.Seek(0);
  r->volumes = 1;
  for (int i = 1; i <= kLastVolume; ++i) {
    FILE* volume = OpenForRead(r->VolumeName(i));
    if (!volume) break;
    r->totalLength += FileSize(volume);
    ++r->volumes;
    VSIFClose(volume);
  }
  return r;
}

// The next line; `failed` tells whether this read recorded a failure. The
// last error is cleared where an earlier read left one of ours, rather than
// on every line: GDAL's error state is thread-local and costly to touch.
const char* ReadNextLine(CVtE00ReadRecord* r, bool& failed) {
  failed = false;
  if (!r) {
    CPLErrorReset();
    return nullptr;
  }
  if (r->failed) {
    CPLErrorReset();
    r->failed = false;
  }
  const bool wasEnd = r->dec.bEnd;
  const char* line = wasEnd ? nullptr : r->NextLine();
  // The data ended after EOS: the sections must have ended with it.
  if (!line && !r->bBroken && !r->truncated && r->bReachedEnd && r->SawEndOfExport() && !r->check.Finish())
    r->bBroken = true;
  if (!line && r->bBroken && !r->truncated) r->Broken();
  // The end flag without the end of the data: decoding failed.
  if (!wasEnd && r->dec.bEnd && !r->bReachedEnd) {
    if (!r->failed && !r->truncated) r->DecodingFailed();
    r->failed = true;
  }
  // The data ran out (a decoding failure ends without reaching it) before
  // the EOS line: the export was cut short.
  if (!line && !r->truncated && r->bReachedEnd && !r->SawEndOfExport())
    r->Truncated("the export ends without its EOS line.");
  failed = r->failed;
  return line;
}

CVtE00WriteRecord* WriteOpen(const std::string& path, int level) {
  CPLErrorReset();
  FILE* fp = VSIFOpen(path.c_str(), "wt");
  if (!fp) {
    CPLError(CE_Failure, CPLE_OpenFailed, "Failed to open %s: %s", path.c_str(), "");
    return nullptr;
  }
  auto* w = new CVtE00WriteRecord;
  w->out.Attach(fp);
  w->nLevel = level;
  return w;
}

int ReportTooLong(size_t length) {
  CPLError(CE_Failure, CPLE_IllegalArg, "Line of %lu characters too long to write: at most %d fit.",
           static_cast<unsigned long>(length), e00::kLineBufferSize - 1);
  return e00::kLineTooLong;
}

// Writes a line that goes out unchanged; it must fit the line buffer.
int WriteWholeLine(CVtE00WriteRecord* w, const char* text) {
  const size_t length = std::strlen(text);
  if (length >= static_cast<size_t>(e00::kLineBufferSize)) return ReportTooLong(length);
  return w->out.Write(text, static_cast<int>(length));
}

// Writes `prefix` and `text` as one line that goes out unchanged.
int WriteWholeLine(CVtE00WriteRecord* w, const char* prefix, const char* text) {
  const size_t prefixLength = std::strlen(prefix), textLength = std::strlen(text);
  if (prefixLength + textLength >= static_cast<size_t>(e00::kLineBufferSize))
    return ReportTooLong(prefixLength + textLength);
  char line[e00::kLineBufferSize];
  std::memcpy(line, prefix, prefixLength);
  std::memcpy(line + prefixLength, text, textLength);
  return w->out.Write(line, static_cast<int>(prefixLength + textLength));
}

int WriteLine(CVtE00WriteRecord* w, const char* text);

// Writes the next line. The last error is cleared where an earlier write
// left one, rather than on every line (see ReadNextLine).
int WriteNextLine(CVtE00WriteRecord* w, const char* text) {
  if (!w) {
    CPLErrorReset();
    CPLError(CE_Failure, CPLE_IllegalArg, "Invalid E00WritePtr handle!");
    return e00::kInvalidHandle;
  }
  if (w->failed) {
    CPLErrorReset();
    w->failed = false;
  }
  const int status = WriteLine(w, text);
  w->failed = status != e00::kWriteOk;
  return status;
}

int WriteLine(CVtE00WriteRecord* w, const char* text) {
  const int k = w->nLinesWritten++;
  if (w->nLevel > 0 && k > 0) {
    e00::PendingBuffer& pending = w->pending;
    int status = e00::CompressLine(pending, text, w->nLevel == CVtE00::E00ComprFull);
    for (int cut; status == e00::kWriteOk && (cut = e00::NextCutLength(pending)) > 0;) {
      status = w->out.Write(pending.szBuf, cut);
      e00::DropPending(pending, cut);
    }
    return status;
  }
  if (w->nLevel > 0) {
    if (const char* zero = std::strstr(text, " 0")) return WriteWholeLine(w, "EXP  1", zero + 2);
  }
  return WriteWholeLine(w, text);
}

int WriteClose(CVtE00WriteRecord* w) {
  CPLErrorReset();
  int status = e00::kWriteOk;
  if (w->pending.nLength > 0) status = w->out.Write(w->pending.szBuf, w->pending.nLength);
  if (status == e00::kWriteOk) status = w->out.Flush();
  if (VSIFClose(w->out.Stream()) != 0 && status == e00::kWriteOk) {
    CPLError(CE_Failure, CPLE_FileIO, "Error writing to file: %s", "");
    status = e00::kWriteFailed;
  }
  delete w;
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

CString CVtE00::GetLastFailure() { return CString(CPLGetLastErrorMsg()); }

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
  bool failed = false;
  const char* line = ::ReadNextLine(m_pReadStream, failed);
  if (failed) {
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
    const unsigned long position = static_cast<unsigned long>(m_pReadStream->file.Tell());
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
    const long p = m_pWriteStream->out.Tell();
    return p < 0 ? 0 : static_cast<unsigned long>(p);
  }
  return 0;
}

unsigned long CVtE00::GetLength() const { return m_pReadStream ? m_pReadStream->totalLength : 0; }

int CVtE00::GetVolumeCount() const { return m_pReadStream ? m_pReadStream->volumes : 0; }

int CVtE00::IsTruncated() const { return m_pReadStream && m_pReadStream->truncated; }

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
  if (!r->file.Seek(target)) return;
  r->dec.szSrcLine[0] = '\0';
  r->dec.nSrcIndex = 0;
  r->dec.bEnd = 0;
  r->bReachedEnd = false;
  r->truncated = false;
  r->bBroken = false;
  // Reading goes on somewhere inside the set: its sections are followed again
  // from the next section header.
  r->check.Resync();
  m_dwLast = static_cast<unsigned long>(target);
}

void CVtE00::SeekToBegin() {
  if (m_pReadStream) ReadRewind(m_pReadStream);
}
