// TIFF and GeoTIFF files through libtiff and libgeotiff. Reads stripped and
// tiled images (any compression libtiff decodes) row by row, planar-separate
// images one sample plane at a time, and the model tie point and pixel scale
// or an unrotated model transformation as bounds in a chosen linear unit; writes stripped images,
// uncompressed or deflate (on several threads), LZW or PackBits compressed, with an optional colour map, and
// the tie point and pixel scale. TiledToStript rewrites a tiled 24-bit image as a stripped GeoTIFF in metres.
//
// Rows are delivered as the file stores its samples: red, green, blue for
// colour. 8-bit CMYK comes out as RGB, as GDAL gives it, and so does
// stripped old-style JPEG, through libtiff's RGBA reader. Palettes keep each colour as blue, green, red, 0.
//
// libtiff's and libgeotiff's errors and warnings never reach the console: they
// are recorded on the error-message object of the thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/mfc/CString.h"
#include "platform/vtcore/CRect2D.h"
#include "raster/imgfile/CImgFile.h"

struct tiff;
struct gtiff;
struct libdeflate_compressor;

class CImgFileTiff : public CImgFile {
 public:
  uint32_t m_nTileLength = 0;
  uint32_t m_nTileWidth = 0;
  int32_t m_nTileByteSize = 0;
  int m_bTiled = 0;
  int32_t m_nNoDataValue = -9999;
  // When set, LoadImage reads 32-bit single samples as grid cells (PF_INT32,
  // or PF_FLOAT32 when SampleFormat says IEEE), and SaveImage writes 32-bit
  // rows as one signed integer sample and 16-bit rows as signed samples.
  int m_bGrid = 0;
  // When set, SaveImage writes as unsigned samples the cells it would write
  // as signed ones (16- and 32-bit rows under m_bGrid, PF_INT32 rows).
  int m_bUnsignedCells = 0;
  // How SaveImage compresses the file being written: COMPRESSION_NONE (one
  // row a strip), COMPRESSION_ADOBE_DEFLATE, COMPRESSION_LZW or
  // COMPRESSION_PACKBITS (strips of about 64 KiB). m_nPredictor 2 stores
  // each sample as its difference from the one to its left (deflate and LZW,
  // samples of 8 bits or more); m_nZLevel is deflate's level, 1 to 9.
  uint16_t m_nWriteCompression = 1;
  uint16_t m_nPredictor = 1;
  int m_nZLevel = 6;
  // Threads that compress deflate strips at once when writing, or decode
  // compressed strips and tiles ahead of the rows asked for when reading
  // (0: one a core; 1: everything on the calling thread). Images under a
  // megabyte use the calling thread alone; files and rows are the same byte
  // for byte whatever the count.
  int m_nThreads = 0;

 protected:
  tiff* m_pTiff = nullptr;
  tiff* m_pTargetTiff = nullptr;
  gtiff* m_pGeoTiff = nullptr;
  int32_t m_nScanLineSize = 0;
  int m_bPaletteLoaded = 0;
  CString m_strPath;

 public:
  CImgFileTiff();
  ~CImgFileTiff() override;

  // Frees the GeoTIFF handle and closes the file. Safe to call twice.
  void Close() override;
  // Closes without completing a file being written; the caller removes it.
  void Abort() override;
  // Opens `path` with the GeoTIFF tags known. 1, or 0 (closed again).
  int OpenForRead(CString path) override;
  // Creates `path`. 1, or 0 (closed again).
  int OpenForWrite(CString path) override;
  // Width, height, pixel format, width bytes and palette of the open file.
  // 1; -1 when no file is open or the samples are of a kind no pixel format
  // holds (bits per sample other than 1, 4, 8, 16, 32, 64 in total) or a
  // strip or tile is larger than the file could describe.
  long LoadImage() override;
  // Writes the image fields for the current properties, compressed as the
  // write settings above say, with a colour map for indexed formats. Call
  // before the first WriteScanLine. 1; -1 when no file is open, the format
  // has no TIFF form or the predictor does not apply to its samples.
  long SaveImage() override;
  // Row `row`, plane 0, into `line`. The line's byte size; -1 when no file is
  // open, the line is shorter than a row, or libtiff cannot deliver the row.
  long ReadScanLine(long row, CImgScanLine& line) override;
  // Row `row` of sample plane `sample` (planar-separate files). The scan-line
  // byte size, or -1 as above.
  virtual long ReadScanLine(long row, CImgScanLine& line, int sample);
  // Writes `line` as row `row`, samples in file order. 1, or -1 on error or
  // for a line shorter than a row.
  long WriteScanLine(long row, CImgScanLine& line) override;
  // Writes out everything given so far for the file being written (the
  // directory included); false when libtiff cannot.
  bool FlushWrite();
  // Bounds of the open file from its tie point and pixel scale, or from its
  // model transformation when that holds no rotation, multiplied
  // by (tenths of a millimetre per file unit) / `divisor`: with 10000, in
  // metres. A PixelIsPoint raster's tie point is the centre of its first
  // pixel, as GDAL reads it. Without GeoTIFF tags, from the resolution
  // fields. 1 or 0 (0 too for a rotated image, or GeoTIFF tags the file
  // is cut inside: see GeoNote).
  virtual long LoadGeoImage(CRect2D& bounds, long divisor);
  // Writes the tie point and pixel scale of `bounds` for the file being
  // written. 0 without a GeoTIFF handle, else 1.
  virtual long SaveGeoImage(const CRect2D& bounds);

