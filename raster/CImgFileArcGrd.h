// Arc/Info binary grids: a directory of big-endian files, read-only.
//
//   hdr.adf        cell type, cell size and tile geometry (308 bytes)
//   dblbnd.adf     lower-left and upper-right corners (four doubles)
//   w001001x.adf   tile index: offset and size of every tile
//   w001001.adf    tile data, the driver's own file
//
// The grid is cut into tiles of tile width x tile height cells. Integer tiles
// carry their own minimum and one of several encodings (raw bits, nibbles,
// bytes, words or longs; runs of a value; literal blocks with no-data
// markers; a CCITT run-length bit plane; a constant); a tile's cells run
// through it as one stream, row after row. Floating-point tiles hold plain
// IEEE singles. Rows are delivered top (north) first: integer grids as
// signed 16-bit cells (PF_BIT16) when every tile's encoding keeps its values
// in that range, else as 32-bit cells (PF_INT32); float grids as PF_FLOAT32.
//
// Cells marked as having no data are either written as the no-value (a
// constant no-data tile, a float cell holding the most negative single) or
// left as the caller filled the scan line (no-data blocks of the marker
// encodings, tiles that are missing, empty or cannot be decoded), so the
// caller fills each line with its background before ReadScanLine. A tile
// the index places past the end of the data file (a cut file) is no empty
// tile: every row it crosses fails to read.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/mfc/CArray.h"
#include "platform/mfc/CString.h"
#include "platform/vtcore/CRect2D.h"
#include "raster/imgfile/CImgFile.h"

class CImgFileArcGrd : public CImgFile {
 public:
  CString m_strDirectory;  // the grid's directory, ending with its separator
  int m_bFloat = 0;        // 1: floating-point cells
  int m_bCompressed = 1;   // 0: integer tiles hold raw 32-bit cells (header flag)
  CRect2D m_Bounds;
  double m_dCellWidth = 0.0;
  double m_dCellHeight = 0.0;
  int m_nTileCount = 0;        // entries of the tile index
  CDWordArray m_TileOffsets;   // offset of each tile in the data file, in 16-bit words
  CDWordArray m_IndexSizes;    // size of each tile in 16-bit words, from the index (0: empty tile)
  int m_nTilesPerRow = 0;
  int m_nTilesPerColumn = 0;
  int m_nTileWidth = 0;
  int m_nTileHeight = 0;
  int m_nTilesAcross = 0;  // tiles a row of the grid crosses
  int m_nTileRowBytes = 0; // bytes of one tile row in the pixel format
  // Integer tiles, from each tile's own header (ReadTileInfo).
  CByteArray m_TileTypes;
  CDWordArray m_TileSizes;  // bytes after the size word
  CByteArray m_MinSizes;
  CDWordArray m_Minimums;   // two's complement
  // kTileUnreadable (empty, or its header is not in the data file),
  // kTileReadable, or kTileNoData (a constant tile without data).
  CByteArray m_TileState;
  enum : BYTE { kTileUnreadable = 0, kTileReadable = 1, kTileNoData = 2 };
  int32_t m_nNoValue = -9999;
  int32_t m_nLineWidth = 0;  // width in pixels of the last scan line read

  CImgFileArcGrd();

  // `path` names the grid directory or any file inside it. Opens the data
  // file w001001.adf there (its name matched ignoring case). 1 or 0.
  int OpenForRead(CString path) override;
  // Reads the bounds file, the header and the tile index, in that order.
  // 1, or -1 at the first that is missing or malformed (a message is
  // recorded on the error-message object).
  long LoadImage() override;
  // Fills `line` with row `row`: 1; 0 when the line has no buffer; -1 for a
  // row outside the grid, a line shorter than the row, before LoadImage, or
  // a row crossing a tile past the end of the data file (with a message).
  long ReadScanLine(long row, CImgScanLine& line) override;
  // The value that no-data cells are written as (-9999 after construction).
  void SetNoValue(long value);

 private:
  int LoadBndFile();
  int LoadHeadFile();
  int LoadIndexFile();
  // Reads tile `tile`'s size, type and minimum from the data file.
  void ReadTileInfo(int tile);
  // The pixel format that tiles of `type` need at least.
  static ImgPixelFormat CheckPixelFormat(unsigned char type);
  // Writes row `rowInTile` of the decoded tile in slot `slot` (the tile's
  // place across the row) into `buffer`, its first `cells` cells in the
  // pixel format; cells the tile does not give keep the buffer's bytes.
  // False when the tile could not be decoded.
  bool ReadRowInTile(int slot, int rowInTile, unsigned char* buffer, long cells);
  // Decode tile `tile` whole into slot `slot`; false when it cannot be
  // decoded. Float grids, and integer grids of raw 32-bit tiles, take the
  // first; the encoded integer tiles the second.
  bool ReadRowInTileFloat(int tile, int slot);
  bool ReadRowInTileInteger(int tile, int slot);
  bool DecodeIntegerTile(int tile, int slot);  // by the tile's type
  // The bytes of tile `tile` after its size word, `size` of them, valid
  // until the next read; null when the tile passes the end of the data file
  // or its size word and the index differ.
  const unsigned char* ReadTileBytes(int tile, size_t& size);
  // Decodes the tiles of tile row `tileRow` once, for all of its rows;
  // stops at a tile that runs past the end of the data file (m_nCutTile)
  // or one that holds bytes but cannot be decoded (m_nBadTile).
  void DecodeTileRow(int tileRow);
  // The byte just past tile `tile` (its size word and cells) by the index.
  uint64_t TileEnd(int tile) const;
  // `count` bytes of the data file at `offset`, read through a window of
  // the file (tiles are mostly read in file order); null past the end.
  const unsigned char* DataAt(uint64_t offset, size_t count);
  // Bit `index` of `data`, the most significant bit of each byte first.
  static int GetBitFlag(const unsigned char* data, long index);
  // `bytes` bytes of `data` as a big-endian unsigned number.
  static uint32_t GetVal(const unsigned char* data, int bytes);
  // True for a constant tile whose four-byte minimum starts 80 00: no data.
  bool HasNoValue(int tile) const;
  // Decodes a CCITT run-length (modified Huffman) bit plane of
  // tile width x tile height into `bits`, rows padded to whole bytes.
  bool DecodeBitPlane(const unsigned char* data, size_t size, std::vector<unsigned char>& bits) const;

  uint64_t m_nDataLength = 0;
  std::vector<unsigned char> m_Window;
  uint64_t m_nWindowStart = 0;
  // The decoded tile row: for each slot (tile across) tile width x tile
  // height cells and what each holds (empty, a value, no data).
  int m_nDecodedTileRow = -1;
  int m_nCutTile = -1;  // a tile of that row past the data file's end, or -1
  int m_nBadTile = -1;  // a tile of that row whose bytes do not decode, or -1
  std::vector<int32_t> m_Cells;
  std::vector<unsigned char> m_Kinds;
  std::vector<unsigned char> m_SlotDecoded;
};
