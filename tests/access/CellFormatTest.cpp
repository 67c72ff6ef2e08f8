// Cell formats: a format chosen for the user must hold each value exactly;
// one the user chose holds floats as their nearest single, up to where the
// nearest single is infinite, and still refuses what an integer would cut.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>

#include "access/CellFormat.h"
#include "platform/vtcore/ImgPixelFormat.h"

namespace {

using vtfmt::Fits;
using vtfmt::Holds;

TEST(CellFormat, SinglesFitByValueOrTextAndAreHeldUpToOverflow) {
  const double inf = std::numeric_limits<double>::infinity();
  const double halfway = 0x1.ffffffp+127;  // FLT_MAX plus half its last step
  const struct {
    double v;
    bool fits, holds;
  } cases[] = {
      {0.1, true, true},                // the shortest text of a single
      {774.7639770507812, true, true},  // a single's value in full
      {774.764, true, true},            // the same single's shortest text
      {774.76398, false, true},         // no single's shortest text
      {328.9998, true, true},
      {3000000000.0, true, true},
      {16777217.0, false, true},
      {0x1p-149, true, true},  // the smallest subnormal single
      {1e-50, false, true},    // nearest single 0
      {FLT_MAX, true, true},
      {-FLT_MAX, true, true},
      {std::nextafter(halfway, 0.0), false, true},  // rounds down to FLT_MAX
      {halfway, false, false},                      // ties to even: the infinity
      {-halfway, false, false},
      {1e39, false, false},
      {DBL_MAX, false, false},
      {inf, true, true},
      {-inf, true, true},
      {std::nan(""), true, true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Fits(c.v, PF_FLOAT32), c.fits) << c.v;
    EXPECT_EQ(Holds(c.v, PF_FLOAT32), c.holds) << c.v;
    // Held exactly when the hardware's nearest single is no new infinity.
    if (std::isfinite(c.v) && std::fabs(c.v) <= 1e39) {
      volatile float nearest = static_cast<float>(c.v);
      EXPECT_EQ(Holds(c.v, PF_FLOAT32), std::isfinite(nearest)) << c.v;
    }
    EXPECT_TRUE(Fits(c.v, PF_FLOAT64) && Holds(c.v, PF_FLOAT64)) << c.v;
  }
}

TEST(CellFormat, ChosenIntegerFormatsStillRefuseWhatTheyWouldCut) {
  const struct {
    double v;
    int format;
    bool held;
  } cases[] = {{1.5, PF_BIT8, false},     {1.5, PF_BIT16, false},    {1.5, PF_INT32, false},
               {-0.5, PF_INT32, false},   {255, PF_BIT8, true},      {256, PF_BIT8, false},
               {-32768, PF_BIT16, true},  {32768, PF_BIT16, false},  {2147483647.0, PF_INT32, true},
               {2147483648.0, PF_INT32, false}, {16, PF_BIT4, false}, {2, PF_BIT1, false},
               {std::nan(""), PF_INT32, false}};
  for (const auto& c : cases) {
    EXPECT_EQ(Holds(c.v, c.format), c.held) << c.v << " in " << c.format;
    EXPECT_EQ(Fits(c.v, c.format), c.held) << c.v << " in " << c.format;
  }
}

}  // namespace
