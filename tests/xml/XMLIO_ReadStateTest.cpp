// What a document keeps from one element, or one document, to the next while
// reading: stored names, the reused attribute store and the gathered text
// must never carry anything over.
#include <gtest/gtest.h>

#include <string>

#include "support/XmlTrace.h"
#include "xml/XMLIO_Attributes.h"
#include "xml/XMLIO_NameTable.h"
#include "xml/XMLIO_StringElement.h"

namespace {

std::string Trace(const std::string& bytes, size_t step) {
  XmlTrace trace;
  TraceDocument doc(trace);
  EXPECT_TRUE(ParseBytes(doc, bytes, step)) << bytes.substr(0, 200);
  EXPECT_EQ(trace.live, 0);
  return trace.events;
}

// Names are stored per document: the same bytes from expat stand for other
// bytes once a document in a foreign encoding is read, and back again.
TEST(XMLIOReadState, ANameMeansWhatItsOwnDocumentSays) {
  const std::string utf8Name = "\xE4\xB8\xAD";  // one Chinese character
  const std::string gbName = "\xD6\xD0";        // the same in GB2312 (and GB18030)
  const std::string utf8Doc = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><r><" + utf8Name + " " + utf8Name +
                              "=\"1\"/></r>";
  const std::string gbDoc = "<?xml version=\"1.0\" encoding=\"GB2312\"?><r><" + gbName + " " + gbName + "=\"1\"/></r>";
  auto expected = [](const std::string& name) {
    return "r.start(" + name + " " + name + "=1)" + name + ".doner.end(" + name + ")r.done";
  };
  XmlTrace trace;
  TraceDocument doc(trace);
  for (const std::string* bytes : {&utf8Doc, &gbDoc, &utf8Doc, &gbDoc}) {
    trace.events.clear();
    ASSERT_TRUE(ParseBytes(doc, *bytes, 1000));
    EXPECT_EQ(trace.events, expected(bytes == &utf8Doc ? utf8Name : gbName)) << (bytes == &utf8Doc ? "UTF-8" : "GB2312");
  }
}

// Beyond the table's capacity names are decoded per element; every element
// still gets its own name at its start and at its end, at any depth.
TEST(XMLIOReadState, NamesBeyondTheTableStillMatchTheirEnds) {
  XMLIO_Transcoder none;
  XMLIO_NameTable small(2);
  const std::string* a = small.intern("a", none);
  const std::string* b = small.intern("b", none);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(small.intern("c", none), nullptr);
  EXPECT_EQ(small.intern("a", none), a);
  EXPECT_EQ(*a, "a");
  small.clear();
  EXPECT_EQ(small.size(), 0u);

  std::string doc = "<r>", expected;
  const size_t count = XMLIO_NameTable::kDefaultCapacity + 50;
  for (size_t i = 0; i < count; ++i) {
    const std::string outer = "o" + std::to_string(i), inner = "i" + std::to_string(i);
    doc += "<" + outer + "><self" + inner + "/></" + outer + ">";
    if (i >= XMLIO_NameTable::kDefaultCapacity - 2)
      expected += "r.start(" + outer + ")" + outer + ".start(self" + inner + ")" + outer + ".end(self" + inner +
                  ")" + outer + ".doner.end(" + outer + ")";
  }
  doc += "</r>";
  const std::string events = Trace(doc, 1000);
  ASSERT_GT(events.size(), expected.size());
  EXPECT_EQ(events.substr(events.size() - expected.size() - 6), expected + "r.done");
}

// One store serves every element: each handler sees exactly its element's
// attributes, in name order, whatever the element before it had.
TEST(XMLIOReadState, EachElementSeesOnlyItsOwnAttributes) {
  std::string many = "<m";
  std::string manySorted;
  for (int i = 40; i >= 1; --i) many += " k" + std::to_string(100 + i) + "=\"" + std::to_string(i) + "\"";
  for (int i = 1; i <= 40; ++i) manySorted += " k" + std::to_string(100 + i) + "=" + std::to_string(i);
  many += "/>";
  const std::string doc = "<r><a z=\"3\" y=\"2\" x=\"1\"/><b q=\"\"/><c/>" + many +
                          "<d b=\"long value that does not fit a short string\" a=\"2\"/><e/></r>";
  const std::string events = Trace(doc, 7);
  EXPECT_NE(events.find("r.start(a x=1 y=2 z=3)"), std::string::npos) << events;
  EXPECT_NE(events.find("r.start(b q=)"), std::string::npos) << events;
  EXPECT_NE(events.find("r.start(c)"), std::string::npos) << events;
  EXPECT_NE(events.find("r.start(m" + manySorted + ")"), std::string::npos) << events;
  EXPECT_NE(events.find("r.start(d a=2 b=long value that does not fit a short string)"), std::string::npos) << events;
  EXPECT_NE(events.find("r.start(e)"), std::string::npos) << events;
}

// The store read and built as a map is built: sorted, each name once.
TEST(XMLIOReadState, TheAttributeStoreActsAsAMap) {
  XMLIO_Attributes attrs{{"b", "1"}, {"a", "2"}, {"b", "ignored"}};
  ASSERT_EQ(attrs.size(), 2u);
  EXPECT_EQ(attrs.begin()->first, "a");
  EXPECT_EQ(attrs.at("b"), "1");
  attrs["c"] = "3";
  attrs["0"] = "4";
  EXPECT_TRUE(attrs.insert({"a", "x"}).second == false);
  std::string order;
  for (const auto& kv : attrs) order += kv.first + kv.second;
  EXPECT_EQ(order, "04a2b1c3");
  EXPECT_EQ(attrs.erase("a"), 1u);
  EXPECT_EQ(attrs.erase("a"), 0u);
  EXPECT_EQ(attrs.find("a"), attrs.end());
  EXPECT_THROW(attrs.at("a"), std::out_of_range);
  // Erased and cleared entries are spares: copies and comparisons ignore them.
  XMLIO_Attributes copy = attrs;
  EXPECT_EQ(copy, attrs);
  EXPECT_EQ(copy.size(), 3u);
  attrs.clear();
  EXPECT_TRUE(attrs.empty());
  EXPECT_NE(copy, attrs);
  attrs["z"];
  EXPECT_EQ(attrs.size(), 1u);
  EXPECT_EQ(attrs.at("z"), "");
  copy = attrs;
  EXPECT_EQ(copy.size(), 1u);
  EXPECT_EQ(copy.begin()->first, "z");
}

// Handles children but leaves text to the default hook.
class Quiet : public XMLIO_Element {
 public:
  explicit Quiet(XmlTrace& trace) : trace_(trace) {}
  XMLIO_Element* XMLIO_startTag(const std::string& tag, const XMLIO_Attributes&) override {
    if (tag == "loud") return new TraceHandler(trace_, "loud");
    if (tag == "str") return &str;
    return this;
  }
  XMLIO_StringElement str;

