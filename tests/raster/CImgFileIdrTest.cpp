// IDRISI rasters: images GDAL writes (its .rdc without the "file format"
// line is the old documentation file) read as GDAL reads them, unpadded;
// documentation files checked line by line; written pairs that both our
// reader and GDAL read back.
#include <gtest/gtest.h>

#include <gdal.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/vtcore/CVtErrorMsg.h"
#include "platform/vtcore/CVtImgToolkit.h"
#include "platform/vtcore/VtNumber.h"
#include "raster/CImgFileIdr.h"
#include "support/GdalEhdr.h"
#include "support/ScratchDir.h"

namespace {

const char kFormatLine[] = "file format : IDRISI Raster A.1\r\n";

// The documentation GDAL writes beside an .rst, less its first line.
std::string OldStyle(const std::string& rdc) { return rdc.substr(rdc.find('\n') + 1); }

// GDAL's RST writer: `name`.rst and `name`.rdc of band values `v`.
bool GdalWriteRst(const ScratchDir& dir, const std::string& name, GDALDataType type, int width, int height,
                  const std::vector<double>& v) {
  GDALAllRegister();
  GDALDatasetH ds =
      GDALCreate(GDALGetDriverByName("RST"), (dir / (name + ".rst")).c_str(), width, height, 1, type, nullptr);
  if (!ds) return false;
  const bool ok = GDALRasterIO(GDALGetRasterBand(ds, 1), GF_Write, 0, 0, width, height,
                               const_cast<double*>(v.data()), width, height, GDT_Float64, 0, 0) == CE_None;
  GDALClose(ds);
  return ok;
}

TEST(Idrisi, GdalWrittenImagesReadAsGdalReadsThem) {
  const struct {
    GDALDataType type;
    int width;
    ImgPixelFormat format;
  } cases[] = {{GDT_Byte, 5, PF_BIT8}, {GDT_Byte, 8, PF_BIT8}, {GDT_Int16, 7, PF_BIT16}, {GDT_Float32, 3, PF_BIT32}};
  const int height = 4;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.type) + " x " + std::to_string(c.width));
    ScratchDir dir;
    std::vector<double> v;
    for (int i = 0; i < c.width * height; ++i)
      v.push_back(c.type == GDT_Byte ? (i * 37) % 256 : c.type == GDT_Int16 ? i * 997 - 12000 : i * 0.75 - 3.5);
    ASSERT_TRUE(GdalWriteRst(dir, "g", c.type, c.width, height, v));
    dir.Put("g.DOC", OldStyle(dir.Get("g.rdc")));
    GdalBands g;
    ASSERT_TRUE(GdalReadBands(dir / "g.rst", g));

    CImgFileIdr idr;
    ASSERT_EQ(idr.OpenForRead((dir / "g.rst").c_str()), 1);
    ASSERT_EQ(idr.LoadImage(), 1);
    EXPECT_EQ(idr.GetWidth(), unsigned(c.width));
    EXPECT_EQ(idr.GetHeight(), unsigned(height));
    EXPECT_EQ(idr.GetPixelFormat(), c.format);
    EXPECT_EQ(idr.m_bmiHeader.biBitCount, CVtImgToolkit::BitCount(c.format));
    EXPECT_EQ(idr.GetWidthBytes(), (c.width * CVtImgToolkit::BitCount(c.format) / 8 + 3) / 4 * 4u);
    CImgScanLine line(c.format, static_cast<long>(idr.GetWidthBytes()));
    for (int row = 0; row < height; ++row) {
      // Rows come in file order whatever number is asked for.
      ASSERT_EQ(idr.ReadScanLine(height - 1 - row, line), line.GetSize());
      for (int x = 0; x < c.width; ++x) {
        double ours = line.GetValue(x);
        if (c.format == PF_BIT32) {
          float f;
          std::memcpy(&f, line.GetData() + 4 * x, 4);
          ours = f;
        }
        ASSERT_EQ(ours, g.At(0, row, x)) << row << " " << x;
      }
    }
    EXPECT_EQ(idr.ReadScanLine(0, line), -4);
    // A line too short for the row is refused.
    CImgScanLine small(c.format, static_cast<long>(idr.GetWidthBytes()) - 4);
    EXPECT_EQ(idr.ReadScanLine(0, small), -1);
  }
}

