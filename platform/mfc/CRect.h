// MFC's integer point and rectangle: 32-bit coordinates, rectangles with
// the right and bottom edges outside (a rectangle from 0 to 10 holds ten
// pixels), y growing downwards.
#pragma once

#include <algorithm>

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

  // In 64 bits: the difference of two 32-bit edges may not fit in 32.
  long long Width() const { return static_cast<long long>(right) - left; }
  long long Height() const { return static_cast<long long>(bottom) - top; }
  // Empty: no pixels (right <= left or bottom <= top).
  BOOL IsRectEmpty() const { return right <= left || bottom <= top; }
  void SetRect(LONG l, LONG t, LONG r, LONG b) {
    left = l;
    top = t;
    right = r;
    bottom = b;
  }
  void SetRectEmpty() { left = top = right = bottom = 0; }
  CPoint TopLeft() const { return CPoint(left, top); }
  CPoint BottomRight() const { return CPoint(right, bottom); }
  // The common part of `a` and `b`; empty (all zero) and FALSE when they
  // do not overlap.
  BOOL IntersectRect(const CRect& a, const CRect& b) {
    SetRect(std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
            std::min(a.bottom, b.bottom));
    if (IsRectEmpty()) {
      SetRectEmpty();
      return FALSE;
    }
    return TRUE;
  }
  bool operator==(const CRect& o) const {
    return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
  }
  bool operator!=(const CRect& o) const { return !(*this == o); }
};
