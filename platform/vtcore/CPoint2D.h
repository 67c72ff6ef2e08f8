// A point of the plane in ground units: x then y.
#pragma once

class CPoint2D {
 public:
  double x = 0.0;
  double y = 0.0;

  CPoint2D() = default;
  CPoint2D(double px, double py) : x(px), y(py) {}

  bool operator==(const CPoint2D& o) const { return x == o.x && y == o.y; }
  bool operator!=(const CPoint2D& o) const { return !(*this == o); }
};
