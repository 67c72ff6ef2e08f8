// Conversion of text between the character sets that interchange files carry
// and the platform's own, through iconv. A codec is opened for one direction
// (target first, then source) and converts a string or a run of bytes per
// call. Each call starts from the initial conversion state (on a fresh
// descriptor after a failure, or when iconv's reset would leave a byte
// order read from an earlier text) and ends by flushing it, so nothing
// carries over from one call into the next.
//
// A codec and its scratch buffer serve one thread at a time. Copies open a
// descriptor of their own; the destructor closes it.
#pragma once

#include "platform/mfc/CString.h"

class CVtTextCodec {
 public:
  // Windows GDI character-set numbers, and three Unicode forms.
  enum Charset : int {
    CharsetAnsi = 0,
    CharsetDefault = 1,
    CharsetMac = 77,
    CharsetShiftJIS = 128,
    CharsetHangeul = 129,
    CharsetJohab = 130,
    CharsetGB2312 = 134,
    CharsetChineseBig5 = 136,
    CharsetGreek = 161,
    CharsetTurkish = 162,
    CharsetVietnamese = 163,
    CharsetHebrew = 177,
    CharsetArabic = 178,
    CharsetBaltic = 186,
    CharsetRussian = 204,
    CharsetThai = 222,
    CharsetEastEurope = 238,
    CharsetOEM = 255,
    CharsetUTF8 = 65536,
    CharsetUCS2LE = 65537,
    CharsetUCS2BE = 65538,
  };

  CVtTextCodec();
  // Opens the conversion from `from` to `to`; stays closed when it fails.
  CVtTextCodec(Charset to, Charset from);
  CVtTextCodec(const CVtTextCodec& other);
  CVtTextCodec& operator=(const CVtTextCodec& other);
  ~CVtTextCodec();

  // Closes, then opens the conversion from the iconv character set named
  // `from` to the one named `to`. Returns IsOpen().
  bool Open(const CString& to, const CString& from);
  bool Open(Charset to, Charset from);
  bool IsOpen() const;
  void Close();

  // The whole text converted, up to the first zero byte of the result (so
  // this form suits targets without zero bytes: the 8-bit sets, UTF-8,
  // GB18030, BIG5); empty when the codec is closed or any byte of `text`
  // cannot be converted.
  CString Convert(const CString& text);
  // Converts `length` bytes. True with `out` holding exactly the converted
  // bytes (zero bytes included); false, `out` unchanged, when the codec is
  // closed, `length` is negative or a byte sequence is invalid, cut short
  // or has no equivalent in the target.
  bool Convert(CString& out, const char* data, int length);

  // Streaming: a text converted piece by piece, for input of any size.
  // BeginStream starts a new text in the initial state. ConvertPiece puts in
  // `out` the conversion of as much of the piece as forms whole characters
  // and sets `used` to the bytes taken; an incomplete sequence at the end of
  // a piece is left for the next one, unless `last`, when the text ends
  // there and the state is flushed. False on a sequence that is invalid,
  // has no equivalent, or is cut short at the end of the last piece: `used`
  // is then its offset in the piece and `out` holds what came before it.
  void BeginStream();
  bool ConvertPiece(CString& out, const char* data, int length, bool last, int& used);

  // The iconv name of a character set; "CP1252" for values not listed.
  static CString GetCharsetName(Charset charset);
  // The system's character set, from its ANSI code page.
  static int GetCurCharset();
  // The shared codec between the system's character set and UCS-2LE:
  // from UCS-2LE when `fromUnicode`, to it otherwise. Created on the first
  // request (safely when threads ask at once) and kept until the process
  // ends. The codec itself is not locked: convert on one thread at a time.
  static CVtTextCodec& GetDefault(bool fromUnicode);

 private:
  enum class Outcome { kDone, kInvalid, kIncomplete, kTooLong };
  // Converts data into m_strBuffer from offset 0, growing it as needed;
  // `produced` and `used` report the output bytes and the input taken.
  Outcome Run(const char* data, size_t length, bool flush, size_t& produced, size_t& used);
  Outcome Transcode(void* handle, const char* data, size_t length, bool flush, size_t& produced, size_t& used);
  bool OpenDescriptor(const CString& to, const CString& from);

  void* m_hHandle;      // iconv_t; (iconv_t)-1 when closed
  CString m_strBuffer;  // output area, kept between calls
  CString m_strTo;      // names the descriptor was opened with, for copies
  CString m_strFrom;
  bool m_bReopenPerText = false;  // the descriptor keeps state a reset does not clear
  bool m_bUsed = false;           // converted since the descriptor was opened
  bool m_bFailed = false;         // the last conversion failed
  bool m_bStreamFed = false;      // bytes given since BeginStream
};
