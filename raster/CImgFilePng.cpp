#include "raster/CImgFilePng.h"

#include <png.h>
#include <sys/types.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <system_error>
#include <thread>

#include "platform/vtcore/CVtErrorMsg.h"
#include "platform/vtcore/CVtImgToolkit.h"
#include "platform/win/wingdi.h"

// Each operation that calls libpng points m_pJump at its own return point and
// puts the previous one back before it returns, so an operation may call
// another (OutputBlock calls SaveImage and WriteScanLine). Locals that change
// after the return point is set are members or volatile; objects with
// destructors are made before it.
#define PNG_GUARD(failure)                          \
  std::jmp_buf jump_;                               \
  std::jmp_buf* const savedJump_ = m_pJump;         \
  m_pJump = &jump_;                                 \
  if (setjmp(jump_)) {                              \
    m_pJump = savedJump_;                           \
    return failure;                                 \
  }
#define PNG_UNGUARD() m_pJump = savedJump_

const uint64_t CImgFilePng::kMaxImageBytes = uint64_t(1) << 31;

namespace {

// Widest and tallest image accepted from a file or for writing.
const png_uint_32 kMaxSide = 1u << 24;
// deflate never packs more than 1032 bytes into one; with room for headers.
const uint64_t kMaxInflateRatio = 1032;
const uint64_t kInflateSlack = 1 << 16;
// Largest ancillary chunk accepted (libpng's own upstream default).
const png_alloc_size_t kMaxChunkBytes = 8000000;

const char kAuthor[] = "vtfmt PNG driver";

// Images of this many bytes of rows or more are deflated in pieces of about
// kPieceBytes each; deflate looks back kWindowBytes.
const uint64_t kOwnStreamBytes = 1 << 20;
const uint64_t kPieceBytes = 256 * 1024;
const size_t kWindowBytes = 32 * 1024;
// The level of the image data's compression.
const int kDeflateLevel = 2;

uint8_t Paeth(int a, int b, int c) {
  const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  return static_cast<uint8_t>(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

// Writes the filter type and the filtered bytes of row `cur` (`up` is the
// row above, zeros for the first) to `out`. With `choose`, the filter whose
// bytes, taken as signed, add up to the least, as libpng chooses; else none.
void FilterRow(const unsigned char* cur, const unsigned char* up, size_t bytes, size_t bpp, bool choose,
               unsigned char* out, std::vector<unsigned char>& trial) {
  out[0] = 0;
  std::memcpy(out + 1, cur, bytes);
  if (!choose) return;
  trial.resize(bytes);
  uint64_t best = 0;
  for (size_t i = 0; i < bytes; ++i) best += static_cast<unsigned>(std::abs(static_cast<int8_t>(cur[i])));
  for (int type = 1; type <= 4; ++type) {
    uint64_t sum = 0;
    for (size_t i = 0; i < bytes; ++i) {
      const int a = i >= bpp ? cur[i - bpp] : 0, b = up[i], c = i >= bpp ? up[i - bpp] : 0;
      const int predicted = type == 1 ? a : type == 2 ? b : type == 3 ? (a + b) / 2 : Paeth(a, b, c);
      trial[i] = static_cast<unsigned char>(cur[i] - predicted);
      sum += static_cast<unsigned>(std::abs(static_cast<int8_t>(trial[i])));
    }
    if (sum < best) {
      best = sum;
      out[0] = static_cast<unsigned char>(type);
      std::memcpy(out + 1, trial.data(), bytes);
    }
  }
}

// Deflates `in` as raw deflate data that follows `dict` in the stream,
// ended by a full flush (whole bytes, nothing pending) or, for the last
// piece, by the final block. False when zlib fails.
bool DeflatePiece(const std::vector<unsigned char>& in, const unsigned char* dict, size_t dictSize, bool final,
                  std::vector<unsigned char>& out) {
  z_stream z{};
  if (deflateInit2(&z, kDeflateLevel, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return false;
  bool ok = dictSize == 0 || deflateSetDictionary(&z, dict, static_cast<uInt>(dictSize)) == Z_OK;
  out.resize(deflateBound(&z, static_cast<uLong>(in.size())) + 16);
  z.next_in = const_cast<Bytef*>(in.data());
  z.avail_in = static_cast<uInt>(in.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  const int flush = final ? Z_FINISH : Z_FULL_FLUSH;
  while (ok) {
    const int status = deflate(&z, flush);
    if (final ? status == Z_STREAM_END : (status == Z_OK && z.avail_in == 0 && z.avail_out > 0)) break;
    if (status != Z_OK && status != Z_BUF_ERROR) {
      ok = false;
      break;
    }
    // Out of room: grow and go on.
    const size_t used = out.size() - z.avail_out;
    out.resize(out.size() * 2);
    z.next_out = out.data() + used;
    z.avail_out = static_cast<uInt>(out.size() - used);
  }
  out.resize(out.size() - z.avail_out);
  deflateEnd(&z);
  return ok;
}

// Calls `job(k)` for k = 0 .. count-1 on up to `threads` threads, the
// calling one among them; returns when every call has.
template <typename Job>
void RunPieces(size_t count, int threads, Job& job) {
  std::atomic<size_t> next{0};
  auto work = [&] {
    for (size_t k; (k = next.fetch_add(1)) < count;) job(k);
  };
  std::vector<std::thread> helpers;
  for (size_t t = 1; t < std::min<size_t>(static_cast<size_t>(std::max(threads, 1)), count); ++t) {
    try {
      helpers.emplace_back(work);
    } catch (const std::system_error&) {
      break;  // the threads there are do the rest
    }
  }
  work();
  for (std::thread& t : helpers) t.join();
}

}  // namespace

// libpng's error handler: records the text and returns to the operation
// running. Warnings are dropped.
struct PngCallbacks {
  static void Error(png_structp png, png_const_charp text) {
    auto* self = static_cast<CImgFilePng*>(png_get_error_ptr(png));
    self->RecordError(text);
    if (!self->m_pJump) std::abort();  // every call into libpng sets a return point
    std::longjmp(*self->m_pJump, 1);
  }
  static void Warning(png_structp, png_const_charp) {}
  // Appends encoded bytes to the memory stream of EncodeBlock.
  static void WriteMemory(png_structp png, png_bytep data, size_t length) {
    auto* self = static_cast<CImgFilePng*>(png_get_io_ptr(png));
    bool failed = false;
    try {
      self->m_pStream->insert(self->m_pStream->end(), data, data + length);
    } catch (const std::bad_alloc&) {
      failed = true;
    }
    if (failed) png_error(png, "write error.");
  }
  static void FlushMemory(png_structp) {}
  // Reads the file for libpng. A chunk other than image data whose stated
  // length runs past the end of the file is refused as its header goes by:
  // libpng would allocate that length before finding the bytes missing.
  static void ReadFile(png_structp png, png_bytep data, size_t length) {
    auto* self = static_cast<CImgFilePng*>(png_get_io_ptr(png));
    const uint64_t at = self->m_nReadPos;
    const size_t got = std::fread(data, 1, length, self->m_pFile);
    self->m_nReadPos += got;
    if (got != length) png_error(png, "Read Error");
    if (length == 8 && at == self->m_nNextChunk) {
      if (at == 0) {  // the signature; the first chunk follows
        self->m_nNextChunk = 8;
        return;
      }
      const uint64_t size = png_get_uint_32(data);
      self->m_nNextChunk = at + 12 + size;
      if (self->m_nNextChunk > self->m_nFileBytes && std::memcmp(data + 4, "IDAT", 4) != 0)
        png_error(png, "a chunk runs past the end of the file");
    }
  }
};

CImgFilePng::CImgFilePng() = default;

CImgFilePng::~CImgFilePng() { Release(true); }

void CImgFilePng::RecordError(const char* text) {
  VtGetErrorMsgObj()->SetMessage(0L, CString((std::string("PNG: ") + (text ? text : "error")).c_str()));
}

// Destroys the libpng structures and closes the file; with `finish`, a
// written image whose rows all went in gets its end chunk first.
void CImgFilePng::Release(bool finish) {
  if (m_pPng && !m_nReading) {
    // Without its header, or short of rows, the file is no image.
    bool done = false;
    if (finish && m_bHeaderWritten && m_nRowsDone == m_dwHeight) {
      if (m_bOwnStream) {
        // The stream was ended with the last row; only the end chunk is left.
        done = WriteChunk("IEND", nullptr, 0);
      } else {
        done = [this] {
          PNG_GUARD(false);
          png_write_end(m_pPng, m_pInfo);
          PNG_UNGUARD();
          return true;
        }();
      }
    }
    m_bWriteComplete = done;
    png_destroy_write_struct(&m_pPng, &m_pInfo);
  } else if (m_pPng) {
    png_destroy_read_struct(&m_pPng, &m_pInfo, nullptr);
  }
  m_pPng = nullptr;
  m_pInfo = nullptr;
  if (m_pFile) {
    if (!m_nReading && (std::fflush(m_pFile) != 0 || std::ferror(m_pFile))) m_bWriteComplete = false;
    if (std::fclose(m_pFile) != 0 && !m_nReading) m_bWriteComplete = false;
    m_pFile = nullptr;
  }
  m_bHeaderWritten = false;
  m_bLoaded = false;
  m_bUpdated = false;
  m_pStream = nullptr;
  std::vector<unsigned char>().swap(m_Image);
  m_bOwnStream = false;
  std::vector<unsigned char>().swap(m_Held);
  std::vector<unsigned char>().swap(m_PrevRow);
  std::vector<unsigned char>().swap(m_Window);
}

void CImgFilePng::Close() { Release(true); }

void CImgFilePng::Abort() {
  if (m_pPng && !m_nReading) m_bWriteComplete = false;
  Release(false);
}

int CImgFilePng::OpenForRead(CString path) {
  Close();
  m_nReading = 1;
  m_nRowsDone = 0;
  m_pFile = std::fopen(path, "rb");
  if (!m_pFile) return 0;
  m_nFileBytes = 0;
  if (fseeko(m_pFile, 0, SEEK_END) == 0) {
    const off_t end = ftello(m_pFile);
    m_nFileBytes = end > 0 ? static_cast<uint64_t>(end) : 0;
  }
  std::rewind(m_pFile);
  m_nReadPos = 0;
  m_nNextChunk = 0;
  m_pPng = png_create_read_struct(PNG_LIBPNG_VER_STRING, this, &PngCallbacks::Error, &PngCallbacks::Warning);
  if (m_pPng) m_pInfo = png_create_info_struct(m_pPng);
  if (!m_pInfo) {
    Close();
    return 0;
  }
  const bool ok = [this] {
    PNG_GUARD(false);
    png_set_user_limits(m_pPng, kMaxSide, kMaxSide);
    // Text and profiles inflated from a chunk stay below this size.
    png_set_chunk_malloc_max(m_pPng, kMaxChunkBytes);
    png_set_read_fn(m_pPng, this, &PngCallbacks::ReadFile);
    png_read_info(m_pPng, m_pInfo);
    PNG_UNGUARD();
    return true;
  }();
  if (!ok) {
    Close();
    return 0;
  }
  return 1;
}

bool CImgFilePng::CreateWriter() {
  m_nReading = 0;
  m_nRowsDone = 0;
  m_bHeaderWritten = false;
  m_bWriteComplete = true;
  m_pPng = png_create_write_struct(PNG_LIBPNG_VER_STRING, this, &PngCallbacks::Error, &PngCallbacks::Warning);
  if (m_pPng) m_pInfo = png_create_info_struct(m_pPng);
  if (!m_pInfo) {
    if (m_pPng) png_destroy_write_struct(&m_pPng, nullptr);
    m_pPng = nullptr;
    return false;
  }
  return true;
}

int CImgFilePng::OpenForWrite(CString path) {
  Close();
  m_nReading = 0;
  m_pFile = std::fopen(path, "wb");
  if (!m_pFile) return 0;
  if (!CreateWriter()) {
    Abort();
    return 0;
  }
  const bool ok = [this] {
    PNG_GUARD(false);
    png_set_user_limits(m_pPng, kMaxSide, kMaxSide);
    png_init_io(m_pPng, m_pFile);
    PNG_UNGUARD();
    return true;
  }();
  if (!ok) {
    Abort();
    return 0;
  }
  return 1;
}

long CImgFilePng::LoadImage() {
  if (!m_pPng || !m_nReading) return -1;
  // libpng's transformations can be set up once per file.
  if (m_bUpdated) return m_bLoaded && m_nRowsDone == 0 ? 1 : -1;
  m_bUpdated = true;
  m_bLoaded = false;
  std::vector<unsigned char>().swap(m_Image);
  PNG_GUARD(-1);
  png_uint_32 width = 0, height = 0;
  int depth = 0, colorType = 0, interlace = 0;
  png_get_IHDR(m_pPng, m_pInfo, &width, &height, &depth, &colorType, &interlace, nullptr, nullptr);
  const bool trns = png_get_valid(m_pPng, m_pInfo, PNG_INFO_tRNS) != 0;

  // The filtered image data cannot be larger than deflate can make of the
  // file's bytes: a small file claiming a huge image is refused here.
  const uint64_t channels = png_get_channels(m_pPng, m_pInfo);
  const uint64_t rawRow = (uint64_t(width) * channels * uint64_t(depth) + 7) / 8 + 1;
  const uint64_t rawBytes = rawRow * height + (interlace ? 15 * uint64_t(height) : 0);
  if (rawBytes > m_nFileBytes * kMaxInflateRatio + kInflateSlack) {
    PNG_UNGUARD();
    RecordError("the image is larger than its file can hold");
    return -1;
  }

  ImgPixelFormat format;
  bool sixFiveFive = false;
  switch (colorType) {
    case PNG_COLOR_TYPE_RGB:
      format = trns ? PF_BIT32 : PF_BIT24;
      if (!trns && png_get_valid(m_pPng, m_pInfo, PNG_INFO_sBIT)) {
        png_color_8p bits = nullptr;
        png_get_sBIT(m_pPng, m_pInfo, &bits);
        // The mark SaveImage leaves on 16-bit (5-6-5) images.
        if (bits && bits->red + bits->green + bits->blue == 16) {
          format = PF_BIT16;
          sixFiveFive = true;
          png_set_shift(m_pPng, bits);
        }
      }
      break;
    case PNG_COLOR_TYPE_PALETTE:
      if (trns)
        format = PF_BIT32;
      else
        format = depth == 1 ? PF_BIT1 : depth == 4 ? PF_BIT4 : PF_BIT8;
      if (!trns && depth == 2) png_set_packing(m_pPng);
      break;
    case PNG_COLOR_TYPE_GRAY:
      format = trns ? PF_BIT32 : PF_BIT8;
      // Values keep their range, one byte a pixel.
      if (!trns && depth < 8) png_set_packing(m_pPng);
      if (trns) png_set_gray_to_rgb(m_pPng);
      break;
    case PNG_COLOR_TYPE_RGB_ALPHA:
      format = PF_BIT32;
      break;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
      format = PF_BIT32;
      png_set_gray_to_rgb(m_pPng);
      break;
    default:
      PNG_UNGUARD();
      return -1;
  }
  if (depth == 16 && !sixFiveFive) png_set_strip_16(m_pPng);
  // Transparency becomes an alpha channel (palette images become colour).
  if (trns) png_set_expand(m_pPng);

  m_Palette.SetSize(0);
  if ((colorType & PNG_COLOR_MASK_COLOR) && png_get_valid(m_pPng, m_pInfo, PNG_INFO_PLTE)) {
    png_colorp colors = nullptr;
    int count = 0;
    png_get_PLTE(m_pPng, m_pInfo, &colors, &count);
    m_Palette.SetSize(count);
    for (int k = 0; k < count; ++k)
      m_Palette[k] = PALETTEENTRY{colors[k].red, colors[k].green, colors[k].blue, 0};
  }
  png_set_interlace_handling(m_pPng);
  png_read_update_info(m_pPng, m_pInfo);
  const size_t libRow = png_get_rowbytes(m_pPng, m_pInfo);
  PNG_UNGUARD();

  // The rows libpng delivers must be exactly the rows of the format told.
  const uint64_t ourRow = static_cast<uint64_t>(CVtImgToolkit::AlignWidthByte(format, static_cast<long>(width)));
  const uint64_t expected = sixFiveFive ? uint64_t(width) * 3 * (depth / 8) : ourRow;
  if (libRow != expected) {
    RecordError("unexpected row layout");
    return -1;
  }
  m_dwWidth = width;
  m_dwHeight = height;
  m_nBitDepth = depth;
  m_nColorType = colorType;
  m_nInterlace = interlace;
  m_bTransparency = trns;
  m_bPack565 = sixFiveFive;
  m_nLibRowBytes = libRow;
  SetPixelFormat(format);
  SetWidthBytes(static_cast<unsigned long>(ourRow));
  m_Row.assign(sixFiveFive ? libRow : 0, 0);
  // Colour rows are turned blue first here rather than by libpng's own
  // transformation, which costs a third of the decoding time.
  m_nSwapStep = format == PF_BIT24 ? 3 : format == PF_BIT32 ? 4 : 0;
  m_nRowsDone = 0;
  m_bLoaded = true;
  return 1;
}

// Decodes every pass of an interlaced image into m_Image.
bool CImgFilePng::DecodeInterlaced() {
  const uint64_t bytes = uint64_t(m_nLibRowBytes) * m_dwHeight;
  if (bytes > m_nMaxImageBytes) {
    const uint64_t mb = uint64_t(1) << 20;
    RecordError(("the interlaced image is decoded whole and needs " + std::to_string((bytes + mb - 1) / mb) +
                 " MB, more than the " + std::to_string(m_nMaxImageBytes / mb) + " MB allowed (max_memory)")
                    .c_str());
    return false;
  }
  try {
    m_Image.assign(static_cast<size_t>(bytes), 0);
  } catch (const std::bad_alloc&) {
    RecordError("out of memory");
    return false;
  }
  PNG_GUARD(false);
  const int passes = png_set_interlace_handling(m_pPng);
  for (int pass = 0; pass < passes; ++pass)
    for (uint32_t y = 0; y < m_dwHeight; ++y) png_read_row(m_pPng, m_Image.data() + size_t(y) * m_nLibRowBytes, nullptr);
  PNG_UNGUARD();
  return true;
}

namespace {
// Exchanges the first and third byte of each `step`-byte pixel.
void SwapRedBlue(unsigned char* row, uint32_t width, int step) {
  size_t x = 0;
  if (step == 4) {
    for (; x < width; ++x) {
      uint32_t v;
      std::memcpy(&v, row + 4 * x, 4);
      v = (v & 0xFF00FF00u) | ((v >> 16) & 0xFFu) | ((v & 0xFFu) << 16);
      std::memcpy(row + 4 * x, &v, 4);
    }
    return;
  }
  for (; x < width; ++x) std::swap(row[3 * x], row[3 * x + 2]);
}

// Three 16-bit (or 8-bit) samples of 5, 6 and 5 significant bits, red first
// and big-endian, become one 5-6-5 pixel in machine order.
void Pack565(const unsigned char* in, unsigned char* out, uint32_t width, int depth) {
  for (uint32_t x = 0; x < width; ++x) {
    unsigned r, g, b;
    if (depth == 16) {
      r = in[6 * x + 1], g = in[6 * x + 3], b = in[6 * x + 5];
    } else {
      r = in[3 * x], g = in[3 * x + 1], b = in[3 * x + 2];
    }
    const unsigned v = ((r & 31) << 11) | ((g & 63) << 5) | (b & 31);
    out[2 * x] = static_cast<unsigned char>(v & 0xFF);
    out[2 * x + 1] = static_cast<unsigned char>(v >> 8);
  }
}
}  // namespace

long CImgFilePng::ReadScanLine(long, CImgScanLine& line) {
  if (!m_pPng || !m_nReading || !m_bLoaded || m_nRowsDone >= m_dwHeight) return -1;
  if (m_nInterlace != PNG_INTERLACE_NONE && m_Image.empty() && !DecodeInterlaced()) {
    m_bLoaded = false;  // libpng's state is spent
    return -1;
  }
  line.SetSize(static_cast<int>(m_dwWidthBytes));
  unsigned char* out = line.GetData();
  if (!m_Image.empty()) {
    const unsigned char* row = m_Image.data() + size_t(m_nRowsDone) * m_nLibRowBytes;
    if (m_bPack565)
      Pack565(row, out, m_dwWidth, m_nBitDepth);
    else
      std::memcpy(out, row, m_nLibRowBytes);
    if (m_nSwapStep) SwapRedBlue(out, m_dwWidth, m_nSwapStep);
  } else {
    const bool ok = [&] {
      PNG_GUARD(false);
      png_read_row(m_pPng, m_bPack565 ? m_Row.data() : out, nullptr);
      PNG_UNGUARD();
      return true;
    }();
    if (!ok) {
      m_bLoaded = false;
      return -1;
    }
    if (m_bPack565) Pack565(m_Row.data(), out, m_dwWidth, m_nBitDepth);
    if (m_nSwapStep) SwapRedBlue(out, m_dwWidth, m_nSwapStep);
  }
  ++m_nRowsDone;
  return line.GetSize();
}

long CImgFilePng::WriteHeader(int depth, int colorType, const png_color_8& bits) {
  png_text texts[3];
  std::memset(texts, 0, sizeof texts);
  texts[0].compression = PNG_TEXT_COMPRESSION_NONE;
  texts[0].key = const_cast<char*>("Title");
  texts[0].text = const_cast<char*>("Veltram");
  texts[1].compression = PNG_TEXT_COMPRESSION_NONE;
  texts[1].key = const_cast<char*>("Author");
  texts[1].text = const_cast<char*>(kAuthor);
  texts[2].compression = PNG_TEXT_COMPRESSION_zTXt;
  texts[2].key = const_cast<char*>("Description");
  texts[2].text = const_cast<char*>("A png file out put by Veltram.");

  PNG_GUARD(-1);
  png_set_IHDR(m_pPng, m_pInfo, m_dwWidth, m_dwHeight, depth, colorType, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (!m_PaletteBuffer.empty())
    png_set_PLTE(m_pPng, m_pInfo, reinterpret_cast<png_colorp>(m_PaletteBuffer.data()),
                 static_cast<int>(m_PaletteBuffer.size() / 3));
  if (bits.red || bits.gray) png_set_sBIT(m_pPng, m_pInfo, const_cast<png_color_8*>(&bits));
  png_set_text(m_pPng, m_pInfo, texts, 3);
  png_set_compression_level(m_pPng, 2);
  png_write_info(m_pPng, m_pInfo);
  // 16-bit rows are handed over as 5-, 6- and 5-bit samples; libpng scales
  // them to the full 16 bits.
  if (m_PixelFormat == PF_BIT16) png_set_shift(m_pPng, const_cast<png_color_8*>(&bits));
  PNG_UNGUARD();
  return 1;
}

long CImgFilePng::SaveImage() {
  if (!m_pPng || m_nReading || m_bHeaderWritten) return -1;
  int depth = 8, colorType = PNG_COLOR_TYPE_GRAY;
  png_color_8 bits{};
  int paletteEntries = 0;
  switch (m_PixelFormat) {
    case PF_BIT1:
    case PF_BIT4:
      depth = m_PixelFormat == PF_BIT1 ? 1 : 4;
      colorType = PNG_COLOR_TYPE_PALETTE;
      paletteEntries = 1 << depth;
      break;
    case PF_BIT8:
      if (m_Palette.GetSize() == 256) {
        colorType = PNG_COLOR_TYPE_PALETTE;
        paletteEntries = 256;
      } else {
        bits.gray = 8;
      }
      break;
    case PF_BIT16:
      depth = 16;
      colorType = PNG_COLOR_TYPE_RGB;
      bits.red = 5, bits.green = 6, bits.blue = 5;
      break;
    case PF_BIT24:
      colorType = PNG_COLOR_TYPE_RGB;
      bits.red = bits.green = bits.blue = 8;
      break;
    case PF_BIT32:
      colorType = PNG_COLOR_TYPE_RGB_ALPHA;
      bits.red = bits.green = bits.blue = bits.alpha = 8;
      break;
    default:
      RecordError("pixel format cannot be written");
      return -1;
  }
  // PLTE: the palette's colours (red, green, blue), at most as many as the
  // depth can index; without a palette, a grey ramp over the full range.
  m_PaletteBuffer.clear();
  if (paletteEntries) {
    const int given = std::min(paletteEntries, m_Palette.GetSize());
    const int count = given > 0 ? given : paletteEntries;
    for (int k = 0; k < count; ++k) {
      if (given > 0) {
        const PALETTEENTRY& e = m_Palette[k];
        m_PaletteBuffer.insert(m_PaletteBuffer.end(), {e.peRed, e.peGreen, e.peBlue});
      } else {
        const unsigned char v = static_cast<unsigned char>(k * 255 / (count - 1));
        m_PaletteBuffer.insert(m_PaletteBuffer.end(), {v, v, v});
      }
    }
  }
  m_nLibRowBytes = static_cast<size_t>(
      m_PixelFormat == PF_BIT16 ? uint64_t(m_dwWidth) * 6 : CVtImgToolkit::AlignWidthByte(m_PixelFormat, static_cast<long>(m_dwWidth)));
  try {
    m_Row.assign(m_PixelFormat == PF_BIT16 ? m_nLibRowBytes : 0, 0);
  } catch (const std::bad_alloc&) {
    RecordError("out of memory");
    return -1;
  }
  if (WriteHeader(depth, colorType, bits) < 0) return -1;
  // Images of a megabyte or more are deflated here, in pieces; 16-bit ones,
  // whose samples libpng scales, and small ones by libpng.
  const uint64_t imageBytes = uint64_t(m_nLibRowBytes) * m_dwHeight;
  m_bOwnStream = m_PixelFormat != PF_BIT16 && imageBytes >= kOwnStreamBytes;
  if (m_bOwnStream) {
    m_nPixelBytes = std::max<size_t>(1, static_cast<size_t>(depth) * (colorType == PNG_COLOR_TYPE_RGB ? 3 : colorType == PNG_COLOR_TYPE_RGB_ALPHA ? 4 : 1) / 8);
    // libpng's choice too: indexed and sub-byte rows are not filtered.
    m_bFilterRows = colorType != PNG_COLOR_TYPE_PALETTE && depth >= 8;
    m_nPieceRows = static_cast<size_t>(std::max<uint64_t>(1, kPieceBytes / (m_nLibRowBytes + 1)));
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    m_nWorkers = m_nThreads > 0 ? m_nThreads : static_cast<int>(std::min(cores, 64u));
    m_nBatchPieces = static_cast<size_t>(m_nWorkers) * 4;
    m_bStreamStarted = false;
    m_nAdler = 1;
    m_Held.clear();
    m_PrevRow.clear();
    m_Window.clear();
  }
  SetWidthBytes(static_cast<unsigned long>(CVtImgToolkit::AlignWidthByte(m_PixelFormat, static_cast<long>(m_dwWidth))));
  m_bHeaderWritten = true;
  m_nRowsDone = 0;
  return 1;
}

long CImgFilePng::WriteRowBytes(const unsigned char* bytes) {
  PNG_GUARD(-1);
  png_write_row(m_pPng, const_cast<png_bytep>(bytes));
  PNG_UNGUARD();
  return 1;
}

long CImgFilePng::WriteScanLine(long row, CImgScanLine& line) {
  if (!m_pPng || m_nReading || !m_bHeaderWritten) return -1;
  if (row != static_cast<long>(m_nRowsDone) || m_nRowsDone >= m_dwHeight) return -1;
  const uint64_t need = CVtImgToolkit::AlignWidthByte(m_PixelFormat, static_cast<long>(m_dwWidth));
  if (static_cast<uint64_t>(line.GetSize()) < need) return -1;
  const unsigned char* bytes = line.GetData();
  if (m_PixelFormat == PF_BIT16) {
    // 5-6-5 pixels in machine order become three big-endian 16-bit samples.
    unsigned char* out = m_Row.data();
    for (uint32_t x = 0; x < m_dwWidth; ++x) {
      const unsigned v = bytes[2 * x] | (bytes[2 * x + 1] << 8);
      const unsigned samples[3] = {v >> 11, (v >> 5) & 63, v & 31};
      for (int c = 0; c < 3; ++c) {
        out[6 * x + 2 * c] = 0;
        out[6 * x + 2 * c + 1] = static_cast<unsigned char>(samples[c]);
      }
    }
    bytes = out;
  }
  if (m_bOwnStream) {
    m_Held.insert(m_Held.end(), bytes, bytes + m_nLibRowBytes);
    ++m_nRowsDone;
    const bool last = m_nRowsDone == m_dwHeight;
    if ((m_Held.size() / m_nLibRowBytes < m_nPieceRows * m_nBatchPieces && !last) || WriteHeldRows(last))
      return line.GetSize();
    --m_nRowsDone;  // the image cannot be completed
    return -1;
  }
  if (WriteRowBytes(bytes) < 0) return -1;
  ++m_nRowsDone;
  return line.GetSize();
}

bool CImgFilePng::WriteChunk(const char* name, const unsigned char* data, size_t length) {
  PNG_GUARD(false);
  png_write_chunk(m_pPng, reinterpret_cast<png_const_bytep>(name), data, length);
  PNG_UNGUARD();
  return true;
}

bool CImgFilePng::WriteHeldRows(bool last) {
  const size_t rowBytes = m_nLibRowBytes, lineBytes = rowBytes + 1;
  const size_t rows = m_Held.size() / rowBytes;
  const size_t pieces = (rows + m_nPieceRows - 1) / m_nPieceRows;
  std::vector<std::vector<unsigned char>> filtered(pieces), packed(pieces);
  std::vector<uint32_t> sums(pieces, 1);
  std::vector<char> done(pieces, 0);
  const std::vector<unsigned char> zeros(m_PrevRow.empty() ? rowBytes : 0, 0);
  const unsigned char* before = m_PrevRow.empty() ? zeros.data() : m_PrevRow.data();

  // First every piece's rows are filtered, then every piece is deflated with
  // the filtered bytes before it as its dictionary: both steps give the same
  // bytes on any thread.
  auto filter = [&](size_t k) {
    const size_t first = k * m_nPieceRows, count = std::min(m_nPieceRows, rows - first);
    std::vector<unsigned char>& out = filtered[k];
    out.resize(count * lineBytes);
    std::vector<unsigned char> trial;
    for (size_t r = 0; r < count; ++r) {
      const size_t row = first + r;
      const unsigned char* cur = m_Held.data() + row * rowBytes;
      const unsigned char* up = row == 0 ? before : cur - rowBytes;
      FilterRow(cur, up, rowBytes, m_nPixelBytes, m_bFilterRows, out.data() + r * lineBytes, trial);
    }
    sums[k] = static_cast<uint32_t>(adler32(1, out.data(), static_cast<uInt>(out.size())));
  };
  auto deflatePiece = [&](size_t k) {
    const std::vector<unsigned char>& in = filtered[k];
    const unsigned char* dict = k == 0 ? m_Window.data() : filtered[k - 1].data();
    const size_t dictSize = k == 0 ? m_Window.size() : filtered[k - 1].size();
    const size_t use = std::min<size_t>(dictSize, kWindowBytes);
    done[k] = DeflatePiece(in, dict + dictSize - use, use, last && k + 1 == pieces, packed[k]);
  };
  RunPieces(pieces, m_nWorkers, filter);
  RunPieces(pieces, m_nWorkers, deflatePiece);

  for (size_t k = 0; k < pieces; ++k) {
    if (!done[k]) {
      RecordError("image data could not be compressed");
      return false;
    }
    std::vector<unsigned char>& data = packed[k];
    if (!m_bStreamStarted) {
      // The zlib header: deflate with a 32 KiB window; level 2 is "fast".
      const unsigned char head[2] = {0x78, 0x5E};
      data.insert(data.begin(), head, head + 2);
      m_bStreamStarted = true;
    }
    m_nAdler = static_cast<uint32_t>(adler32_combine(m_nAdler, sums[k], static_cast<z_off_t>(filtered[k].size())));
    if (last && k + 1 == pieces)
      for (int shift = 24; shift >= 0; shift -= 8) data.push_back(static_cast<unsigned char>(m_nAdler >> shift));
    if (!WriteChunk("IDAT", data.data(), data.size())) return false;
  }
  // What the next batch filters and looks back on.
  for (size_t k = 0; k < pieces; ++k) {
    m_Window.insert(m_Window.end(), filtered[k].begin(), filtered[k].end());
    if (m_Window.size() > kWindowBytes) m_Window.erase(m_Window.begin(), m_Window.end() - kWindowBytes);
  }
  m_PrevRow.assign(m_Held.end() - static_cast<std::ptrdiff_t>(rowBytes), m_Held.end());
  m_Held.clear();
  return true;
}

long CImgFilePng::EncodeBlock(CGeoImgBlock* block, std::vector<unsigned char>& stream) {
  Close();
  stream.clear();
  if (!block || !CreateWriter()) return 0;
  m_pStream = &stream;
  SetPixelFormat(block->m_PixelFormat);
  SetHeight(static_cast<unsigned long>(std::max<long>(block->m_nHeight, 0)));
  SetWidth(static_cast<unsigned long>(std::max<long>(block->m_nWidth, 0)));
  SetWidthBytes(static_cast<unsigned long>(CVtImgToolkit::AlignWidth(m_PixelFormat, block->m_nWidth)));
  {
    PNG_GUARD(0);
    png_set_write_fn(m_pPng, this, &PngCallbacks::WriteMemory, &PngCallbacks::FlushMemory);
    PNG_UNGUARD();
  }
  if (SaveImage() < 0) {
    Abort();
    stream.clear();
    return -2;
  }
  CImgScanLine line(m_PixelFormat, static_cast<long>(GetWidthBytes()) + 4);
  for (long i = 0; i < static_cast<long>(m_dwHeight); ++i) {
    if (!block->GetScanLine(i, line, 0, 0) || WriteScanLine(i, line) < 0) {
      Abort();
      stream.clear();
      return 0;
    }
  }
  Close();
  if (!m_bWriteComplete) {
    stream.clear();
    return 0;
  }
  return static_cast<long>(stream.size());
}

long CImgFilePng::OutputBlock(unsigned char* target, CGeoImgBlock* block) {
  std::vector<unsigned char> stream;
  const long length = EncodeBlock(block, stream);
  if (length > 0 && target) std::memcpy(target, stream.data(), stream.size());
  return length;
}

long CImgFilePng::OutputDirect(CString path, CDC* dc, CBitmap* bitmap, ImgPixelFormat format, CRect2D) {
  if (!OpenForWrite(path)) return -1;
  BITMAP info{};
  DeviceBitmapInfo dib;
  if (!DescribeDeviceBitmap(dc, bitmap, format, info, dib)) {
    Abort();
    return -1;
  }
  BITMAPINFO* bmi = dib.Info();
  HBITMAP handle = *bitmap;
  // The device's colour table (blue, green, red) becomes the palette (red, green, blue).
  const int entries = CVtImgToolkit::PaletteSize(format);
  m_Palette.SetSize(entries);
  for (int k = 0; k < entries; ++k)
    m_Palette[k] = PALETTEENTRY{dib.colors[k].rgbRed, dib.colors[k].rgbGreen, dib.colors[k].rgbBlue, 0};
  if (SaveImage() < 0) {
    Abort();
    return -2;
  }
  const long width = info.bmWidth;
  CImgScanLine line(format, CVtImgToolkit::AlignWidth(format, width) + 4);
  unsigned char* bytes = line.GetData();
  for (long k = 0; k < info.bmHeight; ++k) {
    // Device rows count from the bottom: the top one goes first.
    if (GetDIBits(dc->GetSafeHdc(), handle, static_cast<UINT>(info.bmHeight - 1 - k), 1, bytes, bmi,
                  DIB_RGB_COLORS) == 0) {
      Abort();
      return -1;
    }
    if (format == PF_BIT24) {
      for (long x = 0; x < width; ++x) std::swap(bytes[3 * x], bytes[3 * x + 2]);
    } else if (format == PF_BIT32) {
      // The device's fourth byte is not alpha: the picture is opaque.
      for (long x = 0; x < width; ++x) {
        std::swap(bytes[4 * x], bytes[4 * x + 2]);
        bytes[4 * x + 3] = 255;
      }
    } else if (format == PF_BIT16) {
      // The device gives 5-5-5 pixels; the file holds 5-6-5.
      for (long x = 0; x < width; ++x) {
        const unsigned v = bytes[2 * x] | (bytes[2 * x + 1] << 8);
        const unsigned g5 = (v >> 5) & 31;
        const unsigned w = ((v >> 10) & 31) << 11 | ((g5 << 1) | (g5 >> 4)) << 5 | (v & 31);
        bytes[2 * x] = static_cast<unsigned char>(w & 0xFF);
        bytes[2 * x + 1] = static_cast<unsigned char>(w >> 8);
      }
    }
    if (WriteScanLine(k, line) < 0) {
      Abort();
      return -1;
    }
  }
  Close();
  return m_bWriteComplete ? 1 : -1;
}
