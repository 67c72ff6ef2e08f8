// Base of the element library's geometric elements: what every element
// keeps (its identifier and the index of its style in the layer's style
// list) and the editing operations each element type defines.
#pragma once

#include "platform/vtcore/CPoint2D.h"
#include "platform/vtcore/CRect2D.h"
#include "platform/vtcore/CSize2D.h"

class CGeoElement {
 public:
  CGeoElement() = default;
  CGeoElement(const CGeoElement&) = default;
  CGeoElement& operator=(const CGeoElement&) = default;
  virtual ~CGeoElement() = default;

  // Parts the element is made of, and whether it is a single simple part.
  virtual int GetSubCount() const = 0;
  virtual int IsSimple() const = 0;
  virtual void ComputeBounds() = 0;
  virtual void Offset(const CSize2D& d) = 0;
  virtual void Offset(const CSize3D& d) = 0;
  virtual void Offset(double d) = 0;
  virtual void Offset(double dx, double dy) = 0;
  virtual void Offset(double dx, double dy, double dz) = 0;
  virtual void Offset(const CSize2D& d, double dz) = 0;
  virtual void Inflate(double d) = 0;
  virtual void Inflate(double dx, double dy) = 0;
  virtual void Inflate(double dx, double dy, double dz) = 0;
  virtual void Rotate(const CPoint2D& centre, const double& angle) = 0;
  // Fits the element into `rect`; non-zero when it changed.
  virtual int Resize(CRect2D rect) = 0;

  long m_nID = 0;
  int m_nStyle = 0;
};
