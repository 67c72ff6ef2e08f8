// Feeds arbitrary bytes to the MrSID reader through a file, then asks for
// random windows. The first byte steers: bits 0-1 name the file (.jp2,
// .tif, .png, .sid), bits 2-4 give the number of requests. Each request
// takes eight bytes: bit 0 of the first chooses GetImage (a view rectangle
// spread past the image, with special values far away and NaN, and a
// resolution) or GetDataDirect (a level that may be past the deepest, a
// window of 1 to 64 pixels, a centre anywhere near the image), then
// RetriveData. The rest is the file.
#include <stdlib.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "raster/CImgFileMrSID20.h"

namespace {

const char* const kNames[] = {"f.jp2", "f.tif", "f.png", "f.sid"};

constexpr long kMaxPixels = 1L << 18;

double Coordinate(uint8_t v, long size) {
  switch (v) {
    case 255: return NAN;
    case 254: return 1e300;
    case 253: return -1e300;
    case 252: return 2147483648.0;
    default: return v * (size + 20.0) / 251 - 10 + (v & 1) * 0.5;
  }
}

double Resolution(uint8_t v) {
  switch (v) {
    case 255: return NAN;
    case 254: return -1;
    case 253: return 0;
    case 252: return INFINITY;
    default: return v / 64.0;
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SkipGeodataOpenJpeg();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  SteeredInput in;
  if (!ReadSteeredInput("mrsid", kNames, data, size, in)) return 0;
  const size_t header = 1 + in.requests * 8;
  if (TiffClaimsManyBands(data + header, size - header, 256)) return 0;

  CImgFileMrSID20 sid;
  sid.OpenForRead(in.path.c_str());
  sid.GetImage();  // not loaded yet
  if (sid.LoadImage() != 1) return 0;
  const long w = sid.GetWidth(), h = sid.GetHeight();
  // Windows of a large image may decode much of it at full size, each
  // through a fresh buffer; the decoder's speed on large pictures is not
  // what is tested here, and a small picture runs the same paths hundreds
  // of times a second.
  if (w * h > kMaxPixels) return 0;
  std::vector<unsigned char> target;
  for (size_t i = 0; i < in.requests; ++i) {
    const uint8_t* r = in.request + i * 8;
    if (r[0] & 1) {
      sid.SetViewRect(CRect2D(Coordinate(r[1], w), Coordinate(r[2], h), Coordinate(r[3], w), Coordinate(r[4], h)));
      sid.SetResolution(Resolution(r[5]));
      sid.GetImage();
    } else {
      const long level = r[1] % (sid.GetLev() + 3) - 1;
      const long ww = 1 + r[2] % 64, wh = 1 + r[3] % 64;
      const CPoint centre(static_cast<LONG>(r[4] * (w + 40) / 255) - 20, static_cast<LONG>(r[5] * (h + 40) / 255) - 20);
      target.assign(static_cast<size_t>(wh) * ((ww * 3 + 3) / 4 * 4), 0);
      sid.GetDataDirect(target.data(), level, ww, wh, centre);
    }
    sid.RetriveData();
  }
  sid.Close();
  return 0;
}
