#include "text/CVtTextCodec.h"

#include <errno.h>
#include <iconv.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <mutex>
#include <optional>

#include "platform/win/winnls.h"

namespace {

const iconv_t kClosed = reinterpret_cast<iconv_t>(-1);

iconv_t Descriptor(void* handle) { return static_cast<iconv_t>(handle); }

// The output area never outgrows what a CString can hold.
constexpr size_t kMaxBuffer = static_cast<size_t>(INT_MAX);

// The character sets GetDefault serves directly; any other system
// character set is served by GB18030 (the first entry).
constexpr int kDefaultCharsets[] = {134, 77, 128, 129, 130, 136, 161, 162, 163, 177, 178, 186, 204, 222, 238, 255};
constexpr int kDefaultCount = sizeof kDefaultCharsets / sizeof kDefaultCharsets[0];

// One shared codec per character set and direction, built at most once even
// when several threads ask for it together.
struct DefaultSlot {
  std::once_flag once;
  std::optional<CVtTextCodec> codec;
};
DefaultSlot g_defaults[2 * kDefaultCount];

}  // namespace

CVtTextCodec::CVtTextCodec() : m_hHandle(kClosed) {}

CVtTextCodec::CVtTextCodec(Charset to, Charset from) : m_hHandle(kClosed) { Open(to, from); }

CVtTextCodec::CVtTextCodec(const CVtTextCodec& other) : m_hHandle(kClosed) { *this = other; }

CVtTextCodec& CVtTextCodec::operator=(const CVtTextCodec& other) {
  if (this == &other) return *this;
  // A descriptor of our own: two codecs never close one descriptor twice.
  Close();
  if (other.IsOpen() && OpenDescriptor(other.m_strTo, other.m_strFrom)) m_bReopenPerText = other.m_bReopenPerText;
  return *this;
}

CVtTextCodec::~CVtTextCodec() { Close(); }

namespace {

// One conversion of `in` on `cd` from its initial state, flushed: whether it
// succeeded, and its output (at most 64 bytes).
std::pair<bool, std::string> Probe(iconv_t cd, const std::string& in) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char out[64];
  char* outPtr = out;
  size_t outLeft = sizeof out;
  char* inPtr = const_cast<char*>(in.data());
  size_t inLeft = in.size();
  const bool ok = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<size_t>(-1) &&
                  iconv(cd, nullptr, nullptr, &outPtr, &outLeft) != static_cast<size_t>(-1);
  return {ok, std::string(out, static_cast<size_t>(outPtr - out))};
}

// Whether a descriptor of this pair keeps, past a reset, something an
// earlier text set: glibc's UTF-16 and UTF-32 decoders keep the byte order
// of the first byte-order mark they read. Told by converting a text without
// a mark on a descriptor that has read one, and on a fresh descriptor.
bool RemembersPastReset(const char* to, const char* from) {
  static const std::pair<std::string, std::string> kProbes[] = {
      {std::string("\xFE\xFF\x00\x41", 4), std::string("\x41\x00", 2)},
      {std::string("\xFF\xFE\x41\x00", 4), std::string("\x00\x41", 2)},
      {std::string("\x00\x00\xFE\xFF\x00\x00\x00\x41", 8), std::string("\x41\x00\x00\x00", 4)},
      {std::string("\xFF\xFE\x00\x00\x41\x00\x00\x00", 8), std::string("\x00\x00\x00\x41", 4)},
  };
  for (const auto& probe : kProbes) {
    const iconv_t used = iconv_open(to, from), fresh = iconv_open(to, from);
    bool differs = false;
    if (used != kClosed && fresh != kClosed) {
      Probe(used, probe.first);
      differs = Probe(used, probe.second) != Probe(fresh, probe.second);
    }
    if (used != kClosed) iconv_close(used);
    if (fresh != kClosed) iconv_close(fresh);
    if (differs) return true;
  }
  return false;
}

}  // namespace

