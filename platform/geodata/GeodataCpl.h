// The geodata library's file and error layer (CPL), bound when needed. The
// library is loaded when an error is to be recorded, or used when something
// else has loaded it already; until then its simple file calls are stdio's,
// which is what they wrap. A process that records nothing through it does
// not pay for loading it and the hundred libraries behind it. Names and
// values are the geodata library's own; they live in this namespace so that
// they never stand in for its symbols.
#pragma once

#include <cstdio>
#include <string>

namespace vtgeo {

enum CPLErr { CE_None = 0, CE_Debug = 1, CE_Warning = 2, CE_Failure = 3, CE_Fatal = 4 };
typedef int CPLErrorNum;
// The library's own header makes these macros of the same values.
#ifndef CPLE_None
enum : CPLErrorNum {
  CPLE_None = 0,
  CPLE_AppDefined = 1,
  CPLE_OutOfMemory = 2,
  CPLE_FileIO = 3,
  CPLE_OpenFailed = 4,
  CPLE_IllegalArg = 5,
  CPLE_NotSupported = 6,
  CPLE_AssertionFailed = 7,
};
#endif

// Records an error with the geodata library (formatted here, printf style).
void CPLError(CPLErr level, CPLErrorNum number, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
void CPLErrorReset();
const char* CPLGetLastErrorMsg();
CPLErrorNum CPLGetLastErrorNo();

FILE* VSIFOpen(const char* path, const char* mode);
int VSIFClose(FILE* file);
int VSIFSeek(FILE* file, long offset, int whence);
long VSIFTell(FILE* file);
void VSIRewind(FILE* file);

// True once the geodata library is in the process and bound.
bool GeodataLoaded();

// The geodata library's handle for dlsym, loading it on first use; null when
// it cannot be loaded.
void* GeodataLibrary();

// The address of `name` in the geodata library (loaded on first use), or null.
void* GeodataSymbol(const char* name);
// Binds a function pointer to the library's `name`; false when it is missing.
template <class F>
bool BindGeodata(const char* name, F& entry) {
  entry = reinterpret_cast<F>(GeodataSymbol(name));
  return entry != nullptr;
}

// While one lives, the geodata library's complaints are kept, not printed:
// its last error is reset first and can be read with GeodataLastMessage.
class GeodataQuiet {
 public:
  GeodataQuiet();
  ~GeodataQuiet();
  GeodataQuiet(const GeodataQuiet&) = delete;
  GeodataQuiet& operator=(const GeodataQuiet&) = delete;

 private:
  bool pushed_ = false;
};
// The library's last error message; empty when there is none.
std::string GeodataLastMessage();

}  // namespace vtgeo
