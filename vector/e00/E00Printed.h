// Numbers as the E00 sections print them (%14.7E, %21.14E), recognised a
// word at a time: shared by the section check and the encoder.
#pragma once

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace e00 {
namespace printed {

inline uint64_t Load8(const char* p) {
  uint64_t w;
  std::memcpy(&w, p, 8);
  return w;
}

// Every byte of w is an ASCII digit: its high half is 3 and adding 6 does
// not carry it into 4 (no byte can carry into the next once all are 0x3_).
inline bool EightDigits(uint64_t w) {
  constexpr uint64_t kHigh = 0xF0F0F0F0F0F0F0F0ull, kThrees = 0x3030303030303030ull, kSixes = 0x0606060606060606ull;
  return (w & kHigh) == kThrees && ((w + kSixes) & kHigh) == kThrees;
}

// The characters that may stand where a printed real has its sign (a
// blank or "-") and where its exponent has its sign ("+" or "-"): 0 there,
// 1 for every other character.
struct SignTables {
  unsigned char notLeading[256], notExponent[256];
};
constexpr SignTables MakeSignTables() {
  SignTables t{};
  for (int c = 0; c < 256; ++c) {
    t.notLeading[c] = c != ' ' && c != '-';
    t.notExponent[c] = c != '+' && c != '-';
  }
  return t;
}
inline constexpr SignTables kSigns = MakeSignTables();

// Where the characters of a line of N reals of width W lie when every one
// is in the printed shape, by eight-character word: the digits, and the
// point and "E" with their values. The last word overlaps the one before
// it when the line is not a whole number of words.
template <int N, int W>
struct PrintedLine {
  static constexpr int kLength = N * W;
  static constexpr int kWords = (kLength + 7) / 8;
  int offset[kWords];
  uint64_t digits[kWords], fixedMask[kWords], fixedValue[kWords];
};

template <int N, int W>
constexpr PrintedLine<N, W> MakePrintedLine() {
  PrintedLine<N, W> m{};
  for (int k = 0; k < m.kWords; ++k) {
    const int o = k * 8 + 8 <= m.kLength ? k * 8 : m.kLength - 8;
    m.offset[k] = o;
    for (int b = 0; b < 8; ++b) {
      const int at = (o + b) % W;  // place in its field
      const uint64_t byte = uint64_t{0xFF} << (8 * b);
      if (at == 1 || (at >= 3 && at <= W - 5) || at >= W - 2) {
        m.digits[k] |= byte;
      } else if (at == 2 || at == W - 4) {
        m.fixedMask[k] |= byte;
        m.fixedValue[k] |= uint64_t{static_cast<unsigned char>(at == 2 ? '.' : 'E')} << (8 * b);
      }
      // Places 0 and W - 3, the signs, are looked at one by one.
    }
  }
  return m;
}

// The `N * W` characters of `line` are N reals of width W, each printed as
// a blank or "-", a digit, the point, W - 7 digits, "E", a sign and two
// digits: the whole line a word at a time, and no branch until the end. Subtracting "0" from every digit place leaves 0 to 9 in
// each byte exactly when all are digits: a byte below "0" sets its own top
// bit (whatever it borrows from above), one above "9" sets it on adding
// 0x76, and a carry out of a byte comes only from a byte already wrong.
#if defined(__SSE2__)
// The same shape sixteen characters at a time: at every place, the two
// characters that may stand there (a blank or "-" for the sign, "+" or "-"
// for the exponent's sign, the point, "E") and whether a digit may.
template <int N, int W>
struct PrintedVectors {
  static constexpr int kLength = N * W;
  static constexpr int kVectors = (kLength + 15) / 16;
  int offset[kVectors];
  unsigned char first[kVectors][16], second[kVectors][16], digit[kVectors][16];
};

template <int N, int W>
constexpr PrintedVectors<N, W> MakePrintedVectors() {
  PrintedVectors<N, W> m{};
  for (int k = 0; k < m.kVectors; ++k) {
    const int o = k * 16 + 16 <= m.kLength ? k * 16 : m.kLength - 16;
    m.offset[k] = o;
    for (int b = 0; b < 16; ++b) {
      const int at = (o + b) % W;  // place in its field
      // At the digits' places both are "0", a digit too.
      unsigned char first = '0', second = '0', digit = 0;
      if (at == 0) {
        first = ' ';
        second = '-';
      } else if (at == 2) {
        first = second = '.';
      } else if (at == W - 4) {
        first = second = 'E';
      } else if (at == W - 3) {
        first = '+';
        second = '-';
      } else {
        digit = 0xFF;
      }
      m.first[k][b] = first;
      m.second[k][b] = second;
      m.digit[k][b] = digit;
    }
  }
  return m;
}
#endif

template <int N, int W>
inline bool IsPrintedLine(const char* line) {
#if defined(__SSE2__)
  static_assert(N * W >= 16, "a line of at least sixteen characters");
  static constexpr PrintedVectors<N, W> m = MakePrintedVectors<N, W>();
  const __m128i zero = _mm_set1_epi8('0'), nine = _mm_set1_epi8(9);
  __m128i ok = _mm_set1_epi8(-1);
#pragma GCC unroll 4
  for (int k = 0; k < m.kVectors; ++k) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(line + m.offset[k]));
    const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(m.first[k]));
    const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(m.second[k]));
    const __m128i digitPlace = _mm_loadu_si128(reinterpret_cast<const __m128i*>(m.digit[k]));
    // x - "0" is at most 9, taken unsigned, exactly for the digits.
    const __m128i d = _mm_sub_epi8(x, zero);
    const __m128i isDigit = _mm_cmpeq_epi8(_mm_min_epu8(d, nine), d);
    const __m128i here = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(x, first), _mm_cmpeq_epi8(x, second)),
                                      _mm_and_si128(isDigit, digitPlace));
    ok = _mm_and_si128(ok, here);
  }
  return _mm_movemask_epi8(ok) == 0xFFFF;
#elif defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  static constexpr PrintedLine<N, W> m = MakePrintedLine<N, W>();
  constexpr uint64_t kZeros = 0x3030303030303030ull, kTops = 0x8080808080808080ull;
  uint64_t bad = 0;
#pragma GCC unroll 8
  for (int k = 0; k < m.kWords; ++k) {
    const uint64_t w = Load8(line + m.offset[k]);
    const uint64_t d = ((w & m.digits[k]) | (kZeros & ~m.digits[k])) - kZeros;
    bad |= (d | (d + 0x7676767676767676ull)) & kTops;
    bad |= (w ^ m.fixedValue[k]) & m.fixedMask[k];
  }
  unsigned char wrongSign = 0;
#pragma GCC unroll 4
  for (int f = 0; f < N; ++f) {
    const char* p = line + f * W;
    wrongSign |= kSigns.notLeading[static_cast<unsigned char>(p[0])] |
                 kSigns.notExponent[static_cast<unsigned char>(p[W - 3])];
  }
  return bad == 0 && wrongSign == 0;
#else
  (void)line;
  return false;
#endif
}

}  // namespace printed
}  // namespace e00
