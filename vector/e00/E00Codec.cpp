#include "vector/e00/E00Codec.h"

#include <climits>
#include <cstring>

#include "platform/geodata/GeodataCpl.h"
#include "vector/e00/E00Printed.h"

// The geodata library's error and file layer, bound when first used.
using namespace vtgeo;

namespace e00 {

namespace {

// Room the decoder keeps free at the end of the output line: a digit, a
// point, the two characters of an exponent sign and the closing NUL.
constexpr int kOutputReserve = 5;
// Longest run of spaces one token carries: its count character stays ASCII.
constexpr int kMaxSpaceRun = 127 - 32;

// The two digits of every pair value, 00 to 99.
struct DigitPairs {
  char c[200];
};
constexpr DigitPairs MakeDigitPairs() {
  DigitPairs d{};
  for (int v = 0; v < 100; ++v) {
    d.c[2 * v] = static_cast<char>('0' + v / 10);
    d.c[2 * v + 1] = static_cast<char>('0' + v % 10);
  }
  return d;
}
constexpr DigitPairs kDigitPairs = MakeDigitPairs();

// What the code character of a number token says, by its value less 33.
struct NumberCode {
  unsigned char point, exponent, odd;
};
struct NumberCodes {
  NumberCode c[90];
};
constexpr NumberCodes MakeNumberCodes() {
  NumberCodes codes{};
  for (int k = 0; k < 90; ++k)
    codes.c[k] = {static_cast<unsigned char>(k % 15), static_cast<unsigned char>((k / 15) % 3),
                  static_cast<unsigned char>(k >= 45)};
  return codes;
}
constexpr NumberCodes kNumberCodes = MakeNumberCodes();

// Reads physical lines until one has a character; takes it. 0 at the end.
int Refill(DecodeBuffer& b, LineSource& src) {
  for (;;) {
    if (b.bEnd) return 0;
    src.ReadNextSourceLine();
    const unsigned char c = static_cast<unsigned char>(b.szSrcLine[b.nSrcIndex]);
    if (c && !b.bEnd) {
      ++b.nSrcIndex;
      return c;
    }
  }
}

void ReportOverlong(DecodeBuffer& b, LineSource& src) {
  CPLError(CE_Failure, CPLE_FileIO,
           "Uncompressed line longer than 80 chars. Input file possibly corrupt around line %ld.",
           src.LineNumber());
  b.bEnd = 1;
}

// Ends a number token whose digits fill out[start, n): drops the pad digit
// of an odd count and puts "E+" or "E-" in front of the last two characters
// for an exponent. The new end.
int FinishNumber(char* out, int start, int n, bool odd, int exponent) {
  if (odd && n > start) --n;
  if (!exponent) return n;
  const char sign = exponent == 1 ? '+' : '-';
  if (n - start >= 2) {
    out[n + 1] = out[n - 1];
    out[n] = out[n - 2];
    out[n - 2] = 'E';
    out[n - 1] = sign;
  } else {
    for (int j = n + 1; j >= start + 2; --j) out[j] = out[j - 2];
    out[start] = 'E';
    out[start + 1] = sign;
  }
  return n + 2;
}

uint64_t Load8(const unsigned char* p) {
  uint64_t w;
  std::memcpy(&w, p, 8);
  return w;
}

// The five lowest bytes of w are ordinary pair characters, "!" (33) to "|"
// (124): no byte falls below 33 on subtracting it (a byte below sets its
// own top bit, whatever it borrows), none reaches 128 on adding 3, and
// none has its top bit set already. The other bytes are set to "!".
bool FivePairCharacters(uint64_t w) {
  constexpr uint64_t kFive = 0x000000FFFFFFFFFFull, kBangs = 0x2121212121212121ull;
  const uint64_t x = (w & kFive) | (kBangs & ~kFive);
  return (((x - kBangs) | (x + 0x0303030303030303ull) | x) & 0x8080808080808080ull) == 0;
}

}  // namespace

int UncompressNextLine(DecodeBuffer& b, LineSource& src, bool quick) {
  char* const out = b.szOutLine;
  out[0] = '\0';
  if (b.bEnd) return 0;
  // The source index is held in a local while the line is decoded, and
  // written back when a physical line is read and when the line ends.
  const unsigned char* const s = reinterpret_cast<const unsigned char*>(b.szSrcLine);
  int i = b.nSrcIndex;
  // The next character, reading physical lines as needed; 0 at the end. A
  // source line is emptied when the end flag is set by reading, so the flag
  // only needs a look once the line is used up.
  auto next = [&]() -> int {
    const int c = s[i];
    if (c) {
      ++i;
      return c;
    }
    b.nSrcIndex = i;
    const int r = Refill(b, src);
    i = b.nSrcIndex;
    return r;
  };
  int n = 0;
  bool previousWasNumber = false;
  for (bool done = false; !done;) {
    const int c = next();
    if (c == 0) break;
    if (c != '~') {
      out[n++] = static_cast<char>(c);
      previousWasNumber = false;
    } else {
      const int t = next();
      if (t == 0) break;
      if (!previousWasNumber && static_cast<unsigned>(t - '!') < 90u && t != '-') {
        // A number: the code gives the point position, the exponent kind
        // and the odd-digit flag; each pair character two digits.
        previousWasNumber = false;
        const NumberCode code = kNumberCodes.c[t - '!'];
        const int point = code.point;
        const int exponent = code.exponent;
        const bool odd = code.odd;
        const int start = n;
        // The shape coordinates mostly have, as %14.7E prints them: five
        // pairs for a digit, the point, seven digits and a two-digit
        // exponent ("4.6012345E+05"), then a space or "~".
        if (quick && point == 1 && exponent && !odd) {
          char* w = out + n;
          // The point and "E" around the ten digits in place; the token
          // goes on at `resume`. False when the line grew too long.
          auto finish = [&](int resume) {
            w[2] = w[1];
            w[1] = '.';
            w[9] = 'E';
            w[10] = exponent == 1 ? '+' : '-';
            n += 13;
            i = resume;
            previousWasNumber = true;
            if (n <= kMaxLineLength) return true;
            b.nSrcIndex = i;
            ReportOverlong(b, src);
            return false;
          };
          // Five ordinary pair characters and a blank or "~", all in this
          // physical line: the eight characters from i lie inside the
          // source line's buffer, and those looked at are before its NUL,
          // since none of them is a NUL.
          if (i + 8 <= kLineBufferSize && FivePairCharacters(Load8(s + i)) && (s[i + 5] == ' ' || s[i + 5] == '~')) {
            const unsigned char* q = s + i;
            std::memcpy(w, kDigitPairs.c + 2 * (q[0] - '!'), 2);
            std::memcpy(w + 3, kDigitPairs.c + 2 * (q[1] - '!'), 2);
            std::memcpy(w + 5, kDigitPairs.c + 2 * (q[2] - '!'), 2);
            std::memcpy(w + 7, kDigitPairs.c + 2 * (q[3] - '!'), 2);
            std::memcpy(w + 11, kDigitPairs.c + 2 * (q[4] - '!'), 2);
            if (!finish(i + 5)) break;  // the blank or "~" stays for the next token
            continue;
          }
          int j = i;
          // One pair character (33 to 124), or "}" and one of 33 to 40 for
          // 92 to 99, into its two digits at `at`; false for anything else.
          auto pair = [&](int at) {
            unsigned v = static_cast<unsigned>(s[j] - '!');
            if (v < 92u) {
              ++j;
            } else if (v == '}' - '!' && static_cast<unsigned>(s[j + 1] - '!') < 8u) {
              v = static_cast<unsigned>(s[j + 1] + 59);
              j += 2;
            } else {
              return false;
            }
            std::memcpy(w + at, kDigitPairs.c + 2 * v, 2);
            return true;
          };
          // The digits go where the point and "E" leave room for them.
          const bool whole = pair(0) && pair(3) && pair(5) && pair(7) && pair(11);
          if (whole && (s[j] == ' ' || s[j] == '~')) {
            if (!finish(j)) break;  // the space or "~" stays for the next token
            continue;
          }
        }
        // The common case: ordinary pair characters up to a space or "~" in
        // this physical line, written as they are read, the point in place.
        // Anything else (the token runs on into the next physical line, or
        // holds characters out of range) is decoded again below.
        char* w = out + n;
        int used = 0, m = 0;
        int pointAfter = point ? point : INT_MAX;  // digits before the point
        for (; quick && m <= kMaxLineLength; ++m) {
          unsigned v = static_cast<unsigned>(s[i + used] - '!');
          if (v < 92u) {
            ++used;
          } else if (v == '}' - '!' && static_cast<unsigned>(s[i + used + 1] - '!') < 8u) {
            v = static_cast<unsigned>(s[i + used + 1] + 59);
            used += 2;
          } else {
            break;
          }
          std::memcpy(w, kDigitPairs.c + 2 * v, 2);
          w += 2;
          if (2 * (m + 1) >= pointAfter) {
            if (2 * (m + 1) == pointAfter) {
              *w = '.';
            } else {
              w[0] = w[-1];
              w[-1] = '.';
            }
            ++w;
            pointAfter = INT_MAX;
          }
        }
        if (quick && (s[i + used] == ' ' || s[i + used] == '~') && m <= kMaxLineLength) {
          n = static_cast<int>(w - out);
          i += used;  // the space or "~" stays for the next token
          previousWasNumber = true;
          n = FinishNumber(out, start, n, odd, exponent);
          if (n > kMaxLineLength) {
            b.nSrcIndex = i;
            ReportOverlong(b, src);
            break;
          }
          continue;
        }
        // Where the point goes: right after digit number `point`.
        int pointAt = point ? start + point : INT_MAX;
        bool overflow = false;
        for (;;) {
          const int d = next();
          int v = d - '!';
          if (static_cast<unsigned>(v) >= 92u) {
            // Not an ordinary pair character: the end of the data, a space
            // or "~" after the number, "}" and its second character, or a
            // character out of range, whose digits are written as they fall.
            if (d == 0) break;
            if (d == ' ' || d == '~') {
              if (i > 0)
                --i;
              else
                src.UngetFailed();
              previousWasNumber = true;
              break;
            }
            if (d == '}') {
              const int e = next();
              v = e ? e + 59 : 92;
            }
          }
          // Room for two digits, the point, an exponent sign and the NUL.
          if (n > kLineBufferSize - kOutputReserve - 2) {
            overflow = true;
            break;
          }
          if (static_cast<unsigned>(v) < 100u) {
            std::memcpy(out + n, kDigitPairs.c + 2 * v, 2);
          } else {
            out[n] = static_cast<char>('0' + v / 10);
            out[n + 1] = static_cast<char>('0' + v % 10);
          }
          n += 2;
          if (n >= pointAt) {
            if (n == pointAt) {
              out[n] = '.';
            } else {
              out[n] = out[n - 1];
              out[n - 1] = '.';
            }
            ++n;
            pointAt = INT_MAX;
          }
        }
        if (overflow) {
          // The digits ran on towards the end of the output line: keep what
          // fits and fail as an overlong line.
          b.nSrcIndex = i;
          ReportOverlong(b, src);
          break;
        }
        n = FinishNumber(out, start, n, odd, exponent);
      } else if (t == ' ') {
        const int count = static_cast<signed char>(next()) - ' ';
        if (count > 0) {
          // Eight at a time: a run is at most 95 and the line at most 80
          // before it, so the last store stays well inside the buffer.
          static constexpr char kSpaces[8] = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
          for (int j = 0; j < count; j += 8) std::memcpy(out + n + j, kSpaces, 8);
          n += count;
        }
        previousWasNumber = false;
      } else if (t == '}') {
        previousWasNumber = false;
        done = true;
      } else if (previousWasNumber) {
        out[n++] = static_cast<char>(t);
        previousWasNumber = false;
      } else if (t == '~' || t == '-') {
        out[n++] = static_cast<char>(t);
      } else {
        // Below "!" or above "z".
        b.nSrcIndex = i;
        CPLError(CE_Failure, CPLE_NotSupported, "Unexpected code \"~%c\" encountered in line %ld.", t,
                 src.LineNumber());
        b.bEnd = 1;
        break;
      }
    }
    if (n > kMaxLineLength) {
      b.nSrcIndex = i;
      ReportOverlong(b, src);
      break;
    }
  }
  b.nSrcIndex = i;
  out[n] = '\0';
  return n;
}

bool IsCompressedLine(const char* line) {
  const size_t length = std::strlen(line);
  return (length == 79 || length == 80) && std::memchr(line, '~', length) != nullptr;
}

void UncompressHeader(char* line) {
  if (char* one = std::strstr(line, " 1")) one[1] = '0';
}

namespace {

inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }
inline bool EndsLine(char c) { return c == '\0' || c == '\n' || c == '\r'; }
// The n characters from p are digits; stops at the first that is not, so
// never reads past a NUL.
inline bool AllDigits(const char* p, int n) {
  for (int i = 0; i < n; ++i)
    if (!IsDigit(p[i])) return false;
  return true;
}

// Digits a number token is built from at most: its token could not fit a
// line anyway, and the text that is kept instead overflows too.
constexpr int kMaxTokenDigits = kMaxNumberToken - 14;

// What the encoder looks at a character for: the end of the line, a tilde,
// a space (a run begins with three) or a digit (a number, at full level).
enum : unsigned char { kLiteral = 0, kEnd = 1, kTilde = 2, kSpace = 3, kDigit = 4 };
struct CharKinds {
  unsigned char k[256];
};
constexpr CharKinds MakeCharKinds() {
  CharKinds kinds{};
  kinds.k[0] = kEnd;
  kinds.k[static_cast<unsigned char>('\n')] = kEnd;
  kinds.k[static_cast<unsigned char>('\r')] = kEnd;
  kinds.k[static_cast<unsigned char>('~')] = kTilde;
  kinds.k[static_cast<unsigned char>(' ')] = kSpace;
  for (int d = '0'; d <= '9'; ++d) kinds.k[d] = kDigit;
  return kinds;
}
constexpr CharKinds kCharKinds = MakeCharKinds();

// Writes the pair of digits a and b at t as one character, or for 92 to
// 99 as "}" and a second; returns the end.
inline char* PutPair(char* t, char a, char b) {
  const int v = 10 * a + b - 11 * '0';
  if (v < 92) {
    *t = static_cast<char>('!' + v);
    return t + 1;
  }
  t[0] = '}';
  t[1] = static_cast<char>('!' + v - 92);
  return t + 2;
}

// The 14 characters from s, s[13] included, are a number as %14.7E prints
// it ("4.6012345E+05", s[0] a digit) followed by a character that ends it
// and is not "}". Checked eight characters at a time: s[0..7] with the
// point taken as a digit, and s[6..13] with "E", the sign and the
// character after the number taken as digits.
bool IsPrintedNumber(const char* s) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  using printed::EightDigits;
  using printed::Load8;
  constexpr uint64_t kZeros = 0x3030303030303030ull;
  constexpr uint64_t kFirst = 0x000000000000FF00ull;   // the point
  constexpr uint64_t kSecond = 0xFF0000FFFF000000ull;  // "E", the sign, what follows
  const uint64_t first = Load8(s), second = Load8(s + 6);
  return s[1] == '.' && s[9] == 'E' && (s[10] == '+' || s[10] == '-') && !IsDigit(s[13]) && s[13] != '}' &&
         EightDigits((first & ~kFirst) | (kZeros & kFirst)) && EightDigits((second & ~kSecond) | (kZeros & kSecond));
#else
  return s[1] == '.' && AllDigits(s + 2, 7) && s[9] == 'E' && (s[10] == '+' || s[10] == '-') && IsDigit(s[11]) &&
         IsDigit(s[12]) && !IsDigit(s[13]) && s[13] != '}';
#endif
}

