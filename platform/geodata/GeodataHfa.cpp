#include "platform/geodata/GeodataHfa.h"


#include "platform/geodata/GeodataCpl.h"

namespace vtgeo {
namespace {

// The library's functions, as it exports them.
struct HfaEntries {
  HFAHandle (*open)(const char*, const char*) = nullptr;
  int (*close)(HFAHandle) = nullptr;
  int (*rasterInfo)(HFAHandle, int*, int*, int*) = nullptr;
  int (*bandInfo)(HFAHandle, int, int*, int*, int*, int*) = nullptr;
  int (*bandNoData)(HFAHandle, int, double*) = nullptr;
  const Eprj_MapInfo* (*mapInfo)(HFAHandle) = nullptr;
  const Eprj_Datum* (*datum)(HFAHandle) = nullptr;
  const Eprj_ProParameters* (*proParameters)(HFAHandle) = nullptr;
  char* (*peString)(HFAHandle) = nullptr;
  int (*rasterBlockEx)(HFAHandle, int, int, int, void*, int) = nullptr;
  void (*free)(void*) = nullptr;
  bool bound = false;
};

const HfaEntries& Entries() {
  static const HfaEntries entries = [] {
    HfaEntries e;
    if (!GeodataLibrary()) return e;
    e.bound = BindGeodata("HFAOpen", e.open) && BindGeodata("HFAClose", e.close) &&
              BindGeodata("HFAGetRasterInfo", e.rasterInfo) && BindGeodata("HFAGetBandInfo", e.bandInfo) &&
              BindGeodata("HFAGetBandNoData", e.bandNoData) && BindGeodata("HFAGetMapInfo", e.mapInfo) &&
              BindGeodata("HFAGetDatum", e.datum) && BindGeodata("HFAGetProParameters", e.proParameters) &&
              BindGeodata("HFAGetPEString", e.peString) && BindGeodata("HFAGetRasterBlockEx", e.rasterBlockEx) &&
              BindGeodata("VSIFree", e.free);
    if (!e.bound) e = HfaEntries();
    return e;
  }();
  return entries;
}

const int kFailure = 3;  // CE_Failure

// True when `band` (from 1) is one of the file's bands.
bool HasBand(const HfaEntries& e, HFAHandle handle, int band) {
  int bands = 0;
  return e.rasterInfo(handle, nullptr, nullptr, &bands) == 0 && band >= 1 && band <= bands;
}

}  // namespace

bool HfaAvailable() { return Entries().bound; }

std::string HfaLastError() {
  const HfaEntries& e = Entries();
  if (!e.bound) return "the geodata library's HFA reader cannot be loaded";
  return GeodataLastMessage();
}

HFAHandle HFAOpen(const char* filename, const char* access) {
  const HfaEntries& e = Entries();
  if (!e.bound || !filename || !access) return nullptr;
  GeodataQuiet quiet;
  return e.open(filename, access);
}

int HFAClose(HFAHandle handle) {
  const HfaEntries& e = Entries();
  if (!e.bound || !handle) return -1;
  GeodataQuiet quiet;
  return e.close(handle);
}

int HFAGetRasterInfo(HFAHandle handle, int* xSize, int* ySize, int* bands) {
  const HfaEntries& e = Entries();
  if (!e.bound || !handle) return kFailure;
  return e.rasterInfo(handle, xSize, ySize, bands);
}

int HFAGetBandInfo(HFAHandle handle, int band, int* dataType, int* blockXSize, int* blockYSize,
                   int* compressionType) {
  const HfaEntries& e = Entries();
  if (!e.bound || !handle || !HasBand(e, handle, band)) return kFailure;
  GeodataQuiet quiet;
  return e.bandInfo(handle, band, dataType, blockXSize, blockYSize, compressionType);
}

int HFAGetBandNoData(HFAHandle handle, int band, double* value) {
  const HfaEntries& e = Entries();
  if (!e.bound || !handle || !value || !HasBand(e, handle, band)) return 0;
  GeodataQuiet quiet;
  return e.bandNoData(handle, band, value) ? 1 : 0;
}

const Eprj_MapInfo* HFAGetMapInfo(HFAHandle handle) {
  const HfaEntries& e = Entries();
  if (!e.bound || !handle) return nullptr;
  GeodataQuiet quiet;
  return e.mapInfo(handle);
}

const Eprj_Datum* HFAGetDatum(HFAHandle handle) {
  const HfaEntries& e = Entries();
  if (!e.bound || !handle) return nullptr;
  GeodataQuiet quiet;
  return e.datum(handle);
}

const Eprj_ProParameters* HFAGetProParameters(HFAHandle handle) {
  const HfaEntries& e = Entries();
  if (!e.bound || !handle) return nullptr;
  GeodataQuiet quiet;
  return e.proParameters(handle);
}

char* HFAGetPEString(HFAHandle handle) {
  const HfaEntries& e = Entries();
  if (!e.bound || !handle) return nullptr;
  GeodataQuiet quiet;
  return e.peString(handle);
}

int HFAGetRasterBlockEx(HFAHandle handle, int band, int xBlock, int yBlock, void* data, int dataSize) {
  const HfaEntries& e = Entries();
  if (!e.bound || !handle || !data || dataSize <= 0 || !HasBand(e, handle, band)) return kFailure;
  int width = 0, height = 0, type = 0, blockWidth = 0, blockHeight = 0;
  if (e.rasterInfo(handle, &width, &height, nullptr) != 0 ||
      e.bandInfo(handle, band, &type, &blockWidth, &blockHeight, nullptr) != 0 || blockWidth <= 0 ||
      blockHeight <= 0 || xBlock < 0 || yBlock < 0 ||
      xBlock >= (static_cast<long long>(width) + blockWidth - 1) / blockWidth ||
      yBlock >= (static_cast<long long>(height) + blockHeight - 1) / blockHeight)
    return kFailure;
  GeodataQuiet quiet;
  return e.rasterBlockEx(handle, band, xBlock, yBlock, data, dataSize);
}

void VSIFree(void* data) {
  const HfaEntries& e = Entries();
  if (e.bound && data) e.free(data);
}

}  // namespace vtgeo
