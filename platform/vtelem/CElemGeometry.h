// A geometry element: points, lines, polygons (with holes), their multi
// forms and collections, held as a geodata-library (OGR) geometry.
#pragma once

#include "platform/vtcore/CRect2D.h"
#include "platform/vtelem/CVtElement.h"

class CElemGeometry : public CVtElement {
 public:
  explicit CElemGeometry(int type = ELEM_NONE) : type_(type) {}
  CElemGeometry(const CElemGeometry& other);
  CElemGeometry& operator=(const CElemGeometry& other);
  ~CElemGeometry() override;

  int GetType() const override { return type_; }
  BOOL ParseGML(const CString& text) override;
  // The GML 3 text of the geometry on one line, after `depth` steps of three
  // spaces and ending in a line feed; empty when the element holds none.
  virtual CString GetGML(int depth) const;

  // Well-known text in and out (coordinates exact).
  BOOL SetWkt(const CString& wkt);
  CString GetWkt() const;
  bool IsEmpty() const { return geometry_ == nullptr; }
  // The same geometry (exact coordinates).
  bool Equals(const CElemGeometry& other) const;
  // Left, top, right, bottom of the geometry; false when it has none.
  bool GetBounds(CRect2D& bounds) const;

  // The OGR geometry (OGRGeometryH) held; Attach takes ownership and sets
  // the type from it, Detach gives it up.
  void* Handle() const { return geometry_; }
  void Attach(void* geometry);
  void* Detach();

 private:
  int type_;
  void* geometry_ = nullptr;
};
