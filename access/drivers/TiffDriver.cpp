// TIFF and GeoTIFF: stripped, tiled and planar files of any compression
// libtiff decodes; writes stripped files. Rows come top first,
// colour samples red first. Planar-separate files are delivered with their
// planes interleaved, so every layout dumps and converts alike. Bounds come
// from the GeoTIFF tags only, in metres; a rotated image has none, and info
// says why. Single samples of 32 bits, and
// 64-bit floats, are delivered as grid cells by their SampleFormat; layouts
// that no pixel format holds (complex integers, 24-bit samples) are refused
// at open. Compressed files of a megabyte or more are decoded ahead on
// -oo threads (default one a core). Writes are uncompressed unless
// -oo compress asks for deflate, LZW or PackBits. Interleaved 8-bit CMYK is delivered as RGB, as GDAL reads it;
// other inks are refused.
#include <tiff.h>
#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>

#include "access/RasterDriver.h"
#include "platform/vtcore/CVtImgToolkit.h"
#include "raster/CImgFileTiff.h"

namespace vtfmt {
namespace {

// The driver with a row of one sample plane, for interleaving planes.
class TiffFile : public CImgFileTiff {
 public:
  CImgScanLine m_Plane;
  long m_nPlanes = 1;      // planes interleaved into each row delivered
  long m_nSampleBytes = 0; // bytes of one sample

  // True when the extra-samples tag marks the first extra sample as opacity.
  bool AlphaSample() {
    uint16_t count = 0;
    uint16_t* kinds = nullptr;
    return m_pTiff && TIFFGetField(m_pTiff, TIFFTAG_EXTRASAMPLES, &count, &kinds) == 1 && count >= 1 && kinds &&
           (kinds[0] == EXTRASAMPLE_ASSOCALPHA || kinds[0] == EXTRASAMPLE_UNASSALPHA);
  }
};

std::string Text(long v) { return std::to_string(v); }

// Why pixels of the open file's samples cannot be delivered as they are,
// naming the layout; empty when they can. A pixel format holds samples of
// 1, 4, 8, 16, 32 or 64 bits (8 or more when a pixel has several), as many
// as make up one of its widths, and of a kind a typed array can hold;
// interleaved unsigned samples of 2 to 15 bits are delivered as 8- or 16-bit
// values, as GDAL gives them.
std::string UnheldSamples(CImgFileTiff& tiff) {
  const long samples = tiff.GetBandCount(), bits = tiff.GetBits(), format = tiff.GetSampleFormat();
  if (tiff.IsCmyk() && !tiff.DeliversCmykAsRgb())
    return "inks of " + Text(samples) + " x " + Text(bits) + "-bit samples" +
           (tiff.IsMultiBand() ? " in separate planes" : "") + ": only interleaved 8-bit CMYK is read";
  const bool unpacked = CImgFileTiff::UnpackedBits(bits, samples, format) != 0 && !tiff.IsMultiBand();
  const bool held =
      unpacked || ((bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 32 || bits == 64) &&
                   (samples == 1 || bits >= 8) && samples * bits <= 0xFFFF &&
                   CVtImgToolkit::Bit2Format(static_cast<unsigned short>(samples * bits)) != PF_UNKNOWN &&
                   (format != SAMPLEFORMAT_INT || bits >= 8) &&
                   (format != SAMPLEFORMAT_IEEEFP || bits >= 16) && format != SAMPLEFORMAT_COMPLEXINT &&
                   (format != SAMPLEFORMAT_COMPLEXIEEEFP || (samples == 1 && bits == 64)));
  if (held) return {};
  const char* kind = format == SAMPLEFORMAT_INT             ? "signed integer"
                     : format == SAMPLEFORMAT_IEEEFP        ? "float"
                     : format == SAMPLEFORMAT_COMPLEXINT    ? "complex integer"
                     : format == SAMPLEFORMAT_COMPLEXIEEEFP ? "complex float"
                                                            : "unsigned integer";
  return Text(samples) + (samples == 1 ? " sample of " : " samples of ") + Text(bits) + "-bit " + kind +
         " per pixel: no pixel format holds them";
}

// Bits of a delivered sample: the file's, or the size it is unpacked to.
long Bits(CImgFileTiff& tiff) { return tiff.GetUnpackedBits() ? tiff.GetUnpackedBits() : tiff.GetBits(); }

// True when the grid option has 32-bit unsigned single samples read as
// signed cells.
bool SignedByOption(CImgFileTiff& tiff) {
  return tiff.m_bGrid && tiff.GetBandCount() == 1 && tiff.GetBits() == 32 &&
         tiff.GetSampleFormat() != SAMPLEFORMAT_IEEEFP;
}

class TiffDriver final : public RasterDriver {
 public:
  const char* Name() const override { return "tiff"; }
  bool CanRead() const override { return true; }
  bool CanWrite() const override { return true; }
  std::vector<RowForm> WriteForms() const override {
    return {IndexedForm(1),  IndexedForm(4),
            IndexedForm(8),  ColourForm(3, 8, true),
            ColourForm(4, 8, true, FourthSample::kValue),  ColourForm(3, 16, true),
            ColourForm(4, 16, true, FourthSample::kValue), CellForm(16, 'u'),
            CellForm(16, 'i'), CellForm(32, 'u'), CellForm(32, 'i'),
            CellForm(32, 'f'), CellForm(64, 'f')};
  }
  std::vector<std::string> Extensions() const override { return {".tif", ".tiff"}; }
  std::vector<std::pair<std::string, std::string>> OptionKeys() const override {
    return {{"grid", "1: 32-bit unsigned single samples are read as signed cells"},
            {"compress", "none (default), deflate, lzw or packbits: how written strips are compressed"},
            {"predictor", "2: written samples are stored as differences from their left neighbour (deflate, lzw)"},
            {"zlevel", "deflate level of written strips, 1 to 9 (default 6)"},
            {"threads", "threads that compress deflate strips when writing, or decode compressed strips and tiles "
                        "ahead when reading, 1 to 1024 (default: one a core; 1: none beside the caller's)"}};
  }

