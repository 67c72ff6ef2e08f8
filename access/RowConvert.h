// Colour samples between blue-first and red-first order, for the array
// reader and the conversion of rows.
#pragma once

#include <cstddef>

namespace vtfmt {

// Exchanges the first and third sample of each of `pixels` pixels of
// `samples` samples (3 or more) of `sampleBytes` bytes each.
void SwapRedBlue(unsigned char* row, size_t pixels, size_t samples, size_t sampleBytes);

// Copies `pixels` pixels of `samples` (3 or 4) 8-bit samples, the first and
// third exchanged: blue first to red first and back, in one pass.
void CopySwappingRedBlue(const unsigned char* from, unsigned char* to, size_t pixels, size_t samples);

}  // namespace vtfmt
