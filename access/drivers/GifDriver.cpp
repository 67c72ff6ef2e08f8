// GIF: reads the first image of any GIF giflib decodes (indices, top row
// first); writes by gathering the rows into a device bitmap and exporting it
// as an interlaced GIF, the only way the driver writes: indexed rows keep
// their indices and palette, pictures of up to 256 colours their colours,
// and only pictures of more colours are quantized. Alpha of 32-bit rows, when
// the caller says the fourth sample is alpha, becomes GIF transparency.
#include <gif_lib.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "access/RasterDriver.h"
#include "platform/mfc/CBitmap.h"
#include "platform/mfc/CDC.h"
#include "platform/vtcore/CVtImgToolkit.h"
#include "raster/CVtImgFileGIF.h"

namespace vtfmt {
namespace {

// The driver with the rows of a file being written, held until the export.
class GifToolFile final : public CVtImgFileGIF {
 public:
  std::string m_strOutPath;
  std::vector<BYTE> m_Bits;  // device-dependent rows, top row first
  size_t m_nStride = 0;      // bytes of one such row
  bool m_bAlpha = false;     // the fourth byte of 32-bit rows is alpha

  // Hands the fourth bytes of the gathered 32-bit rows to the export as its
  // alpha (the device bitmap does not keep them).
  void TakeAlphaFromRows() {
    const size_t width = GetWidth(), height = GetHeight();
    m_Alpha.resize(width * height);
    for (size_t y = 0; y < height; ++y)
      for (size_t x = 0; x < width; ++x) m_Alpha[y * width + x] = m_Bits[y * m_nStride + 4 * x + 3];
  }
};

class GifDriver final : public RasterDriver {
 public:
  const char* Name() const override { return "gif"; }
  bool CanRead() const override { return true; }
  bool CanWrite() const override { return true; }
  // Indices with their palette; colours (blue first), fully transparent
  // pixels kept as the transparent index.
  std::vector<RowForm> WriteForms() const override {
    return {IndexedForm(1), IndexedForm(4), IndexedForm(8), ColourForm(3, 8, false),
            ColourForm(4, 8, false, FourthSample::kUnused), ColourForm(4, 8, false, FourthSample::kAlpha), MaskedForm()};
  }
  std::vector<std::string> Extensions() const override { return {".gif"}; }

  ProbeScore Probe(const std::string&, const std::vector<unsigned char>& head) const override {
    return head.size() >= 3 && std::memcmp(head.data(), "GIF", 3) == 0 ? kContent : kNoMatch;
  }

  std::unique_ptr<CImgFile> Create() const override { return std::make_unique<GifToolFile>(); }

  bool OpenRead(CImgFile& file, const std::string& path, std::string& reason) const override {
    if (!file.OpenForRead(path.c_str())) {
      reason = "cannot read the GIF";
      return false;
    }
    if (file.LoadImage() < 0) {
      file.Close();
      reason = "not a GIF file";
      return false;
    }
    return true;
  }

  bool PaletteRedFirst(CImgFile&) const override { return true; }
  void TakeAlpha(CImgFile& file) const override { static_cast<GifToolFile&>(file).m_bAlpha = true; }

  InfoLines ExtraInfo(CImgFile& file) const override {
    const GifFileType* gif = static_cast<CVtImgFileGIF&>(file).GetGifFile();
    if (!gif || gif->ImageCount < 1) return {};
    const GifImageDesc& desc = gif->SavedImages[0].ImageDesc;
    return {{"screen", std::to_string(gif->SWidth) + " x " + std::to_string(gif->SHeight)},
            {"color_resolution", std::to_string(gif->SColorResolution)},
            {"global_colors", std::to_string(gif->SColorMap ? gif->SColorMap->ColorCount : 0)},
            {"images", std::to_string(gif->ImageCount)},
            {"interlaced", desc.Interlace ? "yes" : "no"},
            {"local_colors", std::to_string(desc.ColorMap ? desc.ColorMap->ColorCount : 0)}};
  }

  // Nothing is created before the export, which refuses existing files: an
  // existing file is replaced, as the other writers truncate theirs. Whether
  // the name can be created at all is checked now.
  bool OpenWrite(CImgFile& file, const std::string& path, std::string& reason) const override {
    std::remove(path.c_str());
    FILE* probe = std::fopen(path.c_str(), "wb");
    if (!probe) {
      reason = "cannot create the file";
      return false;
    }
    std::fclose(probe);
    std::remove(path.c_str());
    static_cast<GifToolFile&>(file).m_strOutPath = path;
    return true;
  }

