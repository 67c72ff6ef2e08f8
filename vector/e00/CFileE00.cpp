#include "vector/e00/CFileE00.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/geodata/GeodataCpl.h"
#include "platform/posix/PathCase.h"
#include "vector/e00/E00Reader.h"

// The geodata library's error and file layer, bound when first used.
using namespace vtgeo;

// The read record of one open volume: the shared reader over the volume's
// stream, and where the physical line being decoded began.
struct CFileE00ReadRecord : e00::ReadCore {
  e00::LineFile file;
  int64_t nLineStart = 0;

  ~CFileE00ReadRecord() override {
    if (file.Stream()) VSIFClose(file.Stream());
  }

 protected:
  int ReadPhysical(char* line) override {
    nLineStart = file.Tell();
    return file.Read(line);
  }
  void RewindPhysical() override { file.Seek(0); }
  bool PhysicalLineEnded() const override { return file.LastHadLineEnd(); }
  int PhysicalLength() const override { return file.LastLength(); }
};

namespace {

FILE* OpenVolume(const CString& path) { return VSIFOpen(VtResolvePathCase(path.str()).c_str(), "rt"); }

// The volume number a name ends in: the value of its last two characters.
int VolumeNumber(const CString& name) {
  const int length = name.GetLength();
  const CString tail = name.Mid(length >= 2 ? length - 2 : 0);
  return static_cast<int16_t>(std::atoi(tail));
}

}  // namespace

CFileE00::CFileE00() = default;

CFileE00::CFileE00(const CFileE00& other) { *this = other; }

CFileE00& CFileE00::operator=(const CFileE00& other) {
  if (this == &other) return *this;
  ReadClose();
  m_strFileName = other.m_strFileName;
  m_PosInfo = other.m_PosInfo;
  m_bTruncated = other.m_bTruncated;
  m_strPrevious = other.m_strPrevious;
  if (!other.m_pReadHandle) return *this;
  // An own stream on the same volume, at the same place, with the same
  // decoding state.
  FILE* fp = OpenVolume(other.m_strFileName);
  if (!fp) {
    m_strFileName.Empty();
    m_PosInfo.m_nVolumeNo = -1;
    return *this;
  }
  auto* r = new CFileE00ReadRecord;
  static_cast<e00::ReadCore&>(*r) = *other.m_pReadHandle;
  r->nLineStart = other.m_pReadHandle->nLineStart;
  r->file.Attach(fp);
  r->file.Seek(other.m_pReadHandle->file.Tell());
  m_pReadHandle = r;
  return *this;
}

CFileE00::~CFileE00() { ReadClose(); }

int CFileE00::OpenForRead(const CString& path) {
  // An open volume is closed first rather than leaked.
  ReadClose();
  FILE* fp = OpenVolume(path);
  if (!fp) return 0;
  m_pReadHandle = new CFileE00ReadRecord;
  m_pReadHandle->file.Attach(fp);
  m_pReadHandle->TestOpen();
  m_strFileName = path;
  m_PosInfo.m_nVolumeNo = VolumeNumber(path);
  m_PosInfo.m_nByteOffset = 0;
  m_PosInfo.m_nLineCount = 0;
  m_PosInfo.m_nSourceIndex = 0;
  m_bTruncated = 0;
  m_strPrevious.Empty();
  return 1;
}

void CFileE00::ReadClose() {
  if (m_pReadHandle) {
    // The place reached stays readable after closing.
    m_PosInfo.m_nByteOffset = m_pReadHandle->file.Tell();
    m_PosInfo.m_nLineCount = m_pReadHandle->nLineCount;
    m_PosInfo.m_nSourceIndex = 0;
    delete m_pReadHandle;
    m_pReadHandle = nullptr;
  }
  m_strFileName.Empty();
  m_PosInfo.m_nVolumeNo = -1;
}

int CFileE00::IsCompressed() { return m_pReadHandle ? m_pReadHandle->bCompressed : 0; }

FILE* CFileE00::GetFileHandle() { return m_pReadHandle ? m_pReadHandle->file.Stream() : nullptr; }

unsigned long CFileE00::GetLineNO() const {
  const int64_t count = m_pReadHandle ? m_pReadHandle->nLineCount : m_PosInfo.m_nLineCount;
  return static_cast<unsigned long>(count & 0xFFFFFFFF);
}

