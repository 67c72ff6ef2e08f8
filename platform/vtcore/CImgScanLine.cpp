#include "platform/vtcore/CImgScanLine.h"

#include <climits>
#include <cstring>

#include "platform/vtcore/CVtImgToolkit.h"

CImgScanLine::CImgScanLine(ImgPixelFormat format, long bytes) : m_PixelFormat(format) {
  // The byte array counts in int: a row it cannot hold makes an empty line,
  // which every driver refuses as too short, instead of an exception.
  if (bytes < 0 || bytes > INT_MAX) bytes = 0;
  SetSize(static_cast<int>(bytes), -1);
  m_nLength = bytes;
  unsigned bits = CVtImgToolkit::BitCount(format);
  m_nWidth = bits ? static_cast<long>(static_cast<long long>(bytes) * 8 / bits) : 0;
}

namespace {
template <class T>
double Load(const BYTE* data, long long size, long index) {
  long long offset = static_cast<long long>(index) * sizeof(T);
  if (offset + static_cast<long long>(sizeof(T)) > size) return 0.0;
  T value;
  std::memcpy(&value, data + offset, sizeof(T));
  return static_cast<double>(value);
}
}  // namespace

double CImgScanLine::GetValue(long index) const {
  if (index < 0) return 0.0;
  const BYTE* data = GetData();
  const long long size = GetSize();
  switch (m_PixelFormat) {
    case PF_BIT1: {
      long long byte = index / 8;
      if (byte >= size) return 0.0;
      return (data[byte] >> (7 - index % 8)) & 1;
    }
    case PF_BIT4: {
      long long byte = index / 2;
      if (byte >= size) return 0.0;
      return (index % 2 == 0) ? (data[byte] >> 4) : (data[byte] & 0x0F);
    }
    case PF_BIT8:
      return Load<uint8_t>(data, size, index);
    case PF_BIT16:
      return Load<int16_t>(data, size, index);
    case PF_BIT24: {
      long long offset = static_cast<long long>(index) * 3;
      if (offset + 3 > size) return 0.0;
      return data[offset] | (data[offset + 1] << 8) | (data[offset + 2] << 16);
    }
    case PF_BIT32:
    case PF_INT32:
      return Load<int32_t>(data, size, index);
    case PF_BIT48: {
      long long offset = static_cast<long long>(index) * 6;
      if (offset + 6 > size) return 0.0;
      uint64_t v = 0;
      for (int i = 5; i >= 0; --i) v = (v << 8) | data[offset + i];
      return static_cast<double>(v);
    }
    case PF_BIT64:
      return Load<int64_t>(data, size, index);
    case PF_FLOAT32:
      return Load<float>(data, size, index);
    case PF_FLOAT64:
      return Load<double>(data, size, index);
    default:
      return 0.0;
  }
}

void CImgScanLine::SwapBlueRed() {
  long long pixels = GetSize() / 3;
  if (m_nWidth > 0 && m_nWidth < pixels) pixels = m_nWidth;
  BYTE* data = GetData();
  for (long long i = 0; i < pixels; ++i) {
    BYTE t = data[3 * i];
    data[3 * i] = data[3 * i + 2];
    data[3 * i + 2] = t;
  }
}
