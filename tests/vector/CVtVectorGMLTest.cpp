// GML written in the platform schema and read back: layer table, field
// texts, geometry through the geometry library, the faults of hand-written
// XML (names, open members, truncation), and files other readers accept.
#include "vector/gml/CVtVectorGML.h"

#include <gtest/gtest.h>
#include <ogrsf_frmts.h>

#include <clocale>
#include <cstdlib>
#include <memory>

#include "platform/vtelem/CElemGeometry.h"
#include "platform/vtelem/CVtElement.h"
#include "support/ScratchDir.h"

namespace {

struct Feature {
  const char* layer;
  const char* wkt;  // null: no geometry
  std::vector<COleVariant> values;
};

// Two layers, three features: points with a text and an integer field,
// polygons (one with a hole, one multi) with a real field.
void WriteSample(const std::string& path, const std::vector<Feature>& features, int charset = 65536) {
  CVtVectorGML gml;
  gml.SetCharSet(charset);
  ASSERT_TRUE(gml.OpenForWrite(CString(path)));
  gml.SetLayerCount(2);
  ASSERT_TRUE(gml.SetLayerInfo(0, "Wells", 1, CRect2D(0, 10, 10, 0), "sub \"one\" & more"));
  gml.SetFieldCount(0, 2);
  ASSERT_TRUE(gml.SetFieldInfo(0, 0, "Name", 10, 30));
  ASSERT_TRUE(gml.SetFieldInfo(0, 1, "Depth", 4, 0));
  ASSERT_TRUE(gml.SetLayerInfo(1, "Parcels", 5, CRect2D(0, 10, 10, 0), ""));
  gml.SetFieldCount(1, 1);
  ASSERT_TRUE(gml.SetFieldInfo(1, 0, "Area", 7, 0));
  gml.BeginWriteRecord();
  for (const Feature& f : features) {
    gml.BeginWriteOneRecord();
    CElemGeometry geometry;
    if (f.wkt) {
      ASSERT_TRUE(geometry.SetWkt(f.wkt)) << f.wkt;
    }
    gml.WriteOneGeometry(f.wkt ? &geometry : nullptr, f.layer);
    for (size_t i = 0; i < f.values.size(); ++i) gml.SetFieldValue(static_cast<int>(i), f.values[i]);
    gml.EndWriteOneRecord();
  }
  gml.EndWriteRecord();
  gml.Close();
}

const std::vector<Feature> kSample = {
    {"Wells", "POINT (0.1 -2.5e-7)", {COleVariant("a & <b> \"q\" 'x' \xC3\xA4"), COleVariant(int32_t{42})}},
    {"parcels", "POLYGON ((0 0,10 0,10 10,0 10,0 0),(2 2,2 3,3 3,2 2))", {COleVariant(123.456)}},
    {"Parcels", "MULTIPOLYGON (((0 0,1 0,1 1,0 0)),((5 5,6 5,6 6,5 5)))", {COleVariant(0.30000000000000004)}},
    {"Wells", "LINESTRING (1 2,3 4)", {COleVariant("  padded  ")}},  // Depth keeps 42
    {"Wells", nullptr, {COleVariant("   ")}},
};

TEST(CVtVectorGML, WrittenFilesReadBackFieldForFieldAndGeometryForGeometry) {
  ScratchDir dir;
  const std::string saved = std::setlocale(LC_ALL, nullptr);
  std::setlocale(LC_ALL, "de_DE.UTF-8");  // numbers must not follow the host's locale
  WriteSample(dir / "a.gml", kSample);
  CVtVectorGML gml;
  ASSERT_TRUE(gml.OpenForRead(CString(dir / "a.gml")));
  std::setlocale(LC_ALL, saved.c_str());
  ASSERT_EQ(gml.GetLayerCount(), 2);
  CString name, sub;
  int type = 0, size = 0;
  ASSERT_TRUE(gml.GetLayerInfo(0, name, type, sub));
  EXPECT_EQ(name.str(), "Wells");
  EXPECT_EQ(type, 1);
  EXPECT_EQ(sub.str(), "sub \"one\" & more");
  ASSERT_TRUE(gml.GetLayerInfo(1, name, type, sub));
  EXPECT_EQ(name.str() + "/" + std::to_string(type), "Parcels/5");
  ASSERT_EQ(gml.GetFieldCount(0), 2);
  ASSERT_TRUE(gml.GetFieldInfo(0, 0, name, type, size));
  EXPECT_EQ(name.str() + ":" + std::to_string(type) + ":" + std::to_string(size), "Name:10:30");
  ASSERT_TRUE(gml.GetFieldInfo(0, 1, name, type, size));
  EXPECT_EQ(name.str() + ":" + std::to_string(type) + ":" + std::to_string(size), "Depth:4:0");
  EXPECT_FALSE(gml.GetFieldInfo(0, 2, name, type, size));

  struct Expected {
    const char* layer;
    std::vector<const char*> values;  // null: not found
  } expected[] = {
      {"Wells", {"a & <b> \"q\" 'x' \xC3\xA4", "42"}},
      {"parcels", {"123.456"}},
      {"Parcels", {"0.30000000000000004"}},
      {"Wells", {"padded", "42"}},
      {"Wells", {nullptr, "42"}},
  };
  for (size_t i = 0; i < kSample.size(); ++i) {
    ASSERT_FALSE(gml.IsEOF()) << i;
    gml.BeginReadOneRecord();
    CVtElement* element = reinterpret_cast<CVtElement*>(1);  // left alone without geometry
    CString layer;
    ASSERT_TRUE(gml.ReadOneGeometry(element, layer));
    EXPECT_EQ(layer.str(), expected[i].layer);
    if (kSample[i].wkt) {
      ASSERT_NE(element, nullptr);
      std::unique_ptr<CVtElement> owned(element);
      CElemGeometry want;
      want.SetWkt(kSample[i].wkt);
      auto* got = dynamic_cast<CElemGeometry*>(element);
      ASSERT_NE(got, nullptr);
      EXPECT_TRUE(got->Equals(want)) << got->GetWkt().str() << " vs " << kSample[i].wkt;
      EXPECT_EQ(got->GetType(), want.GetType());
    } else {
      EXPECT_EQ(element, reinterpret_cast<CVtElement*>(1));
    }
    for (size_t f = 0; f < expected[i].values.size(); ++f) {
      CString value("unchanged");
      bool found = gml.GetFieldValue(static_cast<int>(f), value);
      EXPECT_EQ(found, expected[i].values[f] != nullptr) << i << "/" << f;
      EXPECT_EQ(value.str(), expected[i].values[f] ? expected[i].values[f] : "unchanged");
    }
    gml.EndReadOneRecord();
  }
  EXPECT_TRUE(gml.IsEOF());
  EXPECT_EQ(gml.GetCurrentPercent(), 100);
}

TEST(CVtVectorGML, NamesThatCannotBeElementNamesAreRefused) {
  CVtVectorGML gml;
  gml.SetLayerCount(1);
  gml.SetFieldCount(0, 1);
  for (const char* bad : {"", "two words", "1st", "-x", "a<b", "a\"b", "a&b", "xmlThing", "gml:Point", ".x"})
    EXPECT_FALSE(gml.SetLayerInfo(0, bad, 1, CRect2D(), "")) << bad;
  for (const char* good : {"Roads", "_x", "r-1.b", "\xE9\x81\x93\xE8\xB7\xAF"})
    EXPECT_TRUE(gml.SetLayerInfo(0, good, 1, CRect2D(), "")) << good;
  EXPECT_FALSE(gml.SetFieldInfo(0, 0, "field name", 10, 5));
  EXPECT_FALSE(gml.SetFieldInfo(0, 1, "ok", 10, 5));
  EXPECT_FALSE(gml.SetLayerInfo(1, "ok", 1, CRect2D(), ""));
}

// A record whose layer is not found writes nothing and says so; the file
// stays well-formed, which xmllint confirms for the file and its schema.
TEST(CVtVectorGML, ARecordOfNoLayerLeavesTheFileWellFormed) {
  ScratchDir dir;
  {
    CVtVectorGML gml;
    ASSERT_TRUE(gml.OpenForWrite(CString(dir / "b.gml")));
    gml.SetLayerCount(1);
    gml.SetLayerInfo(0, "L", 0, CRect2D(), "");
    gml.BeginWriteRecord();
    gml.BeginWriteOneRecord();
    EXPECT_FALSE(gml.WriteOneGeometry(nullptr, "Missing"));
    EXPECT_FALSE(gml.EndWriteOneRecord());
    gml.BeginWriteOneRecord();
    EXPECT_TRUE(gml.WriteOneGeometry(nullptr, "l"));
    EXPECT_TRUE(gml.EndWriteOneRecord());
    gml.EndWriteRecord();
    gml.Close();
  }
  for (const char* file : {"b.gml", "b.xsd"}) {
    std::string command = "xmllint --noout '" + (dir / file) + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
  }
  const std::string text = dir.Get("b.gml");
  EXPECT_NE(text.find("xsi:noNamespaceSchemaLocation=\"./b.xsd\""), std::string::npos);
  EXPECT_NE(text.find("<gml:featureMember>\n   <l>\n   </l>\n</gml:featureMember>\n"), std::string::npos) << text;
  CVtVectorGML reader;
  ASSERT_TRUE(reader.OpenForRead(CString(dir / "b.gml")));
  int records = 0;
  for (; !reader.IsEOF(); reader.EndReadOneRecord()) ++records;
  EXPECT_EQ(records, 1);
}

// Text XML cannot hold is refused where it is given, so the file stays
// readable; white space that readers would fold comes back as written.
TEST(CVtVectorGML, TextsXmlCannotHoldAreRefusedAndWhiteSpaceComesBack) {
  ScratchDir dir;
  const std::string sub = "tab\there\nline\rreturn";
  {
    CVtVectorGML gml;
    gml.SetCharSet(65536);
    ASSERT_TRUE(gml.OpenForWrite(CString(dir / "w.gml")));
    gml.SetLayerCount(1);
    EXPECT_FALSE(gml.SetLayerInfo(0, "L", 1, CRect2D(), "bell\x07"));
    ASSERT_TRUE(gml.SetLayerInfo(0, "L", 1, CRect2D(), CString(sub)));
    gml.SetFieldCount(0, 1);
    gml.SetFieldInfo(0, 0, "v", 10, 20);
    gml.BeginWriteRecord();
    const struct {
      const char* value;
      bool written;
    } records[] = {{"first", true}, {"bad\x01", false}, {"\x1F", false}, {"two\r\nlines\rand\tmore", true},
                   {"vt\x0B", false}};
    for (const auto& r : records) {
      gml.BeginWriteOneRecord();
      ASSERT_TRUE(gml.WriteOneGeometry(nullptr, "L"));
      gml.SetFieldValue(0, COleVariant(r.value));
      EXPECT_EQ(gml.EndWriteOneRecord(), r.written) << r.value;
    }
    gml.EndWriteRecord();
    gml.Close();
  }
  EXPECT_EQ(std::system(("xmllint --noout '" + (dir / "w.gml") + "'").c_str()), 0);
  CVtVectorGML reader;
  ASSERT_TRUE(reader.OpenForRead(CString(dir / "w.gml")));
  CString name, readSub;
  int type = 0;
  ASSERT_TRUE(reader.GetLayerInfo(0, name, type, readSub));
  EXPECT_EQ(readSub.str(), sub);
  std::vector<std::string> values;
  for (; !reader.IsEOF(); reader.EndReadOneRecord()) {
    CVtElement* element = nullptr;
    CString layer, value;
    reader.ReadOneGeometry(element, layer);
    EXPECT_TRUE(reader.GetFieldValue(0, value));
    values.push_back(value.str());
  }
  EXPECT_EQ(values, (std::vector<std::string>{"first", "two\r\nlines\rand\tmore"}));
  EXPECT_TRUE(reader.GetReadError().empty()) << reader.GetReadError();
}

// Pieces of the written layout that readers and the schema rely on: the
// root's attributes in their order, a layer without fields, "Size" only for
// text fields and between "Name" and "Type", and field values escaped once
// after "<[[" and "]]>" are dropped.
TEST(CVtVectorGML, WrittenLayoutPieces) {
  ScratchDir dir;
  {
    CVtVectorGML gml;
    gml.SetCharSet(65536);
    ASSERT_TRUE(gml.OpenForWrite(CString(dir / "t.gml")));
    gml.SetLayerCount(2);
    ASSERT_TRUE(gml.SetLayerInfo(0, "Bare", 0, CRect2D(), ""));
    ASSERT_TRUE(gml.SetLayerInfo(1, "Roads", 3, CRect2D(), "r"));
    gml.SetFieldCount(1, 2);
    ASSERT_TRUE(gml.SetFieldInfo(1, 0, "Len", 7, 99));
    ASSERT_TRUE(gml.SetFieldInfo(1, 1, "Label", 10, 30));
    gml.BeginWriteRecord();
    gml.BeginWriteOneRecord();
    ASSERT_TRUE(gml.WriteOneGeometry(nullptr, "Roads"));
    gml.SetFieldValue(0, COleVariant(1.5));
    gml.SetFieldValue(1, COleVariant("<[[a]]>b&lt;<[[>"));
    ASSERT_TRUE(gml.EndWriteOneRecord());
    gml.EndWriteRecord();
    gml.Close();
  }
  const std::string gmlText = dir.Get("t.gml"), xsd = dir.Get("t.xsd");
  const struct {
    const std::string& file;
    const char* piece;
  } pieces[] = {
      {gmlText,
       "\n<vtl:Veltram gml:version=\"3.0.0\" xmlns:gml=\"http://www.opengis.net/gml\" xmlns:vtl=\""},
      {gmlText, "\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" xsi:noNamespaceSchemaLocation=\"./t.xsd\">\n"},
      {gmlText, "Type=\"Tabular\">\n"},
      {gmlText, "<vtl:UserPorpertyDefines>\n</vtl:UserPorpertyDefines>\n</vtl:FeatureCollectionInfo>\n"},
      {gmlText, "\n   <vtl:UserPorpertyDefine Name=\"Len\" Type=\"xs:double\"/>\n"},
      {gmlText, "\n   <vtl:UserPorpertyDefine Name=\"Label\" Size=\"30\" Type=\"xs:string\"/>\n"},
      {gmlText, "\n      <Len>1.5</Len>\n      <Label>ab&amp;lt;&gt;</Label>\n   </Roads>\n</gml:featureMember>\n"},
      {xsd,
       "   <xs:complexType name=\"BareType\">\n      <xs:sequence>\n"
       "         <xs:element name=\"geometryProperty\" type=\"gml:geometryPropertyType\" minOccurs=\"0\"/>\n"
       "      </xs:sequence>\n   </xs:complexType>\n"},
      {xsd, "         <xs:element name=\"Len\" type=\"xs:double\" minOccurs=\"0\"/>\n"},
  };
  for (const auto& p : pieces) EXPECT_NE(p.file.find(p.piece), std::string::npos) << p.piece << "\nin\n" << p.file;
  // The header of the layer without fields comes before the other, in index order.
  EXPECT_LT(gmlText.find("Name=\"Bare\""), gmlText.find("Name=\"Roads\""));
  // Read back, the bare layer has no fields and the escaped text its entity.
  CVtVectorGML reader;
  ASSERT_TRUE(reader.OpenForRead(CString(dir / "t.gml")));
  ASSERT_EQ(reader.GetLayerCount(), 2);
  EXPECT_EQ(reader.GetFieldCount(0), 0);
  CString name;
  int type = 0, size = -1;
  ASSERT_TRUE(reader.GetFieldInfo(1, 0, name, type, size));
  EXPECT_EQ(size, 0);  // no "Size" attribute
  ASSERT_FALSE(reader.IsEOF());
  CVtElement* element = nullptr;
  CString layer, label;
  ASSERT_TRUE(reader.ReadOneGeometry(element, layer));
  ASSERT_TRUE(reader.GetFieldValue(1, label));
  EXPECT_EQ(label.str(), "ab&lt;>");
}

// The static escape, step by step: "<[[" and "]]>" go first, then the five
// characters, ampersands before the rest so that entities are not escaped
// twice.
TEST(CVtVectorGML, ContentTextEscapes) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"<[[x", "x"},
      {"x]]>", "x"},
      {"<[[<[[", ""},
      {"a<[b", "a&lt;[b"},
      {"&lt;", "&amp;lt;"},
      {"<>\"'&", "&lt;&gt;&quot;&apos;&amp;"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(CVtVectorGML::DealContentChars(c.in).str(), c.out) << c.in;
}

