// PNG images through libpng. Reads every colour type but grey with alpha as
// one of the framework's pixel formats and writes 1-, 4-, 8-bit indexed or
// grey, 16-bit (5-6-5), 24-bit and 32-bit images; encodes an image block into
// a PNG stream in memory and writes a device bitmap straight into a file.
// The format carries no georeferencing.
//
// Rows read: palette indexes (1 and 4 bits packed, 2 bits unpacked to one
// byte a pixel), grey values of one byte (1-, 2- and 4-bit grey unpacked with
// their values kept, 16-bit samples cut to their high byte), colour as blue,
// green, red [, alpha]. A transparency chunk is expanded into an alpha
// channel, so such images read as 32-bit blue, green, red, alpha. 16-bit RGB
// marked with 5, 6, 5 significant bits (what this driver writes for 16-bit
// images) reads back as 16-bit 5-6-5 pixels.
//
// Rows written are taken as they are stored in PNG: colour red first (red,
// green, blue [, alpha]); 16-bit pixels are 5-6-5 values in machine order.
//
// Large images are deflated in pieces, on every core unless told otherwise
// (SetThreads), into one stream that any PNG reader takes.
//
// Every libpng error ends the operation that met it with that operation's
// failure value; its text is recorded on the error-message object.
#pragma once

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "platform/vtelem/CGeoImgBlock.h"
#include "raster/imgfile/CImgFile.h"

struct png_struct_def;
struct png_info_def;

class CImgFilePng : public CImgFile {
 public:
  CImgFilePng();
  ~CImgFilePng() override;

  // Ends reading or writing and closes the file. A written image whose every
  // row went in is completed first (end chunk); WriteComplete says whether
  // that worked.
  void Close() override;
  // Closes without completing a written image.
  void Abort() override;
  // Opens `path` and reads the chunks before the image data. 1, or 0 when
  // the file cannot be opened or is not a readable PNG header.
  int OpenForRead(CString path) override;
  // Creates `path` for writing. 1 or 0.
  int OpenForWrite(CString path) override;
  // Fills width, height, pixel format, width bytes and palette and sets up
  // the transformations. 1; -1 for a colour type or size it cannot read
  // (grey with alpha, an image larger than its file can hold) or an error.
  long LoadImage() override;
  // Writes the header chunks for the properties. 1; -1 for a pixel format
  // PNG cannot hold here or an error.
  long SaveImage() override;
  // The next row of the image, whatever `row` says (rows come in file
  // order, top first). The line is resized to the width bytes. Returns the
  // byte count; -1 past the last row, when nothing is open or on an error.
  long ReadScanLine(long row, CImgScanLine& line) override;
  // Writes `line` as the next row; `row` must be that row's number. The
  // line's byte count; -1 for another row, a line shorter than a row, rows
  // past the height, or an error.
  long WriteScanLine(long row, CImgScanLine& line) override;
  // Writes the device bitmap as a PNG file, its top row first. 1; -1 when
  // the file cannot be created or the device cannot deliver the bitmap; -2
  // when the pixel format cannot be written.
  long OutputDirect(CString path, CDC* dc, CBitmap* bitmap, ImgPixelFormat format, CRect2D bounds) override;

  // Encodes `block` (rows as WriteScanLine takes them, palette from this
  // object) as a PNG stream and copies it to `target`, which must hold it.
  // Returns the stream's length; with a null `target` only the length.
  // 0 when libpng cannot be set up or fails; -2 for a pixel format that
  // cannot be written.
  long OutputBlock(unsigned char* target, CGeoImgBlock* block);
  // Encodes `block` into `stream`. Same results as OutputBlock.
  long EncodeBlock(CGeoImgBlock* block, std::vector<unsigned char>& stream);

  long OutputDirect2() { return 0; }
  long SavePngFile(CString, long, long, unsigned long*) { return 0; }

  void SetQuality(unsigned char quality) { m_nQuality = quality > 100 ? 100 : quality; }
  unsigned char GetQuality() const { return m_nQuality; }

  // True while the object reads (after OpenForRead), false while it writes.
  bool IsReading() const { return m_nReading != 0; }
  // False when the last image written was left incomplete (rows missing, or
  // an error while finishing or closing the file).
  bool WriteComplete() const { return m_bWriteComplete; }
  // Header facts of the image loaded: bit depth, colour type and interlace
  // method as the file states them, and whether it has a transparency chunk.
  int GetBitDepth() const { return m_nBitDepth; }
  int GetColorType() const { return m_nColorType; }
  int GetInterlace() const { return m_nInterlace; }
  bool HasTransparency() const { return m_bTransparency; }

