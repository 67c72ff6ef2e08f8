// Feeds arbitrary bytes to the FAST reader as a scene header: the first
// byte picks the header code its file is named with (HPN, HRF or HTM), the
// rest is the header, beside a 4096-byte band file L7X_B10.FST. Every row the
// header claims (up to a bound) is read into lines of the width bytes and of
// one byte. The header's lines also go through the name splitter.
#include <cstdint>
#include <string>

#include "FuzzInput.h"
#include "raster/CImgFileFst.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static const char* const kHeaders[] = {"L7X_HPN.FST", "L7X_HRF.FST", "L7X_HTM.FST"};
  static const std::string band = [] {
    const std::string path = FuzzPath("fast", "L7X_B10.FST");
    uint8_t bytes[4096];
    for (int i = 0; i < 4096; ++i) bytes[i] = static_cast<uint8_t>(i * 7);
    WriteFuzzFile(path, bytes, sizeof bytes);
    return path;
  }();
  for (const char* name : kHeaders) std::remove(FuzzPath("fast", name).c_str());
  WriteFuzzFile(FuzzPath("fast", kHeaders[data[0] % 3]), data + 1, size - 1);

  CString first, second;
  CImgFileFst::SplitOneLine(CString(reinterpret_cast<const char*>(data + 1), static_cast<int>(size - 1)), first,
                            second);
  int isHeader = 0;
  CImgFileFst::GetFileType(first, isHeader);

  CImgFileFst fst;
  if (!fst.OpenForRead(band.c_str())) return 0;
  if (fst.LoadImage() >= 0 && fst.GetWidthBytes() <= (1u << 16)) {
    CImgScanLine line(fst.GetPixelFormat(), static_cast<long>(fst.GetWidthBytes()));
    CImgScanLine tiny(fst.GetPixelFormat(), 1);
    const unsigned long rows = fst.GetHeight() < 64 ? fst.GetHeight() : 64;
    for (unsigned long r = 0; r <= rows; ++r) {
      fst.ReadScanLine(static_cast<long>(r), line);
      fst.ReadScanLine(static_cast<long>(r), tiny);
    }
  }
  fst.Close();
  return 0;
}