// Encodes the number whose text starts at `s` (a digit) into `token`, which
// has room for kMaxNumberToken characters; `nul` is the end of the line's
// text. Returns the token's length, or 0 when the text is to be written
// unchanged; `end` is set past the number's text either way.
// Inlined into CompressLine, where `quick` is always true.
__attribute__((always_inline)) inline int EncodeNumber(const char* s, const char* nul, const char*& end, char* token,
                                                     bool quick) {
  // The shape coordinates mostly have, as %14.7E prints them: a digit, the
  // point, seven digits and a two-digit exponent ("4.6012345E+05"). The
  // token is that of the general scan below, built without it.
  if (quick && nul - s >= 13 && IsPrintedNumber(s)) {
    char* t = token;
    t[0] = '~';
    t[1] = static_cast<char>('!' + 1 + (s[10] == '+' ? 15 : 30));
    t = PutPair(t + 2, s[0], s[2]);
    t = PutPair(t, s[3], s[4]);
    t = PutPair(t, s[5], s[6]);
    t = PutPair(t, s[7], s[8]);
    t = PutPair(t, s[11], s[12]);
    const char stop = s[13];
    if (stop != '~' && stop != ' ' && !EndsLine(stop)) *t++ = '~';
    end = s + 13;
    return static_cast<int>(t - token);
  }
  // Up to three digits and then neither a point nor an exponent: the token
  // would be longer than the text.
  if (quick) {
    int k = 1;
    while (k < 4 && IsDigit(s[k])) ++k;
    if (k < 4 && s[k] != '.' && s[k] != 'E') {
      end = s + k;
      return 0;
    }
  }
  int count = 0, point = 0, exponent = 0;
  int pending = -1;  // first digit of an unfinished pair
  char* t = token + 2;
  // Two digits to a character, values 92 to 99 in two.
  auto pair = [&t](int v) {
    if (v < 92) {
      *t++ = static_cast<char>('!' + v);
    } else {
      t[0] = '}';
      t[1] = static_cast<char>('!' + v - 92);
      t += 2;
    }
  };
  const char* q = s;
  for (;;) {
    const unsigned d = static_cast<unsigned char>(*q) - static_cast<unsigned>('0');
    if (d <= 9) {
      if (count >= kMaxTokenDigits) {
        // Too long for any line: find its end and keep it as text.
        while (IsDigit(*q)) ++q;
        end = q;
        return 0;
      }
      if (pending >= 0) {
        pair(10 * pending + static_cast<int>(d));
        pending = -1;
        ++q;
        ++count;
        continue;
      }
      const unsigned d2 = static_cast<unsigned char>(q[1]) - static_cast<unsigned>('0');
      if (d2 <= 9) {
        pair(static_cast<int>(10 * d + d2));
        q += 2;
        count += 2;
      } else {
        pending = static_cast<int>(d);
        ++q;
        ++count;
      }
    } else if (*q == '.' && point == 0 && q - s < 15) {
      point = static_cast<int>(q - s);
      ++q;
    } else if (*q == 'E' && (q[1] == '+' || q[1] == '-') && IsDigit(q[2]) && IsDigit(q[3]) &&
               !IsDigit(q[4])) {
      exponent = q[1] == '+' ? 1 : 2;
      for (int k = 2; k <= 3; ++k) {
        const int e = q[k] - '0';
        if (pending >= 0) {
          pair(10 * pending + e);
          pending = -1;
        } else {
          pending = e;
        }
      }
      count += 2;
      q += 4;
      break;
    } else {
      break;
    }
  }
  end = q;
  const char stop = *q;
  // A "}" after the number would follow the token's closing "~" and end the
  // line there; keep such numbers as text.
  if (stop == '}') return 0;
  const int odd = count & 1;
  const int code = '!' + point + 15 * exponent + 45 * odd;
  // "~-" reads back as a literal "-", never as a number.
  if (code == '-') return 0;
  if (odd) *t++ = static_cast<char>('!' + 10 * pending);
  token[0] = '~';
  token[1] = static_cast<char>(code);
  if (stop != '~' && stop != ' ' && !EndsLine(stop)) *t++ = '~';
  const int n = static_cast<int>(t - token);
  return n > q - s ? 0 : n;
}

}  // namespace

