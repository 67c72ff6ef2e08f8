// BIL and USGS grids: files written by GDAL read as GDAL reads them (no-data
// cells replaced), headers as they come, and rows that never run past the
// caller's line.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "raster/CImgFileBILGrid.h"
#include "support/GdalEhdr.h"
#include "support/ScratchDir.h"

namespace {

// The driver with its data offset in view.
struct BilGrid : CImgFileBILGrid {
  using CImgFile::GetOffBits;
};

const double kGt[6] = {500000, 30, 0, 4000000, 0, -30};

// Cell values of band b, cell i: a spread over the type's range, with
// every seventh cell no-data.
double Value(GDALDataType type, int b, size_t i, double noData) {
  if (i % 7 == 3) return noData;
  const long long k = static_cast<long long>(i * 7919 + b * 104729);
  switch (type) {
    case GDT_Byte: return static_cast<double>(k % 256);
    case GDT_UInt16: return static_cast<double>(k % 65536);
    case GDT_Int16: return static_cast<double>(k % 65536 - 32768);
    // Singles with fractions, of either sign and several magnitudes.
    case GDT_Float32: return static_cast<double>(static_cast<float>((k % 20001 - 10000) * 0.137 * (1 + i % 3 * 1000)));
    default: return static_cast<double>((k * 40503) % 4000000000LL - 2000000000LL);
  }
}

// The low 16 bits of a whole number, as a signed 16-bit cell.
int16_t Low16(double v) { return static_cast<int16_t>(static_cast<uint16_t>(static_cast<long long>(v) & 0xFFFF)); }

// The cell our driver must deliver for GDAL's value `g`.
double Expected(GDALDataType type, double g, double noData) {
  switch (type) {
    case GDT_Byte: return g == noData ? 241 : g;
    case GDT_Int16:
    case GDT_UInt16: return Low16(g) == Low16(noData) ? -9999 : Low16(g);
    case GDT_Float32: return g;  // no-data cells stay as the header's NODATA
    default: return g == noData ? 0 : g;
  }
}

struct BilCase {
  const char* name;
  GDALDataType type;
  int bands;
  bool bigEndian;
  bool worldFile;  // position in a .blw instead of the header
};

TEST(BilGrid, GdalWrittenFilesReadAsGdalReadsThem) {
  const BilCase cases[] = {
      {"byte", GDT_Byte, 1, false, false},         {"int16 little-endian", GDT_Int16, 1, false, false},
      {"int16 big-endian", GDT_Int16, 1, true, true}, {"uint16 three bands", GDT_UInt16, 3, false, true},
      {"int32 big-endian", GDT_Int32, 1, true, false}, {"int32 two bands", GDT_Int32, 2, false, false},
      {"byte four bands big-endian", GDT_Byte, 4, true, false},
      {"float32", GDT_Float32, 1, false, false},       {"float32 two bands big-endian", GDT_Float32, 2, true, false},
  };
  const int width = 1101, height = 9;  // rows of several blocks of cells, not a multiple of 4 bytes
  for (const BilCase& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    const double noData = c.type == GDT_Byte     ? 7
                          : c.type == GDT_UInt16  ? 65535
                          : c.type == GDT_Float32 ? -3.4028234663852886e38
                                                  : -9999;
    std::vector<double> values(static_cast<size_t>(width) * height * c.bands);
    for (size_t i = 0; i < values.size(); ++i)
      values[i] = Value(c.type, static_cast<int>(i / (width * height)), i % (width * height), noData);
    ASSERT_TRUE(GdalWriteEhdr(dir / "g.bil", c.type, width, height, c.bands, values, c.worldFile ? nullptr : kGt,
                              &noData));
    const size_t cellBytes = GDALGetDataTypeSizeBytes(c.type);
    if (c.bigEndian) MakeBigEndian(dir / "g.bil", dir / "g.hdr", cellBytes);
    if (c.worldFile) dir.Put("g.blw", "30\n0\n0\n-30\n500015\n3999985\n");  // cell centres, as world files give them
    GdalBands g;
    ASSERT_TRUE(GdalReadBands(dir / "g.bil", g));

    BilGrid bil;
    ASSERT_EQ(bil.OpenForRead((dir / "g.bil").c_str()), 1);  // GDAL's lower-case .hdr
    ASSERT_EQ(bil.LoadImage(), 1);
    EXPECT_EQ(bil.GetWidth(), unsigned(width));
    EXPECT_EQ(bil.GetHeight(), unsigned(height));
    EXPECT_EQ(bil.m_nBandCount, c.bands);
    EXPECT_EQ(bil.m_strByteOrder, c.bigEndian ? "M" : "I");
    const ImgPixelFormat format = c.type == GDT_Float32 ? PF_FLOAT32
                                  : cellBytes == 1       ? PF_BIT8
                                  : cellBytes == 2       ? PF_BIT16
                                                         : PF_INT32;
    EXPECT_EQ(bil.m_bFloat, c.type == GDT_Float32);
    EXPECT_EQ(bil.GetPixelFormat(), format);
    EXPECT_EQ(bil.GetWidthBytes(), (width * cellBytes + 3) / 4 * 4);
    CRect2D bounds;
    bil.GetGeoReference(bounds);
    EXPECT_EQ(bounds, CRect2D(g.gt[0], g.gt[3], g.gt[0] + width * g.gt[1], g.gt[3] + height * g.gt[5]));
    EXPECT_EQ(bounds, CRect2D(500000, 4000000, 500000 + 30.0 * width, 4000000 - 30.0 * height));

    double lo = 0, hi = 0;
    CImgScanLine line(format, static_cast<long>(bil.GetWidthBytes()));
    const size_t fileBytes = ReadBytes(dir / "g.bil").size();
    for (int b = c.bands - 1; b >= 0; --b) {
      for (int row : {height - 1, 0, 4}) {
        const size_t offset = (row * c.bands + b) * width * cellBytes;
        ASSERT_EQ(bil.ReadScanLine(b, row, line), static_cast<long>(std::min<size_t>(bil.GetWidthBytes(), fileBytes - offset)));
        EXPECT_EQ(bil.GetOffBits(), offset);
        for (int x = 0; x < width; ++x) {
          const double want = Expected(c.type, g.At(b, row, x), noData);
          ASSERT_EQ(line.GetValue(x), want) << "band " << b << " row " << row << " col " << x;
          // Float statistics pass over no-data cells.
          if (c.type != GDT_Float32 || want != noData) lo = std::min(lo, want), hi = std::max(hi, want);
        }
      }
    }
    EXPECT_EQ(bil.m_dMinimum, lo);
    EXPECT_EQ(bil.m_dMaximum, hi);
    bil.Close();
  }
}

// What the header says, in the forms headers come in; each is read, or
// refused, before any row.
TEST(BilGrid, HeadersAsTheyCome) {
  const struct {
    const char* header;
    long result;
    int width;
  } cases[] = {
      {"NROWS 4\nNCOLS 6\nNBITS 16\n", 1, 6},
      {"nrows 4\r\nncols\t6\r\nlayout bil\r\n", 1, 6},                 // any case, a tab, CR LF
      {"NROWS 4\rNCOLS 6\rBYTEORDER I \rNBITS 8\r", 1, 6},              // lines apart by CR only
      {"NROWS 4\nNCOLS 6\nBANDROWBYTES 12\nTOTALROWBYTES 12\n", 1, 6},
      {"NROWS 4\nNCOLS 6\nBANDROWBYTES 14\n", -1, 0},                   // contradicts 6 x 16 bits
      {"NROWS 4\nNCOLS 6\nTOTALROWBYTES 24\n", -1, 0},                  // one band of 12 bytes
      {"NROWS 4\nNCOLS 6\nNBITS 12\n", -1, 0},                          // no such cells
      {"NROWS 4\nNCOLS 2\nNBITS 32\nPIXELTYPE FLOAT\n", 1, 2},          // singles
      {"NROWS 2\nNCOLS 3\nNBITS 64\nPIXELTYPE FLOAT\n", -1, 0},         // doubles are not read
      {"NROWS 4\nNCOLS 6\nNBITS 16\nPIXELTYPE FLOAT\n", -1, 0},         // no 16-bit floats
      {"NCOLS 6\nNBITS 16\n", -1, 0},                                   // no rows
      {"NROWS 4\nNCOLS 0\n", -1, 0},
      {"NROWS 4\nNCOLS 6\nNBANDS 0\n", -1, 0},
      {"NROWS 4\nNCOLS 99999999999\n", -1, 0},                          // no row of that size fits
      {"NROWS 4\nNCOLS 100\n", -1, 0},                                  // rows longer than the data file
      {"NROWS4\nNCOLS 6\n", -1, 0},                                     // a keyword without a value
  };
  ScratchDir dir;
  dir.Put("g.bil", std::string(48, '\0'));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.header);
    dir.Put("g.HDR", c.header);
    CImgFileBILGrid bil;
    ASSERT_EQ(bil.OpenForRead((dir / "g.bil").c_str()), 1);
    EXPECT_EQ(bil.LoadImage(), c.result);
    if (c.result == 1) {
      EXPECT_EQ(bil.GetWidth(), unsigned(c.width));
    }
  }
}

