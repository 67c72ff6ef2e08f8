#include "platform/vtcore/VtNumber.h"

#include <charconv>
#include <cmath>
#include <cstdint>
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

// The run of digits that starts at `p`, up to eight of them, read from the
// eight bytes there at once (SWAR): how many there are and their value; -1
// when fewer than eight bytes remain, where the caller goes one by one.
inline __attribute__((always_inline)) int LeadingDigits(const char* p, const char* end, uint32_t& value) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  if (end - p < 8) return -1;
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  // The high bit of each byte that is not a digit. Carries and borrows only
  // move towards later bytes, so the first such bit is exact.
  const uint64_t other = ((v + 0x4646464646464646ull) | (v - 0x3030303030303030ull)) & 0x8080808080808080ull;
  const int count = other ? __builtin_ctzll(other) / 8 : 8;
  if (count == 0) return 0;
  v -= 0x3030303030303030ull;
  // The digits move to the last places; the bytes after them fall off.
  if (count < 8) v <<= 8 * (8 - count);
  v = v * 10 + (v >> 8);  // pairs of digits
  v = (((v & 0x000000FF000000FFull) * (100 + (1000000ull << 32))) +
       (((v >> 16) & 0x000000FF000000FFull) * (1 + (10000ull << 32)))) >>
      32;
  value = static_cast<uint32_t>(v);
  return count;
#else
  (void)p, (void)end, (void)value;
  return -1;
#endif
}

const uint64_t kTens[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};

// mantissa x 10^exponent when one multiplication or division of two exact
// doubles gives it, and so rounds it correctly: a mantissa of at most 2^53
// and a power of ten of at most 10^22 (5^22 < 2^53), or a larger power whose
// excess moves into the mantissa without passing 2^53.
bool FastExact(uint64_t mantissa, int exponent, double& value) {
  static const double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                   1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  const uint64_t kLimit = uint64_t(1) << 53;
  if (mantissa == 0) {
    value = 0;
    return true;
  }
  if (mantissa > kLimit) return false;
  const double m = static_cast<double>(mantissa);
  if (exponent >= 0 && exponent <= 22) {
    value = m * kPowers[exponent];
    return true;
  }
  if (exponent < 0 && exponent >= -22) {
    value = m / kPowers[-exponent];
    return true;
  }
  if (exponent > 22 && exponent <= 22 + 15) {
    for (int i = 22; i < exponent; ++i) {
      mantissa *= 10;
      if (mantissa > kLimit) return false;
    }
    value = static_cast<double>(mantissa) * 1e22;
    return true;
  }
  return false;
}

// Powers of five up to 5^27 (the largest below 2^64), their inverses
// modulo 2^64 and the largest multiples' quotients: n is a multiple of
// 5^k when n * inverse[k] (mod 2^64) is at most limit[k], and that product
// is then n / 5^k.
struct FivePowers {
  uint64_t power[28];
  uint64_t inverse[28];
  uint64_t limit[28];
};
constexpr FivePowers MakeFivePowers() {
  FivePowers t{};
  uint64_t p = 1;
  for (int k = 0; k < 28; ++k) {
    uint64_t x = p;  // right in 3 bits; each step doubles them
    for (int i = 0; i < 5; ++i) x *= 2 - p * x;
    t.power[k] = p;
    t.inverse[k] = x;
    t.limit[k] = UINT64_MAX / p;
    p *= 5;
  }
  return t;
}
constexpr FivePowers kFive = MakeFivePowers();

// mantissa x 10^exponent when it equals q x 2^j for an integer q below
// 2^64: converting q rounds once, and the power of two scales exactly (the
// results lie well inside the doubles' normal range). Decimals printed in
// full from binary values, as GDAL writes float grids, are of this kind.
bool BinaryExact(uint64_t mantissa, int exponent, double& value) {
  if (exponent < 0 && exponent >= -27) {
    const int k = -exponent;
    const uint64_t q = mantissa * kFive.inverse[k];
    if (q > kFive.limit[k]) return false;  // not a multiple of 5^k
    value = static_cast<double>(q) / static_cast<double>(uint64_t(1) << k);
    return true;
  }
  if (exponent >= 0 && exponent <= 27) {
    if (mantissa > kFive.limit[exponent]) return false;  // the product would pass 2^64
    value = static_cast<double>(mantissa * kFive.power[exponent]) * static_cast<double>(uint64_t(1) << exponent);
    return true;
  }
  return false;
}

