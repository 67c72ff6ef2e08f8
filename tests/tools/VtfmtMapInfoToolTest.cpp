// vtfmt mapinfo against OGR: info reports what OGR reports; a table exported
// and imported again keeps its features.
#include <gtest/gtest.h>
#include <ogrsf_frmts.h>

#include <memory>

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

}  // namespace