// A geometry's text is rebuilt with each element's attributes in name order
// and the white space between elements; its type is that of the first
// element the geometry library recognises.
TEST(CVtVectorGML, GeometryTextIsRebuiltAndTypedByItsFirstKnownElement) {
  const struct {
    const char* inner;
    int type;
    const char* text;
  } cases[] = {
      {"<gml:Point srsName=\"s\" gml:id=\"p1\">\n  <gml:pos>1 2</gml:pos>\n</gml:Point>", ELEM_POINT,
       "<gml:Point gml:id=\"p1\" srsName=\"s\">\n  <gml:pos>1 2</gml:pos>\n</gml:Point>"},
      // An unknown wrapper does not decide; the first known element inside it does.
      {"<gml:Wrapper z='1' a='2'><gml:LineString><gml:posList>0 0 1 1</gml:posList></gml:LineString>"
       "<gml:Point><gml:pos>1 2</gml:pos></gml:Point></gml:Wrapper>",
       ELEM_LINE,
       "<gml:Wrapper a=\"2\" z=\"1\"><gml:LineString><gml:posList>0 0 1 1</gml:posList></gml:LineString>"
       "<gml:Point><gml:pos>1 2</gml:pos></gml:Point></gml:Wrapper>"},
      {"<gml:MultiSurface><gml:surfaceMember><gml:Polygon/></gml:surfaceMember></gml:MultiSurface>",
       ELEM_MULTIPOLYGON,
       "<gml:MultiSurface><gml:surfaceMember><gml:Polygon></gml:Polygon></gml:surfaceMember></gml:MultiSurface>"},
      {"<gml:Blob>x &amp; y</gml:Blob>", ELEM_NONE, "<gml:Blob>x &amp; y</gml:Blob>"},
  };
  ScratchDir dir;
  for (const auto& c : cases) {
    dir.Put("g.gml", std::string("<vtl:Veltram gml:version=\"3.0.0\"><vtl:FeatureCollection><gml:featureMember><L>"
                                 "<vtl:geometryProperty>") +
                         c.inner + "</vtl:geometryProperty></L></gml:featureMember></vtl:FeatureCollection></vtl:Veltram>");
    CVtGmlDocument document;
    ASSERT_EQ(document.open(dir / "g.gml", "r"), 0);
    document.readDocument();
    while (document.ParseOneBuffer()) {
    }
    ASSERT_NE(document.root, nullptr);
    ASSERT_NE(document.root->collection, nullptr);
    ASSERT_EQ(document.root->collection->members.GetSize(), 1);
    const CVtGmlFeature* feature = document.root->collection->members[0]->feature;
    ASSERT_NE(feature, nullptr);
    ASSERT_NE(feature->geometryProperty, nullptr);
    EXPECT_EQ(feature->geometryProperty->geometryType, c.type) << c.inner;
    EXPECT_EQ(feature->geometryProperty->text, c.text);
  }
}