TEST(Idrisi, DocumentationChecksGiveTheirCodes) {
  const std::string good[16] = {"file title  : roads",  "data type   : byte",   "file type   : binary",
                                "columns     : 4",      "rows        : 3",      "ref. system : plane",
                                "ref. units  : m",      "unit dist.  : 1",      "min. X      : 0",
                                "max. X      : 4",      "min. Y      : 0",      "max. Y      : 3",
                                "pos'n error : unknown", "resolution  : 1",     "min. value  : 0",
                                "max. value  : 255"};
  auto doc = [&](int replace, const std::string& with, bool drop = false) {
    std::string text;
    for (int i = 0; i < 16; ++i) {
      if (i == replace && drop) continue;
      text += (i == replace ? with : good[i]) + "\r\n";
    }
    return text;
  };
  std::string capitals = doc(-1, "");
  for (char& ch : capitals) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  const struct {
    std::string text;
    long code;  // 0: accepted
  } cases[] = {
      {doc(-1, ""), 0},
      {capitals, 0},
      {doc(1, "data type   : integer  "), 0},
      {doc(0, "title       : roads"), 31343},
      {kFormatLine + doc(-1, ""), 31343},  // GDAL's .rdc
      {doc(1, "data type   : RGB24"), 31344},
      {doc(1, "data kind   : byte"), 31344},
      {doc(3, "colums      : 4"), 31345},
      {doc(4, "rows        : 0"), 31345},
      {doc(3, "columns     : 13"), 31345},  // rows longer than the 12-byte image
      {doc(12, "", true), 31346},  // a line missing between max. y and min. value
      {doc(15, "", true), 31346},
      {"file title  : cut\n", 31344},
  };
  ScratchDir dir;
  dir.Put("r.img", std::string(12, '\x01'));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    dir.Put("r.doc", c.text);
    CImgFileIdr idr;
    ASSERT_EQ(idr.OpenForRead((dir / "r.img").c_str()), 1);
    VtGetErrorMsgObj()->Clear();
    EXPECT_EQ(idr.LoadImage(), c.code ? -1 : 1);
    EXPECT_EQ(VtGetErrorMsgObj()->GetCode(), c.code);
  }
  // Without a documentation file: -1 and no message.
  CImgFileIdr lone;
  dir.Put("lone.img", "x");
  ASSERT_EQ(lone.OpenForRead((dir / "lone.img").c_str()), 1);
  VtGetErrorMsgObj()->Clear();
  EXPECT_EQ(lone.LoadImage(), -1);
  EXPECT_FALSE(VtGetErrorMsgObj()->HasMessage());
  EXPECT_EQ(lone.OpenForRead((dir / "none.img").c_str()), 0);
}

// What we write, we and GDAL read back: the rows, and the range of the
// values in the documentation file.
TEST(Idrisi, WrittenPairsReadBackHereAndInGdal) {
  const struct {
    ImgPixelFormat format;
    int width;
    const char* type;
  } cases[] = {{PF_BIT8, 5, "byte"}, {PF_BIT16, 3, "integer"}, {PF_FLOAT32, 6, "real"}};
  const int height = 3;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    ScratchDir dir;
    std::vector<CImgScanLine> rows;
    for (int y = 0; y < height; ++y) {
      rows.emplace_back(c.format, CVtImgToolkit::AlignWidth(c.format, c.width));
      for (int x = 0; x < c.width; ++x) {
        const int k = y * c.width + x;
        unsigned char* p = rows.back().GetData();
        if (c.format == PF_BIT8) p[x] = static_cast<unsigned char>(k * 50);
        if (c.format == PF_BIT16) {
          const int16_t v = static_cast<int16_t>(k * 3000 - 9000);
          std::memcpy(p + 2 * x, &v, 2);
        }
        if (c.format == PF_FLOAT32) {
          const float v = k * 0.5f - 1.25f;
          std::memcpy(p + 4 * x, &v, 4);
        }
      }
    }
    CImgFileIdr out;
    ASSERT_EQ(out.OpenForWrite((dir / "w.img").c_str()), 1);
    out.SetWidth(c.width);
    out.SetHeight(height);
    out.SetPixelFormat(c.format);
    EXPECT_EQ(out.WriteScanLine(0, rows[0]), -1);  // before the header
    ASSERT_EQ(out.SaveImage(), 1);
    for (int y = 0; y < height; ++y) ASSERT_EQ(out.WriteScanLine(y, rows[y]), c.width * CVtImgToolkit::BitCount(c.format) / 8);
    out.Close();
    EXPECT_EQ(dir.Get("w.img").size(), size_t(c.width) * height * CVtImgToolkit::BitCount(c.format) / 8);
    const std::string doc = dir.Get("w.doc");
    EXPECT_NE(doc.find(std::string("data type   : ") + c.type + "\r\n"), std::string::npos) << doc;

    CImgFileIdr in;
    ASSERT_EQ(in.OpenForRead((dir / "w.img").c_str()), 1);
    ASSERT_EQ(in.LoadImage(), 1);
    EXPECT_EQ(in.m_strTitle, "w");
    CImgScanLine line(in.GetPixelFormat(), static_cast<long>(in.GetWidthBytes()));
    for (int y = 0; y < height; ++y) {
      ASSERT_GT(in.ReadScanLine(y, line), 0);
      ASSERT_EQ(std::memcmp(line.GetData(), rows[y].GetData(), CVtImgToolkit::AlignWidthByte(c.format, c.width)), 0);
    }

    dir.Put("w.rst", dir.Get("w.img"));
    dir.Put("w.rdc", kFormatLine + doc);
    GdalBands g;
    ASSERT_TRUE(GdalReadBands(dir / "w.rst", g));
    double lo = 1e300, hi = -1e300;
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < c.width; ++x) {
        EXPECT_EQ(g.At(0, y, x), rows[y].GetValue(x));
        lo = std::min(lo, g.At(0, y, x)), hi = std::max(hi, g.At(0, y, x));
      }
    EXPECT_NE(doc.find("min. value  : " + vtnum::Shortest(lo) + "\r\n"), std::string::npos) << doc;
    EXPECT_NE(doc.find("max. value  : " + vtnum::Shortest(hi) + "\r\n"), std::string::npos) << doc;
  }

  // Pixels IDRISI has no type for are refused with a message.
  ScratchDir dir;
  CImgFileIdr rgb;
  ASSERT_EQ(rgb.OpenForWrite((dir / "rgb.img").c_str()), 1);
  rgb.SetPixelFormat(PF_BIT24);
  VtGetErrorMsgObj()->Clear();
  EXPECT_EQ(rgb.SaveImage(), -1);
  EXPECT_NE(VtGetErrorMsgObj()->GetMessage().Find("24"), -1);
  rgb.Close();
  EXPECT_FALSE(dir.Exists("rgb.doc"));
}

}  // namespace
