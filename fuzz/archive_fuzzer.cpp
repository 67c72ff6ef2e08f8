// Loads random bytes as an archive of one of the exported arrays (the first
// byte picks the class, and whether the file can tell its length or must be
// read like a pipe). A load either fails with an archive exception or gives
// an array that stores, loads back equal and stores to the same bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/CVtGeoArrays.h"
#include "common/CVtGeoStyles.h"
#include "common/CVtObjProperties.h"
#include "platform/mfc/CMemFile.h"

namespace {

// A memory file that cannot tell its length, as a pipe cannot.
class StreamFile : public CMemFile {
 public:
  using CMemFile::CMemFile;
  ULONGLONG GetLength() const override { throw CFileException(CFileException::badSeek); }
};

template <class Array>
bool LoadFrom(Array& array, const uint8_t* data, size_t size, bool stream) {
  std::string copy(reinterpret_cast<const char*>(data), size);
  BYTE* bytes = reinterpret_cast<BYTE*>(&copy[0]);
  CMemFile file(bytes, static_cast<UINT>(size));
  StreamFile pipe(bytes, static_cast<UINT>(size));
  try {
    CArchive ar(stream ? static_cast<CFile*>(&pipe) : &file, CArchive::load);
    array.Serialize(ar);
    ar.Abort();
    return true;
  } catch (const CArchiveException&) {
    return false;
  }
}

template <class Array>
std::string Store(Array& array) {
  CMemFile file;
  CArchive ar(&file, CArchive::store);
  array.Serialize(ar);
  ar.Close();
  return std::string(reinterpret_cast<const char*>(file.GetData()), file.GetLength());
}

bool Equal(const CVtObjProperty& a, const CVtObjProperty& b) { return a == b; }
bool Equal(const CVtGeoStyle& a, const CVtGeoStyle& b) { return a == b; }
// Bit for bit, so that NaN errors compare equal to themselves.
bool Equal(const CTransformError& a, const CTransformError& b) {
  return a.m_nPoint == b.m_nPoint && std::memcmp(&a.m_dErrorX, &b.m_dErrorX, 8) == 0 &&
         std::memcmp(&a.m_dErrorY, &b.m_dErrorY, 8) == 0 && std::memcmp(&a.m_dError, &b.m_dError, 8) == 0;
}

template <class Array>
bool Same(const Array& a, const Array& b) {
  if (a.GetSize() != b.GetSize()) return false;
  for (int i = 0; i < a.GetSize(); ++i)
    if (!Equal(a[i], b[i])) return false;
  return true;
}

template <class Array>
void RoundTrip(const uint8_t* data, size_t size, bool stream) {
  Array loaded;
  if (!LoadFrom(loaded, data, size, stream)) return;
  const std::string stored = Store(loaded);
  Array again;
  if (!LoadFrom(again, reinterpret_cast<const uint8_t*>(stored.data()), stored.size(), false)) std::abort();
  if (!Same(loaded, again) || Store(again) != stored) std::abort();
}

// Byte-for-byte equality for the arrays of plain values.
template <class Array>
void RoundTripBytes(const uint8_t* data, size_t size, bool stream) {
  struct Wrapped : Array {
    bool operator==(const Wrapped& o) const {
      return this->GetSize() == o.GetSize() &&
             (this->GetSize() == 0 || std::memcmp(this->GetData(), o.GetData(), sizeof(this->GetData()[0]) * this->GetSize()) == 0);
    }
  };
  Wrapped loaded;
  if (!LoadFrom(loaded, data, size, stream)) return;
  const std::string stored = Store(loaded);
  Wrapped again;
  if (!LoadFrom(again, reinterpret_cast<const uint8_t*>(stored.data()), stored.size(), false)) std::abort();
  if (!(loaded == again) || Store(again) != stored) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const bool stream = (data[0] & 0x10) != 0;
  const uint8_t* body = data + 1;
  const size_t length = size - 1;
  switch (data[0] % 9) {
    case 0: RoundTripBytes<CPoint2Ds>(body, length, stream); break;
    case 1: RoundTripBytes<CPoint3Ds>(body, length, stream); break;
    case 2: RoundTripBytes<CPoints>(body, length, stream); break;
    case 3: RoundTripBytes<CRect2Ds>(body, length, stream); break;
    case 4: RoundTripBytes<CRects>(body, length, stream); break;
    case 5: RoundTrip<CVtGeoStyles>(body, length, stream); break;
    case 6: RoundTripBytes<CVtByteArrayEx>(body, length, stream); break;
    case 7: RoundTrip<CTransformErrors>(body, length, stream); break;
    default: RoundTrip<CVtObjProperties>(body, length, stream); break;
  }
  return 0;
}
