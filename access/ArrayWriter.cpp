#include "access/ArrayWriter.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "access/RasterWriter.h"
#include "platform/vtcore/CVtImgToolkit.h"

namespace vtfmt {

namespace {

// The pixel format that holds pixels of `samples` samples of `type`, and
// whether they are measured values; PF_UNKNOWN for none.
ImgPixelFormat FormatOf(int samples, ArrayType type, bool& cells) {
  cells = samples == 1 && (type.bytes > 1 || type.kind != 'u');
  const int bits = type.bytes * 8;
  if (type.kind == 'u' && bits == 8)
    return samples == 1 ? PF_BIT8 : samples == 3 ? PF_BIT24 : samples == 4 ? PF_BIT32 : PF_UNKNOWN;
  if (type.kind == 'u' && bits == 16)
    return samples == 1 ? PF_BIT16 : samples == 3 ? PF_BIT48 : samples == 4 ? PF_BIT64 : PF_UNKNOWN;
  if (samples != 1) return PF_UNKNOWN;
  if (type.kind == 'i' && bits == 16) return PF_BIT16;
  if (type.kind == 'i' && bits == 32) return PF_INT32;
  if (type.kind == 'u' && bits == 32) return PF_BIT32;  // unsigned cells: writers that keep them say so
  if (type.kind == 'f' && bits == 32) return PF_FLOAT32;
  if (type.kind == 'f' && bits == 64) return PF_FLOAT64;
  return PF_UNKNOWN;
}

std::string TypeName(ArrayType type) {
  const char* kind = type.kind == 'u'   ? "uint"
                     : type.kind == 'i' ? "int"
                     : type.kind == 'f' ? "float"
                                        : "complex";
  return kind + std::to_string(type.bytes * 8);
}

}  // namespace

RowDescription DescribeArray(const ArrayImage& image, const std::optional<CRect2D>& bounds,
                             const std::vector<unsigned char>& palette) {
  if (image.width == 0 || image.height == 0) throw ArrayArgumentError("the array has no pixels");
  if (image.width > 0x7FFFFFFFul || image.height > 0x7FFFFFFFul)
    throw ArrayArgumentError("the array is too large");
  bool cells = false;
  const ImgPixelFormat format = FormatOf(image.samples, image.type, cells);
  if (format == PF_UNKNOWN)
    throw ArrayArgumentError("arrays of " + TypeName(image.type) + " with " + std::to_string(image.samples) +
                             " samples a pixel fit no pixel format");
  if (!palette.empty() && (format != PF_BIT8 || palette.size() > 256 * 4 || palette.size() % 4 != 0))
    throw ArrayArgumentError("a palette of up to 256 entries goes with 2-d uint8 arrays");

  // What the array's rows hold: indices with a palette, grey levels,
  // colours (a fourth sample is opacity), or cells.
  RowDescription rows;
  rows.width = image.width;
  rows.height = image.height;
  rows.format = format;
  rows.samples = image.samples;
  rows.bits = image.type.bytes * 8;
  rows.kind = image.type.kind;
  rows.bounds = bounds;
  if (cells) {
    rows.content = RowContent::kCells;
  } else if (image.samples >= 3) {
    rows.content = RowContent::kColour;
    rows.redFirst = image.redFirst;
    rows.fourth = image.samples == 4 ? FourthSample::kAlpha : FourthSample::kNone;
  } else if (!palette.empty()) {
    rows.content = RowContent::kIndexed;
    for (size_t at = 0; at < palette.size(); at += 4)
      rows.palette.push_back({palette[at], palette[at + 1], palette[at + 2]});
  } else {
    rows.content = RowContent::kGrey;
  }
  rows.lineBytes = RowBytesOf(rows, rows.width);
  return rows;
}

void WriteArray(const std::string& path, const std::string& driverName, const Options& options,
                const ArrayImage& image, const std::optional<CRect2D>& bounds,
                const std::vector<unsigned char>& palette) {
  const RasterDriver& writer = WritingDriver(driverName, path);
  const RowDescription rows = DescribeArray(image, bounds, palette);
  RowPlan plan;
  std::string reason;
  if (!RasterWriter::Plan(writer, rows, plan, reason)) {
    if (rows.content == RowContent::kCells && reason.find("-scale") != std::string::npos)
      reason = "the array holds " + TypeName(image.type) + " cells, not colours; scale them to uint8 first";
    throw ArrayArgumentError(path + ": driver " + writer.Name() + ": " + reason);
  }
  RasterWriter target(path, writer, options, rows, plan);
  const size_t stride = image.rowBytes ? image.rowBytes : rows.lineBytes;
  for (unsigned long k = 0; k < image.height; ++k) {
    const unsigned long y = target.BottomUp() ? image.height - 1 - k : k;
    target.Write(k, image.data + y * stride);
  }
  target.Finish();
}

}  // namespace vtfmt