bool CVtTextCodec::OpenDescriptor(const CString& to, const CString& from) {
  m_hHandle = iconv_open(to, from);
  if (!IsOpen()) return false;
  m_strTo = to;
  m_strFrom = from;
  m_bUsed = false;
  m_bFailed = false;
  return true;
}

bool CVtTextCodec::Open(const CString& to, const CString& from) {
  Close();
  if (!OpenDescriptor(to, from)) return false;
  m_bReopenPerText = RemembersPastReset(to, from);
  return true;
}

bool CVtTextCodec::Open(Charset to, Charset from) { return Open(GetCharsetName(to), GetCharsetName(from)); }

bool CVtTextCodec::IsOpen() const { return Descriptor(m_hHandle) != kClosed; }

void CVtTextCodec::Close() {
  if (!IsOpen()) return;
  iconv_close(Descriptor(m_hHandle));
  m_hHandle = kClosed;
  m_strTo.Empty();
  m_strFrom.Empty();
}

CVtTextCodec::Outcome CVtTextCodec::Run(const char* data, size_t length, bool flush, size_t& produced,
                                        size_t& used) {
  const iconv_t cd = Descriptor(m_hHandle);
  m_bUsed = true;
  const Outcome outcome = Transcode(cd, data, length, flush, produced, used);
  m_bFailed = !(outcome == Outcome::kDone || (outcome == Outcome::kIncomplete && !flush));
  return outcome;
}

CVtTextCodec::Outcome CVtTextCodec::Transcode(void* handle, const char* data, size_t length, bool flush,
                                            size_t& produced, size_t& used) {
  const iconv_t cd = Descriptor(handle);
  // Five output bytes per input byte cover every conversion between the
  // listed character sets; the area grows when a conversion needs more.
  size_t capacity = std::min(length * 5, kMaxBuffer);
  if (static_cast<size_t>(m_strBuffer.GetLength()) < capacity) m_strBuffer.GetBufferSetLength(static_cast<int>(capacity));
  capacity = static_cast<size_t>(m_strBuffer.GetLength());
  char* base = m_strBuffer.GetBuffer();
  produced = 0;
  used = 0;
  auto grow = [&]() {
    if (capacity >= kMaxBuffer) return false;
    capacity = std::min(std::max<size_t>(capacity * 2, 256), kMaxBuffer);
    base = m_strBuffer.GetBufferSetLength(static_cast<int>(capacity));
    return true;
  };

  char* in = const_cast<char*>(data);
  size_t inLeft = length;
  while (inLeft > 0) {
    char* out = base + produced;
    size_t outLeft = capacity - produced;
    const size_t r = iconv(cd, &in, &inLeft, &out, &outLeft);
    const int error = errno;
    produced = static_cast<size_t>(out - base);
    used = length - inLeft;
    if (r != static_cast<size_t>(-1)) break;
    if (error == E2BIG) {
      if (!grow()) return Outcome::kTooLong;
    } else if (error == EINVAL) {
      return Outcome::kIncomplete;
    } else {
      return Outcome::kInvalid;
    }
  }
  used = length - inLeft;
  // The end of the text: a pending character or the shift back to the
  // initial state goes out now.
  while (flush) {
    char* out = base + produced;
    size_t outLeft = capacity - produced;
    const size_t r = iconv(cd, nullptr, nullptr, &out, &outLeft);
    const int error = errno;
    produced = static_cast<size_t>(out - base);
    if (r != static_cast<size_t>(-1)) break;
    if (error != E2BIG) return Outcome::kInvalid;
    if (!grow()) return Outcome::kTooLong;
  }
  return Outcome::kDone;
}

CString CVtTextCodec::Convert(const CString& text) {
  if (!IsOpen()) return CString();
  // Nothing in, nothing out: not even the header some encoders start with.
  if (text.IsEmpty()) return CString();
  BeginStream();
  size_t produced = 0, used = 0;
  if (Run(text.GetString(), static_cast<size_t>(text.GetLength()), true, produced, used) != Outcome::kDone)
    return CString();
  const char* bytes = m_strBuffer.GetString();
  const void* nul = std::memchr(bytes, '\0', produced);
  const size_t kept = nul ? static_cast<size_t>(static_cast<const char*>(nul) - bytes) : produced;
  return CString(bytes, static_cast<int>(kept));
}

