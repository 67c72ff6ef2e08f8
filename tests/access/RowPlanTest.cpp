// The choice of a writer's row form from two descriptions, and the
// conversion of rows into it: every value kept, or the first one that
// cannot be named.
#include "access/RowPlan.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "access/RasterDriver.h"

namespace vtfmt {
namespace {

RowDescription Rows(RowForm form, unsigned long width) {
  RowDescription d;
  static_cast<RowForm&>(d) = form;
  d.width = width;
  d.height = 1;
  return d;
}

RowDescription Indexed(int bits, std::vector<std::array<uint8_t, 3>> palette, unsigned long width) {
  RowDescription d = Rows(IndexedForm(bits), width);
  d.palette = std::move(palette);
  return d;
}

// Two samples a pixel that are not colours, as a reader describes them.
RowForm TwoSamples(int bits, char kind) { return {RowContent::kGrey, 2, bits, kind, true, FourthSample::kNone}; }

const std::vector<RowForm> kBmp = {IndexedForm(1), IndexedForm(4), IndexedForm(8), ColourForm(3, 8, false),
                                   ColourForm(4, 8, false, FourthSample::kUnused), MaskedForm()};
const std::vector<RowForm> kPng = {IndexedForm(1), IndexedForm(4), IndexedForm(8), GreyForm(), ColourForm(3, 8, true),
                                   ColourForm(4, 8, true, FourthSample::kAlpha), MaskedForm()};
const std::vector<RowForm> kJpeg = {GreyForm(), ColourForm(3, 8, true)};
const std::vector<RowForm> kGrid = {CellForm(16, 'i'), CellForm(32, 'i'), CellForm(32, 'f'),
                                    CellForm(64, 'f')};
const std::vector<RowForm> kNsdtf = {CellForm(32, 'i')};
const std::vector<RowForm> kIdrisi = {GreyForm(), CellForm(16, 'i'), CellForm(32, 'f')};

struct ChoiceCase {
  const char* name;
  RowDescription source;
  std::vector<RowForm> forms;
  bool chosen;
  RowForm target;     // when chosen
  const char* words;  // in the reason otherwise
};

TEST(RowPlan, ChoosesTheFormThatKeepsEveryValue) {
  const std::vector<std::array<uint8_t, 3>> colours = {{10, 20, 30}, {200, 100, 0}};
  const std::vector<std::array<uint8_t, 3>> greys = {{0, 0, 0}, {90, 90, 90}};
  const std::vector<ChoiceCase> cases = {
      {"4-bit indices stay 4-bit", Indexed(4, colours, 5), kBmp, true, IndexedForm(4), ""},
      {"grey levels become indices of a grey ramp", Rows(GreyForm(), 5), kBmp, true, IndexedForm(8), ""},
      {"grey stays grey where it can", Rows(GreyForm(), 5), kPng, true, GreyForm(), ""},
      {"indices of colours become colours", Indexed(8, colours, 5), kJpeg, true, ColourForm(3, 8, true), ""},
      {"indices of greys become grey levels", Indexed(8, greys, 5), kJpeg, true, GreyForm(), ""},
      {"colour order is the writer's", Rows(ColourForm(3, 8, true), 5), kBmp, true, ColourForm(3, 8, false),
       ""},
      {"opacity is kept where the writer keeps it", Rows(ColourForm(4, 8, false, FourthSample::kAlpha), 5),
       kPng, true, ColourForm(4, 8, true, FourthSample::kAlpha), ""},
      {"opacity is checked where it is not", Rows(ColourForm(4, 8, false, FourthSample::kAlpha), 5), kBmp,
       true, ColourForm(3, 8, false), ""},
      {"padding is dropped", Rows(ColourForm(4, 8, false, FourthSample::kUnused), 5), kPng, true,
       ColourForm(3, 8, true), ""},
      {"unsigned 16-bit cells widen", Rows(CellForm(16, 'u'), 5), kGrid, true, CellForm(32, 'i'), ""},
      {"signed 16-bit cells stay", Rows(CellForm(16, 'i'), 5), kGrid, true, CellForm(16, 'i'), ""},
      {"floats to integer cells, checked", Rows(CellForm(32, 'f'), 5), kNsdtf, true, CellForm(32, 'i'), ""},
      {"doubles to singles before integers", Rows(CellForm(64, 'f'), 5), kIdrisi, true, CellForm(32, 'f'),
       ""},
      {"unsigned 16-bit to singles, which hold them all", Rows(CellForm(16, 'u'), 5), kIdrisi, true,
       CellForm(32, 'f'), ""},
      {"grey levels as cells", Rows(GreyForm(), 5), kGrid, true, CellForm(16, 'i'), ""},
      {"cells are not colours", Rows(CellForm(32, 'f'), 5), kPng, false, {}, "-scale"},
      {"colours are not cells", Rows(ColourForm(3, 8, true), 5), kGrid, false, {}, "-oo band=N"},
      {"16-bit colour has no bitmap form",
       Rows(ColourForm(3, 16, true), 5),
       kBmp,
       false,
       {},
       "16-bit unsigned"},
      {"complex samples have no grid form", Rows(CellForm(64, 'c'), 5), kGrid, false, {}, "complex"},
      {"a plain fourth sample is not padding",
       Rows(ColourForm(4, 8, true, FourthSample::kValue), 5),
       kJpeg,
       false,
       {},
       "cannot store"},
      {"grey and opacity are not one grey", Rows(TwoSamples(8, 'u'), 5), kPng, false, {}, "-oo band=N"},
      {"two 16-bit bands are not one cell", Rows(TwoSamples(16, 'u'), 5), kGrid, false, {}, "2 samples"},
      {"two single bands are not one single", Rows(TwoSamples(32, 'f'), 5), kGrid, false, {}, "2 samples"},
      {"two samples go to a writer that stores both", Rows(TwoSamples(16, 'u'), 5), {CellForm(32, 'u'), TwoSamples(16, 'u')},
       true, TwoSamples(16, 'u'), ""},
  };
  for (const ChoiceCase& c : cases) {
    RowPlan plan;
    std::string reason;
    const bool chosen = plan.Choose(c.source, c.forms, "w", reason);
    ASSERT_EQ(chosen, c.chosen) << c.name << ": " << reason;
    if (chosen)
      EXPECT_TRUE(plan.Target() == c.target) << c.name << ": got " << LayoutText(plan.Target());
    else
      EXPECT_NE(reason.find(c.words), std::string::npos) << c.name << ": " << reason;
  }
}

std::vector<unsigned char> Convert(const RowPlan& plan, const std::vector<unsigned char>& row,
                                   std::string& reason, bool& ok) {
  std::vector<unsigned char> out(plan.TargetRowBytes() + 4, 0xEE);
  ok = plan.Convert(row.data(), out.data(), reason);
  EXPECT_EQ(out[plan.TargetRowBytes()], 0xEE) << "written past the row";
  out.resize(plan.TargetRowBytes());
  return out;
}

template <typename T>
std::vector<unsigned char> Bytes(std::vector<T> values) {
  std::vector<unsigned char> b(values.size() * sizeof(T));
  std::memcpy(b.data(), values.data(), b.size());
  return b;
}

struct RowCase {
  const char* name;
  RowDescription source;
  std::vector<RowForm> forms;
  std::vector<unsigned char> in, out;  // `out` empty: the row fails
  const char* words;                   // in the reason of a failure
};

TEST(RowPlan, ConvertsRowsOrNamesTheFirstValueLost) {
  const std::vector<std::array<uint8_t, 3>> colours = {{10, 20, 30}, {200, 100, 0}, {1, 2, 3}};
  RowDescription band = Rows(ColourForm(3, 8, false), 2);
  const std::vector<RowCase> cases = {
      {"blue first to red first",
       Rows(ColourForm(3, 8, false), 2),
       kPng,
       {1, 2, 3, 4, 5, 6},
       {3, 2, 1, 6, 5, 4},
       ""},
      {"padding dropped",
       Rows(ColourForm(4, 8, false, FourthSample::kUnused), 2),
       kPng,
       {1, 2, 3, 0, 4, 5, 6, 0},
       {3, 2, 1, 6, 5, 4},
       ""},
      {"opaque pixels lose nothing",
       Rows(ColourForm(4, 8, true, FourthSample::kAlpha), 2),
       kJpeg,
       {1, 2, 3, 255, 4, 5, 6, 255},
       {1, 2, 3, 4, 5, 6},
       ""},
      {"a translucent pixel is named",
       Rows(ColourForm(4, 8, true, FourthSample::kAlpha), 2),
       kJpeg,
       {1, 2, 3, 255, 4, 5, 6, 128},
       {},
       "column 1"},
      {"1-bit indices one a byte",
       Indexed(1, colours, 10),
       {IndexedForm(8)},
       {0xA5, 0x80},
       {1, 0, 1, 0, 0, 1, 0, 1, 1, 0},
       ""},
      {"indices through the palette", Indexed(8, colours, 2), kJpeg, {2, 1}, {1, 2, 3, 200, 100, 0}, ""},
      {"an index beyond the palette is named", Indexed(8, colours, 2), kJpeg, {0, 7}, {}, "index 7"},
      {"unsigned 16-bit widened", Rows(CellForm(16, 'u'), 2), kGrid, Bytes<uint16_t>({40000, 65535}),
       Bytes<int32_t>({40000, 65535}), ""},
      {"whole floats to integers", Rows(CellForm(32, 'f'), 3), kNsdtf, Bytes<float>({-3, 0, 16777216}),
       Bytes<int32_t>({-3, 0, 16777216}), ""},
      {"a fraction is named",
       Rows(CellForm(32, 'f'), 3),
       kNsdtf,
       Bytes<float>({-3, 1.5f, 2}),
       {},
       "value 1.5"},
      {"a double beyond a single is named",
       Rows(CellForm(64, 'f'), 2),
       kIdrisi,
       Bytes<double>({0.5, 0.1}),
       {},
       "column 1: value 0.1"},
      {"an integer beyond the target is named",
       Rows(CellForm(64, 'f'), 2),
       kNsdtf,
       Bytes<double>({1, 3e9}),
       {},
       "column 1: value 3"},
  };
  for (const RowCase& c : cases) {
    RowPlan plan;
    std::string reason;
    ASSERT_TRUE(plan.Choose(c.source, c.forms, "w", reason)) << c.name << ": " << reason;
    bool ok = false;
    const std::vector<unsigned char> out = Convert(plan, c.in, reason, ok);
    if (c.out.empty()) {
      EXPECT_FALSE(ok) << c.name;
      EXPECT_NE(reason.find(c.words), std::string::npos) << c.name << ": " << reason;
    } else {
      EXPECT_TRUE(ok) << c.name << ": " << reason;
      EXPECT_EQ(out, c.out) << c.name;
    }
  }
}

TEST(RowPlan, PicksOneBandCountedFromOneRedFirst) {
  for (int band = 1; band <= 3; ++band) {
    RowDescription rows = Rows(ColourForm(3, 8, false), 2);  // blue, green, red in the row
    RowPlan plan;
    std::string reason;
    ASSERT_TRUE(plan.SelectBand(rows, band, reason)) << reason;
    ASSERT_TRUE(plan.Choose(rows, kGrid, "w", reason)) << reason;
    bool ok = false;
    const std::vector<unsigned char> out = Convert(plan, {30, 20, 10, 60, 50, 40}, reason, ok);
    ASSERT_TRUE(ok) << reason;
    EXPECT_EQ(out, Bytes<int16_t>({int16_t(10 * band), int16_t(10 * band + 30)})) << "band " << band;
  }
  RowDescription rows = Rows(ColourForm(3, 8, true), 2);
  RowPlan plan;
  std::string reason;
  EXPECT_FALSE(plan.SelectBand(rows, 0, reason));
  EXPECT_FALSE(plan.SelectBand(rows, 4, reason));
  EXPECT_NE(reason.find("band 4"), std::string::npos) << reason;
}

}  // namespace
}  // namespace vtfmt
