// Every reader's files through every writer: rasters of each kind of pixel
// (palette indices of 1, 4 and 8 bits, grey, RGB, RGBA, 16-bit colour,
// unsigned and signed 16-bit, 32-bit integer and float cells, doubles) and
// of widths that do and do not fill a 4-byte row, made by GDAL in the
// formats it writes and we read, converted by `vtfmt convert` into each
// writing driver. Each pair either reads back in GDAL with the source's
// values (JPEG within its loss, GIF through its palette) or exits 1 with a
// one-line reason: no pair exits 0 with a changed value.
#include <gdal.h>
#include <gdal_priv.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "support/ToolRun.h"

namespace {

// A raster as GDAL reads it: every band as doubles, top row first, with
// palette indices replaced by their colours.
struct Raster {
  int width = 0, height = 0, bands = 0;
  std::vector<double> values;  // pixel by pixel, bands interleaved
  bool indexed = false;
};

// `indices`: palette indices as they are, not their colours. ASCII grids
// are read as doubles unless `singles` (GDAL's default reads singles: the
// nearest single to each decimal, as a single grid is written).
bool ReadRaster(const std::string& path, Raster& r, bool indices = false, bool singles = false) {
  GDALAllRegister();
  const char* options[] = {"DATATYPE=Float64", nullptr};
  const bool grid = path.size() > 4 && path.compare(path.size() - 4, 4, ".asc") == 0;
  GDALDatasetH ds =
      GDALOpenEx(path.c_str(), GDAL_OF_RASTER, nullptr, grid && !singles ? options : nullptr, nullptr);
  if (!ds) return false;
  r.width = GDALGetRasterXSize(ds);
  r.height = GDALGetRasterYSize(ds);
  r.bands = GDALGetRasterCount(ds);
  r.values.resize(static_cast<size_t>(r.width) * r.height * r.bands);
  const CPLErr err =
      GDALDatasetRasterIO(ds, GF_Read, 0, 0, r.width, r.height, r.values.data(), r.width, r.height,
                          GDT_Float64, r.bands, nullptr, 8 * r.bands, 8L * r.bands * r.width, 8);
  GDALColorTableH table =
      r.bands == 1 && !indices ? GDALGetRasterColorTable(GDALGetRasterBand(ds, 1)) : nullptr;
  if (table) {
    // Colours for indices: three bands.
    std::vector<double> colours;
    for (double v : r.values) {
      const GDALColorEntry* e = GDALGetColorEntry(table, static_cast<int>(v));
      colours.insert(colours.end(),
                     {e ? double(e->c1) : -1.0, e ? double(e->c2) : -1.0, e ? double(e->c3) : -1.0});
    }
    r.values.swap(colours);
    r.bands = 3;
    r.indexed = true;
  }
  GDALClose(ds);
  return err == CE_None;
}

// Grey levels as three equal colour samples, so that grey and colour rasters compare.
Raster AsColour(const Raster& r) {
  if (r.bands != 1) return r;
  Raster c = r;
  c.bands = 3;
  c.values.clear();
  for (double v : r.values) c.values.insert(c.values.end(), {v, v, v});
  return c;
}

// The kinds of pixel, each made by a function of (x, y, band).
struct Kind {
  const char* name;
  GDALDataType type;
  int bands;
  int nbits;        // 1 or 4 for packed indices, else 0
  int paletteSize;  // entries of the colour table, 0 for none
  std::function<double(int, int, int)> value;
};

// Smooth enough for JPEG to keep within a few levels.
double Smooth(int x, int y, int b) { return std::fmod(40.0 + 3.0 * x + 5.0 * y + 60.0 * b, 200.0); }

const std::vector<Kind>& Kinds() {
  static const std::vector<Kind> kinds = {
      {"pal1", GDT_Byte, 1, 1, 2, [](int x, int y, int) { return (x + y) % 2; }},
      {"pal4", GDT_Byte, 1, 4, 16, [](int x, int y, int) { return (x * 3 + y) % 16; }},
      {"pal8", GDT_Byte, 1, 0, 151, [](int x, int y, int) { return (x * 7 + y * 13) % 151; }},
      {"grey", GDT_Byte, 1, 0, 0, Smooth},
      {"rgb", GDT_Byte, 3, 0, 0, Smooth},
      {"rgba", GDT_Byte, 4, 0, 0,
       [](int x, int y, int b) { return b == 3 ? (x * 40 + y) % 256 : Smooth(x, y, b); }},
      {"rgb16", GDT_UInt16, 3, 0, 0, [](int x, int y, int b) { return 1000.0 * x + 300.0 * y + 7000.0 * b; }},
      {"u16", GDT_UInt16, 1, 0, 0, [](int x, int y, int) { return (x * 997 + y * 40000) % 65536; }},
      {"i16", GDT_Int16, 1, 0, 0, [](int x, int y, int) { return (x * 997 + y * 311) % 60000 - 30000; }},
      {"i32", GDT_Int32, 1, 0, 0, [](int x, int y, int) { return (x * 99991.0 + y * 7) * (x % 2 ? -1 : 1); }},
      {"f32", GDT_Float32, 1, 0, 0, [](int x, int y, int) { return static_cast<float>(x * 0.1 - y * 3.25); }},
      {"f32whole", GDT_Float32, 1, 0, 0, [](int x, int y, int) { return x * 3.0 - y; }},
      {"f64", GDT_Float64, 1, 0, 0, [](int x, int y, int) { return x * 0.1 + y * 1e-9; }},
  };
  return kinds;
}

const Kind& KindNamed(const std::string& name) {
  for (const Kind& k : Kinds())
    if (name == k.name) return k;
  static const Kind none{};
  return none;
}

// What GDAL writes each kind as, with creation options: the reading drivers
// under test.
struct Source {
  const char* kind;
  const char* gdalDriver;
  const char* extension;
  std::vector<const char*> options;
};

const std::vector<Source>& Sources() {
  static const std::vector<Source> sources = {
      {"pal1", "GTiff", ".tif", {"NBITS=1"}},
      {"pal1", "PNG", ".png", {"NBITS=1"}},
      {"pal4", "GTiff", ".tif", {"NBITS=4"}},
      {"pal4", "PNG", ".png", {"NBITS=4"}},
      {"pal8", "GTiff", ".tif", {}},
      {"pal8", "PNG", ".png", {}},
      {"pal8", "BMP", ".bmp", {}},
      {"pal8", "GIF", ".gif", {}},
      {"grey", "GTiff", ".tif", {}},
      {"grey", "PNG", ".png", {}},
      {"grey", "JPEG", ".jpg", {"QUALITY=95"}},
      {"grey", "EHdr", ".bil", {}},
      {"grey", "HFA", ".img", {}},
      {"rgb", "GTiff", ".tif", {}},
      {"rgb", "PNG", ".png", {}},
      {"rgb", "BMP", ".bmp", {}},
      {"rgb", "JPEG", ".jpg", {"QUALITY=95"}},
      {"rgba", "GTiff", ".tif", {"ALPHA=YES"}},
      {"rgba", "PNG", ".png", {}},
      {"rgb16", "GTiff", ".tif", {}},
      {"u16", "GTiff", ".tif", {}},
      {"u16", "HFA", ".img", {}},
      {"i16", "GTiff", ".tif", {}},
      {"i16", "EHdr", ".bil", {}},
      {"i16", "AAIGrid", ".asc", {}},
      {"i32", "GTiff", ".tif", {}},
      {"i32", "AAIGrid", ".asc", {}},
      {"i32", "HFA", ".img", {}},
      {"f32", "GTiff", ".tif", {}},
      {"f32", "AAIGrid", ".asc", {}},
      {"f32", "HFA", ".img", {}},
      {"f32whole", "GTiff", ".tif", {}},
      {"f64", "GTiff", ".tif", {}},
  };
  return sources;
}

// The writers, and the kinds each keeps (the rest it must refuse).
struct Writer {
  const char* driver;
  const char* extension;
  std::set<std::string> keeps;
};

const std::vector<Writer>& Writers() {
  static const std::set<std::string> pictures = {"pal1", "pal4", "pal8", "grey", "rgb"};
  static const std::vector<Writer> writers = {
      {"bmp", ".bmp", pictures},
      {"png", ".png", {"pal1", "pal4", "pal8", "grey", "rgb", "rgba"}},
      {"jpeg", ".jpg", pictures},
      {"gif", ".gif", pictures},
      {"tiff",
       ".tif",
       {"pal1", "pal4", "pal8", "grey", "rgb", "rgba", "rgb16", "u16", "i16", "i32", "f32", "f32whole",
        "f64"}},
      {"aaigrid", ".asc", {"pal1", "pal4", "pal8", "grey", "u16", "i16", "i32", "f32", "f32whole", "f64"}},
      {"nsdtf", ".nsdtf", {"pal1", "pal4", "pal8", "grey", "u16", "i16", "i32", "f32whole"}},
      {"idrisi", ".img", {"pal1", "pal4", "pal8", "grey", "u16", "i16", "i32", "f32", "f32whole"}},
  };
  return writers;
}

bool MakeSource(const Source& s, const std::string& path, int width, int height) {
  const Kind& k = KindNamed(s.kind);
  GDALAllRegister();
  GDALDatasetH mem = GDALCreate(GDALGetDriverByName("MEM"), "", width, height, k.bands, k.type, nullptr);
  std::vector<double> band(static_cast<size_t>(width) * height);
  for (int b = 0; b < k.bands; ++b) {
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) band[static_cast<size_t>(y) * width + x] = k.value(x, y, b);
    if (GDALRasterIO(GDALGetRasterBand(mem, b + 1), GF_Write, 0, 0, width, height, band.data(), width, height,
                     GDT_Float64, 0, 0) != CE_None)
      return false;
  }
  if (k.paletteSize > 0) {
    GDALColorTableH table = GDALCreateColorTable(GPI_RGB);
    for (int i = 0; i < k.paletteSize; ++i) {
      const GDALColorEntry e = {short((i * 37) % 256), short((i * 91 + 17) % 256), short((255 - i * 5) % 256),
                                255};
      GDALSetColorEntry(table, i, &e);
    }
    GDALSetRasterColorTable(GDALGetRasterBand(mem, 1), table);
    GDALDestroyColorTable(table);
  }
  std::vector<const char*> options = s.options;
  options.push_back(nullptr);
  GDALDatasetH out = GDALCreateCopy(GDALGetDriverByName(s.gdalDriver), path.c_str(), mem, FALSE,
                                    const_cast<char**>(options.data()), nullptr, nullptr);
  GDALClose(mem);
  if (!out) return false;
  GDALClose(out);
  return true;
}

