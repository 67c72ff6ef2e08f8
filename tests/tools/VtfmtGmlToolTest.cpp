// vtfmt gml against OGR: a dataset of several layers goes out as GML and
// comes back feature for feature, field for field, geometry equal; texts in
// other character sets go out in the set the file declares and come back as
// UTF-8; values no XML reader could give back are refused.
#include <gtest/gtest.h>
#include <ogrsf_frmts.h>

#include <cpl_string.h>

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

// One text layer "towns" with a field `field` holding each of `values`.
void MakeTextSource(const std::string& path, const std::vector<std::string>& values, const char* field = "name") {
  GDALAllRegister();
  GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("GPKG");
  std::unique_ptr<GDALDataset> ds(driver->Create(path.c_str(), 0, 0, 0, GDT_Unknown, nullptr));
  ASSERT_NE(ds, nullptr);
  OGRLayer* layer = ds->CreateLayer("towns", nullptr, wkbPoint, nullptr);
  OGRFieldDefn name(field, OFTString);
  layer->CreateField(&name);
  for (const std::string& v : values) {
    OGRFeature feature(layer->GetLayerDefn());
    feature.SetField(0, v.c_str());
    OGRPoint point(1, 2);
    feature.SetGeometry(&point);
    ASSERT_EQ(layer->CreateFeature(&feature), OGRERR_NONE);
  }
}

// The texts of the first field of every feature of the first layer, as OGR
// reads them.
std::vector<std::string> OgrNames(const std::string& path, std::string* layerName = nullptr,
                                  std::string* fieldName = nullptr) {
  GDALAllRegister();
  std::unique_ptr<GDALDataset> ds(
      static_cast<GDALDataset*>(GDALOpenEx(path.c_str(), GDAL_OF_VECTOR, nullptr, nullptr, nullptr)));
  std::vector<std::string> names;
  if (!ds || ds->GetLayerCount() < 1) return names;
  OGRLayer* layer = ds->GetLayer(0);
  if (layerName) *layerName = layer->GetName();
  if (fieldName && layer->GetLayerDefn()->GetFieldCount() > 0)
    *fieldName = layer->GetLayerDefn()->GetFieldDefn(0)->GetNameRef();
  for (auto& f : *layer) names.push_back(f->GetFieldAsString(0));
  return names;
}

std::string Recode(const std::string& text, const char* to) {
  char* out = CPLRecode(text.c_str(), CPL_ENC_UTF8, to);
  std::string bytes = out;
  CPLFree(out);
  return bytes;
}

struct Charset {
  int code;
  const char* declared;  // the encoding the file declares
  const char* text;      // UTF-8
  const char* field;     // a field name in that script, UTF-8
};

// Place names, and the word "name" or "city" as a field name.
const std::vector<Charset> kCharsets = {
    {134, "GB2312", "\xE5\x8C\x97\xE4\xBA\xAC\xE5\xB8\x82\xE6\xB5\xB7\xE6\xB7\x80\xE5\x8C\xBA",
     "\xE5\x90\x8D\xE7\xA7\xB0"},
    {136, "Big5", "\xE8\x87\xBA\xE5\x8C\x97\xE5\xB8\x82\xE4\xBF\xA1\xE7\xBE\xA9\xE5\x8D\x80",
     "\xE5\x90\x8D\xE7\xA8\xB1"},
    {128, "Shift_JIS", "\xE6\x9D\xB1\xE4\xBA\xAC\xE9\x83\xBD\xE5\x8D\x83\xE4\xBB\xA3\xE7\x94\xB0",
     "\xE5\x90\x8D\xE5\x89\x8D"},
    {204, "windows-1251",
     "\xD0\x9C\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0, \xD1\x83\xD0\xBB. \xD0\xA2\xD0\xB2\xD0\xB5\xD1\x80\xD1\x81"
     "\xD0\xBA\xD0\xB0\xD1\x8F",
     "\xD0\x93\xD0\xBE\xD1\x80\xD0\xBE\xD0\xB4"},
};

// Documents that others write in these sets: import and info hand OGR and
// the terminal UTF-8, names and texts alike.
TEST_F(VtfmtGml, ImportAndInfoGiveUtf8WhateverTheDeclaredSet) {
  std::vector<Charset> sets = kCharsets;
  sets.push_back({0, "ISO-8859-1", "Z\xC3\xBCrich", "Stra\xC3\x9F" "e"});
  for (const Charset& c : sets) {
    SCOPED_TRACE(c.declared);
    const std::string text = Recode(c.text, c.declared), field = Recode(c.field, c.declared);
    ASSERT_FALSE(text.empty());
    dir.Put("in.gml", std::string("<?xml version=\"1.0\" encoding=\"") + c.declared +
                          "\"?>\n<vtl:Veltram gml:version=\"3.0.0\">\n"
                          "<vtl:FeatureCollectionInfo Name=\"towns\" SubName=\"" + text + "\" Type=\"Point\">\n"
                          "<vtl:UserPorpertyDefines><vtl:UserPorpertyDefine Name=\"" + field + "\" Size=\"40\" "
                          "Type=\"xs:string\"/></vtl:UserPorpertyDefines>\n</vtl:FeatureCollectionInfo>\n"
                          "<vtl:FeatureCollection><gml:featureMember><towns><" + field + ">" + text + "</" + field +
                          "></towns></gml:featureMember></vtl:FeatureCollection></vtl:Veltram>\n");
    std::string out;
    ASSERT_EQ(Run("gml import " + Quote(dir / "in.gml") + " " + Quote(dir / "out.geojson"), &out), 0) << err;
    std::string layer, fieldName;
    EXPECT_EQ(OgrNames(dir / "out.geojson", &layer, &fieldName), std::vector<std::string>{c.text});
    EXPECT_EQ(layer, c.text);
    EXPECT_EQ(fieldName, c.field);
    ASSERT_EQ(Run("gml info " + Quote(dir / "in.gml"), &out), 0) << err;
    EXPECT_EQ(KeyValues(out)["layer"], "towns");
    EXPECT_EQ(KeyValues(out)["fields"], std::string(c.field) + ":xs:string:40");
    std::remove((dir / "out.geojson").c_str());
  }
  // A character reference the declared set cannot hold reaches us as "?":
  // the import fails rather than write it.
  dir.Put("ref.gml",
          "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\n<vtl:Veltram gml:version=\"3.0.0\">\n"
          "<vtl:FeatureCollectionInfo Name=\"towns\" Type=\"Point\"><vtl:UserPorpertyDefines>"
          "<vtl:UserPorpertyDefine Name=\"name\" Type=\"xs:string\"/></vtl:UserPorpertyDefines>"
          "</vtl:FeatureCollectionInfo>\n<vtl:FeatureCollection><gml:featureMember><towns><name>&#x4E2D;</name>"
          "</towns></gml:featureMember></vtl:FeatureCollection></vtl:Veltram>\n");
  EXPECT_EQ(Run("gml import " + Quote(dir / "ref.gml") + " " + Quote(dir / "ref.geojson")), 1);
  EXPECT_NE(err.find("ref.gml: holds a character reference to a character that windows-1251, the file's encoding, "
                     "cannot hold"),
            std::string::npos)
      << err;
}