// Members are parsed ahead a step at a time: two that end in the first step
// are both queued, so the second is ready with no further reading. Progress
// is the position read over the file size, exact to the percent however
// large the file.
TEST(CVtVectorGML, MembersQueueAheadAndProgressFollowsThePosition) {
  ScratchDir dir;
  const std::string head =
      "<vtl:Veltram gml:version=\"3.0.0\"><vtl:FeatureCollectionInfo Name=\"L\" Type=\"Point\">"
      "<vtl:UserPorpertyDefines><vtl:UserPorpertyDefine Name=\"v\" Type=\"xs:int\"/></vtl:UserPorpertyDefines>"
      "</vtl:FeatureCollectionInfo>";
  auto member = [](int v) { return "<gml:featureMember><L><v>" + std::to_string(v) + "</v></L></gml:featureMember>"; };
  // Pads with blanks so that the text ends at `at`.
  auto padTo = [](std::string& text, size_t at) {
    ASSERT_LE(text.size(), at);
    text.append(at - text.size(), ' ');
  };
  {
    // Header and two members in the first 1000 bytes, a third past 2000, of 3000.
    std::string text = head + "<vtl:FeatureCollection>" + member(1) + member(2);
    padTo(text, 2500);
    text += member(3) + "</vtl:FeatureCollection></vtl:Veltram>";
    padTo(text, 3000);
    dir.Put("q.gml", text);
    CVtVectorGML gml;
    ASSERT_TRUE(gml.OpenForRead(CString(dir / "q.gml")));
    EXPECT_EQ(gml.GetCurrentPercent(), 33);
    std::vector<std::pair<std::string, int>> seen;
    for (; !gml.IsEOF(); gml.EndReadOneRecord()) {
      gml.BeginReadOneRecord();
      CVtElement* element = nullptr;
      CString layer, v;
      gml.ReadOneGeometry(element, layer);
      gml.GetFieldValue(0, v);
      seen.emplace_back(v.str(), gml.GetCurrentPercent());
    }
    const std::vector<std::pair<std::string, int>> want = {{"1", 33}, {"2", 33}, {"3", 100}};
    EXPECT_EQ(seen, want);
  }
  {
    // 30,000,000 bytes: the collection starts in the step that ends at
    // 15,000,000 and a member ends in the one that ends at 25,000,000.
    std::string text = head;
    padTo(text, 14999900);
    text += "<vtl:FeatureCollection>";
    padTo(text, 24999800);
    text += member(7);
    padTo(text, 30000000 - 40);
    text += "</vtl:FeatureCollection></vtl:Veltram>";
    padTo(text, 30000000);
    dir.Put("big.gml", text);
    text.clear();
    text.shrink_to_fit();
    CVtVectorGML gml;
    ASSERT_TRUE(gml.OpenForRead(CString(dir / "big.gml")));
    EXPECT_EQ(gml.GetCurrentPercent(), 50);
    ASSERT_FALSE(gml.IsEOF());
    EXPECT_EQ(gml.GetCurrentPercent(), 83);
    gml.EndReadOneRecord();
    EXPECT_TRUE(gml.IsEOF());
    EXPECT_EQ(gml.GetCurrentPercent(), 100);
  }
}