  // Rewrites the tiled 3 x 8-bit image `source` as a stripped, uncompressed
  // GeoTIFF in metres at `target`. On failure nothing is left at `target`.
  bool TiledToStript(const CString& source, const CString& target);

  // Reads a single-valued integer field whose value fits 16 bits. -1 when no
  // file is open; 0 when the field is absent or of another kind; else 1.
  int GetTiffField(unsigned tag, unsigned short* value);
  long GetBandCount();
  long GetBits();
  long GetSampleFormat();
  // True when the samples of a pixel are stored in separate planes.
  bool IsMultiBand();
  // True when the bounds of the last LoadGeoImage came from GeoTIFF tags
  // rather than the resolution fields.
  bool HasGeoTags() const { return m_bGeoTags; }
  // Why the last LoadGeoImage gave no bounds although the file places its
  // image; empty otherwise.
  const std::string& GeoNote() const { return m_strGeoNote; }
  // True when that is because GeoTIFF tags are cut short: a damaged file.
  bool GeoTagsCut() const { return m_bGeoTagsCut; }
  int32_t GetScanLineSize() const { return m_nScanLineSize; }
  // True when the file stores inks (PhotometricInterpretation separated).
  bool IsCmyk();
  // True when its pixels are delivered as RGB: four 8-bit unsigned samples
  // of cyan, magenta, yellow and black, interleaved.
  bool DeliversCmykAsRgb();
  // 8 or 16 when samples of 2 to 15 bits are delivered unpacked as values of
  // that size, else 0.
  uint16_t GetUnpackedBits() const { return m_nUnpackTo; }
  // Compression of the open file (1 none).
  long GetCompression();
  int32_t GetNoDataValue() const { return m_nNoDataValue; }
  // Threads decoding strips or tiles ahead of the reader of the open file,
  // beside the calling thread, which decodes too while it waits; 0 while
  // rows are decoded on the calling thread alone.
  int DecodeThreads() const;

  long OutputDirect(CString path, CDC* dc, CBitmap* bitmap, ImgPixelFormat format, CRect2D bounds) override;

  // Tenths of a millimetre in one linear unit of GeoTIFF code `code`;
  // `metres` is the unit's length the GeoTIFF definition gives, used for
  // codes without an entry of their own. 0 when it cannot be said.
  static long UnitFactor(int code, double metres);
  // 8 or 16 when interleaved samples of `bits` of `sampleFormat`, `samples`
  // a pixel, are delivered unpacked as values of that size (unsigned
  // samples of 2 to 15 bits, bar single 4-bit ones), else 0.
  static uint16_t UnpackedBits(long bits, long samples, long sampleFormat);

 protected:
  // Opens `path` by itself, reads its bounds in metres and its pixel scale
  // (the first two values, in file units). 1 or 0.
  int LoadGeoImage(CString path, CRect2D& bounds, double scale[]);
  // Reads the tile whose upper-left pixel is (tileColumn x tile width,
  // tileRow x tile length), plane 0, into `buffer` of the tile byte size;
  // three-byte pixels come out blue first. The bytes read, or -1.
  long ReadTiled(long tileColumn, long tileRow, unsigned char* buffer);
  // Looks through the first `width` samples of `line` for the no-data
  // sentinel of the file's data type and keeps it. 1 when found, else -1.
  long SetNoValueInScanLine(CImgScanLine& line);

