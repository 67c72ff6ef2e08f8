// Compressed TIFF files decoded ahead on worker threads: the same rows, and
// the same failure for a damaged strip, as on the calling thread alone; no
// threads for small files or uncompressed ones.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/vtcore/CVtErrorMsg.h"
#include "raster/CImgFileTiff.h"
#include "support/GdalTiff.h"
#include "support/ScratchDir.h"

namespace {

// Every row of every plane of `path`, rows in order with their planes in
// turn (as the access layer reads planar files), read with `threads`. Stops
// at the first row that fails: `failedRow` is then that row and `message`
// what was recorded, else -1. `started` is the threads decoding for the
// reader once it had its first row.
struct Reading {
  std::vector<unsigned char> bytes;
  long failedRow = -1;
  std::string message;
  int started = 0;
};
Reading ReadAll(const std::string& path, int threads, long firstRow = 0) {
  Reading out;
  CImgFileTiff file;
  file.m_nThreads = threads;
  if (!file.OpenForRead(path.c_str()) || file.LoadImage() < 0) {
    ADD_FAILURE() << "cannot open " << path;
    return out;
  }
  const int planes = file.IsMultiBand() ? static_cast<int>(file.GetBandCount()) : 1;
  CImgScanLine line(file.GetPixelFormat(), static_cast<long>(file.GetWidthBytes()));
  const size_t lineBytes = static_cast<size_t>(file.GetScanLineSize());
  for (long row = firstRow; row < static_cast<long>(file.GetHeight()); ++row) {
    for (int s = 0; s < planes; ++s) {
      VtGetErrorMsgObj()->Clear();
      if (file.ReadScanLine(row, line, s) < 0) {
        out.failedRow = row;
        out.message = static_cast<const char*>(VtGetErrorMsgObj()->GetMessage());
        return out;
      }
      out.bytes.insert(out.bytes.end(), line.GetData(), line.GetData() + lineBytes);
    }
    if (row == firstRow) out.started = file.DecodeThreads();
  }
  file.Close();
  return out;
}

TEST(CImgFileTiffThreads, CompressedLayoutsGiveTheSameRowsOnAnyNumberOfThreads) {
  ScratchDir dir;
  // Each past the megabyte that starts threads, in units that do not divide
  // the image evenly.
  struct Case {
    const char* what;
    GDALDataType type;
    int bands, width, height;
    std::vector<std::string> options;
  };
  const Case cases[] = {
      {"deflate, predictor, strips of 3 rows", GDT_Byte, 3, 701, 503,
       {"COMPRESS=DEFLATE", "PREDICTOR=2", "BLOCKYSIZE=3"}},
      {"deflate, one row a strip", GDT_Byte, 1, 1201, 997, {"COMPRESS=DEFLATE", "BLOCKYSIZE=1"}},
      {"LZW tiles, 16-bit, predictor", GDT_UInt16, 1, 777, 701,
       {"COMPRESS=LZW", "PREDICTOR=2", "TILED=YES", "BLOCKXSIZE=128", "BLOCKYSIZE=64"}},
      {"PackBits strips", GDT_Byte, 3, 640, 600, {"COMPRESS=PACKBITS"}},
      {"deflate tiles in planes", GDT_Byte, 3, 650, 611,
       {"COMPRESS=DEFLATE", "TILED=YES", "INTERLEAVE=BAND", "BLOCKXSIZE=96", "BLOCKYSIZE=80"}},
      {"LZW strips in planes, 16-bit", GDT_Int16, 2, 700, 450, {"COMPRESS=LZW", "INTERLEAVE=BAND", "BLOCKYSIZE=7"}},
      {"deflate strips, 32-bit float", GDT_Float32, 1, 600, 555, {"COMPRESS=DEFLATE", "PREDICTOR=3"}},
      // Delivered as RGB on every worker's handle too.
      {"JPEG YCbCr strips", GDT_Byte, 3, 720, 520, {"COMPRESS=JPEG", "PHOTOMETRIC=YCBCR"}},
  };
  for (const Case& c : cases) {
    TiffFixture fixture;
    fixture.type = c.type, fixture.bands = c.bands, fixture.width = c.width, fixture.height = c.height;
    fixture.options = c.options;
    const std::string path = dir / "in.tif";
    ASSERT_TRUE(GdalWriteTiff(path, fixture)) << c.what;
    GdalPixels want;
    ASSERT_TRUE(GdalReadPixels(path, want)) << c.what;
    const Reading one = ReadAll(path, 1);
    ASSERT_EQ(one.failedRow, -1) << c.what << ": " << one.message;
    EXPECT_EQ(one.started, 0) << c.what;
    // Planes come one after another, where GDAL interleaves them; JPEG is
    // lossy.
    const auto has = [&](const char* option) {
      return std::find(c.options.begin(), c.options.end(), option) != c.options.end();
    };
    if (!has("INTERLEAVE=BAND") && !has("COMPRESS=JPEG")) {
      EXPECT_TRUE(one.bytes == want.bytes) << c.what << ": one thread differs from GDAL";
    }
    for (int threads : {2, 4}) {
      const Reading many = ReadAll(path, threads);
      ASSERT_EQ(many.failedRow, -1) << c.what << ": " << many.message;
      // The calling thread is one of them.
      EXPECT_EQ(many.started, threads - 1) << c.what << ", threads=" << threads;
      EXPECT_TRUE(many.bytes == one.bytes) << c.what << ": threads=" << threads << " differs from threads=1";
    }
    // A reader that starts part way down is served from there.
    const Reading late = ReadAll(path, 3, c.height / 2 + 1);
    ASSERT_EQ(late.failedRow, -1) << c.what;
    EXPECT_TRUE(std::equal(late.bytes.begin(), late.bytes.end(), one.bytes.end() - late.bytes.size()))
        << c.what << ": starting at row " << c.height / 2 + 1;
  }
}

TEST(CImgFileTiffThreads, SmallAndUncompressedFilesStartNoThreads) {
  ScratchDir dir;
  TiffFixture small;
  small.width = 300, small.height = 300;  // 270 kB
  small.options = {"COMPRESS=DEFLATE"};
  ASSERT_TRUE(GdalWriteTiff(dir / "small.tif", small));
  EXPECT_EQ(ReadAll(dir / "small.tif", 4).started, 0);
  TiffFixture plain;
  plain.width = 800, plain.height = 600;
  ASSERT_TRUE(GdalWriteTiff(dir / "plain.tif", plain));
  EXPECT_EQ(ReadAll(dir / "plain.tif", 4).started, 0);
}

TEST(CImgFileTiffThreads, ReadersStartingPartWayDownGetTheirRowsWhileEarlierTilesAreStillDecoding) {
  // The units a late reader passes over may still be decoding into the slots
  // that later units take: every start, on every count, gives the same rows.
  ScratchDir dir;
  TiffFixture fixture;
  fixture.width = 1500, fixture.height = 400;
  fixture.options = {"COMPRESS=DEFLATE", "TILED=YES", "BLOCKXSIZE=16", "BLOCKYSIZE=16"};
  const std::string path = dir / "in.tif";
  ASSERT_TRUE(GdalWriteTiff(path, fixture));
  const Reading one = ReadAll(path, 1);
  ASSERT_EQ(one.failedRow, -1) << one.message;
  for (int round = 0; round < 3; ++round) {
    for (int threads : {2, 3, 4}) {
      for (long first : {17L, 40L, 65L, 100L, 399L}) {
        const Reading late = ReadAll(path, threads, first);
        ASSERT_EQ(late.failedRow, -1) << late.message;
        ASSERT_EQ(late.bytes.size(), one.bytes.size() - first * 4500);
        EXPECT_TRUE(std::equal(late.bytes.begin(), late.bytes.end(), one.bytes.end() - late.bytes.size()))
            << "threads=" << threads << ", from row " << first;
      }
    }
  }
}

TEST(CImgFileTiffThreads, RowsAskedForOutOfOrderComeFromTheCallingThread) {
  ScratchDir dir;
  TiffFixture fixture;
  fixture.width = 700, fixture.height = 520;
  fixture.options = {"COMPRESS=DEFLATE", "TILED=YES", "BLOCKXSIZE=64", "BLOCKYSIZE=32"};
  const std::string path = dir / "in.tif";
  ASSERT_TRUE(GdalWriteTiff(path, fixture));
  GdalPixels want;
  ASSERT_TRUE(GdalReadPixels(path, want));
  CImgFileTiff file;
  file.m_nThreads = 2;
  ASSERT_TRUE(file.OpenForRead(path.c_str()));
  ASSERT_GE(file.LoadImage(), 0);
  CImgScanLine line(file.GetPixelFormat(), static_cast<long>(file.GetWidthBytes()));
  const size_t lineBytes = static_cast<size_t>(file.GetScanLineSize());
  // Forward, a jump far ahead, then back up and down again.
  for (long row : {0L, 1L, 40L, 300L, 301L, 5L, 519L, 6L, 200L}) {
    ASSERT_GE(file.ReadScanLine(row, line), 0) << row;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(line.GetData()), lineBytes),
              std::string(reinterpret_cast<const char*>(want.Row(static_cast<int>(row))), lineBytes))
        << "row " << row;
  }
}

