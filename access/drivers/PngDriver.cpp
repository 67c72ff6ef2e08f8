// PNG images: read every colour type but through one pass of rows, top row
// first; write indexed, grey, 16-bit 5-6-5, 24- and 32-bit images, large
// ones compressed on every core (-oo threads=N; 1 for the calling thread).
#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <string>

#include "access/RasterDriver.h"
#include "raster/CImgFilePng.h"

namespace vtfmt {
namespace {

// The colour masks of 5-6-5 pixels, kept in the palette of 16-bit images
// as the bitmap driver keeps its masks.
const DWORD kFiveSixFive[3] = {0xF800, 0x07E0, 0x001F};

class PngDriver final : public RasterDriver {
 public:
  const char* Name() const override { return "png"; }
  bool CanRead() const override { return true; }
  bool CanWrite() const override { return true; }
  std::vector<RowForm> WriteForms() const override {
    return {IndexedForm(1), IndexedForm(4), IndexedForm(8), GreyForm(), ColourForm(3, 8, true),
            ColourForm(4, 8, true, FourthSample::kAlpha), MaskedForm()};
  }
  // Transparency is read into the fourth sample.
  FourthSample Fourth(CImgFile&) const override { return FourthSample::kAlpha; }
  std::vector<std::string> Extensions() const override { return {".png"}; }
  std::vector<std::pair<std::string, std::string>> OptionKeys() const override {
    return {{"max_memory", "megabytes an interlaced image, decoded whole, may take (default 2048)"},
            {"threads", "threads that compress a written image, 1 to 1024 (default: one a core)"}};
  }

  bool ApplyOptions(CImgFile& file, const Options& options, std::string& reason) const override {
    for (const auto& option : options) {
      if (option.first == "threads") {
        long threads = 0;
        if (!ParseThreads(option.second, threads, reason)) return false;
        static_cast<CImgFilePng&>(file).SetThreads(static_cast<int>(threads));
        continue;
      }
      if (option.first != "max_memory") {
        reason = "driver png takes no option " + option.first;
        return false;
      }
      const std::string& text = option.second;
      uint64_t mb = 0;
      const auto parsed = std::from_chars(text.data(), text.data() + text.size(), mb);
      if (text.empty() || parsed.ec != std::errc() || parsed.ptr != text.data() + text.size() || mb < 1 ||
          mb > (uint64_t(1) << 40)) {
        reason = "max_memory must be a whole number of megabytes, at least 1, not " + text;
        return false;
      }
      static_cast<CImgFilePng&>(file).SetMaxImageBytes(mb << 20);
    }
    return true;
  }

  ProbeScore Probe(const std::string&, const std::vector<unsigned char>& head) const override {
    static const unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    return head.size() >= 8 && std::memcmp(head.data(), kSignature, 8) == 0 ? kContent : kNoMatch;
  }

  std::unique_ptr<CImgFile> Create() const override { return std::make_unique<CImgFilePng>(); }

  bool SequentialRead() const override { return true; }
  bool PaletteRedFirst(CImgFile&) const override { return true; }
  // Colour rows are read blue first and written red first.
  bool RowsRedFirst(CImgFile& file) const override { return !static_cast<CImgFilePng&>(file).IsReading(); }

  bool OpenRead(CImgFile& file, const std::string& path, std::string& reason) const override {
    if (!RasterDriver::OpenRead(file, path, reason)) return false;
    if (file.GetPixelFormat() == PF_BIT16) {
      file.m_Palette.SetSize(3);
      std::memcpy(file.m_Palette.GetData(), kFiveSixFive, sizeof kFiveSixFive);
    }
    return true;
  }

  InfoLines ExtraInfo(CImgFile& file) const override {
    const CImgFilePng& png = static_cast<CImgFilePng&>(file);
    return {{"bit_depth", std::to_string(png.GetBitDepth())},
            {"color_type", std::to_string(png.GetColorType())},
            {"interlaced", png.GetInterlace() ? "yes" : "no"},
            {"transparency", png.HasTransparency() ? "yes" : "no"}};
  }

  bool SaveHeader(CImgFile& file, std::string& reason) const override {
    const ImgPixelFormat format = file.GetPixelFormat();
    if (format == PF_BIT16) {
      // Only 5-6-5 pixels keep their colours; 5-5-5 ones and single
      // samples would not. The masks may come with red and blue bytes
      // exchanged, as palettes of blue-first drivers do.
      DWORD swapped[3];
      for (int i = 0; i < 3; ++i)
        swapped[i] = (kFiveSixFive[i] & 0xFF00FF00u) | ((kFiveSixFive[i] >> 16) & 0xFF) | ((kFiveSixFive[i] & 0xFF) << 16);
      if (file.m_Palette.GetSize() != 3 ||
          (std::memcmp(file.m_Palette.GetData(), kFiveSixFive, sizeof kFiveSixFive) != 0 &&
           std::memcmp(file.m_Palette.GetData(), swapped, sizeof swapped) != 0)) {
        reason = "16-bit pixels other than 5-6-5 cannot be written";
        return false;
      }
      std::memcpy(file.m_Palette.GetData(), kFiveSixFive, sizeof kFiveSixFive);
    }
    // The writer takes an 8-bit image for grey unless its palette has 256
    // entries: a shorter palette is filled up with black so the colours stay.
    const int entries = file.m_Palette.GetSize();
    if (format == PF_BIT8 && entries > 0 && entries < 256) {
      file.m_Palette.SetSize(256);
      for (int i = entries; i < 256; ++i) file.m_Palette[i] = PALETTEENTRY{0, 0, 0, 0};
    }
    return RasterDriver::SaveHeader(file, reason);
  }

  bool FinishWrite(CImgFile& file, std::string& reason) const override {
    CImgFilePng& png = static_cast<CImgFilePng&>(file);
    png.Close();
    if (png.WriteComplete()) return true;
    reason = "the image could not be completed";
    return false;
  }
};

const PngDriver kDriver;
const RegisterDriver kRegistered(60, &kDriver);

}  // namespace
}  // namespace vtfmt