  bool ApplyOptions(CImgFile& file, const Options& options, std::string& reason) const override {
    TiffFile& tiff = static_cast<TiffFile&>(file);
    for (const auto& option : options) {
      const std::string& key = option.first;
      const std::string& value = option.second;
      if (key == "grid") {
        if (value != "0" && value != "1") {
          reason = "grid must be 0 or 1, not " + value;
          return false;
        }
        tiff.m_bGrid = value == "1";
      } else if (key == "compress") {
        const uint16_t kinds[] = {COMPRESSION_NONE, COMPRESSION_ADOBE_DEFLATE, COMPRESSION_LZW, COMPRESSION_PACKBITS};
        const char* names[] = {"none", "deflate", "lzw", "packbits"};
        const auto found = std::find(std::begin(names), std::end(names), value);
        if (found == std::end(names)) {
          reason = "compress must be none, deflate, lzw or packbits, not " + value;
          return false;
        }
        tiff.m_nWriteCompression = kinds[found - std::begin(names)];
      } else if (key == "predictor") {
        if (value != "1" && value != "2") {
          reason = "predictor must be 1 or 2, not " + value;
          return false;
        }
        tiff.m_nPredictor = value == "2" ? PREDICTOR_HORIZONTAL : PREDICTOR_NONE;
      } else if (key == "zlevel") {
        if (value.size() != 1 || value[0] < '1' || value[0] > '9') {
          reason = "zlevel must be a whole number from 1 to 9, not " + value;
          return false;
        }
        tiff.m_nZLevel = value[0] - '0';
      } else if (key == "threads") {
        long threads = 0;
        if (!ParseThreads(value, threads, reason)) return false;
        tiff.m_nThreads = static_cast<int>(threads);
      } else {
        reason = "driver tiff takes no option " + key;
        return false;
      }
    }
    // Settings that only one compression uses are refused with any other.
    const uint16_t compression = tiff.m_nWriteCompression;
    if (tiff.m_nPredictor == PREDICTOR_HORIZONTAL && compression != COMPRESSION_ADOBE_DEFLATE &&
        compression != COMPRESSION_LZW) {
      reason = "predictor=2 needs compress=deflate or compress=lzw";
      return false;
    }
    if (options.count("zlevel") && compression != COMPRESSION_ADOBE_DEFLATE) {
      reason = "zlevel needs compress=deflate";
      return false;
    }
    return true;
  }

  // Classic ("II*\0", "MM\0*") and BigTIFF ("II+\0", "MM\0+") signatures.
  ProbeScore Probe(const std::string& path, const std::vector<unsigned char>& head) const override {
    if (head.size() >= 4 &&
        ((head[0] == 'I' && head[1] == 'I' && (head[2] == 42 || head[2] == 43) && head[3] == 0) ||
         (head[0] == 'M' && head[1] == 'M' && head[2] == 0 && (head[3] == 42 || head[3] == 43))))
      return kContent;
    return kNoMatch;
  }