 private:
  XmlTrace& trace_;
};

// Takes text only through the class it derives from.
class Derived : public TraceHandler {
 public:
  using TraceHandler::TraceHandler;
};

class MixedDocument : public XMLIO_Document {
 public:
  explicit MixedDocument(XmlTrace& trace) : quiet(trace), trace_(trace) {}
  XMLIO_Element* XMLIO_startTag(const std::string& tag, const XMLIO_Attributes&) override {
    if (tag == "derived") return new Derived(trace_, "derived");
    return &quiet;
  }
  Quiet quiet;

 private:
  XmlTrace& trace_;
};

// Text is gathered only for handlers that take it, and reaches those whole
// and alone, however the input is cut into buffers.
TEST(XMLIOReadState, TextReachesEveryHandlerThatTakesItWhole) {
  std::string longText(3000, 'x');
  longText[0] = 'A';
  longText[2999] = 'Z';
  const std::string doc = "<q>dropped<loud>one &amp; " + longText + "</loud>dropped<str>two " + longText +
                          "</str><self>dropped</self>tail</q>";
  for (size_t step : {size_t{1}, size_t{13}, size_t{1000}, size_t{65536}}) {
    XmlTrace trace;
    MixedDocument mixed(trace);
    ASSERT_TRUE(ParseBytes(mixed, doc, step));
    EXPECT_EQ(trace.events, "loud.text(one & " + longText + ")loud.done") << step;
    EXPECT_EQ(mixed.quiet.str.value, "two " + longText) << step;
  }
  for (size_t step : {size_t{1}, size_t{1000}}) {
    XmlTrace trace;
    MixedDocument mixed(trace);
    ASSERT_TRUE(ParseBytes(mixed, "<derived>a<selfb>b</selfb>c " + longText + "</derived>", step));
    EXPECT_EQ(trace.events, "derived.text(a)derived.start(selfb)derived.text(b)derived.end(selfb)derived.text(c " +
                                longText + ")derived.done")
        << step;
  }
}

}  // namespace