  // Device bitmaps hold 1-, 4- and 8-bit indices, 5-5-5, 24- and 32-bit
  // colours; the export reduces them to 256 colours.
  bool SaveHeader(CImgFile& file, std::string& reason) const override {
    GifToolFile& gif = static_cast<GifToolFile&>(file);
    const ImgPixelFormat format = gif.GetPixelFormat();
    const int bpp = format == PF_BIT1 || format == PF_BIT4 || format == PF_BIT8 || format == PF_BIT16 ||
                            format == PF_BIT24 || format == PF_BIT32
                        ? static_cast<int>(format)
                        : 0;
    if (bpp == 0) {
      reason = "pixel format " + std::to_string(static_cast<int>(format)) + " cannot be written as GIF";
      return false;
    }
    if (format == PF_BIT16 && gif.m_Palette.GetSize() == 3) {
      const DWORD kFiveFiveFive[3] = {0x7C00, 0x03E0, 0x001F};
      if (std::memcmp(gif.m_Palette.GetData(), kFiveFiveFive, sizeof kFiveFiveFive) != 0) {
        reason = "16-bit pixels with colour masks other than 5-5-5 cannot be written";
        return false;
      }
    }
    if (gif.GetWidth() == 0 || gif.GetHeight() == 0 || gif.GetWidth() > 0xFFFF || gif.GetHeight() > 0xFFFF) {
      reason = "a GIF holds 1 to 65535 pixels a side";
      return false;
    }
    gif.m_nStride = (static_cast<size_t>(gif.GetWidth()) * bpp + 15) / 16 * 2;
    gif.SetWidthBytes(static_cast<unsigned long>(gif.m_nStride));
    try {
      gif.m_Bits.assign(gif.m_nStride * gif.GetHeight(), 0);
    } catch (const std::bad_alloc&) {
      reason = "not enough memory to gather the image";
      return false;
    }
    return true;
  }

  long WriteRow(CImgFile& file, long row, CImgScanLine& line) const override {
    GifToolFile& gif = static_cast<GifToolFile&>(file);
    const size_t bytes = static_cast<size_t>(CVtImgToolkit::AlignWidthByte(gif.GetPixelFormat(), gif.GetWidth()));
    if (row < 0 || static_cast<unsigned long>(row) >= gif.GetHeight() || static_cast<size_t>(line.GetSize()) < bytes)
      return -1;
    std::memcpy(gif.m_Bits.data() + static_cast<size_t>(row) * gif.m_nStride, line.GetData(), bytes);
    return 1;
  }

  bool FinishWrite(CImgFile& file, std::string& reason) const override {
    GifToolFile& gif = static_cast<GifToolFile&>(file);
    const int bpp = static_cast<int>(gif.GetPixelFormat());
    if (gif.m_bAlpha && bpp == 32) {
      try {
        gif.TakeAlphaFromRows();
      } catch (const std::bad_alloc&) {
        reason = "not enough memory for the image's alpha";
        return false;
      }
    }
    CBitmap bitmap;
    bitmap.Attach(CreateBitmap(static_cast<int>(gif.GetWidth()), static_cast<int>(gif.GetHeight()), 1,
                               static_cast<UINT>(bpp), gif.m_Bits.data()));
    std::vector<BYTE>().swap(gif.m_Bits);
    CDC dc;
    if (!bitmap.GetSafeHandle() || !dc.CreateCompatibleDC(nullptr)) {
      reason = "cannot make a device bitmap of the image";
      return false;
    }
    if (bpp <= 8) {
      // The colour table: the palette, red first, black beyond it; without a
      // palette the indices are grey levels (index i is grey i).
      std::vector<RGBQUAD> table(size_t(1) << bpp, RGBQUAD{0, 0, 0, 0});
      const size_t entries = static_cast<size_t>(gif.m_Palette.GetSize());
      for (size_t i = 0; i < table.size(); ++i) {
        if (entries == 0) {
          const BYTE grey = static_cast<BYTE>(i);
          table[i] = RGBQUAD{grey, grey, grey, 0};
        } else if (i < entries) {
          const PALETTEENTRY& e = gif.m_Palette[static_cast<int>(i)];
          table[i] = RGBQUAD{e.peBlue, e.peGreen, e.peRed, 0};
        }
      }
      dc.SelectObject(&bitmap);
      SetDIBColorTable(dc.GetSafeHdc(), 0, static_cast<UINT>(table.size()), table.data());
    }
    const long result = gif.OutputDirect(gif.m_strOutPath.c_str(), &dc, &bitmap, PF_BIT24, CRect2D());
    gif.Close();
    if (result < 0) {
      reason = "export failed (" + std::to_string(result) + ")";
      return false;
    }
    return true;
  }
};

const GifDriver kDriver;
const RegisterDriver kRegistered(80, &kDriver);

}  // namespace
}  // namespace vtfmt
