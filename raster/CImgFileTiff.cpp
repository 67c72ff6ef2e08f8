#include "raster/CImgFileTiff.h"

#include <geo_normalize.h>
#include <geotiff.h>
#include <geovalues.h>
#include <proj.h>
#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>
#include <xtiffio.h>

#include <libdeflate.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/vtcore/CVtErrorMsg.h"
#include "platform/vtcore/CVtImgToolkit.h"

namespace {

// The most a single strip or tile may decode to per byte of file: beyond
// deflate's and LZW's best ratios on flat data, far below what a forged
// header would need to make us allocate gigabytes from a small file.
const uint64_t kMaxExpansion = 4096;
// No strip, tile or band of tiles is ever larger than this.
const uint64_t kMaxUnitBytes = uint64_t(1) << 30;
// libtiff's own allocations are capped at this.
const tmsize_t kLibTiffAllocLimit = tmsize_t(1) << 30;
// Bytes of rows in a strip of a compressed file being written.
const uint64_t kWriteStripBytes = 64 * 1024;
// Images smaller than this are compressed or decoded on the calling thread
// alone.
const uint64_t kThreadedImageBytes = 1 << 20;
// Strips decoded ahead are grouped into runs of about this many bytes, so
// that a worker takes a useful piece of work at a time.
const uint64_t kAheadRunBytes = 256 * 1024;
// The units decoded ahead take no more than this, or two units.
const uint64_t kAheadBytes = uint64_t(256) << 20;

// Stores each sample of `rows` rows of `count` samples of `bytes` bytes,
// `stride` samples a pixel, as its difference from the sample of the same
// kind to its left, in machine order, as the TIFF horizontal predictor does.
template <typename T>
void DifferenceRows(unsigned char* rows, size_t rowCount, size_t count, size_t stride) {
  for (size_t r = 0; r < rowCount; ++r) {
    unsigned char* row = rows + r * count * sizeof(T);
    for (size_t i = count; i-- > stride;) {
      T v, left;
      std::memcpy(&v, row + i * sizeof(T), sizeof(T));
      std::memcpy(&left, row + (i - stride) * sizeof(T), sizeof(T));
      v = static_cast<T>(v - left);
      std::memcpy(row + i * sizeof(T), &v, sizeof(T));
    }
  }
}

void Record(const char* kind, const char* module, const char* fmt, va_list ap) {
  char text[1024];
  std::vsnprintf(text, sizeof text, fmt, ap);
  CString message;
  if (module && *module)
    message.Format("TIFF %s: %s: %s", kind, module, text);
  else
    message.Format("TIFF %s: %s", kind, text);
  VtGetErrorMsgObj()->SetMessage(0L, message);
}

int OnError(TIFF*, void*, const char* module, const char* fmt, va_list ap) {
  Record("error", module, fmt, ap);
  return 1;  // handled: libtiff's default handler stays silent
}

int OnWarning(TIFF*, void*, const char* module, const char* fmt, va_list ap) {
  Record("warning", module, fmt, ap);
  return 1;
}

void OnGeoTiffError(GTIF*, int level, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  Record(level == LIBGEOTIFF_WARNING ? "warning" : "error", "GeoTIFF", fmt, ap);
  va_end(ap);
}

void OnProjMessage(void*, int level, const char* text) {
  if (level > PJ_LOG_ERROR) return;  // debugging chatter
  CString message;
  message.Format("GeoTIFF coordinate database: %s", text ? text : "");
  VtGetErrorMsgObj()->SetMessage(0L, message);
}

// Opens `path` with `mode`, the GeoTIFF tags registered, messages routed to
// the error-message object and libtiff's allocations capped.
TIFF* OpenTiff(const char* path, const char* mode) {
  static const bool registered = [] {
    XTIFFInitialize();
    return true;
  }();
  (void)registered;
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (!options) return nullptr;
  TIFFOpenOptionsSetErrorHandlerExtR(options, OnError, nullptr);
  TIFFOpenOptionsSetWarningHandlerExtR(options, OnWarning, nullptr);
  TIFFOpenOptionsSetMaxSingleMemAlloc(options, kLibTiffAllocLimit);
  TIFF* tif = TIFFOpenExt(path, mode, options);
  TIFFOpenOptionsFree(options);
  return tif;
}

// A GeoTIFF key handle whose messages, and those of the coordinate
// database behind it, are routed like libtiff's.
GTIF* NewGeoTiff(TIFF* tif) {
  GTIF* gt = GTIFNewEx(tif, OnGeoTiffError, nullptr);
  if (!gt) return nullptr;
  if (PJ_CONTEXT* ctx = static_cast<PJ_CONTEXT*>(GTIFGetPROJContext(gt, TRUE, nullptr)))
    proj_log_func(ctx, nullptr, OnProjMessage);
  return gt;
}

// Closes a file without writing anything more to it.
void DiscardTiff(TIFF* tif) {
  const int fd = TIFFFileno(tif);
  TIFFCleanup(tif);
  if (fd >= 0) ::close(fd);
}

uint64_t FileSize(const char* path) {
  struct stat st;
  return ::stat(path, &st) == 0 && st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

uint16_t Field16(TIFF* tif, ttag_t tag, uint16_t fallback) {
  uint16_t v = 0;
  return TIFFGetField(tif, tag, &v) == 1 ? v : fallback;
}

uint32_t Field32(TIFF* tif, ttag_t tag, uint32_t fallback) {
  uint32_t v = 0;
  return TIFFGetField(tif, tag, &v) == 1 ? v : fallback;
}

// JPEG-compressed YCbCr is delivered as RGB, as every reader shows it.
void DeliverJpegAsRgb(TIFF* tif) {
  if (Field16(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE) == COMPRESSION_JPEG &&
      Field16(tif, TIFFTAG_PHOTOMETRIC, 0) == PHOTOMETRIC_YCBCR)
    TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
}

// Where the open file's image lies in its model space, as GDAL reads it:
// from the pixel scale and tie point, else from a model transformation. The
// affine transform `gt` maps the corner of pixel (i, j) to
// (gt[0] + i gt[1] + j gt[2], gt[3] + i gt[4] + j gt[5]). A raster whose
// GTRasterTypeGeoKey says PixelIsPoint places the centre of its first pixel
// there, so its corner lies half a pixel up and left.
enum class Placement { kNone, kPlaced, kRotated };
Placement ModelTransform(TIFF* tif, GTIF* gtif, double gt[6]) {
  uint16_t tieCount = 0, scaleCount = 0, matrixCount = 0;
  double* tie = nullptr;
  double* scale = nullptr;
  double* matrix = nullptr;
  if (TIFFGetField(tif, TIFFTAG_GEOPIXELSCALE, &scaleCount, &scale) == 1 && scale && scaleCount >= 2 &&
      scale[0] != 0 && scale[1] != 0) {
    if (TIFFGetField(tif, TIFFTAG_GEOTIEPOINTS, &tieCount, &tie) != 1 || !tie || tieCount < 6)
      return Placement::kNone;
    gt[1] = scale[0];
    gt[2] = 0;
    gt[4] = 0;
    gt[5] = -scale[1];
    gt[0] = tie[3] - tie[0] * gt[1];
    gt[3] = tie[4] - tie[1] * gt[5];
  } else if (TIFFGetField(tif, TIFFTAG_GEOTRANSMATRIX, &matrixCount, &matrix) == 1 && matrix &&
             matrixCount == 16) {
    gt[0] = matrix[3];
    gt[1] = matrix[0];
    gt[2] = matrix[1];
    gt[3] = matrix[7];
    gt[4] = matrix[4];
    gt[5] = matrix[5];
  } else {
    return Placement::kNone;
  }
  unsigned short rasterType = RasterPixelIsArea;
  if (gtif && GTIFKeyGet(gtif, GTRasterTypeGeoKey, &rasterType, 0, 1) == 1 &&
      rasterType == RasterPixelIsPoint) {
    gt[0] -= (gt[1] + gt[2]) * 0.5;
    gt[3] -= (gt[4] + gt[5]) * 0.5;
  }
  return gt[2] != 0 || gt[4] != 0 ? Placement::kRotated : Placement::kPlaced;
}

// Keeps the coordinate database's default context quiet while it lives.
// That context is the process's: threads quiet it together, the first
// saving its level and the last putting it back, so that one thread never
// restores the level over another's lookup nor leaves it silenced.
class QuietDefaultContext {
 public:
  QuietDefaultContext() {
    std::lock_guard<std::mutex> guard(lock_);
    if (users_++ == 0) saved_ = proj_log_level(nullptr, PJ_LOG_NONE);
  }
  ~QuietDefaultContext() {
    std::lock_guard<std::mutex> guard(lock_);
    if (--users_ == 0) proj_log_level(nullptr, saved_);
  }
  QuietDefaultContext(const QuietDefaultContext&) = delete;
  QuietDefaultContext& operator=(const QuietDefaultContext&) = delete;

 private:
  static inline std::mutex lock_;
  static inline int users_ = 0;
  static inline PJ_LOG_LEVEL saved_ = PJ_LOG_ERROR;
};

// Tenths of a millimetre per linear unit of the file's GeoTIFF definition.
// Files with tags but no usable keys are taken to be in metres.
long DefinitionFactor(GTIF* gt) {
  GTIFDefn defn;
  std::memset(&defn, 0, sizeof defn);
  int code = Linear_Meter;
  double metres = 1.0;
  // Some lookups of the definition make coordinate-database contexts of
  // their own, which start from the default context's settings: the
  // default context stays quiet while they run.
  int got = 0;
  {
    QuietDefaultContext quiet;
    got = gt ? GTIFGetDefn(gt, &defn) : 0;
  }
  if (got && defn.DefnSet) {
    code = defn.UOMLength;
    metres = defn.UOMLengthInMeters;
  }
  return CImgFileTiff::UnitFactor(code, metres);
}

// The GeoTIFF tags the current directory lists that libtiff could not read:
// in a file cut inside them libtiff drops such a tag with a warning, and a
// definition taken from what is left would give the image the default unit
// and no system. Names them, comma-separated; empty when all were read.
std::string UnreadGeoTags(TIFF* tif) {
  const int fd = TIFFFileno(tif);
  const uint64_t at = TIFFCurrentDirOffset(tif);
  if (fd < 0 || at == 0) return std::string();
  const bool big = TIFFIsBigTIFF(tif) != 0, swap = TIFFIsByteSwapped(tif) != 0;
  const auto value = [swap](const unsigned char* p, int bytes) {
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= uint64_t(p[swap ? bytes - 1 - i : i]) << (8 * i);
    return v;
  };
  unsigned char head[8];
  const int countBytes = big ? 8 : 2, entryBytes = big ? 20 : 12;
  if (::pread(fd, head, countBytes, static_cast<off_t>(at)) != countBytes) return std::string();
  // A directory libtiff has read lies whole in the file; its entry count is
  // bounded by what libtiff accepts.
  const uint64_t entries = std::min<uint64_t>(value(head, countBytes), 65535);
  std::vector<unsigned char> dir(static_cast<size_t>(entries) * entryBytes);
  if (::pread(fd, dir.data(), dir.size(), static_cast<off_t>(at + countBytes)) != static_cast<ssize_t>(dir.size()))
    return std::string();
  static const struct {
    uint16_t tag;
    const char* name;
  } kGeoTags[] = {{TIFFTAG_GEOKEYDIRECTORY, "GeoKeyDirectory"},
                  {TIFFTAG_GEODOUBLEPARAMS, "GeoDoubleParams"},
                  {TIFFTAG_GEOASCIIPARAMS, "GeoAsciiParams"}};
  std::string unread;
  for (uint64_t e = 0; e < entries; ++e) {
    const uint16_t tag = static_cast<uint16_t>(value(&dir[static_cast<size_t>(e) * entryBytes], 2));
    for (const auto& g : kGeoTags) {
      if (tag != g.tag) continue;
      uint16_t count = 0;
      void* data = nullptr;
      const int got = tag == TIFFTAG_GEOASCIIPARAMS ? TIFFGetField(tif, tag, &data)
                                                    : TIFFGetField(tif, tag, &count, &data);
      if (got != 1 || !data) unread += (unread.empty() ? "" : ", ") + std::string(g.name);
    }
  }
  return unread;
}

void Corners(const double gt[6], uint32_t width, uint32_t height, CRect2D& b) {
  b.left = gt[0];
  b.top = gt[3];
  b.right = gt[0] + width * gt[1];
  b.bottom = gt[3] + height * gt[5];
}

void Scale(CRect2D& b, double f) {
  b.left *= f;
  b.top *= f;
  b.right *= f;
  b.bottom *= f;
}

// Row `y` of a band of `across` decoded tiles of `tileSize` bytes, whose
// rows are `tileRowBytes` long, into `out` of `lineBytes`: the last tile
// column gives only the part of its row inside the image.
void CopyTileRow(const unsigned char* band, size_t across, size_t tileSize, size_t tileRowBytes, size_t y,
                 size_t lineBytes, unsigned char* out) {
  size_t done = 0;
  for (size_t i = 0; i < across && done < lineBytes; ++i) {
    const size_t n = std::min(tileRowBytes, lineBytes - done);
    std::memcpy(out + done, band + i * tileSize + y * tileRowBytes, n);
    done += n;
  }
}

long Refuse(const CString& path, const char* why) {
  CString text;
  text.Format("TIFF file \"%s\": %s", static_cast<const char*>(path), why);
  VtGetErrorMsgObj()->SetMessage(0L, text);
  return -1;
}

// One thread running `work(resource)` for each resource but the last, which
// stays the caller's, as many as can be started; the caller checks how
// many there are.
template <class Resource, class Work>
void StartThreads(const std::vector<Resource>& resources, std::vector<std::thread>& threads, Work work) {
  for (size_t i = 0; i + 1 < resources.size(); ++i) {
    const Resource resource = resources[i];
    try {
      threads.emplace_back([work, resource] { work(resource); });
    } catch (const std::system_error&) {
      return;  // the threads there are do the work
    }
  }
}

// Sets `stop` under `lock`, wakes every thread waiting on `wake` and waits
// for them all to end.
void StopThreads(std::mutex& lock, bool& stop, std::condition_variable& wake, std::vector<std::thread>& threads) {
  {
    std::lock_guard<std::mutex> hold(lock);
    stop = true;
  }
  wake.notify_all();
  for (std::thread& t : threads) t.join();
  threads.clear();
}

}  // namespace

// Decodes the rows a reader is about to take on worker threads, each worker
// through a libtiff handle of its own on the file, so that every codec
// libtiff knows (and its predictor) decodes as on the calling thread. Rows
// are grouped into units: a run of strips, or one row of tiles, with every
// sample plane of those rows. A job is one plane of a stripped unit or one
// tile; jobs are taken in order, and only for the `window` units from the one
// the reader holds, so memory stays at `window` units.
class CImgFileTiff::DecodeAhead {
 public:
  struct Plan {
    bool tiled = false;
    uint32_t height = 0;
    uint64_t lineBytes = 0;  // one row of one plane
    uint32_t planes = 1;
    uint32_t unitRows = 0;    // rows of a unit (a multiple of the strip or tile rows)
    uint64_t planeBytes = 0;  // one plane of a unit
    // Stripped files.
    uint32_t rowsPerStrip = 0;
    uint32_t stripsPerPlane = 0;
    // Tiled files.
    uint32_t across = 0;  // tiles across the image
    uint32_t tileWidth = 0;
    uint64_t tileBytes = 0;
    uint32_t window = 2;
  };