// GDAL with the vtfmt plugin loaded, which reads NSDTF and old-style IDRISI.
bool LoadPlugin() {
  GDALAllRegister();
  if (GDALGetDriverByName("VTFMT_NSDTF")) return true;
  CPLSetConfigOption("GDAL_DRIVER_PATH", VTFMT_GDAL_PLUGIN_DIR);
  GetGDALDriverManager()->AutoLoadDrivers();
  return GDALGetDriverByName("VTFMT_NSDTF") != nullptr;
}

// Reads what we wrote (NSDTF and IDRISI through the plugin).
bool ReadOutput(const std::string& path, Raster& r, bool singles = false) {
  return LoadPlugin() && ReadRaster(path, r, false, singles);
}

// The largest difference between two rasters, or infinity when their sizes differ.
double Difference(const Raster& a, const Raster& b) {
  if (a.width != b.width || a.height != b.height || a.bands != b.bands || a.values.size() != b.values.size())
    return HUGE_VAL;
  double d = 0;
  for (size_t i = 0; i < a.values.size(); ++i) d = std::max(d, std::fabs(a.values[i] - b.values[i]));
  return d;
}

// What GDAL's own JPEG writer at quality 100 loses on `r`: the largest
// difference between `r` and its decoding.
double GdalJpegLoss(const ScratchDir& dir, const Raster& r) {
  GDALDatasetH mem =
      GDALCreate(GDALGetDriverByName("MEM"), "", r.width, r.height, r.bands, GDT_Byte, nullptr);
  std::vector<double> values = r.values;
  GDALDatasetRasterIO(mem, GF_Write, 0, 0, r.width, r.height, values.data(), r.width, r.height, GDT_Float64,
                      r.bands, nullptr, 8 * r.bands, 8L * r.bands * r.width, 8);
  const char* options[] = {"QUALITY=100", nullptr};
  const std::string path = dir / "gdal-reference.jpg";
  GDALDatasetH out = GDALCreateCopy(GDALGetDriverByName("JPEG"), path.c_str(), mem, FALSE,
                                    const_cast<char**>(options), nullptr, nullptr);
  GDALClose(mem);
  if (!out) return -1;
  GDALClose(out);
  Raster back;
  if (!ReadRaster(path, back)) return -1;
  return Difference(r, back);
}

