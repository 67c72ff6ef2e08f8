#include "vector/e00/E00Codec.h"

#include <cpl_error.h>

#include <climits>
#include <cstring>

namespace e00 {

namespace {

// Room the decoder keeps free at the end of the output line: a digit, a
// point, the two characters of an exponent sign and the closing NUL.
constexpr int kOutputReserve = 5;
// Longest run of spaces one token carries: its count character stays ASCII.
constexpr int kMaxSpaceRun = 127 - 32;
// Longest number text the encoder turns into a token.
constexpr int kMaxNumberToken = 2 * kLineBufferSize;

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

}  // namespace

int UncompressNextLine(DecodeBuffer& b, LineSource& src) {
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
      if (t == ' ') {
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
      } else if (t >= '!' && t <= 'z') {
        // A number: the code gives the point position, the exponent kind
        // and the odd-digit flag; each pair character two digits.
        previousWasNumber = false;
        const NumberCode code = kNumberCodes.c[t - '!'];
        const int point = code.point;
        const int exponent = code.exponent;
        const bool odd = code.odd;
        const int start = n;
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
        if (odd && n > start) --n;
        if (exponent) {
          // "E+" or "E-" in front of the last two characters written.
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
          n += 2;
        }
      } else {
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

// Encodes the number whose text starts at `s` (a digit) into `token`, in
// one pass over the text. Returns the token's length, or 0 when the text is
// to be written unchanged; `end` is set past the number's text either way.
int EncodeNumber(const char* s, const char*& end, char* token) {
  const char* q = s;
  int point = 0, exponent = 0, digits = 0;
  int n = 2;         // the pairs go after "~" and the code character
  int pending = -1;  // first digit of an unfinished pair
  auto digit = [&](int d) {
    ++digits;
    if (pending < 0) {
      pending = d;
      return;
    }
    const int v = 10 * pending + d;
    pending = -1;
    if (v < 92) {
      token[n++] = static_cast<char>('!' + v);
    } else {
      token[n++] = '}';
      token[n++] = static_cast<char>('!' + v - 92);
    }
  };
  for (;;) {
    if (IsDigit(*q)) {
      // Room for this pair, the exponent's pair, an odd last digit and the
      // closing "~".
      if (n > kMaxNumberToken - 6) {
        // Too long for any line: find its end and keep it as text.
        while (IsDigit(*q)) ++q;
        end = q;
        return 0;
      }
      digit(*q++ - '0');
    } else if (*q == '.' && point == 0 && q - s < 15) {
      point = static_cast<int>(q - s);
      ++q;
    } else if (*q == 'E' && (q[1] == '+' || q[1] == '-') && IsDigit(q[2]) && IsDigit(q[3]) &&
               !IsDigit(q[4])) {
      exponent = q[1] == '+' ? 1 : 2;
      digit(q[2] - '0');
      digit(q[3] - '0');
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
  const int odd = digits % 2;
  if (odd) token[n++] = static_cast<char>('!' + 10 * pending);
  const int code = '!' + point + 15 * exponent + 45 * odd;
  // "~-" reads back as a literal "-", never as a number.
  if (code == '-') return 0;
  token[0] = '~';
  token[1] = static_cast<char>(code);
  if (stop != '~' && stop != ' ' && !EndsLine(stop)) token[n++] = '~';
  return n > q - s ? 0 : n;
}

}  // namespace

int CompressLine(PendingBuffer& pending, const char* line, bool full) {
  const int saved = pending.nLength;
  char* buf = pending.szBuf;
  int n = pending.nLength;
  // Characters a step may add before the buffer reaches its capacity; the
  // closing "~}" always needs two.
  auto fits = [&n](int add) { return n + add + 2 <= kLineBufferSize - 1; };
  char token[kMaxNumberToken];
  const char* s = line;
  bool overflow = false;
  while (!EndsLine(*s) && !overflow) {
    if (*s == '~') {
      if (!(overflow = !fits(2))) {
        buf[n++] = '~';
        buf[n++] = '~';
      }
      ++s;
    } else if (s[0] == ' ' && s[1] == ' ' && s[2] == ' ') {
      int run = 3;
      while (s[run] == ' ' && run < kMaxSpaceRun) ++run;
      if (!(overflow = !fits(3))) {
        buf[n++] = '~';
        buf[n++] = ' ';
        buf[n++] = static_cast<char>(' ' + run);
      }
      s += run;
    } else if (full && IsDigit(*s)) {
      const char* end = s;
      const int length = EncodeNumber(s, end, token);
      const char* text = length ? token : s;
      const int count = length ? length : static_cast<int>(end - s);
      if (!(overflow = !fits(count))) {
        std::memcpy(buf + n, text, static_cast<size_t>(count));
        n += count;
      }
      s = end;
    } else {
      if (!(overflow = !fits(1))) buf[n++] = *s;
      ++s;
    }
  }
  if (overflow) {
    pending.nLength = saved;
    CPLError(CE_Failure, CPLE_FileIO, "Output buffer overflow!!!.");
    return kBufferOverflow;
  }
  buf[n++] = '~';
  buf[n++] = '}';
  pending.nLength = n;
  return kWriteOk;
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
