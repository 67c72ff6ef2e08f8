#include "vector/e00/E00Codec.h"

#include <cpl_error.h>

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

// The decoder's view of the source: the source index is held here while a
// line is decoded and written back when it ends or a physical line is read.
class Cursor {
 public:
  Cursor(DecodeBuffer& b, LineSource& src) : m_b(b), m_src(src), m_index(b.nSrcIndex) {}
  ~Cursor() { m_b.nSrcIndex = m_index; }

  // The next character, reading physical lines as needed; 0 at the end.
  // A source line is emptied when the end flag is set by reading, so the
  // flag only needs a look once the line is used up.
  int Next() {
    const unsigned char c = static_cast<unsigned char>(m_b.szSrcLine[m_index]);
    if (c) {
      ++m_index;
      return c;
    }
    const int r = Refill(m_b, m_src);
    m_index = m_b.nSrcIndex;
    return r;
  }
  void Unget() {
    if (m_index > 0)
      --m_index;
    else
      m_src.UngetFailed();
  }

 private:
  // Reads physical lines until one has a character; takes it.
  static int Refill(DecodeBuffer& b, LineSource& src) {
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

  DecodeBuffer& m_b;
  LineSource& m_src;
  int m_index;
};

void ReportOverlong(DecodeBuffer& b, LineSource& src) {
  CPLError(CE_Failure, CPLE_FileIO,
           "Uncompressed line longer than 80 chars. Input file possibly corrupt around line %ld.",
           src.LineNumber());
  b.bEnd = 1;
}

// Decodes the digit pairs of a number token whose code character is `code`
// into out[n...], advancing n. Returns false when the digits would run past
// the output line; n then counts the characters written.
bool DecodeNumber(Cursor& in, char* out, int code, int& n, bool& previousWasNumber) {
  const int k = code - '!';
  const int point = k % 15;
  const int exponent = (k / 15) % 3;
  const bool odd = k >= 45;
  const int start = n;
  int digits = 0;
  for (;;) {
    const int d = in.Next();
    if (d == 0) break;
    if (d == ' ' || d == '~') {
      in.Unget();
      previousWasNumber = true;
      break;
    }
    int v;
    if (d == '}') {
      const int e = in.Next();
      v = e ? e + 59 : 92;
    } else {
      v = d - '!';
    }
    if (n > kLineBufferSize - kOutputReserve - 2) return false;
    for (const int digit : {v / 10, v % 10}) {
      out[n++] = static_cast<char>('0' + digit);
      if (++digits == point) out[n++] = '.';
    }
  }
  if (odd && n > start) --n;
  if (exponent) {
    const int at = n - start >= 2 ? n - 2 : start;
    std::memmove(out + at + 2, out + at, static_cast<size_t>(n - at));
    out[at] = 'E';
    out[at + 1] = exponent == 1 ? '+' : '-';
    n += 2;
  }
  return true;
}

}  // namespace

int UncompressNextLine(DecodeBuffer& b, LineSource& src) {
  char* out = b.szOutLine;
  int n = 0;
  bool previousWasNumber = false;
  out[0] = '\0';
  if (b.bEnd) return 0;
  Cursor in(b, src);
  for (bool done = false; !done;) {
    const int c = in.Next();
    if (c == 0) break;
    if (c != '~') {
      out[n++] = static_cast<char>(c);
      previousWasNumber = false;
    } else {
      const int t = in.Next();
      if (t == 0) break;
      if (t == ' ') {
        const int count = static_cast<signed char>(in.Next()) - ' ';
        for (int i = 0; i < count; ++i) out[n++] = ' ';
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
        previousWasNumber = false;
        if (!DecodeNumber(in, out, t, n, previousWasNumber)) {
          // The digits ran on towards the end of the output line: keep what
          // fits and fail as an overlong line.
          ReportOverlong(b, src);
          break;
        }
      } else {
        CPLError(CE_Failure, CPLE_NotSupported, "Unexpected code \"~%c\" encountered in line %ld.", t,
                 src.LineNumber());
        b.bEnd = 1;
        break;
      }
    }
    if (n > kMaxLineLength) {
      ReportOverlong(b, src);
      break;
    }
  }
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
