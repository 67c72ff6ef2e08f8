#include "platform/geodata/GeodataCpl.h"

#include <dlfcn.h>

#include <atomic>
#include <cstdarg>
#include <cstdlib>
#include <mutex>
#include <string>

#ifndef VTFMT_GEODATA_LIBRARY
#error "VTFMT_GEODATA_LIBRARY names the geodata library to load"
#endif

namespace vtgeo {
namespace {

// The entry points used, resolved once. A library that cannot be loaded
// leaves them null: errors are then kept here, and files opened with stdio.
struct Entries {
  void (*error)(int, int, const char*, ...) = nullptr;
  void (*reset)() = nullptr;
  const char* (*lastMessage)() = nullptr;
  int (*lastNumber)() = nullptr;
  FILE* (*open)(const char*, const char*) = nullptr;
  int (*close)(FILE*) = nullptr;
  int (*seek)(FILE*, long, int) = nullptr;
  long (*tell)(FILE*) = nullptr;
  void (*rewind)(FILE*) = nullptr;
  bool loaded = false;
};

template <class F>
void Bind(void* library, const char* name, F& entry) {
  entry = reinterpret_cast<F>(dlsym(library, name));
}

Entries BindAll(void* library) {
  Entries e;
  Bind(library, "CPLError", e.error);
  Bind(library, "CPLErrorReset", e.reset);
  Bind(library, "CPLGetLastErrorMsg", e.lastMessage);
  Bind(library, "CPLGetLastErrorNo", e.lastNumber);
  Bind(library, "VSIFOpen", e.open);
  Bind(library, "VSIFClose", e.close);
  Bind(library, "VSIFSeek", e.seek);
  Bind(library, "VSIFTell", e.tell);
  Bind(library, "VSIRewind", e.rewind);
  e.loaded = e.error && e.reset && e.lastMessage && e.lastNumber && e.open && e.close && e.seek && e.tell &&
             e.rewind;
  if (!e.loaded) e = Entries();
  return e;
}

// Bound once, by whichever thread first finds the library, under
// g_entriesLock; g_bound tells the others, without the lock, that they are.
std::mutex g_entriesLock;
Entries g_entries;
std::atomic<bool> g_bound{false};
const Entries kUnbound;

// The library's entry points when it is in the process; with `load`, it is
// loaded first. Until something is to be recorded, a process that has not
// loaded the library does not load it: its simple file calls are stdio's,
// and with nothing recorded there is nothing to reset.
const Entries& Get(bool load) {
  if (g_bound.load(std::memory_order_acquire)) return g_entries;
  void* library = dlopen(VTFMT_GEODATA_LIBRARY, RTLD_NOW | RTLD_GLOBAL | (load ? 0 : RTLD_NOLOAD));
  if (!library) return kUnbound;
  std::lock_guard<std::mutex> guard(g_entriesLock);
  if (!g_bound.load(std::memory_order_relaxed)) {
    const Entries e = BindAll(library);
    if (!e.loaded) return kUnbound;
    g_entries = e;
    g_bound.store(true, std::memory_order_release);
  }
  return g_entries;
}

// Without the library: the last error, kept here.
thread_local std::string g_message;
thread_local int g_number = 0;

}  // namespace

void CPLError(CPLErr level, CPLErrorNum number, const char* format, ...) {
  char text[2048];
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(text, sizeof text, format, ap);
  va_end(ap);
  const Entries& e = Get(true);
  if (e.loaded) return e.error(level, number, "%s", text);
  g_message = text;
  g_number = number;
}

void CPLErrorReset() {
  const Entries& e = Get(false);
  if (e.loaded) return e.reset();
  g_message.clear();
  g_number = 0;
}

const char* CPLGetLastErrorMsg() {
  const Entries& e = Get(false);
  return e.loaded ? e.lastMessage() : g_message.c_str();
}

CPLErrorNum CPLGetLastErrorNo() {
  const Entries& e = Get(false);
  return e.loaded ? e.lastNumber() : g_number;
}

FILE* VSIFOpen(const char* path, const char* mode) {
  const Entries& e = Get(false);
  return e.loaded ? e.open(path, mode) : std::fopen(path, mode);
}

int VSIFClose(FILE* file) {
  const Entries& e = Get(false);
  return e.loaded ? e.close(file) : std::fclose(file);
}

int VSIFSeek(FILE* file, long offset, int whence) {
  const Entries& e = Get(false);
  return e.loaded ? e.seek(file, offset, whence) : std::fseek(file, offset, whence);
}

long VSIFTell(FILE* file) {
  const Entries& e = Get(false);
  return e.loaded ? e.tell(file) : std::ftell(file);
}

void VSIRewind(FILE* file) {
  const Entries& e = Get(false);
  if (e.loaded) return e.rewind(file);
  std::rewind(file);
}

bool GeodataLoaded() { return Get(false).loaded; }

void* GeodataLibrary() {
  static void* library = dlopen(VTFMT_GEODATA_LIBRARY, RTLD_NOW | RTLD_GLOBAL);
  return library;
}

void* GeodataSymbol(const char* name) {
  void* library = GeodataLibrary();
  return library ? dlsym(library, name) : nullptr;
}

namespace {
// The error-handler calls behind GeodataQuiet, all or none.
struct QuietEntries {
  void (*push)(void (*)(int, int, const char*)) = nullptr;
  void (*pop)() = nullptr;
  void (*quiet)(int, int, const char*) = nullptr;
  void (*reset)() = nullptr;
  const char* (*last)() = nullptr;
  bool bound = false;
};

const QuietEntries& Quiet() {
  static const QuietEntries entries = [] {
    QuietEntries e;
    e.bound = BindGeodata("CPLPushErrorHandler", e.push) && BindGeodata("CPLPopErrorHandler", e.pop) &&
              BindGeodata("CPLQuietErrorHandler", e.quiet) && BindGeodata("CPLErrorReset", e.reset) &&
              BindGeodata("CPLGetLastErrorMsg", e.last);
    return e;
  }();
  return entries;
}
}  // namespace

GeodataQuiet::GeodataQuiet() {
  const QuietEntries& e = Quiet();
  if (!e.bound) return;
  e.reset();
  e.push(e.quiet);
  pushed_ = true;
}

GeodataQuiet::~GeodataQuiet() {
  if (pushed_) Quiet().pop();
}

std::string GeodataLastMessage() {
  const QuietEntries& e = Quiet();
  const char* text = e.bound ? e.last() : nullptr;
  return text ? text : "";
}

}  // namespace vtgeo
