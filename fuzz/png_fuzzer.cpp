// Feeds arbitrary bytes to the PNG driver. The first byte steers the run:
// bit 0 sets how many rows are read (all, or only the first few), bit 1
// whether a small image read is encoded again through an image block; the
// rest is the file.
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/vtelem/CGeoImgBlock.h"
#include "FuzzInput.h"
#include "raster/CImgFilePng.h"

namespace {
std::string Path() { return FuzzPath("png", "f.png"); }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const std::string path = Path();
  if (!WriteFuzzFile(path, data + 1, size - 1)) return 0;

  CImgFilePng png;
  if (!png.OpenForRead(path.c_str()) || png.LoadImage() != 1) return 0;
  const long height = static_cast<long>(png.GetHeight());
  const long rows = (data[0] & 1) ? std::min<long>(height, 3) : height;
  const bool encode = (data[0] & 2) && png.GetWidthBytes() * static_cast<uint64_t>(height) <= (1 << 16);
  CGeoImgBlock block;
  if (encode) {
    block.m_PixelFormat = png.GetPixelFormat();
    block.m_nWidth = static_cast<long>(png.GetWidth());
    block.m_nHeight = height;
    block.m_nWidthBytes = static_cast<long>(png.GetWidthBytes());
  }
  CImgScanLine line;
  for (long r = 0; r < rows; ++r) {
    if (png.ReadScanLine(r, line) < 0) break;
    if (static_cast<unsigned long>(line.GetSize()) != png.GetWidthBytes()) abort();
    if (encode) block.SetScanLine(r, line);
  }
  if (encode) {
    CImgFilePng writer;
    writer.m_Palette.Copy(png.m_Palette);
    std::vector<unsigned char> stream;
    writer.EncodeBlock(&block, stream);
  }
  png.Close();
  return 0;
}
