// Geometry elements through their GML: every kind goes out and comes back
// through the geometry library's own GML reader as the same geometry.
#include "platform/vtelem/CElemGeometry.h"

#include <gtest/gtest.h>
#include <ogr_geometry.h>

#include <memory>

#include "platform/vtelem/CElementManager.h"

namespace {

TEST(CElemGeometry, EveryKindComesBackFromItsGml) {
  const struct {
    const char* wkt;
    const char* back;  // what comes back when it differs (measures are not carried)
    int type;
  } cases[] = {
      {"POINT (1 2)", nullptr, ELEM_POINT},
      {"POINT Z (1 2 3)", nullptr, ELEM_POINT},
      {"POINT M (1 2 9)", "POINT (1 2)", ELEM_POINT},
      {"LINESTRING Z (1 2 3,4 5 6)", nullptr, ELEM_LINE},
      {"POLYGON ((0 0,10 0,10 10,0 0),(1 1,2 1,2 2,1 1),(5 5,6 5,6 6,5 5))", nullptr, ELEM_POLYGON},
      {"MULTIPOINT ((1 2),(3 4))", nullptr, ELEM_MULTIPOINT},
      {"MULTILINESTRING ((0 0,1 1),(2 2,3 3))", nullptr, ELEM_MULTILINE},
      {"MULTIPOLYGON (((0 0,1 0,1 1,0 0)),((5 5,6 5,6 6,5 5),(5.2 5.1,5.8 5.1,5.8 5.7,5.2 5.1)))", nullptr,
       ELEM_MULTIPOLYGON},
      {"GEOMETRYCOLLECTION (POINT (1 2),LINESTRING (0 0,1e-300 0.1))", nullptr, ELEM_COLLECTION},
      {"CIRCULARSTRING (0 0,1 1,2 0)", nullptr, ELEM_NONE},  // through the library's own writer
  };
  for (const auto& c : cases) {
    CElemGeometry g;
    ASSERT_TRUE(g.SetWkt(c.wkt)) << c.wkt;
    const CString gml = g.GetGML(0);
    ASSERT_FALSE(gml.IsEmpty()) << c.wkt;
    CElemGeometry back;
    ASSERT_TRUE(back.ParseGML(gml)) << gml.str();
    CElemGeometry want;
    want.SetWkt(c.back ? c.back : c.wkt);
    EXPECT_TRUE(back.Equals(want)) << c.wkt << " -> " << gml.str() << " -> " << back.GetWkt().str();
    EXPECT_EQ(CElementManager::TypeOfOgr(0), ELEM_NONE);
    if (c.type != ELEM_NONE) {
      EXPECT_EQ(back.GetType(), c.type) << c.wkt;
    }
  }
  // An empty geometry has no GML.
  CElemGeometry empty;
  ASSERT_TRUE(empty.SetWkt("POINT EMPTY"));
  EXPECT_TRUE(empty.GetGML(3).IsEmpty());
  EXPECT_TRUE(CElemGeometry().GetGML(3).IsEmpty());
}

// Texts from other writers, with white space, dimensions, attributes and
// faults: our reading gives what the library's own GML reader gives.
TEST(CElemGeometry, GmlReadsAsTheLibrarysOwnReader) {
  const char* texts[] = {
      "<gml:Point><gml:pos>1 2</gml:pos></gml:Point>",
      "<gml:Point>\n  <gml:pos> 1.5e3\t-2 </gml:pos>\n</gml:Point>",
      "<gml:Point><gml:pos>1 2 3</gml:pos></gml:Point>",
      "<gml:LineString><gml:posList srsDimension=\"3\">1 2 3 4 5 6</gml:posList></gml:LineString>",
      "<gml:LineString><gml:posList srsDimension=\"2\">1 2 3 4</gml:posList></gml:LineString>",
      "<gml:LineString><gml:posList>1 2 3</gml:posList></gml:LineString>",
      "<gml:Point srsName=\"EPSG:4326\"><gml:pos>1 2</gml:pos></gml:Point>",
      "<gml:Point><gml:coordinates>1,2</gml:coordinates></gml:Point>",
      "<gml:Polygon><gml:exterior><gml:LinearRing><gml:posList>0 0 1 0 1 1 0 0</gml:posList></gml:LinearRing>"
      "</gml:exterior><gml:interior><gml:LinearRing><gml:posList>0.1 0.1 0.2 0.1 0.2 0.2 0.1 0.1</gml:posList>"
      "</gml:LinearRing></gml:interior></gml:Polygon>",
      "<gml:MultiSurface><gml:surfaceMember><gml:Polygon><gml:exterior><gml:LinearRing><gml:posList>0 0 1 0 1 1 0 0"
      "</gml:posList></gml:LinearRing></gml:exterior></gml:Polygon></gml:surfaceMember></gml:MultiSurface>",
      "<gml:MultiPoint><gml:pointMember><gml:Point><gml:pos>1 2</gml:pos></gml:Point></gml:pointMember></gml:MultiPoint>",
      "<gml:MultiGeometry><gml:geometryMember><gml:LineString><gml:posList>0 0 1 1</gml:posList></gml:LineString>"
      "</gml:geometryMember></gml:MultiGeometry>",
      "<gml:Point><gml:pos>1 x</gml:pos></gml:Point>",
      "<gml:Point><gml:pos>1 2</gml:pos>",
      "<gml:Polygon><gml:exterior><gml:LinearRing><gml:posList>0 0 1</gml:posList></gml:LinearRing></gml:exterior>",
      "<gml:MultiCurve><gml:curveMember><gml:Point><gml:pos>1 2</gml:pos></gml:Point></gml:curveMember></gml:MultiCurve>",
  };
  for (const char* text : texts) {
    CElemGeometry ours;
    const bool read = ours.ParseGML(text);
    std::unique_ptr<OGRGeometry> theirs(OGRGeometryFactory::createFromGML(text));
    ASSERT_EQ(read, theirs != nullptr) << text;
    if (!read) continue;
    auto* handle = static_cast<OGRGeometry*>(ours.Handle());
    EXPECT_TRUE(handle->Equals(theirs.get())) << text;
    EXPECT_EQ(handle->Is3D(), theirs->Is3D()) << text;
  }
}

TEST(CElementManager, GeometryNamesAndElementCreation) {
  const struct {
    const char* name;
    int type;
  } names[] = {{"gml:Point", ELEM_POINT},           {"gml:LineString", ELEM_LINE},  {"gml:curve", ELEM_LINE},
               {"gml:Polygon", ELEM_POLYGON},       {"Surface", ELEM_POLYGON},      {"gml:MultiPoint", ELEM_MULTIPOINT},
               {"gml:MultiCurve", ELEM_MULTILINE}, {"gml:MultiSurface", ELEM_MULTIPOLYGON},
               {"gml:MultiGeometry", ELEM_COLLECTION}, {"gml:pos", ELEM_NONE},      {"gml:exterior", ELEM_NONE}};
  for (const auto& n : names) EXPECT_EQ(CElementManager::ParseGeoType(n.name), n.type) << n.name;
  CVtElement* element = reinterpret_cast<CVtElement*>(1);
  EXPECT_EQ(CElementManager::CreateElement(element, ELEM_NONE), 0);
  EXPECT_EQ(element, nullptr);
  ASSERT_EQ(CElementManager::CreateElement(element, ELEM_POLYGON), 1);
  EXPECT_EQ(element->GetType(), ELEM_POLYGON);
  EXPECT_FALSE(element->ParseGML("<gml:Polygon><broken"));
  delete element;
}

}  // namespace
