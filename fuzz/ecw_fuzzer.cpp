// Feeds arbitrary bytes to the ECW reader through a file, then asks for
// random views. The first byte steers: bits 0-1 name the file (.jp2, .tif,
// .png, .ecw), bits 2-4 give the number of views, bit 5 reads lines of the
// whole image after them. Each view takes eight bytes: left, top, right,
// bottom (spread a little past the image on every side), window width and
// height (1 to 256), and a band byte (bit 7 set: a list of (byte >> 4) & 7
// bands, some of them not in the file). The rest is the file.
#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "raster/CImgFileECW.h"

namespace {

const char* const kNames[] = {"f.jp2", "f.tif", "f.png", "f.ecw"};

constexpr long kMaxSamples = 1L << 18;

LONG Edge(uint8_t v, long size) { return static_cast<LONG>(v * (size + 16) / 255 - 8); }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SkipGeodataOpenJpeg();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  SteeredInput in;
  if (!ReadSteeredInput("ecw", kNames, data, size, in)) return 0;
  const size_t header = 1 + in.requests * 8;
  if (TiffClaimsManyBands(data + header, size - header, 256)) return 0;

  CImgFileECW ecw;
  if (!ecw.Open(in.path.c_str())) return 0;
  const long w = ecw.GetWidth(), h = ecw.GetHeight();
  // Views of a large image decode all of it, every band of it for a view of
  // them all; the decoder's speed on large pictures is not what is tested
  // here, and a small picture runs the same paths hundreds of times a second.
  if (w * h > kMaxSamples / std::max(1L, ecw.GetBandCount())) return 0;
  for (size_t i = 0; i < in.requests; ++i) {
    const uint8_t* v = in.request + i * 8;
    const CRect rect(Edge(v[0], w), Edge(v[1], h), Edge(v[2], w), Edge(v[3], h));
    std::vector<long> bands;
    if (v[6] & 0x80)
      for (int b = 0; b < ((v[6] >> 4) & 7); ++b) bands.push_back((v[6] + b) % (ecw.GetBandCount() + 2) - 1);
    ecw.SetFileView(rect, 1 + v[4], 1 + v[5], (v[6] & 0x80) ? bands.data() : nullptr,
                    static_cast<long>(bands.size()));
    NCSFileViewSetInfo* info = nullptr;
    ecw.GetECWViewSetInfo(info);
  }
  if (in.steer & 0x20) {
    CImgScanLine line;
    ecw.GetScanLine(0, line);
    if (ecw.SetOutputBound())
      for (long y = 0; y < 40 && y <= h; ++y) ecw.GetScanLine(y, line);
  }
  ecw.Close();
  return 0;
}
