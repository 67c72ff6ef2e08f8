// vtfmt gml against OGR: a dataset of several layers goes out as GML and
// comes back feature for feature, field for field, geometry equal.
#include <gtest/gtest.h>
#include <ogrsf_frmts.h>

#include <memory>

#include "support/ToolRun.h"

namespace {

struct Row {
  const char* wkt;
  int id;
  double value;
  const char* text;
  const char* date;  // YYYY-MM-DD
};

struct LayerSpec {
  const char* name;
  OGRwkbGeometryType type;
  std::vector<Row> rows;
};

const std::vector<LayerSpec> kLayers = {
    {"wells", wkbPoint,
     {{"POINT (500000.125 4649776.0625)", 1, 12.5, "A & B <c> \"q\" 'a'", "2023-03-15"},
      {"POINT (-0.1 1e-300)", -7, -0.30000000000000004, "\xE6\xB0\xB4\xE4\xBA\x95 caf\xC3\xA9", "1899-12-30"}}},
    {"roads", wkbUnknown,
     {{"LINESTRING (0 0,1 1,2 0.5)", 2, 1e15, "main road", "2000-02-29"},
      {"MULTILINESTRING ((0 0,1 1),(5 5,6 7))", 3, 0, "split", "1970-01-01"}}},
    {"parcels", wkbUnknown,
     {{"POLYGON ((0 0,10 0,10 10,0 10,0 0),(2 2,3 2,3 3,2 2),(5 5,6 5,6 6,5 5))", 4, 99.75, "two holes",
       "2024-12-31"},
      {"MULTIPOLYGON (((0 0,1 0,1 1,0 0)),((2 2,3 2,3 3,2 3,2 2),(2.2 2.2,2.8 2.2,2.5 2.8,2.2 2.2)))", 5, 1.5,
       "multi with hole", "2011-11-11"}}},
};

void MakeSource(const std::string& path) {
  GDALAllRegister();
  GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("GPKG");
  std::unique_ptr<GDALDataset> ds(driver->Create(path.c_str(), 0, 0, 0, GDT_Unknown, nullptr));
  ASSERT_NE(ds, nullptr);
  for (const auto& spec : kLayers) {
    OGRLayer* layer = ds->CreateLayer(spec.name, nullptr, spec.type, nullptr);
    OGRFieldDefn id("id", OFTInteger), value("value", OFTReal), text("text", OFTString), date("day", OFTDate);
    for (OGRFieldDefn* f : {&id, &value, &text, &date}) layer->CreateField(f);
    for (const Row& r : spec.rows) {
      OGRFeature feature(layer->GetLayerDefn());
      feature.SetField("id", r.id);
      feature.SetField("value", r.value);
      feature.SetField("text", r.text);
      feature.SetField("day", r.date);
      OGRGeometry* g = nullptr;
      OGRGeometryFactory::createFromWkt(r.wkt, nullptr, &g);
      feature.SetGeometryDirectly(g);
      ASSERT_EQ(layer->CreateFeature(&feature), OGRERR_NONE);
    }
  }
}

class VtfmtGml : public ToolTest {};

TEST_F(VtfmtGml, ExportAndImportKeepEveryFeatureFieldAndGeometry) {
  MakeSource(dir / "src.gpkg");
  std::string out;
  ASSERT_EQ(Run("gml export " + Quote(dir / "src.gpkg") + " " + Quote(dir / "x.gml"), &out), 0) << err;
  EXPECT_EQ(KeyValues(out)["features"], "6");
  for (const char* file : {"x.gml", "x.xsd"}) {
    std::string command = "xmllint --noout " + Quote(dir / file);
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
  }
  ASSERT_EQ(Run("gml info " + Quote(dir / "x.gml"), &out), 0) << err;
  EXPECT_NE(out.find("layers: 3\nlayer: wells\ntype: Point\nbounds: -0.1 4649776.0625 500000.125 1e-300\n"
                     "fields: id:xs:int:0,value:xs:double:0,text:xs:string:0,day:xs:timeDuration:0\nfeatures: 2\n"),
            std::string::npos)
      << out;
  ASSERT_EQ(Run("gml import " + Quote(dir / "x.gml") + " " + Quote(dir / "back.gpkg"), &out), 0) << err;

  std::unique_ptr<GDALDataset> back(
      static_cast<GDALDataset*>(GDALOpenEx((dir / "back.gpkg").c_str(), GDAL_OF_VECTOR, nullptr, nullptr, nullptr)));
  ASSERT_NE(back, nullptr);
  ASSERT_EQ(back->GetLayerCount(), 3);
  for (const auto& spec : kLayers) {
    OGRLayer* layer = back->GetLayerByName(spec.name);
    ASSERT_NE(layer, nullptr) << spec.name;
    ASSERT_EQ(layer->GetFeatureCount(), static_cast<GIntBig>(spec.rows.size()));
    layer->ResetReading();
    for (const Row& r : spec.rows) {
      std::unique_ptr<OGRFeature> f(layer->GetNextFeature());
      ASSERT_NE(f, nullptr);
      EXPECT_EQ(f->GetFieldAsInteger64("id"), r.id);
      EXPECT_EQ(f->GetFieldAsDouble("value"), r.value) << spec.name;
      EXPECT_STREQ(f->GetFieldAsString("text"), r.text);
      int y, m, d, h, mi, tz;
      float s;
      ASSERT_TRUE(f->GetFieldAsDateTime(f->GetFieldIndex("day"), &y, &m, &d, &h, &mi, &s, &tz));
      char day[16];
      std::snprintf(day, sizeof day, "%04d-%02d-%02d", y, m, d);
      EXPECT_STREQ(day, r.date);
      OGRGeometry* want = nullptr;
      OGRGeometryFactory::createFromWkt(r.wkt, nullptr, &want);
      ASSERT_NE(f->GetGeometryRef(), nullptr);
      char* got = nullptr;
      f->GetGeometryRef()->exportToWkt(&got);
      EXPECT_TRUE(f->GetGeometryRef()->Equals(want)) << got << " vs " << r.wkt;
      CPLFree(got);
      OGRGeometryFactory::destroyGeometry(want);
    }
  }
}

TEST_F(VtfmtGml, BadInputsFailWithTheirExitCodes) {
  dir.Put("plain.gml", "<?xml version=\"1.0\"?><other/>");
  dir.Put("cut.gml", "<?xml version=\"1.0\"?><vtl:Veltram gml:version=\"3.0.0\"><vtl:FeatureCollection><gml:featureMember>");
  EXPECT_EQ(Run("gml info " + Quote(dir / "missing.gml")), 1);
  EXPECT_EQ(Run("gml info " + Quote(dir / "plain.gml")), 1);
  EXPECT_EQ(Run("gml info " + Quote(dir / "cut.gml")), 1);
  EXPECT_NE(err.find("read stopped early"), std::string::npos) << err;
  EXPECT_EQ(Run("gml export " + Quote(dir / "missing.shp") + " " + Quote(dir / "o.gml")), 1);
  EXPECT_EQ(Run("gml frobnicate x"), 2);
  EXPECT_EQ(Run("gml import " + Quote(dir / "cut.gml") + " " + Quote(dir / "o.unknownext")), 2);
}

}  // namespace
