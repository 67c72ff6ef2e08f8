#include "access/ArrayReader.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdint>
#include <cstring>

#include "access/RowConvert.h"
#include "platform/vtcore/CVtImgToolkit.h"

namespace vtfmt {

ArrayReader::ArrayReader(const std::string& path, const std::string& driver, const Options& options)
    : path_(path), driver_(&ReadingDriver(driver, path)), options_(options) {
  Open();
  CImgFile& f = *file_;
  width_ = f.GetWidth();
  height_ = f.GetHeight();
  if (width_ == 0 || height_ == 0) throw ArrayError(Failure("the image has no pixels"));
  rows_ = driver_->Describe(f);
  if (rows_.samples == 0 || rows_.content == RowContent::kMasked)
    throw ArrayError(Failure("pixel format " + std::to_string(static_cast<int>(f.GetPixelFormat())) +
                             " has no array form"));
  if (rows_.bits >= 8 && static_cast<size_t>(line_.GetSize()) < RowBytes())
    throw ArrayError(Failure("the rows are shorter than their pixels"));
}

std::string ArrayReader::Failure(const std::string& reason) const {
  const std::string message = DriverMessage();
  return path_ + ": driver " + driver_->Name() + ": " + reason + (message.empty() ? "" : ": " + message);
}

void ArrayReader::Open() {
  file_ = driver_->Create();
  std::string reason;
  if (!driver_->ApplyOptions(*file_, options_, reason)) throw ArrayArgumentError(reason);
  ClearDriverMessage();
  if (!driver_->OpenRead(*file_, path_, reason)) throw ArrayError(Failure(reason));
  CImgFile& f = *file_;
  // The driver's width bytes, and at least the bytes its pixels occupy.
  const long bytes = std::max<long>(static_cast<long>(f.GetWidthBytes()),
                                    CVtImgToolkit::AlignWidthByte(f.GetPixelFormat(), static_cast<long>(f.GetWidth())));
  line_ = CImgScanLine(f.GetPixelFormat(), bytes);
  if (line_.GetSize() < bytes) throw ArrayError(Failure("a row is too long to hold"));
  nextRow_ = 0;
}

ArrayType ArrayReader::Type() const {
  if (rows_.bits < 8) return {'u', 1};
  return {rows_.kind, rows_.bits / 8};
}

size_t ArrayReader::RowBytes() const {
  return static_cast<size_t>(width_) * static_cast<size_t>(rows_.samples) * static_cast<size_t>(Type().bytes);
}

std::vector<unsigned char> ArrayReader::Palette() {
  std::vector<unsigned char> entries;
  if (rows_.content != RowContent::kIndexed) return entries;
  for (const auto& e : rows_.palette) entries.insert(entries.end(), {e[0], e[1], e[2], 255});
  return entries;
}

std::optional<double> ArrayReader::NoData() { return rows_.noData; }

std::optional<CRect2D> ArrayReader::Bounds() { return rows_.bounds; }

void ArrayReader::ReadFileRow(long row) {
  ClearDriverMessage();
  if (!driver_->SequentialRead()) {
    if (driver_->ReadRow(*file_, row, line_) < 0) throw ArrayError(Failure("cannot read row " + std::to_string(row)));
    return;
  }
  // Rows come once each, in order: an earlier row means starting again.
  if (row < nextRow_) Open();
  while (nextRow_ <= row) {
    if (driver_->ReadRow(*file_, nextRow_, line_) < 0)
      throw ArrayError(Failure("cannot read row " + std::to_string(nextRow_)));
    ++nextRow_;
  }
}


void ArrayReader::Deliver(unsigned char* out) const {
  const unsigned char* row = line_.GetData();
  if (rows_.bits < 8) {
    // Packed indices, most significant bits first, one a byte.
    const int bits = rows_.bits;
    for (unsigned long x = 0; x < width_; ++x) {
      const unsigned long bit = x * static_cast<unsigned long>(bits);
      out[x] = static_cast<unsigned char>((row[bit / 8] >> (8 - bits - bit % 8)) & ((1 << bits) - 1));
    }
    return;
  }
  const size_t bytes = RowBytes();
  if (rows_.content != RowContent::kColour || rows_.redFirst) {
    std::memcpy(out, row, bytes);
    return;
  }
  // Blue first in the file: the first and third sample change places, 8-bit
  // colours as they are copied, others after.
  const size_t sample = static_cast<size_t>(Type().bytes);
  const size_t pixels = static_cast<size_t>(width_);
  if (sample == 1 && (rows_.samples == 3 || rows_.samples == 4))
    return CopySwappingRedBlue(row, out, pixels, static_cast<size_t>(rows_.samples));
  std::memcpy(out, row, bytes);
  SwapRedBlue(out, pixels, static_cast<size_t>(rows_.samples), sample);
}

void ArrayReader::Read(unsigned long start, unsigned long stop, unsigned char* out) {
  if (start > stop || stop > height_)
    throw ArrayArgumentError("rows " + std::to_string(start) + " to " + std::to_string(stop) + " are not within 0 to " +
                             std::to_string(height_));
  const size_t rowBytes = RowBytes();
  // File rows in ascending order, which sequential drivers need and which
  // keeps reads forward for the others.
  for (unsigned long k = 0; k < stop - start; ++k) {
    const unsigned long y = rows_.bottomUp ? stop - 1 - k : start + k;
    const long fileRow = static_cast<long>(rows_.bottomUp ? height_ - 1 - y : y);
    ReadFileRow(fileRow);
    Deliver(out + (y - start) * rowBytes);
  }
}

}  // namespace vtfmt
