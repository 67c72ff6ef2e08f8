#include "platform/vtelem/CGeoImgBlock.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/vtcore/CVtImgToolkit.h"

namespace {
const uint64_t kMaxBlockBytes = uint64_t(1) << 32;
}

CGeoImgBlock::CGeoImgBlock(ImgPixelFormat format, long width, long height)
    : m_PixelFormat(format), m_nWidth(width), m_nHeight(height) {
  m_nWidthBytes = CVtImgToolkit::AlignWidth(format, width);
  if (!Allocate()) m_nWidth = m_nHeight = m_nWidthBytes = 0;
}

bool CGeoImgBlock::Sized() const {
  return m_nStoredWidthBytes == m_nWidthBytes && m_nStoredHeight == m_nHeight &&
         m_Bits.size() == static_cast<size_t>(m_nWidthBytes) * static_cast<size_t>(m_nHeight);
}

bool CGeoImgBlock::Allocate() {
  if (m_nWidthBytes < 0 || m_nHeight < 0) return false;
  const uint64_t bytes = static_cast<uint64_t>(m_nWidthBytes) * static_cast<uint64_t>(m_nHeight);
  if (bytes > kMaxBlockBytes) return false;
  try {
    std::vector<unsigned char>(static_cast<size_t>(bytes), 0).swap(m_Bits);
  } catch (const std::bad_alloc&) {
    return false;
  }
  m_nStoredWidthBytes = m_nWidthBytes;
  m_nStoredHeight = m_nHeight;
  return true;
}

unsigned char* CGeoImgBlock::GetRow(long row) {
  if (row < 0 || row >= m_nHeight || !Sized() || m_nWidthBytes == 0) return nullptr;
  return m_Bits.data() + static_cast<size_t>(row) * static_cast<size_t>(m_nWidthBytes);
}

const unsigned char* CGeoImgBlock::GetRow(long row) const {
  return const_cast<CGeoImgBlock*>(this)->GetRow(row);
}

bool CGeoImgBlock::GetScanLine(long row, CImgScanLine& line, long column, int flags) const {
  if (column != 0 || flags != 0) return false;
  const unsigned char* bits = GetRow(row);
  if (!bits) return false;
  const size_t n = std::min<size_t>(static_cast<size_t>(m_nWidthBytes), static_cast<size_t>(line.GetSize()));
  if (n) std::memcpy(line.GetData(), bits, n);
  return true;
}

bool CGeoImgBlock::SetScanLine(long row, const CImgScanLine& line, long column, int flags) {
  if (column != 0 || flags != 0 || row < 0 || row >= m_nHeight) return false;
  if (!Sized() && !Allocate()) return false;
  unsigned char* bits = GetRow(row);
  if (!bits) return false;
  const size_t rowBytes = static_cast<size_t>(m_nWidthBytes);
  const size_t n = std::min<size_t>(rowBytes, static_cast<size_t>(line.GetSize()));
  if (n) std::memcpy(bits, line.GetData(), n);
  if (n < rowBytes) std::memset(bits + n, 0, rowBytes - n);
  return true;
}
