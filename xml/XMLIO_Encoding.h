// Documents in encodings expat does not decode itself: the description of
// such an encoding that expat needs (built from iconv), and the transcoder
// that turns expat's UTF-8 back into the document's own encoding for the
// handlers. Neither touches the process locale.
#pragma once

#include <expat.h>

#include <string>

class XMLIO_Transcoder {
 public:
  XMLIO_Transcoder() = default;
  XMLIO_Transcoder(const XMLIO_Transcoder&) = delete;
  XMLIO_Transcoder& operator=(const XMLIO_Transcoder&) = delete;
  ~XMLIO_Transcoder() { close(); }

  // Opens the conversion from UTF-8 to `encoding` (as XMLIO_iconvName names
  // it); false when iconv does not know it.
  bool open(const std::string& encoding);
  void close();
  bool isOpen() const { return handle_ != nullptr; }
  // The iconv name of the encoding converted to; empty when closed.
  const std::string& encoding() const { return encoding_; }
  // Characters replaced by "?" since the conversion was opened.
  long long substitutions() const { return substitutions_; }

  // `text` converted; unchanged when no conversion is open. A character the
  // target cannot hold becomes "?" and the rest is still converted, so
  // nothing after it is lost. The result is valid until the next call.
  const std::string& convert(const char* text, size_t length);
  const std::string& convert(const std::string& text) { return convert(text.data(), text.size()); }

 private:
  void* handle_ = nullptr;  // iconv_t
  std::string encoding_;
  long long substitutions_ = 0;
  std::string passThrough_;
  std::string out_;     // conversion area, grown to the largest text so far
  std::string result_;
};

// The name iconv opens for a declared encoding: "GB2312" opens GB18030, a
// superset whose two-byte codes are the same, so GBK text reads as well.
std::string XMLIO_iconvName(const std::string& declared);

// Fills expat's description of `encoding` from iconv. Bytes that stand for a
// character alone map to it; bytes that start a multi-byte character map to
// minus its length and are converted through iconv when met. Returns
// XML_STATUS_ERROR when iconv cannot open the encoding or it needs more than
// expat can describe; expat then fails the parse with "unknown encoding".
int XMLIO_describeEncoding(const std::string& encoding, XML_Encoding* info);
