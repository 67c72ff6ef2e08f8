// Grid cells delivered in a cell format the user chooses (-oo pixel_format):
// which formats there are, whether a value fits one unchanged or is held by
// one the user chose, and how a value is stored in a row of it. Shared by
// the grid drivers.
#pragma once

#include <string>

namespace vtfmt {

// "1 4 8 16 24 32 64 320 3200 6400": the formats -oo pixel_format takes.
extern const char kCellFormatList[];
// Parses `text` as one of those formats; false with `reason` otherwise.
bool ParseCellFormat(const std::string& text, int& format, std::string& reason);
// True when `v` is stored unchanged in cells of `format`: the range of the
// integer formats (1 and 4 bits: 0 and 1, 0 to 15), or a single equal to
// `v` or whose shortest text reads back as `v`. What a format chosen for
// the user must hold.
bool Fits(double v, int format);
// True when cells of `format`, chosen by the user, hold `v`: the integer
// formats as Fits (no value is cut), singles the nearest single of any
// value that does not round beyond the largest one; infinities and NaN as
// they are.
bool Holds(double v, int format);
// Stores `v` (which the format holds) as cell `i` of a row of `format`;
// singles take the nearest single.
void Put(unsigned char* data, long i, double v, int format);

}  // namespace vtfmt
