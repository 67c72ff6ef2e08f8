// MapInfo tables through CVtMapInfo, compared with what OGR reports for the
// same MIF/MID and TAB files, which ogr2ogr writes.
#include "vector/mapinfo/CVtMapInfo.h"

#include <gtest/gtest.h>
#include <ogr_spatialref.h>

#include <memory>
#include <type_traits>

#include "support/ScratchDir.h"

namespace {

static_assert(!std::is_copy_constructible<CVtMapInfo>::value && !std::is_copy_assignable<CVtMapInfo>::value,
              "an object owns its file alone");

// Points, a line, a region with a hole and a text, in `srs`, written by OGR
// as a MapInfo table at `path`.
void WriteTable(const std::string& path, const char* srs) {
  GDALAllRegister();
  GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("MapInfo File");
  CPLStringList options;
  if (path.size() > 4 && path.compare(path.size() - 4, 4, ".mif") == 0) options.SetNameValue("FORMAT", "MIF");
  std::unique_ptr<GDALDataset> ds(driver->Create(path.c_str(), 0, 0, 0, GDT_Unknown, options.List()));
  ASSERT_NE(ds, nullptr);
  OGRSpatialReference ref;
  ref.SetFromUserInput(srs);
  ref.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
  OGRLayer* layer = ds->CreateLayer("t", &ref, wkbUnknown, nullptr);
  OGRFieldDefn name("name", OFTString), count("cnt", OFTInteger), value("val", OFTReal), day("day", OFTDate);
  name.SetWidth(16);
  value.SetWidth(10);
  value.SetPrecision(3);
  for (OGRFieldDefn* f : {&name, &count, &value, &day}) layer->CreateField(f);
  const struct {
    const char* wkt;
    const char* style;
  } features[] = {
      {"POINT (10 20)", nullptr},
      {"POINT (11 21)", nullptr},
      {"LINESTRING (10 20,30 40,35 41)", nullptr},
      {"POLYGON ((0 0,50 0,50 50,0 50,0 0),(10 10,20 10,20 20,10 10))", nullptr},
      {"POINT (12 22)", "LABEL(t:\"Town\",a:0,s:2.5g,c:#000000)"},
  };
  int i = 0;
  for (const auto& f : features) {
    OGRFeature feature(layer->GetLayerDefn());
    feature.SetField("name", ("f" + std::to_string(i)).c_str());
    feature.SetField("cnt", i * 7);
    feature.SetField("val", i + 0.125);
    feature.SetField("day", "2023/03/15");
    OGRGeometry* g = nullptr;
    OGRGeometryFactory::createFromWkt(f.wkt, nullptr, &g);
    feature.SetGeometryDirectly(g);
    if (f.style) feature.SetStyleString(f.style);
    ASSERT_EQ(layer->CreateFeature(&feature), OGRERR_NONE);
    ++i;
  }
}

TEST(CVtMapInfo, AClosedObjectAnswersWithoutAFile) {
  CVtMapInfo table;
  double a = 1, b = 2, c = 3, d = 4;
  int p = 1, l = 1, r = 1, t = 1;
  EXPECT_EQ(table.GetSpatialFilter(), nullptr);
  EXPECT_EQ(table.GetLayerDefn(), nullptr);
  EXPECT_EQ(table.GetFeatureCount(1), 0);
  EXPECT_EQ(table.GetNextFeature(), nullptr);
  EXPECT_EQ(table.GetFeature(1), nullptr);
  EXPECT_EQ(table.CreateFeature(nullptr), 0);
  EXPECT_EQ(table.TestCapability("RandomRead"), 0);
  EXPECT_EQ(table.GetSpatialRef(), nullptr);
  EXPECT_EQ(table.GetTableName(), nullptr);
  EXPECT_EQ(table.GetNextFeatureId(-1), -1);
  EXPECT_EQ(table.GetFeatureRef(1), nullptr);
  EXPECT_EQ(table.GetNativeFieldType(0), TABFNoField);
  EXPECT_EQ(table.GetBounds(a, b, c, d, 1), 0);
  EXPECT_EQ(table.GetFeatureCountByType(p, l, r, t, 1), 0);
  EXPECT_EQ(table.SetBounds(0, 0, 1, 1), 0);
  EXPECT_EQ(table.AddFieldNative("x", TABFInteger, 0, 0), 0);
  EXPECT_EQ(table.SetSpatialRef(nullptr), 0);
  EXPECT_EQ(table.GetLinearUnits(), 0);
  EXPECT_EQ(table.GetVtUnitsFromMapInfoLinearUnits(), 10000);
  EXPECT_EQ(table.GetMapInfoProjID(), 0);
  EXPECT_EQ(table.GetFileClass(), CVtMapInfo::TABFC_IMapInfoFile);
  EXPECT_EQ(table.Close(), 0);
}

// Each table, MIF or TAB, reads the same features, counts and bounds as OGR
// reports, with the MapInfo projection id and units of its system.
TEST(CVtMapInfo, TablesReadAsOgrReadsThem) {
  const struct {
    const char* file;
    const char* srs;
    long projection, units, size;
  } cases[] = {
      {"geo.tab", "EPSG:4326", 1, 13, 10000},
      {"utm.mif", "EPSG:32631", 8, 7, 10000},
      {"lcc.tab", "EPSG:2154", 3, 7, 10000},
      {"albers.mif", "EPSG:5070", 9, 7, 10000},
      {"merc.tab", "EPSG:3395", 10, 7, 10000},
      {"feet.tab", "EPSG:2222", 8, 3, 3048},
      {"survey.mif", "EPSG:2249", 3, 8, 3048},
      {"km.tab", "+proj=tmerc +lon_0=3 +k=1 +x_0=0 +y_0=0 +ellps=GRS80 +units=km", 8, 1, 10000000},
      {"nmi.tab", "+proj=tmerc +lon_0=3 +k=1 +x_0=0 +y_0=0 +ellps=GRS80 +units=kmi", 8, 9, 16090000},
  };
  ScratchDir dir;
  for (const auto& c : cases) {
    WriteTable(dir / c.file, c.srs);
    CVtMapInfo table;
    ASSERT_EQ(table.Open((dir / c.file).c_str(), "rb"), 0) << c.file;
    std::unique_ptr<GDALDataset> ogr(
        static_cast<GDALDataset*>(GDALOpenEx((dir / c.file).c_str(), GDAL_OF_VECTOR, nullptr, nullptr, nullptr)));
    OGRLayer* layer = ogr->GetLayer(0);
    EXPECT_EQ(table.GetFeatureCount(1), layer->GetFeatureCount());
    int points, lines, regions, texts;
    ASSERT_EQ(table.GetFeatureCountByType(points, lines, regions, texts, 1), 0);
    EXPECT_EQ(std::to_string(points) + std::to_string(lines) + std::to_string(regions) + std::to_string(texts), "2111")
        << c.file;
    double x0, y0, x1, y1;
    OGREnvelope e;
    ASSERT_EQ(layer->GetExtent(&e), OGRERR_NONE);
    ASSERT_EQ(table.GetBounds(x0, y0, x1, y1, 1), 0);
    EXPECT_EQ(x0, e.MinX);
    EXPECT_EQ(y1, e.MaxY);
    EXPECT_EQ(table.GetMapInfoProjID(), c.projection) << c.file;
    EXPECT_EQ(table.GetLinearUnits(), c.units) << c.file;
    EXPECT_EQ(table.GetVtUnitsFromMapInfoLinearUnits(), c.size) << c.file;
    EXPECT_EQ(table.GetNativeFieldType(-1), TABFNoField);
    EXPECT_EQ(table.GetNativeFieldType(0), TABFChar);
    EXPECT_EQ(table.GetNativeFieldType(1), TABFInteger);
    EXPECT_EQ(table.GetNativeFieldType(2), TABFDecimal);
    EXPECT_EQ(table.GetNativeFieldType(3), TABFDate);
    // Features by id, the same as OGR's.
    int n = 0;
    for (int id = table.GetNextFeatureId(-1); id != -1; id = table.GetNextFeatureId(id), ++n) {
      TABFeature* ours = table.GetFeatureRef(id);
      std::unique_ptr<OGRFeature> theirs(layer->GetFeature(id));
      ASSERT_NE(ours, nullptr);
      ASSERT_NE(theirs, nullptr);
      EXPECT_EQ(ours->GetFID(), theirs->GetFID());
      for (int f = 0; f < 4; ++f) EXPECT_STREQ(ours->GetFieldAsString(f), theirs->GetFieldAsString(f)) << c.file;
      EXPECT_TRUE(ours->GetGeometryRef()->Equals(theirs->GetGeometryRef())) << c.file << " " << id;
      EXPECT_STREQ(ours->GetStyleString(), theirs->GetStyleString());
    }
    EXPECT_EQ(n, 5);
  }
}

TEST(CVtMapInfo, NativeTypesComeFromTheTablesOwnHeader) {
  ScratchDir dir;
  dir.Put("all.mif",
          "Version 300\nCharset \"WindowsLatin1\"\nDelimiter \",\"\nColumns 9\n  name Char(20)\n  cnt Integer\n"
          "  small SmallInt\n  dec Decimal(10,3)\n  flt Float\n  day Date\n  ok Logical\n  tm Time\n  dt DateTime\n"
          "Data\n\nPoint 1 2\n");
  dir.Put("all.mid", "\"A\",1,2,3.250,4.5,20230315,\"T\",123456000,20230315123456000\n");
  CVtMapInfo table;
  // The pair opens through its .mid as well.
  ASSERT_EQ(table.Open((dir / "all.mid").c_str(), "rb"), 0);
  const TABFieldType want[] = {TABFChar,  TABFInteger, TABFSmallInt, TABFDecimal, TABFFloat,
                               TABFDate,  TABFLogical, TABFTime,     TABFDateTime};
  for (int i = 0; i < 9; ++i) EXPECT_EQ(table.GetNativeFieldType(i), want[i]) << i;
  EXPECT_EQ(table.GetNativeFieldType(9), TABFNoField);
  // A failed open closes what was open.
  EXPECT_EQ(table.Open((dir / "none.tab").c_str(), "rb"), -1);
  EXPECT_EQ(table.GetLayerDefn(), nullptr);
  EXPECT_EQ(table.Open((dir / "all.shp").c_str(), "rb"), -1);
}

// A table opened for writing takes bounds, spatial reference, native fields
// and features for real; OGR reads back what was written.
TEST(CVtMapInfo, WritesTablesOgrReadsBack) {
  ScratchDir dir;
  for (const char* file : {"w.tab", "w.mif"}) {
    {
      CVtMapInfo table;
      ASSERT_EQ(table.Open((dir / file).c_str(), "wb"), 0);
      OGRSpatialReference ref;
      ref.importFromEPSG(32631);
      EXPECT_EQ(table.SetBounds(400000, 4000000, 600000, 6000000), 0);
      EXPECT_EQ(table.SetSpatialRef(&ref), 0);
      EXPECT_EQ(table.AddFieldNative("name", TABFChar, 12, 0), 0);
      EXPECT_EQ(table.AddFieldNative("cnt", TABFInteger, 0, 0), 0);
      EXPECT_EQ(table.AddFieldNative("dec", TABFDecimal, 12, 4), 0);
      EXPECT_EQ(table.SetBounds(0, 0, 1, 1), -1);  // too late: the table exists
      for (int i = 0; i < 3; ++i) {
        OGRFeature feature(table.GetLayerDefn());
        feature.SetField(0, ("n" + std::to_string(i)).c_str());
        feature.SetField(1, i * 11);
        feature.SetField(2, 1.0625 * i);
        OGRGeometry* g = nullptr;
        std::string wkt = "POINT (" + std::to_string(500000 + i) + " 5000000)";
        OGRGeometryFactory::createFromWkt(wkt.c_str(), nullptr, &g);
        feature.SetGeometryDirectly(g);
        EXPECT_EQ(table.CreateFeature(&feature), OGRERR_NONE);
      }
      EXPECT_EQ(table.Close(), 0);
    }
    std::unique_ptr<GDALDataset> ogr(
        static_cast<GDALDataset*>(GDALOpenEx((dir / file).c_str(), GDAL_OF_VECTOR, nullptr, nullptr, nullptr)));
    ASSERT_NE(ogr, nullptr) << file;
    OGRLayer* layer = ogr->GetLayer(0);
    ASSERT_EQ(layer->GetFeatureCount(), 3);
    std::unique_ptr<OGRFeature> last(layer->GetFeature(3));
    EXPECT_STREQ(last->GetFieldAsString(0), "n2");
    EXPECT_EQ(last->GetFieldAsInteger(1), 22);
    EXPECT_DOUBLE_EQ(last->GetFieldAsDouble(2), 2.125);
    EXPECT_EQ(last->GetGeometryRef()->toPoint()->getX(), 500002);
    CVtMapInfo again;
    ASSERT_EQ(again.Open((dir / file).c_str(), "rb"), 0);
    EXPECT_EQ(again.GetMapInfoProjID(), 8);
    EXPECT_EQ(again.GetNativeFieldType(2), TABFDecimal);
  }
}

TEST(CVtMapInfo, MovingHandsTheFileOverOnce) {
  ScratchDir dir;
  WriteTable(dir / "m.tab", "EPSG:4326");
  CVtMapInfo a;
  ASSERT_EQ(a.Open((dir / "m.tab").c_str(), "rb"), 0);
  CVtMapInfo b(std::move(a));
  EXPECT_EQ(a.GetLayerDefn(), nullptr);
  EXPECT_EQ(b.GetFeatureCount(1), 5);
  CVtMapInfo c;
  c = std::move(b);
  EXPECT_EQ(c.GetFeatureCount(1), 5);
}

}  // namespace
