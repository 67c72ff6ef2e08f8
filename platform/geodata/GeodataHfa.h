// The geodata library's ERDAS Imagine (HFA) reader, bound on first use like
// its error layer and geometry calls, so that a process that reads no .img
// file never loads the library.
//
// The library exports these C functions but installs no header for them.
// The declarations here are ours, made to match the installed library: the
// functions keep the library's names, parameters and results, and the
// structures its field order and types (Eprj_ProParameters holds its
// projection number and zone as int). tests/platform/GeodataHfaTest.cpp
// compares what they give with the library's own raster driver on files it
// wrote, so a library whose functions change fails loudly there.
//
// Beyond the library's own checks, the calls below refuse a band number
// outside 1..bands and a block outside the band (the library indexes its
// arrays with them unchecked), and keep the library's complaints (read them
// with HfaLastError) instead of printing them.
#pragma once

#include <string>

namespace vtgeo {

typedef void* HFAHandle;

// Pixel types of a band.
enum : int {
  EPT_u1 = 0,
  EPT_u2 = 1,
  EPT_u4 = 2,
  EPT_u8 = 3,
  EPT_s8 = 4,
  EPT_u16 = 5,
  EPT_s16 = 6,
  EPT_u32 = 7,
  EPT_s32 = 8,
  EPT_f32 = 9,
  EPT_f64 = 10,
  EPT_c64 = 11,
  EPT_c128 = 12,
};

struct Eprj_Coordinate {
  double x;
  double y;
};

struct Eprj_Size {
  double width;
  double height;
};

// Map information: the centres of the corner pixels in map units.
struct Eprj_MapInfo {
  char* proName;
  Eprj_Coordinate upperLeftCenter;
  Eprj_Coordinate lowerRightCenter;
  Eprj_Size pixelSize;
  char* units;
};

enum Eprj_ProType { EPRJ_INTERNAL = 0, EPRJ_EXTERNAL = 1 };

enum Eprj_DatumType {
  EPRJ_DATUM_PARAMETRIC = 0,
  EPRJ_DATUM_GRID = 1,
  EPRJ_DATUM_REGRESSION = 2,
  EPRJ_DATUM_NONE = 3
};

struct Eprj_Datum {
  char* datumname;
  Eprj_DatumType type;
  double params[7];
  char* gridname;
};

struct Eprj_Spheroid {
  char* sphereName;
  double a;  // semi-major axis
  double b;  // semi-minor axis
  double eSquared;
  double radius;
};

// Projection: number and the 15 parameters in GCTP order (angles in
// radians, false easting and northing in metres).
struct Eprj_ProParameters {
  Eprj_ProType proType;
  int proNumber;
  char* proExeName;
  char* proName;
  int proZone;
  double proParams[15];
  Eprj_Spheroid proSpheroid;
};

// True when the library is loaded and every function below is bound.
bool HfaAvailable();
// The library's last complaint on this thread, or why it cannot be used.
std::string HfaLastError();

// Results of type int that the library declares as CPLErr: 0 (CE_None) is
// success, 3 (CE_Failure) failure.
HFAHandle HFAOpen(const char* filename, const char* access);
int HFAClose(HFAHandle handle);
int HFAGetRasterInfo(HFAHandle handle, int* xSize, int* ySize, int* bands);
// Bands count from 1.
int HFAGetBandInfo(HFAHandle handle, int band, int* dataType, int* blockXSize, int* blockYSize,
                   int* compressionType);
const Eprj_MapInfo* HFAGetMapInfo(HFAHandle handle);
const Eprj_Datum* HFAGetDatum(HFAHandle handle);
const Eprj_ProParameters* HFAGetProParameters(HFAHandle handle);
// 1 with the band's no-data value in `value` when it has one, else 0.
int HFAGetBandNoData(HFAHandle handle, int band, double* value);
// The coordinate system as ESRI WKT when the file holds one, else null; the
// text is the library's, freed with VSIFree.
char* HFAGetPEString(HFAHandle handle);
// Reads block (xBlock, yBlock) into `data`, which holds `dataSize` bytes: at
// least max(1, bits / 8) x block width x block height (the library expands
// empty blocks to that size).
int HFAGetRasterBlockEx(HFAHandle handle, int band, int xBlock, int yBlock, void* data, int dataSize);
void VSIFree(void* data);

}  // namespace vtgeo
