// The compressed E00 stream, shared by the E00 readers and the E00 writer.
//
// A compressed file is its header line followed by one continuous stream of
// tokens, cut into physical lines of at most 80 characters. Every logical
// line is encoded as tokens ending in "~}":
//   "~~"            a tilde
//   "~ " c          a run of (c - 32) spaces
//   "~" c pairs...  a number: c gives the point position, exponent kind and
//                   an odd-digit flag; each pair character two digits
//   anything else   itself
#pragma once

#include <cstdio>

namespace e00 {

// Size of every line buffer: source, output, pending and physical line.
constexpr int kLineBufferSize = 256;
// Longest physical line, and longest logical line the decoder accepts.
constexpr int kMaxLineLength = 80;

// Status codes of the writer.
enum WriteStatus {
  kWriteOk = 0,
  kInvalidHandle = 203,
  kWriteFailed = 204,
  kBufferOverflow = 205,
  kLineTooLong = 206,  // a line given unchanged does not fit the line buffer
};

// The decoder's state, held by each reader's read record.
struct DecodeBuffer {
  int bEnd;                         // no further physical line, or decoding failed
  int nSrcIndex;                    // next unread character of szSrcLine
  char szSrcLine[kLineBufferSize];  // last physical line, without line end
  char szOutLine[kLineBufferSize];  // last logical line decoded
};

// Where the decoder gets its physical lines from.
class LineSource {
 public:
  // Reads the next physical line into the source line (index 0) or sets the
  // end flag.
  virtual void ReadNextSourceLine() = 0;
  // The line number that decoding messages give.
  virtual long LineNumber() const = 0;
  // A character was to be pushed back with the source index at 0.
  virtual void UngetFailed() {}

 protected:
  ~LineSource() = default;
};

// Decodes one logical line into buf.szOutLine (NUL-terminated) and returns
// its length. An unknown code or a line above 80 characters is reported
// through CPLError and sets the end flag; what was decoded is kept.
// `quick` false decodes every number with the full loop: for tests that
// the quick paths agree with it.
int UncompressNextLine(DecodeBuffer& buf, LineSource& src, bool quick = true);

// True for the first data line of a compressed file: 79 or 80 characters
// holding a "~".
bool IsCompressedLine(const char* line);

// Turns a compressed file's header back into a plain one: its first " 1"
// becomes " 0".
void UncompressHeader(char* line);

// Longest number token the encoder builds.
constexpr int kMaxNumberToken = 2 * kLineBufferSize;

// Characters of the encoded stream not yet cut into physical lines: at most
// kLineBufferSize - 1. The slack after them takes a number token built in
// place before it is known to fit.
struct PendingBuffer {
  int nLength;
  char szBuf[kLineBufferSize + kMaxNumberToken];
};

// Appends logical line `line` (up to its end, a line feed or a carriage
// return), encoded, to the pending buffer; `full` also encodes numbers.
// Returns kWriteOk, or kBufferOverflow (reported through CPLError) with the
// pending buffer as it was before the call.
// `quick` false encodes with the full scan only: for tests that the quick
// paths agree with it.
int CompressLine(PendingBuffer& pending, const char* line, bool full, bool quick = true);

namespace detail {
// CompressLine's number encoder, at `s` (a digit) of a line whose text ends
// at `nul`, with or without its quick paths; for tests that the two agree.
// The token's length in `token` (room for kMaxNumberToken characters), or 0
// for the text to be written unchanged; `end` is set past the number.
int EncodeNumber(const char* s, const char* nul, const char*& end, char* token, bool quick);
}  // namespace detail

// Length of the next physical line to cut from the front of the pending
// buffer: 0 while fewer than 80 characters are pending; otherwise at most
// 80, shortened so that the line does not end in a space.
int NextCutLength(const PendingBuffer& pending);

// Drops the first `count` characters of the pending buffer.
void DropPending(PendingBuffer& pending, int count);

}  // namespace e00
