#include "access/RowConvert.h"

#include <cstdint>
#include <cstring>
#include <utility>

namespace vtfmt {

void SwapRedBlue(unsigned char* row, size_t pixels, size_t samples, size_t sampleBytes) {
  const size_t pixel = samples * sampleBytes;
  for (size_t i = 0; i < pixels; ++i, row += pixel)
    for (size_t b = 0; b < sampleBytes; ++b) std::swap(row[b], row[2 * sampleBytes + b]);
}

namespace {

// Copies `pixels` pixels of `Samples` 8-bit samples, exchanging the first
// and third: blue first in, red first out. One pass over the row, with the
// pixel size known to the compiler.
template <size_t Samples>
void CopyRedFirst(const unsigned char* from, unsigned char* to, size_t pixels) {
  for (size_t i = 0; i < pixels; ++i, from += Samples, to += Samples) {
    to[0] = from[2];
    to[1] = from[1];
    to[2] = from[0];
    if constexpr (Samples == 4) to[3] = from[3];
  }
}

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
// Three-byte pixels, the common case, a word at a time: the four bytes from
// a pixel on, reversed and shifted down, are the pixel red first, and the
// fourth byte written is overwritten by the next pixel. The last pixel is
// copied byte by byte, so nothing is read or written past the row.
template <>
void CopyRedFirst<3>(const unsigned char* from, unsigned char* to, size_t pixels) {
  if (pixels == 0) return;
  for (size_t i = 0; i + 1 < pixels; ++i, from += 3, to += 3) {
    uint32_t word;
    std::memcpy(&word, from, 4);
    word = __builtin_bswap32(word) >> 8;
    std::memcpy(to, &word, 4);
  }
  to[0] = from[2];
  to[1] = from[1];
  to[2] = from[0];
}
#endif

}  // namespace

void CopySwappingRedBlue(const unsigned char* from, unsigned char* to, size_t pixels, size_t samples) {
  if (samples == 3) return CopyRedFirst<3>(from, to, pixels);
  CopyRedFirst<4>(from, to, pixels);
}

}  // namespace vtfmt
