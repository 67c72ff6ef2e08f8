// FAST scenes: band files read as GDAL reads them through the scene's
// header; the header found beside a band by the naming rules; header lines
// that hold no numbers changing nothing.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/posix/PathCase.h"
#include "platform/vtcore/CVtImgToolkit.h"
#include "raster/CImgFileFst.h"
#include "support/FastScene.h"
#include "support/GdalEhdr.h"
#include "support/ScratchDir.h"

namespace {

// The driver with its header lookup and data offset in view.
struct Fst : CImgFileFst {
  using CImgFile::GetOffBits;
  using CImgFileFst::FindHeaderFile;
};

TEST(Fast, BandsReadAsGdalReadsThemThroughTheirHeader) {
  struct Case {
    const char* header;  // the header's file name as stored
    int width, height, bits;
    std::vector<std::string> bands;
    int record;  // REC SIZE; 0 for rows without padding
  };
  const Case cases[] = {
      {"L71034032_03219991212_HRF.FST", 37, 5, 8, {"B10", "B20", "B30", "B40", "B50", "B70"}, 0},
      {"l71034032_03219991212_htm.fst", 6, 4, 16, {"B61", "B62"}, 0},  // names in another case
      {"L71034032_03219991212_HPN.FST", 19, 7, 8, {"B80", ""}, 0},
      // Records longer than the rows: each row starts a record.
      {"L71034032_03219991212_HPN.FST", 31, 6, 8, {"B80"}, 32},
      {"L71034032_03219991212_HTM.FST", 5, 3, 16, {"B61", "B62"}, 16},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.header);
    ScratchDir dir;
    FastScene scene;
    scene.width = c.width, scene.height = c.height, scene.bits = c.bits, scene.bands = c.bands;
    scene.recordBytes = c.record;
    scene.Write(dir.path(), c.header);
    GdalBands g;
    ASSERT_TRUE(GdalReadBands(dir / c.header, g));
    const ImgPixelFormat format = c.bits == 8 ? PF_BIT8 : PF_BIT16;
    int band = 0;
    for (const std::string& code : c.bands) {
      if (code.empty()) continue;
      Fst fst;
      ASSERT_EQ(fst.OpenForRead((dir / scene.Name(code)).c_str()), 1);
      ASSERT_EQ(fst.LoadImage(), 1) << code;
      CString header;
      ASSERT_TRUE(fst.FindHeaderFile(fst.GetFilePath(), header));
      EXPECT_EQ(VtResolvePathCase(header.str()), dir / c.header);
      EXPECT_EQ(fst.GetWidth(), unsigned(c.width));
      EXPECT_EQ(fst.GetHeight(), unsigned(c.height));
      EXPECT_EQ(fst.GetPixelFormat(), format);
      EXPECT_EQ(fst.GetWidthBytes(), unsigned(c.width * c.bits / 8));
      CImgScanLine line(format, static_cast<long>(fst.GetWidthBytes()));
      for (int row = c.height - 1; row >= 0; --row) {
        ASSERT_EQ(fst.ReadScanLine(row, line), 1);
        EXPECT_EQ(fst.GetOffBits(), unsigned(row * scene.RecordBytes()));
        for (int x = 0; x < c.width; ++x) {
          const double ours = c.bits == 8 ? line.GetValue(x) : static_cast<uint16_t>(line.GetValue(x));
          // GDAL reads padded records as if rows were unpadded: they are
          // checked against the samples written.
          const double want = c.record != 0 ? FastScene::Sample(band, row, x, c.bits) : g.At(band, row, x);
          ASSERT_EQ(ours, want) << code << " " << row << " " << x;
        }
      }
      EXPECT_EQ(fst.ReadScanLine(c.height, line), 0);
      CImgScanLine small(format, static_cast<long>(fst.GetWidthBytes()) - 1);
      EXPECT_EQ(fst.ReadScanLine(0, small), 0);
      ++band;
    }
    EXPECT_EQ(band, g.bands);
  }
}

