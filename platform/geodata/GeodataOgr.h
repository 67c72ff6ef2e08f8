// The geodata library's geometry calls (OGR's C interface), bound on first
// use like its error layer, so that a process that handles no vector
// geometry never loads it. Geometries are the library's own handles.
#pragma once

#include <string>

namespace vtgeo {

typedef void* OGRGeometryH;

struct OgrEnvelope {
  double minX, maxX, minY, maxY;
};

// True when the library is loaded and every call below is bound.
bool OgrAvailable();

// A geometry from GML text (any GML 2 or 3 geometry element), or null. The
// library's complaint about bad text is kept, not printed: OgrLastError.
OGRGeometryH OgrFromGML(const char* text);
// GML 3 text of the geometry on one line, coordinates written so that they
// read back to the same doubles; empty for an empty geometry or on failure.
std::string OgrToGML3(OGRGeometryH geometry);
OGRGeometryH OgrFromWkt(const char* wkt);
std::string OgrToWkt(OGRGeometryH geometry);
OGRGeometryH OgrClone(OGRGeometryH geometry);
void OgrDestroy(OGRGeometryH geometry);
// The library's geometry type code (wkbPoint = 1 ... wkbGeometryCollection
// = 7, plus its 3D and measured variants), 0 for null.
int OgrType(OGRGeometryH geometry);
bool OgrEquals(OGRGeometryH a, OGRGeometryH b);
bool OgrEnvelopeOf(OGRGeometryH geometry, OgrEnvelope& envelope);
std::string OgrLastError();

}  // namespace vtgeo
