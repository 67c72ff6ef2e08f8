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

  CImgFileBmp();
  ~CImgFileBmp() override;

  void Close() override;
  // Reads headers and palette. 1 on success; -1 (with a message on the
  // error-message object) for a file that is not a BMP or whose header
  // describes no readable image. On failure the properties are unchanged.
  long LoadImage() override;
  // Writes the file header, a 40-byte information header and the palette
  // for the current properties. 1, or -1 for properties no BMP can hold.
  long SaveImage() override;
  // Row `row` in file order. Returns the line's byte size; 0 for a row at or
  // past the height; -1 for a negative row or a line shorter than the width
  // bytes (nothing written); kShortRow when the file ends inside the row.
  long ReadScanLine(long row, CImgScanLine& line) override;
  // Appends the width bytes of `line` at the current position (rows go in
  // file order, bottom first). The line's byte size; 0 for a line with no
  // buffer; -1 for a line shorter than the width bytes.
  long WriteScanLine(long row, CImgScanLine& line) override;

  // Compression of the file read (0 for OS/2 headers).
  DWORD GetCompression() const { return m_wHeaderKind == kWindowsHeader ? m_bmiHeader.biCompression : 0; }

 private:
  // Why the codes of an encoded file stopped before every row start was found.
  enum CodesEnd { kNotEnded, kEndOfBitmap, kEndOfFile };
  // Outcome of walking the codes of one row.
  enum RowEnd { kEndOfRow, kBitmapEnded, kFileEnded };

  bool IsEncoded() const;
  // Forgets the row starts and the buffered codes of the previous file.
  void ResetCodes();
  // Byte `pos` of the file through the code buffer; -1 past the end.
  int CodeByte(uint64_t pos);
  // Walks the codes of one row from `pos`; with `pixels` set, decodes them
  // (one pixel a byte, `width` at most, the rest dropped). `pos` ends after
  // the row's last code.
  RowEnd WalkRow(uint64_t& pos, BYTE* pixels, uint32_t width);
  // Makes sure the start of `row` is known if any code describes it.
  void FindRowStart(long row);
  long ReadEncodedRow(long row, CImgScanLine& line);

  // Starts of the rows' codes found so far: entry i is row i; row 0 is the
  // off bits. Grows as rows are walked, so a header's height costs nothing
  // until codes back it.
  std::vector<uint64_t> m_RowStarts;
  CodesEnd m_CodesEnd = kNotEnded;
  // A window of the file's bytes for the decoder.
  std::vector<BYTE> m_Codes;
  uint64_t m_qwCodesAt = 0;    // file offset of m_Codes[0]
  size_t m_nCodesLen = 0;      // valid bytes in m_Codes
  std::vector<BYTE> m_Pixels;  // one decoded pixel a byte
};