  // Interlaced images are decoded whole before their first row is given;
  // one needing more than this many bytes is refused instead, unless a
  // different limit is set before the first row is read.
  static const uint64_t kMaxImageBytes;
  void SetMaxImageBytes(uint64_t bytes) { m_nMaxImageBytes = bytes; }

  // Threads that compress the image data of an image written from now on (0,
  // the default: one a core). Images of a megabyte or more (16-bit ones
  // aside) are deflated in pieces joined into one stream, on these threads;
  // the file is the same byte for byte whatever the count.
  void SetThreads(int threads) { m_nThreads = threads; }

 private:
  using png_structp = png_struct_def*;
  using png_infop = png_info_def*;

  friend struct PngCallbacks;

  void Release(bool finish);
  bool CreateWriter();
  // Sets the header chunks and writes them. 1, or -1 on a libpng error.
  long WriteHeader(int depth, int colorType, const struct png_color_8_struct& bits);
  // Reads every pass of an interlaced image into memory; false on failure.
  bool DecodeInterlaced();
  long WriteRowBytes(const unsigned char* bytes);
  // Filters and deflates the rows held, piece by piece, and writes them as
  // image data; `last` ends the stream. False on failure.
  bool WriteHeldRows(bool last);
  // Writes one chunk through libpng. False on a libpng error.
  bool WriteChunk(const char* name, const unsigned char* data, size_t length);
  void RecordError(const char* text);

  unsigned char m_nQuality = 100;
  std::FILE* m_pFile = nullptr;
  png_structp m_pPng = nullptr;
  png_infop m_pInfo = nullptr;
  int m_nReading = 1;

  // Where a libpng error returns to: the innermost operation running.
  std::jmp_buf* m_pJump = nullptr;

  // Reading.
  int m_nBitDepth = 0, m_nColorType = 0, m_nInterlace = 0;
  bool m_bTransparency = false;
  bool m_bLoaded = false;
  bool m_bUpdated = false;      // transformations set up (once per open)
  bool m_bPack565 = false;     // rows come as 16-bit 5-6-5 pixels
  int m_nSwapStep = 0;         // bytes of a colour pixel whose red and blue are exchanged
  uint32_t m_nRowsDone = 0;    // rows read or written so far
  size_t m_nLibRowBytes = 0;   // bytes of a row as libpng delivers or takes it
  uint64_t m_nFileBytes = 0;   // size of the file read
  uint64_t m_nMaxImageBytes = kMaxImageBytes;
  uint64_t m_nReadPos = 0;     // file offset libpng has read up to
  uint64_t m_nNextChunk = 0;   // file offset of the next chunk header
  std::vector<unsigned char> m_Row;    // a row in libpng's layout when it differs from ours
  std::vector<unsigned char> m_Image;  // every row of an interlaced image

  // Writing.
  bool m_bHeaderWritten = false;
  bool m_bWriteComplete = true;
  std::vector<unsigned char> m_PaletteBuffer;  // PLTE colours, red, green, blue
  std::vector<unsigned char>* m_pStream = nullptr;  // memory output of EncodeBlock

  // Image data deflated here rather than by libpng (large images): pieces
  // of rows each compressed by itself, with the 32 KiB before it as its
  // dictionary, ended by a full flush and joined into one zlib stream.
  int m_nThreads = 0;
  bool m_bOwnStream = false;
  size_t m_nPixelBytes = 1;     // how far back the filters look, in bytes
  bool m_bFilterRows = false;   // choose a filter for each row (else none)
  size_t m_nPieceRows = 1;      // rows of a piece
  size_t m_nBatchPieces = 1;    // pieces compressed together
  int m_nWorkers = 1;           // threads compressing them
  bool m_bStreamStarted = false;  // the zlib header is written
  uint32_t m_nAdler = 1;        // checksum of the filtered rows so far
  std::vector<unsigned char> m_Held;     // rows not yet written, as given
  std::vector<unsigned char> m_PrevRow;  // the row before them (none at first)
  std::vector<unsigned char> m_Window;   // the last filtered bytes written, up to 32 KiB
};
