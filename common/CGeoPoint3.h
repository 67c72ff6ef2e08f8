// The element library's three-dimensional point element, as far as this
// library exports it: a single simple part that the generic editing
// operations leave as it is (a 3-D point is placed by its own operations).
#pragma once

#include "platform/vtelem/CGeoElement.h"

class CGeoPoint3 : public CGeoElement {
 public:
  CGeoPoint3() = default;
  CGeoPoint3(const CGeoPoint3& other) = default;
  CGeoPoint3& operator=(const CGeoPoint3& other) {
    CGeoElement::operator=(other);
    return *this;
  }
  // Out of line: the class's table and type information live in the library.
  ~CGeoPoint3() override;

  int GetSubCount() const override { return 1; }
  int IsSimple() const override { return 1; }
  void ComputeBounds() override {}
  void Offset(const CSize2D&) override {}
  void Offset(const CSize3D&) override {}
  void Offset(double) override {}
  void Offset(double, double) override {}
  void Offset(double, double, double) override {}
  void Offset(const CSize2D&, double) override {}
  void Inflate(double) override {}
  void Inflate(double, double) override {}
  void Inflate(double, double, double) override {}
  void Rotate(const CPoint2D&, const double&) override {}
  int Resize(CRect2D) override { return 0; }
};