  std::unique_ptr<CImgFile> Create() const override { return std::make_unique<TiffFile>(); }

  bool OpenRead(CImgFile& file, const std::string& path, std::string& reason) const override {
    TiffFile& tiff = static_cast<TiffFile&>(file);
    if (!tiff.OpenForRead(path.c_str())) {
      reason = "cannot open the file";
      return false;
    }
    reason = UnheldSamples(tiff);
    if (reason.empty() && tiff.LoadImage() < 0) reason = "not a tiff file";
    if (!reason.empty()) {
      tiff.Close();
      return false;
    }
    DeliverCells(tiff);
    if (!tiff.IsMultiBand()) return true;
    // One plane a sample: rows are delivered as interleaved pixels.
    const long bits = tiff.GetBits(), planes = tiff.GetBandCount();
    const ImgPixelFormat format = CVtImgToolkit::Bit2Format(static_cast<unsigned short>(bits * planes));
    if (bits % 8 != 0 || format == PF_UNKNOWN) {
      tiff.Close();
      reason = "planes of " + Text(planes) + " x " + Text(bits) + "-bit samples fit no pixel format";
      return false;
    }
    tiff.m_nPlanes = planes;
    tiff.m_nSampleBytes = bits / 8;
    tiff.m_Plane = CImgScanLine(tiff.GetPixelFormat(), static_cast<long>(tiff.GetWidthBytes()));
    tiff.SetPixelFormat(format);
    tiff.SetPixelFormatExt(format == PF_BIT48 ? PF_BIT24 : format == PF_BIT64 ? PF_BIT32 : format);
    tiff.SetWidthBytes(static_cast<unsigned long>(CVtImgToolkit::AlignWidth(format, static_cast<long>(tiff.GetWidth()))));
    return true;
  }

  // A single sample of 32 bits is a cell, never four colour bytes: a float,
  // or an integer held in a 32-bit cell whose layout says whether it is
  // signed (unsigned ones are read as signed under the grid option). A
  // single 64-bit float is a double cell.
  static void DeliverCells(TiffFile& tiff) {
    if (tiff.GetBandCount() != 1) return;
    const long bits = tiff.GetBits(), format = tiff.GetSampleFormat();
    ImgPixelFormat cells = PF_UNKNOWN;
    if (bits == 32) cells = format == SAMPLEFORMAT_IEEEFP ? PF_FLOAT32 : PF_INT32;
    if (bits == 64 && format == SAMPLEFORMAT_IEEEFP) cells = PF_FLOAT64;
    if (cells == PF_UNKNOWN || cells == tiff.GetPixelFormat()) return;
    tiff.SetPixelFormat(cells);
    tiff.SetPixelFormatExt(cells);
    const unsigned long bytes = static_cast<unsigned long>(CVtImgToolkit::AlignWidth(cells, static_cast<long>(tiff.GetWidth())));
    tiff.SetWidthBytes(std::max(bytes, tiff.GetWidthBytes()));
  }

  long ReadRow(CImgFile& file, long row, CImgScanLine& line) const override {
    TiffFile& tiff = static_cast<TiffFile&>(file);
    if (tiff.m_nPlanes <= 1) return tiff.ReadScanLine(row, line);
    const size_t width = tiff.GetWidth(), sampleBytes = static_cast<size_t>(tiff.m_nSampleBytes);
    const size_t pixelBytes = sampleBytes * static_cast<size_t>(tiff.m_nPlanes);
    if (static_cast<size_t>(line.GetSize()) < width * pixelBytes) return -1;
    for (long s = 0; s < tiff.m_nPlanes; ++s) {
      if (tiff.ReadScanLine(row, tiff.m_Plane, static_cast<int>(s)) < 0) return -1;
      const unsigned char* from = tiff.m_Plane.GetData();
      unsigned char* to = line.GetData() + s * sampleBytes;
      for (size_t x = 0; x < width; ++x, from += sampleBytes, to += pixelBytes) std::memcpy(to, from, sampleBytes);
    }
    return line.GetSize();
  }