// A file cut anywhere: the features completed before the cut are read, then
// the end; nothing hangs.
TEST(CVtVectorGML, ATruncatedFileGivesTheFeaturesBeforeTheCut) {
  ScratchDir dir;
  WriteSample(dir / "full.gml", kSample);
  const std::string full = dir.Get("full.gml");
  size_t completeAt[6];
  size_t pos = 0;
  completeAt[0] = 0;
  for (int i = 1; i <= 5; ++i) completeAt[i] = pos = full.find("</gml:featureMember>", pos) + 20;
  for (size_t cut = 0; cut < full.size(); cut += 37) {
    dir.Put("cut.gml", full.substr(0, cut));
    int whole = 0;
    while (whole < 5 && completeAt[whole + 1] <= cut) ++whole;
    CVtVectorGML gml;
    gml.OpenForRead(CString(dir / "cut.gml"));
    int read = 0;
    while (!gml.IsEOF() && read < 10) {
      CVtElement* element = nullptr;
      CString layer;
      EXPECT_TRUE(gml.ReadOneGeometry(element, layer));
      delete element;
      gml.EndReadOneRecord();
      ++read;
    }
    // Expat reports an element's end only once it sees what follows it.
    EXPECT_TRUE(read == whole || (read == whole - 1 && cut - completeAt[whole] < 2)) << cut << ": " << read;
  }
}

