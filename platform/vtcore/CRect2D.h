// Geographic bounds: left, top, right, bottom as doubles, y pointing up, so a
// proper rectangle has right > left and top > bottom.
#pragma once

#include "platform/vtcore/CPoint2D.h"

class CRect2D {
 public:
  double left = 0.0;
  double top = 0.0;
  double right = 0.0;
  double bottom = 0.0;

  CRect2D() = default;
  CRect2D(double l, double t, double r, double b) : left(l), top(t), right(r), bottom(b) {}
  // Upper-left and lower-right corners.
  CRect2D(const CPoint2D& topLeft, const CPoint2D& bottomRight) { SetRect(topLeft, bottomRight); }

  double Width() const { return right - left; }
  double Height() const { return top - bottom; }

  // Empty: no area (or a negative one).
  int IsRectEmpty() const { return !(right > left && top > bottom); }
  // Null: all four values zero.
  int IsRectNull() const { return left == 0.0 && top == 0.0 && right == 0.0 && bottom == 0.0; }
  void SetRectEmpty() { left = top = right = bottom = 0.0; }
  void SetRect(double l, double t, double r, double b) {
    left = l;
    top = t;
    right = r;
    bottom = b;
  }
  void SetRect(const CPoint2D& topLeft, const CPoint2D& bottomRight) {
    left = topLeft.x;
    top = topLeft.y;
    right = bottomRight.x;
    bottom = bottomRight.y;
  }
  CPoint2D TopLeft() const { return CPoint2D(left, top); }
  CPoint2D BottomRight() const { return CPoint2D(right, bottom); }

  bool operator==(const CRect2D& o) const {
    return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
  }
  bool operator!=(const CRect2D& o) const { return !(*this == o); }
};
