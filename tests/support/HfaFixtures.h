// ERDAS Imagine fixtures written by GDAL's HFA driver, GDAL's reading of
// them, and edits of a written file's projection records through the HFA
// functions the library exports (for files no writer at hand makes).
#pragma once

#include <gdal.h>
#include <cpl_conv.h>
#include <ogr_srs_api.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/geodata/GeodataHfa.h"

// The library's writing calls, for editing fixtures; the reading ones are
// those the reader under test binds.
extern "C" {
int HFASetProParameters(void* handle, const vtgeo::Eprj_ProParameters* pro);
int HFASetMapInfo(void* handle, const vtgeo::Eprj_MapInfo* map);
int HFASetDatum(void* handle, const vtgeo::Eprj_Datum* datum);
int HFASetPEString(void* handle, const char* pe);
}

struct HfaFixture {
  int width = 150, height = 70, bands = 1;
  GDALDataType type = GDT_Byte;
  std::vector<std::string> options;  // creation options (BLOCKSIZE, COMPRESSED, NBITS, PIXELTYPE)
  std::string srs;                   // any text OSRSetFromUserInput takes; empty: none
  double gt[6] = {440000, 30, 0, 3751000, 0, -30};
  bool hasNoData = false;
  double noData = 0;  // of every band, when hasNoData
};

// Value of pixel i of band b, storable in the fixture's type (and in `bits`
// bits when the band is packed).
inline double HfaPattern(const HfaFixture& f, size_t i, int b, int bits = 0) {
  const unsigned v = static_cast<unsigned>(i * 37 + i / 11 + b * 91);
  if (bits) return v % (1u << bits);
  switch (f.type) {
    case GDT_Byte:
      return v & 0xFF;
    case GDT_UInt16:
      return (v * 257) & 0xFFFF;
    case GDT_Int16:
      return static_cast<int>(v % 60000) - 30000;
    case GDT_UInt32:
      return v * 2654435761u;
    case GDT_Int32:
      return static_cast<double>(static_cast<int>(v * 1234567u) >> 2);
    case GDT_Float32:
      return static_cast<float>(v) * 0.25f - 1000.0f;
    case GDT_Float64:
      return v * 1e-3 - 7.5e5;
    default:
      return v % 1000;
  }
}

// Writes the fixture; bands of complex types get the pattern as real part
// and its negation as imaginary part.
inline bool GdalWriteHfa(const std::string& path, const HfaFixture& f, int bits = 0) {
  GDALAllRegister();
  std::vector<const char*> opts;
  for (const std::string& o : f.options) opts.push_back(o.c_str());
  opts.push_back(nullptr);
  GDALDatasetH ds = GDALCreate(GDALGetDriverByName("HFA"), path.c_str(), f.width, f.height, f.bands, f.type,
                               const_cast<char**>(opts.data()));
  if (!ds) return false;
  GDALSetGeoTransform(ds, const_cast<double*>(f.gt));
  if (!f.srs.empty()) {
    OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
    OSRSetFromUserInput(srs, f.srs.c_str());
    GDALSetSpatialRef(ds, srs);
    OSRDestroySpatialReference(srs);
  }
  const size_t n = static_cast<size_t>(f.width) * f.height;
  const bool complex = GDALDataTypeIsComplex(f.type);
  std::vector<double> values(complex ? 2 * n : n);
  bool ok = true;
  for (int b = 0; b < f.bands && ok; ++b) {
    if (f.hasNoData) GDALSetRasterNoDataValue(GDALGetRasterBand(ds, b + 1), f.noData);
    for (size_t i = 0; i < n; ++i) {
      if (complex) {
        values[2 * i] = HfaPattern(f, i, b);
        values[2 * i + 1] = -HfaPattern(f, i, b);
      } else {
        values[i] = HfaPattern(f, i, b, bits);
      }
    }
    ok = GDALRasterIO(GDALGetRasterBand(ds, b + 1), GF_Write, 0, 0, f.width, f.height, values.data(), f.width,
                      f.height, complex ? GDT_CFloat64 : GDT_Float64, 0, 0) == CE_None;
  }
  GDALClose(ds);
  return ok;
}