TEST(Fast, HeaderDiscoveryAndItsLines) {
  ScratchDir dir;
  FastScene scene;
  scene.width = 6000, scene.height = 3, scene.bands = {"B61", "B62"};
  scene.Write(dir.path(), scene.Name("HTM"));
  // A reflective header that does not list the thermal bands is passed over.
  FastScene other = scene;
  other.bands = {"B10", "B20"};
  other.Write(dir.path(), scene.Name("HRF"));
  Fst fst;
  ASSERT_EQ(fst.OpenForRead((dir / scene.Name("B61")).c_str()), 1);
  ASSERT_EQ(fst.LoadImage(), 1);
  CString header;
  ASSERT_TRUE(fst.FindHeaderFile(fst.GetFilePath(), header));
  EXPECT_EQ(header, (dir / scene.Name("HTM")).c_str());
  CImgScanLine line(PF_BIT8, 6000);
  ASSERT_EQ(fst.ReadScanLine(2, line), 1);
  EXPECT_EQ(fst.GetOffBits(), 12000u);
  fst.Close();

  // A band no header lists, a header opened as a band, a name of no FAST scene.
  dir.Put(scene.Name("B70"), std::string(100, 'x'));
  dir.Put("L7B10.FST", std::string(100, 'x'));
  for (const std::string& name : {scene.Name("B70"), scene.Name("HTM"), std::string("L7B10.FST")}) {
    CImgFileFst none;
    ASSERT_EQ(none.OpenForRead((dir / name).c_str()), 1) << name;
    EXPECT_EQ(none.LoadImage(), -1) << name;
  }

  // Header lines whose numbers are missing, malformed or unusable change
  // nothing; good ones later in the file still count. Records are long
  // enough for three-byte pixels.
  scene.recordBytes = 18000;
  const struct {
    std::string volume, output;
    unsigned long width, height;
    ImgPixelFormat format;
  } cases[] = {
      {scene.Volume(), "OUTPUT BITS PER PIXEL =12  ACQUIRED BITS PER PIXEL = 8", 6000, 3, PF_BIT24},
      {"VOLUME #/# IN SET =1/1  PIXELS PER LINE = ????  LINES PER BAND = 2/ 2", scene.Output(), 1, 2, PF_BIT8},
      {"VOLUME #/# IN SET =1/1  PIXELS PER LINE = 5", "OUTPUT BITS PER PIXEL =", 1, 1, PF_BIT24},
      {"VOLUME = PIXELS = ?? LINES = x/", "OUTPUT BITS PER PIXEL =16", 1, 1, PF_BIT16},
      {"volume #/# in set =1/1  PIXELS PER LINE = 70  LINES PER BAND = 99999999999/", scene.Output(), 70, 1,
       PF_BIT8},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.volume + " | " + c.output);
    dir.Put(scene.Name("HTM"), scene.Header(c.volume, c.output));
    CImgFileFst fresh;
    ASSERT_EQ(fresh.OpenForRead((dir / scene.Name("B62")).c_str()), 1);
    ASSERT_EQ(fresh.LoadImage(), 1);
    EXPECT_EQ(fresh.GetWidth(), c.width);
    EXPECT_EQ(fresh.GetHeight(), c.height);
    EXPECT_EQ(fresh.GetPixelFormat(), c.format);
    EXPECT_EQ(fresh.GetWidthBytes(), c.width * CVtImgToolkit::BitCount(c.format) / 8);
  }
  // Sizes of zero or below are refused naming them, not read without their
  // sign nor left at the default.
  for (const std::string& volume :
       {std::string("VOLUME #/# IN SET =1/1  PIXELS PER LINE = -1  LINES PER BAND = 2/ 2"),
        std::string("VOLUME #/# IN SET =1/1  PIXELS PER LINE = 0  LINES PER BAND = 2/ 2"),
        std::string("VOLUME #/# IN SET =1/1  PIXELS PER LINE = 5  LINES PER BAND = -3/ -3")}) {
    SCOPED_TRACE(volume);
    dir.Put(scene.Name("HTM"), scene.Header(volume, scene.Output()));
    CImgFileFst refused;
    ASSERT_EQ(refused.OpenForRead((dir / scene.Name("B62")).c_str()), 1);
    EXPECT_EQ(refused.LoadImage(), -1);
    const std::string reason = refused.m_strRefusal.str();
    EXPECT_NE(reason.find(volume.find("= 5") != std::string::npos ? "LINES PER BAND -3" : "PIXELS PER LINE"),
              std::string::npos)
        << reason;
  }
  // A record shorter than a row would cut every row.
  scene.recordBytes = 5999;
  dir.Put(scene.Name("HTM"), scene.Header(scene.Volume(), scene.Output()));
  CImgFileFst shortRecords;
  ASSERT_EQ(shortRecords.OpenForRead((dir / scene.Name("B62")).c_str()), 1);
  EXPECT_EQ(shortRecords.LoadImage(), -1);
  EXPECT_NE(shortRecords.m_strRefusal.str().find("REC SIZE 5999"), std::string::npos) << shortRecords.m_strRefusal.str();
  scene.recordBytes = 0;
  // Rows longer than the band file: not its header.
  dir.Put(scene.Name("HTM"), scene.Header("VOLUME = 1 PIXELS = 90000 LINES = 2/", scene.Output()));
  CImgFileFst wide;
  ASSERT_EQ(wide.OpenForRead((dir / scene.Name("B62")).c_str()), 1);
  EXPECT_EQ(wide.LoadImage(), -1);
}

TEST(Fast, FileNameLinesAndTypes) {
  const struct {
    const char* line;
    int result;
    const char* first;
    const char* second;
  } lines[] = {
      {"FILENAME =L71034032_03219991212_B10.FST  FILENAME =L71034032_03219991212_B20.FST", 1,
       "L71034032_03219991212_B10", "L71034032_03219991212_B20"},
      {"  filename = a.fst filename = b.fst  ", 1, "a", "b"},
      {"FILENAME =L7X_B80.FST  FILENAME =", 1, "L7X_B80", ""},
      {"FILENAME =ab FILENAME =cd", 0, "ab", "cd"},  // no extension to drop
      {"FILENAME =L7X_B80.FST", 0, "", ""},
      {"FILENAME =x.fst NAME =y.fst", 0, "", ""},
      {"FILENAM", 0, "", ""},
      {"FILE NAME =a.fst FILENAME =b.fst", 0, "", ""},
  };
  for (const auto& l : lines) {
    CString first, second;
    EXPECT_EQ(CImgFileFst::SplitOneLine(l.line, first, second), l.result) << l.line;
    EXPECT_EQ(first, l.first) << l.line;
    EXPECT_EQ(second, l.second) << l.line;
  }
  const struct {
    const char* name;
    int result, header;
  } names[] = {{"L71034032_03219991212_B10", 1, 0}, {"l7x_b62", 1, 0}, {"L7xHtM", 1, 1}, {"L7HPN", 1, 1},
               {"L7", 0, -1},  {"L5x_B10", 0, -1}, {"L7x_B60", 0, -1}, {"L7x_B10x", 0, -1}};
  for (const auto& n : names) {
    int header = -1;
    EXPECT_EQ(CImgFileFst::GetFileType(n.name, header), n.result) << n.name;
    EXPECT_EQ(header, n.header) << n.name;
  }
}

}  // namespace