TEST(CImgFileTiffThreads, ADamagedStripFailsAtTheSameRowWithTheSameReasonOnAnyNumberOfThreads) {
  ScratchDir dir;
  for (const char* layout : {"BLOCKYSIZE=4", "TILED=YES"}) {
    TiffFixture fixture;
    fixture.width = 800, fixture.height = 600;
    fixture.options = {"COMPRESS=DEFLATE", layout, "BLOCKXSIZE=64"};
    if (layout[0] == 'T') fixture.options.push_back("BLOCKYSIZE=32");
    const std::string path = dir / "in.tif";
    ASSERT_TRUE(GdalWriteTiff(path, fixture));
    // Overwrite the middle of strip or tile 57's data with bytes no deflate
    // stream holds.
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    ASSERT_TRUE(tif);
    const uint64_t offset = TIFFGetStrileOffset(tif, 57), count = TIFFGetStrileByteCount(tif, 57);
    TIFFClose(tif);
    ASSERT_GT(count, 16u);
    {
      std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
      f.seekp(static_cast<std::streamoff>(offset + 2));
      const std::string junk(static_cast<size_t>(count - 4), '\xff');
      f.write(junk.data(), static_cast<std::streamsize>(junk.size()));
    }
    const Reading one = ReadAll(path, 1);
    ASSERT_GE(one.failedRow, 0) << layout;
    const std::string unit = std::string(layout[0] == 'T' ? "tile" : "strip") + " 57 cannot be decoded";
    EXPECT_NE(one.message.find(unit), std::string::npos) << one.message;
    EXPECT_NE(one.message.find(path), std::string::npos) << one.message;
    EXPECT_EQ(one.message.find('\n'), std::string::npos) << one.message;
    for (int threads : {2, 4}) {
      const Reading many = ReadAll(path, threads);
      EXPECT_EQ(many.failedRow, one.failedRow) << layout << ", threads=" << threads;
      EXPECT_EQ(many.message, one.message) << layout << ", threads=" << threads;
      EXPECT_TRUE(many.bytes == one.bytes) << layout << ", threads=" << threads;
    }
  }
}

}  // namespace

