#include "raster/CImgFileJPEG.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include <jerror.h>

#include "platform/vtcore/CVtErrorMsg.h"
#include "platform/vtcore/CVtImgToolkit.h"
#include "platform/vtcore/CVtMemFile.h"
#include "platform/vtelem/CGeoImgBlock.h"
#include "platform/win/wingdi.h"

using ErrorManager = CImgFileJPEG::ErrorManager;

namespace {

void Record(const std::string& text) { VtGetErrorMsgObj()->SetMessage(0L, CString(text)); }

// libjpeg's fatal error: its message goes to the error-message object and
// control goes back to the operation that called libjpeg.
void ErrorExit(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  char text[JMSG_LENGTH_MAX + 64];
  if (err->tooManyScans) {
    std::snprintf(text, sizeof text, "JPEG file has more than %d scans", CImgFileJPEG::kMaxScans);
  } else {
    (*cinfo->err->format_message)(cinfo, text);
  }
  Record(std::string("libjpeg: ") + text);
  if (err->jump) std::longjmp(*err->jump, 1);
  // Every libjpeg call runs inside Guarded, so there is always a jump; a
  // return into libjpeg after a fatal error would corrupt its state.
  std::abort();
}

// The DCT of a compression at `quality`: the fast integer transform is off
// by several levels at high qualities, where its error outweighs the
// quantization's, so the accurate one is used from quality 90 up.
J_DCT_METHOD DctMethod(int quality) { return quality >= 90 ? JDCT_ISLOW : JDCT_IFAST; }

// libjpeg's warnings and traces. While a file is decoded, the end of its
// data is noted rather than printed: the decoding fails the rows it lost.
void EmitMessage(j_common_ptr cinfo, int level) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  if (level < 0 && err->watchEnd) {
    const int code = cinfo->err->msg_code;
    if (code == JWRN_JPEG_EOF) {
      err->endOfFile = true;
      cinfo->err->num_warnings++;
      return;
    }
    // Huffman decoding stops at a marker where it still needs bits and
    // fills the rest with zeros; after the file's end any warning is one
    // about the missing data.
    if (code == JWRN_HIT_MARKER || err->endOfFile) {
      err->dataMissing = true;
      cinfo->err->num_warnings++;
      return;
    }
  }
  err->standardEmit(cinfo, level);
}

jpeg_error_mgr* SetupError(ErrorManager& err) {
  jpeg_std_error(&err.pub);
  err.pub.error_exit = ErrorExit;
  err.standardEmit = err.pub.emit_message;
  err.pub.emit_message = EmitMessage;
  err.tooManyScans = 0;
  err.watchEnd = false;
  err.endOfFile = false;
  err.dataMissing = false;
  return &err.pub;
}

// Fails a decoding that passes the scan limit (see kMaxScans).
void ScanLimit(j_common_ptr cinfo) {
  if (!cinfo->is_decompressor) return;
  auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
  if (d->input_scan_number > CImgFileJPEG::kMaxScans) {
    reinterpret_cast<ErrorManager*>(cinfo->err)->tooManyScans = 1;
    (*cinfo->err->error_exit)(cinfo);
  }
}

// Runs `body`, which calls libjpeg, with a jump point for its fatal errors.
// False when libjpeg failed. `body` must hold no object with a destructor
// while it calls libjpeg: a fatal error leaves its frame by longjmp. The jump
// in force before is restored on every exit, so guards may nest.
template <class Body>
bool Guarded(ErrorManager& err, Body&& body) {
  jmp_buf here;
  jmp_buf* const outer = err.jump;
  if (setjmp(here)) {
    err.jump = outer;
    return false;
  }
  err.jump = &here;
  try {
    body();
  } catch (...) {
    err.jump = outer;
    throw;
  }
  err.jump = outer;
  return true;
}

// True when libjpeg decodes the file to CMYK samples (CMYK files and
// YCCK-coded ones, its default for both), which we deliver as RGB.
bool DecodesCmyk(j_decompress_ptr d) { return d->out_color_space == JCS_CMYK && d->num_components == 4; }

