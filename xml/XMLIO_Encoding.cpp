#include "xml/XMLIO_Encoding.h"

#include <errno.h>
#include <iconv.h>
#include <strings.h>

#include <cstdint>
#include <vector>

namespace {

iconv_t Handle(void* h) { return static_cast<iconv_t>(h); }
const iconv_t kNoHandle = reinterpret_cast<iconv_t>(-1);

// One decoder per document in a foreign encoding: bytes to Unicode scalars.
struct ForeignDecoder {
  iconv_t toUtf32 = kNoHandle;
  // Two-byte characters seen so far, by their bytes; -2 not yet converted.
  std::vector<int32_t> pairs;

  ~ForeignDecoder() {
    if (toUtf32 != kNoHandle) iconv_close(toUtf32);
  }
};

enum class Decoded { kChar, kIncomplete, kInvalid };

// Decodes exactly `length` bytes as one character.
Decoded DecodeOne(iconv_t cd, const unsigned char* bytes, size_t length, int32_t& scalar) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char in[4];
  for (size_t i = 0; i < length; ++i) in[i] = static_cast<char>(bytes[i]);
  unsigned char out[16];
  char* inPtr = in;
  size_t inLeft = length;
  char* outPtr = reinterpret_cast<char*>(out);
  size_t outLeft = sizeof out;
  size_t r = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
  if (r == static_cast<size_t>(-1) && errno == EINVAL) return Decoded::kIncomplete;
  if (r == static_cast<size_t>(-1) || inLeft != 0) return Decoded::kInvalid;
  // A stateful encoding may leave a shift sequence behind.
  iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
  if (sizeof out - outLeft != 4) return Decoded::kInvalid;
  scalar = static_cast<int32_t>(out[0] | (out[1] << 8) | (out[2] << 16) | (static_cast<uint32_t>(out[3]) << 24));
  return Decoded::kChar;
}

int ConvertSequence(void* data, const char* s) {
  auto* decoder = static_cast<ForeignDecoder*>(data);
  const auto* bytes = reinterpret_cast<const unsigned char*>(s);
  // expat only calls this for bytes described as starting a sequence; the
  // length comes from the description, kept in the first byte's slot.
  int32_t scalar = -1;
  size_t length = static_cast<size_t>(decoder->pairs[bytes[0]]);
  if (length == 2) {
    int32_t& cached = decoder->pairs[256 + ((bytes[0] << 8) | bytes[1])];
    if (cached == -2) {
      if (DecodeOne(decoder->toUtf32, bytes, 2, scalar) != Decoded::kChar || scalar > 0xFFFF) scalar = -1;
      cached = scalar;
    }
    return cached;
  }
  if (DecodeOne(decoder->toUtf32, bytes, length, scalar) != Decoded::kChar || scalar > 0xFFFF) return -1;
  return scalar;
}

void ReleaseDecoder(void* data) { delete static_cast<ForeignDecoder*>(data); }

// The length of the characters that start with `lead`: the shortest length
// at which some continuation decodes to one character, or 0.
int SequenceLength(iconv_t cd, unsigned char lead) {
  unsigned char bytes[4] = {lead, 0, 0, 0};
  int32_t scalar = 0;
  for (int length = 2; length <= 4; ++length) {
    int incompleteAt = -1;
    for (int c = 0; c < 256; ++c) {
      bytes[length - 1] = static_cast<unsigned char>(c);
      Decoded d = DecodeOne(cd, bytes, static_cast<size_t>(length), scalar);
      if (d == Decoded::kChar) return length;
      if (d == Decoded::kIncomplete && incompleteAt < 0) incompleteAt = c;
    }
    if (incompleteAt < 0) return 0;
    bytes[length - 1] = static_cast<unsigned char>(incompleteAt);
  }
  return 0;
}

}  // namespace

std::string XMLIO_iconvName(const std::string& declared) {
  if (strcasecmp(declared.c_str(), "GB2312") == 0) return "GB18030";
  return declared;
}

int XMLIO_describeEncoding(const std::string& encoding, XML_Encoding* info) {
  iconv_t cd = iconv_open("UTF-32LE", XMLIO_iconvName(encoding).c_str());
  if (cd == kNoHandle) return XML_STATUS_ERROR;
  auto* decoder = new ForeignDecoder;
  decoder->toUtf32 = cd;
  // Slots 0-255 keep each lead byte's sequence length; then the two-byte cache.
  decoder->pairs.assign(256 + 65536, -2);
  bool multiByte = false;
  for (int b = 0; b < 256; ++b) {
    unsigned char byte = static_cast<unsigned char>(b);
    int32_t scalar = 0;
    Decoded d = DecodeOne(cd, &byte, 1, scalar);
    if (d == Decoded::kChar) {
      info->map[b] = scalar <= 0xFFFF ? scalar : -1;
    } else if (d == Decoded::kIncomplete) {
      int length = SequenceLength(cd, byte);
      info->map[b] = length ? -length : -1;
      decoder->pairs[b] = length;
      multiByte = multiByte || length != 0;
    } else {
      info->map[b] = -1;
    }
  }
  if (multiByte) {
    info->data = decoder;
    info->convert = ConvertSequence;
    info->release = ReleaseDecoder;
  } else {
    delete decoder;
    info->data = nullptr;
    info->convert = nullptr;
    info->release = nullptr;
  }
  return XML_STATUS_OK;
}

bool XMLIO_Transcoder::open(const std::string& encoding) {
  close();
  iconv_t cd = iconv_open(XMLIO_iconvName(encoding).c_str(), "UTF-8");
  if (cd == kNoHandle) return false;
  handle_ = cd;
  encoding_ = XMLIO_iconvName(encoding);
  substitutions_ = 0;
  return true;
}

void XMLIO_Transcoder::close() {
  if (handle_) iconv_close(Handle(handle_));
  handle_ = nullptr;
  encoding_.clear();
}

const std::string& XMLIO_Transcoder::convert(const char* text, size_t length) {
  if (!handle_) {
    passThrough_.assign(text, length);
    return passThrough_;
  }
  iconv_t cd = Handle(handle_);
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  if (out_.size() < length + 16) out_.resize(length + 16);
  char* in = const_cast<char*>(text);
  size_t inLeft = length;
  size_t used = 0;
  while (inLeft > 0) {
    char* outPtr = &out_[used];
    size_t outLeft = out_.size() - used;
    size_t r = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    int err = errno;
    used = out_.size() - outLeft;
    if (r != static_cast<size_t>(-1)) break;
    if (err == E2BIG) {
      out_.resize(out_.size() * 2);
      continue;
    }
    // A character the target cannot hold (or, never from expat, broken
    // UTF-8): mark it and go on after it.
    if (used == out_.size()) out_.resize(out_.size() * 2);
    out_[used++] = '?';
    ++substitutions_;
    const unsigned char lead = static_cast<unsigned char>(*in);
    size_t skip = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    if (skip > inLeft) skip = inLeft;
    in += skip;
    inLeft -= skip;
  }
  // A stateful target may close with a shift sequence.
  for (;;) {
    char* outPtr = &out_[used];
    size_t outLeft = out_.size() - used;
    size_t r = iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
    int err = errno;
    used = out_.size() - outLeft;
    if (r == static_cast<size_t>(-1) && err == E2BIG) {
      out_.resize(out_.size() * 2);
      continue;
    }
    break;
  }
  result_.assign(out_.data(), used);
  return result_;
}
