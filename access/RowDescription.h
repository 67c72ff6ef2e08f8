// What the rows of an image hold, said once: every reading adapter describes
// the rows it delivers, every writing adapter lists the forms of row it
// stores, and conversions decide from the two alone.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/vtcore/CRect2D.h"
#include "platform/vtcore/ImgPixelFormat.h"

namespace vtfmt {

// What the samples of a pixel are.
enum class RowContent {
  kIndexed,  // one sample: an index into the palette
  kGrey,     // one sample: a grey level (0 black, the largest value white)
  kColour,   // three or four samples: red, green, blue in some order, and a fourth
  kCells,    // one sample: a measured value (height, count, class)
  kMasked,   // one 16-bit sample holding colours under bit masks (5-6-5, 5-5-5)
};

// What the fourth sample of a four-sample colour pixel is.
enum class FourthSample : char {
  kNone = 0,      // three samples
  kAlpha = 'a',   // opacity, 0 transparent
  kUnused = 'x',  // padding: readers ignore it
  kValue = 'v',   // a sample of no stated meaning, kept as a value
};

// One form of row: samples per pixel, each of `bits` bits of `kind` ('u'
// unsigned, 'i' signed, 'f' IEEE float, 'c' complex of two floats of
// bits/2), meaning `content`. Samples below 8 bits are packed, most
// significant bits first; wider ones in machine byte order.
struct RowForm {
  RowContent content = RowContent::kGrey;
  int samples = 1;
  int bits = 8;
  char kind = 'u';
  bool redFirst = true;  // colour: red first (else blue first)
  FourthSample fourth = FourthSample::kNone;

  bool operator==(const RowForm& o) const {
    return content == o.content && samples == o.samples && bits == o.bits && kind == o.kind &&
           (content != RowContent::kColour || (redFirst == o.redFirst && fourth == o.fourth));
  }
};

// The rows of an open image: their form, and what goes with them.
struct RowDescription : RowForm {
  unsigned long width = 0, height = 0;
  ImgPixelFormat format = PF_UNKNOWN;           // the driver's pixel format of the rows
  size_t lineBytes = 0;                         // bytes a scan line must hold to be read
  bool bottomUp = false;                        // row 0 is the bottom row of the picture
  std::vector<std::array<uint8_t, 3>> palette;  // red, green, blue (indexed)
  std::array<uint32_t, 3> masks{};              // red, green, blue masks (masked)
  std::optional<double> noData;
  std::optional<CRect2D> bounds;
};

// Forms of row as writers list them.
inline RowForm IndexedForm(int bits) {
  return {RowContent::kIndexed, 1, bits, 'u', true, FourthSample::kNone};
}
inline RowForm GreyForm() { return {RowContent::kGrey, 1, 8, 'u', true, FourthSample::kNone}; }
inline RowForm ColourForm(int samples, int bits, bool redFirst, FourthSample fourth = FourthSample::kNone) {
  return {RowContent::kColour, samples, bits, 'u', redFirst, fourth};
}
inline RowForm CellForm(int bits, char kind) {
  return {RowContent::kCells, 1, bits, kind, true, FourthSample::kNone};
}
inline RowForm MaskedForm() { return {RowContent::kMasked, 1, 16, 'u', true, FourthSample::kNone}; }

// The platform's pixel format of rows of `form`; PF_UNKNOWN when none holds them.
ImgPixelFormat PixelFormatOf(const RowForm& form);
// Bytes of one row of `width` pixels of `form`, unpadded.
size_t RowBytesOf(const RowForm& form, unsigned long width);
// "3 samples of 8-bit unsigned per pixel (colour, blue first)", for messages.
std::string LayoutText(const RowForm& form);

}  // namespace vtfmt