// Band `band` (from 1) as GDAL reads it: its rows in the band's own type,
// top row first, packed pixels as one byte each.
inline std::vector<unsigned char> GdalBandBytes(const std::string& path, int band,
                                                int* dataTypeSize = nullptr) {
  GDALAllRegister();
  std::vector<unsigned char> bytes;
  GDALDatasetH ds = GDALOpen(path.c_str(), GA_ReadOnly);
  if (!ds) return bytes;
  GDALRasterBandH b = GDALGetRasterBand(ds, band);
  const GDALDataType type = GDALGetRasterDataType(b);
  const int size = GDALGetDataTypeSizeBytes(type);
  if (dataTypeSize) *dataTypeSize = size;
  const int w = GDALGetRasterXSize(ds), h = GDALGetRasterYSize(ds);
  bytes.resize(static_cast<size_t>(w) * h * size);
  if (GDALRasterIO(b, GF_Read, 0, 0, w, h, bytes.data(), w, h, type, 0, 0) != CE_None) bytes.clear();
  GDALClose(ds);
  return bytes;
}

// True when our WKT describes the same system as GDAL's reading of `path`.
// A datum the file names itself keeps that name with us; GDAL renames it
// from the file's ESRI text ("D_Unknown_based_on_..."), so only such names
// are taken from ours before comparing.
inline bool SameSystemAsGdal(const std::string& path, const std::string& ourWkt, std::string& gdalWkt) {
  GDALAllRegister();
  GDALDatasetH ds = GDALOpen(path.c_str(), GA_ReadOnly);
  if (!ds) return false;
  OGRSpatialReferenceH theirs = OSRNewSpatialReference(GDALGetProjectionRef(ds));
  GDALClose(ds);
  OGRSpatialReferenceH ours = OSRNewSpatialReference(nullptr);
  char* text = const_cast<char*>(ourWkt.c_str());
  bool same = false;
  if (OSRImportFromWkt(ours, &text) == OGRERR_NONE) {
    const char* root = OSRIsProjected(theirs) ? "PROJCS|GEOGCS|DATUM" : "GEOGCS|DATUM";
    const char* theirDatum = OSRGetAttrValue(theirs, root, 0);
    const char* ourDatum = OSRGetAttrValue(ours, root, 0);
    if (theirDatum && ourDatum && std::strncmp(theirDatum, "D_Unknown_based_on", 18) == 0)
      OSRSetAttrValue(theirs, root, ourDatum);
    same = OSRIsSame(ours, theirs) != 0;
  }
  char* wkt = nullptr;
  OSRExportToWkt(theirs, &wkt);
  gdalWkt = wkt ? wkt : "";
  CPLFree(wkt);
  OSRDestroySpatialReference(ours);
  OSRDestroySpatialReference(theirs);
  return same;
}

// Rewrites the projection records of a written file: `edit` changes
// copies of its projection, map information and datum.
template <class Edit>
inline bool EditHfaProjection(const std::string& path, Edit edit) {
  void* h = vtgeo::HFAOpen(path.c_str(), "r+");
  const vtgeo::Eprj_ProParameters* p = vtgeo::HFAGetProParameters(h);
  const vtgeo::Eprj_MapInfo* m = vtgeo::HFAGetMapInfo(h);
  const vtgeo::Eprj_Datum* d = vtgeo::HFAGetDatum(h);
  bool ok = p && m && d;
  if (ok) {
    vtgeo::Eprj_ProParameters pro = *p;
    vtgeo::Eprj_MapInfo map = *m;
    vtgeo::Eprj_Datum datum = *d;
    std::string pe;
    edit(pro, map, datum, pe);
    ok = HFASetProParameters(h, &pro) == 0 && HFASetMapInfo(h, &map) == 0 && HFASetDatum(h, &datum) == 0 &&
         (pe.empty() || HFASetPEString(h, pe.c_str()) == 0);
  }
  if (h) vtgeo::HFAClose(h);
  return ok;
}
