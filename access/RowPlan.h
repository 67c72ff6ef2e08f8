// How rows of one description become rows a writer stores: the writer form
// that keeps every value, chosen from the two descriptions alone, and the
// conversion of each row into it (unpacking, colour order, palettes, the
// fourth sample, wider or checked cell types). A value the chosen form
// cannot hold fails its row, naming it; nothing changes silently.
#pragma once

#include <string>
#include <vector>

#include "access/RowDescription.h"

namespace vtfmt {

class RowPlan {
 public:
  // Chooses among `forms` (the writer's, in its order of preference) the one
  // that keeps every value of `source` at the least cost. False with
  // `reason` when none does; `writer` names the writer in it.
  bool Choose(const RowDescription& source, const std::vector<RowForm>& forms, const std::string& writer,
              std::string& reason);

  // Picks sample `band` (from 1) of every pixel: the rows become one sample
  // of the same type, grey levels for 8-bit samples and cells otherwise.
  // False with `reason` for a band the rows do not have.
  // Call before Choose, with the description it then takes.
  bool SelectBand(RowDescription& source, int band, std::string& reason);

  const RowForm& Target() const { return target_; }
  ImgPixelFormat TargetFormat() const { return PixelFormatOf(target_); }
  // Red, green, blue entries of an indexed target (grey levels for grey).
  const std::vector<std::array<uint8_t, 3>>& TargetPalette() const { return palette_; }
  const std::array<uint32_t, 3>& TargetMasks() const { return source_.masks; }
  // True when the target's fourth sample is opacity.
  bool TargetAlpha() const { return target_.fourth == FourthSample::kAlpha; }
  // Bytes of one converted row, unpadded.
  size_t TargetRowBytes() const { return RowBytesOf(target_, source_.width); }

  // Converts one source row into `to` (TargetRowBytes() at least). False
  // with `reason` naming the first value the target cannot hold.
  bool Convert(const unsigned char* from, unsigned char* to, std::string& reason) const;

 private:
  enum class Step {
    kCopy,            // the same form
    kUnpack,          // packed indices or levels, one a byte
    kThroughPalette,  // indices to grey levels or colours
    kColour,          // colour samples reordered, the fourth added or dropped
    kValues,          // one sample, another type
  };
  // The cost of converting `from` into `to` (lower is better), or a negative
  // value when it would lose values; `checked` when each value is checked.
  double Cost(const RowDescription& from, const RowForm& to, bool& checked) const;
  bool ConvertValues(const unsigned char* from, unsigned char* to, std::string& reason) const;

  RowDescription source_;
  RowForm target_;
  Step step_ = Step::kCopy;
  bool checked_ = false;  // each value is checked against the target
  std::vector<std::array<uint8_t, 3>> palette_;
  std::vector<std::array<uint8_t, 3>> lookup_;  // the source's palette, or its grey levels
  // A band picked from rows of `banded_`: its sample index, or -1.
  int band_ = -1;
  RowForm banded_;
  mutable std::vector<unsigned char> scratch_;
};

}  // namespace vtfmt