size_t Colours(const Raster& r) {
  std::set<std::vector<double>> seen;
  for (size_t i = 0; i < r.values.size(); i += static_cast<size_t>(r.bands))
    seen.insert(std::vector<double>(r.values.begin() + static_cast<long>(i),
                                    r.values.begin() + static_cast<long>(i) + r.bands));
  return seen.size();
}

void PrintTo(const Source& s, std::ostream* os) { *os << s.kind << " from " << s.gdalDriver; }

class VtfmtConvertMatrix : public ::testing::TestWithParam<Source> {};

TEST_P(VtfmtConvertMatrix, EveryPairKeepsItsValuesOrFailsWithAReason) {
  const Source& source = GetParam();
  ASSERT_TRUE(LoadPlugin());
  ScratchDir dir;
  // Rows of every padding from PNG, whose reader hands out unpadded rows;
  // two widths from the others.
  const std::string gdalDriver = source.gdalDriver;
  const std::vector<int> widths =
      gdalDriver == "PNG" ? std::vector<int>{1, 3, 53, 64, 127} : std::vector<int>{3, 53};
  for (int width : widths) {
    const int height = 5;
    const std::string in = dir / (std::string(source.kind) + "_" + source.gdalDriver + "_" +
                                  std::to_string(width) + source.extension);
    ASSERT_TRUE(MakeSource(source, in, width, height)) << in;
    Raster expected, numbers;
    ASSERT_TRUE(ReadRaster(in, expected)) << in;
    ASSERT_TRUE(ReadRaster(in, numbers, true)) << in;
    for (const Writer& writer : Writers()) {
      const std::string what = in + " -> " + writer.driver;
      const std::string out = dir / (std::string("out") + writer.extension);
      const ToolResult r =
          RunTool(dir, "convert -F " + std::string(writer.driver) + " " + Quote(in) + " " + Quote(out));
      const bool keeps = writer.keeps.count(source.kind) > 0;
      if (r.status != 0) {
        EXPECT_EQ(r.status, 1) << what << ": " << r.err;
        EXPECT_FALSE(keeps) << what << " failed: " << r.err;
        // One line, naming a file.
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << what << ": " << r.err;
        EXPECT_TRUE(r.err.find(in) != std::string::npos || r.err.find(out) != std::string::npos) << r.err;
        EXPECT_FALSE(dir.Exists(std::string("out") + writer.extension)) << what << " left its output";
        continue;
      }
      EXPECT_TRUE(keeps) << what << " exited 0 for a kind it cannot keep";
      Raster got;
      ASSERT_TRUE(ReadOutput(out, got, KindNamed(source.kind).type == GDT_Float32)) << what;
      const std::string w = writer.driver;
      // Pictures compare as colours, grey levels as grey colours; grids
      // hold the source's numbers, palette indices included.
      const bool grid = w == "aaigrid" || w == "nsdtf" || w == "idrisi";
      const bool picture = !grid && (expected.indexed || got.indexed || w != "tiff");
      const Raster a = picture ? AsColour(expected) : grid ? numbers : expected;
      const Raster b = picture ? AsColour(got) : got;
      const double d = Difference(a, b);
      if (w == "jpeg") {
        // JPEG's own loss: no more than GDAL's writer at its best quality, and a level.
        const Raster reference = got.bands == 1 ? expected : a;
        EXPECT_LE(d, GdalJpegLoss(dir, reference) + 1) << what;
      } else if (w == "gif" && Colours(a) > 256) {
        EXPECT_NE(d, HUGE_VAL) << what;  // quantized: only the size is kept
      } else {
        EXPECT_EQ(d, 0) << what;
      }
      std::remove(out.c_str());
    }
  }
}