// Sizes and byte counts keep their sign: a negative or zero one is refused
// with the key and value named, never read as its absolute value.
TEST(BilAndUsGrid, SignedOrZeroCountsAreRefusedNamingThem) {
  const struct {
    const char* header;
    const char* reason;
  } cases[] = {
      {"NROWS 2\nNCOLS -20\n", "NCOLS -20"},
      {"NROWS 2\nNCOLS -1\n", "NCOLS -1"},
      {"NROWS -2\nNCOLS 4\n", "NROWS -2"},
      {"NROWS 2\nNCOLS 0\n", "NCOLS 0"},
      {"NROWS 2\nNCOLS 4\nNBANDS -1\n", "NBANDS -1"},
      {"NROWS 2\nNCOLS 4\nBANDGAPBYTES -8\n", "BANDGAPBYTES -8"},
      {"NROWS 2\nNCOLS 4\nBANDROWBYTES -8\n", "BANDROWBYTES -8"},
      {"NROWS 2\nNCOLS 4\nNBITS -16\n", "NBITS -16"},
      {"NCOLS 4\n", "no NROWS"},
  };
  ScratchDir dir;
  dir.Put("g.bil", std::string(400, '\0'));
  dir.Put("g.dem", std::string(400, '\0'));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.header);
    dir.Put("g.hdr", c.header);
    CImgFileBILGrid bil;
    ASSERT_EQ(bil.OpenForRead((dir / "g.bil").c_str()), 1);
    EXPECT_EQ(bil.LoadImage(), -1);
    EXPECT_NE(bil.m_strRefusal.str().find(c.reason), std::string::npos) << bil.m_strRefusal.str();
    CImgFileUSGrid us;
    ASSERT_EQ(us.OpenForRead((dir / "g.dem").c_str()), 1);
    EXPECT_EQ(us.LoadImage(), -1);
    EXPECT_NE(us.m_strRefusal.str().find(c.reason), std::string::npos) << us.m_strRefusal.str();
  }
  // The same header with the sign dropped is read.
  dir.Put("g.hdr", "NROWS 2\nNCOLS 20\n");
  CImgFileBILGrid bil;
  ASSERT_EQ(bil.OpenForRead((dir / "g.bil").c_str()), 1);
  EXPECT_EQ(bil.LoadImage(), 1);
  EXPECT_EQ(bil.GetWidth(), 20u);
  EXPECT_TRUE(bil.m_strRefusal.IsEmpty());
}

