// Feeds arbitrary bytes to InputBlock as a JPEG stream in memory; a block
// that decodes (and is small) is compressed again with OutputBlock and
// decoded once more, which must give the same size and pixel format.
#include <cstdint>
#include <cstdlib>

#include "platform/vtelem/CGeoImgBlock.h"
#include "raster/CImgFileJPEG.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  CImgFileJPEG jpeg;
  CGeoImgBlock block;
  if (jpeg.InputBlock(const_cast<unsigned char*>(data), static_cast<int>(size), &block) != 1) return 0;
  if (static_cast<uint64_t>(block.m_nWidth) * static_cast<uint64_t>(block.m_nHeight) > 256 * 256) return 0;
  unsigned char* stream = nullptr;
  const long bytes = jpeg.OutputBlock(stream, &block, size % 101);
  if (bytes <= 0) abort();
  CGeoImgBlock again;
  if (jpeg.InputBlock(stream, static_cast<int>(bytes), &again) != 1 || again.m_nWidth != block.m_nWidth ||
      again.m_nHeight != block.m_nHeight || again.m_PixelFormat != block.m_PixelFormat)
    abort();
  delete[] stream;
  return 0;
}