// Export writes the texts in the set it declares: the bytes in the file are
// that set's, OGR's own GML reader and our import both read the text back.
TEST_F(VtfmtGml, ExportWritesTheDeclaredSet) {
  for (const Charset& c : kCharsets) {
    SCOPED_TRACE(c.declared);
    MakeTextSource(dir / "src.gpkg", {c.text, "plain"}, c.field);
    ASSERT_EQ(Run("gml export --charset " + std::to_string(c.code) + " " + Quote(dir / "src.gpkg") + " " +
                  Quote(dir / "x.gml")),
              0)
        << err;
    const std::string file = dir.Get("x.gml");
    const std::string declaration = std::string("<?xml version=\"1.0\" encoding=\"") + c.declared + "\"?>\n";
    EXPECT_EQ(file.compare(0, declaration.size(), declaration), 0) << file.substr(0, 60);
    const std::string field = Recode(c.field, c.declared);
    EXPECT_NE(file.find("<" + field + ">" + Recode(c.text, c.declared) + "</" + field + ">"), std::string::npos);
    EXPECT_NE(dir.Get("x.xsd").find("<xs:element name=\"" + field + "\" type=\"xs:string\""), std::string::npos);
    const std::vector<std::string> want = {c.text, "plain"};
    std::string fieldName;
    EXPECT_EQ(OgrNames(dir / "x.gml", nullptr, &fieldName), want);
    EXPECT_EQ(fieldName, c.field);
    ASSERT_EQ(Run("gml import " + Quote(dir / "x.gml") + " " + Quote(dir / "back.geojson")), 0) << err;
    fieldName.clear();
    EXPECT_EQ(OgrNames(dir / "back.geojson", nullptr, &fieldName), want);
    EXPECT_EQ(fieldName, c.field);
    for (const char* f : {"src.gpkg", "x.gml", "x.xsd", "x.gfs", "back.geojson"}) std::remove((dir / f).c_str());
  }
  // A text the set cannot hold fails the export, naming the feature and
  // field, and leaves no file.
  MakeTextSource(dir / "src.gpkg", {"plain", "\xE4\xB8\xAD"});  // a Chinese character
  EXPECT_EQ(Run("gml export --charset 204 " + Quote(dir / "src.gpkg") + " " + Quote(dir / "x.gml")), 1);
  EXPECT_NE(err.find("feature 2 of layer towns, field \"name\""), std::string::npos) << err;
  EXPECT_NE(err.find("windows-1251"), std::string::npos) << err;
  EXPECT_FALSE(dir.Exists("x.gml"));
}

// Values that an XML reader could not give back exactly are refused, naming
// the feature and field; other white space comes back as it was.
TEST_F(VtfmtGml, ValuesNoReaderGivesBackAreRefused) {
  const struct {
    const char* value;
    const char* why;
  } refused[] = {
      {"bell\x01", "control character (U+0001)"},
      {"\x1F", "control character (U+001F)"},
      {"cdata ]]> end", "\"]]>\""},
      {"<[[ start", "\"<[[\""},
  };
  for (const auto& r : refused) {
    SCOPED_TRACE(r.value);
    MakeTextSource(dir / "src.gpkg", {"first", r.value});
    EXPECT_EQ(Run("gml export " + Quote(dir / "src.gpkg") + " " + Quote(dir / "x.gml")), 1);
    EXPECT_NE(err.find("x.gml: feature 2 of layer towns, field \"name\""), std::string::npos) << err;
    EXPECT_NE(err.find(r.why), std::string::npos) << err;
    EXPECT_FALSE(dir.Exists("x.gml"));
    EXPECT_FALSE(dir.Exists("x.xsd"));
    std::remove((dir / "src.gpkg").c_str());
  }
  const std::vector<std::string> kept = {"two\r\nlines", "cr\ronly", "tab\tin", "a\nb"};
  MakeTextSource(dir / "src.gpkg", kept);
  ASSERT_EQ(Run("gml export " + Quote(dir / "src.gpkg") + " " + Quote(dir / "x.gml")), 0) << err;
  ASSERT_EQ(Run("gml import " + Quote(dir / "x.gml") + " " + Quote(dir / "back.geojson")), 0) << err;
  EXPECT_EQ(OgrNames(dir / "back.geojson"), kept);
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
