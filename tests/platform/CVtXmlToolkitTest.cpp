#include "platform/vtcore/CVtXmlToolkit.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>

#include "platform/vtcore/VtNumber.h"
#include "support/XmlTrace.h"

namespace {

struct Counted {
  explicit Counted(int& live) : live_(live) { ++live_; }
  virtual ~Counted() { --live_; }
  int& live_;
};

TEST(CVtXmlToolkit, DeleteArrayDeletesOwnedElementsAndEmptiesTheArray) {
  int live = 0;
  CArray<Counted*, Counted*> array;
  CVtXmlToolkit::DeleteArray(array);
  EXPECT_EQ(array.GetSize(), 0);
  array.SetSize(0, 7);
  array.Add(new Counted(live));
  array.Add(nullptr);
  array.Add(new Counted(live));
  CVtXmlToolkit::DeleteArray(array);
  EXPECT_EQ(live, 0);
  EXPECT_EQ(array.GetSize(), 0);
  EXPECT_EQ(array.GetAllocSize(), 0);
  EXPECT_EQ(array.GetData(), nullptr);
  // Still usable, growing by the step it had.
  array.Add(new Counted(live));
  array.Add(new Counted(live));
  EXPECT_EQ(array.GetAllocSize(), 1 + 7);
  CVtXmlToolkit::DeleteArray(array);
  EXPECT_EQ(live, 0);
}

TEST(CVtXmlToolkit, InRangeAcceptsLowToHighMinusOne) {
  struct {
    int value, low, high;
    bool in;
  } cases[] = {{0, 0, 5, true}, {4, 0, 5, true}, {5, 0, 5, false}, {-1, 0, 5, false}, {0, 0, 0, false}, {3, 0, 3, false}};
  for (const auto& c : cases) EXPECT_EQ(CVtXmlToolkit::InRange(c.value, c.low, c.high), c.in) << c.value;
}

TEST(CVtXmlToolkit, ToInt32ReadsTheLeadingInteger) {
  struct {
    const char* text;
    int value;
  } cases[] = {{"42", 42},           {"  -17 ", -17},        {"+8x", 8},
               {"", 0},              {"abc", 0},             {"2147483647", 2147483647},
               {"2147483648", INT32_MAX}, {"-2147483648", INT32_MIN}, {"-99999999999999999999", INT32_MIN},
               {"3.9", 3}};
  for (const auto& c : cases) EXPECT_EQ(CVtXmlToolkit::ToInt32(c.text), c.value) << c.text;
}

TEST(CVtXmlToolkit, ToStringGivesEveryFieldTypeItsTextUnderAnyLocale) {
  const std::string saved = std::setlocale(LC_ALL, nullptr);
  std::setlocale(LC_ALL, "de_DE.UTF-8");  // a comma-decimal host changes nothing
  struct {
    COleVariant value;
    const char* text;
  } cases[] = {
      {COleVariant(), ""},
      {COleVariant::Null(), ""},
      {COleVariant(int16_t{-12}), "-12"},
      {COleVariant(int32_t{123456789}), "123456789"},
      {COleVariant(int64_t{-9000000000}), "-9000000000"},
      {COleVariant(uint8_t{200}), "200"},
      {COleVariant(0.1), "0.1"},
      {COleVariant(-2.5e-7), "-2.5e-07"},
      {COleVariant(1.5f), "1.5"},
      {COleVariant(std::numeric_limits<double>::quiet_NaN()), "NaN"},
      {COleVariant(-std::numeric_limits<double>::infinity()), "-INF"},
      {COleVariant::Currency(123450000), "12345"},
      {COleVariant::Currency(-12345), "-1.2345"},
      {COleVariant::Currency(5000), "0.5"},
      {COleVariant::Date(0.0), "1899-12-30"},
      {COleVariant::Date(45000.75), "2023-03-15T18:00:00"},
      {COleVariant::Date(-1.25), "1899-12-29T06:00:00"},
      {COleVariant(true), "true"},
      {COleVariant(int16_t{0}, VT_BOOL), "false"},
      {COleVariant("a & <b>"), "a & <b>"},
  };
  for (const auto& c : cases) EXPECT_EQ(CVtXmlToolkit::ToString(c.value).str(), c.text) << c.text;
  std::setlocale(LC_ALL, saved.c_str());
}

TEST(CVtXmlToolkit, CoordinatesArePlainDecimalsThatReadBackExactly) {
  struct {
    double value;
    const char* text;
  } cases[] = {{500000, "500000"}, {0.1, "0.1"}, {-4649776.0625, "-4649776.0625"}, {0.0001, "0.0001"},
               {2.5e-7, "2.5e-07"}, {1e-300, "1e-300"}, {1e15, "1e+15"}, {0, "0"}, {0.30000000000000004, "0.30000000000000004"}};
  for (const auto& c : cases) EXPECT_EQ(vtnum::Coordinate(c.value), c.text) << c.text;
}

// Every character-set code gets a declaration that a reader can decode, and
// the bounds envelope is well-formed XML.
TEST(CVtXmlToolkit, DeclarationsAndEnvelopeParse) {
  const int codes[] = {0, 1, 77, 128, 129, 130, 134, 136, 161, 162, 163, 177, 178, 186, 204, 222, 238, 255, 65536, 99};
  const CString envelope = CVtXmlToolkit::BoundsToGML3(CRect2D(-120.5, 45.25, -100, 30), 1);
  EXPECT_EQ(envelope.str(),
            "   <gml:boundedBy><gml:Envelope><gml:lowerCorner>-120.5 30</gml:lowerCorner>"
            "<gml:upperCorner>-100 45.25</gml:upperCorner></gml:Envelope></gml:boundedBy>\n");
  for (int code : codes) {
    std::string doc = CVtXmlToolkit::GetXmlHeader(code).str() +
                      "<r xmlns:gml=\"http://www.opengis.net/gml\"><selfx/>" + envelope.str() + "</r>";
    XmlTrace trace;
    TraceDocument reader(trace);
    EXPECT_TRUE(ParseBytes(reader, doc, 1000)) << code << ": " << doc;
    EXPECT_EQ(trace.live, 0);
  }
  EXPECT_EQ(CVtXmlToolkit::GetXmlHeader(134).str(), "<?xml version=\"1.0\" encoding=\"GB2312\"?>\n");
}

}  // namespace