namespace detail {
int EncodeNumber(const char* s, const char* nul, const char*& end, char* token, bool quick) {
  return ::e00::EncodeNumber(s, nul, end, token, quick);
}
}  // namespace detail

int CompressLine(PendingBuffer& pending, const char* line, bool full, bool quick) {
  char* const buf = pending.szBuf;
  char* o = buf + pending.nLength;
  // Every step leaves room for the closing "~}" before the buffer's last
  // character.
  char* const limit = buf + kLineBufferSize - 1 - 2;
  const unsigned char digitKind = full ? kDigit : kLiteral;
  const char* s = line;
  const char* const nul = line + std::strlen(line);
  // The line most of an export is made of: four coordinates as %14.7E
  // prints them. Each is its blank or "-", written as it is, and its
  // number's token, followed by "~" where a "-" comes next, as the scan
  // below writes them. A field adds 14 characters at most (its sign, "~",
  // the code, ten pair characters and "~"), so nothing can overflow.
  if (quick && full && nul - line == 4 * 14 && limit - o >= 4 * 14 && printed::IsPrintedLine<4, 14>(line)) {
    for (int f = 0; f < 4; ++f) {
      const char* p = line + 14 * f;
      *o++ = p[0];
      o[0] = '~';
      o[1] = p[11] == '+' ? '1' : '@';
      o = PutPair(o + 2, p[1], p[3]);
      o = PutPair(o, p[4], p[5]);
      o = PutPair(o, p[6], p[7]);
      o = PutPair(o, p[8], p[9]);
      o = PutPair(o, p[12], p[13]);
      if (f < 3 && p[14] == '-') *o++ = '~';
    }
    o[0] = '~';
    o[1] = '}';
    pending.nLength = static_cast<int>(o + 2 - buf);
    return kWriteOk;
  }
  for (;;) {
    const char c = *s;
    unsigned char kind = kCharKinds.k[static_cast<unsigned char>(c)];
    if (kind == kDigit) kind = digitKind;
    if (kind == kLiteral || (kind == kSpace && (s[1] != ' ' || s[2] != ' '))) {
      if (o >= limit) goto overflow;
      *o++ = c;
      ++s;
    } else if (kind == kEnd) {
      break;
    } else if (kind == kTilde) {
      if (o + 2 > limit) goto overflow;
      o[0] = '~';
      o[1] = '~';
      o += 2;
      ++s;
    } else if (kind == kSpace) {
      // A run of three spaces or more.
      int run = 3;
      while (s[run] == ' ' && run < kMaxSpaceRun) ++run;
      if (o + 3 > limit) goto overflow;
      o[0] = '~';
      o[1] = ' ';
      o[2] = static_cast<char>(' ' + run);
      o += 3;
      s += run;
    } else {
      // The token goes straight into the buffer, whose slack past its
      // capacity holds the longest; what does not fit is an overflow.
      const char* end = s;
      const int length = EncodeNumber(s, nul, end, o, quick);
      if (length == 0) {
        if (end - s > limit - o) goto overflow;
        std::memcpy(o, s, static_cast<size_t>(end - s));
        o += end - s;
      } else {
        if (length > limit - o) goto overflow;
        o += length;
      }
      s = end;
    }
  }
  o[0] = '~';
  o[1] = '}';
  pending.nLength = static_cast<int>(o + 2 - buf);
  return kWriteOk;

overflow:
  CPLError(CE_Failure, CPLE_FileIO, "Output buffer overflow!!!.");
  return kBufferOverflow;
}

int NextCutLength(const PendingBuffer& pending) {
  if (pending.nLength < kMaxLineLength) return 0;
  if (pending.nLength == kMaxLineLength) return kMaxLineLength;
  int cut = kMaxLineLength;
  while (cut > 1 && pending.szBuf[cut - 1] == ' ') --cut;
  return cut;
}

void DropPending(PendingBuffer& pending, int count) {
  if (count >= pending.nLength) {
    pending.nLength = 0;
    return;
  }
  std::memmove(pending.szBuf, pending.szBuf + count, static_cast<size_t>(pending.nLength - count));
  pending.nLength -= count;
}

}  // namespace e00
