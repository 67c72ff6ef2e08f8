// Converts random bytes between the platform's character sets and a few
// stateful ones: the first two bytes pick the source and target, the third
// the piece size. The string form must give the byte form's result up to
// its first zero byte (empty when that fails), a text fed in pieces must
// convert to the same bytes (and fail where the whole fails), and a copy of
// the codec must convert alike.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "text/CVtTextCodec.h"

namespace {

const char* const kNames[] = {"CP1252", "MACINTOSH", "SHIFT_JIS", "CP949",   "JOHAB",       "GB18030", "BIG5",
                              "Greek",  "CP1254",    "CP1258",    "Hebrew",  "Arabic",      "CP1257",  "CP1251",
                              "CP874",  "CP1250",    "UTF-8",     "UCS-2LE", "UCS-2BE",     "UTF-16",  "UTF-32",
                              "UTF-7",  "EUC-JP",    "ISO-2022-JP", "ISO-2022-KR"};
constexpr size_t kCount = sizeof kNames / sizeof kNames[0];

// Codecs opened once per pair: opening loads iconv's modules.
CVtTextCodec& Codec(size_t to, size_t from) {
  static std::unique_ptr<CVtTextCodec> codecs[kCount][kCount];
  auto& codec = codecs[to][from];
  if (!codec) {
    codec = std::make_unique<CVtTextCodec>();
    if (!codec->Open(kNames[to], kNames[from])) std::abort();
  }
  return *codec;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const size_t from = data[0] % kCount, to = data[1] % kCount;
  const size_t step = 1 + data[2] % 64;
  const char* text = reinterpret_cast<const char*>(data + 3);
  const int length = static_cast<int>(size - 3);
  CVtTextCodec& codec = Codec(to, from);

  CString whole;
  const bool ok = codec.Convert(whole, text, length);
  const CString cut = codec.Convert(CString(text, length));
  if (!ok && !cut.IsEmpty()) std::abort();
  if (ok && cut.str() != whole.str().substr(0, whole.str().find('\0'))) std::abort();

  std::string pieces, pending;
  bool piecesOk = true;
  codec.BeginStream();
  int at = 0;
  do {
    const int take = std::min<int>(static_cast<int>(step), length - at);
    pending.append(text + at, static_cast<size_t>(take));
    at += take;
    CString out;
    int used = 0;
    piecesOk = codec.ConvertPiece(out, pending.data(), static_cast<int>(pending.size()), at == length, used);
    pieces += out.str();
    pending.erase(0, static_cast<size_t>(used));
  } while (at < length && piecesOk);
  if (piecesOk != ok || (ok && pieces != whole.str())) std::abort();

  CVtTextCodec copy(codec);
  CString again;
  if (copy.Convert(again, text, length) != ok || (ok && again.str() != whole.str())) std::abort();
  return 0;
}
