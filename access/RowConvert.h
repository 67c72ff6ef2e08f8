// Row forms shared by the tool's conversions and the array reader and
// writer: colour samples between blue-first and red-first order, unsigned
// 16-bit cells widened to signed 32-bit ones.
#pragma once

#include <cstddef>

namespace vtfmt {

// Exchanges the first and third sample of each of `pixels` pixels of
// `samples` samples (3 or more) of `sampleBytes` bytes each.
void SwapRedBlue(unsigned char* row, size_t pixels, size_t samples, size_t sampleBytes);

// `cells` unsigned 16-bit cells of `from` as signed 32-bit ones in `to`,
// machine byte order.
void WidenUnsigned16(const unsigned char* from, unsigned char* to, size_t cells);

}  // namespace vtfmt