TEST(BilGrid, BigEndianRowsAndTheWorldFile) {
  // 100 rows of 200 big-endian cells, cell x of row y = 100 y + x.
  ScratchDir dir;
  std::string data;
  for (int y = 0; y < 100; ++y)
    for (int x = 0; x < 200; ++x) data += {char((100 * y + x) >> 8), char((100 * y + x) & 0xFF)};
  dir.Put("dem.bil", data);
  dir.Put("dem.hdr", "NROWS 100\nNCOLS 200\nNBITS 16\nBYTEORDER M\nULXMAP 7\nULYMAP 8\nXDIM 2\nYDIM 2\n");
  dir.Put("DEM.BLW", "30\n0\n0\n-30\n500000\n4000000\n");
  BilGrid bil;
  ASSERT_EQ(bil.OpenForRead((dir / "dem.bil").c_str()), 1);
  ASSERT_EQ(bil.LoadImage(), 1);
  EXPECT_EQ(bil.m_nBandRowBytes, 400);
  EXPECT_EQ(bil.m_nTotalRowBytes, 400);
  // The world file replaces the header's position and cell size.
  EXPECT_EQ(bil.m_dXDim, 30);
  EXPECT_EQ(bil.m_dYDim, 30);
  EXPECT_EQ(bil.m_dUpperLeftX, 500000);
  EXPECT_EQ(bil.m_dUpperLeftY, 4000000);
  CImgScanLine line(PF_BIT16, 400);
  ASSERT_EQ(bil.ReadScanLine(3, line), 400);
  EXPECT_EQ(bil.GetOffBits(), 1200u);
  EXPECT_EQ(line.GetValue(0), 300);
  EXPECT_EQ(line.GetValue(199), 499);

  // A world file that holds no numbers leaves the header's values.
  dir.Put("DEM.BLW", "none\n");
  CImgFileBILGrid again;
  ASSERT_EQ(again.OpenForRead((dir / "dem.bil").c_str()), 1);
  ASSERT_EQ(again.LoadImage(), 1);
  EXPECT_EQ(again.m_dXDim, 2);
  EXPECT_EQ(again.m_dUpperLeftX, 7);
}

