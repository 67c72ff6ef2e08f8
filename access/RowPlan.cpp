#include "access/RowPlan.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "access/RowConvert.h"
#include "platform/vtcore/VtNumber.h"

namespace vtfmt {

ImgPixelFormat PixelFormatOf(const RowForm& f) {
  if (f.kind == 'c') return PF_UNKNOWN;
  if (f.samples == 1) {
    if (f.kind == 'f') return f.bits == 32 ? PF_FLOAT32 : f.bits == 64 ? PF_FLOAT64 : PF_UNKNOWN;
    if (f.kind == 'i' && f.bits == 32) return PF_INT32;
    switch (f.bits) {
      case 1:
        return PF_BIT1;
      case 4:
        return PF_BIT4;
      case 8:
        return PF_BIT8;
      case 16:
        return PF_BIT16;
      case 32:
        return PF_BIT32;
      default:
        return PF_UNKNOWN;
    }
  }
  if (f.kind != 'u') return PF_UNKNOWN;
  if (f.bits == 8) return f.samples == 3 ? PF_BIT24 : f.samples == 4 ? PF_BIT32 : PF_UNKNOWN;
  if (f.bits == 16) return f.samples == 3 ? PF_BIT48 : f.samples == 4 ? PF_BIT64 : PF_UNKNOWN;
  return PF_UNKNOWN;
}

size_t RowBytesOf(const RowForm& f, unsigned long width) {
  return (static_cast<size_t>(width) * static_cast<size_t>(f.samples) * static_cast<size_t>(f.bits) + 7) / 8;
}

std::string LayoutText(const RowForm& f) {
  const char* kind = f.kind == 'u'   ? "unsigned"
                     : f.kind == 'i' ? "signed"
                     : f.kind == 'f' ? "float"
                                     : "complex";
  std::string text = std::to_string(f.samples) + (f.samples == 1 ? " sample" : " samples") + " of " +
                     std::to_string(f.bits) + "-bit " + kind + " per pixel (";
  switch (f.content) {
    case RowContent::kIndexed:
      text += "palette indices";
      break;
    case RowContent::kGrey:
      text += "grey";
      break;
    case RowContent::kCells:
      text += "grid cells";
      break;
    case RowContent::kMasked:
      text += "colour under bit masks";
      break;
    case RowContent::kColour:
      text += f.redFirst ? "colour, red first" : "colour, blue first";
      if (f.fourth == FourthSample::kAlpha) text += ", with alpha";
      break;
  }
  return text + ")";
}

namespace {

bool Numeric(const RowForm& f) {
  return f.samples == 1 && f.kind != 'c' &&
         (f.content == RowContent::kCells || f.content == RowContent::kGrey ||
          f.content == RowContent::kIndexed);
}

// The range of values of a one-sample type, and whether every value is whole.
struct Range {
  double lo, hi;
  bool whole;
};
Range RangeOf(const RowForm& f) {
  if (f.kind == 'f') {
    const double max = f.bits == 32 ? std::numeric_limits<float>::max() : std::numeric_limits<double>::max();
    return {-max, max, false};
  }
  if (f.kind == 'i') return {-std::ldexp(1.0, f.bits - 1), std::ldexp(1.0, f.bits - 1) - 1, true};
  return {0, std::ldexp(1.0, f.bits) - 1, true};
}

// True when every value of type `from` is a value of type `to`.
bool Holds(const RowForm& to, const RowForm& from) {
  if (to.kind == 'f' && from.kind == 'f') return to.bits >= from.bits;
  const Range a = RangeOf(to), b = RangeOf(from);
  if (to.kind == 'f') {
    // Whole numbers up to 2^24 (singles) or 2^53 (doubles) are exact.
    const double exact = std::ldexp(1.0, to.bits == 32 ? 24 : 53);
    return b.whole && b.lo >= -exact && b.hi <= exact;
  }
  return b.whole && b.lo >= a.lo && b.hi <= a.hi;
}

// The value of sample `i` of a one-sample row of `f`.
double Load(const unsigned char* row, size_t i, const RowForm& f) {
  switch (f.bits) {
    case 1:
      return (row[i / 8] >> (7 - i % 8)) & 1;
    case 4:
      return (row[i / 2] >> (i % 2 == 0 ? 4 : 0)) & 0x0F;
    case 8:
      return f.kind == 'i' ? static_cast<int8_t>(row[i]) : row[i];
    default:
      break;
  }
  auto get = [&](auto v) {
    std::memcpy(&v, row + i * sizeof v, sizeof v);
    return static_cast<double>(v);
  };
  if (f.kind == 'f') return f.bits == 32 ? get(float{}) : get(double{});
  if (f.bits == 16) return f.kind == 'i' ? get(int16_t{}) : get(uint16_t{});
  if (f.bits == 32) return f.kind == 'i' ? get(int32_t{}) : get(uint32_t{});
  return 0;
}

// True when `v` is a value of the one-sample type `f`.
bool Fits(double v, const RowForm& f) {
  if (f.kind == 'f') {
    if (std::isnan(v) || std::isinf(v) || f.bits == 64) return true;
    return static_cast<double>(static_cast<float>(v)) == v;
  }
  const Range r = RangeOf(f);
  return v == std::floor(v) && v >= r.lo && v <= r.hi;
}

void Store(unsigned char* row, size_t i, double v, const RowForm& f) {
  auto put = [&](auto cell) { std::memcpy(row + i * sizeof cell, &cell, sizeof cell); };
  switch (f.bits) {
    case 1: {
      const unsigned char bit = static_cast<unsigned char>(0x80 >> (i % 8));
      row[i / 8] = static_cast<unsigned char>(v != 0 ? row[i / 8] | bit : row[i / 8] & ~bit);
      return;
    }
    case 4: {
      const unsigned nibble = static_cast<unsigned>(v) & 0x0F;
      unsigned char& b = row[i / 2];
      b = static_cast<unsigned char>(i % 2 == 0 ? (b & 0x0F) | (nibble << 4) : (b & 0xF0) | nibble);
      return;
    }
    case 8:
      row[i] =
          f.kind == 'i' ? static_cast<unsigned char>(static_cast<int8_t>(v)) : static_cast<unsigned char>(v);
      return;
    default:
      break;
  }
  if (f.kind == 'f') return f.bits == 32 ? put(static_cast<float>(v)) : put(v);
  if (f.bits == 16) return f.kind == 'i' ? put(static_cast<int16_t>(v)) : put(static_cast<uint16_t>(v));
  if (f.bits == 32) return f.kind == 'i' ? put(static_cast<int32_t>(v)) : put(static_cast<uint32_t>(v));
}

bool GreyPalette(const std::vector<std::array<uint8_t, 3>>& palette) {
  for (const auto& e : palette)
    if (e[0] != e[1] || e[1] != e[2]) return false;
  return true;
}

// The grey levels of `bits`-bit grey pixels as palette entries.
std::vector<std::array<uint8_t, 3>> GreyRamp(int bits) {
  const int n = 1 << bits;
  std::vector<std::array<uint8_t, 3>> ramp(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    const uint8_t v = static_cast<uint8_t>(i * 255 / (n - 1));
    ramp[static_cast<size_t>(i)] = {v, v, v};
  }
  return ramp;
}

std::string Cell(size_t column) { return "column " + std::to_string(column); }

}  // namespace

bool RowPlan::SelectBand(RowDescription& source, int band, std::string& reason) {
  if (band < 1 || band > source.samples || source.bits < 8 || source.kind == 'c') {
    reason = "band " + std::to_string(band) + " asked for; the rows hold " + LayoutText(source);
    return false;
  }
  if (source.samples == 1) return true;  // the only band
  banded_ = source;
  band_ = band - 1;
  source.samples = 1;
  source.content = source.bits == 8 && source.kind == 'u' ? RowContent::kGrey : RowContent::kCells;
  source.fourth = FourthSample::kNone;
  source.redFirst = true;
  source.palette.clear();
  return true;
}

// True when the samples are of a type whose values this plan reads one by
// one: packed indices, 8-, 16- and 32-bit integers, singles and doubles.
static bool Readable(const RowForm& f) {
  if (f.kind == 'f') return f.bits == 32 || f.bits == 64;
  if (f.kind == 'c') return false;
  if (f.bits == 1 || f.bits == 4) return f.kind == 'u';
  return f.bits == 8 || f.bits == 16 || f.bits == 32;
}

double RowPlan::Cost(const RowDescription& s, const RowForm& t, bool& checked) const {
  checked = false;
  // Samples of other types (complex, half floats, 64-bit integers) go only
  // to a writer that stores them as they are.
  if (!Readable(s) || !Readable(t)) return s == t ? 0 : -1;
  // So do several samples that are not colours (grey and opacity, bands of
  // no stated meaning): the steps below read one sample a pixel.
  if (s.samples != 1 && s.content != RowContent::kColour) return s == t ? 0 : -1;
  if (s.content == RowContent::kMasked || t.content == RowContent::kMasked)
    return s.content == t.content && s.bits == t.bits ? 0 : -1;
  switch (s.content) {
    case RowContent::kColour: {
      if (t.content != RowContent::kColour || t.bits != s.bits || t.kind != s.kind) return -1;
      if (s == t) return 0;
      double cost = s.redFirst == t.redFirst ? 0 : 1;
      if (s.fourth == t.fourth) return cost;
      // A fourth sample added (opaque or padding) or dropped (padding, or
      // opacity that must then be full everywhere); a sample of another
      // meaning keeps its values either way.
      if (s.fourth == FourthSample::kNone) return t.fourth == FourthSample::kValue ? -1 : cost + 2;
      if (t.fourth == FourthSample::kNone) {
        if (s.fourth == FourthSample::kValue) return -1;
        checked = s.fourth == FourthSample::kAlpha;
        return cost + (checked ? 6 : 2);
      }
      if (s.fourth == FourthSample::kUnused || t.fourth == FourthSample::kUnused) return -1;
      return cost + 1;  // alpha and a plain fourth sample: the values stay
    }
    case RowContent::kIndexed:
    case RowContent::kGrey: {
      const bool grey = s.content == RowContent::kGrey || GreyPalette(s.palette);
      if (t.content == RowContent::kIndexed || t.content == RowContent::kGrey) {
        if (t.kind != 'u' || t.samples != 1) return -1;
        if (t.content == RowContent::kGrey && !grey) return -1;
        // Grey levels of fewer bits than 8 are spread over 0 to 255.
        if (t.content == RowContent::kGrey && s.content == RowContent::kIndexed) return t.bits == 8 ? 3 : -1;
        if (t.content == RowContent::kGrey && s.bits != t.bits) return -1;
        if (t.bits == s.bits) return t.content == s.content ? 0 : 1;
        return t.bits > s.bits ? 2 : -1;
      }
      if (t.content == RowContent::kColour) {
        if (t.bits != 8 || t.fourth == FourthSample::kValue) return -1;
        return grey ? 5 : 4;  // colours for indices; grey levels go to a grey form first
      }
      if (t.content == RowContent::kCells) {
        // Indices and grey levels are kept as the numbers they are.
        return Holds(t, s) ? 6 + t.bits / 64.0 : -1;
      }
      return -1;
    }
    case RowContent::kCells: {
      if (t.content != RowContent::kCells || !Numeric(t)) return -1;
      if (s == t) return 0;
      if (Holds(t, s)) return 2 + t.bits / 64.0;  // the narrowest that holds every value
      checked = true;
      // Checked: floats before integers, wider before narrower.
      return 8 - (t.kind == 'f' ? 1 : 0) - t.bits / 64.0;
    }
    default:
      return -1;
  }
}

bool RowPlan::Choose(const RowDescription& source, const std::vector<RowForm>& forms,
                     const std::string& writer, std::string& reason) {
  source_ = source;
  double best = -1;
  for (const RowForm& form : forms) {
    bool checked = false;
    const double cost = Cost(source, form, checked);
    if (cost < 0 || (best >= 0 && cost >= best)) continue;
    best = cost;
    target_ = form;
    checked_ = checked;
  }
  if (best < 0) {
    const bool takesCells = std::any_of(forms.begin(), forms.end(),
                                        [](const RowForm& f) { return f.content == RowContent::kCells; });
    const bool takesColour = std::any_of(forms.begin(), forms.end(),
                                         [](const RowForm& f) { return f.content == RowContent::kColour; });
    if (source.content == RowContent::kCells && !takesCells)
      reason =
          "the rows hold grid cells, not colours; -scale [MIN MAX] maps them to 8-bit grey for " + writer;
    else if (source.content == RowContent::kColour && !takesColour)
      reason = "the rows hold " + LayoutText(source) + "; driver " + writer +
               " stores one value a cell: choose a band with -oo band=N";
    else if (source.samples > 1 && source.content != RowContent::kColour)
      reason = "driver " + writer + " cannot store " + LayoutText(source) +
               " without changing values: choose a band with -oo band=N";
    else
      reason = "driver " + writer + " cannot store " + LayoutText(source) + " without changing values";
    return false;
  }
  // What the converted rows are.
  if (target_.content == RowContent::kColour && source.content == RowContent::kColour) {
    step_ = source == target_ ? Step::kCopy : Step::kColour;
  } else if (target_.content == RowContent::kColour ||
             (target_.content == RowContent::kGrey && source.content == RowContent::kIndexed)) {
    step_ = Step::kThroughPalette;
  } else if (target_.content == RowContent::kCells &&
             !(source.samples == 1 && source.bits == target_.bits && source.kind == target_.kind)) {
    step_ = Step::kValues;
  } else if ((target_.content == RowContent::kIndexed || target_.content == RowContent::kGrey) &&
             source.bits != target_.bits) {
    step_ = Step::kUnpack;
  } else {
    step_ = Step::kCopy;
  }
  // The colours or grey levels that indices and levels stand for.
  lookup_.clear();
  if (source.content == RowContent::kIndexed || (source.content == RowContent::kGrey && source.bits <= 8))
    lookup_ = source.content == RowContent::kIndexed && !source.palette.empty() ? source.palette : GreyRamp(source.bits);
  palette_.clear();
  if (target_.content == RowContent::kIndexed) {
    palette_ = lookup_;
    // All the entries the target's indices can name; the rest black.
    palette_.resize(size_t(1) << target_.bits, {0, 0, 0});
  }
  return true;
}

namespace {

// Copies `pixels` colour pixels between sample orders and fourth samples.
// Returns the first pixel whose opacity would be lost, or `pixels`.
template <typename Sample>
size_t CopyColour(const unsigned char* from, unsigned char* to, size_t pixels, const RowForm& s,
                  const RowForm& t) {
  const size_t fs = static_cast<size_t>(s.samples), ts = static_cast<size_t>(t.samples);
  const Sample full = std::numeric_limits<Sample>::max();
  const bool swap = s.redFirst != t.redFirst;
  const bool dropAlpha = s.fourth == FourthSample::kAlpha && t.fourth == FourthSample::kNone;
  const Sample added = t.fourth == FourthSample::kAlpha ? full : 0;
  for (size_t i = 0; i < pixels; ++i) {
    Sample in[4], out[4];
    std::memcpy(in, from + i * fs * sizeof(Sample), fs * sizeof(Sample));
    if (dropAlpha && in[3] != full) return i;
    out[0] = swap ? in[2] : in[0];
    out[1] = in[1];
    out[2] = swap ? in[0] : in[2];
    out[3] = fs == 4 ? in[3] : added;
    std::memcpy(to + i * ts * sizeof(Sample), out, ts * sizeof(Sample));
  }
  return pixels;
}

}  // namespace

bool RowPlan::Convert(const unsigned char* from, unsigned char* to, std::string& reason) const {
  const size_t width = source_.width;
  if (band_ >= 0) {
    // One sample of each pixel, into a row of its own.
    const size_t sample = static_cast<size_t>(banded_.bits / 8),
                 pixel = sample * static_cast<size_t>(banded_.samples);
    size_t at = static_cast<size_t>(band_);
    // Colour bands are counted red first whatever the order in the row.
    if (banded_.content == RowContent::kColour && !banded_.redFirst && at < 3) at = 2 - at;
    scratch_.resize(sample * width);
    for (size_t x = 0; x < width; ++x)
      std::memcpy(&scratch_[x * sample], from + x * pixel + at * sample, sample);
    from = scratch_.data();
  }
  switch (step_) {
    case Step::kCopy:
      std::memcpy(to, from, TargetRowBytes());
      return true;
    case Step::kUnpack:
      std::memset(to, 0, TargetRowBytes());
      for (size_t x = 0; x < width; ++x) Store(to, x, Load(from, x, source_), target_);
      return true;
    case Step::kThroughPalette: {
      const auto& palette = lookup_;
      const size_t samples = static_cast<size_t>(target_.samples);
      for (size_t x = 0; x < width; ++x) {
        const size_t index = static_cast<size_t>(Load(from, x, source_));
        if (index >= palette.size()) {
          reason = Cell(x) + ": index " + std::to_string(index) + " is beyond the palette's " +
                   std::to_string(palette.size()) + " entries";
          return false;
        }
        const auto& e = palette[index];
        if (target_.content == RowContent::kGrey) {
          to[x] = e[0];
          continue;
        }
        unsigned char* p = to + x * samples;
        p[0] = target_.redFirst ? e[0] : e[2];
        p[1] = e[1];
        p[2] = target_.redFirst ? e[2] : e[0];
        if (samples == 4) p[3] = target_.fourth == FourthSample::kAlpha ? 255 : 0;
      }
      return true;
    }
    case Step::kColour: {
      // The common case, the order alone changed, in one fast pass.
      if (source_.bits == 8 && source_.samples == target_.samples && source_.redFirst != target_.redFirst) {
        CopySwappingRedBlue(from, to, width, static_cast<size_t>(target_.samples));
        return true;
      }
      const size_t done = source_.bits == 16 ? CopyColour<uint16_t>(from, to, width, source_, target_)
                                             : CopyColour<uint8_t>(from, to, width, source_, target_);
      if (done == width) return true;
      reason = Cell(done) + ": a pixel that is not opaque; the target keeps no opacity";
      return false;
    }
    case Step::kValues:
      return ConvertValues(from, to, reason);
  }
  return false;
}

bool RowPlan::ConvertValues(const unsigned char* from, unsigned char* to, std::string& reason) const {
  const size_t width = source_.width;
  for (size_t x = 0; x < width; ++x) {
    const double v = Load(from, x, source_);
    if (checked_ && !Fits(v, target_)) {
      reason = Cell(x) + ": value " + vtnum::Shortest(v) + " does not fit " + LayoutText(target_);
      return false;
    }
    Store(to, x, v, target_);
  }
  return true;
}

}  // namespace vtfmt
