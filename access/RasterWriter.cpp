#include "access/RasterWriter.h"

#include <algorithm>
#include <cstring>

#include "platform/mfc/CException.h"
#include "platform/vtcore/CVtImgToolkit.h"

namespace vtfmt {

bool RasterWriter::Plan(const RasterDriver& writer, const RowDescription& source, RowPlan& plan,
                        std::string& reason) {
  if (source.samples == 0) {
    reason =
        "pixel format " + std::to_string(static_cast<int>(source.format)) + " has no row form to convert";
    return false;
  }
  return plan.Choose(source, writer.WriteForms(), writer.Name(), reason);
}

RasterWriter::RasterWriter(const std::string& path, const RasterDriver& writer, const Options& options,
                           const RowDescription& source, const RowPlan& plan)
    : path_(path), writer_(writer), plan_(plan) {
  if (source.width == 0 || source.height == 0) throw ArrayArgumentError("the image has no pixels");
  if (source.width > 0x7FFFFFFFul || source.height > 0x7FFFFFFFul)
    throw ArrayArgumentError("the image is too large");
  file_ = writer.Create();
  std::string reason;
  if (!writer.ApplyOptions(*file_, options, reason)) throw ArrayArgumentError(reason);
  ClearDriverMessage();
  if (!writer.OpenWrite(*file_, path, reason)) throw ArrayError(Failure(reason));
  open_ = true;
  CImgFile& dst = *file_;
  const RowForm& target = plan_.Target();
  const ImgPixelFormat format = plan_.TargetFormat();
  dst.SetWidth(source.width);
  dst.SetHeight(source.height);
  dst.SetPixelFormat(format);
  dst.SetPixelFormatExt(format);
  dst.m_Palette.SetSize(0);
  if (target.content == RowContent::kIndexed) {
    // Every entry the indices can name, in the writer's byte order.
    const bool redFirst = writer.PaletteRedFirst(dst);
    const auto& palette = plan_.TargetPalette();
    dst.m_Palette.SetSize(static_cast<int>(palette.size()));
    for (size_t i = 0; i < palette.size(); ++i) {
      const auto& e = palette[i];
      dst.m_Palette[static_cast<int>(i)] =
          PALETTEENTRY{redFirst ? e[0] : e[2], e[1], redFirst ? e[2] : e[0], 0};
    }
  } else if (target.content == RowContent::kMasked) {
    dst.m_Palette.SetSize(3);
    std::memcpy(dst.m_Palette.GetData(), plan_.TargetMasks().data(), 3 * sizeof(uint32_t));
  } else if (target.content == RowContent::kCells) {
    if (target.kind == 'u')
      writer.TakeUnsignedCells(dst);
    else
      writer.TakeCells(dst);
  }
  if (plan_.TargetAlpha()) writer.TakeAlpha(dst);
  if (source.bounds) writer.SetBounds(dst, *source.bounds);
  bottomUp_ = writer.BottomUp(dst);
  try {
    if (!writer.SaveHeader(dst, reason)) throw ArrayError(Failure(reason));
    const long bytes = std::max<long>({static_cast<long>(dst.GetWidthBytes()),
                                       CVtImgToolkit::AlignWidthByte(format, static_cast<long>(source.width)),
                                       static_cast<long>(plan_.TargetRowBytes())});
    line_ = CImgScanLine(format, bytes);
    if (line_.GetSize() < bytes) throw ArrayError(Failure("a row is too long to hold"));
  } catch (const ArrayError&) {
    Abandon();
    throw;
  } catch (const CFileException& e) {
    Abandon();
    throw ArrayError(Failure(e.what()));
  }
}

RasterWriter::~RasterWriter() {
  if (open_) Abandon();
}

std::string RasterWriter::Failure(const std::string& why) const {
  const std::string message = DriverMessage();
  return path_ + ": driver " + writer_.Name() + ": " + why + (message.empty() ? "" : ": " + message);
}

void RasterWriter::Abandon() {
  if (!file_) return;
  open_ = false;
  file_->Abort();
  file_.reset();
  RemovePartialFile(path_);
}

void RasterWriter::Write(unsigned long row, const unsigned char* from) {
  if (!open_) throw ArrayError(Failure("the file is closed"));
  std::string reason;
  // Padding beyond the pixels stays zero.
  if (!plan_.Convert(from, line_.GetData(), reason)) {
    Abandon();
    throw ArrayError(Failure("row " + std::to_string(row) + ", " + reason));
  }
  ClearDriverMessage();
  try {
    if (writer_.WriteRow(*file_, static_cast<long>(row), line_) < 0) {
      const std::string failure = Failure("cannot write row " + std::to_string(row));
      Abandon();
      throw ArrayError(failure);
    }
  } catch (const CFileException& e) {
    Abandon();
    throw ArrayError(Failure(e.what()));
  }
}

void RasterWriter::Finish() {
  if (!open_) throw ArrayError(Failure("the file is closed"));
  std::string reason;
  ClearDriverMessage();
  bool done = false;
  try {
    done = writer_.FinishWrite(*file_, reason);
  } catch (const CFileException& e) {
    reason = e.what();
  }
  if (!done) {
    const std::string failure = Failure(reason);
    Abandon();
    throw ArrayError(failure);
  }
  open_ = false;
  file_.reset();
}

}  // namespace vtfmt