// Hand-written files: what the reader makes of headers, versions, members
// without a feature or layer, unknown geometry, case and white space.
TEST(CVtVectorGML, ReaderHandlesTheFilesOthersWrite) {
  const std::string head =
      "<vtl:Veltram gml:version=\"3.0.0\"><vtl:FeatureCollectionInfo Name=\"L\" Type=\"region\">"
      "<gml:boundedBy/><vtl:UserPorpertyDefines><vtl:UserPorpertyDefine Name=\"a\" Type=\"XS:INT\"/>"
      "<vtl:UserPorpertyDefine Name=\"B\" Type=\"xs:string\" Size=\"12\"/></vtl:UserPorpertyDefines>"
      "</vtl:FeatureCollectionInfo><vtl:FeatureCollection>";
  struct Case {
    std::string xml;
    bool version;
    int layers;
    // Per record: layer name, geometry type (0 none, -1 null), values of a and B ("-" not found).
    std::vector<std::string> records;
  } cases[] = {
      {head + "<gml:featureMember><l><a> 7 </a><b>lower</b><B>x &amp;lt; y</B></l></gml:featureMember>"
              "<gml:featureMember><L><vtl:geometryProperty><gml:Point><gml:pos>1 2</gml:pos></gml:Point>"
              "</vtl:geometryProperty></L></gml:featureMember></vtl:FeatureCollection></vtl:Veltram>",
       true, 1, {"l 0 7 x &lt; y", "L 1 - -"}},
      // A member without a feature, a layer without a header, a geometry of unknown elements.
      {head + "<gml:featureMember/><gml:featureMember><Other><a>1</a></Other></gml:featureMember>"
              "<gml:featureMember><L><vtl:geometryProperty><gml:Blob>1 2</gml:Blob></vtl:geometryProperty></L>"
              "</gml:featureMember></vtl:FeatureCollection></vtl:Veltram>",
       true, 1, {" 0 - -", "Other 0 - -", "L -1 - -"}},
      {"<vtl:Veltram gml:version=\"2.1.2\">" + head.substr(head.find('>') + 1) +
           "</vtl:FeatureCollection></vtl:Veltram>",
       false, 1, {}},
      {"<vtl:Veltram gml:version=\"3.0.0\"><vtl:FeatureCollectionInfo Name=\"L\"/></vtl:Veltram>", true, 0, {}},
      {"<other gml:version=\"3.0.0\"><vtl:FeatureCollection/></other>", false, 0, {}},
  };
  ScratchDir dir;
  for (const auto& c : cases) {
    dir.Put("h.gml", c.xml);
    CVtVectorGML gml;
    EXPECT_EQ(gml.OpenForRead(CString(dir / "h.gml")), c.version) << c.xml;
    EXPECT_EQ(gml.GetLayerCount(), c.layers) << c.xml;
    std::vector<std::string> records;
    while (!gml.IsEOF()) {
      CVtElement* element = reinterpret_cast<CVtElement*>(8);
      CString layer, a, b;
      gml.ReadOneGeometry(element, layer);
      int type = element == reinterpret_cast<CVtElement*>(8) ? 0 : element ? element->GetType() : -1;
      if (type != 0) delete element;
      std::string r = layer.str() + " " + std::to_string(type);
      r += " " + (gml.GetFieldValue(0, a) ? a.str() : "-");
      r += " " + (gml.GetFieldValue(1, b) ? b.str() : "-");
      records.push_back(r);
      gml.EndReadOneRecord();
    }
    EXPECT_EQ(records, c.records) << c.xml;
  }
}