// Rows are read into the caller's line, never past it, and only whole
// cells of what the file holds count.
TEST(BilGrid, RowsStayInsideTheLineAndTheFile) {
  ScratchDir dir;
  // 5 columns of 32-bit cells, little-endian, 3 rows; the file ends 6
  // bytes into row 2.
  std::string data;
  for (int i = 0; i < 10; ++i) {
    const int32_t v = i == 4 ? -9999 : (i - 2) * 1000;
    data.append(reinterpret_cast<const char*>(&v), 4);
  }
  const int32_t tail = -50000;
  data.append(reinterpret_cast<const char*>(&tail), 4);
  data.append(2, '\x7F');
  dir.Put("g.bil", data);
  dir.Put("g.hdr", "NROWS 3\nNCOLS 5\nNBITS 32\nBYTEORDER I\n");
  CImgFileBILGrid bil;
  ASSERT_EQ(bil.OpenForRead((dir / "g.bil").c_str()), 1);
  ASSERT_EQ(bil.LoadImage(), 1);
  EXPECT_EQ(bil.GetWidthBytes(), 20u);

  // A line of exactly the row's cells is filled, a shorter one refused untouched.
  CImgScanLine exact(PF_INT32, 20), small(PF_INT32, 19);
  std::memset(small.GetData(), 0x5A, 19);
  EXPECT_EQ(bil.ReadScanLine(0, small), 0);
  EXPECT_EQ(small[18], 0x5A);
  ASSERT_EQ(bil.ReadScanLine(0, exact), 20);
  EXPECT_EQ(exact.GetValue(4), 0);  // no-data -9999 becomes 0
  EXPECT_EQ(exact.GetValue(0), -2000);
  // Rows and bands that do not exist read nothing.
  EXPECT_EQ(bil.ReadScanLine(-1, exact), 0);
  EXPECT_EQ(bil.ReadScanLine(3, exact), 0);
  EXPECT_EQ(bil.ReadScanLine(1, 0, exact), 0);
  EXPECT_EQ(bil.ReadScanLine(-1, 0, exact), 0);
  // The cut row gives its bytes; the half cell does not enter the statistics.
  ASSERT_EQ(bil.ReadScanLine(2, exact), 6);
  EXPECT_EQ(exact.GetValue(0), -50000);
  EXPECT_EQ(bil.m_dMinimum, -50000);
  EXPECT_EQ(bil.m_dMaximum, 1000);  // the half cell 7F 7F never counted
  ASSERT_EQ(bil.ReadScanLine(1, exact), 20);
  EXPECT_EQ(bil.m_dMaximum, 7000);

  // Three bands stored pixel by pixel are not where rows are looked for.
  dir.Put("g.hdr", "NROWS 1\nNCOLS 1\nNBANDS 3\nNBITS 16\nLAYOUT BIP\n");
  CImgFileBILGrid bip;
  ASSERT_EQ(bip.OpenForRead((dir / "g.bil").c_str()), 1);
  ASSERT_EQ(bip.LoadImage(), 1);
  EXPECT_EQ(bip.ReadScanLine(1, 0, exact), 0);
  EXPECT_EQ(bip.ReadScanLine(0, exact), 0);
}

