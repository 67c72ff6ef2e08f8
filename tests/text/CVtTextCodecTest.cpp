// The codec beside the iconv command on the same bytes: every character
// set of the platform's enumeration both ways through UCS-2LE, failures
// where iconv fails, stateful encodings that start fresh in every call.
#include "text/CVtTextCodec.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/ScopedEnv.h"
#include "support/ScratchDir.h"

namespace {

using Codec = CVtTextCodec;

struct IconvResult {
  bool ok;
  std::string out;
};

// The iconv command on `bytes`; -c drops what the target cannot hold.
IconvResult Iconv(const ScratchDir& dir, const std::string& bytes, const std::string& from, const std::string& to,
                  bool dropUnmappable = false) {
  dir.Put("in", bytes);
  const std::string command = std::string("iconv ") + (dropUnmappable ? "-c " : "") + "-f '" + from + "' -t '" +
                              to + "' '" + (dir / "in") + "' > '" + (dir / "out") + "' 2>/dev/null";
  const int status = std::system(command.c_str());
  return {WIFEXITED(status) && WEXITSTATUS(status) == 0, dir.Get("out")};
}

std::string Bytes(const CString& s) { return s.str(); }

// Every character of the Basic Multilingual Plane but NUL and the
// surrogates, in UCS-2LE.
std::string AllOfTheBmp() {
  std::string text;
  for (unsigned c = 1; c <= 0xFFFD; ++c)
    if (c < 0xD800 || c > 0xDFFF) text += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
  return text;
}

const Codec::Charset kTable[] = {
    Codec::CharsetAnsi,    Codec::CharsetDefault, Codec::CharsetMac,        Codec::CharsetShiftJIS,
    Codec::CharsetHangeul, Codec::CharsetJohab,   Codec::CharsetGB2312,     Codec::CharsetChineseBig5,
    Codec::CharsetGreek,   Codec::CharsetTurkish, Codec::CharsetVietnamese, Codec::CharsetHebrew,
    Codec::CharsetArabic,  Codec::CharsetBaltic,  Codec::CharsetRussian,    Codec::CharsetThai,
    Codec::CharsetEastEurope, Codec::CharsetOEM,  Codec::CharsetUTF8,       Codec::CharsetUCS2LE,
    Codec::CharsetUCS2BE,
};

// Each set's every character (as iconv writes it) to UCS-2LE and back, by
// both forms, gives iconv's bytes.
TEST(CVtTextCodec, EveryCharsetMatchesIconvBothWaysThroughUcs2) {
  ScratchDir dir;
  const std::string bmp = AllOfTheBmp();
  for (Codec::Charset charset : kTable) {
    const std::string name = Bytes(Codec::GetCharsetName(charset));
    SCOPED_TRACE(name);
    const std::string text = Iconv(dir, bmp, "UCS-2LE", name, true).out;
    ASSERT_GT(text.size(), 100u);
    const IconvResult ucs = Iconv(dir, text, name, "UCS-2LE");
    ASSERT_TRUE(ucs.ok);

    Codec decode(Codec::CharsetUCS2LE, charset);
    CString out("sentinel");
    ASSERT_TRUE(decode.Convert(out, text.data(), static_cast<int>(text.size())));
    EXPECT_TRUE(Bytes(out) == ucs.out) << out.GetLength() << " bytes, iconv " << ucs.out.size();

    const IconvResult back = Iconv(dir, ucs.out, "UCS-2LE", name);
    ASSERT_TRUE(back.ok);
    Codec encode(charset, Codec::CharsetUCS2LE);
    ASSERT_TRUE(encode.Convert(out, ucs.out.data(), static_cast<int>(ucs.out.size())));
    EXPECT_TRUE(Bytes(out) == back.out) << out.GetLength() << " bytes, iconv " << back.out.size();
    // The string form serves the targets without zero bytes.
    if (charset != Codec::CharsetUCS2LE && charset != Codec::CharsetUCS2BE) {
      EXPECT_TRUE(Bytes(encode.Convert(CString(ucs.out))) == back.out);
    }
  }
}

struct BadInput {
  const char* from;
  const char* to;
  std::string bytes;
};

// Invalid, cut-short and unmappable input fails where iconv fails; the
// byte form leaves `out` alone, the string form is empty, and the next
// call on the same codec converts as iconv does, not from the state the
// failure left.
TEST(CVtTextCodec, InputIconvRejectsFailsAndTheNextCallIsClean) {
  const BadInput cases[] = {
      {"UTF-8", "UCS-2LE", "ab\xC3"},
      {"UTF-8", "UCS-2LE", "a\xFF" "b"},
      {"UTF-8", "UCS-2LE", "\xED\xA0\x80"},
      {"UTF-8", "UCS-2LE", "\xF0\x9F\x98\x80"},  // beyond UCS-2
      {"GB18030", "UTF-8", "\xD6\xD0\x81"},
      {"GB18030", "UTF-8", "\x81\x30\x81"},
      {"GB18030", "UTF-8", "\x81\x7F"},
      {"SHIFT_JIS", "UCS-2LE", "a\x82"},
      {"BIG5", "UCS-2LE", "\xA4"},
      {"CP949", "UCS-2LE", "\xB0"},
      {"UCS-2LE", "UTF-8", std::string("a\0b", 3)},
      {"UCS-2LE", "UTF-8", std::string("\x00\xD8", 2)},
      {"UCS-2LE", "CP1252", std::string("a\0\x2D\x4E", 4)},
      {"UCS-2LE", "Greek", std::string("\x16\x04", 2)},
      {"CP1252", "UTF-8", "ab\x81"},
      {"Greek", "UTF-8", "\xFF"},
      {"Hebrew", "UTF-8", "\xA1"},
      {"Arabic", "UTF-8", "\xA1"},
      {"CP874", "UTF-8", "\xDB"},
      {"CP1258", "UTF-8", "ab\x81"},  // 'b' waits for a combining mark
      // The failure leaves these in a shifted state.
      {"UTF-8", "ISO-2022-JP", "\xE6\x97\xA5\xE6\x9C\xAC\xFF"},
      {"ISO-2022-JP", "UTF-8", "\x1B$BF|\xFF"},
      {"UTF-8", "UTF-7", "\xC3\xA9\xFF"},
  };
  ScratchDir dir;
  for (const BadInput& c : cases) {
    SCOPED_TRACE(std::string(c.from) + " -> " + c.to + " of " + std::to_string(c.bytes.size()) + " bytes");
    ASSERT_FALSE(Iconv(dir, c.bytes, c.from, c.to).ok);
    Codec codec;
    ASSERT_TRUE(codec.Open(c.to, c.from));
    CString out("unchanged");
    EXPECT_FALSE(codec.Convert(out, c.bytes.data(), static_cast<int>(c.bytes.size())));
    EXPECT_EQ(out, "unchanged");
    EXPECT_TRUE(codec.Convert(CString(c.bytes)).IsEmpty());
    const std::string good = std::string(c.from).compare(0, 5, "UCS-2") == 0 ? std::string("c\0d\0", 4) : "cd";
    ASSERT_TRUE(codec.Convert(out, good.data(), static_cast<int>(good.size())));
    EXPECT_TRUE(Bytes(out) == Iconv(dir, good, c.from, c.to).out);
  }
}

// Texts converted one after another on one codec come out as iconv makes
// each on its own: a byte-order mark read in one text does not set the
// byte order of the next, no input gives no output (not even the header an
// encoder starts with), every text ends flushed, and output longer than
// five times the input comes out whole.
TEST(CVtTextCodec, EachTextConvertsAsIfItWereTheFirst) {
  struct Sequence {
    const char* from;
    const char* to;
    std::vector<std::string> texts;
  };
  const Sequence sequences[] = {
      {"UTF-16", "UTF-8", {std::string("\xFE\xFF\x00\x41", 4), std::string("\x41\x00", 2), std::string("\xFF\xFE\x42\x00", 4)}},
      {"UTF-32", "UTF-8", {std::string("\x00\x00\xFE\xFF\x00\x00\x00\x41", 8), std::string("\x41\x00\x00\x00", 4)}},
      {"UTF-8", "ISO-2022-KR", {"", "a", "", "\xED\x95\x9C"}},
      {"UTF-8", "UTF-16", {"a", "", "b"}},
      {"UTF-8", "ISO-2022-JP", {"\xE6\x97\xA5\xE6\x9C\xAC", "a"}},  // ends shifted back
      {"CP1258", "UTF-8", {"abc"}},                                     // the pending 'c' comes out
      {"CP1252", "UTF-32", {"a", "ab", "abc", "abcdefgh"}},              // beyond five bytes a byte
  };
  ScratchDir dir;
  for (const Sequence& sequence : sequences) {
    Codec codec;
    ASSERT_TRUE(codec.Open(sequence.to, sequence.from));
    for (const std::string& text : sequence.texts) {
      const IconvResult expected = Iconv(dir, text, sequence.from, sequence.to);
      CString out;
      EXPECT_EQ(codec.Convert(out, text.data(), static_cast<int>(text.size())), expected.ok);
      EXPECT_TRUE(Bytes(out) == expected.out) << sequence.from << " -> " << sequence.to << " of " << text.size() << " bytes";
    }
  }
}

TEST(CVtTextCodec, NamesAndTheTwoFormsOnPlainCases) {
  EXPECT_EQ(Codec::GetCharsetName(Codec::CharsetAnsi), "CP1252");
  EXPECT_EQ(Codec::GetCharsetName(Codec::CharsetDefault), "CP1252");
  EXPECT_EQ(Codec::GetCharsetName(static_cast<Codec::Charset>(2)), "CP1252");
  EXPECT_EQ(Codec::GetCharsetName(Codec::CharsetOEM), Codec::GetCharsetName(Codec::CharsetMac));
  EXPECT_EQ(Codec::GetCharsetName(Codec::CharsetGB2312), "GB18030");
  // Every value's name opens in iconv.
  std::vector<int> values = {65536, 65537, 65538, 65539, -1};
  for (int value = 0; value < 256; ++value) values.push_back(value);
  for (int value : values) {
    Codec codec;
    EXPECT_TRUE(codec.Open(static_cast<Codec::Charset>(value), Codec::CharsetUCS2LE)) << value;
  }

  Codec codec(Codec::CharsetUCS2LE, Codec::CharsetAnsi);
  CString out;
  ASSERT_TRUE(codec.Convert(out, "abc", 3));
  EXPECT_TRUE(Bytes(out) == std::string("a\0b\0c\0", 6));
  EXPECT_EQ(codec.Convert(CString("abc")), "a");  // cut at the first zero byte
  ASSERT_TRUE(codec.Convert(out, "", 0));
  EXPECT_TRUE(out.IsEmpty());
  EXPECT_FALSE(codec.Convert(out, "abc", -1));

  codec.Close();
  out = "unchanged";
  EXPECT_FALSE(codec.Convert(out, "abc", 3));
  EXPECT_EQ(out, "unchanged");
  EXPECT_TRUE(codec.Convert(CString("abc")).IsEmpty());
  EXPECT_FALSE(codec.Open("no-such-charset", "UTF-8"));
  EXPECT_FALSE(codec.IsOpen());
}

// Copies own their descriptors: closing or destroying one leaves the other
// working, and no descriptor is closed twice.
TEST(CVtTextCodec, CopiesConvertOnTheirOwn) {
  auto original = std::make_unique<Codec>(Codec::CharsetUTF8, Codec::CharsetAnsi);
  Codec copy(*original);
  Codec assigned;
  assigned = *original;
  original->Close();
  original.reset();
  EXPECT_EQ(copy.Convert(CString("\xE9")), "\xC3\xA9");
  EXPECT_EQ(assigned.Convert(CString("\xE9")), "\xC3\xA9");
  assigned = Codec();
  EXPECT_FALSE(assigned.IsOpen());
  EXPECT_TRUE(copy.IsOpen());
}

struct CodePage {
  const char* locale;
  int charset;       // GetCurCharset
  const char* name;  // what GetDefault converts to and from
};

// The system's character set follows the code page, and the shared codecs
// convert between it (GB18030 for sets they do not serve) and UCS-2LE.
TEST(CVtTextCodec, SystemCharsetAndSharedCodecs) {
  const CodePage pages[] = {
      {"C", 1, "GB18030"},           {"en_US.CP1252", 1, "GB18030"}, {"en_US.UTF-8", 1, "GB18030"},
      {"zh_CN.GBK", 134, "GB18030"}, {"zh_TW.BIG5", 136, "BIG5"},    {"ja_JP.SJIS", 128, "SHIFT_JIS"},
      {"ko_KR.EUC-KR", 1, "GB18030"}, {"th_TH.TIS-620", 222, "CP874"}, {"pl_PL.CP1250", 238, "CP1250"},
      {"ru_RU.CP1251", 1, "GB18030"}, {"el_GR.CP1253", 161, "Greek"}, {"tr_TR.CP1254", 162, "CP1254"},
      {"he_IL.CP1255", 177, "Hebrew"}, {"ar_SA.CP1256", 178, "Arabic"}, {"lt_LT.CP1257", 186, "CP1257"},
      {"vi_VN.CP1258", 1, "GB18030"},
  };
  ScratchDir dir;
  const std::string sample = "a\xC3\xA9\xD7\x90\xD8\xB9\xCE\xB1\xE0\xB8\x81\xE4\xB8\xAD\xE3\x81\x82";
  std::set<Codec*> seen;
  for (const CodePage& page : pages) {
    SCOPED_TRACE(page.locale);
    ScopedEnv env("LC_ALL", page.locale);
    EXPECT_EQ(Codec::GetCurCharset(), page.charset);
    Codec& from = Codec::GetDefault(true);
    Codec& to = Codec::GetDefault(false);
    EXPECT_EQ(&from, &Codec::GetDefault(true));
    EXPECT_NE(&from, &to);
    seen.insert(&from);
    seen.insert(&to);
    const std::string local = Iconv(dir, sample, "UTF-8", page.name, true).out;
    const std::string ucs = Iconv(dir, local, page.name, "UCS-2LE").out;
    CString out;
    ASSERT_TRUE(to.Convert(out, local.data(), static_cast<int>(local.size())));
    EXPECT_TRUE(Bytes(out) == ucs);
    ASSERT_TRUE(from.Convert(out, ucs.data(), static_cast<int>(ucs.size())));
    EXPECT_TRUE(Bytes(out) == local);
  }
  EXPECT_EQ(seen.size(), 2u * 10);  // ten distinct sets above
}

TEST(CVtTextCodec, SharedCodecsAreMadeOnceWhenThreadsAskTogether) {
  ScopedEnv env("LC_ALL", "ar_SA.CP1256");
  std::vector<Codec*> got(16);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < got.size(); ++i)
    threads.emplace_back([&got, i] { got[i] = &Codec::GetDefault(i % 2 == 0); });
  for (auto& t : threads) t.join();
  for (size_t i = 2; i < got.size(); ++i) EXPECT_EQ(got[i], got[i % 2]);
  EXPECT_TRUE(got[0]->IsOpen() && got[1]->IsOpen());
}

}  // namespace
