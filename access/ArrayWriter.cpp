#include "access/ArrayWriter.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/mfc/CException.h"
#include "access/RowConvert.h"
#include "platform/vtcore/CVtImgToolkit.h"

namespace vtfmt {

namespace {

// The pixel format that holds pixels of `samples` samples of `type`, and
// whether they are measured values; PF_UNKNOWN for none.
ImgPixelFormat FormatOf(int samples, ArrayType type, bool& cells) {
  cells = samples == 1 && (type.bytes > 1 || type.kind != 'u');
  const int bits = type.bytes * 8;
  if (type.kind == 'u' && bits == 8) return samples == 1 ? PF_BIT8 : samples == 3 ? PF_BIT24 : samples == 4 ? PF_BIT32 : PF_UNKNOWN;
  if (type.kind == 'u' && bits == 16) return samples == 1 ? PF_BIT16 : samples == 3 ? PF_BIT48 : samples == 4 ? PF_BIT64 : PF_UNKNOWN;
  if (samples != 1) return PF_UNKNOWN;
  if (type.kind == 'i' && bits == 16) return PF_BIT16;
  if (type.kind == 'i' && bits == 32) return PF_INT32;
  if (type.kind == 'f' && bits == 32) return PF_FLOAT32;
  if (type.kind == 'f' && bits == 64) return PF_FLOAT64;
  return PF_UNKNOWN;
}

std::string TypeName(ArrayType type) {
  const char* kind = type.kind == 'u' ? "uint" : type.kind == 'i' ? "int" : type.kind == 'f' ? "float" : "complex";
  return kind + std::to_string(type.bytes * 8);
}

}  // namespace

void WriteArray(const std::string& path, const std::string& driverName, const Options& options,
                const ArrayImage& image, const std::optional<CRect2D>& bounds, const std::vector<unsigned char>& palette) {
  const RasterDriver* writer = nullptr;
  if (!driverName.empty()) {
    writer = &NamedDriver(driverName, true);
  } else {
    writer = DetectWriter(path);
    if (!writer) throw ArrayArgumentError("no writing driver claims " + path + " (name the driver)");
  }
  if (image.width == 0 || image.height == 0) throw ArrayArgumentError("the array has no pixels");
  if (image.width > 0x7FFFFFFFul || image.height > 0x7FFFFFFFul) throw ArrayArgumentError("the array is too large");
  bool cells = false;
  const ImgPixelFormat format = FormatOf(image.samples, image.type, cells);
  if (format == PF_UNKNOWN)
    throw ArrayArgumentError("arrays of " + TypeName(image.type) + " with " + std::to_string(image.samples) +
                             " samples a pixel fit no pixel format");
  const std::string writerName = path + ": driver " + writer->Name() + ": ";
  if (cells && writer->WritesPictures())
    throw ArrayArgumentError(writerName + "the array holds " + TypeName(image.type) +
                             " cells, not colours; scale them to uint8 first");
  if (!palette.empty() && (format != PF_BIT8 || palette.size() > 256 * 4 || palette.size() % 4 != 0))
    throw ArrayArgumentError("a palette of up to 256 entries goes with 2-d uint8 arrays");
  // Unsigned 16-bit cells go to a text grid as 32-bit ones, which hold
  // every value; the platform's 16-bit cells are signed. Elsewhere they
  // stay unsigned: the writer is not told they are (signed) cells.
  const bool unsigned16 = format == PF_BIT16 && image.type.kind == 'u';
  const bool widen = unsigned16 && writer->WritesValues();
  const ImgPixelFormat outFormat = widen ? PF_INT32 : format;

  std::unique_ptr<CImgFile> dst = writer->Create();
  std::string reason;
  if (!writer->ApplyOptions(*dst, options, reason)) throw ArrayArgumentError(reason);
  auto failure = [&](const std::string& why) {
    const std::string message = DriverMessage();
    return ArrayError(writerName + why + (message.empty() ? "" : ": " + message));
  };
  ClearDriverMessage();
  if (!writer->OpenWrite(*dst, path, reason)) throw failure(reason);
  dst->SetWidth(image.width);
  dst->SetHeight(image.height);
  dst->SetPixelFormat(outFormat);
  dst->SetPixelFormatExt(outFormat);
  if (format == PF_BIT8) {
    if (palette.empty()) {
      CImgFile::CreateGrayPalette(dst->m_Palette, 256);
    } else {
      const bool redFirst = writer->PaletteRedFirst(*dst);
      // All 256 entries, the ones not given black: writers replace a
      // shorter palette with a grey ramp.
      dst->m_Palette.SetSize(256);
      for (int i = 0; i < 256; ++i) {
        const size_t at = static_cast<size_t>(i) * 4;
        const unsigned char* e = at < palette.size() ? &palette[at] : nullptr;
        dst->m_Palette[i] = e ? PALETTEENTRY{redFirst ? e[0] : e[2], e[1], redFirst ? e[2] : e[0], 0} : PALETTEENTRY{0, 0, 0, 0};
      }
    }
  }
  if (cells && (!unsigned16 || widen)) writer->TakeCells(*dst);
  if (bounds) writer->SetBounds(*dst, *bounds);
  const bool swapColours = image.samples >= 3 && image.redFirst != writer->RowsRedFirst(*dst);
  const bool bottomUp = writer->BottomUp(*dst);

  // A half-written file is of no use: it goes.
  auto abandon = [&] {
    dst->Abort();
    RemovePartialFile(path);
  };
  try {
    if (!writer->SaveHeader(*dst, reason)) throw failure(reason);
    const size_t sample = static_cast<size_t>(image.type.bytes);
    const size_t pixel = sample * static_cast<size_t>(image.samples);
    const size_t rowBytes = pixel * image.width;
    const size_t stride = image.rowBytes ? image.rowBytes : rowBytes;
    const long lineBytes = std::max<long>(
        {static_cast<long>(dst->GetWidthBytes()), CVtImgToolkit::AlignWidthByte(outFormat, static_cast<long>(image.width)),
         static_cast<long>(widen ? 4 * image.width : rowBytes)});
    CImgScanLine line(outFormat, lineBytes);
    if (line.GetSize() < lineBytes) throw failure("a row is too long to hold");
    for (unsigned long k = 0; k < image.height; ++k) {
      const unsigned long y = bottomUp ? image.height - 1 - k : k;
      const unsigned char* from = image.data + y * stride;
      unsigned char* to = line.GetData();
      if (widen) {
        WidenUnsigned16(from, to, image.width);
      } else {
        std::memcpy(to, from, rowBytes);
        if (swapColours) SwapRedBlue(to, image.width, static_cast<size_t>(image.samples), sample);
      }
      ClearDriverMessage();
      if (writer->WriteRow(*dst, static_cast<long>(k), line) < 0) throw failure("cannot write row " + std::to_string(k));
    }
    if (!writer->FinishWrite(*dst, reason)) throw failure(reason);
  } catch (const ArrayError&) {
    abandon();
    throw;
  } catch (const CFileException& e) {
    abandon();
    throw ArrayError(writerName + e.what());
  }
}

}  // namespace vtfmt
