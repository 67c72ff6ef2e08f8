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

// True for a TIFF whose first directory gives more than `most` samples a
// pixel. The geodata library sets up an object for each of them before any
// check of ours runs: a few bytes claiming 60000 bands cost it a tenth of
// a second, and the fuzzer, finding new paths through its per-band code,
// would come to spend most of its time there.
inline bool TiffClaimsManyBands(const uint8_t* data, size_t size, unsigned most) {
  if (size < 16) return false;
  const bool little = data[0] == 'I' && data[1] == 'I';
  if (!little && !(data[0] == 'M' && data[1] == 'M')) return false;
  auto get = [&](size_t at, int bytes) -> uint64_t {
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= uint64_t(data[at + i]) << (8 * (little ? i : bytes - 1 - i));
    return v;
  };
  const uint64_t version = get(2, 2);
  if (version != 42 && version != 43) return false;
  const bool big = version == 43;
  const uint64_t dir = big ? get(8, 8) : get(4, 4);
  const size_t countBytes = big ? 8 : 2, entryBytes = big ? 20 : 12, valueAt = big ? 12 : 8;
  if (dir > size || size - dir < countBytes) return false;
  const uint64_t count = get(static_cast<size_t>(dir), static_cast<int>(countBytes));
  for (uint64_t i = 0; i < count; ++i) {
    const uint64_t at = dir + countBytes + i * entryBytes;
    if (at > size || size - at < entryBytes) break;
    if (get(static_cast<size_t>(at), 2) != 277) continue;  // SamplesPerPixel
    const uint64_t type = get(static_cast<size_t>(at) + 2, 2);
    const uint64_t samples = type == 3 ? get(static_cast<size_t>(at) + valueAt, 2)
                                       : get(static_cast<size_t>(at) + valueAt, type == 4 ? 4 : 1);
    return samples > most;
  }
  return false;
}