  // Takes the handles: the last is the caller's, on which it decodes jobs
  // itself while it waits (so that the reader's own handle keeps its
  // place), the others one a worker. `started` is false when no worker could
  // be started; the object is then of no use.
  DecodeAhead(const Plan& plan, std::vector<TIFF*> handles, bool& started)
      : plan_(plan), handles_(std::move(handles)), own_(handles_.back()) {
    units_ = (uint64_t(plan_.height) + plan_.unitRows - 1) / plan_.unitRows;
    partsPerPlane_ = plan_.tiled ? plan_.across : 1;
    parts_ = uint64_t(partsPerPlane_) * plan_.planes;
    jobs_ = units_ * parts_;
    slots_.resize(plan_.window);
    // Every byte of a slot is decoded into before it is read.
    for (Slot& slot : slots_) slot.bytes.reset(new unsigned char[static_cast<size_t>(plan_.planeBytes * plan_.planes)]);
    StartThreads(handles_, threads_, [this](TIFF* tif) { Work(tif); });
    started = !threads_.empty();
  }

  ~DecodeAhead() {
    StopThreads(lock_, stop_, wakeWorkers_, threads_);
    for (TIFF* tif : handles_) TIFFClose(tif);
  }

  DecodeAhead(const DecodeAhead&) = delete;
  DecodeAhead& operator=(const DecodeAhead&) = delete;

  uint32_t UnitRows() const { return plan_.unitRows; }
  int Threads() const { return static_cast<int>(threads_.size()); }

  // The decoded bytes of unit `unit`, plane after plane, valid until the
  // next call; units before it are given up. Null when `unit` lies behind
  // the last one asked for or could not be decoded whole.
  const unsigned char* Unit(uint64_t unit) {
    std::unique_lock<std::mutex> hold(lock_);
    if (unit < base_ || unit >= units_) return nullptr;
    if (unit > base_) {
      // The window moves on: the jobs of units passed over are skipped, and
      // workers may take those the window now takes in.
      base_ = unit;
      nextJob_ = std::max(nextJob_, unit * parts_);
      wakeWorkers_.notify_all();
    }
    Slot& slot = slots_[unit % plan_.window];
    // While the unit is not complete the caller decodes the next job itself,
    // or waits when none may be taken.
    while (slot.unit != static_cast<int64_t>(unit) || slot.pending != 0) {
      if (!Takeable()) {
        done_.wait(hold);
        continue;
      }
      const uint64_t job = nextJob_;
      Slot* into = Take();
      hold.unlock();
      const bool ok = Decode(own_, job / parts_, job % parts_, into->bytes.get());
      hold.lock();
      Finish(into, ok);
    }
    return slot.failed ? nullptr : slot.bytes.get();
  }

 private:
  struct Slot {
    std::unique_ptr<unsigned char[]> bytes;
    int64_t unit = -1;
    uint64_t pending = 0;  // jobs of the unit not yet done
    uint64_t inHand = 0;   // jobs being decoded into it
    bool failed = false;
  };

  // True when the next job may be taken: its unit lies in the window, and a
  // unit's first job waits until no job of the unit its slot held before
  // (passed over by the reader) is still being decoded into it.
  bool Takeable() const {
    if (nextJob_ >= jobs_) return false;
    const uint64_t unit = nextJob_ / parts_;
    return unit < base_ + plan_.window && (nextJob_ % parts_ != 0 || slots_[unit % plan_.window].inHand == 0);
  }

  // Takes the next job (under the lock) and gives the slot it decodes into.
  Slot* Take() {
    const uint64_t job = nextJob_++;
    Slot* slot = &slots_[(job / parts_) % plan_.window];
    if (job % parts_ == 0) {
      slot->unit = static_cast<int64_t>(job / parts_);
      slot->pending = parts_;
      slot->failed = false;
    }
    ++slot->inHand;
    return slot;
  }

  // Counts a job done (under the lock). Each job writes its own part of the
  // slot; the slot is handed over under the lock once all its parts are done.
  void Finish(Slot* slot, bool ok) {
    if (!ok) slot->failed = true;
    if (--slot->pending == 0) done_.notify_one();
    if (--slot->inHand == 0) wakeWorkers_.notify_all();
  }

  void Work(TIFF* tif) {
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
      wakeWorkers_.wait(hold, [&] { return stop_ || nextJob_ >= jobs_ || Takeable(); });
      if (stop_ || nextJob_ >= jobs_) return;
      const uint64_t job = nextJob_;
      Slot* slot = Take();
      hold.unlock();
      const bool ok = Decode(tif, job / parts_, job % parts_, slot->bytes.get());
      hold.lock();
      Finish(slot, ok);
    }
  }

  // Decodes part `part` of unit `unit` into its place in `to`: a whole run
  // of strips of one plane, or one tile. False unless every byte came.
  bool Decode(TIFF* tif, uint64_t unit, uint64_t part, unsigned char* to) const {
    const uint32_t plane = static_cast<uint32_t>(part / partsPerPlane_);
    const uint32_t firstRow = static_cast<uint32_t>(unit * plan_.unitRows);
    to += plane * plan_.planeBytes;
    if (plan_.tiled) {
      const uint32_t column = static_cast<uint32_t>(part % partsPerPlane_);
      const uint32_t tile = TIFFComputeTile(tif, column * plan_.tileWidth, firstRow, 0, static_cast<uint16_t>(plane));
      const tmsize_t size = static_cast<tmsize_t>(plan_.tileBytes);
      return TIFFReadEncodedTile(tif, tile, to + column * plan_.tileBytes, size) == size;
    }
    const uint32_t endRow = static_cast<uint32_t>(std::min<uint64_t>(plan_.height, uint64_t(firstRow) + plan_.unitRows));
    for (uint32_t row = firstRow; row < endRow; row += plan_.rowsPerStrip) {
      const uint32_t strip = plane * plan_.stripsPerPlane + row / plan_.rowsPerStrip;
      const uint32_t rows = std::min(plan_.rowsPerStrip, endRow - row);
      const tmsize_t size = static_cast<tmsize_t>(rows * plan_.lineBytes);
      if (TIFFReadEncodedStrip(tif, strip, to + (row - firstRow) * plan_.lineBytes, size) != size) return false;
    }
    return true;
  }