// A file declared GB2312 reads back its field texts in GB18030 bytes, the
// same bytes that were written.
TEST(CVtVectorGML, ForeignCharacterSetsComeBackInTheirOwnBytes) {
  ScratchDir dir;
  const std::string gb = "\xB5\xD8\xCD\xBC";  // "map" in GB2312
  WriteSample(dir / "gb.gml", {{"Wells", "POINT (1 2)", {COleVariant(gb.c_str()), COleVariant(int32_t{1})}}}, 134);
  EXPECT_EQ(dir.Get("gb.gml").compare(0, 39, "<?xml version=\"1.0\" encoding=\"GB2312\"?>"), 0);
  CVtVectorGML gml;
  ASSERT_TRUE(gml.OpenForRead(CString(dir / "gb.gml")));
  ASSERT_FALSE(gml.IsEOF());
  CVtElement* element = nullptr;
  CString layer, value;
  ASSERT_TRUE(gml.ReadOneGeometry(element, layer));
  delete element;
  ASSERT_TRUE(gml.GetFieldValue(0, value));
  EXPECT_EQ(value.str(), gb);
}

// OGR's own GML reader opens what we write and finds the same features.
TEST(CVtVectorGML, OgrReadsTheFeaturesWeWrite) {
  ScratchDir dir;
  WriteSample(dir / "c.gml", kSample);
  GDALAllRegister();
  std::unique_ptr<GDALDataset> ds(
      static_cast<GDALDataset*>(GDALOpenEx((dir / "c.gml").c_str(), GDAL_OF_VECTOR, nullptr, nullptr, nullptr)));
  ASSERT_NE(ds, nullptr);
  long total = 0;
  for (OGRLayer* layer : ds->GetLayers()) total += layer->GetFeatureCount();
  EXPECT_EQ(total, 5);
  OGRLayer* wells = ds->GetLayerByName("Wells");
  ASSERT_NE(wells, nullptr);
  std::unique_ptr<OGRFeature> first(wells->GetNextFeature());
  ASSERT_NE(first, nullptr);
  EXPECT_STREQ(first->GetFieldAsString("Name"), "a & <b> \"q\" 'x' \xC3\xA4");
  OGRGeometry* want = nullptr;
  OGRGeometryFactory::createFromWkt("POINT (0.1 -2.5e-7)", nullptr, &want);
  ASSERT_NE(first->GetGeometryRef(), nullptr);
  EXPECT_TRUE(first->GetGeometryRef()->Equals(want));
  OGRGeometryFactory::destroyGeometry(want);
}

}  // namespace
