// Builds GIF files byte by byte, so tests can make what encoders refuse to:
// any colour resolution, images larger than their screen, truncated code
// streams. The code stream holds one literal code per pixel, with clear
// codes often enough that the code width never grows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct GifImageSpec {
  int left = 0, top = 0, width = 1, height = 1;
  bool interlaced = false;
  std::vector<unsigned char> indices;  // display order, width x height
  int codeSize = 8;                    // LZW minimum code size
  int localBits = 0;                   // local colour map of 2^localBits colours; 0 for none
  std::vector<unsigned char> localColors;
};

struct GifFixture {
  std::string version = "89a";
  int screenWidth = 1, screenHeight = 1;
  int colorResolution = 8;  // 1..8
  int mapBits = 8;          // global colour map of 2^mapBits colours; 0 for none
  std::vector<unsigned char> colors;  // red, green, blue per entry (padded with 0)
  std::vector<GifImageSpec> images;
  bool trailer = true;
};

inline void PutWord(std::string& out, int v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>((v >> 8) & 0xFF);
}

// The LZW data of `pixels` (code size byte, sub-blocks, terminator).
inline std::string LiteralCodeStream(const std::vector<unsigned char>& pixels, int codeSize) {
  const unsigned clear = 1u << codeSize, eoi = clear + 1;
  const int width = codeSize + 1;
  const size_t perClear = clear > 6 ? clear - 6 : 1;
  std::string bytes;
  uint32_t acc = 0;
  int bits = 0;
  auto put = [&](unsigned code) {
    acc |= code << bits;
    bits += width;
    while (bits >= 8) {
      bytes += static_cast<char>(acc & 0xFF);
      acc >>= 8;
      bits -= 8;
    }
  };
  for (size_t i = 0; i < pixels.size(); ++i) {
    if (i % perClear == 0) put(clear);
    put(pixels[i] & (clear - 1));
  }
  put(eoi);
  if (bits > 0) bytes += static_cast<char>(acc & 0xFF);
  std::string out(1, static_cast<char>(codeSize));
  for (size_t at = 0; at < bytes.size(); at += 255) {
    const size_t n = std::min<size_t>(255, bytes.size() - at);
    out += static_cast<char>(n);
    out += bytes.substr(at, n);
  }
  out += '\0';
  return out;
}

inline std::string BuildGif(const GifFixture& fixture) {
  std::string out = "GIF" + fixture.version;
  PutWord(out, fixture.screenWidth);
  PutWord(out, fixture.screenHeight);
  int flags = ((fixture.colorResolution - 1) & 7) << 4;
  if (fixture.mapBits > 0) flags |= 0x80 | (fixture.mapBits - 1);
  out += static_cast<char>(flags);
  out += '\0';  // background
  out += '\0';  // aspect
  if (fixture.mapBits > 0) {
    std::vector<unsigned char> map(3u << fixture.mapBits, 0);
    for (size_t i = 0; i < fixture.colors.size() && i < map.size(); ++i) map[i] = fixture.colors[i];
    out.append(map.begin(), map.end());
  }
  for (const GifImageSpec& image : fixture.images) {
    out += ',';
    PutWord(out, image.left);
    PutWord(out, image.top);
    PutWord(out, image.width);
    PutWord(out, image.height);
    out += static_cast<char>((image.interlaced ? 0x40 : 0) | (image.localBits ? 0x80 | (image.localBits - 1) : 0));
    if (image.localBits) {
      std::vector<unsigned char> map(3u << image.localBits, 0);
      for (size_t i = 0; i < image.localColors.size() && i < map.size(); ++i) map[i] = image.localColors[i];
      out.append(map.begin(), map.end());
    }
    std::vector<unsigned char> stored;
    auto row = [&](int y) {
      const size_t at = static_cast<size_t>(y) * image.width;
      for (int x = 0; x < image.width; ++x) stored.push_back(at + x < image.indices.size() ? image.indices[at + x] : 0);
    };
    if (image.interlaced) {
      const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
      for (int pass = 0; pass < 4; ++pass)
        for (int y = start[pass]; y < image.height; y += step[pass]) row(y);
    } else {
      for (int y = 0; y < image.height; ++y) row(y);
    }
    out += LiteralCodeStream(stored, image.codeSize);
  }
  if (fixture.trailer) out += ';';
  return out;
}