// Samples of one delivered pixel for the header's output colour space: 1
// (grey) or 3 (RGB, also from CMYK); 0 for colour spaces we do not deliver.
int OutputComponents(j_decompress_ptr d) {
  if (d->out_color_space == JCS_GRAYSCALE && d->num_components == 1) return 1;
  if (d->out_color_space == JCS_RGB && d->num_components == 3) return 3;
  if (DecodesCmyk(d)) return 3;
  return 0;
}

// `width` CMYK pixels to red, green, blue: each of C, M and Y times K over
// 255, rounded down, as GDAL delivers them. CMYK JPEG files keep the inks
// inverted (Adobe's convention, 255 for no ink), for which this is the
// usual (1 - c)(1 - k).
void CmykToRgb(const JSAMPLE* cmyk, JDIMENSION width, unsigned char* rgb) {
  for (JDIMENSION x = 0; x < width; ++x, cmyk += 4, rgb += 3) {
    const unsigned k = cmyk[3];
    rgb[0] = static_cast<unsigned char>(cmyk[0] * k / 255);
    rgb[1] = static_cast<unsigned char>(cmyk[1] * k / 255);
    rgb[2] = static_cast<unsigned char>(cmyk[2] * k / 255);
  }
}

// Why a header read from a stream of `bytes` bytes cannot be decoded, or an
// empty text. `whole`: the image is held whole in memory while decoding.
std::string CheckHeader(j_decompress_ptr d, uint64_t bytes, bool whole) {
  const int comps = OutputComponents(d);
  if (comps == 0)
    return "JPEG colour space " + std::to_string(d->jpeg_color_space) + " with " +
           std::to_string(d->num_components) + " components cannot be read (grey, RGB and CMYK only)";
  const uint64_t samples = uint64_t(d->image_width) * d->image_height * std::max(comps, d->num_components);
  const std::string size = std::to_string(d->image_width) + " x " + std::to_string(d->image_height);
  if (samples > bytes * CImgFileJPEG::kMaxSamplesPerByte)
    return "JPEG header describes " + size + " pixels, more than a stream of " + std::to_string(bytes) +
           " bytes can hold";
  if (whole && samples > CImgFileJPEG::kMaxWholeSamples)
    return "JPEG image of " + size + " pixels is too large to decode in memory";
  return {};
}

// Grey value of a blue, green, red pixel, weighted as JPEG turns RGB to Y.
inline unsigned char Grey(const unsigned char* bgr) {
  return static_cast<unsigned char>((19595u * bgr[2] + 38470u * bgr[1] + 7471u * bgr[0] + 32768u) >> 16);
}

// Turns `width` blue, green, red pixels into red, green, blue (24-bit) or
// grey (8-bit) samples at `out`, which may be `bgr` itself.
void DeviceToSamples(const unsigned char* bgr, long width, ImgPixelFormat format, unsigned char* out) {
  if (format == PF_BIT8) {
    for (long x = 0; x < width; ++x) out[x] = Grey(bgr + 3 * x);
  } else {
    for (long x = 0; x < width; ++x) {
      const unsigned char b = bgr[3 * x], g = bgr[3 * x + 1], r = bgr[3 * x + 2];
      out[3 * x] = r;
      out[3 * x + 1] = g;
      out[3 * x + 2] = b;
    }
  }
}

// The bitmap-information block GetDIBits fills.
struct DibInfo {
  BITMAPV4HEADER header;
  RGBQUAD colors[256];
};

void Init24(DibInfo& dib, long width, long height) {
  std::memset(&dib, 0, sizeof dib);
  dib.header.bV4Size = sizeof(BITMAPV4HEADER);
  dib.header.bV4Width = width;
  dib.header.bV4Height = height;
  dib.header.bV4Planes = 1;
  dib.header.bV4BitCount = 24;
  dib.header.bV4V4Compression = BI_RGB;
}

// --- JPEG streams in a memory file --------------------------------------

constexpr size_t kWorkBytes = 4096;

struct MemDestination {
  jpeg_destination_mgr pub;
  CVtMemFile* file;
  JOCTET buffer[kWorkBytes];
};

void DestInit(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<MemDestination*>(cinfo->dest);
  dest->pub.next_output_byte = dest->buffer;
  dest->pub.free_in_buffer = kWorkBytes;
}

