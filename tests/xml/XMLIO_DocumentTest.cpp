// Reading: how parser events reach the handler stack, whatever the chunking;
// who deletes which handler; failures. Writing: the output primitives.
#include "xml/XMLIO_Document.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>

#include "support/ScratchDir.h"
#include "support/XmlTrace.h"
#include "xml/XMLIO_StringElement.h"

namespace {

struct RoutingCase {
  const char* xml;
  const char* events;
};

// Text runs arrive whole and before the next tag; a handler that claims its
// child gets no "done" for it but still hears its end; ignored subtrees are
// silent. Names and text hold multi-byte UTF-8, so small steps split them.
const RoutingCase kRouting[] = {
    {"<a>x<b/>y</a>", "a.text(x)a.start(b)b.donea.end(b)a.text(y)a.done"},
    {"<a>long text &amp; more<![CDATA[<raw>]]>tail</a>", "a.text(long text & more<raw>tail)a.done"},
    {"<a><self k='v'>in</self>out</a>", "a.start(self k=v)a.text(in)a.end(self)a.text(out)a.done"},
    {"<a><skip><b>hidden</b><c/></skip>after</a>", "a.start(skip)a.end(skip)a.text(after)a.done"},
    {"<a><!--note-->t</a>", "a.comment(note)a.text(t)a.done"},
    {"<a><c z='1' b='2' b2='&lt;'/></a>", "a.start(c b=2 b2=< z=1)c.donea.end(c)a.done"},
    {"<a><b><self><c/></self></b></a>",
     "a.start(b)b.start(self)b.start(c)c.doneb.end(c)b.end(self)b.donea.end(b)a.done"},
    {"<\xC3\xA4>\xE4\xB8\xAD\xE6\x96\x87<\xE5\x9B\xBE/></\xC3\xA4>",
     "\xC3\xA4.text(\xE4\xB8\xAD\xE6\x96\x87)\xC3\xA4.start(\xE5\x9B\xBE)\xE5\x9B\xBE.done"
     "\xC3\xA4.end(\xE5\x9B\xBE)\xC3\xA4.done"},
};

TEST(XMLIODocument, EventsReachHandlersTheSameWhateverTheReadStep) {
  for (size_t step : {size_t{1}, size_t{3}, size_t{1000}, size_t{1} << 16}) {
    for (const auto& c : kRouting) {
      XmlTrace trace;
      TraceDocument doc(trace);
      ASSERT_TRUE(ParseBytes(doc, c.xml, step)) << c.xml;
      EXPECT_EQ(trace.events, c.events) << c.xml << " step " << step;
      EXPECT_EQ(trace.live, 0) << c.xml;
    }
  }
}

// close() in the middle of a parse, malformed XML and a throwing handler all
// leave no handler behind, also when one handler is on the stack many times.
TEST(XMLIODocument, InterruptedParsesLeaveNothingAllocated) {
  const std::string nested = "<a><b><self><self><c><skip><d>";
  {
    XmlTrace trace;
    TraceDocument doc(trace);
    std::string bytes = nested + "</d></skip></c></self></self></b></a>";
    FILE* stream = fmemopen(&bytes[0], bytes.size(), "r");
    ASSERT_EQ(doc.open(stream, "r"), 0);
    ASSERT_EQ(doc.readDocument(), 0);
    doc.setReadStep(nested.size());
    ASSERT_TRUE(doc.ParseOneBuffer());
    EXPECT_EQ(trace.live, 3);  // a, b, c; skip and d are ignore handlers
    EXPECT_EQ(doc.getDepth(), 8u);
    EXPECT_EQ(doc.close(), 0);
    EXPECT_EQ(trace.live, 0);
    EXPECT_EQ(doc.getMode(), 0);
    std::fclose(stream);
  }
  for (const std::string& bad : {nested + "</x>", nested, std::string("<a><b>&undefined;</b></a>")}) {
    XmlTrace trace;
    TraceDocument doc(trace);
    EXPECT_FALSE(ParseBytes(doc, bad, 1000)) << bad;
    EXPECT_FALSE(doc.errorText().empty());
    EXPECT_EQ(trace.live, 0) << bad;
  }
}

TEST(XMLIODocument, AThrowingHandlerStopsTheParseWithItsMessage) {
  XmlTrace trace;
  TraceDocument doc(trace);
  EXPECT_FALSE(ParseBytes(doc, "<a><b>x<throw/><c/></b></a>", 1000));
  EXPECT_NE(doc.errorText().find("boom"), std::string::npos) << doc.errorText();
  EXPECT_EQ(trace.events, "a.start(b)b.text(x)b.start(throw)");
  EXPECT_EQ(trace.live, 0);
}

TEST(XMLIODocument, OpenAndParseFailuresAreReported) {
  ScratchDir dir;
  XMLIO_Document doc;
  EXPECT_EQ(doc.open(dir / "new.xml", "a"), -1);
  EXPECT_FALSE(dir.Exists("new.xml"));
  EXPECT_EQ(doc.open(dir / "missing.xml", "r"), -1);
  EXPECT_EQ(doc.open(dir / "no/such/dir.xml", "w"), -1);
  EXPECT_EQ(doc.readDocument(), -1);
  EXPECT_FALSE(doc.ParseOneBuffer());

  // An empty file: the first step passes zero bytes as the end.
  dir.Put("empty.xml", "");
  ASSERT_EQ(doc.open(dir / "empty.xml", "r"), 0);
  EXPECT_EQ(doc.getFileName(), dir / "empty.xml");
  ASSERT_EQ(doc.readDocument(), 0);
  EXPECT_FALSE(doc.ParseOneBuffer());
  EXPECT_NE(doc.errorText().find("no element found"), std::string::npos) << doc.errorText();
  EXPECT_FALSE(doc.ParseOneBuffer());
  EXPECT_EQ(doc.close(), 0);
  EXPECT_EQ(doc.getFileName(), "");

  // A bare document ignores the whole file and parses it to the end.
  dir.Put("any.xml", "<r><x>1</x><y/></r>");
  ASSERT_EQ(doc.open(dir / "any.xml", "r"), 0);
  ASSERT_EQ(doc.readDocument(), 0);
  int steps = 0;
  while (doc.ParseOneBuffer()) ++steps;
  EXPECT_EQ(steps, 1);
  EXPECT_EQ(doc.errorText(), "");
}

// A handler that closes the document from inside an event.
class ClosingDocument : public TraceDocument {
 public:
  using TraceDocument::TraceDocument;
  void XMLIO_endTag(const std::string&) override { close(); }
};

TEST(XMLIODocument, CloseFromAHandlerTakesEffectAfterTheStep) {
  XmlTrace trace;
  ClosingDocument doc(trace);
  std::string bytes = "<a><b/></a><!--x-->";
  FILE* stream = fmemopen(&bytes[0], bytes.size(), "r");
  ASSERT_EQ(doc.open(stream, "r"), 0);
  ASSERT_EQ(doc.readDocument(), 0);
  EXPECT_FALSE(doc.ParseOneBuffer());
  EXPECT_EQ(doc.getMode(), 0);
  EXPECT_EQ(trace.live, 0);
  std::fclose(stream);
}

// ----------------------------------------------------------------- writing

class CountingElement : public XMLIO_StringElement {
 public:
  using XMLIO_StringElement::XMLIO_StringElement;
  bool empty = false;
  bool XMLIO_isEmpty() override { return empty; }
  int XMLIO_writeContent(XMLIO_Document& doc) override {
    doc.changeIndent(7);  // content writers may move the indent; writeElement restores it
    return XMLIO_StringElement::XMLIO_writeContent(doc);
  }
};

TEST(XMLIODocument, PrimitivesWriteWhatTheyName) {
  ScratchDir dir;
  XMLIO_Document doc;
  ASSERT_EQ(doc.open(dir / "out.xml", "w"), 0);
  EXPECT_EQ(doc.getMode(), 2);
  doc.setIndent(150);
  EXPECT_EQ(std::string(doc.getIndentText()), std::string(100, ' '));
  doc.setIndent(0);
  EXPECT_EQ(std::string(doc.getIndentText()), "");
  EXPECT_EQ(doc.writeStartTag("root", {}), 6);
  doc.changeIndent(3);
  EXPECT_EQ(doc.writeEndlIndent(), 4);
  EXPECT_EQ(doc.writeEmptyElement("e", {{"b", "1"}, {"a", "x\"y"}}), 18);
  doc.writeEndlIndent();
  EXPECT_EQ(doc.writeCDSect("a]]>b"), 29);
  doc.writeEndlIndent();
  EXPECT_EQ(doc.writeComment("n=%d", 5), 3);
  CountingElement inline_("inline", {{"k", "v"}});
  inline_.value = "t";
  CountingElement indented("ind", {});
  indented.value = "u";
  indented.layoutMode = 2;
  CountingElement empty("emp", {{"z", "1"}});
  empty.empty = true;
  empty.layoutMode = 1;
  EXPECT_EQ(doc.writeElement(inline_), 24);
  EXPECT_EQ(doc.writeElement(indented), 18);
  EXPECT_EQ(doc.getIndentLevel(), 3);
  EXPECT_EQ(doc.writeElement(empty), 15);
  doc.writef("%s", "\n");
  doc.writeEndTag("root");
  EXPECT_EQ(doc.close(), 0);
  EXPECT_EQ(dir.Get("out.xml"),
            "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n"
            "<root>\n"
            "   <e a=\"x\"y\" b=\"1\"/>\n"
            "   <![CDATA[a]]]]><![CDATA[>b]]>\n"
            "   <!--n=5--><inline k=\"v\">t</inline>   <ind>u   </ind>   <emp z=\"1\"/>\n"
            "</root>\n");
}

TEST(XMLIODocument, WrittenDocumentsAreWellFormedAndReadBack) {
  ScratchDir dir;
  const std::string text = "5 < 6 & \"q\" ]]> done";
  {
    XMLIO_Document doc;
    ASSERT_EQ(doc.open(dir / "w.xml", "w"), 0);
    doc.writeStartTag("r", {{"id", "7"}});
    doc.writeCDSect(text);
    doc.writeComment(" %s ", "c");
    doc.writeEmptyElement("e");
    doc.writeEndTag("r");
    ASSERT_EQ(doc.close(), 0);
  }
  std::string command = "xmllint --noout '" + (dir / "w.xml") + "' 2>&1";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  XmlTrace trace;
  TraceDocument reader(trace);
  ASSERT_EQ(reader.open(dir / "w.xml", "r"), 0);
  ASSERT_EQ(reader.readDocument(), 0);
  while (reader.ParseOneBuffer()) {
  }
  // A comment is delivered at once; the text before it waits for the next tag.
  EXPECT_EQ(trace.events, "r.comment( c )r.text(" + text + ")r.start(e)e.doner.end(e)r.done");
}

TEST(XMLIODocument, AWriteFailureIsReportedAtClose) {
  XMLIO_Document doc;
  FILE* full = std::fopen("/dev/full", "w");
  if (!full) GTEST_SKIP() << "no /dev/full";
  ASSERT_EQ(doc.open(full, "w"), 0);
  doc.writeStartTag("r");
  EXPECT_LT(doc.close(), 0);
  std::fclose(full);
}

}  // namespace
