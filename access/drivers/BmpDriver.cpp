// Windows and OS/2 bitmaps: read every kind, write uncompressed files with a
// 40-byte header. Rows are stored bottom first unless the height was negative.
#include <cstring>
#include <string>

#include "access/RasterDriver.h"
#include "raster/CImgFileBmp.h"

namespace vtfmt {
namespace {

class BmpDriver final : public RasterDriver {
 public:
  const char* Name() const override { return "bmp"; }
  bool CanRead() const override { return true; }
  bool CanWrite() const override { return true; }
  // Indices with their palette (grey levels under a grey one), colours blue
  // first, 5-5-5 pixels.
  std::vector<RowForm> WriteForms() const override {
    return {IndexedForm(1), IndexedForm(4), IndexedForm(8), ColourForm(3, 8, false),
            ColourForm(4, 8, false, FourthSample::kUnused), MaskedForm()};
  }
  std::vector<std::string> Extensions() const override { return {".bmp"}; }

  // Every bitmap starts with its signature, so the content alone decides: a
  // .bmp name without it (or a missing file) is left to other drivers, such
  // as a raw raster whose sidecar sits beside that name.
  ProbeScore Probe(const std::string&, const std::vector<unsigned char>& head) const override {
    if (head.size() >= 2 && ((head[0] == 'B' && head[1] == 'M') || (head[0] == 'b' && head[1] == 'm')))
      return kContent;
    return kNoMatch;
  }

  // 16-bit pixels come out as 24-bit colours through their masks, so every
  // writer (a bitmap one included) gets the colours, whatever the masks.
  std::unique_ptr<CImgFile> Create() const override {
    auto bmp = std::make_unique<CImgFileBmp>();
    bmp->m_bSixteenAsRgb = true;
    return bmp;
  }

  // OS/2 headers keep their colours red first.
  bool PaletteRedFirst(CImgFile& file) const override {
    return static_cast<CImgFileBmp&>(file).m_wHeaderKind == CImgFileBmp::kOs2Header;
  }

  bool BottomUp(CImgFile& file) const override { return static_cast<CImgFileBmp&>(file).m_dwTopDown == 0; }
  // The writer stores 16-bit pixels without colour masks, which readers take
  // for 5-5-5. 16-bit pixels of other masks from other sources (bitmaps are
  // read as 24-bit colours) would change colour, so they are refused.
  bool SaveHeader(CImgFile& file, std::string& reason) const override {
    const CArray<PALETTEENTRY, PALETTEENTRY>& masks = file.m_Palette;
    // A 16-bit source with a grey palette (a TIFF's) holds single samples,
    // not colours.
    if (file.GetPixelFormat() == PF_BIT16 && masks.GetSize() > 3) {
      reason = "16-bit single samples are not bitmap colours";
      return false;
    }
    if (file.GetPixelFormat() == PF_BIT16 && masks.GetSize() == 3) {
      const DWORD kFiveFiveFive[3] = {0x7C00, 0x03E0, 0x001F};
      if (std::memcmp(masks.GetData(), kFiveFiveFive, sizeof kFiveFiveFive) != 0) {
        reason = "16-bit pixels with colour masks other than 5-5-5 cannot be written";
        return false;
      }
    }
    return RasterDriver::SaveHeader(file, reason);
  }

  InfoLines ExtraInfo(CImgFile& file) const override {
    const CImgFileBmp& bmp = static_cast<CImgFileBmp&>(file);
    const bool os2 = bmp.m_wHeaderKind == CImgFileBmp::kOs2Header;
    return {{"header", os2 ? "os2" : "windows"},
            {"header_size", std::to_string(os2 ? bmp.m_bmcHeader.bcSize : bmp.m_bmiHeader.biSize)},
            {"compression", std::to_string(bmp.GetCompression())},
            {"off_bits", std::to_string(bmp.m_bmfHeader.bfOffBits)}};
  }
};

const BmpDriver kDriver;
const RegisterDriver kRegistered(20, &kDriver);

}  // namespace
}  // namespace vtfmt
