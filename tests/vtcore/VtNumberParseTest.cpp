// The number reader against std::from_chars: every value it converts itself
// must be the one from_chars gives, bit for bit, and the extent it takes
// must be strtod's.
#include <gtest/gtest.h>

#include <charconv>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "platform/vtcore/VtNumber.h"

namespace {

// from_chars over the same text: the sign taken off first, as strtod reads
// it; false when from_chars does not give a value in range.
bool Reference(const std::string& text, double& value) {
  const char* p = text.data();
  const char* end = p + text.size();
  const bool negative = p < end && *p == '-';
  if (p < end && (*p == '-' || *p == '+')) ++p;
  const auto r = std::from_chars(p, end, value);
  if (r.ec != std::errc() || r.ptr != end) return false;
  if (negative) value = -value;
  return true;
}

uint64_t Bits(double v) {
  uint64_t b;
  std::memcpy(&b, &v, sizeof b);
  return b;
}

// Checks one text; counts what from_chars could not compare.
void Check(const std::string& text, int& skipped) {
  double expected = 0;
  if (!Reference(text, expected)) {
    if (std::getenv("VTFMT_NUMBER_SKIPPED")) std::printf("not compared: %s\n", text.c_str());
    ++skipped;
    return;
  }
  double value = -1;
  const size_t used = vtnum::ParseDouble(text.data(), text.size(), value);
  ASSERT_EQ(used, text.size()) << text;
  ASSERT_EQ(Bits(value), Bits(expected)) << text;
  // The same text inside a longer buffer, ended by a character that is no
  // part of a number and followed by digits: several bytes at a time are
  // read past the number's end, and none of them may count.
  static const char kEnds[] = {' ', '<', '\n', ',', '/', ':', 'x', '\0', '\x80', '\xba', '\xff', '\x2f', '\x3a'};
  static size_t turn = 0;
  const std::string within = text + kEnds[turn++ % sizeof kEnds] + "0123456789";
  value = -1;
  ASSERT_EQ(vtnum::ParseDouble(within.data(), within.size(), value), text.size()) << text;
  ASSERT_EQ(Bits(value), Bits(expected)) << text;
}

long Cases() {
  // VTFMT_NUMBER_CASES asks for a longer run.
  const char* env = std::getenv("VTFMT_NUMBER_CASES");
  return env ? std::atol(env) : 1000000;
}

TEST(VtNumberParse, EdgeValuesMatchFromChars) {
  const char* texts[] = {
      "0", "-0", "+0", "0.0", "0e0", "0e-999", "0e999", "00000.000000", "-0.0e+5", ".5", "5.", "-.5", "+5.",
      "1", "9", "10", "1e22", "1e23", "1e-22", "1e-23", "9e22", "9.999999999999999e22", "1e37", "1e38",
      "123456789e30", "9007199254740991", "9007199254740992", "9007199254740993", "9007199254740994",
      "9007199254740995", "18014398509481985", "1234567890123456789", "12345678901234567890",
      "1234567890123456789012345", "0.1", "0.2", "0.3", "0.7", "1.1", "3.14159", "2.718281828459045",
      "0.30000000000000004", "0.1000000000000000055511151231257827", "4.9e-324", "5e-324", 
      "2.4703282292062328e-324", "2.2250738585072011e-308", "2.2250738585072014e-308", "2.225073858507201e-308",
      "1.7976931348623157e308", "1.7976931348623158e308", "8.98846567431158e307", "1e-300", "1e300",
      "-9999", "-9999.0", "-3.4028234663852886e38", "3.4028235e38", "1.17549435e-38", "1.4e-45",
      "123.456", "1000000000000000000000", "100000000000000000000000000000", "0.000000000000000000000000001",
      "0.0000000000000000000001", "1.00000000000000000000000000000000001", "99999999999999999999e-20",
      "7.2057594037927933e16", "72057594037927933", "1.5e-5", "4503599627370496.5", "4503599627370497.5",
      "2e-22", "3e22", "4.35e22", "1e+022", "1E5", "1e05", "-1.25E-003"};
  int skipped = 0;
  for (const char* text : texts) Check(text, skipped);
  EXPECT_EQ(skipped, 0);
}

// Texts that end early, or are not numbers: the characters taken are the
// longest prefix strtod reads.
TEST(VtNumberParse, ExtentIsStrtods) {
  struct Case {
    const char* text;
    size_t used;
    double value;
  };
  const Case cases[] = {{"1e", 1, 1},     {"1e+", 1, 1},      {"2E-x", 1, 2},     {"1.5e-3x", 6, 1.5e-3},
                        {" -.5 ", 4, -0.5}, {".e1", 0, 0},     {"-", 0, 0},        {".", 0, 0},
                        {"12.34.5", 5, 12.34}, {"7e2e3", 3, 700}, {"1e999999999999", 14, INFINITY},
                        {"1e-999999999999", 15, 0}, {"+inf", 4, INFINITY}, {"nan", 3, NAN}};
  for (const Case& c : cases) {
    double v = -1;
    EXPECT_EQ(vtnum::ParseDouble(c.text, std::strlen(c.text), v), c.used) << c.text;
    if (std::isnan(c.value))
      EXPECT_TRUE(std::isnan(v)) << c.text;
    else
      EXPECT_EQ(v, c.value) << c.text;
  }
  double v = 1;
  EXPECT_EQ(vtnum::ParseDouble("-0", 2, v), 2u);
  EXPECT_TRUE(std::signbit(v));
}

// Random doubles in the forms files hold: shortest, 15 and 17 digits,
// fixed, and the decimal between two neighbours (the halfway point,
// printed exactly through long double, and just off it).
TEST(VtNumberParse, RandomDoublesMatchFromChars) {
  std::mt19937_64 random(20261207);
  const long cases = Cases() / 4;
  int skipped = 0;
  char buffer[128];
  for (long i = 0; i < cases; ++i) {
    double v;
    uint64_t bits = random();
    if (i % 4 == 0) bits = (bits & 0x800FFFFFFFFFFFFFull) | ((uint64_t(900 + random() % 248)) << 52);  // 1e-37 to 1e37
    std::memcpy(&v, &bits, sizeof v);
    if (!std::isfinite(v)) continue;
    auto r = std::to_chars(buffer, buffer + sizeof buffer, v);
    Check(std::string(buffer, r.ptr), skipped);
    std::snprintf(buffer, sizeof buffer, "%.17g", v);
    Check(buffer, skipped);
    std::snprintf(buffer, sizeof buffer, "%.15g", v);
    Check(buffer, skipped);
    // A single written out in full, as GDAL writes float grids.
    std::snprintf(buffer, sizeof buffer, "%.*f", static_cast<int>(random() % 28), static_cast<double>(static_cast<float>(v)));
    if (std::strlen(buffer) < 60) Check(buffer, skipped);
    const double next = std::nextafter(v, INFINITY);
    if (std::isfinite(next)) {
      const long double half = (static_cast<long double>(v) + next) / 2;
      std::snprintf(buffer, sizeof buffer, "%.19Le", half);
      Check(buffer, skipped);
      std::snprintf(buffer, sizeof buffer, "%.40Le", half);
      Check(buffer, skipped);
    }
    if (HasFailure()) return;
  }
  EXPECT_LT(skipped, cases / 100);
}

// Decimal texts built from random digits: up to 22 digits, the point
// anywhere, exponents around the edges of the exact range, integers at
// 2^53 and halfway between doubles there.
TEST(VtNumberParse, RandomDecimalsMatchFromChars) {
  std::mt19937_64 random(77);
  const long cases = Cases();
  int skipped = 0;
  std::string text;
  for (long i = 0; i < cases; ++i) {
    text.clear();
    if (random() % 2) text += random() % 4 ? '-' : '+';
    const int digits = 1 + static_cast<int>(random() % 22);
    const int point = static_cast<int>(random() % (digits + 2)) - 1;  // -1: no point
    for (int d = 0; d < digits; ++d) {
      if (d == point) text += '.';
      // Leading and trailing zeros now and then.
      const bool zero = (d < 3 || d > digits - 4) && random() % 3 == 0;
      text += zero ? '0' : static_cast<char>('0' + random() % 10);
    }
    if (point == digits) text += '.';
    if (random() % 3) {
      text += random() % 2 ? 'e' : 'E';
      const int exponent = static_cast<int>(random() % 90) - 45;
      text += std::to_string(exponent);
    }
    Check(text, skipped);
    if (i % 8 == 0) {
      // Integers near 2^53, where consecutive doubles are 2 apart, and
      // the same digits scaled by powers of ten.
      const uint64_t n = (uint64_t(1) << 53) - 50 + random() % 100;
      char buffer[64];
      std::snprintf(buffer, sizeof buffer, "%" PRIu64 "e%d", n, static_cast<int>(random() % 50) - 25);
      Check(buffer, skipped);
    }
    if (HasFailure()) return;
  }
  EXPECT_LT(skipped, cases / 100);
}

}  // namespace