// mantissa x 10^exponent rounded to the 64-bit significand of the x87
// extended format, where mantissas below 2^64 and powers of ten up to 10^27
// (5^27 < 2^64) are exact; false where that format is another.
bool Extended(uint64_t mantissa, int exponent, long double& value) {
  if (std::numeric_limits<long double>::digits != 64 || exponent < -27 || exponent > 27) return false;
  static const long double kPowers[] = {1e0L,  1e1L,  1e2L,  1e3L,  1e4L,  1e5L,  1e6L,  1e7L,  1e8L,  1e9L,
                                        1e10L, 1e11L, 1e12L, 1e13L, 1e14L, 1e15L, 1e16L, 1e17L, 1e18L, 1e19L,
                                        1e20L, 1e21L, 1e22L, 1e23L, 1e24L, 1e25L, 1e26L, 1e27L};
  const long double m = static_cast<long double>(mantissa);
  value = exponent >= 0 ? m * kPowers[exponent] : m / kPowers[-exponent];
  return true;
}

// Rounding a value first to 64 bits and then to 53 gives the nearest double
// of the exact value unless the 64-bit result lies halfway between two
// doubles: the eleven bits below a double's are then 10000000000.
bool Halfway(long double value) {
  uint64_t significand;
  std::memcpy(&significand, &value, sizeof significand);
  return (significand & 0x7FF) == 0x400;
}

// The nearest double of the decimal whose first 19 significant digits are
// `mantissa`, times 10^exponent, with more non-zero digits behind them
// when `more` is set, where that is sure without exact arithmetic. Results
// lie between 1e-27 and 1e47, in the doubles' normal range.
bool Rounded(uint64_t mantissa, int exponent, bool more, double& value) {
  long double low;
  if (!Extended(mantissa, exponent, low) || Halfway(low)) return false;
  value = static_cast<double>(low);
  if (!more) return true;
  // The exact value lies between the two ends; when both round to the same
  // double, so does it.
  long double high;
  if (!Extended(mantissa + 1, exponent, high) || Halfway(high)) return false;
  return static_cast<double>(high) == value;
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
  // On the way the first 19 significant digits are gathered as an integer
  // with their power of ten, for the exact conversion below.
  const char* q = p;
  bool digits = false;
  uint64_t mantissa = 0;
  int significant = 0;  // digits in `mantissa`, leading zeros left out
  bool more = false;    // more significant digits than `mantissa` holds
  int exponent = 0;
  // Leading zeros, then the significant digits: runs of up to eight at a
  // time while they fit in the mantissa (`runs` gives how many it took), the
  // rest one by one.
  while (q < end && *q == '0') ++q, digits = true;
  auto runs = [&]() {
    int taken = 0;
    for (uint32_t run;;) {
      const int n = LeadingDigits(q, end, run);
      if (n <= 0 || significant + n > 19) break;
      mantissa = mantissa * kTens[n] + run;
      significant += n;
      taken += n;
      q += n;
      digits = true;
      if (n < 8) break;
    }
    return taken;
  };
  runs();
  for (;;) {
    if (q == end || !Digit(*q)) break;
    const unsigned d = static_cast<unsigned>(*q++ - '0');
    digits = true;
    if (significant < 19) {
      mantissa = mantissa * 10 + d, ++significant;
    } else {
      more = more || d != 0;
      ++exponent;
    }
  }
  // The digits after the point, by the same loop written out again: folded
  // into one loop with a flag, whole-file grid reads lose a quarter of
  // their speed.
  if (q < end && *q == '.') {
    ++q;
    if (mantissa == 0)
      while (q < end && *q == '0') ++q, digits = true, --exponent;
    exponent -= runs();
    for (;;) {
      if (q == end || !Digit(*q)) break;
      const unsigned d = static_cast<unsigned>(*q++ - '0');
      digits = true;
      if (significant < 19) {
        mantissa = mantissa * 10 + d, ++significant;
        --exponent;
      } else {
        more = more || d != 0;
      }
    }
  }
  if (!digits) return 0;
  if (q < end && (*q | 0x20) == 'e') {
    const char* e = q + 1;
    bool minus = false;
    if (e < end && (*e == '+' || *e == '-')) minus = *e++ == '-';
    if (e < end && Digit(*e)) {
      int written = 0;
      while (e < end && Digit(*e)) {
        // Beyond any double's range either way; the exact value no longer matters.
        if (written < 100000) written = written * 10 + (*e - '0');
        ++e;
      }
      exponent += minus ? -written : written;
      q = e;
    }
  }
  if ((!more && (FastExact(mantissa, exponent, value) || BinaryExact(mantissa, exponent, value))) ||
      (mantissa != 0 && Rounded(mantissa, exponent, more, value))) {
    if (negative) value = -value;
    return static_cast<size_t>(q - text);
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
