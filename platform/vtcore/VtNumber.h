// Numbers in files, read and written the same under any locale: a host that
// sets a comma-decimal locale changes nothing here.
#pragma once

#include <cstddef>
#include <string>

namespace vtnum {

// Reads the longest number at the start of `text` (after white space) as
// strtod does in the C locale: sign, digits with an optional point and
// exponent, "inf", "infinity" or "nan". Returns the characters used, 0 when
// there is no number (`value` is then 0).
size_t ParseDouble(const char* text, size_t length, double& value);
// atof in the C locale: the leading number of `text`, or 0.
double AtoF(const char* text);
// The whole of `text`, white space around it allowed, is one number.
bool ParseWhole(const char* text, size_t length, double& value);

// Shortest text that reads back as the same value ("0.1", "1e-07", "-9999").
std::string Shortest(double value);
std::string Shortest(float value);
// The shortest text that reads back as the same value, in plain decimals
// for magnitudes from 1e-4 to 1e15 ("500000", "0.0001"), else as Shortest.
std::string Coordinate(double value);
// Fixed notation with `decimals` places ("%.*f" in the C locale).
std::string Fixed(double value, int decimals);

}  // namespace vtnum
