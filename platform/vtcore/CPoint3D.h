// A point of space in ground units: x, y, then z.
#pragma once

class CPoint3D {
 public:
  double x = 0.0;
  double y = 0.0;
  double z = 0.0;

  CPoint3D() = default;
  CPoint3D(double px, double py, double pz) : x(px), y(py), z(pz) {}

  bool operator==(const CPoint3D& o) const { return x == o.x && y == o.y && z == o.z; }
  bool operator!=(const CPoint3D& o) const { return !(*this == o); }
};
