#include "vector/e00/CFileE00.h"

#include <cpl_conv.h>
#include <cpl_vsi.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/posix/PathCase.h"
#include "vector/e00/E00Codec.h"

// The read record of one open volume.
struct CFileE00ReadRecord {
  FILE* fp;
  int bCompressed;
  e00::DecodeBuffer dec;  // end flag, source index, source and output lines
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
  if (!other.m_pReadHandle) return *this;
  // An own stream on the same volume, at the same place, with the same
  // decoding state.
  FILE* fp = OpenVolume(other.m_strFileName);
  if (!fp) {
    m_strFileName.Empty();
    m_PosInfo.m_nVolumeNo = -1;
    return *this;
  }
  m_pReadHandle = static_cast<CFileE00ReadRecord*>(CPLCalloc(1, sizeof(CFileE00ReadRecord)));
  *m_pReadHandle = *other.m_pReadHandle;
  m_pReadHandle->fp = fp;
  VSIFSeek(fp, static_cast<long>(std::ftell(other.m_pReadHandle->fp)), SEEK_SET);
  return *this;
}

CFileE00::~CFileE00() { ReadClose(); }

int CFileE00::OpenForRead(const CString& path) {
  // An open volume is closed first rather than leaked.
  ReadClose();
  FILE* fp = OpenVolume(path);
  if (!fp) return 0;
  m_pReadHandle = static_cast<CFileE00ReadRecord*>(CPLCalloc(1, sizeof(CFileE00ReadRecord)));
  m_pReadHandle->fp = fp;
  ReadTestOpen();
  m_strFileName = path;
  m_PosInfo.m_nVolumeNo = VolumeNumber(path);
  return 1;
}

void CFileE00::ReadClose() {
  if (m_pReadHandle) {
    if (m_pReadHandle->fp) VSIFClose(m_pReadHandle->fp);
    VSIFree(m_pReadHandle);
    m_pReadHandle = nullptr;
  }
  m_strFileName.Empty();
  m_PosInfo.m_nVolumeNo = -1;
}

int CFileE00::IsCompressed() { return m_pReadHandle ? m_pReadHandle->bCompressed : 0; }

FILE* CFileE00::GetFileHandle() { return m_pReadHandle ? m_pReadHandle->fp : nullptr; }

// The volume is compressed when its first line after the header that is
// neither empty nor begins with a space has 79 or 80 characters and a "~".
void CFileE00::ReadTestOpen() {
  e00::DecodeBuffer& dec = m_pReadHandle->dec;
  ReadNextSourceLine();
  do {
    ReadNextSourceLine();
  } while (!dec.bEnd && (dec.szSrcLine[0] == '\0' || dec.szSrcLine[0] == ' '));
  m_pReadHandle->bCompressed = !dec.bEnd && e00::IsCompressedLine(dec.szSrcLine);
  ReadRewind();
}

void CFileE00::ReadNextSourceLine() {
  e00::DecodeBuffer& dec = m_pReadHandle->dec;
  if (dec.bEnd) return;
  dec.nSrcIndex = 0;
  // The stream is binary here: the bytes taken are exactly the bytes of the
  // line and its line end, whether that is LF or CR LF.
  const int taken = e00::ReadPhysicalLine(m_pReadHandle->fp, dec.szSrcLine);
  if (taken == 0) {
    dec.bEnd = 1;
    return;
  }
  m_PosInfo.m_nByteOffset += taken;
  ++m_PosInfo.m_nLineCount;
}

void CFileE00::ReadRewind() {
  e00::DecodeBuffer& dec = m_pReadHandle->dec;
  dec.szSrcLine[0] = '\0';
  dec.szOutLine[0] = '\0';
  dec.nSrcIndex = 0;
  m_PosInfo.m_nByteOffset = 0;
  m_PosInfo.m_nLineCount = 0;
  VSIRewind(m_pReadHandle->fp);
  dec.bEnd = 0;
}

const char* CFileE00::UncompressNextLine() {
  struct Source : e00::LineSource {
    explicit Source(CFileE00* file) : self(file) {}
    void ReadNextSourceLine() override { self->ReadNextSourceLine(); }
    long LineNumber() const override { return static_cast<long>(self->m_PosInfo.m_nLineCount); }
    CFileE00* self;
  } source(this);
  e00::UncompressNextLine(m_pReadHandle->dec, source);
  return m_pReadHandle->dec.szOutLine;
}

CString CFileE00::VolumeName(int volume) const {
  CString digits;
  digits.Format("%02d", volume);
  const int length = m_strFileName.GetLength();
  return m_strFileName.Left(length >= 2 ? length - 2 : 0) + digits;
}

const char* CFileE00::ReadNextLine() {
  for (;;) {
    if (!m_pReadHandle) return nullptr;
    if (m_pReadHandle->dec.bEnd) {
      if (m_PosInfo.m_nVolumeNo >= 99) return nullptr;
      const CString next = VolumeName(m_PosInfo.m_nVolumeNo + 1);
      ReadClose();
      m_PosInfo.m_nByteOffset = 0;
      if (!OpenForRead(next)) return nullptr;
    }
    e00::DecodeBuffer& dec = m_pReadHandle->dec;
    if (dec.bEnd) return nullptr;

    const char* line;
    if (m_pReadHandle->bCompressed) {
      if (m_PosInfo.m_nLineCount == 0) {
        ReadNextSourceLine();
        e00::UncompressHeader(dec.szSrcLine);
        line = dec.szSrcLine;
      } else {
        if (m_PosInfo.m_nLineCount == 1) ReadNextSourceLine();
        line = UncompressNextLine();
      }
    } else {
      ReadNextSourceLine();
      line = dec.szSrcLine;
    }
    if (!dec.bEnd || line[0] != '\0') return line;
  }
}

int CFileE00::ReadString(CString& line) {
  const char* text = ReadNextLine();
  if (!text) return 0;
  line = text;
  return 1;
}

int64_t CFileE00::GetPosition() {
  if (!m_pReadHandle) return 0;
  const long position = std::ftell(m_pReadHandle->fp);
  return position < 0 ? 0 : position;
}

void CFileE00::SeekFromBegin(int64_t offset) {
  VSIFSeek(m_pReadHandle->fp, static_cast<long>(offset), SEEK_SET);
  m_PosInfo.m_nByteOffset = offset;
}

int CFileE00::SeekPosition(const CFilePosInfo& info) {
  if (!m_pReadHandle) return 0;
  if (info.m_nVolumeNo == m_PosInfo.m_nVolumeNo) {
    ReadRewind();
  } else {
    const CString name = VolumeName(info.m_nVolumeNo);
    ReadClose();
    if (!OpenForRead(name)) return 0;
  }
  m_PosInfo.m_nLineCount = info.m_nLineCount;
  SeekFromBegin(info.m_nByteOffset);
  return 1;
}
