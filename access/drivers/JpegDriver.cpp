// JPEG: read grey, RGB and CMYK files (baseline and progressive; CMYK as
// RGB), write baseline files at the quality -oo quality=N gives (100 unless
// set). Rows are read once each, in order, red first.
#include <charconv>
#include <string>

#include "access/RasterDriver.h"
#include "raster/CImgFileJPEG.h"

namespace vtfmt {
namespace {

class JpegDriver final : public RasterDriver {
 public:
  const char* Name() const override { return "jpeg"; }
  bool CanRead() const override { return true; }
  bool CanWrite() const override { return true; }
  std::vector<RowForm> WriteForms() const override { return {GreyForm(), ColourForm(3, 8, true)}; }
  std::vector<std::string> Extensions() const override { return {".jpg", ".jpeg"}; }
  std::vector<std::pair<std::string, std::string>> OptionKeys() const override {
    return {{"quality", "JPEG quality of written files, 0 to 100 (default 100)"}};
  }

  // Every JPEG stream starts with a start-of-image marker and another marker.
  ProbeScore Probe(const std::string&, const std::vector<unsigned char>& head) const override {
    if (head.size() >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF) return kContent;
    return kNoMatch;
  }

  std::unique_ptr<CImgFile> Create() const override { return std::make_unique<CImgFileJPEG>(); }

  bool ApplyOptions(CImgFile& file, const Options& options, std::string& reason) const override {
    for (const auto& option : options) {
      if (option.first != "quality") {
        reason = "driver jpeg takes no option " + option.first;
        return false;
      }
      const std::string& text = option.second;
      int value = -1;
      const auto parsed = std::from_chars(text.data(), text.data() + text.size(), value);
      if (text.empty() || parsed.ec != std::errc() || parsed.ptr != text.data() + text.size() || value < 0 ||
          value > 100) {
        reason = "quality must be a whole number from 0 to 100, not " + text;
        return false;
      }
      static_cast<CImgFileJPEG&>(file).SetQuality(static_cast<unsigned char>(value));
    }
    return true;
  }

  bool SequentialRead() const override { return true; }
  bool RowsRedFirst(CImgFile&) const override { return true; }

  InfoLines ExtraInfo(CImgFile& file) const override {
    const jpeg_decompress_struct& d = static_cast<CImgFileJPEG&>(file).m_Decompress;
    return {{"progressive", d.progressive_mode ? "yes" : "no"},
            {"jpeg_color_space", std::to_string(d.jpeg_color_space)},
            {"components", std::to_string(d.num_components)}};
  }

  // JPEG keeps 8-bit pixels as grey levels: indexes into a colour palette
  // would lose their colours, so only a grey ramp (or no palette) goes.
  bool SaveHeader(CImgFile& file, std::string& reason) const override {
    if (file.GetPixelFormat() == PF_BIT8) {
      const auto& palette = file.m_Palette;
      for (int i = 0; i < palette.GetSize(); ++i) {
        const PALETTEENTRY& e = palette[i];
        if (e.peRed != i || e.peGreen != i || e.peBlue != i) {
          reason = "8-bit pixels with a colour palette cannot be written (JPEG stores grey levels)";
          return false;
        }
      }
    }
    return RasterDriver::SaveHeader(file, reason);
  }

  bool FinishWrite(CImgFile& file, std::string& reason) const override {
    CImgFileJPEG& jpeg = static_cast<CImgFileJPEG&>(file);
    jpeg.Close();
    if (!jpeg.LastCloseFailed()) return true;
    reason = "the file could not be completed";
    return false;
  }
};

const JpegDriver kDriver;
const RegisterDriver kRegistered(70, &kDriver);

}  // namespace
}  // namespace vtfmt
