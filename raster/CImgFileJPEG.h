// JPEG files through libjpeg (interface 62): scan-line reading and writing of
// grey (8-bit) and RGB (24-bit) images (CMYK files read as RGB, as GDAL
// reads them), whole-image exports from a device bitmap or an array of
// 32-bit pixels, and compression of image blocks to and from JPEG streams in
// memory.
//
// Rows read and written through the scan-line interface are in the file's
// sample order: red, green, blue (not the blue-first order of bitmaps). Rows
// are read in order from row 0; a later row may be asked for (the rows
// between are decoded and dropped), an earlier one may not.
//
// Every operation that calls libjpeg catches its fatal errors: the operation
// records libjpeg's message on the error-message object, releases the libjpeg
// object and returns its failure value. Nothing ends the process.
#pragma once

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <vector>

#include <jpeglib.h>

#include "raster/imgfile/CImgFile.h"

class CGeoImgBlock;

class CImgFileJPEG : public CImgFile {
 public:
  // Largest image held whole in memory (a progressive file's coefficients, a
  // decoded block), in samples (width x height x components).
  static constexpr uint64_t kMaxWholeSamples = uint64_t(1) << 32;
  // Samples a header may promise for each byte of the stream. Huffman-coded
  // JPEG needs at least one bit per 8 x 8 block of each component, about a
  // thousand samples a byte at best; anything past this is a damaged or
  // hostile header, refused before libjpeg allocates for it.
  static constexpr uint64_t kMaxSamplesPerByte = 4096;
  // Progressive files with more scans than this are refused while decoding:
  // each scan revisits the whole image, so a file of many tiny scans would
  // take hours to decode.
  static constexpr int kMaxScans = 256;

  // libjpeg's error manager with the jump back into the running operation.
  struct ErrorManager {
    jpeg_error_mgr pub;
    jmp_buf* jump = nullptr;  // where error_exit returns to; null outside an operation
    int tooManyScans = 0;     // set by the progress monitor before it fails
    CImgFileJPEG* owner = nullptr;
    void (*standardEmit)(j_common_ptr, int) = nullptr;  // libjpeg's own message output
    // While a file is decoded, the warnings that mean data is missing are
    // kept here instead of printed; ReadScanLine turns them into failures.
    bool watchEnd = false;
    bool endOfFile = false;    // the file ran out; an end-of-image marker was supplied
    bool dataMissing = false;  // the decoder needed bits the stream does not hold
  };

  unsigned char m_nQuality = 100;
  jpeg_decompress_struct m_Decompress;
  jpeg_compress_struct m_Compress;
  ErrorManager m_Error;
  JSAMPROW m_pRow = nullptr;  // the row handed to libjpeg's scan-line calls
  FILE* m_pFile = nullptr;
  int m_nDecompressing = 0;  // 1 once a decompression was started on the file

  CImgFileJPEG();
  ~CImgFileJPEG() override;
  CImgFileJPEG(const CImgFileJPEG&) = delete;
  CImgFileJPEG& operator=(const CImgFileJPEG&) = delete;

  // Releases the libjpeg objects and closes the file. A compression in
  // progress is finished first when every row was written, so the file is
  // complete; with rows missing it is abandoned (LastCloseFailed tells).
  void Close() override;
  // Drops everything without finishing a compression.
  void Abort() override;
  // Opens `path` for reading; 0 when it cannot be opened or holds 100 bytes
  // or fewer (no JPEG is that small). The header is read by LoadImage.
  int OpenForRead(CString path) override;
  // Creates `path`; 1 or 0.
  int OpenForWrite(CString path) override;
  // Reads the header and starts decoding. Width, height, pixel format
  // (PF_BIT8 grey, PF_BIT24 RGB, also for CMYK files) and width bytes
  // (aligned to 4) are set.
  // 1 on success; -1 when the file is not a JPEG we can read (a message
  // tells why), with the properties unchanged.
  long LoadImage() override;
  // Prepares compression for the current width, height and pixel format
  // (PF_BIT8 grey, PF_BIT24 RGB) at the current quality. 1, or -1.
  long SaveImage() override;
  // Decodes row `row` into `line` (width x components bytes: red, green,
  // blue or grey). 1; -1 for an earlier row than the next one, a row past the
  // height, a line shorter than a row, no decoding in progress, a libjpeg
  // error, or a row the file does not hold whole: from the row whose decoding
  // ran out of data on (a file cut short), and every row of a file of several
  // scans (progressive) that ends early, since each scan refines every row.
  long ReadScanLine(long row, CImgScanLine& line) override;
  // Writes `line` as the next row (`row` is not used); compression starts
  // with the first row. The number of rows libjpeg took (1, or 0 when every
  // row is written already); -1 without SaveImage, for a short line or on a
  // libjpeg error.
  long WriteScanLine(long row, CImgScanLine& line) override;
  // Device bitmap to a JPEG file in `format` (PF_BIT24, or PF_BIT8 for grey:
  // colours are turned to grey as JPEG does). 1 on success; -1 when the file
  // cannot be created, -2 when the format or the bitmap cannot be written,
  // 0 when the device cannot deliver a row or libjpeg fails. `bounds` is not
  // used. The object is closed on every exit.
  long OutputDirect(CString path, CDC* dc, CBitmap* bitmap, ImgPixelFormat format, CRect2D bounds) override;

