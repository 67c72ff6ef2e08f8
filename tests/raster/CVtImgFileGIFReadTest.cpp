// Reading GIF files: files written by GDAL, ImageMagick and by hand must
// read as GDAL reads them, row for row and colour for colour; damaged,
// truncated and oversized files fail with a code and a message.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "platform/vtcore/CVtErrorMsg.h"
#include "platform/vtcore/CVtImgToolkit.h"
#include "raster/CVtImgFileGIF.h"
#include "support/GdalGif.h"
#include "support/GdalRaster.h"
#include "support/GifBuilder.h"
#include "support/ScratchDir.h"

namespace {

int Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

unsigned Index(const unsigned char* row, int x, unsigned bits) {
  if (bits == 8) return row[x];
  if (bits == 4) return (x & 1) ? row[x / 2] & 0x0F : row[x / 2] >> 4;
  return (row[x / 8] >> (7 - x % 8)) & 1;
}

// Our reading of `path` equals GDAL's: size, palette and every pixel, rows
// read bottom first to show they need no order. Returns the pixel format.
int ExpectSameAsGdal(const std::string& path) {
  SCOPED_TRACE(path);
  Picture theirs;
  EXPECT_TRUE(GdalRead(path, theirs));
  CVtImgFileGIF gif;
  EXPECT_EQ(gif.OpenForRead(path.c_str()), 1) << VtGetErrorMsgObj()->GetMessage().str();
  EXPECT_EQ(gif.LoadImage(), 1);
  if (::testing::Test::HasFailure()) return 0;
  EXPECT_EQ(gif.GetWidth(), static_cast<unsigned long>(theirs.width));
  EXPECT_EQ(gif.GetHeight(), static_cast<unsigned long>(theirs.height));
  const unsigned bits = CVtImgToolkit::BitCount(gif.GetPixelFormat());
  EXPECT_EQ(gif.GetPixelFormatExt(), gif.GetPixelFormat());
  EXPECT_EQ(gif.GetWidthBytes(), static_cast<unsigned long>(CVtImgToolkit::AlignWidth(gif.GetPixelFormat(), theirs.width)));
  EXPECT_GE(static_cast<size_t>(gif.m_Palette.GetSize()), theirs.colors.size());
  for (size_t i = 0; i < theirs.colors.size() && i < static_cast<size_t>(gif.m_Palette.GetSize()); ++i) {
    const PALETTEENTRY e = gif.m_Palette[static_cast<int>(i)];
    EXPECT_EQ(e.peRed, theirs.colors[i].c1) << "colour " << i;
    EXPECT_EQ(e.peGreen, theirs.colors[i].c2) << "colour " << i;
    EXPECT_EQ(e.peBlue, theirs.colors[i].c3) << "colour " << i;
    EXPECT_EQ(e.peFlags, 0);
  }
  // A line with slack: the padding after the width bytes must stay untouched,
  // the padding inside them must be zero.
  CImgScanLine line(gif.GetPixelFormat(), static_cast<long>(gif.GetWidthBytes()) + 8);
  for (int y = theirs.height - 1; y >= 0; --y) {
    std::fill(line.GetData(), line.GetData() + line.GetSize(), 0xAB);
    EXPECT_EQ(gif.ReadScanLine(y, line), 1);
    for (int x = 0; x < theirs.width; ++x)
      if (Index(line.GetData(), x, bits) != theirs.At(x, y, 0)) {
        ADD_FAILURE() << "row " << y << " x " << x << ": " << Index(line.GetData(), x, bits) << " vs "
                      << int(theirs.At(x, y, 0));
        return static_cast<int>(bits);
      }
    const long used = CVtImgToolkit::AlignWidthByte(gif.GetPixelFormat(), theirs.width);
    for (long i = used; i < static_cast<long>(gif.GetWidthBytes()); ++i) EXPECT_EQ(line[i], 0) << "pad " << i;
    for (long i = static_cast<long>(gif.GetWidthBytes()); i < line.GetSize(); ++i) EXPECT_EQ(line[i], 0xAB);
  }
  return static_cast<int>(bits);
}

Picture RandomPicture(int width, int height, int colors, unsigned seed) {
  std::mt19937 gen(seed);
  Picture p;
  p.width = width;
  p.height = height;
  p.bands = 1;
  p.pixels.resize(static_cast<size_t>(width) * height);
  // Runs beside noise, so the encoder's table grows and is cleared.
  for (size_t i = 0; i < p.pixels.size(); ++i)
    p.pixels[i] = static_cast<unsigned char>((i / 7) % 3 == 0 ? (i / 21) % colors : gen() % colors);
  for (int i = 0; i < colors; ++i)
    p.colors.push_back(GDALColorEntry{static_cast<short>(gen() & 0xFF), static_cast<short>(gen() & 0xFF),
                                      static_cast<short>(gen() & 0xFF), 255});
  return p;
}

// Pixels whose row is their value: a scrambled row order shows at once.
std::vector<unsigned char> RowNumbers(int width, int height, int modulo) {
  std::vector<unsigned char> v(static_cast<size_t>(width) * height);
  for (size_t i = 0; i < v.size(); ++i) v[i] = static_cast<unsigned char>((i / width + i % 3) % modulo);
  return v;
}

GifFixture OneImage(int width, int height, int resolution, int mapBits, std::vector<unsigned char> indices,
                 bool interlaced = false) {
  GifFixture fixture;
  fixture.screenWidth = width;
  fixture.screenHeight = height;
  fixture.colorResolution = resolution;
  fixture.mapBits = mapBits;
  for (int i = 0; i < (3 << mapBits); ++i) fixture.colors.push_back(static_cast<unsigned char>(i * 37 + 5));
  GifImageSpec image;
  image.width = width;
  image.height = height;
  image.interlaced = interlaced;
  image.indices = std::move(indices);
  fixture.images.push_back(image);
  return fixture;
}

// Offset of the first image descriptor's ',' in BuildGif's output.
size_t FirstDescriptor(const GifFixture& fixture) { return 13 + (fixture.mapBits ? 3u << fixture.mapBits : 0); }

class GifReadTest : public ::testing::Test {
 protected:
  ScratchDir dir;
};

TEST_F(GifReadTest, GdalFilesPlainAndInterlacedReadAsGdalReadsThem) {
  int n = 0;
  for (bool interlaced : {false, true})
    for (int width : {1, 5, 37, 300})
      for (int colors : {2, 13, 256}) {
        const std::string path = dir / ("g" + std::to_string(n++) + ".gif");
        ASSERT_TRUE(GdalWriteGif(path, RandomPicture(width, 29, colors, static_cast<unsigned>(n)), interlaced));
        EXPECT_EQ(ExpectSameAsGdal(path), 8);
      }
}

TEST_F(GifReadTest, ImageMagickFilesWithFewColoursReadAsGdalReadsThem) {
  const std::string cases[] = {
      "-colors 2", "-colors 12", "-colors 200", "-colors 12 -interlace GIF", "-colors 60 -interlace Line"};
  int n = 0;
  for (const std::string& options : cases) {
    const std::string path = dir / ("m" + std::to_string(n++) + ".gif");
    ASSERT_EQ(Shell("convert -seed 7 -size 41x23 plasma: +dither " + options + " " + path), 0) << options;
    ExpectSameAsGdal(path);
  }
}

TEST_F(GifReadTest, InterlacedRowsComeOutInDisplayOrder) {
  for (int height : {1, 2, 5, 10, 17}) {
    const std::string path = dir / ("i" + std::to_string(height) + ".gif");
    dir.Put("i" + std::to_string(height) + ".gif", BuildGif(OneImage(3, height, 8, 8, RowNumbers(3, height, 256), true)));
    ExpectSameAsGdal(path);
    CVtImgFileGIF gif;
    ASSERT_EQ(gif.OpenForRead(path.c_str()), 1);
    ASSERT_EQ(gif.LoadImage(), 1);
    CImgScanLine line(PF_BIT8, 4);
    for (int y = 0; y < height; ++y) {
      ASSERT_EQ(gif.ReadScanLine(y, line), 1);
      EXPECT_EQ(line[1], (y + 1) % 256) << "height " << height << " row " << y;
    }
  }
}

TEST_F(GifReadTest, LowColourResolutionsPackRowsFromTheDecodedLayout) {
  struct Case {
    int resolution, mapBits, modulo, width;
    int bits;  // pixel format expected
  } cases[] = {
      {1, 1, 2, 13, 1},  {1, 1, 2, 64, 1},    {2, 2, 4, 7, 4},   {3, 3, 8, 9, 4},   {4, 4, 16, 33, 4},
      {5, 5, 32, 6, 8},  {7, 8, 200, 10, 8},  // resolutions without a format of their own
      {1, 8, 200, 11, 8},                     // indices beyond what the resolution names
      {2, 8, 16, 5, 4},
  };
  int n = 0;
  for (const Case& c : cases) {
    const std::string name = "r" + std::to_string(n++) + ".gif";
    dir.Put(name, BuildGif(OneImage(c.width, 9, c.resolution, c.mapBits, RowNumbers(c.width, 9, c.modulo))));
    EXPECT_EQ(ExpectSameAsGdal(dir / name), c.bits) << "resolution " << c.resolution << " modulo " << c.modulo;
  }
}

TEST_F(GifReadTest, PaletteComesFromTheScreenMapPaddedToTheFormat) {
  GifFixture fixture = OneImage(4, 2, 8, 2, {0, 1, 2, 3, 3, 2, 1, 0});
  dir.Put("p.gif", BuildGif(fixture));
  CVtImgFileGIF gif;
  CPaletteArray copy;
  EXPECT_EQ(gif.GetPalette(copy), 0);
  ASSERT_EQ(gif.OpenForRead((dir / "p.gif").c_str()), 1);
  ASSERT_EQ(gif.LoadImage(), 1);
  ASSERT_EQ(gif.m_Palette.GetSize(), 256);
  EXPECT_EQ(gif.m_Palette[3].peRed, fixture.colors[9]);
  EXPECT_EQ(gif.m_Palette[3].peBlue, fixture.colors[11]);
  for (int i = 4; i < 256; ++i) EXPECT_EQ(gif.m_Palette[i].peRed | gif.m_Palette[i].peGreen | gif.m_Palette[i].peBlue, 0);
  EXPECT_EQ(gif.GetPalette(copy), 1);
  EXPECT_EQ(copy.GetSize(), 256);

  // The image's own map rules its pixels, with or without a screen map.
  GifFixture local = fixture;
  local.images[0].localBits = 2;
  for (int i = 0; i < 12; ++i) local.images[0].localColors.push_back(static_cast<unsigned char>(250 - 9 * i));
  dir.Put("local.gif", BuildGif(local));
  ExpectSameAsGdal(dir / "local.gif");
  local.mapBits = 0;
  dir.Put("localonly.gif", BuildGif(local));
  ExpectSameAsGdal(dir / "localonly.gif");
  ASSERT_EQ(gif.OpenForRead((dir / "localonly.gif").c_str()), 1);
  ASSERT_EQ(gif.LoadImage(), 1);
  EXPECT_EQ(gif.m_Palette[1].peRed, 250 - 9 * 3);

  // No map at all: black, not the colours of the file read before.
  fixture.mapBits = 0;
  dir.Put("nomap.gif", BuildGif(fixture));
  ASSERT_EQ(gif.OpenForRead((dir / "nomap.gif").c_str()), 1);
  ASSERT_EQ(gif.LoadImage(), 1);
  ASSERT_EQ(gif.m_Palette.GetSize(), 256);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(gif.m_Palette[i].peRed | gif.m_Palette[i].peGreen | gif.m_Palette[i].peBlue, 0);
}

TEST_F(GifReadTest, ReadScanLineRefusesRowsOutsideTheImageAndShortLines) {
  dir.Put("a.gif", BuildGif(OneImage(10, 3, 8, 8, RowNumbers(10, 3, 256))));
  CVtImgFileGIF gif;
  CImgScanLine line(PF_BIT8, 12);
  EXPECT_EQ(gif.LoadImage(), -1);
  EXPECT_EQ(gif.ReadScanLine(0, line), 0);  // nothing decoded
  ASSERT_EQ(gif.OpenForRead((dir / "a.gif").c_str()), 1);
  ASSERT_EQ(gif.LoadImage(), 1);
  EXPECT_EQ(gif.GetWidthBytes(), 12u);
  EXPECT_EQ(gif.ReadScanLine(-1, line), -1);
  EXPECT_EQ(gif.ReadScanLine(3, line), -1);
  CImgScanLine shortLine(PF_BIT8, 11);
  EXPECT_EQ(gif.ReadScanLine(0, shortLine), -1);
  EXPECT_EQ(gif.ReadScanLine(2, line), 1);
  gif.Close();
  EXPECT_EQ(gif.ReadScanLine(2, line), 0);
  EXPECT_EQ(gif.LoadImage(), -1);
  EXPECT_EQ(gif.GetWidth(), 10u);  // properties outlive Close
}

TEST_F(GifReadTest, SignatureAndVersionAreChecked) {
  GifFixture fixture = OneImage(2, 2, 8, 1, {0, 1, 1, 0});
  for (const char* version : {"87a", "89a"}) {
    fixture.version = version;
    dir.Put("v.gif", BuildGif(fixture));
    CVtImgFileGIF gif;
    EXPECT_EQ(gif.OpenForRead((dir / "v.gif").c_str()), 1) << version;
  }
  for (const char* version : {"90a", "99z"}) {
    fixture.version = version;
    dir.Put("v.gif", BuildGif(fixture));
    CVtImgFileGIF gif;
    VtGetErrorMsgObj()->Clear();
    EXPECT_EQ(gif.OpenForRead((dir / "v.gif").c_str()), 0) << version;
    EXPECT_TRUE(VtGetErrorMsgObj()->HasMessage());
  }
  dir.Put("bmp.gif", "BM" + std::string(60, '\0'));
  dir.Put("short.gif", "GI");
  CVtImgFileGIF gif;
  EXPECT_EQ(gif.OpenForRead((dir / "bmp.gif").c_str()), 0);
  EXPECT_EQ(gif.OpenForRead((dir / "short.gif").c_str()), 0);
  EXPECT_EQ(gif.OpenForRead((dir / "missing.gif").c_str()), 0);
  EXPECT_EQ(gif.LoadImage(), -1);
}

// Every prefix of a good file is refused with a message, never a crash.
TEST_F(GifReadTest, TruncatedFilesFailWithACode) {
  GifFixture fixture = OneImage(23, 11, 8, 8, RowNumbers(23, 11, 256), true);
  const std::string whole = BuildGif(fixture);
  dir.Put("whole.gif", whole);
  {
    CVtImgFileGIF gif;
    ASSERT_EQ(gif.OpenForRead((dir / "whole.gif").c_str()), 1);
  }
  for (size_t cut = 0; cut < whole.size(); ++cut) {
    dir.Put("cut.gif", whole.substr(0, cut));
    CVtImgFileGIF gif;
    VtGetErrorMsgObj()->Clear();
    ASSERT_EQ(gif.OpenForRead((dir / "cut.gif").c_str()), 0) << "cut at " << cut;
    EXPECT_TRUE(VtGetErrorMsgObj()->HasMessage()) << "cut at " << cut;
    EXPECT_EQ(gif.LoadImage(), -1);
  }
}

TEST_F(GifReadTest, CodeStreamsThatEndBeforeTheImageFail) {
  // The data blocks are whole and end with the end code, but the codes stop
  // short of the pixels: codes for 6 rows under a descriptor of 10.
  GifFixture fixture = OneImage(20, 10, 8, 8, RowNumbers(20, 6, 256));
  fixture.images[0].height = 6;
  std::string bytes = BuildGif(fixture);
  bytes[FirstDescriptor(fixture) + 7] = 10;
  dir.Put("short.gif", bytes);
  CVtImgFileGIF gif;
  VtGetErrorMsgObj()->Clear();
  EXPECT_EQ(gif.OpenForRead((dir / "short.gif").c_str()), 0);
  EXPECT_TRUE(VtGetErrorMsgObj()->HasMessage());
  EXPECT_NE(gif.GetGifError(), 0);
}

TEST_F(GifReadTest, ImagesLargerThanTheirScreenOrTheirDataAreRefusedBeforeDecoding) {
  GifFixture wide = OneImage(8, 4, 8, 8, RowNumbers(8, 4, 256));
  wide.screenWidth = 7;
  dir.Put("wide.gif", BuildGif(wide));
  GifFixture tall = OneImage(8, 4, 8, 8, RowNumbers(8, 4, 256));
  tall.screenHeight = 3;
  dir.Put("tall.gif", BuildGif(tall));
  GifFixture empty = OneImage(8, 4, 8, 8, {});
  empty.images[0].width = 0;
  dir.Put("empty.gif", BuildGif(empty));
  GifFixture none = OneImage(8, 4, 8, 8, {});
  none.images.clear();
  dir.Put("none.gif", BuildGif(none));

  // A screen and image of 65535 x 65535 in about a hundred bytes: four
  // gigabytes if the descriptor were believed.
  GifFixture huge = OneImage(2, 2, 8, 1, {0, 1, 1, 0});
  huge.screenWidth = huge.screenHeight = 65535;
  std::string bytes = BuildGif(huge);
  const size_t descriptor = FirstDescriptor(huge);
  bytes[descriptor + 5] = bytes[descriptor + 6] = bytes[descriptor + 7] = bytes[descriptor + 8] = '\xFF';
  dir.Put("huge.gif", bytes);
  // Width and height that only overflow giflib's int product.
  GifFixture over = OneImage(2, 2, 8, 8, std::vector<unsigned char>(40000 * 8, 1));
  over.screenWidth = over.screenHeight = 65535;
  over.images[0].width = 40000;
  over.images[0].height = 8;
  std::string overBytes = BuildGif(over);
  const size_t overDescriptor = FirstDescriptor(over);
  overBytes[overDescriptor + 7] = overBytes[overDescriptor + 8] = '\xFF';
  dir.Put("over.gif", overBytes);

  // 300 x 300 pixels from about 60 bytes of codes: more than any code
  // stream that short can yield.
  GifFixture claim = OneImage(5, 5, 8, 1, std::vector<unsigned char>(25, 1));
  claim.screenWidth = claim.screenHeight = 300;
  std::string claimBytes = BuildGif(claim);
  claimBytes[FirstDescriptor(claim) + 5] = claimBytes[FirstDescriptor(claim) + 7] = 44;
  claimBytes[FirstDescriptor(claim) + 6] = claimBytes[FirstDescriptor(claim) + 8] = 1;
  dir.Put("claim.gif", claimBytes);

  for (const char* name : {"wide.gif", "tall.gif", "empty.gif", "none.gif", "huge.gif", "over.gif", "claim.gif"}) {
    CVtImgFileGIF gif;
    VtGetErrorMsgObj()->Clear();
    EXPECT_EQ(gif.OpenForRead((dir / name).c_str()), 0) << name;
    EXPECT_TRUE(VtGetErrorMsgObj()->HasMessage()) << name;
    // Refused from the layout alone: giflib never started decoding.
    EXPECT_EQ(gif.GetGifError(), 0) << name;
  }

  // An image smaller than its screen and placed inside it is fine.
  GifFixture inside = OneImage(5, 3, 8, 8, RowNumbers(5, 3, 256));
  inside.screenWidth = 9;
  inside.screenHeight = 9;
  inside.images[0].left = 4;
  dir.Put("inside.gif", BuildGif(inside));
  ExpectSameAsGdal(dir / "inside.gif");
}

// The size check must not refuse what real encoders write: one colour over
// a large image is the best case of LZW.
TEST_F(GifReadTest, HighlyCompressedImagesAreAccepted) {
  Picture flat;
  flat.width = 1500;
  flat.height = 1200;
  flat.bands = 1;
  flat.pixels.assign(static_cast<size_t>(flat.width) * flat.height, 3);
  for (short i = 0; i < 4; ++i) flat.colors.push_back(GDALColorEntry{i, i, i, 255});
  ASSERT_TRUE(GdalWriteGif(dir / "flat.gif", flat, false));
  ExpectSameAsGdal(dir / "flat.gif");
  ASSERT_EQ(Shell("convert -size 2000x900 xc:navy " + dir / "navy.gif"), 0);
  ExpectSameAsGdal(dir / "navy.gif");
}

TEST_F(GifReadTest, LaterImagesAndExtensionsAreSkippedOverTheFirst) {
  GifFixture fixture = OneImage(6, 5, 8, 8, RowNumbers(6, 5, 256));
  GifImageSpec second;
  second.width = 3;
  second.height = 2;
  second.indices = {9, 9, 9, 9, 9, 9};
  fixture.images.push_back(second);
  std::string bytes = BuildGif(fixture);
  // A comment extension before the first image.
  const size_t first = FirstDescriptor(fixture);
  bytes.insert(first, std::string("!\xFE\x05hello\x00", 9));
  dir.Put("multi.gif", bytes);
  ExpectSameAsGdal(dir / "multi.gif");
}

}  // namespace