namespace {

// Writes a deflate-compressed 16-bit image of `height` rows with `threads`,
// ending with Close alone (no FlushWrite), and gives the file's bytes.
std::string WriteDeflate(const std::string& path, int threads, long height) {
  CImgFileTiff file;
  file.SetWidth(1100);
  file.SetHeight(static_cast<unsigned long>(height));
  file.SetPixelFormat(PF_BIT16);
  file.m_bGrid = 1;
  file.m_nWriteCompression = COMPRESSION_ADOBE_DEFLATE;
  file.m_nPredictor = PREDICTOR_HORIZONTAL;
  file.m_nThreads = threads;
  EXPECT_TRUE(file.OpenForWrite(path.c_str()));
  EXPECT_GE(file.SaveImage(), 0);
  CImgScanLine line(PF_BIT16, static_cast<long>(file.GetWidthBytes()));
  for (long r = 0; r < height; ++r) {
    for (long x = 0; x < 1100; ++x) {
      const uint16_t v = static_cast<uint16_t>((x * 7 + r * 13) ^ (x * r));
      std::memcpy(line.GetData() + 2 * x, &v, 2);
    }
    EXPECT_EQ(file.WriteScanLine(r, line), 1) << r;
  }
  file.Close();
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(CImgFileTiffThreads, DeflateWrittenOnWorkersIsCompleteWhenClosedWithoutFlushing) {
  ScratchDir dir;
  const std::string one = WriteDeflate(dir / "one.tif", 1, 701);
  ASSERT_GT(one.size(), 1000u);
  for (int threads : {2, 5}) {
    EXPECT_TRUE(WriteDeflate(dir / "many.tif", threads, 701) == one) << "threads=" << threads;
  }
  // GDAL reads back every row as it was given.
  GdalPixels back;
  ASSERT_TRUE(GdalReadPixels(dir / "many.tif", back));
  ASSERT_EQ(back.height, 701);
  for (int r : {0, 350, 700}) {
    for (int x : {0, 1, 1099}) {
      uint16_t v = 0;
      std::memcpy(&v, back.Row(r) + 2 * x, 2);
      EXPECT_EQ(v, static_cast<uint16_t>((x * 7 + r * 13) ^ (x * r))) << r << "," << x;
    }
  }
}

}  // namespace
