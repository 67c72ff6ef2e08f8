// JPEG driver behaviour: the file protocol, broken and hostile files, the
// decoding restarts, and that libjpeg's fatal errors come back as failure
// values instead of ending the process.
#include <cpl_error.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/vtcore/CVtErrorMsg.h"
#include "platform/vtelem/CGeoImgBlock.h"
#include "raster/CImgFileJPEG.h"
#include "support/JpegPeer.h"
#include "support/ScratchDir.h"

namespace {

// Offset of the first marker `code` (0xFFcode) in a JPEG stream's headers, or npos.
size_t FindMarker(const std::string& bytes, unsigned char code) {
  size_t pos = 2;
  while (pos + 4 <= bytes.size() && static_cast<unsigned char>(bytes[pos]) == 0xFF) {
    const unsigned char m = static_cast<unsigned char>(bytes[pos + 1]);
    if (m == code) return pos;
    if (m == 0xDA) break;  // entropy-coded data follows
    pos += 2 + (static_cast<unsigned char>(bytes[pos + 2]) << 8 | static_cast<unsigned char>(bytes[pos + 3]));
  }
  return std::string::npos;
}

// Sets the height and width of the frame header.
void SetSize(std::string& bytes, unsigned width, unsigned height) {
  size_t sof = FindMarker(bytes, 0xC0);
  if (sof == std::string::npos) sof = FindMarker(bytes, 0xC2);
  ASSERT_NE(sof, std::string::npos);
  bytes[sof + 5] = static_cast<char>(height >> 8);
  bytes[sof + 6] = static_cast<char>(height);
  bytes[sof + 7] = static_cast<char>(width >> 8);
  bytes[sof + 8] = static_cast<char>(width);
}

std::string Message() { return VtGetErrorMsgObj()->GetMessage().str(); }

class JpegTest : public ::testing::Test {
 protected:
  // A GDAL-written JPEG's bytes.
  std::string Gdal(int width, int height, int bands, std::vector<std::string> options = {}) {
    const std::string path = dir / "gdal.jpg";
    EXPECT_TRUE(GdalWriteJpeg(path, TestPicture(width, height, bands, 1), options));
    return dir.Get("gdal.jpg");
  }
  // Loads `bytes` as a file; LoadImage's result.
  long Load(const std::string& bytes, CImgFileJPEG& jpeg) {
    dir.Put("in.jpg", bytes);
    if (!jpeg.OpenForRead((dir / "in.jpg").c_str())) return -100;
    return jpeg.LoadImage();
  }
  // Rows of `bytes` read as a file (in.jpg) until the first that fails:
  // their count, or -1 when the file does not load. The row after a failed
  // one must fail too.
  long HeldRows(const std::string& bytes, Picture& rows) {
    CImgFileJPEG jpeg;
    if (Load(bytes, jpeg) != 1) return -1;
    const size_t rowBytes = jpeg.GetWidth() * (jpeg.GetPixelFormat() == PF_BIT24 ? 3 : 1);
    CImgScanLine line(jpeg.GetPixelFormat(), static_cast<long>(jpeg.GetWidthBytes()));
    long row = 0;
    for (; row < static_cast<long>(jpeg.GetHeight()); ++row) {
      if (jpeg.ReadScanLine(row, line) != 1) break;
      rows.pixels.insert(rows.pixels.end(), line.GetData(), line.GetData() + rowBytes);
    }
    if (row + 1 < static_cast<long>(jpeg.GetHeight())) EXPECT_EQ(jpeg.ReadScanLine(row + 1, line), -1);
    return row;
  }
  long InputBlock(std::string bytes, CGeoImgBlock& block) {
    return CImgFileJPEG().InputBlock(reinterpret_cast<unsigned char*>(&bytes[0]), static_cast<int>(bytes.size()),
                                     &block);
  }
  ScratchDir dir;
};

TEST_F(JpegTest, PropertiesAndQuality) {
  CImgFileJPEG jpeg;
  EXPECT_EQ(jpeg.GetQuality(), 100);
  jpeg.SetQuality(150);
  EXPECT_EQ(jpeg.GetQuality(), 100);
  jpeg.SetQuality(42);
  EXPECT_EQ(jpeg.GetQuality(), 42);

  ASSERT_EQ(Load(Gdal(37, 5, 3), jpeg), 1);
  EXPECT_EQ(jpeg.GetWidth(), 37u);
  EXPECT_EQ(jpeg.GetHeight(), 5u);
  EXPECT_EQ(jpeg.GetPixelFormat(), PF_BIT24);
  EXPECT_EQ(jpeg.GetPixelFormatExt(), PF_BIT24);
  EXPECT_EQ(jpeg.GetWidthBytes(), 112u);  // 111 aligned to 4
  ASSERT_EQ(Load(Gdal(37, 5, 1), jpeg), 1);
  EXPECT_EQ(jpeg.GetPixelFormat(), PF_BIT8);
  EXPECT_EQ(jpeg.GetWidthBytes(), 40u);
}

TEST_F(JpegTest, OpenForReadRefusesFilesOf100BytesOrFewer) {
  CImgFileJPEG jpeg;
  dir.Put("100", std::string(100, '\xFF'));
  dir.Put("101", std::string(101, '\xFF'));
  EXPECT_EQ(jpeg.OpenForRead((dir / "100").c_str()), 0);
  EXPECT_EQ(jpeg.OpenForRead((dir / "missing").c_str()), 0);
  EXPECT_EQ(jpeg.OpenForRead(dir.path().c_str()), 0);  // a directory
  ASSERT_EQ(jpeg.OpenForRead((dir / "101").c_str()), 1);
  EXPECT_EQ(jpeg.LoadImage(), -1);  // then judged by its header
  EXPECT_NE(Message().find("libjpeg"), std::string::npos) << Message();
}

// libjpeg's fatal errors at every stage come back as failure values with
// libjpeg's message; none ends the process or leaves the object unusable.
TEST_F(JpegTest, BrokenFilesFailWithAMessage) {
  const std::string good = Gdal(40, 30, 3);
  CImgFileJPEG jpeg;
  std::string bytes = good;
  bytes[FindMarker(bytes, 0xC0) + 4] = 12;  // 12-bit samples
  EXPECT_EQ(Load(bytes, jpeg), -1);
  EXPECT_NE(Message().find("precision"), std::string::npos) << Message();

  bytes = good;
  bytes[FindMarker(bytes, 0xDB) + 4] = 0x25;  // quantization table 5
  EXPECT_EQ(Load(bytes, jpeg), -1);

  bytes = good.substr(0, 120);  // ends inside the headers
  EXPECT_EQ(Load(bytes, jpeg), -1);

  bytes = std::string(200, '\0');
  EXPECT_EQ(Load(bytes, jpeg), -1);
  EXPECT_NE(Message().find("Not a JPEG file"), std::string::npos) << Message();

  // A file that loads fine after all that.
  ASSERT_EQ(Load(good, jpeg), 1);
  CImgScanLine line(PF_BIT24, static_cast<long>(jpeg.GetWidthBytes()));
  EXPECT_EQ(jpeg.ReadScanLine(0, line), 1);

  // The same through InputBlock.
  CGeoImgBlock block;
  bytes = good;
  bytes[FindMarker(bytes, 0xC0) + 4] = 12;
  EXPECT_EQ(InputBlock(bytes, block), -1);
  EXPECT_EQ(InputBlock(std::string(50, 'x'), block), -1);
  EXPECT_EQ(InputBlock(good.substr(0, 2), block), -1);
  EXPECT_EQ(CImgFileJPEG().InputBlock(nullptr, 10, &block), -1);
}

// A stream cut inside its image data is completed after libjpeg's warning;
// the rows decoded before the cut are the full file's.
TEST_F(JpegTest, TruncatedBlockIsCompletedWithAWarning) {
  const std::string good = Gdal(64, 48, 3, {"QUALITY=95"});
  const std::string cut = good.substr(0, good.size() * 2 / 3);
  CGeoImgBlock full, part;
  ASSERT_EQ(InputBlock(good, full), 1);
  testing::internal::CaptureStderr();
  EXPECT_EQ(InputBlock(cut, part), 1);
  const std::string warned = testing::internal::GetCapturedStderr();
  EXPECT_NE(warned.find("Premature end of JPEG file"), std::string::npos) << warned;
  ASSERT_EQ(part.m_nHeight, 48);
  EXPECT_EQ(0, std::memcmp(full.GetRow(0), part.GetRow(0), static_cast<size_t>(full.m_nWidthBytes)));
}

// A file cut short reads the rows it holds, each equal to GDAL's reading of
// the same file and of the whole file, and fails the first row it does not
// hold instead of delivering libjpeg's grey fill. Only the end-of-image
// marker missing loses no row. A progressive file holds no whole row until
// its last scan is read.
TEST_F(JpegTest, FileCutShortFailsFromTheFirstRowItLacks) {
  struct Kind {
    const char* name;
    std::vector<std::string> options;
  };
  for (const Kind& kind :
       {Kind{"baseline", {"QUALITY=95"}}, Kind{"progressive", {"QUALITY=95", "PROGRESSIVE=ON"}},
        Kind{"arithmetic", {"QUALITY=95", "ARITHMETIC=YES"}}}) {
    const std::string good = Gdal(64, 64, 3, kind.options);
    dir.Put("good.jpg", good);
    Picture whole;
    ASSERT_TRUE(OurRead(dir / "good.jpg", whole));
    const bool progressive = kind.name[0] == 'p';
    std::vector<size_t> cuts = {good.size() - 2, good.size() - 1, good.size() * 2 / 3, good.size() / 3};
    if (progressive) cuts.push_back(good.rfind("\xFF\xDA"));  // the last scan missing whole
    for (size_t cut : cuts) {
      SCOPED_TRACE(std::string(kind.name) + " cut at " + std::to_string(cut) + " of " +
                   std::to_string(good.size()));
      const std::string bytes = good.substr(0, cut);
      Picture ours;
      const long held = HeldRows(bytes, ours);
      ASSERT_GE(held, 0);
      Picture gdal;
      CPLPushErrorHandler(CPLQuietErrorHandler);
      GdalRead(dir / "in.jpg", gdal);
      CPLPopErrorHandler();
      ASSERT_EQ(gdal.pixels.size(), whole.pixels.size());
      const size_t rowBytes = 64 * 3;
      size_t same = 0;  // rows GDAL reads from the cut file as from the whole one
      while (same < 64 &&
             std::equal(gdal.pixels.begin() + same * rowBytes, gdal.pixels.begin() + (same + 1) * rowBytes,
                        whole.pixels.begin() + same * rowBytes))
        ++same;
      EXPECT_LE(static_cast<size_t>(held), same);
      EXPECT_TRUE(std::equal(ours.pixels.begin(), ours.pixels.end(), whole.pixels.begin()));
      if (cut >= good.size() - 2 && kind.name[0] != 'a') {
        EXPECT_EQ(held, 64);  // only the end-of-image marker is missing
        continue;
      }
      ASSERT_LT(held, 64);
      EXPECT_NE(Message().find(progressive ? "no row is whole" : "row " + std::to_string(held)),
                std::string::npos)
          << Message();
      if (progressive) EXPECT_EQ(held, 0);
      // A baseline file cut two thirds in still gives the rows before the cut.
      if (kind.name[0] == 'b' && cut == good.size() * 2 / 3) EXPECT_GE(held, 16);
    }
  }
}

// Sizes in the frame header are checked before anything is allocated for
// them: a small file cannot claim a picture of gigabytes.
TEST_F(JpegTest, HeadersPromisingMoreThanTheFileHoldsAreRefused) {
  for (const char* kind : {"baseline", "progressive"}) {
    SCOPED_TRACE(kind);
    std::string bytes = Gdal(16, 16, 3, {std::string("PROGRESSIVE=") + (kind[0] == 'p' ? "ON" : "OFF")});
    SetSize(bytes, 65000, 65000);
    CImgFileJPEG jpeg;
    EXPECT_EQ(Load(bytes, jpeg), -1);
    EXPECT_NE(Message().find("65000 x 65000"), std::string::npos) << Message();
    EXPECT_EQ(jpeg.GetWidth(), 1u);  // properties untouched
    CGeoImgBlock block;
    EXPECT_EQ(InputBlock(bytes, block), -1);
    EXPECT_EQ(block.GetStorageSize(), 0u);
  }
  // A picture as large as its bytes allow still loads.
  std::string bytes = Gdal(16, 16, 1);
  const unsigned side = 512;  // 256 Ki samples from a file of a few hundred bytes
  ASSERT_LE(uint64_t(side) * side, bytes.size() * CImgFileJPEG::kMaxSamplesPerByte);
  SetSize(bytes, side, side);
  CImgFileJPEG jpeg;
  testing::internal::CaptureStderr();
  EXPECT_EQ(Load(bytes, jpeg), 1);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(jpeg.GetWidth(), side);
}

// A progressive file whose last scan is repeated hundreds of times: each
// scan revisits the whole picture, so decoding stops at the scan limit.
TEST_F(JpegTest, FilesWithTooManyScansAreRefused) {
  const std::string good = Gdal(64, 64, 1, {"PROGRESSIVE=ON"});
  const size_t lastScan = good.rfind("\xFF\xDA");
  ASSERT_NE(lastScan, std::string::npos);
  const std::string scan = good.substr(lastScan, good.size() - 2 - lastScan);
  std::string many = good.substr(0, good.size() - 2);
  for (int i = 0; i < CImgFileJPEG::kMaxScans + 10; ++i) many += scan;
  many += "\xFF\xD9";
  CImgFileJPEG jpeg;
  testing::internal::CaptureStderr();
  EXPECT_EQ(Load(many, jpeg), -1);
  CGeoImgBlock block;
  EXPECT_EQ(InputBlock(many, block), -1);
  testing::internal::GetCapturedStderr();
  EXPECT_NE(Message().find("more than " + std::to_string(CImgFileJPEG::kMaxScans) + " scans"), std::string::npos) << Message();
  ASSERT_EQ(Load(good, jpeg), 1);
}

TEST_F(JpegTest, RowsGoForwardOnly) {
  const std::string bytes = Gdal(30, 20, 3);
  dir.Put("f.jpg", bytes);
  Picture all;
  ASSERT_TRUE(OurRead(dir / "f.jpg", all));
  CImgFileJPEG jpeg;
  ASSERT_EQ(Load(bytes, jpeg), 1);
  CImgScanLine line(PF_BIT24, static_cast<long>(jpeg.GetWidthBytes()));
  CImgScanLine shortLine(PF_BIT24, 89);  // one byte short of 30 pixels
  EXPECT_EQ(jpeg.ReadScanLine(0, shortLine), -1);
  EXPECT_EQ(jpeg.ReadScanLine(-1, line), -1);
  for (long r : {0L, 3L, 4L, 19L}) {  // later rows skip the ones between
    ASSERT_EQ(jpeg.ReadScanLine(r, line), 1) << r;
    EXPECT_EQ(0, std::memcmp(line.GetData(), &all.pixels[static_cast<size_t>(r) * 90], 90)) << r;
  }
  EXPECT_EQ(jpeg.ReadScanLine(5, line), -1);   // behind us
  EXPECT_EQ(jpeg.ReadScanLine(20, line), -1);  // past the end
  jpeg.Close();
  EXPECT_EQ(jpeg.ReadScanLine(0, line), -1);
}

// OpenForEcw starts once; PrepareForRead restarts from the first row;
// EndForRead ends, after which OpenForEcw starts again.
TEST_F(JpegTest, DecodingRestarts) {
  dir.Put("f.jpg", Gdal(24, 12, 1));
  Picture all;
  ASSERT_TRUE(OurRead(dir / "f.jpg", all));
  CImgFileJPEG jpeg;
  EXPECT_EQ(jpeg.OpenForEcw(), 0);  // no file
  ASSERT_EQ(jpeg.OpenForRead((dir / "f.jpg").c_str()), 1);
  ASSERT_EQ(jpeg.OpenForEcw(), 1);
  EXPECT_EQ(jpeg.m_nDecompressing, 1);
  CImgScanLine line(PF_BIT8, 24);
  ASSERT_EQ(jpeg.ReadScanLine(0, line), 1);
  ASSERT_EQ(jpeg.ReadScanLine(1, line), 1);
  EXPECT_EQ(jpeg.OpenForEcw(), 1);  // already running: row 2 is next
  ASSERT_EQ(jpeg.ReadScanLine(2, line), 1);
  EXPECT_EQ(0, std::memcmp(line.GetData(), &all.pixels[48], 24));

  ASSERT_EQ(jpeg.PrepareForRead(), 1);
  ASSERT_EQ(jpeg.ReadScanLine(0, line), 1);
  EXPECT_EQ(0, std::memcmp(line.GetData(), &all.pixels[0], 24));

  EXPECT_EQ(jpeg.EndForRead(), 1);
  EXPECT_EQ(jpeg.ReadScanLine(1, line), -1);
  ASSERT_EQ(jpeg.OpenForEcw(), 1);
  ASSERT_EQ(jpeg.ReadScanLine(11, line), 1);
  EXPECT_EQ(0, std::memcmp(line.GetData(), &all.pixels[11 * 24], 24));
  jpeg.Close();
  EXPECT_EQ(jpeg.m_nDecompressing, 0);
}

// Through the plain file interface the file is complete once Close returns.
TEST_F(JpegTest, CloseCompletesTheFileOrSaysItCannot) {
  const std::string path = dir / "w.jpg";
  for (int rowsWritten : {7, 4, 0}) {
    SCOPED_TRACE(rowsWritten);
    CImgFileJPEG jpeg;
    ASSERT_EQ(jpeg.OpenForWrite(path.c_str()), 1);
    jpeg.SetWidth(9);
    jpeg.SetHeight(7);
    jpeg.SetPixelFormat(PF_BIT8);
    ASSERT_EQ(jpeg.SaveImage(), 1);
    EXPECT_EQ(jpeg.GetWidthBytes(), 12u);
    CImgScanLine line(PF_BIT8, 12);
    for (int r = 0; r < rowsWritten; ++r) {
      std::memset(line.GetData(), 30 * r, 12);
      ASSERT_EQ(jpeg.WriteScanLine(r, line), 1);
    }
    if (rowsWritten == 7) EXPECT_EQ(jpeg.WriteScanLine(7, line), 0);  // one row too many
    jpeg.Close();
    EXPECT_EQ(jpeg.LastCloseFailed(), rowsWritten == 4);
    const std::string bytes = dir.Get("w.jpg");
    if (rowsWritten == 7) {
      ASSERT_GE(bytes.size(), 2u);
      EXPECT_EQ(bytes.substr(bytes.size() - 2), "\xFF\xD9");
      Picture p;
      ASSERT_TRUE(GdalRead(path, p));
      EXPECT_NEAR(p.At(4, 6, 0), 180, 2);
    } else if (rowsWritten == 0) {
      EXPECT_TRUE(bytes.empty());
    }
  }
}

// libjpeg's write errors (a full disk) come back from the operation that
// met them instead of ending the process.
TEST_F(JpegTest, WriteErrorsComeBackAsFailures) {
  VtGetErrorMsgObj()->Clear();
  CImgFileJPEG jpeg;
  ASSERT_EQ(jpeg.OpenForWrite("/dev/full"), 1);
  jpeg.SetWidth(300);
  jpeg.SetHeight(200);
  jpeg.SetPixelFormat(PF_BIT24);
  ASSERT_EQ(jpeg.SaveImage(), 1);
  const Picture source = TestPicture(300, 200, 3, 8);
  CImgScanLine line(PF_BIT24, static_cast<long>(jpeg.GetWidthBytes()));
  long failedAt = -1;
  for (long r = 0; r < 200 && failedAt < 0; ++r) {
    std::memcpy(line.GetData(), &source.pixels[static_cast<size_t>(r) * 900], 900);
    if (jpeg.WriteScanLine(r, line) != 1) failedAt = r;
  }
  if (failedAt >= 0) EXPECT_EQ(jpeg.WriteScanLine(failedAt + 1, line), -1);  // nothing left to write to
  jpeg.Close();
  EXPECT_TRUE(failedAt >= 0 || jpeg.LastCloseFailed());
  EXPECT_NE(Message().find("write"), std::string::npos) << Message();

  std::vector<unsigned long> pixels(300 * 200, 0x00123456);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<unsigned long>(i * 2654435761u) & 0xFFFFFF;
  EXPECT_EQ(jpeg.SaveJpegFile("/dev/full", 300, 200, pixels.data()), 0);
}

TEST_F(JpegTest, WritingRefusesWhatJpegCannotHold) {
  CImgFileJPEG jpeg;
  ASSERT_EQ(jpeg.OpenForWrite((dir / "w.jpg").c_str()), 1);
  CImgScanLine line(PF_BIT24, 64);
  for (ImgPixelFormat format : {PF_BIT32, PF_BIT16, PF_BIT1, PF_FLOAT32}) {
    jpeg.SetPixelFormat(format);
    EXPECT_EQ(jpeg.SaveImage(), -1) << format;
    EXPECT_EQ(jpeg.WriteScanLine(0, line), -1);  // no compression was prepared
  }
  jpeg.SetPixelFormat(PF_BIT24);
  for (unsigned long size : {0ul, 65536ul}) {
    jpeg.SetWidth(size);
    jpeg.SetHeight(3);
    EXPECT_EQ(jpeg.SaveImage(), -1) << size;
  }
  jpeg.SetWidth(30);
  ASSERT_EQ(jpeg.SaveImage(), 1);
  CImgScanLine shortLine(PF_BIT24, 89);
  EXPECT_EQ(jpeg.WriteScanLine(0, shortLine), -1);
  jpeg.Close();
  CImgFileJPEG closed;
  closed.SetPixelFormat(PF_BIT24);
  EXPECT_EQ(closed.SaveImage(), -1);  // no file

  CGeoImgBlock block(PF_BIT32, 8, 8);
  unsigned char* stream = nullptr;
  EXPECT_EQ(jpeg.OutputBlock(stream, &block, 75), -1);
  CGeoImgBlock empty;
  EXPECT_EQ(jpeg.OutputBlock(stream, &empty, 75), -1);
  EXPECT_EQ(stream, nullptr);
}

// Quality steers the encoder: a higher quality costs bytes and buys fidelity.
TEST_F(JpegTest, OutputBlockQuality) {
  const Picture source = TestPicture(64, 64, 1, 4);
  CGeoImgBlock block(PF_BIT8, 64, 64);
  for (long r = 0; r < 64; ++r) std::memcpy(block.GetRow(r), &source.pixels[static_cast<size_t>(r) * 64], 64);
  long previous = 0;
  double previousError = 256;
  for (int quality : {5, 50, 95, 150}) {
    unsigned char* stream = nullptr;
    const long size = CImgFileJPEG().OutputBlock(stream, &block, quality);
    ASSERT_GT(size, previous) << quality;
    previous = size;
    CGeoImgBlock back;
    ASSERT_EQ(CImgFileJPEG().InputBlock(stream, static_cast<int>(size), &back), 1);
    delete[] stream;
    Picture decoded = source;
    for (long r = 0; r < 64; ++r)
      std::memcpy(&decoded.pixels[static_cast<size_t>(r) * 64], back.GetRow(r), 64);
    const double error = MeanDifference(decoded, source);
    EXPECT_LT(error, previousError) << quality;
    previousError = error;
  }
}

}  // namespace