// A comma-decimal locale, as a host application may set, for one scope.
struct CommaLocale {
  CommaLocale() : ok(std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr) {}
  ~CommaLocale() { std::setlocale(LC_ALL, "C"); }
  bool ok;
};

TEST(BilGrid, HeaderNumbersIgnoreTheLocale) {
  CommaLocale locale;
  ASSERT_TRUE(locale.ok) << "the de_DE.UTF-8 locale is missing (scripts/install-deps makes it)";
  ScratchDir dir;
  dir.Put("g.bil", std::string(8, '\0'));
  dir.Put("g.hdr", "NROWS 2\nNCOLS 2\nULXMAP 500000.25\nULYMAP 1.5e3\nXDIM 0.5\nYDIM 0.5\n");
  CImgFileBILGrid bil;
  ASSERT_EQ(bil.OpenForRead((dir / "g.bil").c_str()), 1);
  ASSERT_EQ(bil.LoadImage(), 1);
  EXPECT_EQ(bil.m_dUpperLeftX, 500000.25);
  EXPECT_EQ(bil.m_dUpperLeftY, 1500);
  EXPECT_EQ(bil.m_dXDim, 0.5);
}

// USGS grids: 16-bit cells as stored, 32-bit cells reduced to their low
// 16 bits; no-data cells 0.
TEST(UsGrid, GdalWrittenGridsReadAsTheirLow16Bits) {
  const struct {
    GDALDataType type;
    bool bigEndian;
    bool corner;  // the position as XLLCORNER, YLLCORNER and CELLSIZE
  } cases[] = {{GDT_Int16, false, false}, {GDT_Int16, true, true}, {GDT_Int32, true, false}, {GDT_Int32, false, true}};
  const int width = 11, height = 6;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.type) + (c.bigEndian ? " M" : " I") + (c.corner ? " corner" : ""));
    ScratchDir dir;
    const double noData = -9999;
    std::vector<double> values(static_cast<size_t>(width) * height);
    for (size_t i = 0; i < values.size(); ++i) values[i] = Value(c.type, 0, i, noData);
    ASSERT_TRUE(GdalWriteEhdr(dir / "g.dem", c.type, width, height, 1, values, kGt, &noData));
    const size_t cellBytes = GDALGetDataTypeSizeBytes(c.type);
    if (c.bigEndian) MakeBigEndian(dir / "g.dem", dir / "g.hdr", cellBytes);
    if (c.corner) {
      std::string header = ReadBytes(dir / "g.hdr");
      header = header.substr(0, header.find("ULXMAP")) + "XLLCORNER 500000\nYLLCORNER 3999820\nCELLSIZE 30\n";
      dir.Put("g.hdr", header);
    }
    GdalBands g;
    ASSERT_TRUE(GdalReadBands(dir / "g.dem", g));

    CImgFileUSGrid us;
    ASSERT_EQ(us.OpenForRead((dir / "g.dem").c_str()), 1);
    ASSERT_EQ(us.LoadImage(), 1);
    EXPECT_EQ(us.GetPixelFormat(), PF_BIT16);
    EXPECT_EQ(us.GetWidthBytes(), 24u);
    CRect2D bounds;
    us.GetGeoReference(bounds);
    EXPECT_EQ(bounds, CRect2D(g.gt[0], g.gt[3], g.gt[0] + width * g.gt[1], g.gt[3] + height * g.gt[5]));
    CImgScanLine line(PF_BIT16, static_cast<long>(us.GetWidthBytes()));
    for (int row = height - 1; row >= 0; --row) {
      // 16-bit rows are read up to the width bytes: the last one is cut short by the end of the file.
      const long bytes = c.type == GDT_Int32 ? 44 : std::min(24, (height - row) * 22);
      ASSERT_EQ(us.ReadScanLine(row, line), bytes);
      for (int x = 0; x < width; ++x) {
        const int16_t low = Low16(g.At(0, row, x));
        ASSERT_EQ(line.GetValue(x), low == -9999 ? 0 : low) << row << " " << x;
      }
    }
    EXPECT_LE(us.m_dMinimum, 0);
    EXPECT_LT(us.m_dMinimum, -1000);
    EXPECT_GT(us.m_dMaximum, 1000);
  }
}