boolean DestEmpty(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<MemDestination*>(cinfo->dest);
  if (dest->file->Write(dest->buffer, 1, kWorkBytes) != kWorkBytes) ERREXIT(cinfo, JERR_FILE_WRITE);
  dest->pub.next_output_byte = dest->buffer;
  dest->pub.free_in_buffer = kWorkBytes;
  return TRUE;
}

void DestTerm(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<MemDestination*>(cinfo->dest);
  const size_t used = kWorkBytes - dest->pub.free_in_buffer;
  if (used > 0 && dest->file->Write(dest->buffer, 1, static_cast<unsigned>(used)) != used)
    ERREXIT(cinfo, JERR_FILE_WRITE);
  dest->file->Flush();
  if (dest->file->Error()) ERREXIT(cinfo, JERR_FILE_WRITE);
}

struct MemSource {
  jpeg_source_mgr pub;
  CVtMemFile* file;
  boolean startOfFile;
  JOCTET buffer[kWorkBytes];
};

void SourceInit(j_decompress_ptr cinfo) {
  reinterpret_cast<MemSource*>(cinfo->src)->startOfFile = TRUE;
}

boolean SourceFill(j_decompress_ptr cinfo) {
  auto* src = reinterpret_cast<MemSource*>(cinfo->src);
  size_t n = src->file->Read(src->buffer, 1, kWorkBytes);
  if (n == 0) {
    if (src->startOfFile) ERREXIT(cinfo, JERR_INPUT_EMPTY);
    WARNMS(cinfo, JWRN_JPEG_EOF);
    // An end-of-image marker in place of the missing data.
    src->buffer[0] = 0xFF;
    src->buffer[1] = JPEG_EOI;
    n = 2;
  }
  src->pub.next_input_byte = src->buffer;
  src->pub.bytes_in_buffer = n;
  src->startOfFile = FALSE;
  return TRUE;
}

void SourceSkip(j_decompress_ptr cinfo, long count) {
  if (count <= 0) return;
  jpeg_source_mgr* src = cinfo->src;
  while (count > static_cast<long>(src->bytes_in_buffer)) {
    count -= static_cast<long>(src->bytes_in_buffer);
    (void)(*src->fill_input_buffer)(cinfo);
  }
  src->next_input_byte += count;
  src->bytes_in_buffer -= static_cast<size_t>(count);
}

void SourceTerm(j_decompress_ptr) {}

}  // namespace

// --- The object and its file ---------------------------------------------

CImgFileJPEG::CImgFileJPEG() {
  std::memset(&m_Decompress, 0, sizeof m_Decompress);
  std::memset(&m_Compress, 0, sizeof m_Compress);
  std::memset(&m_Progress, 0, sizeof m_Progress);
  m_Progress.progress_monitor = ScanLimit;
  m_Error.owner = this;
}

CImgFileJPEG::~CImgFileJPEG() { CImgFileJPEG::Close(); }

void CImgFileJPEG::DestroyDecompress() {
  if (m_bDecompressCreated) jpeg_destroy_decompress(&m_Decompress);
  m_bDecompressCreated = false;
}

void CImgFileJPEG::DestroyCompress() {
  if (m_nCompressState != kNoCompress) jpeg_destroy_compress(&m_Compress);
  m_nCompressState = kNoCompress;
}

void CImgFileJPEG::Close() {
  m_bCloseFailed = false;
  if (m_nCompressState == kCompressStarted) {
    const JDIMENSION written = m_Compress.next_scanline, height = m_Compress.image_height;
    if (written == height) {
      if (!Guarded(m_Error, [&] { jpeg_finish_compress(&m_Compress); })) m_bCloseFailed = true;
    } else {
      Record("JPEG file closed after " + std::to_string(written) + " of " + std::to_string(height) +
             " rows; it is incomplete");
      m_bCloseFailed = true;
    }
  }
  DestroyCompress();
  DestroyDecompress();
  m_nDecompressing = 0;
  if (m_pFile) {
    if (std::fclose(m_pFile) != 0) {
      Record("JPEG file could not be closed: " + std::string(std::strerror(errno)));
      m_bCloseFailed = true;
    }
    m_pFile = nullptr;
  }
  CImgFile::Close();
}

void CImgFileJPEG::Abort() {
  DestroyCompress();
  DestroyDecompress();
  m_nDecompressing = 0;
  if (m_pFile) std::fclose(m_pFile);
  m_pFile = nullptr;
  CImgFile::Abort();
}

