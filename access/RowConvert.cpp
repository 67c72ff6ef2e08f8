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

void WidenUnsigned16(const unsigned char* from, unsigned char* to, size_t cells) {
  for (size_t x = 0; x < cells; ++x) {
    uint16_t u;
    std::memcpy(&u, from + 2 * x, 2);
    const int32_t v = u;
    std::memcpy(to + 4 * x, &v, 4);
  }
}

}  // namespace vtfmt