std::string SourceName(const ::testing::TestParamInfo<Source>& info) {
  return std::string(info.param.kind) + "_" + info.param.gdalDriver;
}

INSTANTIATE_TEST_SUITE_P(Sources, VtfmtConvertMatrix, ::testing::ValuesIn(Sources()), SourceName);

// -scale puts any cells onto 8-bit grey for every picture writer: the
// smallest cell black, the largest white, in a straight line between.
TEST(VtfmtConvertScale, ScaledCellsReachEveryPictureWriter) {
  ASSERT_TRUE(LoadPlugin());
  ScratchDir dir;
  for (const char* kind : {"u16", "i16", "i32", "f32", "f64"}) {
    const std::string in = dir / (std::string(kind) + ".tif");
    ASSERT_TRUE(MakeSource({kind, "GTiff", ".tif", {}}, in, 53, 4));
    Raster cells;
    ASSERT_TRUE(ReadRaster(in, cells));
    const auto range = std::minmax_element(cells.values.begin(), cells.values.end());
    const double lo = *range.first, hi = *range.second;
    for (const char* writer : {"bmp", "png", "gif", "tiff"}) {
      const std::string out = dir / (std::string("s.") + writer);
      const ToolResult r =
          RunTool(dir, "convert -scale -F " + std::string(writer) + " " + Quote(in) + " " + Quote(out));
      ASSERT_EQ(r.status, 0) << kind << " -> " << writer << ": " << r.err;
      Raster grey;
      ASSERT_TRUE(ReadOutput(out, grey));
      const Raster g = AsColour(grey);
      ASSERT_EQ(g.values.size(), cells.values.size() * 3) << writer;
      for (size_t i = 0; i < cells.values.size(); ++i)
        ASSERT_EQ(g.values[3 * i], std::floor((cells.values[i] - lo) / (hi - lo) * 255.0 + 0.5))
            << kind << " -> " << writer << " cell " << i;
    }
  }
}

}  // namespace