 private:
  // Row `row` of plane `sample` into `out` (at least the scan-line size),
  // through the band of decoded tiles that holds it.
  bool ReadTiledRow(uint32_t row, uint16_t sample, unsigned char* out);
  // Row `row` of plane `sample` of a stripped file into `out`.
  bool ReadStrippedRow(uint32_t row, uint16_t sample, unsigned char* out);
  // Spreads the packed samples of the row in m_Packed over `to`, one 8- or
  // 16-bit unsigned value each (machine order).
  void Unpack(unsigned char* to) const;
  // Row `row` of an old-style JPEG file, red, green, blue, into `out`.
  bool ReadRgbaRow(uint32_t row, unsigned char* out);
  // True when uncompressed strip `strip`'s byte count is the size of its rows.
  bool ExactStrip(uint32_t strip);
  void ReleaseTileBand();
  // Compresses the rows held for writing into deflate strips, on several
  // threads when more than one is allowed, and appends them in order.
  bool WriteHeldStrips();
  // Checks a strip or tile's decoded size against what the file can hold.
  bool PlausibleUnitSize(uint64_t bytes) const;
  // Row `row` of plane `sample` from the strips or tiles decoded ahead on
  // worker threads, starting them at the first call. False when rows are not
  // read that way (one thread, a small or uncompressed file, rows asked for
  // out of order, or a unit the workers could not decode): the calling
  // thread then reads every row from there on itself.
  bool ReadAheadRow(uint32_t row, uint16_t sample, unsigned char* out);
  bool StartDecodeAhead();
  // Records why strip or tile `index` gave no rows, naming the file, with
  // what libtiff said.
  void UnitFailed(const char* kind, uint32_t index);

  class DecodeAhead;
  std::unique_ptr<DecodeAhead> m_pAhead;
  // Deflate strips compressed on workers while rows come in (more than one
  // thread); they are written in order as they come back.
  class DeflateAhead;
  std::unique_ptr<DeflateAhead> m_pDeflate;
  uint32_t m_nStripsOut = 0;  // strips written so far
  // Writes the compressed strips that are back, in order: all of them
  // (waiting for each) when `all`, else those ready, waiting only while too
  // many are in hand.
  bool WriteDeflated(bool all);
  bool m_bAheadOff = false;  // rows are read on the calling thread alone

  // Bits a delivered sample takes when the file packs samples of another
  // size (2-15 bits), else 0; the file's sample size; samples in a row.
  // Old-style JPEG: the strip decoded through libtiff's RGBA reader and the
  // first row it holds (-1 for none).
  bool m_bRgba = false;
  std::vector<uint32_t> m_Rgba;
  int64_t m_nRgbaFirst = -1;
  uint16_t m_nUnpackTo = 0;
  bool m_bCmyk = false;  // CMYK rows, delivered as RGB
  uint16_t m_nSampleBits = 0;
  uint64_t m_nRowSamples = 0;
  std::vector<unsigned char> m_Packed;  // one packed row
  bool m_bGeoTags = false;
  std::string m_strGeoNote;
  bool m_bGeoTagsCut = false;
  uint16_t m_nPlanes = 1;  // sample planes (SamplesPerPixel when separate)
  uint16_t m_nCompression = 1;      // of the open file, read once by LoadImage
  uint32_t m_nRowsPerStrip = 1;
  uint64_t m_nFileSize = 0;
  // The tiles of one band of tile rows, decoded, each tile byte size long.
  std::vector<unsigned char> m_TileBand;
  int64_t m_nBandRow = -1;  // tile row held in m_TileBand, -1 for none
  uint16_t m_nBandSample = 0;
  // Compressed strips decoded whole for rows read out of order, one for
  // each of the first planes (planes read in turn keep their own).
  struct StripCache {
    std::vector<unsigned char> bytes;
    int64_t strip = -1;
  };
  static constexpr int kStripCaches = 4;
  StripCache m_StripCaches[kStripCaches];
  // Deflate strips of the file being written are compressed here, not by
  // libtiff, so that several can be compressed at once: rows are held until
  // a batch of strips is complete.
  bool m_bOwnStrips = false;
  uint32_t m_nStripRows = 1;         // rows a strip
  uint16_t m_nSampleBytes = 0;       // bytes of one sample
  uint16_t m_nPixelSamples = 1;      // samples of one pixel
  uint32_t m_nBatchStrips = 1;       // strips compressed together
  int m_nWorkers = 1;                // threads compressing them
  uint32_t m_nNextRow = 0;           // the row WriteScanLine expects next
  uint32_t m_nHeldFrom = 0;          // the first row held
  std::vector<unsigned char> m_Held;  // rows not yet written
  std::vector<std::vector<unsigned char>> m_Deflated;  // one compressed strip each
  std::vector<libdeflate_compressor*> m_Compressors;    // one a thread
  int64_t m_nLastRow = -1;  // the last row libtiff's scan-line reader gave
  uint16_t m_nLastSample = 0;
};