  const Plan plan_;
  std::vector<TIFF*> handles_;
  TIFF* const own_;
  uint64_t units_ = 0, parts_ = 1, jobs_ = 0;
  uint32_t partsPerPlane_ = 1;
  std::vector<Slot> slots_;
  std::mutex lock_;
  std::condition_variable wakeWorkers_;  // a job may be taken, or stop
  std::condition_variable done_;         // a unit is complete
  uint64_t nextJob_ = 0;                 // the next job to take
  uint64_t base_ = 0;                    // the unit the reader holds
  bool stop_ = false;
  std::vector<std::thread> threads_;
};

// Compresses the deflate strips of a file being written on worker threads
// while the caller goes on giving rows: the caller fills one strip at a
// time, hands it over, and writes the compressed strips out in order as
// they come back. At most `limit` strips are in hand at once.
class CImgFileTiff::DeflateAhead {
 public:
  struct Strip {
    std::vector<unsigned char> rows, out;
    size_t count = 0;  // rows held
    bool done = false, ok = false;
  };
  struct Form {
    size_t lineBytes = 0;
    uint16_t sampleBytes = 1, pixelSamples = 1, predictor = PREDICTOR_NONE;
    int level = 6;
  };

  // `workers` threads beside the caller's.
  DeflateAhead(const Form& form, int workers, bool& started)
      : form_(form), limit_(static_cast<size_t>(workers + 1) * 6) {
    for (int i = 0; i <= workers; ++i) {
      libdeflate_compressor* compressor = libdeflate_alloc_compressor(form_.level);
      if (!compressor) break;
      compressors_.push_back(compressor);
    }
    // The last compressor is the caller's: it compresses strips itself while
    // it waits for the oldest.
    StartThreads(compressors_, threads_, [this](libdeflate_compressor* compressor) { Work(compressor); });
    started = !threads_.empty();
  }

  ~DeflateAhead() {
    StopThreads(lock_, stop_, wakeWorkers_, threads_);
    for (libdeflate_compressor* compressor : compressors_) libdeflate_free_compressor(compressor);
  }

  DeflateAhead(const DeflateAhead&) = delete;
  DeflateAhead& operator=(const DeflateAhead&) = delete;

  // Adds a row to the strip being filled (on the caller's thread), taking
  // the buffers of a strip written before when there is one.
  void Add(const unsigned char* row) {
    if (!filling_) {
      {
        std::lock_guard<std::mutex> hold(lock_);
        if (!spare_.empty()) {
          filling_ = std::move(spare_.back());
          spare_.pop_back();
        }
      }
      if (!filling_) filling_ = std::make_unique<Strip>();
      filling_->count = 0;
      filling_->done = filling_->ok = false;
      filling_->rows.clear();
    }
    filling_->rows.insert(filling_->rows.end(), row, row + form_.lineBytes);
    ++filling_->count;
  }
  size_t Filled() const { return filling_ ? filling_->count : 0; }

  // Hands the strip being filled over to the workers.
  void Submit() {
    if (!filling_) return;
    {
      std::lock_guard<std::mutex> hold(lock_);
      queue_.push_back(std::move(filling_));
    }
    wakeWorkers_.notify_one();
  }

  bool Full() {
    std::lock_guard<std::mutex> hold(lock_);
    return queue_.size() >= limit_;
  }

  // The oldest strip handed over, once compressed; null when there is none,
  // or when it is not ready and `wait` is false.
  std::unique_ptr<Strip> Oldest(bool wait) {
    std::unique_lock<std::mutex> hold(lock_);
    if (queue_.empty()) return nullptr;
    if (!queue_.front()->done && !wait) return nullptr;
    while (!queue_.front()->done) {
      if (next_ >= taken_ + queue_.size()) {
        done_.wait(hold);
        continue;
      }
      // A strip no worker has taken: the caller compresses it.
      Strip* strip = queue_[static_cast<size_t>(next_++ - taken_)].get();
      hold.unlock();
      strip->ok = EncodeStrip(strip->rows.data(), strip->count, form_, compressors_.back(), strip->out);
      hold.lock();
      strip->done = true;
    }
    std::unique_ptr<Strip> strip = std::move(queue_.front());
    queue_.pop_front();
    ++taken_;
    return strip;
  }

  void Recycle(std::unique_ptr<Strip> strip) {
    std::lock_guard<std::mutex> hold(lock_);
    spare_.push_back(std::move(strip));
  }

 private:
  void Work(libdeflate_compressor* compressor) {
    for (;;) {
      Strip* strip = nullptr;
      {
        std::unique_lock<std::mutex> hold(lock_);
        wakeWorkers_.wait(hold, [&] { return stop_ || next_ < taken_ + queue_.size(); });
        if (stop_) return;
        strip = queue_[static_cast<size_t>(next_++ - taken_)].get();
      }
      strip->ok = EncodeStrip(strip->rows.data(), strip->count, form_, compressor, strip->out);
      {
        std::lock_guard<std::mutex> hold(lock_);
        strip->done = true;
      }
      done_.notify_one();
    }
  }

 public:
  // Applies the predictor to `count` rows at `rows` and compresses them
  // into `out` as one zlib stream. False when libdeflate gives nothing.
  static bool EncodeStrip(unsigned char* rows, size_t count, const Form& form, libdeflate_compressor* compressor,
                          std::vector<unsigned char>& out) {
    const size_t samples = form.lineBytes / std::max<size_t>(1, form.sampleBytes);
    if (form.predictor == PREDICTOR_HORIZONTAL) {
      switch (form.sampleBytes) {
        case 1: DifferenceRows<uint8_t>(rows, count, samples, form.pixelSamples); break;
        case 2: DifferenceRows<uint16_t>(rows, count, samples, form.pixelSamples); break;
        case 4: DifferenceRows<uint32_t>(rows, count, samples, form.pixelSamples); break;
        default: DifferenceRows<uint64_t>(rows, count, samples, form.pixelSamples); break;
      }
    }
    out.resize(libdeflate_zlib_compress_bound(compressor, count * form.lineBytes));
    const size_t size = libdeflate_zlib_compress(compressor, rows, count * form.lineBytes, out.data(), out.size());
    out.resize(size);
    return size > 0;
  }

 private:
  const Form form_;
  const size_t limit_;
  std::vector<libdeflate_compressor*> compressors_;
  std::mutex lock_;
  std::condition_variable wakeWorkers_;  // a strip was handed over, or stop
  std::condition_variable done_;         // a strip is compressed
  // Strips handed over and not yet taken back, oldest first; `taken_` have
  // been taken back before them, and strips up to `next_` are with workers.
  std::deque<std::unique_ptr<Strip>> queue_;
  uint64_t taken_ = 0, next_ = 0;
  std::vector<std::unique_ptr<Strip>> spare_;
  std::unique_ptr<Strip> filling_;  // the caller's alone
  bool stop_ = false;
  std::vector<std::thread> threads_;
};

CImgFileTiff::CImgFileTiff() = default;

CImgFileTiff::~CImgFileTiff() { Close(); }

uint16_t CImgFileTiff::UnpackedBits(long bits, long samples, long sampleFormat) {
  const bool unsignedSamples = sampleFormat != SAMPLEFORMAT_INT && sampleFormat != SAMPLEFORMAT_IEEEFP &&
                               sampleFormat != SAMPLEFORMAT_COMPLEXINT &&
                               sampleFormat != SAMPLEFORMAT_COMPLEXIEEEFP;
  if (!unsignedSamples || samples < 1 || samples > 4 || bits < 2 || bits > 15 || bits == 8) return 0;
  if (bits == 4 && samples == 1) return 0;  // packed indices or grey levels as they are
  return bits < 8 ? 8 : 16;
}

long CImgFileTiff::UnitFactor(int code, double metres) {
  switch (code) {
    case Linear_Meter:
      return 10000;
    case Linear_Foot:
    case Linear_Foot_US_Survey:
    case Linear_Foot_Indian:
      return 3048;
    case Linear_Link:  // Gunter's link, 0.201168 m
      return 2012;
    case Linear_Yard_Indian:  // 0.9143985 m
      return 9144;
    case Linear_Fathom:
      return 18288;
    case Linear_Mile_International_Nautical:  // 1852 m
      return 18520000;
    default: {
      const double f = metres * 10000.0;
      if (!(f >= 1.0) || f > static_cast<double>(LONG_MAX)) return 0;
      return static_cast<long>(f);
    }
  }
}

void CImgFileTiff::ReleaseTileBand() {
  m_pAhead.reset();
  m_bAheadOff = false;
  std::vector<unsigned char>().swap(m_TileBand);
  m_nBandRow = -1;
  for (StripCache& cache : m_StripCaches) {
    std::vector<unsigned char>().swap(cache.bytes);
    cache.strip = -1;
  }
  m_nLastRow = -1;
  std::vector<uint32_t>().swap(m_Rgba);
  m_nRgbaFirst = -1;
}

void CImgFileTiff::Close() {
  if (m_pGeoTiff) GTIFFree(m_pGeoTiff);
  m_pGeoTiff = nullptr;
  // Rows still held go into the file before it is closed.
  if (m_pTiff && m_bOwnStrips) WriteHeldStrips();
  m_pDeflate.reset();
  m_bOwnStrips = false;
  m_Held.clear();
  std::vector<std::vector<unsigned char>>().swap(m_Deflated);
  for (libdeflate_compressor* compressor : m_Compressors) libdeflate_free_compressor(compressor);
  m_Compressors.clear();
  if (m_pTiff) TIFFClose(m_pTiff);
  m_pTiff = nullptr;
  if (m_pTargetTiff) DiscardTiff(m_pTargetTiff);
  m_pTargetTiff = nullptr;
  ReleaseTileBand();
  CImgFile::Close();
}

void CImgFileTiff::Abort() {
  if (m_pGeoTiff) GTIFFree(m_pGeoTiff);
  m_pGeoTiff = nullptr;
  if (m_pTiff) DiscardTiff(m_pTiff);
  m_pTiff = nullptr;
  Close();
  CImgFile::Abort();
}

int CImgFileTiff::OpenForRead(CString path) {
  Close();
  m_strPath = path;
  m_pTiff = OpenTiff(path, "rm");
  if (m_pTiff) {
    m_bTiled = TIFFIsTiled(m_pTiff) ? 1 : 0;
    m_pGeoTiff = NewGeoTiff(m_pTiff);
  }
  if (!m_pTiff || !m_pGeoTiff) {
    Close();
    return 0;
  }
  m_nFileSize = FileSize(path);
  return 1;
}

int CImgFileTiff::OpenForWrite(CString path) {
  Close();
  m_pTiff = OpenTiff(path, "w+");
  if (m_pTiff) m_pGeoTiff = NewGeoTiff(m_pTiff);
  if (!m_pTiff || !m_pGeoTiff) {
    Close();
    return 0;
  }
  m_bTiled = 0;
  return 1;
}

