#include "platform/vtelem/CElemGeometry.h"

#include "platform/geodata/GeodataOgr.h"
#include "platform/vtelem/CElementManager.h"

CElemGeometry::CElemGeometry(const CElemGeometry& other)
    : CVtElement(other), type_(other.type_), geometry_(vtgeo::OgrClone(other.geometry_)) {}

CElemGeometry& CElemGeometry::operator=(const CElemGeometry& other) {
  if (this != &other) {
    void* copy = vtgeo::OgrClone(other.geometry_);
    vtgeo::OgrDestroy(geometry_);
    geometry_ = copy;
    type_ = other.type_;
  }
  return *this;
}

CElemGeometry::~CElemGeometry() { vtgeo::OgrDestroy(geometry_); }

void CElemGeometry::Attach(void* geometry) {
  if (geometry == geometry_) return;
  vtgeo::OgrDestroy(geometry_);
  geometry_ = geometry;
  if (geometry_) type_ = CElementManager::TypeOfOgr(vtgeo::OgrType(geometry_));
}

void* CElemGeometry::Detach() {
  void* geometry = geometry_;
  geometry_ = nullptr;
  return geometry;
}

BOOL CElemGeometry::ParseGML(const CString& text) {
  void* geometry = vtgeo::OgrFromGML(text.GetString());
  if (!geometry) return FALSE;
  Attach(geometry);
  return TRUE;
}

CString CElemGeometry::GetGML(int depth) const {
  std::string gml = vtgeo::OgrToGML3(geometry_);
  if (gml.empty()) return CString();
  return CString(std::string(depth > 0 ? static_cast<size_t>(depth) * 3 : 0, ' ') + gml + "\n");
}

BOOL CElemGeometry::SetWkt(const CString& wkt) {
  void* geometry = vtgeo::OgrFromWkt(wkt.GetString());
  if (!geometry) return FALSE;
  Attach(geometry);
  return TRUE;
}

CString CElemGeometry::GetWkt() const { return CString(vtgeo::OgrToWkt(geometry_)); }

bool CElemGeometry::Equals(const CElemGeometry& other) const { return vtgeo::OgrEquals(geometry_, other.geometry_); }

bool CElemGeometry::GetBounds(CRect2D& bounds) const {
  vtgeo::OgrEnvelope e;
  if (!vtgeo::OgrEnvelopeOf(geometry_, e)) return false;
  bounds.SetRect(e.minX, e.maxY, e.maxX, e.minY);
  return true;
}
