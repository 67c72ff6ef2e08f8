#include "platform/vtcore/VtNumber.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace vtnum {

namespace {
bool Space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool Digit(char c) { return c >= '0' && c <= '9'; }
bool Prefix(const char* p, const char* end, const char* word) {
  const size_t n = std::strlen(word);
  if (static_cast<size_t>(end - p) < n) return false;
  for (size_t i = 0; i < n; ++i)
    if ((p[i] | 0x20) != word[i]) return false;
  return true;
}
}  // namespace

size_t ParseDouble(const char* text, size_t length, double& value) {
  value = 0;
  const char* p = text;
  const char* end = text + length;
  while (p < end && Space(*p)) ++p;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
  if (p < end && ((*p | 0x20) == 'i' || (*p | 0x20) == 'n')) {
    size_t n = 0;
    if (Prefix(p, end, "infinity")) n = 8, value = std::numeric_limits<double>::infinity();
    else if (Prefix(p, end, "inf")) n = 3, value = std::numeric_limits<double>::infinity();
    else if (Prefix(p, end, "nan")) n = 3, value = std::numeric_limits<double>::quiet_NaN();
    if (n == 0) return 0;
    if (negative) value = -value;
    return static_cast<size_t>(p + n - text);
  }
  // The extent strtod would take: digits, point, digits, exponent with digits.
  const char* q = p;
  bool digits = false;
  while (q < end && Digit(*q)) ++q, digits = true;
  if (q < end && *q == '.') {
    ++q;
    while (q < end && Digit(*q)) ++q, digits = true;
  }
  if (!digits) return 0;
  if (q < end && (*q | 0x20) == 'e') {
    const char* e = q + 1;
    if (e < end && (*e == '+' || *e == '-')) ++e;
    if (e < end && Digit(*e)) {
      while (e < end && Digit(*e)) ++e;
      q = e;
    }
  }
  const auto r = std::from_chars(p, q, value);
  if (r.ec == std::errc::result_out_of_range) {
    // Overflow gives infinity and underflow zero, as strtod does.
    const char* e = p;
    while (e < q && (*e | 0x20) != 'e') ++e;
    const bool tiny = e < q && e + 1 < q && e[1] == '-';
    value = tiny ? 0.0 : std::numeric_limits<double>::infinity();
  } else if (r.ec != std::errc()) {
    return 0;
  }
  if (negative) value = -value;
  return static_cast<size_t>(q - text);
}

double AtoF(const char* text) {
  double v = 0;
  ParseDouble(text, std::strlen(text), v);
  return v;
}

bool ParseWhole(const char* text, size_t length, double& value) {
  const size_t used = ParseDouble(text, length, value);
  if (used == 0) return false;
  for (size_t i = used; i < length; ++i)
    if (!Space(text[i])) return false;
  return true;
}

std::string Shortest(double value) {
  char buffer[64];
  const auto r = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, r.ptr);
}

std::string Shortest(float value) {
  char buffer[64];
  const auto r = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, r.ptr);
}

std::string Coordinate(double value) {
  const double magnitude = std::fabs(value);
  if (!std::isfinite(value) || (magnitude != 0 && (magnitude < 1e-4 || magnitude >= 1e15))) return Shortest(value);
  char buffer[64];
  const auto r = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
  if (r.ec != std::errc()) return Shortest(value);
  return std::string(buffer, r.ptr);
}

std::string Fixed(double value, int decimals) {
  if (!std::isfinite(value)) return Shortest(value);
  char buffer[400];
  const auto r = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
  if (r.ec != std::errc()) return Shortest(value);
  return std::string(buffer, r.ptr);
}

}  // namespace vtnum
