// vtfmt convert across row orders: an ASCII grid (top row first, readable
// only forwards) to a BMP (bottom row first) and back, checked through GDAL,
// and a failed conversion leaving no output behind.
#include <gdal.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "support/GdalRaster.h"
#include "support/ToolRun.h"

namespace {

// Band 1 of `path` as GDAL reads it, top row first.
std::vector<double> GdalCells(const std::string& path, int& width, int& height) {
  GdalGrid g;
  if (!GdalReadGrid(path, g)) return {};
  width = g.width;
  height = g.height;
  return g.values;
}

// An ASCII grid of `width` x `height` whose cells differ along both axes, so
// a reversed or shifted row shows.
std::string Grid(int width, int height, bool lastRowShort = false) {
  std::string text = "ncols " + std::to_string(width) + "\nnrows " + std::to_string(height) +
                     "\nxllcorner 1000\nyllcorner 2000\ncellsize 5\nNODATA_value -9999\n";
  for (int r = 0; r < height; ++r) {
    const int cells = (lastRowShort && r == height - 1) ? width - 1 : width;
    for (int c = 0; c < cells; ++c) {
      const double v = (r * 31 + c * 7) % 250 + 0.75;
      text += (r == 1 && c == 2) ? std::string("-9999") : std::to_string(v);
      text += c + 1 < cells ? " " : "\n";
    }
  }
  return text;
}

TEST(VtfmtConvertTest, GridToBmpAndBackKeepsEveryRowInPlace) {
  ScratchDir dir;
  dir.Put("g.asc", Grid(37, 23));
  // Cells are not colours: a picture format takes them only scaled.
  ToolResult r = RunTool(dir, "convert " + Quote(dir / "g.asc") + " " + Quote(dir / "g.bmp"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("-scale"), std::string::npos) << r.err;
  EXPECT_FALSE(dir.Exists("g.bmp"));
  // 0 to 255 onto 0 to 255: each cell rounded, no data 0.
  r = RunTool(dir, "convert -scale 0 255 " + Quote(dir / "g.asc") + " " + Quote(dir / "g.bmp"));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(KeyValues(RunTool(dir, "info " + Quote(dir / "g.bmp")).out)["row_order"], "bottom-up");

  int gw = 0, gh = 0, bw = 0, bh = 0;
  const std::vector<double> grid = GdalCells(dir / "g.asc", gw, gh);
  const std::vector<double> bmp = GdalCells(dir / "g.bmp", bw, bh);
  ASSERT_EQ(bw, gw);
  ASSERT_EQ(bh, gh);
  ASSERT_EQ(bmp.size(), grid.size());
  for (size_t i = 0; i < grid.size(); ++i)
    ASSERT_EQ(bmp[i], grid[i] == -9999 ? 0 : std::floor(grid[i] + 0.5)) << "cell " << i;

  // Back again: the BMP is read from its last file row, the top of the picture.
  r = RunTool(dir, "convert " + Quote(dir / "g.bmp") + " " + Quote(dir / "back.asc"));
  ASSERT_EQ(r.status, 0) << r.err;
  int aw = 0, ah = 0;
  EXPECT_EQ(GdalCells(dir / "back.asc", aw, ah), bmp);
}

TEST(VtfmtConvertTest, AFailedReadLeavesNoOutput) {
  ScratchDir dir;
  dir.Put("short.asc", Grid(9, 6, true));
  for (const char* out : {"out.bmp", "out.asc"}) {
    const ToolResult r = RunTool(dir, "convert " + Quote(dir / "short.asc") + " " + Quote(dir / out));
    EXPECT_EQ(r.status, 1) << out;
    EXPECT_NE(r.err.find("cannot read row 5"), std::string::npos) << r.err;
    EXPECT_FALSE(dir.Exists(out)) << out;
  }
  // An output that is not a regular file (a pipe here; /dev/null alike) is
  // written to, but never removed: a TIFF cannot be written into a pipe.
  const std::string fifo = dir / "pipe.tif";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // A reader that never blocks keeps the pipe open while the tool runs.
  const int drain = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(drain, 0);
  std::atomic<bool> done{false};
  std::thread reader([&] {
    char buffer[4096];
    while (!done) {
      if (read(drain, buffer, sizeof buffer) <= 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  const ToolResult r =
      RunTool(dir, "convert " + Quote(std::string(VTFMT_SOURCE_DIR) + "/samples/dem.bmp") + " " + Quote(fifo));
  done = true;
  reader.join();
  close(drain);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("cannot write row"), std::string::npos) << r.err;
  struct stat st;
  ASSERT_EQ(lstat(fifo.c_str(), &st), 0) << "the pipe was removed";
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

}  // namespace
