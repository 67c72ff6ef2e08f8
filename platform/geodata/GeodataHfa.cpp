#include "platform/geodata/GeodataHfa.h"

#include <dlfcn.h>

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
  void (*pushHandler)(void (*)(int, int, const char*)) = nullptr;
  void (*popHandler)() = nullptr;
  void (*quietHandler)(int, int, const char*) = nullptr;
  void (*errorReset)() = nullptr;
  const char* (*lastMessage)() = nullptr;
  bool bound = false;
};

template <class F>
bool Bind(void* library, const char* name, F& entry) {
  entry = reinterpret_cast<F>(dlsym(library, name));
  return entry != nullptr;
}

const HfaEntries& Entries() {
  static const HfaEntries entries = [] {
    HfaEntries e;
    void* lib = GeodataLibrary();
    if (!lib) return e;
    e.bound = Bind(lib, "HFAOpen", e.open) && Bind(lib, "HFAClose", e.close) &&
              Bind(lib, "HFAGetRasterInfo", e.rasterInfo) && Bind(lib, "HFAGetBandInfo", e.bandInfo) &&
              Bind(lib, "HFAGetBandNoData", e.bandNoData) && Bind(lib, "HFAGetMapInfo", e.mapInfo) &&
              Bind(lib, "HFAGetDatum", e.datum) && Bind(lib, "HFAGetProParameters", e.proParameters) &&
              Bind(lib, "HFAGetPEString", e.peString) && Bind(lib, "HFAGetRasterBlockEx", e.rasterBlockEx) &&
              Bind(lib, "VSIFree", e.free) && Bind(lib, "CPLPushErrorHandler", e.pushHandler) &&
              Bind(lib, "CPLPopErrorHandler", e.popHandler) &&
              Bind(lib, "CPLQuietErrorHandler", e.quietHandler) && Bind(lib, "CPLErrorReset", e.errorReset) &&
              Bind(lib, "CPLGetLastErrorMsg", e.lastMessage);
    if (!e.bound) e = HfaEntries();
    return e;
  }();
  return entries;
}

// The library's complaints about one call are kept, not printed.
struct Quiet {
  const HfaEntries& e;
  explicit Quiet(const HfaEntries& entries) : e(entries) {
    e.errorReset();
    e.pushHandler(e.quietHandler);
  }
  ~Quiet() { e.popHandler(); }
};

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
  const char* text = e.lastMessage();
  return text ? text : "";
}

HFAHandle HFAOpen(const char* filename, const char* access) {
  const HfaEntries& e = Entries();
  if (!e.bound || !filename || !access) return nullptr;
  Quiet quiet(e);
  return e.open(filename, access);
}

int HFAClose(HFAHandle handle) {
  const HfaEntries& e = Entries();
  if (!e.bound || !handle) return -1;
  Quiet quiet(e);
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
  Quiet quiet(e);
  return e.bandInfo(handle, band, dataType, blockXSize, blockYSize, compressionType);
}

int HFAGetBandNoData(HFAHandle handle, int band, double* value) {
  const HfaEntries& e = Entries();
  if (!e.bound || !handle || !value || !HasBand(e, handle, band)) return 0;
  Quiet quiet(e);
  return e.bandNoData(handle, band, value) ? 1 : 0;
}

const Eprj_MapInfo* HFAGetMapInfo(HFAHandle handle) {
  const HfaEntries& e = Entries();
  if (!e.bound || !handle) return nullptr;
  Quiet quiet(e);
  return e.mapInfo(handle);
}

const Eprj_Datum* HFAGetDatum(HFAHandle handle) {
  const HfaEntries& e = Entries();
  if (!e.bound || !handle) return nullptr;
  Quiet quiet(e);
  return e.datum(handle);
}

const Eprj_ProParameters* HFAGetProParameters(HFAHandle handle) {
  const HfaEntries& e = Entries();
  if (!e.bound || !handle) return nullptr;
  Quiet quiet(e);
  return e.proParameters(handle);
}

char* HFAGetPEString(HFAHandle handle) {
  const HfaEntries& e = Entries();
  if (!e.bound || !handle) return nullptr;
  Quiet quiet(e);
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
  Quiet quiet(e);
  return e.rasterBlockEx(handle, band, xBlock, yBlock, data, dataSize);
}

void VSIFree(void* data) {
  const HfaEntries& e = Entries();
  if (e.bound && data) e.free(data);
}

}  // namespace vtgeo
