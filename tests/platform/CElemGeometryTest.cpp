// Geometry elements through their GML: every kind goes out and comes back
// through the geometry library's own GML reader as the same geometry.
#include "platform/vtelem/CElemGeometry.h"

#include <gtest/gtest.h>

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
    if (c.type != ELEM_NONE) EXPECT_EQ(back.GetType(), c.type) << c.wkt;
  }
  // An empty geometry has no GML.
  CElemGeometry empty;
  ASSERT_TRUE(empty.SetWkt("POINT EMPTY"));
  EXPECT_TRUE(empty.GetGML(3).IsEmpty());
  EXPECT_TRUE(CElemGeometry().GetGML(3).IsEmpty());
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
