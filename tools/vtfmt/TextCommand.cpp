// `vtfmt text`: character-set conversion of text files.
//
//   vtfmt text charsets                                  code and iconv name of each set
//   vtfmt text convert --from CHARSET --to CHARSET IN OUT
//
// CHARSET is a code that `charsets` lists or any name iconv knows. The file
// is converted piece by piece, so its size does not matter; a sequence that
// cannot be converted ends the run with its byte offset, and OUT is removed.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Command.h"
#include "access/RasterDriver.h"
#include "text/CVtTextCodec.h"

namespace vtfmt {

namespace {

const CVtTextCodec::Charset kCharsets[] = {
    CVtTextCodec::CharsetAnsi,        CVtTextCodec::CharsetDefault,     CVtTextCodec::CharsetMac,
    CVtTextCodec::CharsetShiftJIS,    CVtTextCodec::CharsetHangeul,     CVtTextCodec::CharsetJohab,
    CVtTextCodec::CharsetGB2312,      CVtTextCodec::CharsetChineseBig5, CVtTextCodec::CharsetGreek,
    CVtTextCodec::CharsetTurkish,     CVtTextCodec::CharsetVietnamese,  CVtTextCodec::CharsetHebrew,
    CVtTextCodec::CharsetArabic,      CVtTextCodec::CharsetBaltic,      CVtTextCodec::CharsetRussian,
    CVtTextCodec::CharsetThai,        CVtTextCodec::CharsetEastEurope,  CVtTextCodec::CharsetOEM,
    CVtTextCodec::CharsetUTF8,        CVtTextCodec::CharsetUCS2LE,      CVtTextCodec::CharsetUCS2BE,
};

constexpr size_t kPiece = 1 << 20;

int Charsets() {
  for (CVtTextCodec::Charset c : kCharsets)
    std::printf("%d %s\n", static_cast<int>(c), CVtTextCodec::GetCharsetName(c).GetString());
  return kOk;
}

// A listed code gives its iconv name; anything else is taken as a name.
CString CharsetName(const std::string& text) {
  if (text.empty()) throw UsageError{"empty character-set name"};
  if (text.find_first_not_of("0123456789") != std::string::npos) return CString(text);
  const int code = text.size() <= 6 ? std::stoi(text) : -1;
  for (CVtTextCodec::Charset c : kCharsets)
    if (code == static_cast<int>(c)) return CVtTextCodec::GetCharsetName(c);
  throw UsageError{"unknown character-set code " + text + " (see vtfmt text charsets)"};
}

struct FileCloser {
  void operator()(FILE* f) const {
    if (f) std::fclose(f);
  }
};
using File = std::unique_ptr<FILE, FileCloser>;

void Convert(const std::string& from, const std::string& to, const std::string& in, const std::string& out) {
  const CString fromName = CharsetName(from), toName = CharsetName(to);
  CVtTextCodec codec;
  if (!codec.Open(toName, fromName))
    throw UsageError{"iconv cannot convert from " + fromName.str() + " to " + toName.str()};
  if (SameFile(in, out)) throw UsageError{"the output " + out + " is the input"};
  File input(std::fopen(in.c_str(), "rb"));
  if (!input) throw FileError{in, std::strerror(errno)};
  File output(std::fopen(out.c_str(), "wb"));
  if (!output) throw FileError{out, std::strerror(errno)};
  // A half-converted file is of no use: it goes.
  auto fail = [&](const FileError& error) {
    output.reset();
    RemovePartialFile(out);
    return error;
  };

  codec.BeginStream();
  std::vector<char> buffer(2 * kPiece);
  CString converted;
  size_t carried = 0;       // an incomplete sequence left from the last piece
  unsigned long long offset = 0;  // of buffer[0] in the input
  for (;;) {
    const size_t got = std::fread(buffer.data() + carried, 1, kPiece, input.get());
    if (std::ferror(input.get())) throw fail(FileError{in, std::strerror(errno)});
    const bool last = got < kPiece && std::feof(input.get());
    const int length = static_cast<int>(carried + got);
    int used = 0;
    const bool ok = codec.ConvertPiece(converted, buffer.data(), length, last, used);
    const size_t bytes = static_cast<size_t>(converted.GetLength());
    if (bytes && std::fwrite(converted.GetString(), 1, bytes, output.get()) != bytes)
      throw fail(FileError{out, std::strerror(errno)});
    if (!ok) {
      // What is left at the end may simply be a character cut short.
      int none = 0;
      CString ignored;
      const bool cut = last && codec.ConvertPiece(ignored, buffer.data() + used, length - used, false, none) && none == 0;
      const std::string at = std::to_string(offset + static_cast<unsigned long long>(used));
      throw fail(FileError{in, cut ? "ends inside a character (byte " + at + ")"
                                   : "cannot convert from " + fromName.str() + " to " + toName.str() + " at byte " +
                                         at + ": invalid input, or a character " + toName.str() +
                                         " cannot hold"});
    }
    if (last) break;
    carried = static_cast<size_t>(length - used);
    if (carried > kPiece) throw fail(FileError{in, "cannot be converted"});
    std::memmove(buffer.data(), buffer.data() + used, carried);
    offset += static_cast<unsigned long long>(used);
  }
  if (std::fflush(output.get()) != 0) throw fail(FileError{out, std::strerror(errno)});
  FILE* f = output.release();
  if (std::fclose(f) != 0) throw fail(FileError{out, std::strerror(errno)});
}

}  // namespace

int TextCommand(int argc, char** argv, int first) {
  if (first >= argc) throw UsageError{"text needs a subcommand: convert or charsets"};
  const std::string sub = argv[first];
  if (sub == "charsets") {
    if (first + 1 != argc) throw UsageError{"text charsets takes no arguments"};
    return Charsets();
  }
  if (sub != "convert") throw UsageError{"unknown text subcommand " + sub};
  std::string from, to;
  std::vector<std::string> files;
  for (int i = first + 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--from" || a == "--to") {
      if (i + 1 >= argc) throw UsageError{a + " needs a character set"};
      (a == "--from" ? from : to) = argv[++i];
    } else if (a.size() > 1 && a[0] == '-') {
      throw UsageError{"unknown option " + a};
    } else {
      files.push_back(a);
    }
  }
  if (from.empty() || to.empty()) throw UsageError{"text convert needs --from and --to"};
  if (files.size() != 2) throw UsageError{"text convert takes IN and OUT"};
  Convert(from, to, files[0], files[1]);
  return kOk;
}

}  // namespace vtfmt