void CFileE00::GetPosInfo(CFilePosInfo& info) const {
  info = m_PosInfo;
  const CFileE00ReadRecord* r = m_pReadHandle;
  if (!r) return;
  const e00::DecodeBuffer& d = r->dec;
  if (d.bEnd && m_PosInfo.m_nVolumeNo >= 0 && m_PosInfo.m_nVolumeNo < 99) {
    // The volume is done (read to its end, or decoding failed in it): the
    // next line is the next volume's first.
    info.m_nVolumeNo = m_PosInfo.m_nVolumeNo + 1;
    info.m_nByteOffset = 0;
    info.m_nLineCount = 0;
    info.m_nSourceIndex = 0;
  } else if (r->bCompressed && r->nLineCount >= 2 && !d.bEnd && d.nSrcIndex > 0 && d.szSrcLine[d.nSrcIndex] != '\0') {
    // Decoding stopped inside a physical line: come back to that line.
    info.m_nByteOffset = r->nLineStart;
    info.m_nLineCount = r->nLineCount - 1;
    info.m_nSourceIndex = d.nSrcIndex;
  } else {
    info.m_nByteOffset = r->file.Tell();
    info.m_nLineCount = r->nLineCount;
    info.m_nSourceIndex = 0;
  }
}

CString CFileE00::VolumeName(int volume) const {
  CString digits;
  digits.Format("%02d", volume);
  const int length = m_strFileName.GetLength();
  return m_strFileName.Left(length >= 2 ? length - 2 : 0) + digits;
}

void CFileE00::ReportTruncated(const char* why) {
  CPLError(CE_Failure, CPLE_FileIO, "%s is truncated: %s", m_strFileName.str().c_str(), why);
  m_bTruncated = 1;
  ReadClose();
}

void CFileE00::ReportBroken(const std::string& why) {
  std::string text = why;
  if (!m_strPrevious.IsEmpty())
    text += " It follows on from " + m_strPrevious.str() + ", which may have been cut short.";
  CPLError(CE_Failure, CPLE_FileIO, "%s is truncated or damaged: %s", m_strFileName.str().c_str(), text.c_str());
  m_bTruncated = 1;
  ReadClose();
}

const char* CFileE00::ReadNextLine() {
  for (;;) {
    if (!m_pReadHandle) return nullptr;
    if (m_pReadHandle->dec.bEnd) {
      // The end of a volume: on into the next one, if there is one.
      const bool sawEos = m_pReadHandle->SawEndOfExport();
      const bool cut = m_pReadHandle->bReachedEnd && !m_pReadHandle->file.LastHadLineEnd();
      FILE* probe = m_PosInfo.m_nVolumeNo < 99 ? OpenVolume(VolumeName(m_PosInfo.m_nVolumeNo + 1)) : nullptr;
      if (!probe) {
        if (!sawEos)
          ReportTruncated("the export ends without its EOS line.");
        else if (!m_pReadHandle->check.Finish())
          ReportBroken(m_pReadHandle->check.Why());
        ReadClose();
        return nullptr;
      }
      VSIFClose(probe);
      if (cut) {
        ReportTruncated("its last line is cut short before the next volume.");
        return nullptr;
      }
      const CString next = VolumeName(m_PosInfo.m_nVolumeNo + 1);
      const e00::SectionCheck check = m_pReadHandle->check;
      const CString previous = m_strFileName;
      ReadClose();
      if (!OpenForRead(next)) return nullptr;
      m_pReadHandle->bSawEos = sawEos;
      // A plain volume goes on with the sections of the one before; a
      // compressed one begins with a header of its own.
      if (!m_pReadHandle->bCompressed) m_pReadHandle->check = check;
      m_strPrevious = previous;
    }
    CFileE00ReadRecord* r = m_pReadHandle;
    if (r->dec.bEnd) continue;
    if (const char* line = r->NextLine()) return line;
    if (r->bBroken) {
      ReportBroken(r->check.Why());
      return nullptr;
    }
  }
}

int CFileE00::ReadString(CString& line) {
  const char* text = ReadNextLine();
  if (!text) return 0;
  line = text;
  return 1;
}

int CFileE00::SeekPosition(const CFilePosInfo& info) {
  if (!m_pReadHandle) return 0;
  if (info.m_nVolumeNo == m_PosInfo.m_nVolumeNo) {
    m_pReadHandle->Rewind();
  } else {
    const CString name = VolumeName(info.m_nVolumeNo);
    ReadClose();
    if (!OpenForRead(name)) return 0;
  }
  CFileE00ReadRecord* r = m_pReadHandle;
  r->nLineCount = info.m_nLineCount;
  r->file.Seek(info.m_nByteOffset);
  // Back inside the set: its sections are followed again from the next
  // section header.
  if (info.m_nByteOffset != 0 || info.m_nSourceIndex != 0) r->check.Resync();
  if (info.m_nSourceIndex > 0 && r->bCompressed) {
    // Back into the physical line, past what was decoded from it.
    r->ReadNextSourceLine();
    const int length = static_cast<int>(std::strlen(r->dec.szSrcLine));
    r->dec.nSrcIndex = std::min(info.m_nSourceIndex, length);
  }
  return 1;
}
