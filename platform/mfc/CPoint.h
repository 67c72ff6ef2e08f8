// MFC's integer point and rectangle (device coordinates, y pointing down).
#pragma once

#include "platform/win/windef.h"

class CPoint {
 public:
  LONG x = 0;
  LONG y = 0;

  CPoint() = default;
  CPoint(LONG px, LONG py) : x(px), y(py) {}

  bool operator==(const CPoint& o) const { return x == o.x && y == o.y; }
  bool operator!=(const CPoint& o) const { return !(*this == o); }
};

class CRect {
 public:
  LONG left = 0;
  LONG top = 0;
  LONG right = 0;
  LONG bottom = 0;

  CRect() = default;
  CRect(LONG l, LONG t, LONG r, LONG b) : left(l), top(t), right(r), bottom(b) {}

  LONG Width() const { return right - left; }
  LONG Height() const { return bottom - top; }

  bool operator==(const CRect& o) const {
    return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
  }
  bool operator!=(const CRect& o) const { return !(*this == o); }
};