int CImgFileJPEG::OpenForRead(CString path) {
  if (m_pFile) Close();
  m_pFile = std::fopen(path, "rb");
  if (!m_pFile) return 0;
  struct stat st;
  if (::fstat(fileno(m_pFile), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 100) {
    std::fclose(m_pFile);
    m_pFile = nullptr;
    return 0;
  }
  m_nFileSize = static_cast<uint64_t>(st.st_size);
  return 1;
}

int CImgFileJPEG::OpenForWrite(CString path) {
  if (m_pFile) Close();
  m_pFile = std::fopen(path, "wb");
  m_nFileSize = 0;
  return m_pFile ? 1 : 0;
}

// --- Reading ----------------------------------------------------------------

bool CImgFileJPEG::StartFileDecompress() {
  DestroyDecompress();
  if (!m_pFile || std::fseek(m_pFile, 0, SEEK_SET) != 0) return false;
  std::string reason;
  bool started = false;
  m_bMultiScan = false;
  const bool ok = Guarded(m_Error, [&] {
    m_Decompress.err = SetupError(m_Error);
    m_Error.watchEnd = true;
    jpeg_create_decompress(&m_Decompress);
    m_bDecompressCreated = true;
    m_Decompress.progress = &m_Progress;
    jpeg_stdio_src(&m_Decompress, m_pFile);
    if (jpeg_read_header(&m_Decompress, TRUE) != JPEG_HEADER_OK) {
      reason = "no JPEG image in the file";
      return;
    }
    m_bMultiScan = jpeg_has_multiple_scans(&m_Decompress) != 0;
    reason = CheckHeader(&m_Decompress, m_nFileSize, m_bMultiScan);
    if (!reason.empty()) return;
    started = true;
    jpeg_start_decompress(&m_Decompress);
  });
  m_nLostFrom = -1;
  // A file of several scans is read whole here. When it ends early, even
  // inside a scan's header (which libjpeg then fails on), its header stands
  // but no row is whole: LoadImage succeeds and every row fails.
  if (started && (ok ? DataLost() : m_Error.endOfFile)) m_nLostFrom = 0;
  if ((ok && reason.empty()) || m_nLostFrom == 0) return true;
  if (!reason.empty()) Record(reason);
  DestroyDecompress();
  return false;
}

long CImgFileJPEG::LoadImage() {
  if (!StartFileDecompress()) return -1;
  // The header's sizes: a file that ended early may have stopped libjpeg
  // before it set its output sizes (which are the same, unscaled).
  const int comps = OutputComponents(&m_Decompress);
  SetHeight(m_Decompress.image_height);
  SetWidth(m_Decompress.image_width);
  SetPixelFormat(CVtImgToolkit::Bit2Format(static_cast<unsigned short>(comps * 8)));
  SetPixelFormatExt(GetPixelFormat());
  SetWidthBytes(static_cast<unsigned long>(CVtImgToolkit::AlignWidth(GetPixelFormat(), GetWidth())));
  m_nDecompressing = 1;
  return 1;
}

bool CImgFileJPEG::DataLost() const {
  if (m_Error.dataMissing) return true;
  if (!m_Error.endOfFile) return false;
  // Huffman decoding warns where a scan lacks bits, so an end met only while
  // looking for the next marker loses nothing of the scans read. A single
  // scan is then whole; a progressive file is whole when every coefficient
  // of every component was refined to its last bit. Arithmetic decoding does
  // not warn, and a sequential file of several scans does not tell which
  // scans it has: an early end loses data there.
  const jpeg_decompress_struct& d = m_Decompress;
  if (d.arith_code) return true;
  if (!m_bMultiScan) return false;
  if (!d.progressive_mode || !d.coef_bits) return true;
  for (int c = 0; c < d.num_components; ++c)
    for (int k = 0; k < DCTSIZE2; ++k)
      if (d.coef_bits[c][k] != 0) return true;
  return false;
}

// Records why rows from `from` on cannot be read.
static void RecordLost(bool multiScan, long from) {
  if (multiScan)
    Record("JPEG file of several scans ends early or is damaged: no row is whole");
  else
    Record("JPEG data ends before row " + std::to_string(from) +
           " is whole: the file is cut short or damaged");
}

long CImgFileJPEG::ReadScanLine(long row, CImgScanLine& line) {
  if (!m_bDecompressCreated || row < 0) return -1;
  // Checked first: libjpeg may have stopped where the data ran out.
  if (m_nLostFrom >= 0 && row >= m_nLostFrom) {
    if (static_cast<unsigned long>(row) < GetHeight()) RecordLost(m_bMultiScan, m_nLostFrom);
    return -1;
  }
  jpeg_decompress_struct& d = m_Decompress;
  if (static_cast<unsigned long>(row) < d.output_scanline || static_cast<unsigned long>(row) >= d.output_height)
    return -1;
  const bool cmyk = DecodesCmyk(&d);
  const size_t rowBytes = size_t(d.output_width) * (cmyk ? 3u : static_cast<size_t>(d.output_components));
  if (static_cast<size_t>(line.GetSize()) < rowBytes) return -1;
  if (cmyk && m_Cmyk.size() < size_t(d.output_width) * 4) m_Cmyk.resize(size_t(d.output_width) * 4);
  // Rows before the one asked for are decoded into the line and dropped.
  bool delivered = true;
  const bool ok = Guarded(m_Error, [&] {
    while (d.output_scanline <= static_cast<unsigned long>(row)) {
      const long decoding = static_cast<long>(d.output_scanline);
      m_pRow = cmyk ? m_Cmyk.data() : line.GetData();
      if (jpeg_read_scanlines(&d, &m_pRow, 1) != 1) {
        delivered = false;
        return;
      }
      if (cmyk) CmykToRgb(m_Cmyk.data(), d.output_width, line.GetData());
      // The row being decoded when the data ran out may hold its zeros.
      if (DataLost()) {
        m_nLostFrom = decoding;
        return;
      }
    }
  });
  if (!ok) {
    DestroyDecompress();
    m_nDecompressing = 0;
    return -1;
  }
  if (m_nLostFrom >= 0) {
    RecordLost(m_bMultiScan, m_nLostFrom);
    return -1;
  }
  return delivered ? 1 : -1;
}

int CImgFileJPEG::OpenForEcw() {
  if (m_nDecompressing && m_bDecompressCreated) return 1;
  if (!StartFileDecompress()) {
    m_nDecompressing = 0;
    return 0;
  }
  m_nDecompressing = 1;
  return 1;
}

int CImgFileJPEG::PrepareForRead() { return StartFileDecompress() ? 1 : 0; }

int CImgFileJPEG::EndForRead() {
  DestroyDecompress();
  m_nDecompressing = 0;
  return 1;
}

// --- Writing ----------------------------------------------------------------

long CImgFileJPEG::SaveImage() {
  int comps;
  J_COLOR_SPACE space;
  if (GetPixelFormat() == PF_BIT24) {
    comps = 3;
    space = JCS_RGB;
  } else if (GetPixelFormat() == PF_BIT8) {
    comps = 1;
    space = JCS_GRAYSCALE;
  } else {
    Record("JPEG stores 8-bit grey or 24-bit RGB pixels, not " + std::to_string(GetPixelFormat()) + "-bit ones");
    return -1;
  }
  if (!m_pFile) return -1;
  if (GetWidth() < 1 || GetHeight() < 1 || GetWidth() > JPEG_MAX_DIMENSION || GetHeight() > JPEG_MAX_DIMENSION) {
    Record("JPEG images are 1 to " + std::to_string(JPEG_MAX_DIMENSION) + " pixels wide and high, not " +
           std::to_string(GetWidth()) + " x " + std::to_string(GetHeight()));
    return -1;
  }
  DestroyCompress();
  const bool ok = Guarded(m_Error, [&] {
    m_Compress.err = SetupError(m_Error);
    jpeg_create_compress(&m_Compress);
    m_nCompressState = kCompressReady;
    jpeg_stdio_dest(&m_Compress, m_pFile);
    m_Compress.image_width = static_cast<JDIMENSION>(GetWidth());
    m_Compress.image_height = static_cast<JDIMENSION>(GetHeight());
    m_Compress.input_components = comps;
    m_Compress.in_color_space = space;
    jpeg_set_defaults(&m_Compress);
    m_Compress.dct_method = DctMethod(m_nQuality);
    jpeg_set_quality(&m_Compress, m_nQuality, TRUE);
  });
  if (!ok) {
    DestroyCompress();
    return -1;
  }
  SetWidthBytes(static_cast<unsigned long>(CVtImgToolkit::AlignWidth(GetPixelFormat(), GetWidth())));
  return 1;
}

long CImgFileJPEG::WriteScanLine(long /*row*/, CImgScanLine& line) {
  if (m_nCompressState == kNoCompress) return -1;
  jpeg_compress_struct& c = m_Compress;
  const size_t rowBytes = size_t(c.image_width) * static_cast<size_t>(c.input_components);
  if (static_cast<size_t>(line.GetSize()) < rowBytes) return -1;
  long taken = 0;
  const bool ok = Guarded(m_Error, [&] {
    if (m_nCompressState == kCompressReady) {
      jpeg_start_compress(&c, TRUE);
      m_nCompressState = kCompressStarted;
    }
    if (c.next_scanline >= c.image_height) return;
    m_pRow = line.GetData();
    taken = static_cast<long>(jpeg_write_scanlines(&c, &m_pRow, 1));
  });
  if (!ok) {
    DestroyCompress();
    return -1;
  }
  return taken;
}

bool CImgFileJPEG::FetchRow24(CDC* dc, CBitmap* bitmap, long row, long width, unsigned char* bgr) {
  DibInfo dib;
  Init24(dib, width, 1);
  // The height must be the bitmap's for `row` to count from its bottom.
  BITMAP info{};
  if (::GetObject(bitmap->GetSafeHandle(), sizeof info, &info) == 0) return false;
  dib.header.bV4Height = info.bmHeight;
  return GetDIBits(dc->GetSafeHdc(), *bitmap, static_cast<UINT>(row), 1, bgr,
                   reinterpret_cast<BITMAPINFO*>(&dib), DIB_RGB_COLORS) == 1;
}

long CImgFileJPEG::OutputDirect(CString path, CDC* dc, CBitmap* bitmap, ImgPixelFormat format,
                                CRect2D /*bounds*/) {
  if (!OpenForWrite(path)) {
    Close();
    return -1;
  }
  BITMAP info{};
  if (!dc || !bitmap || ::GetObject(bitmap->GetSafeHandle(), sizeof info, &info) == 0) {
    Close();
    return -1;
  }
  SetWidth(static_cast<unsigned long>(info.bmWidth));
  SetHeight(static_cast<unsigned long>(info.bmHeight));
  SetPixelFormat(format);
  if (SaveImage() < 0) {
    Close();
    return -2;
  }
  const long width = info.bmWidth, height = info.bmHeight;
  // Rows come from the device at 24 bits and become RGB or grey samples.
  std::vector<unsigned char> bgr(static_cast<size_t>(CVtImgToolkit::AlignWidth(PF_BIT24, width)));
  CImgScanLine line(format, static_cast<long>(GetWidthBytes()) + 4);
  for (long row = height - 1; row >= 0; --row) {  // the top of the picture first
    if (!FetchRow24(dc, bitmap, row, width, bgr.data())) {
      Abort();
      return 0;
    }
    DeviceToSamples(bgr.data(), width, format, line.GetData());
    if (WriteScanLine(height - 1 - row, line) != 1) {
      Abort();
      return 0;
    }
  }
  Close();
  return LastCloseFailed() ? 0 : 1;
}

int CImgFileJPEG::OutputDirect2(CString /*path*/, CDC* dc, CBitmap* bitmap, ImgPixelFormat format,
                                CRect2D /*bounds*/) {
  if (!bitmap) return 0;
  BITMAP info{};
  if (!dc || ::GetObject(bitmap->GetSafeHandle(), sizeof info, &info) == 0) {
    Close();
    return 0;
  }
  SetWidth(static_cast<unsigned long>(info.bmWidth));
  SetHeight(static_cast<unsigned long>(info.bmHeight));
  SetPixelFormat(format);
  if (SaveImage() < 0) {
    Close();
    return 0;
  }
  const long width = info.bmWidth, height = info.bmHeight;
  const size_t stride = static_cast<size_t>(CVtImgToolkit::AlignWidth(PF_BIT24, width));
  std::vector<unsigned char> pixels;
  std::vector<JSAMPROW> rows;
  try {
    pixels.resize(stride * static_cast<size_t>(height));
    rows.resize(static_cast<size_t>(height));
  } catch (const std::bad_alloc&) {
    Record("no memory for a " + std::to_string(width) + " x " + std::to_string(height) + " picture");
    Abort();
    return 0;
  }
  // All rows at once, bottom row first.
  DibInfo dib;
  Init24(dib, width, height);
  if (GetDIBits(dc->GetSafeHdc(), *bitmap, 0, static_cast<UINT>(height), pixels.data(),
                reinterpret_cast<BITMAPINFO*>(&dib), DIB_RGB_COLORS) != height) {
    Abort();
    return 0;
  }
  for (long i = 0; i < height; ++i) {
    unsigned char* row = pixels.data() + static_cast<size_t>(height - 1 - i) * stride;
    DeviceToSamples(row, width, format, row);
    rows[static_cast<size_t>(i)] = row;
  }
  jpeg_compress_struct& c = m_Compress;
  JDIMENSION written = 0;
  const bool ok = Guarded(m_Error, [&] {
    jpeg_start_compress(&c, TRUE);
    m_nCompressState = kCompressStarted;
    written = jpeg_write_scanlines(&c, rows.data(), static_cast<JDIMENSION>(height));
  });
  if (!ok || written != static_cast<JDIMENSION>(height)) {
    Abort();
    return 0;
  }
  Close();
  return LastCloseFailed() ? 0 : 1;
}

int CImgFileJPEG::SaveJpegFile(CString path, long width, long height, unsigned long* pixels) {
  if (!pixels || width < 1 || height < 1 || !OpenForWrite(path)) return 0;
  SetPixelFormat(PF_BIT24);
  SetWidth(static_cast<unsigned long>(width));
  SetHeight(static_cast<unsigned long>(height));
  if (SaveImage() < 0) {
    Close();
    return 0;
  }
  CImgScanLine line(PF_BIT24, width * 3);
  unsigned char* out = line.GetData();
  for (long i = 0; i < height; ++i) {
    const unsigned long* src = pixels + static_cast<size_t>(height - 1 - i) * static_cast<size_t>(width);
    for (long x = 0; x < width; ++x) {
      out[3 * x] = static_cast<unsigned char>(src[x] >> 16);
      out[3 * x + 1] = static_cast<unsigned char>(src[x] >> 8);
      out[3 * x + 2] = static_cast<unsigned char>(src[x]);
    }
    if (WriteScanLine(i, line) != 1) {
      Abort();
      return 0;
    }
  }
  Close();
  return LastCloseFailed() ? 0 : 1;
}

// --- Image blocks in memory -----------------------------------------------

long CImgFileJPEG::OutputBlock(unsigned char*& buffer, CGeoImgBlock* block, int quality) {
  if (!block) return -1;
  int comps;
  J_COLOR_SPACE space;
  if (block->m_PixelFormat == PF_BIT24) {
    comps = 3;
    space = JCS_RGB;
  } else if (block->m_PixelFormat == PF_BIT8) {
    comps = 1;
    space = JCS_GRAYSCALE;
  } else {
    return -1;
  }
  const long width = block->m_nWidth, height = block->m_nHeight;
  if (width < 1 || height < 1 || width > JPEG_MAX_DIMENSION || height > JPEG_MAX_DIMENSION ||
      block->m_nWidthBytes < width * comps || !block->GetRow(0))
    return -1;

  CVtMemFile mem;
  if (!mem.Open()) return -1;
  CImgScanLine line(block->m_PixelFormat, block->m_nWidthBytes);
  MemDestination dest;
  ErrorManager err;
  jpeg_compress_struct c;
  std::memset(&c, 0, sizeof c);
  bool created = false;
  const bool ok = Guarded(err, [&] {
    c.err = SetupError(err);
    jpeg_create_compress(&c);
    created = true;
    dest.file = &mem;
    dest.pub.init_destination = DestInit;
    dest.pub.empty_output_buffer = DestEmpty;
    dest.pub.term_destination = DestTerm;
    c.dest = &dest.pub;
    c.image_width = static_cast<JDIMENSION>(width);
    c.image_height = static_cast<JDIMENSION>(height);
    c.input_components = comps;
    c.in_color_space = space;
    jpeg_set_defaults(&c);
    const int clamped = std::min(100, std::max(0, quality));
    c.dct_method = DctMethod(clamped);
    jpeg_set_quality(&c, clamped, TRUE);
    jpeg_start_compress(&c, TRUE);
    for (long i = 0; i < height; ++i) {
      block->GetScanLine(i, line, 0, 0);
      if (comps == 3) line.SwapBlueRed();
      JSAMPROW row = line.GetData();
      jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
  });
  if (created) jpeg_destroy_compress(&c);
  if (!ok) return -1;
  const long size = mem.Size();
  if (!buffer) buffer = new unsigned char[static_cast<size_t>(size)];
  std::memcpy(buffer, mem.GetBuffer(false), static_cast<size_t>(size));
  mem.Close();
  return size;
}

long CImgFileJPEG::InputBlock(unsigned char* data, int length, CGeoImgBlock* block) {
  if (!data || length <= 0 || !block) return -1;
  // The stream is read where it lies; the memory file only borrows it.
  CVtMemFile mem(data, static_cast<unsigned long>(length));
  CImgScanLine line;
  std::vector<JSAMPLE> cmykRow;  // a CMYK row before it becomes RGB
  std::string reason;
  MemSource src;
  ErrorManager err;
  jpeg_progress_mgr progress;
  std::memset(&progress, 0, sizeof progress);
  progress.progress_monitor = ScanLimit;
  jpeg_decompress_struct d;
  std::memset(&d, 0, sizeof d);
  bool created = false, decoded = false;
  const bool ok = Guarded(err, [&] {
    d.err = SetupError(err);
    jpeg_create_decompress(&d);
    created = true;
    d.progress = &progress;
    src.file = &mem;
    src.pub.init_source = SourceInit;
    src.pub.fill_input_buffer = SourceFill;
    src.pub.skip_input_data = SourceSkip;
    src.pub.resync_to_restart = jpeg_resync_to_restart;
    src.pub.term_source = SourceTerm;
    src.pub.bytes_in_buffer = 0;
    src.pub.next_input_byte = nullptr;
    d.src = &src.pub;
    if (jpeg_read_header(&d, TRUE) != JPEG_HEADER_OK) {
      reason = "no JPEG image in the stream";
      return;
    }
    reason = CheckHeader(&d, static_cast<uint64_t>(length), true);
    if (!reason.empty()) return;
    const int comps = OutputComponents(&d);
    block->m_nWidth = static_cast<long>(d.image_width);
    block->m_nHeight = static_cast<long>(d.image_height);
    block->m_PixelFormat = CVtImgToolkit::Bit2Format(static_cast<unsigned short>(comps * 8));
    block->m_nWidthBytes = CVtImgToolkit::AlignWidth(block->m_PixelFormat, block->m_nWidth);
    if (!block->Allocate()) {
      reason = "no memory for the decoded block";
      return;
    }
    line.SetSize(static_cast<int>(block->m_nWidthBytes), -1);
    line.m_PixelFormat = block->m_PixelFormat;
    line.m_nLength = block->m_nWidthBytes;
    line.m_nWidth = block->m_nWidth;
    const bool cmyk = DecodesCmyk(&d);
    if (cmyk) cmykRow.resize(size_t(d.image_width) * 4);
    jpeg_start_decompress(&d);
    for (long i = 0; i < block->m_nHeight; ++i) {
      JSAMPROW row = cmyk ? cmykRow.data() : line.GetData();
      if (jpeg_read_scanlines(&d, &row, 1) != 1) return;
      if (cmyk) CmykToRgb(cmykRow.data(), d.output_width, line.GetData());
      if (comps == 3) line.SwapBlueRed();
      block->SetScanLine(i, line, 0, 0);
    }
    decoded = true;
  });
  // Every row is in the block; what follows the image does not matter.
  if (ok && decoded) Guarded(err, [&] { jpeg_finish_decompress(&d); });
  if (created) jpeg_destroy_decompress(&d);
  if (!reason.empty()) Record(reason);
  return ok && decoded ? 1 : -1;
}