TEST(UsGrid, HeaderForms) {
  ScratchDir dir;
  dir.Put("g.dem", std::string("\x00\x01\x86\xA0\xFF\xFF\xD8\xF1", 8));  // 100000, -9999 big-endian
  const struct {
    const char* header;
    long result;
  } cases[] = {
      {"NROWS 1\nNCOLS 2\nNBITS 32\nCELLSIZE -0.5\n", 1},
      {"NROWS 1\nNCOLS 2\nNBITS 8\n", -1},   // bytes would be read as 16-bit cells
      {"NROWS 1\nNCOLS 9\nNBITS 32\n", -1},  // a row of 36 bytes from an 8-byte file
      {"NROWS 1\n", -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.header);
    dir.Put("g.hdr", c.header);
    CImgFileUSGrid us;
    ASSERT_EQ(us.OpenForRead((dir / "g.dem").c_str()), 1);
    ASSERT_EQ(us.LoadImage(), c.result);
  }
  CImgFileUSGrid us;
  dir.Put("g.hdr", "NROWS 1\nNCOLS 2\nNBITS 32\nCELLSIZE -0.5\n");
  ASSERT_EQ(us.OpenForRead((dir / "g.dem").c_str()), 1);
  ASSERT_EQ(us.LoadImage(), 1);
  EXPECT_EQ(us.m_dXDim, 0.5);
  EXPECT_EQ(us.m_dYDim, 0.5);
  CImgScanLine line(PF_BIT16, 4);
  ASSERT_EQ(us.ReadScanLine(0, line), 8);
  EXPECT_EQ(static_cast<uint16_t>(static_cast<int16_t>(line.GetValue(0))), 0x86A0);  // the low half of 100000
  EXPECT_EQ(line.GetValue(1), 0);                               // -9999
  us.Close();

  // An unknown byte order leaves the cells as stored, no-data and all.
  dir.Put("g.hdr", "NROWS 1\nNCOLS 4\nBYTEORDER X\n");
  ASSERT_EQ(us.OpenForRead((dir / "g.dem").c_str()), 1);
  ASSERT_EQ(us.LoadImage(), 1);
  CImgScanLine four(PF_BIT16, 8);
  ASSERT_EQ(us.ReadScanLine(0, four), 8);
  EXPECT_EQ(std::memcmp(four.GetData(), "\x00\x01\x86\xA0\xFF\xFF\xD8\xF1", 8), 0);
}

TEST(BilAndUsGrid, WritingWritesNothing) {
  ScratchDir dir;
  CImgFileBILGrid bil;
  ASSERT_EQ(bil.OpenForWrite((dir / "w.bil").c_str()), 1);
  CImgScanLine line(PF_BIT16, 8);
  EXPECT_EQ(bil.SaveImage(), 1);
  EXPECT_EQ(bil.WriteScanLine(0, line), 0);
  bil.Close();
  CImgFileUSGrid us;
  ASSERT_EQ(us.OpenForWrite((dir / "w.dem").c_str()), 1);
  EXPECT_EQ(us.SaveImage(), 1);
  EXPECT_EQ(us.WriteScanLine(0, line), 0);
  us.Close();
  for (const char* name : {"w.bil", "w.HDR", "w.BLW", "w.dem"}) EXPECT_EQ(ReadBytes(dir / name), "") << name;
  // Reading needs the header.
  EXPECT_EQ(bil.OpenForRead((dir / "none.bil").c_str()), 0);
  dir.Put("lone.bil", "x");
  EXPECT_EQ(bil.OpenForRead((dir / "lone.bil").c_str()), 0);
  EXPECT_EQ(bil.m_hFile, CFile::hFileNull);
  EXPECT_EQ(us.OpenForRead((dir / "lone.bil").c_str()), 0);
  EXPECT_EQ(us.m_hFile, CFile::hFileNull);
}

}  // namespace
