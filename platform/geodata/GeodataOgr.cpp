#include "platform/geodata/GeodataOgr.h"

#include <dlfcn.h>

#include <string>

#include "platform/geodata/GeodataCpl.h"

namespace vtgeo {
namespace {

struct OgrEntries {
  OGRGeometryH (*fromGML)(const char*) = nullptr;
  char* (*toGML)(OGRGeometryH, char**) = nullptr;
  int (*fromWkt)(char**, void*, OGRGeometryH*) = nullptr;
  int (*toWkt)(OGRGeometryH, char**) = nullptr;
  OGRGeometryH (*clone)(OGRGeometryH) = nullptr;
  void (*destroy)(OGRGeometryH) = nullptr;
  int (*type)(OGRGeometryH) = nullptr;
  int (*equals)(OGRGeometryH, OGRGeometryH) = nullptr;
  void (*envelope)(OGRGeometryH, OgrEnvelope*) = nullptr;
  int (*isEmpty)(OGRGeometryH) = nullptr;
  void (*free)(void*) = nullptr;
  void (*setLocalOption)(const char*, const char*) = nullptr;
  const char* (*getLocalOption)(const char*, const char*) = nullptr;
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

const OgrEntries& Entries() {
  static const OgrEntries entries = [] {
    OgrEntries e;
    void* lib = GeodataLibrary();
    if (!lib) return e;
    e.bound = Bind(lib, "OGR_G_CreateFromGML", e.fromGML) && Bind(lib, "OGR_G_ExportToGMLEx", e.toGML) &&
              Bind(lib, "OGR_G_CreateFromWkt", e.fromWkt) && Bind(lib, "OGR_G_ExportToIsoWkt", e.toWkt) &&
              Bind(lib, "OGR_G_Clone", e.clone) && Bind(lib, "OGR_G_DestroyGeometry", e.destroy) &&
              Bind(lib, "OGR_G_GetGeometryType", e.type) && Bind(lib, "OGR_G_Equals", e.equals) &&
              Bind(lib, "OGR_G_GetEnvelope", e.envelope) && Bind(lib, "OGR_G_IsEmpty", e.isEmpty) &&
              Bind(lib, "VSIFree", e.free) && Bind(lib, "CPLSetThreadLocalConfigOption", e.setLocalOption) &&
              Bind(lib, "CPLGetThreadLocalConfigOption", e.getLocalOption) &&
              Bind(lib, "CPLPushErrorHandler", e.pushHandler) && Bind(lib, "CPLPopErrorHandler", e.popHandler) &&
              Bind(lib, "CPLQuietErrorHandler", e.quietHandler) && Bind(lib, "CPLErrorReset", e.errorReset) &&
              Bind(lib, "CPLGetLastErrorMsg", e.lastMessage);
    return e;
  }();
  return entries;
}

// The library's complaints about one call are kept, not printed.
struct Quiet {
  const OgrEntries& e;
  explicit Quiet(const OgrEntries& entries) : e(entries) {
    e.errorReset();
    e.pushHandler(e.quietHandler);
  }
  ~Quiet() { e.popHandler(); }
};

// Sets a thread-local option for one call and puts the old value back.
struct LocalOption {
  const OgrEntries& e;
  const char* key;
  std::string old;
  bool had;
  LocalOption(const OgrEntries& entries, const char* k, const char* value) : e(entries), key(k) {
    const char* v = e.getLocalOption(key, nullptr);
    had = v != nullptr;
    if (had) old = v;
    e.setLocalOption(key, value);
  }
  ~LocalOption() { e.setLocalOption(key, had ? old.c_str() : nullptr); }
};

}  // namespace

bool OgrAvailable() { return Entries().bound; }

OGRGeometryH OgrFromGML(const char* text) {
  const OgrEntries& e = Entries();
  if (!e.bound || !text) return nullptr;
  Quiet quiet(e);
  return e.fromGML(text);
}

std::string OgrToGML3(OGRGeometryH geometry) {
  const OgrEntries& e = Entries();
  if (!e.bound || !geometry) return std::string();
  // Seventeen significant digits, unrounded: every double reads back as itself.
  LocalOption precision(e, "OGR_WKT_PRECISION", "17");
  LocalOption round(e, "OGR_WKT_ROUND", "NO");
  char format[] = "FORMAT=GML3";
  char* options[] = {format, nullptr};
  Quiet quiet(e);
  char* text = e.toGML(geometry, options);
  std::string gml = text ? text : "";
  e.free(text);
  return gml;
}

OGRGeometryH OgrFromWkt(const char* wkt) {
  const OgrEntries& e = Entries();
  if (!e.bound || !wkt) return nullptr;
  Quiet quiet(e);
  char* cursor = const_cast<char*>(wkt);
  OGRGeometryH geometry = nullptr;
  if (e.fromWkt(&cursor, nullptr, &geometry) != 0) return nullptr;
  return geometry;
}

std::string OgrToWkt(OGRGeometryH geometry) {
  const OgrEntries& e = Entries();
  if (!e.bound || !geometry) return std::string();
  LocalOption precision(e, "OGR_WKT_PRECISION", "17");
  LocalOption round(e, "OGR_WKT_ROUND", "NO");
  char* text = nullptr;
  Quiet quiet(e);
  if (e.toWkt(geometry, &text) != 0) text = nullptr;
  std::string wkt = text ? text : "";
  e.free(text);
  return wkt;
}

OGRGeometryH OgrClone(OGRGeometryH geometry) {
  const OgrEntries& e = Entries();
  return e.bound && geometry ? e.clone(geometry) : nullptr;
}

void OgrDestroy(OGRGeometryH geometry) {
  const OgrEntries& e = Entries();
  if (e.bound && geometry) e.destroy(geometry);
}

int OgrType(OGRGeometryH geometry) {
  const OgrEntries& e = Entries();
  return e.bound && geometry ? e.type(geometry) : 0;
}

bool OgrEquals(OGRGeometryH a, OGRGeometryH b) {
  const OgrEntries& e = Entries();
  if (!e.bound || !a || !b) return a == b;
  return e.equals(a, b) != 0;
}

bool OgrEnvelopeOf(OGRGeometryH geometry, OgrEnvelope& envelope) {
  const OgrEntries& e = Entries();
  if (!e.bound || !geometry || e.isEmpty(geometry)) return false;
  e.envelope(geometry, &envelope);
  return true;
}

std::string OgrLastError() {
  const OgrEntries& e = Entries();
  return e.bound ? e.lastMessage() : "the geodata library cannot be loaded";
}

}  // namespace vtgeo