bool CImgFileTiff::PlausibleUnitSize(uint64_t bytes) const {
  if (bytes == 0 || bytes > kMaxUnitBytes) return false;
  const uint64_t expansion = m_nCompression == COMPRESSION_NONE ? 1 : kMaxExpansion;
  return bytes <= m_nFileSize * expansion;
}

long CImgFileTiff::LoadImage() {
  if (!m_pTiff) return -1;
  ReleaseTileBand();
  const uint32_t width = Field32(m_pTiff, TIFFTAG_IMAGEWIDTH, 0);
  const uint32_t height = Field32(m_pTiff, TIFFTAG_IMAGELENGTH, 0);
  if (width == 0 || height == 0 || width > INT32_MAX || height > INT32_MAX)
    return Refuse(m_strPath, "the image has no pixels or is too large");
  const uint16_t bits = Field16(m_pTiff, TIFFTAG_BITSPERSAMPLE, 1);
  const uint16_t samples = Field16(m_pTiff, TIFFTAG_SAMPLESPERPIXEL, 1);
  const uint16_t photometric = Field16(m_pTiff, TIFFTAG_PHOTOMETRIC, 0xFFFF);
  DeliverJpegAsRgb(m_pTiff);
  m_nCompression = Field16(m_pTiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
  m_nRowsPerStrip = std::max<uint32_t>(1, Field32(m_pTiff, TIFFTAG_ROWSPERSTRIP, UINT32_MAX));

  const uint64_t lineSize = TIFFScanlineSize64(m_pTiff);
  if (lineSize == 0 || lineSize > INT32_MAX - 4) return Refuse(m_strPath, "the rows are too long");
  uint32_t tileWidth = 0, tileLength = 0;
  uint64_t tileSize = 0;
  if (m_bTiled) {
    tileWidth = Field32(m_pTiff, TIFFTAG_TILEWIDTH, 0);
    tileLength = Field32(m_pTiff, TIFFTAG_TILELENGTH, 0);
    tileSize = TIFFTileSize64(m_pTiff);
    if (tileWidth == 0 || tileLength == 0 || !PlausibleUnitSize(tileSize))
      return Refuse(m_strPath, "the tile size does not fit the file");
    // A band of tiles across the image is held while its rows are read.
    const uint64_t across = (uint64_t(width) + tileWidth - 1) / tileWidth;
    if (across * tileSize > kMaxUnitBytes) return Refuse(m_strPath, "a row of tiles is too large");
  } else if (!PlausibleUnitSize(lineSize)) {
    // Strips are decoded a row at a time into the caller's line, which is
    // sized from the row length.
    return Refuse(m_strPath, "the row length does not fit the file");
  }

  const uint64_t interleavedBytes = (uint64_t(bits) * samples * width + 7) >> 3;
  // Old-style JPEG is decoded through libtiff's RGBA reader, as GDAL does,
  // one strip at a time, into 8-bit red, green and blue.
  const bool rgba = m_nCompression == COMPRESSION_OJPEG;
  if (rgba && m_bTiled) return Refuse(m_strPath, "old-style JPEG in tiles is not read");
  if (rgba && !PlausibleUnitSize(uint64_t(width) * std::min(m_nRowsPerStrip, height) * 4))
    return Refuse(m_strPath, "a strip of old-style JPEG is too large");
  const bool interleaved = lineSize == interleavedBytes || rgba;
  ImgPixelFormat format;
  long widthBytes;
  uint16_t planes = 1;
  uint16_t unpackTo = 0;
  bool cmyk = false;
  if (interleaved) {
    const uint32_t total = uint32_t(bits) * samples;
    format = total <= 0xFFFF ? CVtImgToolkit::Bit2Format(static_cast<unsigned short>(total)) : PF_UNKNOWN;
    const uint16_t sampleFormat = Field16(m_pTiff, TIFFTAG_SAMPLEFORMAT, 4);
    // Unsigned samples of 2 to 15 bits that no pixel format packs come out
    // as GDAL gives them: 8-bit values up to 7 bits, else 16-bit ones.
    unpackTo = UnpackedBits(bits, samples, sampleFormat);
    if (unpackTo) format = CVtImgToolkit::Bit2Format(static_cast<unsigned short>(unpackTo * samples));
    cmyk = DeliversCmykAsRgb();
    if (cmyk || rgba) format = PF_BIT24;
    if (m_bGrid && format == PF_BIT32) format = sampleFormat == SAMPLEFORMAT_IEEEFP ? PF_FLOAT32 : PF_INT32;
    // Double-precision grids, which SaveImage writes, read back as such.
    if (m_bGrid && format == PF_BIT64 && samples == 1 && sampleFormat == SAMPLEFORMAT_IEEEFP) format = PF_FLOAT64;
    widthBytes = CVtImgToolkit::AlignWidth(format, static_cast<long>(width));
  } else {
    format = CVtImgToolkit::Bit2Format(bits);
    if (m_bGrid && format == PF_BIT32 && Field16(m_pTiff, TIFFTAG_SAMPLEFORMAT, 4) == SAMPLEFORMAT_IEEEFP)
      format = PF_FLOAT32;
    widthBytes = static_cast<long>((lineSize + 3) & ~uint64_t(3));
    if (Field16(m_pTiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) == PLANARCONFIG_SEPARATE) planes = samples;
  }
  if (format == PF_UNKNOWN) return Refuse(m_strPath, "the samples fit no pixel format");
  // Rows are read whole into the caller's line: it must hold the scan line.
  widthBytes = std::max<long>(widthBytes, static_cast<long>((lineSize + 3) & ~uint64_t(3)));

  SetWidth(width);
  SetHeight(height);
  SetPixelFormat(format);
  SetWidthBytes(static_cast<unsigned long>(widthBytes));
  SetPixelFormatExt(format == PF_BIT48 ? PF_BIT24 : format == PF_BIT64 ? PF_BIT32 : format);
  m_nScanLineSize = static_cast<int32_t>(lineSize);
  m_nTileWidth = tileWidth;
  m_nTileLength = tileLength;
  m_nTileByteSize = static_cast<int32_t>(tileSize);
  m_nPlanes = planes;
  m_nUnpackTo = unpackTo;
  m_bCmyk = cmyk;
  m_bRgba = rgba;
  if (rgba) m_nScanLineSize = static_cast<int32_t>(width * 3);
  m_nSampleBits = bits;
  m_nRowSamples = uint64_t(width) * samples;

  m_Palette.SetSize(0);
  m_bPaletteLoaded = 0;
  int n = CVtImgToolkit::PaletteSize(format);
  switch (photometric) {
    case PHOTOMETRIC_MINISWHITE:
      m_Palette.SetSize(n);
      for (int k = 0; k < n; ++k) {
        const BYTE v = k == 0 ? 255 : k == n - 1 ? 0 : static_cast<BYTE>(n - 1 - k);
        m_Palette[k] = PALETTEENTRY{v, v, v, 0};
      }
      break;
    case PHOTOMETRIC_MINISBLACK:
      if (n == 0 && format == PF_BIT16) n = 256;
      m_Palette.SetSize(n >= 2 ? n : 0);
      // Grey levels are the values, as GDAL gives them; one bit is black
      // and white.
      for (int k = 0; n >= 2 && k < n; ++k) {
        const BYTE v = n == 2 && k == 1 ? 255 : static_cast<BYTE>(k);
        m_Palette[k] = PALETTEENTRY{v, v, v, 0};
      }
      break;
    case PHOTOMETRIC_PALETTE: {
      uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
      // libtiff holds 2^BitsPerSample entries; the palette takes the first n
      // (unpacked indices of fewer bits fill the rest with black).
      const int held = bits <= 16 ? std::min(n, 1 << bits) : 0;
      if (n > 0 && (held == n || unpackTo) &&
          TIFFGetField(m_pTiff, TIFFTAG_COLORMAP, &red, &green, &blue) == 1 && red && green && blue) {
        m_Palette.SetSize(n);
        for (int k = 0; k < n; ++k)
          m_Palette[k] = k < held
                             ? PALETTEENTRY{static_cast<BYTE>(blue[k] >> 8), static_cast<BYTE>(green[k] >> 8),
                                            static_cast<BYTE>(red[k] >> 8), 0}
                             : PALETTEENTRY{0, 0, 0, 0};
      }
      break;
    }
    default:
      return 1;
  }
  m_bPaletteLoaded = 1;
  return 1;
}

long CImgFileTiff::SaveImage() {
  if (!m_pTiff) return -1;
  const ImgPixelFormat format = GetPixelFormat();
  uint16_t bits = 0, samples = 1, sampleFormat = 0;
  // Grid cells are signed unless the caller says otherwise.
  const uint16_t cellFormat = m_bUnsignedCells ? SAMPLEFORMAT_UINT : SAMPLEFORMAT_INT;
  switch (format) {
    case PF_BIT24:
      bits = 8, samples = 3;
      break;
    case PF_BIT32:
      if (m_bGrid)
        bits = 32, sampleFormat = cellFormat;
      else
        bits = 8, samples = 4;
      break;
    case PF_BIT16:
      bits = 16;
      if (m_bGrid) sampleFormat = cellFormat;
      break;
    // Sixteen bits a colour sample, as these formats are read.
    case PF_BIT48:
      bits = 16, samples = 3;
      break;
    case PF_BIT64:
      bits = 16, samples = 4;
      break;
    case PF_INT32:
      bits = 32, sampleFormat = cellFormat;
      break;
    case PF_FLOAT32:
    case PF_FLOAT64:
      bits = static_cast<uint16_t>(CVtImgToolkit::BitCount(format)), sampleFormat = SAMPLEFORMAT_IEEEFP;
      break;
    default:
      bits = CVtImgToolkit::BitCount(format);
      break;
  }
  if (bits == 0 || GetWidth() == 0 || GetHeight() == 0)
    return Refuse(m_strPath, "the image has no TIFF form");
  TIFFSetField(m_pTiff, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(GetWidth()));
  TIFFSetField(m_pTiff, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(GetHeight()));
  TIFFSetField(m_pTiff, TIFFTAG_BITSPERSAMPLE, bits);
  TIFFSetField(m_pTiff, TIFFTAG_SAMPLESPERPIXEL, samples);
  TIFFSetField(m_pTiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  if (sampleFormat) TIFFSetField(m_pTiff, TIFFTAG_SAMPLEFORMAT, sampleFormat);
  if (samples == 4) {
    // The fourth sample of a 32-bit pixel is not a colour.
    const uint16_t extra[1] = {EXTRASAMPLE_UNSPECIFIED};
    TIFFSetField(m_pTiff, TIFFTAG_EXTRASAMPLES, 1, extra);
  }

  const int n = CVtImgToolkit::PaletteSize(format);
  if (n > 0) {
    std::unique_ptr<uint16_t[]> red(new (std::nothrow) uint16_t[n]);
    std::unique_ptr<uint16_t[]> green(new (std::nothrow) uint16_t[n]);
    std::unique_ptr<uint16_t[]> blue(new (std::nothrow) uint16_t[n]);
    if (!red || !green || !blue) return -1;
    if (m_Palette.GetSize() < n) {
      m_Palette.SetSize(n);
      for (int k = 0; k < n; ++k) m_Palette[k] = PALETTEENTRY{BYTE(k), BYTE(k), BYTE(k), 0};
    }
    // x 257 spreads each 8-bit colour over 16 bits, so its high byte, and
    // every reader's scaling, gives the colour back exactly.
    for (int k = 0; k < n; ++k) {
      const PALETTEENTRY& e = m_Palette[k];
      red[k] = static_cast<uint16_t>(e.peBlue * 257);  // byte 2 of the entry
      green[k] = static_cast<uint16_t>(e.peGreen * 257);
      blue[k] = static_cast<uint16_t>(e.peRed * 257);  // byte 0
    }
    TIFFSetField(m_pTiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_PALETTE);
    TIFFSetField(m_pTiff, TIFFTAG_COLORMAP, red.get(), green.get(), blue.get());
  } else {
    // One sample without a colour map is grey (RGB needs three).
    TIFFSetField(m_pTiff, TIFFTAG_PHOTOMETRIC, samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
  }
  const uint64_t lineSize = TIFFScanlineSize64(m_pTiff);
  if (lineSize == 0 || lineSize > INT32_MAX - 4) return Refuse(m_strPath, "the rows are too long");
  m_nScanLineSize = static_cast<int32_t>(lineSize);
  uint32_t rowsPerStrip = 1;
  if (m_nWriteCompression != COMPRESSION_NONE) {
    const bool differenced = m_nPredictor == PREDICTOR_HORIZONTAL;
    if (differenced && m_nWriteCompression != COMPRESSION_ADOBE_DEFLATE && m_nWriteCompression != COMPRESSION_LZW)
      return Refuse(m_strPath, "predictor=2 applies to deflate and LZW only");
    if (differenced && bits < 8) return Refuse(m_strPath, "predictor=2 needs samples of 8 bits or more");
    TIFFSetField(m_pTiff, TIFFTAG_COMPRESSION, m_nWriteCompression);
    if (differenced) TIFFSetField(m_pTiff, TIFFTAG_PREDICTOR, m_nPredictor);
    if (m_nWriteCompression == COMPRESSION_ADOBE_DEFLATE) TIFFSetField(m_pTiff, TIFFTAG_ZIPQUALITY, m_nZLevel);
    // Strips of about 64 KiB: large enough to compress well, small enough
    // that a picture has many of them.
    rowsPerStrip = static_cast<uint32_t>(std::clamp<uint64_t>(kWriteStripBytes / lineSize, 1, GetHeight()));
  }
  TIFFSetField(m_pTiff, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
  m_nStripRows = rowsPerStrip;
  m_bOwnStrips = m_nWriteCompression == COMPRESSION_ADOBE_DEFLATE;
  if (m_bOwnStrips) {
    m_nSampleBytes = static_cast<uint16_t>(bits / 8);
    m_nPixelSamples = samples;
    // Threads pay only for an image of a megabyte or more.
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const int threads = m_nThreads > 0 ? m_nThreads : static_cast<int>(std::min(cores, 64u));
    m_nWorkers = lineSize * GetHeight() >= kThreadedImageBytes ? threads : 1;
    m_nBatchStrips = static_cast<uint32_t>(m_nWorkers) * 8;
    m_nNextRow = m_nHeldFrom = 0;
    m_nStripsOut = 0;
    m_Held.clear();
    m_pDeflate.reset();
    if (m_nWorkers > 1) {
      // Strips are compressed on workers while the caller gives more rows.
      DeflateAhead::Form form;
      form.lineBytes = static_cast<size_t>(lineSize);
      form.sampleBytes = m_nSampleBytes;
      form.pixelSamples = m_nPixelSamples;
      form.predictor = m_nPredictor;
      form.level = m_nZLevel;
      bool started = false;
      m_pDeflate = std::make_unique<DeflateAhead>(form, m_nWorkers - 1, started);
      if (!started) {
        m_pDeflate.reset();
        m_nWorkers = 1;
        m_nBatchStrips = 8;
      }
    }
  }
  SetWidthBytes(static_cast<unsigned long>(CVtImgToolkit::AlignWidth(format, static_cast<long>(GetWidth()))));
  return 1;
}

long CImgFileTiff::ReadScanLine(long row, CImgScanLine& line) { return ReadScanLine(row, line, 0) < 0 ? -1 : line.GetSize(); }

long CImgFileTiff::ReadScanLine(long row, CImgScanLine& line, int sample) {
  if (!m_pTiff || m_nScanLineSize <= 0) return -1;
  if (row < 0 || static_cast<unsigned long>(row) >= GetHeight() || sample < 0 || sample >= m_nPlanes) return -1;
  if (line.GetSize() < m_nScanLineSize) return -1;
  unsigned char* out = line.GetData();
  if (m_bRgba) return ReadRgbaRow(static_cast<uint32_t>(row), out) ? m_nScanLineSize : -1;
  if (m_nUnpackTo || m_bCmyk) {
    const uint64_t needed = m_bCmyk ? m_nRowSamples / 4 * 3 : m_nRowSamples * (m_nUnpackTo / 8);
    if (static_cast<uint64_t>(line.GetSize()) < needed) return -1;
    try {
      m_Packed.resize(static_cast<size_t>(m_nScanLineSize));
    } catch (const std::bad_alloc&) {
      return -1;
    }
    out = m_Packed.data();
  }
  if (ReadAheadRow(static_cast<uint32_t>(row), static_cast<uint16_t>(sample), out)) {
    // decoded on a worker thread
  } else if (m_bTiled) {
    if (!ReadTiledRow(static_cast<uint32_t>(row), static_cast<uint16_t>(sample), out)) return -1;
  } else if (!ReadStrippedRow(static_cast<uint32_t>(row), static_cast<uint16_t>(sample), out)) {
    return -1;
  }
  if (m_nUnpackTo) Unpack(line.GetData());
  if (m_bCmyk) {
    // Ink to light as libtiff's RGBA reader, and so GDAL, turn it:
    // red = (255 - cyan) (255 - black) / 255, and so on.
    const unsigned char* from = m_Packed.data();
    unsigned char* to = line.GetData();
    for (uint64_t x = 0; x < m_nRowSamples / 4; ++x, from += 4, to += 3) {
      const unsigned light = 255u - from[3];
      for (int c = 0; c < 3; ++c) to[c] = static_cast<unsigned char>((255u - from[c]) * light / 255u);
    }
  }
  return m_nScanLineSize;
}

bool CImgFileTiff::ReadRgbaRow(uint32_t row, unsigned char* out) {
  const uint32_t width = static_cast<uint32_t>(GetWidth()), height = static_cast<uint32_t>(GetHeight());
  const uint32_t perStrip = std::min(m_nRowsPerStrip, height);
  const uint32_t first = row / perStrip * perStrip;
  if (m_nRgbaFirst != static_cast<int64_t>(first)) {
    m_nRgbaFirst = -1;
    try {
      m_Rgba.assign(size_t(width) * perStrip, 0);
    } catch (const std::bad_alloc&) {
      return false;
    }
    if (TIFFReadRGBAStrip(m_pTiff, first, m_Rgba.data()) != 1) return false;
    m_nRgbaFirst = first;
  }
  // The strip's rows lie bottom first.
  const uint32_t rows = std::min(perStrip, height - first);
  const uint32_t* from = m_Rgba.data() + size_t(rows - 1 - (row - first)) * width;
  for (uint32_t x = 0; x < width; ++x, out += 3) {
    out[0] = static_cast<unsigned char>(TIFFGetR(from[x]));
    out[1] = static_cast<unsigned char>(TIFFGetG(from[x]));
    out[2] = static_cast<unsigned char>(TIFFGetB(from[x]));
  }
  return true;
}

bool CImgFileTiff::IsCmyk() {
  return m_pTiff && Field16(m_pTiff, TIFFTAG_PHOTOMETRIC, 0xFFFF) == PHOTOMETRIC_SEPARATED;
}

bool CImgFileTiff::DeliversCmykAsRgb() {
  return IsCmyk() && Field16(m_pTiff, TIFFTAG_INKSET, INKSET_CMYK) == INKSET_CMYK && GetBandCount() == 4 &&
         GetBits() == 8 &&
         Field16(m_pTiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) == PLANARCONFIG_CONTIG &&
         GetSampleFormat() != SAMPLEFORMAT_INT && GetSampleFormat() != SAMPLEFORMAT_IEEEFP;
}

void CImgFileTiff::Unpack(unsigned char* to) const {
  // Samples are packed high bit first, each row starting on a byte.
  const unsigned char* from = m_Packed.data();
  const uint64_t total = uint64_t(m_nScanLineSize) * 8;
  uint64_t bit = 0;
  for (uint64_t i = 0; i < m_nRowSamples && bit + m_nSampleBits <= total; ++i) {
    uint32_t v = 0;
    for (uint16_t k = 0; k < m_nSampleBits; ++k, ++bit)
      v = (v << 1) | ((from[bit >> 3] >> (7 - (bit & 7))) & 1);
    if (m_nUnpackTo == 8) {
      to[i] = static_cast<unsigned char>(v);
    } else {
      const uint16_t w = static_cast<uint16_t>(v);
      std::memcpy(to + 2 * i, &w, 2);
    }
  }
}

bool CImgFileTiff::ReadStrippedRow(uint32_t row, uint16_t sample, unsigned char* out) {
  // Rows in order go straight through libtiff's scan-line reader. Inside a
  // compressed strip that reader moves only to the next row of the same
  // plane (or to a strip's first row): any other row, as bottom-up writers
  // ask for them, and the rows of planes read in turn, come from the whole
  // strip, decoded once into a cache of its plane. So do the rows of an
  // uncompressed strip whose byte count is not the size of its rows (a last
  // strip counted as if it had RowsPerStrip rows, or padded): libtiff's
  // scan-line reader reads the whole count and fails past the end of the
  // file, where reading the strip's rows alone gives them, as GDAL does.
  const uint32_t perStrip = m_nRowsPerStrip;
  StripCache& cache = m_StripCaches[sample % kStripCaches];
  const uint32_t strip = TIFFComputeStrip(m_pTiff, row, sample);
  if (cache.strip >= 0 && strip == static_cast<uint32_t>(cache.strip)) {
    const size_t offset = static_cast<size_t>(row % perStrip) * static_cast<size_t>(m_nScanLineSize);
    if (offset + static_cast<size_t>(m_nScanLineSize) > cache.bytes.size()) return false;
    std::memcpy(out, cache.bytes.data() + offset, static_cast<size_t>(m_nScanLineSize));
    return true;  // libtiff's own place stays where its reader left it
  }
  const bool next = sample == m_nLastSample && static_cast<int64_t>(row) == m_nLastRow + 1;
  const bool reachable = row % perStrip == 0 || next;
  const bool compressed = m_nCompression != COMPRESSION_NONE;
  if ((perStrip > 1 && compressed && (!reachable || m_nPlanes > 1)) || (!compressed && !ExactStrip(strip))) {
    const uint64_t bytes = TIFFStripSize64(m_pTiff);
    if (!PlausibleUnitSize(bytes)) return false;
    cache.strip = -1;
    try {
      cache.bytes.resize(static_cast<size_t>(bytes));
    } catch (const std::bad_alloc&) {
      return false;
    }
    const tmsize_t got = TIFFReadEncodedStrip(m_pTiff, strip, cache.bytes.data(), static_cast<tmsize_t>(bytes));
    if (got < 0) {
      UnitFailed("strip", strip);
      return false;
    }
    cache.bytes.resize(static_cast<size_t>(got));
    cache.strip = strip;
    return ReadStrippedRow(row, sample, out);
  }
  if (TIFFReadScanline(m_pTiff, out, row, sample) != 1) {
    UnitFailed("strip", strip);
    return false;
  }
  m_nLastRow = static_cast<int64_t>(row);
  m_nLastSample = sample;
  return true;
}

bool CImgFileTiff::ExactStrip(uint32_t strip) {
  const uint32_t height = static_cast<uint32_t>(GetHeight());
  const uint32_t perPlane = static_cast<uint32_t>((uint64_t(height) + m_nRowsPerStrip - 1) / m_nRowsPerStrip);
  const uint64_t first = uint64_t(strip % std::max<uint32_t>(1, perPlane)) * m_nRowsPerStrip;
  if (first >= height) return false;
  const uint32_t rows = static_cast<uint32_t>(std::min<uint64_t>(m_nRowsPerStrip, height - first));
  return TIFFGetStrileByteCount(m_pTiff, strip) == TIFFVStripSize64(m_pTiff, rows);
}

bool CImgFileTiff::ReadTiledRow(uint32_t row, uint16_t sample, unsigned char* out) {
  const uint32_t tw = m_nTileWidth, tl = m_nTileLength;
  const size_t tileSize = static_cast<size_t>(m_nTileByteSize);
  if (tw == 0 || tl == 0 || tileSize == 0) return false;
  const uint32_t width = static_cast<uint32_t>(GetWidth());
  const uint32_t across = (width + tw - 1) / tw;
  const int64_t band = row / tl;
  if (band != m_nBandRow || sample != m_nBandSample) {
    m_nBandRow = -1;
    try {
      if (m_TileBand.size() != across * tileSize) m_TileBand.assign(across * tileSize, 0);
    } catch (const std::bad_alloc&) {
      return false;
    }
    for (uint32_t i = 0; i < across; ++i) {
      const uint32_t tile = TIFFComputeTile(m_pTiff, i * tw, row, 0, sample);
      if (TIFFReadEncodedTile(m_pTiff, tile, m_TileBand.data() + i * tileSize, static_cast<tmsize_t>(tileSize)) < 0) {
        UnitFailed("tile", tile);
        return false;
      }
    }
    m_nBandRow = band;
    m_nBandSample = sample;
  }
  CopyTileRow(m_TileBand.data(), across, tileSize, static_cast<size_t>(TIFFTileRowSize64(m_pTiff)),
              row - static_cast<size_t>(band) * tl, static_cast<size_t>(m_nScanLineSize), out);
  return true;
}

void CImgFileTiff::UnitFailed(const char* kind, uint32_t index) {
  const CVtErrorMsg* msg = VtGetErrorMsgObj();
  CString text;
  text.Format("%s %u cannot be decoded%s%s", kind, index, msg->HasMessage() ? ": " : "",
              msg->HasMessage() ? static_cast<const char*>(msg->GetMessage()) : "");
  Refuse(m_strPath, text);
}

bool CImgFileTiff::StartDecodeAhead() {
  // Uncompressed rows cost no more than reading them; old-style JPEG goes
  // through libtiff's RGBA reader.
  if (m_nCompression == COMPRESSION_NONE || m_bRgba || m_strPath.IsEmpty()) return false;
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  const int threads = m_nThreads > 0 ? m_nThreads : static_cast<int>(std::min(cores, 64u));
  const uint32_t height = static_cast<uint32_t>(GetHeight());
  const uint64_t lineBytes = static_cast<uint64_t>(m_nScanLineSize);
  if (threads <= 1 || lineBytes * height * m_nPlanes < kThreadedImageBytes) return false;
  DecodeAhead::Plan plan;
  plan.tiled = m_bTiled != 0;
  plan.height = height;
  plan.lineBytes = lineBytes;
  plan.planes = m_nPlanes;
  if (plan.tiled) {
    if (m_nTileWidth == 0 || m_nTileLength == 0 || m_nTileByteSize <= 0) return false;
    plan.across = static_cast<uint32_t>((GetWidth() + m_nTileWidth - 1) / m_nTileWidth);
    plan.tileWidth = m_nTileWidth;
    plan.tileBytes = static_cast<uint64_t>(m_nTileByteSize);
    plan.unitRows = m_nTileLength;
    plan.planeBytes = plan.across * plan.tileBytes;
  } else {
    const uint32_t perStrip = std::min(m_nRowsPerStrip, height);
    const uint64_t stripBytes = perStrip * lineBytes;
    if (!PlausibleUnitSize(stripBytes)) return false;
    plan.rowsPerStrip = perStrip;
    plan.stripsPerPlane = static_cast<uint32_t>((uint64_t(height) + perStrip - 1) / perStrip);
    const uint64_t strips = std::max<uint64_t>(1, kAheadRunBytes / stripBytes);
    plan.unitRows = static_cast<uint32_t>(std::min<uint64_t>(height, strips * perStrip));
    plan.planeBytes = plan.unitRows * lineBytes;
  }
  const uint64_t units = (uint64_t(height) + plan.unitRows - 1) / plan.unitRows;
  if (units < 2 || plan.planeBytes * plan.planes > kMaxUnitBytes) return false;
  // A few units a thread: rows of tiles are large, runs of strips small.
  // The caller decodes too, while it waits: one thread fewer is started.
  const uint64_t workers = std::min<uint64_t>(static_cast<uint64_t>(threads) - 1,
                                              units * (plan.tiled ? plan.across * plan.planes : plan.planes));
  plan.window = static_cast<uint32_t>(std::min<uint64_t>(units, (workers + 1) * (plan.tiled ? 2 : 4)));
  // However many threads there are, the units held stay within a bound.
  const uint64_t unitBytes = plan.planeBytes * plan.planes;
  plan.window = static_cast<uint32_t>(std::max<uint64_t>(2, std::min<uint64_t>(plan.window, kAheadBytes / unitBytes)));
  // Every worker, and the caller as it helps, opens the file for itself, as
  // this object did.
  std::vector<TIFF*> handles;
  auto release = [&] {
    for (TIFF* tif : handles) TIFFClose(tif);
    return false;
  };
  for (uint64_t i = 0; i <= workers; ++i) {
    TIFF* tif = OpenTiff(m_strPath, "rm");
    if (!tif) return release();
    handles.push_back(tif);
    DeliverJpegAsRgb(tif);
    if ((TIFFIsTiled(tif) != 0) != plan.tiled || uint64_t(TIFFScanlineSize64(tif)) != lineBytes ||
        Field32(tif, TIFFTAG_IMAGELENGTH, 0) != height ||
        (plan.tiled ? uint64_t(TIFFTileSize64(tif)) != plan.tileBytes
                    : Field32(tif, TIFFTAG_ROWSPERSTRIP, UINT32_MAX) != Field32(m_pTiff, TIFFTAG_ROWSPERSTRIP, UINT32_MAX)))
      return release();
  }
  bool started = false;
  try {
    m_pAhead = std::make_unique<DecodeAhead>(plan, std::move(handles), started);
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (!started) m_pAhead.reset();
  return started;
}

int CImgFileTiff::DecodeThreads() const { return m_pAhead ? m_pAhead->Threads() : 0; }

bool CImgFileTiff::ReadAheadRow(uint32_t row, uint16_t sample, unsigned char* out) {
  if (m_bAheadOff) return false;
  if (!m_pAhead && !StartDecodeAhead()) {
    m_bAheadOff = true;
    return false;
  }
  const uint32_t unitRows = m_pAhead->UnitRows();
  const unsigned char* unit = m_pAhead->Unit(row / unitRows);
  if (!unit) {
    // From here on the calling thread reads every row itself, and reports a
    // unit that cannot be decoded as it would have without workers.
    m_pAhead.reset();
    m_bAheadOff = true;
    m_nLastRow = -1;
    return false;
  }
  const size_t y = row % unitRows;
  const size_t lineBytes = static_cast<size_t>(m_nScanLineSize);
  if (m_bTiled) {
    const size_t across = (GetWidth() + m_nTileWidth - 1) / m_nTileWidth;
    const size_t tileSize = static_cast<size_t>(m_nTileByteSize);
    CopyTileRow(unit + sample * across * tileSize, across, tileSize, static_cast<size_t>(TIFFTileRowSize64(m_pTiff)),
                y, lineBytes, out);
  } else {
    std::memcpy(out, unit + (sample * size_t(unitRows) + y) * lineBytes, lineBytes);
  }
  return true;
}

long CImgFileTiff::ReadTiled(long tileColumn, long tileRow, unsigned char* buffer) {
  if (!m_pTiff || !m_bTiled || !buffer || m_nTileByteSize <= 0 || tileColumn < 0 || tileRow < 0) return -1;
  const uint64_t x = uint64_t(tileColumn) * m_nTileWidth, y = uint64_t(tileRow) * m_nTileLength;
  if (x >= GetWidth() || y >= GetHeight()) return -1;
  const uint32_t tile = TIFFComputeTile(m_pTiff, static_cast<uint32_t>(x), static_cast<uint32_t>(y), 0, 0);
  const tmsize_t got = TIFFReadEncodedTile(m_pTiff, tile, buffer, m_nTileByteSize);
  if (got < 1) return -1;
  if (static_cast<uint64_t>(m_nTileByteSize) == uint64_t(m_nTileWidth) * m_nTileLength * 3) {
    for (tmsize_t i = 0; i + 2 < got; i += 3) std::swap(buffer[i], buffer[i + 2]);
  }
  return static_cast<long>(got);
}

long CImgFileTiff::WriteScanLine(long row, CImgScanLine& line) {
  if (!m_pTiff || m_nScanLineSize <= 0 || row < 0) return -1;
  if (line.GetSize() < m_nScanLineSize) return -1;
  if (!m_bOwnStrips) return TIFFWriteScanline(m_pTiff, line.GetData(), static_cast<uint32_t>(row), 0) == 1 ? 1 : -1;
  // Compressed strips are written whole, so their rows come in order.
  if (static_cast<unsigned long>(row) != m_nNextRow || row >= static_cast<long>(GetHeight()))
    return Refuse(m_strPath, "rows of a compressed file must be written in order");
  if (m_pDeflate) {
    m_pDeflate->Add(line.GetData());
    ++m_nNextRow;
    if (m_pDeflate->Filled() < m_nStripRows && m_nNextRow < GetHeight()) return 1;
    m_pDeflate->Submit();
    return WriteDeflated(false) ? 1 : -1;
  }
  const size_t lineSize = static_cast<size_t>(m_nScanLineSize);
  m_Held.insert(m_Held.end(), line.GetData(), line.GetData() + lineSize);
  ++m_nNextRow;
  const uint64_t held = m_nNextRow - m_nHeldFrom;
  if (held < uint64_t(m_nStripRows) * m_nBatchStrips && m_nNextRow < GetHeight()) return 1;
  return WriteHeldStrips() ? 1 : -1;
}

bool CImgFileTiff::WriteDeflated(bool all) {
  for (;;) {
    std::unique_ptr<DeflateAhead::Strip> strip = m_pDeflate->Oldest(all || m_pDeflate->Full());
    if (!strip) return true;
    if (!strip->ok) return Refuse(m_strPath, "a strip could not be compressed") > 0;
    const tmsize_t size = static_cast<tmsize_t>(strip->out.size());
    if (TIFFWriteRawStrip(m_pTiff, m_nStripsOut, strip->out.data(), size) != size) return false;
    ++m_nStripsOut;
    m_pDeflate->Recycle(std::move(strip));
  }
}

bool CImgFileTiff::WriteHeldStrips() {
  if (m_pDeflate) {
    m_pDeflate->Submit();
    return WriteDeflated(true);
  }
  const size_t lineSize = static_cast<size_t>(m_nScanLineSize);
  const size_t rows = m_Held.size() / lineSize;
  if (rows == 0) return true;
  const size_t strips = (rows + m_nStripRows - 1) / m_nStripRows;
  if (m_Deflated.size() < strips) m_Deflated.resize(strips);
  std::vector<char> done(strips, 0);
  // Each strip is compressed by itself, the same on any thread, so the file
  // does not depend on how many threads there are. libdeflate gives a zlib
  // stream, as libtiff's own deflate writer does, at about three times
  // zlib's speed.
  auto encode = [&](size_t k, libdeflate_compressor* compressor) {
    const size_t first = k * m_nStripRows, count = std::min<size_t>(m_nStripRows, rows - first);
    unsigned char* from = m_Held.data() + first * lineSize;
    const size_t samples = lineSize / std::max<size_t>(1, m_nSampleBytes);
    if (m_nPredictor == PREDICTOR_HORIZONTAL) {
      switch (m_nSampleBytes) {
        case 1: DifferenceRows<uint8_t>(from, count, samples, m_nPixelSamples); break;
        case 2: DifferenceRows<uint16_t>(from, count, samples, m_nPixelSamples); break;
        case 4: DifferenceRows<uint32_t>(from, count, samples, m_nPixelSamples); break;
        default: DifferenceRows<uint64_t>(from, count, samples, m_nPixelSamples); break;
      }
    }
    std::vector<unsigned char>& out = m_Deflated[k];
    out.resize(libdeflate_zlib_compress_bound(compressor, count * lineSize));
    const size_t size = libdeflate_zlib_compress(compressor, from, count * lineSize, out.data(), out.size());
    out.resize(size);
    done[k] = size > 0;
  };
  // One compressor a thread, kept for the whole file.
  const size_t wanted = std::min<size_t>(static_cast<size_t>(m_nWorkers), strips);
  while (m_Compressors.size() < wanted) {
    libdeflate_compressor* compressor = libdeflate_alloc_compressor(m_nZLevel);
    if (!compressor) break;
    m_Compressors.push_back(compressor);
  }
  if (m_Compressors.empty()) return Refuse(m_strPath, "out of memory") > 0;
  std::atomic<size_t> next{0};
  auto work = [&](libdeflate_compressor* compressor) {
    for (size_t k; (k = next.fetch_add(1)) < strips;) encode(k, compressor);
  };
  std::vector<std::thread> helpers;
  for (size_t t = 1; t < std::min(wanted, m_Compressors.size()); ++t) {
    try {
      helpers.emplace_back(work, m_Compressors[t]);
    } catch (const std::system_error&) {
      break;  // the threads there are do the rest
    }
  }
  work(m_Compressors[0]);
  for (std::thread& t : helpers) t.join();
  const uint32_t firstStrip = m_nHeldFrom / m_nStripRows;
  m_nHeldFrom += static_cast<uint32_t>(rows);
  m_Held.clear();
  for (size_t k = 0; k < strips; ++k) {
    if (!done[k]) return Refuse(m_strPath, "a strip could not be compressed") > 0;
    const tmsize_t size = static_cast<tmsize_t>(m_Deflated[k].size());
    if (TIFFWriteRawStrip(m_pTiff, firstStrip + static_cast<uint32_t>(k), m_Deflated[k].data(), size) != size)
      return false;
  }
  return true;
}

bool CImgFileTiff::FlushWrite() {
  if (!m_pTiff) return false;
  if (m_bOwnStrips) {
    if (m_nNextRow != GetHeight()) return Refuse(m_strPath, "not every row was written") > 0;
    if (!WriteHeldStrips()) return false;
  }
  return TIFFFlush(m_pTiff) == 1;
}

long CImgFileTiff::LoadGeoImage(CRect2D& bounds, long divisor) {
  bounds.SetRectEmpty();
  m_bGeoTags = false;
  if (!m_pTiff) return 0;
  const uint32_t width = Field32(m_pTiff, TIFFTAG_IMAGEWIDTH, 0);
  const uint32_t height = Field32(m_pTiff, TIFFTAG_IMAGELENGTH, 0);
  m_strGeoNote.clear();
  m_bGeoTagsCut = false;
  double gt[6];
  const Placement placement = ModelTransform(m_pTiff, m_pGeoTiff, gt);
  if (placement == Placement::kRotated) {
    // Bounds are an upright rectangle: a turned image has none.
    m_strGeoNote = "the model transformation rotates the image: no bounds";
    return 0;
  }
  if (placement == Placement::kPlaced) {
    const std::string unread = UnreadGeoTags(m_pTiff);
    if (!unread.empty()) {
      m_strGeoNote = "the GeoTIFF tags " + unread + " cannot be read whole (the file is cut inside them): no bounds";
      m_bGeoTagsCut = true;
      return 0;
    }
    Corners(gt, width, height, bounds);
    const long factor = DefinitionFactor(m_pGeoTiff);
    if (factor == 0) {
      bounds.SetRectEmpty();
      return 0;
    }
    Scale(bounds, divisor ? static_cast<double>(factor) / divisor : static_cast<double>(factor));
    m_bGeoTags = true;
    return 1;
  }
  // No georeferencing tags: the position and resolution fields, the
  // resolution taken as the size of one pixel in resolution units.
  double f = 1.0;
  if (divisor) {
    const uint16_t unit = Field16(m_pTiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    if (unit == RESUNIT_INCH) f = 254.0 / divisor;
    if (unit == RESUNIT_CENTIMETER) f = 100.0 / divisor;
  }
  float xPosition = 0, yPosition = 0, xResolution = 0, yResolution = 0;
  TIFFGetField(m_pTiff, TIFFTAG_XPOSITION, &xPosition);
  TIFFGetField(m_pTiff, TIFFTAG_YPOSITION, &yPosition);
  TIFFGetField(m_pTiff, TIFFTAG_XRESOLUTION, &xResolution);
  TIFFGetField(m_pTiff, TIFFTAG_YRESOLUTION, &yResolution);
  if (xResolution == 0 || yResolution == 0) return 0;
  bounds.left = xPosition * f;
  bounds.bottom = yPosition * f;
  bounds.right = bounds.left + width * static_cast<double>(xResolution) * f;
  bounds.top = bounds.bottom + height * static_cast<double>(yResolution) * f;
  return 1;
}

int CImgFileTiff::LoadGeoImage(CString path, CRect2D& bounds, double scale[]) {
  TIFF* tif = OpenTiff(path, "r");
  if (!tif) return 0;
  GTIF* gt = NewGeoTiff(tif);
  int result = 0;
  double transform[6];
  if (gt && ModelTransform(tif, gt, transform) == Placement::kPlaced) {
    scale[0] = transform[1];
    scale[1] = -transform[5];
    Corners(transform, Field32(tif, TIFFTAG_IMAGEWIDTH, 0), Field32(tif, TIFFTAG_IMAGELENGTH, 0), bounds);
    const long factor = DefinitionFactor(gt);
    if (factor != 0) {
      Scale(bounds, factor * 0.0001);
      result = 1;
    }
  }
  if (gt) GTIFFree(gt);
  TIFFClose(tif);
  return result;
}

long CImgFileTiff::SaveGeoImage(const CRect2D& bounds) {
  if (!m_pGeoTiff || !m_pTiff) return 0;
  const double width = static_cast<double>(GetWidth()), height = static_cast<double>(GetHeight());
  double scale[3] = {width > 0 ? bounds.Width() / width : 0.0, height > 0 ? bounds.Height() / height : 0.0, 0.0};
  double tie[6] = {0, 0, 0, bounds.left, bounds.top, 0};
  TIFFSetField(m_pTiff, TIFFTAG_GEOTIEPOINTS, 6, tie);
  TIFFSetField(m_pTiff, TIFFTAG_GEOPIXELSCALE, 3, scale);
  TIFFSetField(m_pTiff, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(GetWidth()));
  TIFFSetField(m_pTiff, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(GetHeight()));
  return 1;
}

long CImgFileTiff::SetNoValueInScanLine(CImgScanLine& line) {
  if (!m_pTiff) return -1;
  const uint16_t dataType = Field16(m_pTiff, TIFFTAG_DATATYPE, 0);
  const long count = std::min<long>(static_cast<long>(GetWidth()),
                                    line.GetSize() / std::max(1, CVtImgToolkit::BitCount(GetPixelFormat()) / 8));
  const BYTE* data = line.GetData();
  auto at = [&](long i, auto sample) {
    std::memcpy(&sample, data + i * sizeof sample, sizeof sample);
    return sample;
  };
  for (long i = 0; i < count; ++i) {
    switch (GetPixelFormat()) {
      case PF_FLOAT32:
        if (at(i, uint32_t()) == 0xFF7FFFFFu) return m_nNoDataValue = INT32_MIN, 1;
        break;
      case PF_BIT8:
        if (dataType == 1 && (at(i, int8_t()) == 127 || at(i, int8_t()) == -128))
          return m_nNoDataValue = at(i, int8_t()), 1;
        if (dataType == 2 && at(i, uint8_t()) == 255) return m_nNoDataValue = 255, 1;
        break;
      case PF_BIT16:
        if ((dataType == 1 || dataType == 3) && (at(i, int16_t()) == 32767 || at(i, int16_t()) == -32768))
          return m_nNoDataValue = at(i, int16_t()), 1;
        if (dataType == 8 && at(i, uint16_t()) == 65535) return m_nNoDataValue = 65535, 1;
        break;
      case PF_BIT32:
      case PF_INT32: {
        const int32_t v = at(i, int32_t());
        if (dataType != 9 && (v >= 2147483646 || v <= -2147483647)) return m_nNoDataValue = v, 1;
        if (dataType == 9 && v == -1) return m_nNoDataValue = -1, 1;
        break;
      }
      default:
        return -1;
    }
  }
  return -1;
}

int CImgFileTiff::GetTiffField(unsigned tag, unsigned short* value) {
  if (!m_pTiff) return -1;
  if (!value) return 0;
  const TIFFField* field = TIFFFieldWithTag(m_pTiff, tag);
  if (!field || TIFFFieldPassCount(field) || TIFFFieldReadCount(field) != 1) return 0;
  // Only fields libtiff hands out as one unsigned integer are read: any
  // other kind would be written past `value` or misread.
  const TIFFDataType type = TIFFFieldDataType(field);
  if (type != TIFF_BYTE && type != TIFF_SHORT && type != TIFF_LONG) return 0;
  uint32_t v = 0;
  switch (TIFFFieldSetGetSize(field)) {
    case 1: {
      uint8_t b = 0;
      if (TIFFGetField(m_pTiff, tag, &b) != 1) return 0;
      v = b;
      break;
    }
    case 2: {
      uint16_t s = 0;
      if (TIFFGetField(m_pTiff, tag, &s) != 1) return 0;
      v = s;
      break;
    }
    case 4:
      if (TIFFGetField(m_pTiff, tag, &v) != 1) return 0;
      break;
    default:
      return 0;
  }
  if (v > 0xFFFF) return 0;
  *value = static_cast<unsigned short>(v);
  return 1;
}

long CImgFileTiff::GetBandCount() { return m_pTiff ? Field16(m_pTiff, TIFFTAG_SAMPLESPERPIXEL, 1) : 1; }
long CImgFileTiff::GetBits() { return m_pTiff ? Field16(m_pTiff, TIFFTAG_BITSPERSAMPLE, 1) : 1; }
long CImgFileTiff::GetSampleFormat() { return m_pTiff ? Field16(m_pTiff, TIFFTAG_SAMPLEFORMAT, 4) : 4; }
long CImgFileTiff::GetCompression() {
  return m_pTiff ? Field16(m_pTiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE) : COMPRESSION_NONE;
}

bool CImgFileTiff::IsMultiBand() {
  if (!m_pTiff) return false;
  const long samples = GetBandCount();
  if (samples < 2) return false;
  if (GetCompression() == COMPRESSION_OJPEG) return false;  // delivered through RGBA
  const uint64_t width = Field32(m_pTiff, TIFFTAG_IMAGEWIDTH, 0);
  return TIFFScanlineSize64(m_pTiff) != (width * samples * GetBits() + 7) / 8;
}

bool CImgFileTiff::TiledToStript(const CString& source, const CString& target) {
  Close();
  m_pTiff = OpenTiff(source, "r");
  if (!m_pTiff) return false;
  // Every failure once the target exists closes both files and removes it.
  auto fail = [&]() {
    if (m_pTargetTiff) DiscardTiff(m_pTargetTiff);
    m_pTargetTiff = nullptr;
    std::remove(target);
    Close();
    return false;
  };
  const uint32_t width = Field32(m_pTiff, TIFFTAG_IMAGEWIDTH, 0);
  const uint32_t height = Field32(m_pTiff, TIFFTAG_IMAGELENGTH, 0);
  const uint32_t tw = Field32(m_pTiff, TIFFTAG_TILEWIDTH, 0);
  const uint32_t tl = Field32(m_pTiff, TIFFTAG_TILELENGTH, 0);
  uint32_t rowsPerStrip = 0;
  if (TIFFGetField(m_pTiff, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip) == 1 && rowsPerStrip == 1) {
    Close();
    return false;
  }
  // Only tiled images of three 8-bit samples a pixel are converted.
  if (!TIFFIsTiled(m_pTiff) || width == 0 || height == 0 || tw == 0 || tl == 0 ||
      Field16(m_pTiff, TIFFTAG_SAMPLESPERPIXEL, 1) != 3 || Field16(m_pTiff, TIFFTAG_BITSPERSAMPLE, 1) != 8 ||
      Field16(m_pTiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) != PLANARCONFIG_CONTIG) {
    Close();
    return false;
  }
  DeliverJpegAsRgb(m_pTiff);
  m_nCompression = Field16(m_pTiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
  m_nFileSize = FileSize(source);
  const uint64_t rowBytes = uint64_t(width) * 3, tileBytes = uint64_t(tw) * tl * 3;
  if (rowBytes * tl > kMaxUnitBytes || !PlausibleUnitSize(tileBytes)) {
    Close();
    return false;
  }

  // Creating the target would truncate the source if they were one file.
  struct stat sourceStat, targetStat;
  if (::stat(source, &sourceStat) == 0 && ::stat(target, &targetStat) == 0 &&
      sourceStat.st_dev == targetStat.st_dev && sourceStat.st_ino == targetStat.st_ino) {
    Close();
    return false;
  }
  m_pTargetTiff = OpenTiff(target, "w");
  if (!m_pTargetTiff) {
    Close();
    return false;
  }
  TIFFSetField(m_pTargetTiff, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(m_pTargetTiff, TIFFTAG_IMAGELENGTH, height);
  TIFFSetField(m_pTargetTiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(m_pTargetTiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
  TIFFSetField(m_pTargetTiff, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(m_pTargetTiff, TIFFTAG_SAMPLESPERPIXEL, 3);
  TIFFSetField(m_pTargetTiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(m_pTargetTiff, TIFFTAG_ROWSPERSTRIP, 1u);

  std::unique_ptr<unsigned char[]> band(new (std::nothrow) unsigned char[rowBytes * tl]);
  std::unique_ptr<unsigned char[]> strip(new (std::nothrow) unsigned char[rowBytes]);
  if (!band || !strip) {
    std::fputs("Out of memory allocating working buffer(s).\n", stderr);
    return fail();
  }
  int64_t bandHeld = -1;
  for (uint32_t r = 0; r < height; ++r) {
    const int64_t b = r / tl;
    if (b != bandHeld) {
      std::unique_ptr<unsigned char[]> tile(new (std::nothrow) unsigned char[tileBytes]);
      if (!tile) return fail();
      for (uint32_t x = 0; x < width; x += tw) {
        const uint32_t index = TIFFComputeTile(m_pTiff, x, static_cast<uint32_t>(b * tl), 0, 0);
        if (TIFFReadEncodedTile(m_pTiff, index, tile.get(), static_cast<tmsize_t>(tileBytes)) < 1) return fail();
        const size_t copy = (width - x < tw ? width - x : tw) * size_t(3);
        for (uint32_t y = 0; y < tl; ++y)
          std::memcpy(band.get() + y * rowBytes + size_t(x) * 3, tile.get() + size_t(y) * tw * 3, copy);
      }
      bandHeld = b;
    }
    std::memcpy(strip.get(), band.get() + (r - b * tl) * rowBytes, rowBytes);
    const uint32_t stripIndex = TIFFComputeStrip(m_pTargetTiff, r, 0);
    if (TIFFWriteEncodedStrip(m_pTargetTiff, stripIndex, strip.get(), static_cast<tmsize_t>(rowBytes)) < 0)
      return fail();
    if (r % 100 == 0) {
      std::fputs(".", stdout);
      std::fflush(stdout);
    }
  }
  band.reset();
  strip.reset();

  CRect2D bounds;
  double scale[2] = {0, 0};
  if (!LoadGeoImage(source, bounds, scale)) return fail();
  // The pixel size in metres, like the tie point: the source's own scale
  // is in its own unit.
  const double metreScale[3] = {bounds.Width() / width, bounds.Height() / height, 0};
  const double tie[6] = {0, 0, 0, bounds.left, bounds.top, 0};
  GTIF* gt = NewGeoTiff(m_pTargetTiff);
  if (!gt) return fail();
  GTIFKeySet(gt, GTRasterTypeGeoKey, TYPE_SHORT, 1, RasterPixelIsArea);
  TIFFSetField(m_pTargetTiff, TIFFTAG_GEOPIXELSCALE, 3, metreScale);
  TIFFSetField(m_pTargetTiff, TIFFTAG_GEOTIEPOINTS, 6, tie);
  GTIFKeySet(gt, ProjLinearUnitsGeoKey, TYPE_SHORT, 1, Linear_Meter);
  const int keysWritten = GTIFWriteKeys(gt);
  GTIFFree(gt);
  if (!keysWritten) return fail();

  TIFFClose(m_pTiff);
  m_pTiff = nullptr;
  const int flushed = TIFFFlush(m_pTargetTiff);
  TIFFClose(m_pTargetTiff);
  m_pTargetTiff = nullptr;
  if (!flushed) {
    std::remove(target);
    return false;
  }
  return true;
}

long CImgFileTiff::OutputDirect(CString path, CDC* dc, CBitmap* bitmap, ImgPixelFormat format, CRect2D bounds) {
  if (!OpenForWrite(path)) {
    Close();
    return -1;
  }
  BITMAP info{};
  DeviceBitmapInfo dib;
  if (!DescribeDeviceBitmap(dc, bitmap, format, info, dib)) {
    Close();
    return -1;
  }
  BITMAPINFO* bmi = dib.Info();
  HBITMAP handle = *bitmap;
  if (!bounds.IsRectEmpty()) SaveGeoImage(bounds);
  // The device's colour table (blue, green, red, 0) is the palette's order.
  const int entries = CVtImgToolkit::PaletteSize(format);
  m_Palette.SetSize(entries);
  if (entries) std::memcpy(m_Palette.GetData(), dib.colors, entries * sizeof(PALETTEENTRY));
  if (SaveImage() < 0) {
    Close();
    return -2;
  }
  const long rowBytes = std::max<long>(static_cast<long>(GetWidthBytes()) + 3,
                                       CVtImgToolkit::AlignWidth(format, info.bmWidth));
  CImgScanLine line(format, rowBytes);
  const long height = static_cast<long>(GetHeight());
  for (long i = 0; i < height; ++i) {
    if (GetDIBits(dc->GetSafeHdc(), handle, static_cast<UINT>(height - 1 - i), 1, line.GetData(), bmi,
                  DIB_RGB_COLORS) == 0) {
      Abort();
      return -3;
    }
    // Device rows are blue first; TIFF colour is red first. Indexed rows
    // hold palette indices and stay as they are.
    if (format == PF_BIT24) {
      line.m_nWidth = static_cast<long>(GetWidth());
      line.SwapBlueRed();
    } else if (format == PF_BIT32) {
      BYTE* p = line.GetData();
      for (unsigned long x = 0; x < GetWidth(); ++x) std::swap(p[4 * x], p[4 * x + 2]);
    }
    if (WriteScanLine(i, line) < 0) {
      Abort();
      return -4;
    }
  }
  Close();
  return 1;
}
