// The geodata library's raster calls (GDAL's C interface), bound on first
// use like its error layer and geometries, so that a process that decodes
// no windowed image never loads it. The image decoders of platform/ncsecw
// and platform/mrsid read their pictures through a RasterDataset.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace vtgeo {

// Resampling of a read whose output size differs from the area read: the
// library's own codes.
enum RasterResampling { kResampleNearest = 0, kResampleBilinear = 1, kResampleAverage = 5 };

// True when the library is loaded and every raster call below is bound.
bool RasterAvailable();

// A raster opened read-only through the library, seen as 8-bit bands. A
// band with a colour table is delivered as three bands, red, green and
// blue, looked up in the table.
class RasterDataset {
 public:
  RasterDataset() = default;
  ~RasterDataset() { Close(); }
  RasterDataset(const RasterDataset&) = delete;
  RasterDataset& operator=(const RasterDataset&) = delete;

  // Opens `path` with every raster driver the library has. False with the
  // library's reason, or ours: samples of more than 8 bits are refused, as
  // the decoders built on this deliver bytes.
  bool Open(const std::string& path, std::string& reason);
  void Close();
  bool IsOpen() const { return m_hDataset != nullptr; }

  int Width() const { return m_nWidth; }
  int Height() const { return m_nHeight; }
  // Bands delivered (a colour table counts three).
  int Bands() const { return m_bPalette ? 3 : m_nBands; }
  // One or two bands of grey levels (the second often alpha), no colour table.
  bool Grey() const { return !m_bPalette && m_nBands < 3; }
  // The library's short name of the driver that opened the file.
  const std::string& Driver() const { return m_strDriver; }
  // Sizes of band 1's reduced copies held in the file, largest first.
  const std::vector<std::pair<int, int>>& Overviews() const { return m_Overviews; }
  // The value of delivered band `band` where the file has no data: the
  // no-data value when the file sets one, else 0.
  unsigned char Background(int band) const;

  // Reads the rectangle of (x, y, w, h) full-resolution pixels resampled to
  // bw x bh. Delivered band bands[i] of output pixel (c, r) goes to
  // out[i * bandSpace + r * lineSpace + c * pixelSpace]. Colour-table
  // indices are always taken by nearest neighbour: averages of indices are
  // not colours. False with the library's reason.
  bool Read(int x, int y, int w, int h, int bw, int bh, const int* bands, int count, unsigned char* out,
            long long pixelSpace, long long lineSpace, long long bandSpace, RasterResampling resampling,
            std::string& reason) const;

 private:
  void* m_hDataset = nullptr;
  int m_nWidth = 0, m_nHeight = 0, m_nBands = 0;
  bool m_bPalette = false;
  std::vector<unsigned char> m_Colours;  // red, green, blue per index (256 entries)
  std::vector<std::pair<int, int>> m_Overviews;
  std::vector<double> m_NoData;  // per source band; NaN when unset
  std::string m_strDriver;
};

}  // namespace vtgeo