bool CVtTextCodec::Convert(CString& out, const char* data, int length) {
  if (!IsOpen() || length < 0 || (!data && length > 0)) return false;
  if (length == 0) {
    out.Empty();
    return true;
  }
  BeginStream();
  size_t produced = 0, used = 0;
  if (Run(data ? data : "", static_cast<size_t>(length), true, produced, used) != Outcome::kDone) return false;
  out.Empty();
  out.Append(m_strBuffer.GetString(), static_cast<int>(produced));
  return true;
}

void CVtTextCodec::BeginStream() {
  m_bStreamFed = false;
  if (!IsOpen()) return;
  if (m_bUsed && (m_bReopenPerText || m_bFailed)) {
    // The reset does not clear all a descriptor may keep (after a failure,
    // or in decoders that remember a byte order): start on a fresh one.
    const CString to = m_strTo, from = m_strFrom;
    iconv_close(Descriptor(m_hHandle));
    m_hHandle = kClosed;
    if (!OpenDescriptor(to, from)) {
      m_strTo.Empty();
      m_strFrom.Empty();
    }
    return;
  }
  iconv(Descriptor(m_hHandle), nullptr, nullptr, nullptr, nullptr);
}

bool CVtTextCodec::ConvertPiece(CString& out, const char* data, int length, bool last, int& used) {
  used = 0;
  if (!IsOpen() || length < 0 || (!data && length > 0)) return false;
  if (length > 0) m_bStreamFed = true;
  size_t produced = 0, taken = 0;
  const Outcome outcome = Run(data ? data : "", static_cast<size_t>(length), last && m_bStreamFed, produced, taken);
  used = static_cast<int>(taken);
  out.Empty();
  out.Append(m_strBuffer.GetString(), static_cast<int>(produced));
  return outcome == Outcome::kDone || (outcome == Outcome::kIncomplete && !last);
}

CString CVtTextCodec::GetCharsetName(Charset charset) {
  switch (static_cast<int>(charset)) {
    case 77:
    case 255: return "MACINTOSH";
    case 128: return "SHIFT_JIS";
    case 129: return "CP949";
    case 130: return "JOHAB";
    case 134: return "GB18030";
    case 136: return "BIG5";
    case 161: return "Greek";
    case 162: return "CP1254";
    case 163: return "CP1258";
    case 177: return "Hebrew";
    case 178: return "Arabic";
    case 186: return "CP1257";
    case 204: return "CP1251";
    case 222: return "CP874";
    case 238: return "CP1250";
    case 65536: return "UTF-8";
    case 65537: return "UCS-2LE";
    case 65538: return "UCS-2BE";
    default: return "CP1252";
  }
}

int CVtTextCodec::GetCurCharset() {
  switch (GetACP()) {
    case 874: return 222;
    case 932: return 128;
    case 936: return 134;
    case 950: return 136;
    case 1250: return 238;
    case 1253: return 161;
    case 1254: return 162;
    case 1255: return 177;
    case 1256: return 178;
    case 1257: return 186;
    default: return 1;
  }
}

CVtTextCodec& CVtTextCodec::GetDefault(bool fromUnicode) {
  const int current = GetCurCharset();
  int index = 0;  // GB18030 unless the system's set is served directly
  for (int i = 0; i < kDefaultCount; ++i)
    if (kDefaultCharsets[i] == current) index = i;
  DefaultSlot& slot = g_defaults[2 * index + (fromUnicode ? 1 : 0)];
  const Charset charset = static_cast<Charset>(kDefaultCharsets[index]);
  std::call_once(slot.once, [&] {
    if (fromUnicode)
      slot.codec.emplace(charset, CharsetUCS2LE);
    else
      slot.codec.emplace(CharsetUCS2LE, charset);
  });
  return *slot.codec;
}
