// Feeds arbitrary bytes to the IDRISI reader: the first two bytes give the
// length of the documentation file's text, the rest is the image. Every
// row the documentation claims (up to a bound) is read, into lines of the
// width bytes and of one byte.
#include <cstdint>
#include <string>

#include "FuzzInput.h"
#include "raster/CImgFileIdr.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  size_t docBytes = data[0] | (data[1] << 8);
  if (docBytes > size - 2) docBytes = size - 2;
  const std::string path = FuzzPath("idrisi", "r.img");
  WriteFuzzFile(FuzzPath("idrisi", "r.doc"), data + 2, docBytes);
  WriteFuzzFile(path, data + 2 + docBytes, size - 2 - docBytes);

  CImgFileIdr idr;
  if (!idr.OpenForRead(path.c_str())) return 0;
  if (idr.LoadImage() >= 0 && idr.GetWidthBytes() <= (1u << 16)) {
    CImgScanLine line(idr.GetPixelFormat(), static_cast<long>(idr.GetWidthBytes()));
    CImgScanLine tiny(idr.GetPixelFormat(), 1);
    const unsigned long rows = idr.GetHeight() < 64 ? idr.GetHeight() : 64;
    for (unsigned long r = 0; r <= rows; ++r) {
      idr.ReadScanLine(static_cast<long>(r), tiny);
      if (idr.ReadScanLine(static_cast<long>(r), line) < 0) break;
    }
  }
  idr.Close();
  return 0;
}