  void SetQuality(unsigned char quality) { m_nQuality = quality > 100 ? 100 : quality; }
  unsigned char GetQuality() const { return m_nQuality; }

  // Starts decoding the open file from its start once: 1 at once when a
  // decoding is already running, else 1 when the header was read and
  // decoding started, 0 otherwise.
  int OpenForEcw();
  // Starts a new decoding of the open file from its start (any running one
  // is dropped); 1 or 0.
  int PrepareForRead();
  // Ends a decoding; 1.
  int EndForRead();

  // Device bitmap to JPEG in one pass into the file the caller opened with
  // OpenForWrite: PF_BIT24 or PF_BIT8 (grey). 1 or 0; the file is closed.
  int OutputDirect2(CString path, CDC* dc, CBitmap* bitmap, ImgPixelFormat format, CRect2D bounds);
  // `width` x `height` pixels 0x00RRGGBB, last row the top of the picture,
  // to an RGB JPEG file. 1 or 0.
  int SaveJpegFile(CString path, long width, long height, unsigned long* pixels);

  // Compresses a PF_BIT8 (grey) or PF_BIT24 (blue, green, red rows) block at
  // `quality` into a JPEG stream. With `buffer` null an array of the stream's
  // size is allocated with new[] (the caller deletes it); otherwise the
  // caller's array must hold the stream. The stream's size, or -1 for another
  // pixel format, a block without rows, or a libjpeg error.
  long OutputBlock(unsigned char*& buffer, CGeoImgBlock* block, int quality);
  // Decodes a JPEG stream into `block` (PF_BIT8, or PF_BIT24 blue, green,
  // red rows aligned to 4 bytes; CMYK streams become RGB). A stream that ends early is completed with
  // grey after libjpeg's warning. 1, or -1 when the header cannot be read,
  // describes more than the stream can hold, or libjpeg fails.
  long InputBlock(unsigned char* data, int length, CGeoImgBlock* block);

  // True when the last Close had to abandon an unfinished compression.
  bool LastCloseFailed() const { return m_bCloseFailed; }

 private:
  enum CompressState { kNoCompress, kCompressReady, kCompressStarted };

  void DestroyDecompress();
  void DestroyCompress();
  // Creates the decompression object over the open file from its start,
  // reads the header, checks it and starts decoding. False (object
  // destroyed) on failure.
  bool StartFileDecompress();
  // True when the decoding so far has found data missing from the file.
  bool DataLost() const;
  // Fetches device row `row` (from the bottom) at 24 bits into `bgr`.
  static bool FetchRow24(CDC* dc, CBitmap* bitmap, long row, long width, unsigned char* bgr);

  jpeg_progress_mgr m_Progress;
  bool m_bDecompressCreated = false;
  int m_nCompressState = kNoCompress;
  bool m_bCloseFailed = false;
  uint64_t m_nFileSize = 0;
  std::vector<JSAMPLE> m_Cmyk;  // a decoded CMYK row, delivered as RGB
  long m_nLostFrom = -1;        // first row the file does not hold, or -1
  bool m_bMultiScan = false;    // the file has several scans (decoded whole at the start)
};
