// A test-only writer of Landsat-7 FAST scenes: a header file in the layout
// of the format's administrative record (what GDAL's FAST driver reads) and
// headerless band files.
#pragma once

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

struct FastScene {
  std::string stem = "L71034032_03219991212_";  // band and header names add their code
  std::string ext = ".FST";
  int width = 0, height = 0, bits = 8;
  int recordBytes = 0;  // REC SIZE, the bytes from row to row; 0 for the row's own bytes (no padding)
  std::vector<std::string> bands;  // codes in header order ("B10"...); "" for an empty FILENAME field

  std::string Name(const std::string& code) const { return stem + code + ext; }

  // The header text: three 1536-byte records of 80-column lines.
  std::string Header(const std::string& volume, const std::string& output) const {
    // "ACQUISITION DATE =" at byte 52, where readers look for it.
    std::string first = "REQ ID =0040411030035_00001 LOC =034/032 000";
    first.resize(52, ' ');
    std::vector<std::string> lines = {
        first + "ACQUISITION DATE =19991212",
        "SATELLITE =LANDSAT7  SENSOR =ETM+     SENSOR MODE =NORMAL LOOK ANGLE = 0.00",
        "PRODUCT TYPE =MAP ORIENTED      PRODUCT SIZE =FULL SCENE",
        "TYPE OF PROCESSING =SYSTEMATIC    RESAMPLING =CC",
        volume,
        "START LINE #=    1  BLOCKING FACTOR =  1  REC SIZE = " + std::to_string(RecordBytes()),
        output,
    };
    for (size_t i = 0; i < bands.size(); i += 2) {
      std::string line;
      for (size_t k = i; k < i + 2; ++k) {
        const std::string name = k < bands.size() && !bands[k].empty() ? Name(bands[k]) : std::string(29, ' ');
        line += "FILENAME =" + name + (k == i ? "  " : "");
      }
      lines.push_back(line);
    }
    // The radiometric record: a bias and a gain for every band.
    lines.push_back("BIASES AND GAINS IN THE BAND ORDER AS ON THIS TAPE");
    for (size_t k = 0; k < bands.size(); ++k) lines.push_back("-6.199999809265137  0.775686297697179");
    std::string text;
    for (std::string line : lines) {
      if (line.size() < 79) line.resize(79, ' ');
      text += line + "\n";
    }
    text.resize(3 * 1536, ' ');
    return text;
  }
  int RecordBytes() const { return recordBytes != 0 ? recordBytes : width * bits / 8; }
  std::string Volume() const {
    return "VOLUME #/# IN SET =1/1  PIXELS PER LINE = " + std::to_string(width) +
           "  LINES PER BAND = " + std::to_string(height) + "/ " + std::to_string(height);
  }
  std::string Output() const {
    return "OUTPUT BITS PER PIXEL =" + std::string(bits < 10 ? " " : "") + std::to_string(bits) +
           "  ACQUIRED BITS PER PIXEL = 8";
  }

  // Sample x of row y in band b (machine byte order for 16 bits).
  static unsigned Sample(int b, int y, int x, int bits) {
    const unsigned v = static_cast<unsigned>(b * 4099 + y * 31 + x * 7);
    return bits == 8 ? v % 256 : v % 65536;
  }

  // Writes the header under `headerName` and every listed band file in `dir`.
  void Write(const std::string& dir, const std::string& headerName) const {
    std::ofstream(dir + "/" + headerName, std::ios::binary) << Header(Volume(), Output());
    for (size_t b = 0; b < bands.size(); ++b) {
      if (bands[b].empty()) continue;
      std::ofstream band(dir + "/" + Name(bands[b]), std::ios::binary);
      for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
          const unsigned v = Sample(static_cast<int>(b), y, x, bits);
          if (bits == 16) {
            const unsigned short s = static_cast<unsigned short>(v);
            band.write(reinterpret_cast<const char*>(&s), 2);
          } else {
            band.put(static_cast<char>(v));
          }
        }
        // A record longer than the row ends in padding that is no sample.
        for (int pad = width * bits / 8; pad < RecordBytes(); ++pad) band.put('\xEE');
      }
    }
  }
};
