// ERDAS Imagine (.img) rasters, read through the geodata library's HFA
// reader; read-only.
//
// A file holds one or more bands of one pixel type each, stored in blocks
// (tiles) of block width x block height pixels, compressed or not. A band is
// read one row of blocks at a time: LoadBandImg prepares buffers for the
// blocks of one block row of a band, and ReadScanLine(row, line, band) reads
// the block row holding `row` into them when it is not there yet and copies
// the row's pixels out, top row first. Pixels come as the file stores them
// (little-endian samples in machine order; 1-, 2- and 4-bit pixels packed
// most significant bits first, as in the platform's other rows): 8-bit
// samples as PF_BIT8, 16-bit as PF_BIT16, 32-bit (integer or float) as
// PF_BIT32, 64-bit and complex singles as PF_BIT64, complex doubles as 16
// bytes a pixel (pixel format 128).
//
// GetPJCoordSys translates the file's map information, datum, spheroid and
// projection into a coordinate system of the projection library.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "platform/geodata/GeodataHfa.h"
#include "platform/mfc/CString.h"
#include "platform/vtcore/CRect2D.h"
#include "platform/vtproj/CVtPJCoordSys.h"
#include "raster/imgfile/CImgFile.h"

// One band of an open file with its block geometry: the handle LoadBandImg
// hands out. It belongs to the CImgFileImg that made it and is freed by that
// object's Close.
struct HFABand {
  vtgeo::HFAHandle file = nullptr;
  int index = 0;     // band index, 0 first
  int dataType = 0;  // HFA pixel type (vtgeo::EPT_*)
  int width = 0;
  int height = 0;
  int blockWidth = 0;
  int blockHeight = 0;
  int blocksPerRow = 0;
  int blocksPerColumn = 0;
  int compression = 0;  // the band's compression code (0: none)
  // The reader loads a band's block list with its first block read; when
  // that fails the list may be left half read, so the band is not read
  // again.
  bool blockListRead = false;
  bool unreadable = false;

  // Bits of one pixel.
  int SampleBits() const;
  // Bytes a block read delivers into its buffer: block width x block height
  // samples of max(1, bits / 8) bytes (the reader expands empty blocks of
  // packed pixels to one byte a pixel).
  size_t BlockBytes() const;
};

class CImgFileImg : public CImgFile {
 public:
  // Pixel formats of HFA pixel types that ImgPixelFormat does not name:
  // 2-bit pixels and complex doubles (16 bytes).
  enum : int { PF_HFA_BIT2 = 2, PF_HFA_BIT128 = 128 };

  // One block of one block row of one band.
  struct BlockRecord {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> buffer;  // BlockBytes() of the band
  };

  int m_nBlockWidth = 0;  // block size of the band chosen by LoadImage(int)
  int m_nBlockHeight = 0;
  // Blocks per row x band count records; block i of band b at i + b x
  // blocks per row.
  std::vector<BlockRecord> m_BlockTable;
  int m_nBlocksPerRow = 0;  // of the first band loaded by LoadBandImg
  vtgeo::HFAHandle m_hHFA = nullptr;
  HFABand* m_pCurrentBand = nullptr;  // chosen by LoadImage or LoadBandImg
  // Pixel format (an ImgPixelFormat value) of each HFA pixel type.
  unsigned char m_PixelFormats[13];
  int m_nBandCount = 3;

  CImgFileImg();
  ~CImgFileImg() override;
  CImgFileImg(const CImgFileImg&) = delete;
  CImgFileImg& operator=(const CImgFileImg&) = delete;

  // Closes the file, drops its bands from the band registry and frees the
  // bands and every block buffer; blocks per row becomes 0.
  void Close() override;
  // Opens `path` with the HFA reader (closing a file opened before); reads
  // the map information and the band count. 1, or 0 when the file cannot
  // be opened as an Imagine file (a message is recorded).
  int OpenForRead(CString path) override;
  // Makes band 0 the current band and takes its size and pixel format: 1, or
  // -1 when no file is open or it has no band.
  long LoadImage() override;
  // The same for band `band`, and its block size as the block size; -1 for a
  // band the file does not have.
  virtual long LoadImage(int band);
  // Prepares block-row reading of band `band` and hands out its handle:
  // false when the file has no such band, its blocks of packed pixels end
  // inside a byte, its block row is too large to hold, or its blocks
  // cannot be read. Blocks may be of any size.
  bool LoadBandImg(int band, HFABand*& result);
  using CImgFile::ReadScanLine;
  // Fills `line` with row `row` of `band` (a handle LoadBandImg gave this
  // object): the line's byte count; -1 for a null or foreign band, a row
  // outside the band, a line shorter than the row's pixels or a block that
  // cannot be read. Nothing is written past the row's pixels.
  long ReadScanLine(long row, CImgScanLine& line, HFABand* band);
  // Reads block (blockColumn, blockRow) of the current band into `data`,
  // which holds the band's BlockBytes(): 1, or 0 when there is no current
  // band, `data` is null, the block lies outside the band or cannot be read.
  long GetImgBlock(long blockRow, long blockColumn, unsigned char* data);
  // Reads block (blockColumn, blockRow) of `band` into `data` (BlockBytes()
  // of the band): 1, or 0 when `band` is null, the block lies outside it or
  // cannot be read.
  int GetRasterBlock(HFABand* band, int blockColumn, int blockRow, void* data);
  int GetBandCount() const { return m_nBandCount; }
  // Opens `path` (leaving it open) and fills `coordSys` from its map
  // information, datum and projection: 1, or 0 when the file cannot be
  // opened or lacks them or its projection is not known.
  virtual int GetPJCoordSys(CString path, CVtPJCoordSys& coordSys);

  // The map units' bounds of the open file: the outer edges of its corner
  // pixels. False when it has no map information.
  bool GetMapBounds(CRect2D& bounds) const;
  // The no-data value of band `band` of the open file; false when it has none.
  bool GetNoData(int band, double& value) const;
  // The file's map unit name and projection name ("" when it has none).
  CString GetMapUnits() const;
  CString GetProjectionName() const;

 private:
  // Projection type of HFA projection number `number`: 0 for a number with
  // no type.
  int ImgPrjToVt(int number, CVtPJObject& projection);
  long ImgUnitsToVt(CString units, long& code);
  int ImgDatumToVt(CString name, CVtPJDatum& datum, CVtPJGeoCoordSys& geoCoordSys);
  int ImgSpheroidToVt(CString name, CVtPJSpheroid& spheroid);

  // A handle of band `band` owned by this object (made on first use), or
  // null when the file has no such band.
  HFABand* Band(int band);
  // Takes band `band`'s size and pixel format as the image's.
  long TakeBand(int band);
  // Reads block row `blockRow` of `band` into its records (from `first`).
  bool ReadBlockRow(HFABand& band, size_t first, int blockRow);

  std::vector<std::unique_ptr<HFABand>> m_Bands;  // by band index
  std::vector<int> m_LoadedBlockRow;              // per band: -1 none
};
