// The vtfmt tool end to end: exit codes, info keys, dump bytes.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "support/ToolRun.h"

namespace {

using Result = ToolResult;

class VtfmtTest : public ::testing::Test {
 protected:
  Result Run(const std::string& args) { return RunTool(dir, args); }
  static std::map<std::string, std::string> Keys(const std::string& text) { return KeyValues(text); }
  std::string Sample(const char* name) { return std::string(VTFMT_SOURCE_DIR) + "/samples/" + name; }
  ScratchDir dir;
};

TEST_F(VtfmtTest, InfoOfTheRawSample) {
  std::ifstream raw(Sample("dem.raw"), std::ios::binary), ifo(Sample("dem.ifo"), std::ios::binary);
  std::stringstream rawBytes, ifoText;
  rawBytes << raw.rdbuf();
  ifoText << ifo.rdbuf();
  dir.Put("dem.raw", rawBytes.str());
  dir.Put("dem.ifo", ifoText.str());

  Result r = Run("info -f raw " + Quote(dir / "dem.bmp"));
  ASSERT_EQ(r.status, 0) << r.err;
  auto keys = Keys(r.out);
  EXPECT_EQ(keys["driver"], "raw");
  EXPECT_EQ(keys["width"], "100");
  EXPECT_EQ(keys["height"], "50");
  EXPECT_EQ(keys["pixel_format"], "24");
  EXPECT_EQ(keys["pixel_format_ext"], "24");
  EXPECT_EQ(keys["width_bytes"], "300");
  EXPECT_EQ(keys["palette_entries"], "0");
  EXPECT_EQ(keys["row_order"], "top-down");
  EXPECT_EQ(keys["bounds"], "500 3100 700 3000");
  EXPECT_EQ(keys["raw_file"], dir / "dem.raw");
  EXPECT_TRUE(r.err.empty());

  // Without -f the sidecar beside dem.bmp picks the raw driver.
  Result detected = Run("info " + Quote(dir / "dem.bmp"));
  ASSERT_EQ(detected.status, 0) << detected.err;
  EXPECT_EQ(Keys(detected.out)["driver"], "raw");

  // dump: exactly the rows' bytes, nothing else on standard output.
  Result dump = Run("dump " + Quote(dir / "dem.bmp"));
  ASSERT_EQ(dump.status, 0) << dump.err;
  EXPECT_EQ(dump.out, rawBytes.str());
}

TEST_F(VtfmtTest, MissingSidecarExitsOneNamingTheFile) {
  dir.Put("dem.raw", std::string(300, 'x'));
  Result r = Run("info -f raw " + Quote(dir / "dem.bmp"));
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.out.empty());
  EXPECT_NE(r.err.find(dir / "dem.ifo"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("31334"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("does not exist"), std::string::npos) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);

  Result dump = Run("dump -f raw " + Quote(dir / "dem.bmp"));
  EXPECT_EQ(dump.status, 1);
  EXPECT_TRUE(dump.out.empty());
}

TEST_F(VtfmtTest, UnknownFilesExitOne) {
  dir.Put("notes.txt", "hello");
  Result r = Run("info " + Quote(dir / "notes.txt"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("notes.txt"), std::string::npos);
  r = Run("info " + Quote(dir / "nothing.here"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("nothing.here"), std::string::npos);
}

TEST_F(VtfmtTest, UsageErrorsExitTwo) {
  EXPECT_EQ(Run("").status, 2);
  EXPECT_EQ(Run("frobnicate x").status, 2);
  EXPECT_EQ(Run("info").status, 2);
  EXPECT_EQ(Run("info a b").status, 2);
  EXPECT_EQ(Run("info -f nosuchdriver x.raw").status, 2);
  EXPECT_EQ(Run("info -f").status, 2);
  EXPECT_EQ(Run("info -oo novalue x.raw").status, 2);
  EXPECT_EQ(Run("info -q x.raw").status, 2);
  EXPECT_EQ(Run("formats extra").status, 2);
  // raw takes no settings and cannot write.
  dir.Put("a.raw", "xxx");
  dir.Put("a.ifo", "Width=1\nHeight=1\n");
  EXPECT_EQ(Run("info -oo pixel_format=8 " + Quote(dir / "a.raw")).status, 2);
  EXPECT_EQ(Run("convert -F raw " + Quote(dir / "a.raw") + " " + Quote(dir / "b.raw")).status, 2);
  EXPECT_EQ(Run("convert " + Quote(dir / "a.raw") + " " + Quote(dir / "b.xyz")).status, 2);
  Result same = Run("convert " + Quote(dir / "a.raw") + " " + Quote(dir / "a.raw"));
  EXPECT_EQ(same.status, 2);
  EXPECT_NE(same.err.find("same file"), std::string::npos) << same.err;
  EXPECT_EQ(dir.Get("a.raw"), "xxx");
  Result help = Run("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("usage"), std::string::npos);
}

TEST_F(VtfmtTest, FormatsListsEveryDriverOnce) {
  Result r = Run("formats");
  ASSERT_EQ(r.status, 0);
  std::istringstream in(r.out);
  std::string name, caps, rest;
  ASSERT_TRUE(in >> name >> caps);
  EXPECT_EQ(name, "raw");
  EXPECT_EQ(caps, "read");
  EXPECT_NE(r.out.find(".raw"), std::string::npos);
}

}  // namespace

// The tool links neither the geodata library nor the GeoTIFF library and
// the projection library under it: they are loaded when a format needs
// them, so ordinary runs start quickly; a GeoTIFF still gets its bounds.
TEST(VtfmtStartTest, TheToolDoesNotLinkTheGeodataLibrary) {
  ScratchDir dir;
  const std::string cmd = "ldd " + Quote(VTFMT_TOOL_PATH) + " > " + Quote(dir / "libs");
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  const std::string libs = dir.Get("libs");
  EXPECT_NE(libs.find("libtiff"), std::string::npos) << libs;
  for (const char* name : {"libgdal", "libgeotiff", "libproj"}) EXPECT_EQ(libs.find(name), std::string::npos) << libs;
  const Result geo = RunTool(dir, "info " + Quote(std::string(VTFMT_SOURCE_DIR) + "/samples/dem-feet.tif"));
  ASSERT_EQ(geo.status, 0) << geo.err;
  EXPECT_NE(geo.out.find("bounds: 213360 457200 213512.4"), std::string::npos) << geo.out;
}
