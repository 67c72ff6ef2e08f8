// Device-independent bitmap files (.bmp). Reads the Windows (40-byte and
// longer) and OS/2 (12-byte) headers, uncompressed rows of 1, 4, 8, 16, 24
// and 32 bits, and the 8-bit and 4-bit run-length encodings; writes
// uncompressed files with a 40-byte header, bottom row first.
//
// Rows are read in file order: row 0 is the first row stored, the bottom row
// of an ordinary file and the top row of a top-down one (m_dwTopDown).
#pragma once

#include <cstdint>
#include <vector>

#include "platform/mfc/CArray.h"
#include "raster/imgfile/CImgFile.h"

class CImgFileBmp : public CImgFile {
 public:
  // Header kinds.
  enum : WORD { kWindowsHeader = 1, kOs2Header = 2 };
  // ReadScanLine: an encoded row ran into the end of the file.
  static constexpr long kShortRow = -4;

  BITMAPFILEHEADER m_bmfHeader;  // last file header read or written
  BITMAPINFOHEADER m_bmiHeader;  // last Windows header read or written
  BITMAPCOREHEADER m_bmcHeader;  // last OS/2 header read
  CByteArray m_TripleBuffer;     // OS/2 palette as stored: blue, green, red
  WORD m_wHeaderKind = kWindowsHeader;
  DWORD m_dwByteCount = 0;  // code bytes consumed by the run-length decoder
  DWORD m_dwTopDown = 0;    // 1 when the file stores its top row first
  // Set before LoadImage to receive 16-bit pixels as 24-bit rows (blue,
  // green, red) through their colour masks, for callers that want colours
  // rather than the packed values; the palette is then left alone, as for
  // 24-bit files.
  bool m_bSixteenAsRgb = false;

  CImgFileBmp();
  ~CImgFileBmp() override;

  void Close() override;
  // Reads headers and palette. 1 on success; -1 (with a message on the
  // error-message object) for a file that is not a BMP, whose header
  // describes no readable image, or that cannot hold the pixels its header
  // describes. On failure the properties are unchanged.
  long LoadImage() override;
  // Writes the file header, a 40-byte information header and the palette
  // for the current properties. 1, or -1 for properties no BMP can hold.
  long SaveImage() override;
  // Row `row` in file order. Returns the line's byte size; 0 for a row at or
  // past the height; -1 for a negative row or a line shorter than the width
  // bytes (nothing written); kShortRow when the file ends inside the row.
  // 32-bit pixels under colour masks come out blue, green, red, alpha (0
  // without an alpha mask).
  long ReadScanLine(long row, CImgScanLine& line) override;
  // Appends the width bytes of `line` at the current position (rows go in
  // file order, bottom first). The line's byte size; 0 for a line with no
  // buffer; -1 for a line shorter than the width bytes.
  long WriteScanLine(long row, CImgScanLine& line) override;

  // Compression of the file read (0 for OS/2 headers).
  DWORD GetCompression() const { return m_wHeaderKind == kWindowsHeader ? m_bmiHeader.biCompression : 0; }

 private:
  // Where the decoding of run-length codes stands between rows: rows from
  // `first` up to `row` - 1 were passed over by position offsets (blank),
  // and row `row` goes on from the code at file offset `pos`, at column `x`.
  // After an end of bitmap `row` is kNoRow: no later row has codes.
  struct CodeState {
    uint64_t pos;
    uint32_t first;
    uint32_t row;
    uint32_t x;
  };
  static constexpr uint32_t kNoRow = UINT32_MAX;
  // How the codes of one row ended.
  enum RowEnd { kRowDone, kFileEnded };
  // One block of the file, buffered for the decoder.
  struct CodeBlock {
    uint64_t index = UINT64_MAX;  // file offset / block size
    size_t len = 0;               // bytes read (short at the end of the file)
    unsigned stamp = 0;           // last use
    std::vector<BYTE> data;
  };
  // A colour mask: where its bits lie and how many there are.
  struct Mask {
    uint32_t mask = 0;
    unsigned shift = 0;
    unsigned bits = 0;
  };

  bool IsEncoded() const;
  // Forgets the decoding state and the buffered codes of the previous file.
  void ResetCodes();
  // `n` bytes of the file from `pos` (n <= 260), or null when the file ends
  // first. Valid until the next call.
  const BYTE* CodeBytes(uint64_t pos, size_t n);
  const CodeBlock* Block(uint64_t index);
  // Walks the codes of row `s.row` from `s`; with `pixels` set, decodes
  // them into that cleared row (pixels past the width are dropped). On
  // kRowDone, `s` is the state after the row; on kFileEnded it is unchanged.
  RowEnd StepRow(CodeState& s, BYTE* pixels);
  // Keeps `s` as a place to start later walks when it lies far enough past
  // the last one kept: the table grows with the file's bytes, not its rows.
  void KeepState(const CodeState& s);
  long ReadEncodedRow(long row, CImgScanLine& line);
  // Turns the raw pixels of a masked row into blue, green, red(, alpha).
  void UnpackMaskedRow(BYTE* row) const;

  // States kept, in order of `first`; the first is the start of the codes.
  std::vector<CodeState> m_States;
  // The state after the row decoded last (reading in order needs no walk).
  CodeState m_Next{0, 0, 0, 0};
  bool m_bHaveNext = false;
  // Set when the codes break off in row m_FileEnd.row: later rows are short.
  bool m_bFileEnded = false;
  CodeState m_FileEnd{0, 0, 0, 0};
  CodeBlock m_Blocks[2];
  const CodeBlock* m_pLastBlock = &m_Blocks[0];  // the block used last
  unsigned m_nStamp = 0;
  BYTE m_Joined[264];  // codes that straddle two blocks

  // Uncompressed rows: bytes of one row in the file, and bytes of pixels in
  // it (a last row may lack its padding).
  unsigned long m_dwRowBytes = 0;
  unsigned long m_dwPixelBytes = 0;
  // Pixels under colour masks that are unpacked while reading: 16-bit ones
  // when m_bSixteenAsRgb asked for it, 32-bit ones whose masks are not
  // blue, green, red in byte order.
  bool m_bUnpack = false;
  unsigned m_nFileBits = 0;
  Mask m_Masks[4];  // red, green, blue, alpha
};
