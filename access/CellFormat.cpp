#include "access/CellFormat.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/vtcore/ImgPixelFormat.h"
#include "platform/vtcore/VtNumber.h"

namespace vtfmt {

const char kCellFormatList[] = "1 4 8 16 24 32 64 320 3200 6400";

bool ParseCellFormat(const std::string& text, int& format, std::string& reason) {
  static const int kFormats[] = {1, 4, 8, 16, 24, 32, 64, 320, 3200, 6400};
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (!text.empty() && *end == '\0')
    for (int f : kFormats)
      if (value == f) {
        format = f;
        return true;
      }
  reason = std::string("pixel_format must be one of ") + kCellFormatList + ", not " + text;
  return false;
}

namespace {

// Values of this magnitude or more round to an infinite single: halfway
// between the largest single and the next power of two, where the nearest
// even is the infinity.
constexpr double kSingleOverflow = 0x1.ffffffp+127;

}  // namespace

bool Fits(double v, int format) {
  if (std::isnan(v)) return format == PF_FLOAT32 || format == PF_FLOAT64;
  const bool whole = v == std::floor(v);
  switch (format) {
    case PF_BIT1: return v == 0 || v == 1;
    case PF_BIT4: return whole && v >= 0 && v <= 15;
    case PF_BIT8: return whole && v >= 0 && v <= 255;
    case PF_BIT16: return whole && v >= INT16_MIN && v <= INT16_MAX;
    case PF_BIT24: return whole && v >= 0 && v <= 16777215;
    case PF_BIT32:
    case PF_INT32: return whole && v >= INT32_MIN && v <= INT32_MAX;
    case PF_BIT64: return whole && std::fabs(v) <= 9007199254740992.0;
    case PF_FLOAT32: {
      // A single equal to the value, or one whose shortest text is the
      // value's: a text grid of singles gives back each single's text.
      if (std::isinf(v)) return true;
      if (!(std::fabs(v) < kSingleOverflow)) return false;
      const float single = static_cast<float>(v);
      if (static_cast<double>(single) == v) return true;
      char text[32];
      const auto r = std::to_chars(text, text + sizeof text, single);
      double back = 0;
      return vtnum::ParseWhole(text, static_cast<size_t>(r.ptr - text), back) && back == v;
    }
    case PF_FLOAT64: return true;
    default: return false;
  }
}

bool Holds(double v, int format) {
  if (format != PF_FLOAT32) return Fits(v, format);
  return std::isnan(v) || std::isinf(v) || std::fabs(v) < kSingleOverflow;
}

void Put(unsigned char* data, long i, double v, int format) {
  auto store = [&](auto cell) { std::memcpy(data + i * sizeof cell, &cell, sizeof cell); };
  switch (format) {
    case PF_BIT1: {
      unsigned char& byte = data[i / 8];
      const unsigned char bit = static_cast<unsigned char>(0x80 >> (i % 8));
      byte = static_cast<unsigned char>(v != 0 ? byte | bit : byte & ~bit);
      break;
    }
    case PF_BIT4: {
      unsigned char& byte = data[i / 2];
      const unsigned nibble = static_cast<unsigned>(v) & 0x0F;
      byte = static_cast<unsigned char>(i % 2 == 0 ? (byte & 0x0F) | (nibble << 4) : (byte & 0xF0) | nibble);
      break;
    }
    case PF_BIT8: data[i] = static_cast<unsigned char>(v); break;
    case PF_BIT16: store(static_cast<int16_t>(v)); break;
    case PF_BIT24: {
      const int32_t c = static_cast<int32_t>(v);
      std::memcpy(data + 3 * i, &c, 3);  // the low three bytes, as 24-bit pixels hold them
      break;
    }
    case PF_BIT32:
    case PF_INT32: store(static_cast<int32_t>(v)); break;
    case PF_BIT64: store(static_cast<int64_t>(v)); break;
    case PF_FLOAT32: store(static_cast<float>(v)); break;
    case PF_FLOAT64: store(v); break;
    default: break;
  }
}

}  // namespace vtfmt
