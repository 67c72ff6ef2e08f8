// vtfmt mapinfo against OGR: info reports what OGR reports; a table exported
// and imported again keeps its features.
#include <gtest/gtest.h>
#include <ogrsf_frmts.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "support/ToolRun.h"

namespace {

class VtfmtMapInfo : public ToolTest {};

TEST_F(VtfmtMapInfo, InfoExportAndImport) {
  dir.Put("t.mif",
          "Version 300\nCharset \"WindowsLatin1\"\nDelimiter \",\"\n"
          "CoordSys Earth Projection 8, 104, \"nmi\", 3, 0, 0.9996, 270, 0\n"
          "Columns 3\n  name Char(10)\n  ok Logical\n  dec Decimal(8,2)\nData\n\n"
          "Point 1.5 2.5\nPline 2\n0 0\n3 4\nRegion 2\n  5\n0 0\n9 0\n9 9\n0 9\n0 0\n  4\n1 1\n2 1\n2 2\n1 1\n"
          "Text\n    \"Town\"\n    1 1 2 2\n");
  dir.Put("t.mid", "\"a & b\",\"T\",1.25\n\"c\",\"F\",2.50\n\"d\",\"T\",-3.75\n\"label\",\"F\",0\n");
  std::string out;
  ASSERT_EQ(Run("mapinfo info " + Quote(dir / "t.mid"), &out), 0) << err;
  auto keys = KeyValues(out);
  EXPECT_EQ(keys["table"], "t");
  EXPECT_EQ(keys["features"], "4");
  EXPECT_EQ(keys["points"] + keys["lines"] + keys["regions"] + keys["texts"], "1111");
  EXPECT_EQ(keys["bounds"], "0 9 9 0");
  EXPECT_EQ(keys["projection_id"], "8");
  EXPECT_EQ(keys["units_code"], "9");
  EXPECT_EQ(keys["unit_size"], "16090000");
  EXPECT_NE(keys["unit_size_note"].find("18520000"), std::string::npos);
  EXPECT_EQ(keys["fields"], "name:char:10:0,ok:logical:1:0,dec:decimal:8:2");

  ASSERT_EQ(Run("mapinfo export " + Quote(dir / "t.mif") + " " + Quote(dir / "t.gpkg"), &out), 0) << err;
  ASSERT_EQ(Run("mapinfo import " + Quote(dir / "t.gpkg") + " " + Quote(dir / "again.tab"), &out), 0) << err;
  GDALAllRegister();
  std::unique_ptr<GDALDataset> a(static_cast<GDALDataset*>(GDALOpenEx((dir / "t.mif").c_str(), GDAL_OF_VECTOR, nullptr, nullptr, nullptr)));
  std::unique_ptr<GDALDataset> b(static_cast<GDALDataset*>(GDALOpenEx((dir / "again.tab").c_str(), GDAL_OF_VECTOR, nullptr, nullptr, nullptr)));
  ASSERT_NE(b, nullptr);
  OGRLayer* la = a->GetLayer(0);
  OGRLayer* lb = b->GetLayer(0);
  ASSERT_EQ(lb->GetFeatureCount(), 4);
  for (GIntBig id = 1; id <= 4; ++id) {
    std::unique_ptr<OGRFeature> fa(la->GetFeature(id)), fb(lb->GetFeature(id));
    ASSERT_NE(fb, nullptr);
    EXPECT_STREQ(fa->GetFieldAsString(0), fb->GetFieldAsString(0));
    EXPECT_DOUBLE_EQ(fa->GetFieldAsDouble(2), fb->GetFieldAsDouble(2));
    EXPECT_TRUE(fa->GetGeometryRef()->Equals(fb->GetGeometryRef())) << id;
  }
  EXPECT_TRUE(la->GetSpatialRef()->IsSame(lb->GetSpatialRef()));
}

TEST_F(VtfmtMapInfo, BadInputsFailWithTheirExitCodes) {
  dir.Put("bad.tab", "not a table\n");
  EXPECT_EQ(Run("mapinfo info " + Quote(dir / "missing.tab")), 1);
  EXPECT_EQ(Run("mapinfo info " + Quote(dir / "bad.tab")), 1);
  EXPECT_EQ(Run("mapinfo info " + Quote(dir / "x.shp")), 1);
  EXPECT_NE(err.find("not a MapInfo file"), std::string::npos) << err;
  EXPECT_EQ(Run("mapinfo frob x"), 2);
  EXPECT_EQ(Run("mapinfo import " + Quote(dir / "missing.shp") + " " + Quote(dir / "o.tab")), 1);
}

std::string Sample(const char* name) {
  std::ifstream in(std::string(VTFMT_SOURCE_DIR) + "/samples/" + name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A MIF/MID pair cut anywhere past the .mif header, or a .mid cut before its
// last field, fails with one line naming the file: OGR reads cut objects
// and short records as errors, and objects cut off at a line end leave
// .mid records without an object. `export` then leaves no output.
TEST_F(VtfmtMapInfo, CutTablesFailNamingTheFile) {
  const std::string mif = Sample("parcels.mif"), mid = Sample("parcels.mid");
  // Cuts inside the last number of either file leave a shorter number that
  // reads as whole: those stay out of reach.
  const size_t data = mif.find("Data\n"), lastNumber = mif.rfind(' ') + 1, lastField = mid.rfind(',') + 1;
  ASSERT_NE(data, std::string::npos);
  struct Cut {
    size_t mifBytes, midBytes;
  };
  std::vector<Cut> cuts;
  for (size_t n = data + 5; n < lastNumber; n += 8) cuts.push_back({n, mid.size()});
  for (size_t n = 0; n < lastField; n += 8) cuts.push_back({mif.size(), n});
  cuts.push_back({mif.size(), mid.rfind('\n', mid.size() - 2) + 1});  // the last record missing whole
  for (const Cut& c : cuts) {
    const std::string where = "mif " + std::to_string(c.mifBytes) + ", mid " + std::to_string(c.midBytes);
    dir.Put("c.mif", mif.substr(0, c.mifBytes));
    dir.Put("c.mid", mid.substr(0, c.midBytes));
    std::string out;
    EXPECT_EQ(Run("mapinfo info " + Quote(dir / "c.mif"), &out), 1) << where << "\n" << out;
    EXPECT_EQ(err.rfind("vtfmt mapinfo: " + dir / "c.mif" + ": ", 0), 0u) << where << ": " << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << where << ": " << err;
  }
  // One cut through export: it fails and leaves nothing behind.
  dir.Put("c.mif", mif.substr(0, data + 60));
  dir.Put("c.mid", mid);
  EXPECT_EQ(Run("mapinfo export " + Quote(dir / "c.mif") + " " + Quote(dir / "c.geojson")), 1);
  EXPECT_NE(err.find("records but the .mif"), std::string::npos) << err;
  EXPECT_FALSE(dir.Exists("c.geojson"));
  // Whole, or missing only its last line end, the pair reads all four.
  for (const size_t n : {mif.size(), mif.size() - 1}) {
    dir.Put("c.mif", mif.substr(0, n));
    std::string out;
    ASSERT_EQ(Run("mapinfo info " + Quote(dir / "c.mif"), &out), 0) << err;
    EXPECT_EQ(KeyValues(out)["features"], "4");
  }
}

// A native table with a deleted record exports every feature that is left,
// the last one included: ids are those the table holds, not 1 to the count.
TEST_F(VtfmtMapInfo, ExportSkipsDeletedRecordsOnly) {
  GDALAllRegister();
  {
    std::unique_ptr<GDALDataset> ds(GetGDALDriverManager()->GetDriverByName("MapInfo File")
                                        ->Create((dir / "t.tab").c_str(), 0, 0, 0, GDT_Unknown, nullptr));
    OGRLayer* layer = ds->CreateLayer("t", nullptr, wkbPoint, nullptr);
    OGRFieldDefn field("a", OFTInteger);
    layer->CreateField(&field);
    for (int i = 1; i <= 4; ++i) {
      OGRFeature f(layer->GetLayerDefn());
      f.SetField(0, i * 10);
      f.SetGeometry(std::make_unique<OGRPoint>(i, 1).get());
      ASSERT_EQ(layer->CreateFeature(&f), OGRERR_NONE);
    }
  }
  {
    std::unique_ptr<GDALDataset> ds(
        static_cast<GDALDataset*>(GDALOpenEx((dir / "t.tab").c_str(), GDAL_OF_VECTOR | GDAL_OF_UPDATE, nullptr, nullptr, nullptr)));
    ASSERT_EQ(ds->GetLayer(0)->DeleteFeature(2), OGRERR_NONE);
  }
  std::string out;
  ASSERT_EQ(Run("mapinfo export " + Quote(dir / "t.tab") + " " + Quote(dir / "t.geojson"), &out), 0) << err;
  EXPECT_EQ(KeyValues(out)["features"], "3");
  std::unique_ptr<GDALDataset> written(
      static_cast<GDALDataset*>(GDALOpenEx((dir / "t.geojson").c_str(), GDAL_OF_VECTOR, nullptr, nullptr, nullptr)));
  ASSERT_NE(written, nullptr);
  std::string values;
  for (auto& feature : *written->GetLayer(0)) values += std::to_string(feature->GetFieldAsInteger(0)) + " ";
  EXPECT_EQ(values, "10 30 40 ");
}

}  // namespace
