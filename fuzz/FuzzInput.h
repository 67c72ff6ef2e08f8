// The file a fuzz target hands to a driver: one path per process, in a
// fresh directory under /tmp, rewritten with every input.
#pragma once

#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <string>

// `name` inside the process's own directory (made on first use).
inline std::string FuzzPath(const char* prefix, const char* name) {
  static const std::string dir = [prefix] {
    std::string templ = std::string("/tmp/vtfmt-fuzz-") + prefix + "-XXXXXX";
    return mkdtemp(&templ[0]) ? templ : std::string("/tmp");
  }();
  return dir + "/" + name;
}

// Writes `size` bytes to `path`; false when the file cannot be written.
inline bool WriteFuzzFile(const std::string& path, const uint8_t* data, size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool written = std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && written;
}

// libopenjp2 2.5.0 (Debian 12) ends the process on an assertion for some
// damaged JPEG 2000 files, under GDAL's own tools as well: targets that read
// through the geodata library keep it from its OpenJPEG driver, so that what
// runs is our readers' handling of the images its other drivers decode. Its
// block cache stays small beside the libFuzzer memory limit.
inline void SkipGeodataOpenJpeg() {
  setenv("GDAL_SKIP", "JP2OpenJPEG", 0);
  setenv("GDAL_CACHEMAX", "64", 0);
}

// An input steered by its first byte: the low two bits pick one of four
// file names, the next three a count of 8-byte requests that follow; the
// rest is the file, written to `path`. False when the input is too short
// for its requests or the file cannot be written.
struct SteeredInput {
  unsigned steer = 0;
  size_t requests = 0;
  const uint8_t* request = nullptr;  // requests * 8 bytes
  std::string path;
};

inline bool ReadSteeredInput(const char* prefix, const char* const names[4], const uint8_t* data, size_t size,
                             SteeredInput& in) {
  if (size < 1) return false;
  in.steer = data[0];
  in.requests = (in.steer >> 2) & 7;
  const size_t header = 1 + in.requests * 8;
  if (size < header) return false;
  in.request = data + 1;
  in.path = FuzzPath(prefix, names[in.steer & 3]);
  return WriteFuzzFile(in.path, data + header, size - header);
}
