// Numeric comparisons of the core toolkit.
#pragma once

#include <cmath>

class CVtOperator {
 public:
  // Values this close to zero count as zero.
  static constexpr double kTolerance = 1e-10;

  static int Is0(const double& value) { return std::fabs(value) < kTolerance ? 1 : 0; }
};
