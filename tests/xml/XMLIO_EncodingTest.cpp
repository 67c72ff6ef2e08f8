// Documents in every encoding a GIS exchange meets: handlers receive the
// text iconv makes of the same bytes (UTF-8 for the encodings expat decodes,
// the document's own encoding for the others), and the process locale is
// never touched.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>

#include "support/ScratchDir.h"
#include "support/XmlTrace.h"
#include "xml/XMLIO_Encoding.h"

namespace {

// `bytes` converted by the iconv command.
std::string IconvCommand(const ScratchDir& dir, const std::string& bytes, const std::string& from,
                         const std::string& to) {
  dir.Put("in", bytes);
  std::string command = "iconv -f '" + from + "' -t '" + to + "' '" + (dir / "in") + "' > '" + (dir / "out") + "'";
  if (std::system(command.c_str()) != 0) throw std::runtime_error("failed: " + command);
  return dir.Get("out");
}

struct EncodingCase {
  const char* declared;
  bool decodedByExpat;  // delivered as UTF-8
  const char* text;     // UTF-8, every character in the encoding
};

const EncodingCase kEncodings[] = {
    {"UTF-8", true, "\xE4\xB8\xAD\xE6\x96\x87 \xD0\x9F\xD1\x80\xD0\xB8"},
    {"UTF-16", true, "\xE4\xB8\xAD\xE6\x96\x87 \xD0\x9F\xD1\x80\xD0\xB8"},
    {"ISO-8859-1", true, "Gr\xC3\xBC\xC3\x9F" "e \xC3\xA9t\xC3\xA9"},
    {"GB2312", false, "\xE4\xB8\xAD\xE6\x96\x87\xE6\xB5\x8B\xE8\xAF\x95 \xE5\x9C\xB0\xE5\x9B\xBE"},
    {"Big5", false, "\xE4\xB8\xAD\xE6\x96\x87\xE6\xB8\xAC\xE8\xA9\xA6 \xE5\x9C\xB0\xE5\x9C\x96"},
    {"Shift_JIS", false, "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E \xE3\x83\x86\xE3\x82\xAD\xE3\x82\xB9\xE3\x83\x88"},
    {"windows-1251", false, "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 \xD0\xBC\xD0\xB8\xD1\x80"},
    {"EUC-JP", false, "\xE6\x97\xA5\xE6\x9C\xAC \xEF\xBD\xB6"},  // a half-width kana takes two bytes
};

TEST(XMLIOEncoding, HandlersReceiveWhatIconvMakesOfTheSameBytes) {
  ScratchDir dir;
  const std::string before = std::setlocale(LC_ALL, nullptr);
  for (const auto& c : kEncodings) {
    const std::string text = c.text;
    const std::string tag = text.substr(0, text.find(' '));
    const std::string utf8 = std::string("<?xml version=\"1.0\" encoding=\"") + c.declared + "\"?>\n<doc><" + tag +
                             " k=\"" + text + "\">" + text + "</" + tag + "></doc>";
    // The file carries the document in its declared encoding.
    const std::string file = IconvCommand(dir, utf8, "UTF-8", c.declared);
    const std::string delivered =
        c.decodedByExpat ? text : IconvCommand(dir, IconvCommand(dir, text, "UTF-8", c.declared), c.declared,
                                               XMLIO_iconvName(c.declared));
    const std::string name = delivered.substr(0, delivered.find(' '));
    const std::string expected = "doc.start(" + name + " k=" + delivered + ")" + name + ".text(" + delivered + ")" +
                                 name + ".donedoc.end(" + name + ")doc.done";
    for (size_t step : {size_t{1}, size_t{1000}}) {
      XmlTrace trace;
      TraceDocument doc(trace);
      ASSERT_TRUE(ParseBytes(doc, file, step)) << c.declared << ": " << doc.errorText();
      EXPECT_EQ(trace.events, expected) << c.declared << " step " << step;
    }
    EXPECT_EQ(std::setlocale(LC_ALL, nullptr), before);
  }
}

// A run of text or an attribute value longer than any fixed buffer arrives
// whole, in the document's encoding.
TEST(XMLIOEncoding, LongRunsArriveWhole) {
  ScratchDir dir;
  std::string gb;  // "地图" in GB2312, 50,000 times: 200,000 bytes
  for (int i = 0; i < 50000; ++i) gb += "\xB5\xD8\xCD\xBC";
  const std::string file = "<?xml version=\"1.0\" encoding=\"GB2312\"?><r a=\"" + gb + "\"><x/>" + gb + "</r>";
  XmlTrace trace;
  TraceDocument doc(trace);
  ASSERT_TRUE(ParseBytes(doc, file, 1000)) << doc.errorText();
  EXPECT_EQ(trace.events, "r.start(x)x.doner.end(x)r.text(" + gb + ")r.done");
}

struct FailureCase {
  const char* xml;
  const char* error;
};

TEST(XMLIOEncoding, EncodingsThatCannotBeDecodedFailTheParse) {
  const FailureCase cases[] = {
      // iconv does not know it.
      {"<?xml version=\"1.0\" encoding=\"x-no-such-charset\"?><r/>", "unknown encoding"},
      // iconv knows it, but ASCII is not ASCII in it, so expat cannot use it.
      {"<?xml version=\"1.0\" encoding=\"IBM037\"?><r/>", "unknown encoding"},
      // Bytes that are not a character of the declared encoding.
      {"<?xml version=\"1.0\" encoding=\"GB2312\"?><r>\xB5</r>", "not well-formed"},
      // Four-byte GB18030 characters are beyond what expat can be told:
      // refused, not misread.
      {"<?xml version=\"1.0\" encoding=\"GB18030\"?><r>\x81\x30\x81\x30</r>", "not well-formed"},
  };
  for (const auto& c : cases) {
    XmlTrace trace;
    TraceDocument doc(trace);
    EXPECT_FALSE(ParseBytes(doc, c.xml, 1000)) << c.xml;
    EXPECT_NE(doc.errorText().find(c.error), std::string::npos) << c.xml << ": " << doc.errorText();
    EXPECT_EQ(trace.live, 0);
  }
}

// A character reference the document's encoding cannot hold becomes "?",
// and the text after it is still delivered.
TEST(XMLIOEncoding, UnrepresentableCharacterReferencesDoNotCutTheText) {
  XmlTrace trace;
  TraceDocument doc(trace);
  ASSERT_TRUE(ParseBytes(doc, "<?xml version=\"1.0\" encoding=\"windows-1251\"?><r>\xDF&#x4E2D;\xDF</r>", 1000));
  EXPECT_EQ(trace.events, "r.text(\xDF?\xDF)r.done");
}

TEST(XMLIOEncoding, AForeignEncodingLeavesAHostsCommaLocaleAlone) {
  const std::string saved = std::setlocale(LC_ALL, nullptr);
  if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) GTEST_SKIP() << "no de_DE.UTF-8 locale";
  XmlTrace trace;
  TraceDocument doc(trace);
  EXPECT_TRUE(ParseBytes(doc, "<?xml version=\"1.0\" encoding=\"GB2312\"?><r>\xB5\xD8</r>", 1000));
  EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "de_DE.UTF-8");
  std::setlocale(LC_ALL, saved.c_str());
}

}  // namespace
