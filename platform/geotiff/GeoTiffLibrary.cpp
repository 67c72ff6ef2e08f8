#include "platform/geotiff/GeoTiffLibrary.h"

#include <dlfcn.h>

#include <cstdarg>

// The definitions below stay inside this library: they neither interpose on
// the real library's functions for anyone else nor get exported.
#define PROJ_DLL __attribute__((visibility("hidden")))
#pragma GCC visibility push(hidden)
#include <geo_normalize.h>
#include <geotiffio.h>
#include <proj.h>
#include <xtiffio.h>

namespace {

struct Entries {
  bool bound = false;
  GTIF* (*newEx)(void*, GTErrorCallback, void*) = nullptr;
  void (*free)(GTIF*) = nullptr;
  int (*writeKeys)(GTIF*) = nullptr;
  int (*keyGet)(GTIF*, geokey_t, void*, int, int) = nullptr;
  int (*keySet)(GTIF*, geokey_t, tagtype_t, int, ...) = nullptr;
  void* (*projContext)(GTIF*, int, int*) = nullptr;
  int (*getDefn)(GTIF*, GTIFDefn*) = nullptr;
  void (*initialize)() = nullptr;
  PJ_LOG_LEVEL (*logLevel)(PJ_CONTEXT*, PJ_LOG_LEVEL) = nullptr;
  void (*logFunc)(PJ_CONTEXT*, void*, PJ_LOG_FUNCTION) = nullptr;
};

template <class F>
bool Bind(void* library, const char* name, F& entry) {
  entry = reinterpret_cast<F>(dlsym(library, name));
  return entry != nullptr;
}

// Bound once, on the first call from any thread (a function-local static).
const Entries& Get() {
  static const Entries entries = [] {
    Entries e;
    // Local: its symbols serve these calls only, not other libraries; lazy:
    // of the many functions of its dependencies, only those called are bound.
    void* library = dlopen(VTFMT_GEOTIFF_LIBRARY, RTLD_LAZY | RTLD_LOCAL);
    if (!library) return e;
    e.bound = Bind(library, "GTIFNewEx", e.newEx) && Bind(library, "GTIFFree", e.free) &&
              Bind(library, "GTIFWriteKeys", e.writeKeys) && Bind(library, "GTIFKeyGet", e.keyGet) &&
              Bind(library, "GTIFKeySet", e.keySet) && Bind(library, "GTIFGetPROJContext", e.projContext) &&
              Bind(library, "GTIFGetDefn", e.getDefn) && Bind(library, "XTIFFInitialize", e.initialize) &&
              Bind(library, "proj_log_level", e.logLevel) && Bind(library, "proj_log_func", e.logFunc);
    return e;
  }();
  return entries;
}

}  // namespace

namespace vtgeotiff {
bool Available() { return Get().bound; }
}  // namespace vtgeotiff

extern "C" {

GTIF* GTIFNewEx(void* tif, GTErrorCallback callback, void* user) {
  return Get().bound ? Get().newEx(tif, callback, user) : nullptr;
}

void GTIFFree(GTIF* gtif) {
  if (gtif && Get().bound) Get().free(gtif);
}

int GTIFWriteKeys(GTIF* gtif) { return gtif && Get().bound ? Get().writeKeys(gtif) : 0; }

int GTIFKeyGet(GTIF* gtif, geokey_t key, void* value, int index, int count) {
  return gtif && Get().bound ? Get().keyGet(gtif, key, value, index, count) : 0;
}

// The value travels as the library reads it: text and several values by
// pointer, one SHORT as an int, one DOUBLE as a double; a count of 0
// deletes the key.
int GTIFKeySet(GTIF* gtif, geokey_t key, tagtype_t type, int count, ...) {
  if (!gtif || !Get().bound) return 0;
  const auto set = Get().keySet;
  if (count == 0) return set(gtif, key, type, 0);
  va_list ap;
  va_start(ap, count);
  int result = 0;
  if (type == TYPE_ASCII || count > 1) {
    void* pointer = va_arg(ap, void*);
    result = set(gtif, key, type, count, pointer);
  } else if (type == TYPE_SHORT) {
    const int value = va_arg(ap, int);
    result = set(gtif, key, type, count, value);
  } else if (type == TYPE_DOUBLE) {
    const double value = va_arg(ap, double);
    result = set(gtif, key, type, count, value);
  }
  va_end(ap);
  return result;
}

void* GTIFGetPROJContext(GTIF* gtif, int instantiate, int* leaveOpen) {
  return gtif && Get().bound ? Get().projContext(gtif, instantiate, leaveOpen) : nullptr;
}

int GTIFGetDefn(GTIF* gtif, GTIFDefn* definition) {
  return gtif && Get().bound ? Get().getDefn(gtif, definition) : 0;
}

void XTIFFInitialize(void) {
  if (Get().bound) Get().initialize();
}

PJ_LOG_LEVEL proj_log_level(PJ_CONTEXT* context, PJ_LOG_LEVEL level) {
  return Get().bound ? Get().logLevel(context, level) : PJ_LOG_NONE;
}

void proj_log_func(PJ_CONTEXT* context, void* data, PJ_LOG_FUNCTION function) {
  if (Get().bound) Get().logFunc(context, data, function);
}

}  // extern "C"

#pragma GCC visibility pop
