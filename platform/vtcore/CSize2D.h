// Extents and displacements in ground units, in the plane and in space.
#pragma once

class CSize2D {
 public:
  double cx = 0.0;
  double cy = 0.0;

  CSize2D() = default;
  CSize2D(double x, double y) : cx(x), cy(y) {}
};

class CSize3D {
 public:
  double cx = 0.0;
  double cy = 0.0;
  double cz = 0.0;

  CSize3D() = default;
  CSize3D(double x, double y, double z) : cx(x), cy(y), cz(z) {}
};