  bool RowsRedFirst(CImgFile&) const override { return true; }
  // The fourth sample is opacity when the extra-samples tag says so.
  FourthSample Fourth(CImgFile& file) const override {
    return static_cast<TiffFile&>(file).AlphaSample() ? FourthSample::kAlpha : FourthSample::kValue;
  }
  // One sample of 16 bits or more, or of signed or float samples, holds
  // measured values rather than a grey level.
  bool HoldsCells(CImgFile& file) const override {
    TiffFile& tiff = static_cast<TiffFile&>(file);
    const long format = tiff.GetSampleFormat();
    return tiff.GetBandCount() == 1 && (Bits(tiff) >= 16 || format == 2 || format == 3);
  }

  bool GetBounds(CImgFile& file, CRect2D& bounds) const override {
    TiffFile& tiff = static_cast<TiffFile&>(file);
    return tiff.LoadGeoImage(bounds, 10000) == 1 && tiff.HasGeoTags();
  }

  InfoLines ExtraInfo(CImgFile& file) const override {
    TiffFile& tiff = static_cast<TiffFile&>(file);
    InfoLines lines = {{"tiled", tiff.m_bTiled ? "1" : "0"},
                       {"bands", Text(tiff.GetBandCount())},
                       {"bits_per_sample", Text(tiff.GetBits())},
                       {"sample_format", Text(tiff.GetSampleFormat())},
                       {"compression", Text(tiff.GetCompression())},
                       {"planar", tiff.IsMultiBand() ? "separate" : "contiguous"}};
    // Why a file that places its image has no bounds.
    CRect2D bounds;
    tiff.LoadGeoImage(bounds, 10000);
    if (!tiff.GeoNote().empty()) lines.push_back({"bounds_note", tiff.GeoNote()});
    if (tiff.GeoTagsCut()) lines.push_back({"warning", "the file is damaged: its georeferencing cannot be read whole"});
    if (tiff.DeliversCmykAsRgb()) lines.push_back({"inks", "CMYK, delivered as RGB"});
    return lines;
  }

  // Samples as the tags give them, when they make up the delivered pixel;
  // complex integers have no array type (the open refuses them); 32-bit
  // unsigned cells are signed under the grid option.
  bool Layout(CImgFile& file, RowLayout& layout) const override {
    TiffFile& tiff = static_cast<TiffFile&>(file);
    const long samples = tiff.GetBandCount(), bits = Bits(tiff), format = tiff.GetSampleFormat();
    const ImgPixelFormat pixel = tiff.GetPixelFormat();
    const long pixelBits = pixel == PF_INT32 || pixel == PF_FLOAT32 ? 32 : pixel == PF_FLOAT64 ? 64 : pixel;
    if (samples * bits != pixelBits || format == SAMPLEFORMAT_COMPLEXINT) return RasterDriver::Layout(file, layout);
    const char kind = format == SAMPLEFORMAT_INT            ? 'i'
                      : format == SAMPLEFORMAT_IEEEFP       ? 'f'
                      : format == SAMPLEFORMAT_COMPLEXIEEEFP ? 'c'
                      : SignedByOption(tiff)                 ? 'i'
                                                             : 'u';
    layout = {static_cast<int>(samples), static_cast<int>(bits), kind};
    return true;
  }

  bool UnsignedCells(CImgFile& file) const override {
    TiffFile& tiff = static_cast<TiffFile&>(file);
    return tiff.GetSampleFormat() != SAMPLEFORMAT_INT && !SignedByOption(tiff);
  }

  // Cells are written as signed samples (16-bit ones included).
  void TakeCells(CImgFile& file) const override {
    TiffFile& tiff = static_cast<TiffFile&>(file);
    tiff.m_bGrid = 1;
    tiff.m_bUnsignedCells = 0;
  }
  void TakeUnsignedCells(CImgFile& file) const override {
    TiffFile& tiff = static_cast<TiffFile&>(file);
    tiff.m_bGrid = 1;
    tiff.m_bUnsignedCells = 1;
  }

  // The tie point and pixel scale go in before the image fields.
  void SetBounds(CImgFile& file, const CRect2D& bounds) const override {
    static_cast<TiffFile&>(file).SaveGeoImage(bounds);
  }

  bool FinishWrite(CImgFile& file, std::string& reason) const override {
    const bool flushed = static_cast<TiffFile&>(file).FlushWrite();
    file.Close();
    if (!flushed) reason = "the file could not be completed";
    return flushed;
  }
};

const TiffDriver kDriver;
const RegisterDriver kRegistered(50, &kDriver);

}  // namespace
}  // namespace vtfmt
