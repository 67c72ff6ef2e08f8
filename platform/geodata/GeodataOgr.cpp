#include "platform/geodata/GeodataOgr.h"


#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "platform/geodata/GeodataCpl.h"
#include "platform/vtcore/VtNumber.h"

namespace vtgeo {
namespace {

struct OgrEntries {
  OGRGeometryH (*fromGML)(const char*) = nullptr;
  char* (*toGML)(OGRGeometryH, char**) = nullptr;
  int (*fromWkt)(char**, void*, OGRGeometryH*) = nullptr;
  int (*toWkt)(OGRGeometryH, char**) = nullptr;
  OGRGeometryH (*clone)(OGRGeometryH) = nullptr;
  void (*destroy)(OGRGeometryH) = nullptr;
  int (*type)(OGRGeometryH) = nullptr;
  int (*equals)(OGRGeometryH, OGRGeometryH) = nullptr;
  void (*envelope)(OGRGeometryH, OgrEnvelope*) = nullptr;
  int (*isEmpty)(OGRGeometryH) = nullptr;
  void (*free)(void*) = nullptr;
  void (*setLocalOption)(const char*, const char*) = nullptr;
  const char* (*getLocalOption)(const char*, const char*) = nullptr;
  int (*geometryCount)(OGRGeometryH) = nullptr;
  OGRGeometryH (*geometryRef)(OGRGeometryH, int) = nullptr;
  int (*pointCount)(OGRGeometryH) = nullptr;
  double (*getX)(OGRGeometryH, int) = nullptr;
  double (*getY)(OGRGeometryH, int) = nullptr;
  double (*getZ)(OGRGeometryH, int) = nullptr;
  int (*is3D)(OGRGeometryH) = nullptr;
  int (*getPoints)(OGRGeometryH, void*, int, void*, int, void*, int) = nullptr;
  OGRGeometryH (*create)(int) = nullptr;
  void (*setPoints)(OGRGeometryH, int, const void*, int, const void*, int, const void*, int) = nullptr;
  int (*addGeometryDirectly)(OGRGeometryH, OGRGeometryH) = nullptr;
  bool bound = false;
};

const OgrEntries& Entries() {
  static const OgrEntries entries = [] {
    OgrEntries e;
    if (!GeodataLibrary()) return e;
    e.bound = BindGeodata("OGR_G_CreateFromGML", e.fromGML) && BindGeodata("OGR_G_ExportToGMLEx", e.toGML) &&
              BindGeodata("OGR_G_CreateFromWkt", e.fromWkt) && BindGeodata("OGR_G_ExportToIsoWkt", e.toWkt) &&
              BindGeodata("OGR_G_Clone", e.clone) && BindGeodata("OGR_G_DestroyGeometry", e.destroy) &&
              BindGeodata("OGR_G_GetGeometryType", e.type) && BindGeodata("OGR_G_Equals", e.equals) &&
              BindGeodata("OGR_G_GetEnvelope", e.envelope) && BindGeodata("OGR_G_IsEmpty", e.isEmpty) &&
              BindGeodata("VSIFree", e.free) && BindGeodata("CPLSetThreadLocalConfigOption", e.setLocalOption) &&
              BindGeodata("CPLGetThreadLocalConfigOption", e.getLocalOption) && BindGeodata("OGR_G_GetGeometryCount", e.geometryCount) &&
              BindGeodata("OGR_G_GetGeometryRef", e.geometryRef) && BindGeodata("OGR_G_GetPointCount", e.pointCount) &&
              BindGeodata("OGR_G_GetX", e.getX) && BindGeodata("OGR_G_GetY", e.getY) && BindGeodata("OGR_G_GetZ", e.getZ) &&
              BindGeodata("OGR_G_Is3D", e.is3D) && BindGeodata("OGR_G_GetPoints", e.getPoints) &&
              BindGeodata("OGR_G_CreateGeometry", e.create) && BindGeodata("OGR_G_SetPoints", e.setPoints) &&
              BindGeodata("OGR_G_AddGeometryDirectly", e.addGeometryDirectly);
    return e;
  }();
  return entries;
}

// Sets a thread-local option for one call and puts the old value back.
struct LocalOption {
  const OgrEntries& e;
  const char* key;
  std::string old;
  bool had;
  LocalOption(const OgrEntries& entries, const char* k, const char* value) : e(entries), key(k) {
    const char* v = e.getLocalOption(key, nullptr);
    had = v != nullptr;
    if (had) old = v;
    e.setLocalOption(key, value);
  }
  ~LocalOption() { e.setLocalOption(key, had ? old.c_str() : nullptr); }
};

// Every coordinate of the geometry in the order its GML lists them: parts,
// rings and points in order, x y and z when the geometry has z.
void CollectCoordinates(const OgrEntries& e, OGRGeometryH g, bool z, std::vector<double>& out) {
  int parts = e.geometryCount(g);
  if (parts > 0) {
    for (int i = 0; i < parts; ++i) CollectCoordinates(e, e.geometryRef(g, i), z, out);
    return;
  }
  int points = e.pointCount(g);
  for (int i = 0; i < points; ++i) {
    out.push_back(e.getX(g, i));
    out.push_back(e.getY(g, i));
    if (z) out.push_back(e.getZ(g, i));
  }
}

// The library prints coordinates in fixed notation with 17 digits, which
// turns 1e-300 into 0 and 0.1 into 0.10000000000000001. The numbers in the
// coordinate elements are replaced, in order, by the shortest text that
// reads back as the same double. When the count differs from the
// geometry's, the library's text is kept.
std::string ExactCoordinates(const OgrEntries& e, OGRGeometryH geometry, const std::string& gml) {
  std::vector<double> coords;
  CollectCoordinates(e, geometry, e.is3D(geometry) != 0, coords);
  std::string out;
  out.reserve(gml.size());
  size_t next = 0, at = 0;
  static const char* const kOpen[] = {"<gml:pos>", "<gml:pos ", "<gml:posList>", "<gml:posList "};
  while (at < gml.size()) {
    size_t start = std::string::npos;
    for (const char* open : kOpen) start = std::min(start, gml.find(open, at));
    if (start == std::string::npos) break;
    size_t contentStart = gml.find('>', start);
    size_t contentEnd = contentStart == std::string::npos ? contentStart : gml.find('<', contentStart);
    if (contentEnd == std::string::npos) return gml;
    out.append(gml, at, contentStart + 1 - at);
    size_t p = contentStart + 1;
    bool first = true;
    while (p < contentEnd) {
      while (p < contentEnd && std::isspace(static_cast<unsigned char>(gml[p]))) ++p;
      size_t q = p;
      while (q < contentEnd && !std::isspace(static_cast<unsigned char>(gml[q]))) ++q;
      if (q == p) break;
      if (next >= coords.size()) return gml;
      if (!first) out += ' ';
      out += vtnum::Coordinate(coords[next++]);
      first = false;
      p = q;
    }
    at = contentEnd;
  }
  if (next != coords.size()) return gml;
  out.append(gml, at, std::string::npos);
  return out;
}

// The coordinates of a point string as one run of "x y[ z]" numbers.
void AppendPositions(const OgrEntries& e, OGRGeometryH g, bool z, std::string& out) {
  const int n = e.pointCount(g);
  std::vector<double> xyz(static_cast<size_t>(n) * 3, 0.0);
  if (n > 0) e.getPoints(g, xyz.data(), 24, xyz.data() + 1, 24, z ? xyz.data() + 2 : nullptr, 24);
  for (int i = 0; i < n; ++i) {
    if (i) out += ' ';
    out += vtnum::Coordinate(xyz[3 * i]);
    out += ' ';
    out += vtnum::Coordinate(xyz[3 * i + 1]);
    if (z) {
      out += ' ';
      out += vtnum::Coordinate(xyz[3 * i + 2]);
    }
  }
}

void AppendPosList(const OgrEntries& e, OGRGeometryH g, bool z, std::string& out) {
  out += z ? "<gml:posList srsDimension=\"3\">" : "<gml:posList>";
  AppendPositions(e, g, z, out);
  out += "</gml:posList>";
}

// GML 3 of the simple geometries in the same elements as the library's own
// writer, coordinates exact (measures are not carried by GML). False for
// empty and curved geometries, which go through the library's writer.
bool AppendGml3(const OgrEntries& e, OGRGeometryH g, bool z, std::string& out) {
  if (!g || e.isEmpty(g)) return false;
  const int flat = (e.type(g) & 0x7fffffff) % 1000;
  auto members = [&](const char* outer, const char* member) {
    out += std::string("<gml:") + outer + ">";
    for (int i = 0; i < e.geometryCount(g); ++i) {
      out += std::string("<gml:") + member + ">";
      if (!AppendGml3(e, e.geometryRef(g, i), z, out)) return false;
      out += std::string("</gml:") + member + ">";
    }
    out += std::string("</gml:") + outer + ">";
    return true;
  };
  switch (flat) {
    case 1:  // point
      out += "<gml:Point><gml:pos>";
      AppendPositions(e, g, z, out);
      out += "</gml:pos></gml:Point>";
      return true;
    case 2:  // line string
      out += "<gml:LineString>";
      AppendPosList(e, g, z, out);
      out += "</gml:LineString>";
      return true;
    case 3: {  // polygon: exterior ring, then the holes
      out += "<gml:Polygon>";
      for (int i = 0; i < e.geometryCount(g); ++i) {
        out += i ? "<gml:interior><gml:LinearRing>" : "<gml:exterior><gml:LinearRing>";
        AppendPosList(e, e.geometryRef(g, i), z, out);
        out += i ? "</gml:LinearRing></gml:interior>" : "</gml:LinearRing></gml:exterior>";
      }
      out += "</gml:Polygon>";
      return true;
    }
    case 4:
      return members("MultiPoint", "pointMember");
    case 5:
      return members("MultiCurve", "curveMember");
    case 6:
      return members("MultiSurface", "surfaceMember");
    case 7:
      return members("MultiGeometry", "geometryMember");
    default:
      return false;
  }
}

// Reads the GML that the writer above produces (and the library's own writer
// for these kinds) straight into geometries: one pass, numbers read exactly.
// Anything else (other elements, attributes such as srsName, gml:coordinates)
// makes it give up, and the library's general reader takes the text.
class SimpleGmlReader {
 public:
  SimpleGmlReader(const OgrEntries& e, const char* text, size_t length)
      : e_(e), p_(text), end_(text + length), numbers_(Scratch()) {}
  // The coordinates' buffer is kept per thread for the next geometry unless
  // a large one grew it.
  ~SimpleGmlReader() {
    if (numbers_.capacity() > (size_t(1) << 16)) std::vector<double>().swap(numbers_);
  }
  SimpleGmlReader(const SimpleGmlReader&) = delete;
  SimpleGmlReader& operator=(const SimpleGmlReader&) = delete;

  OGRGeometryH Read() {
    OGRGeometryH g = Geometry();
    Space();
    if (g && p_ != end_) {
      e_.destroy(g);
      return nullptr;
    }
    return g;
  }

 private:
  void Space() {
    while (p_ < end_ && (*p_ == ' ' || *p_ == '\t' || *p_ == '\n' || *p_ == '\r')) ++p_;
  }
  // Consumes "<gml:name" and the attributes this reader understands, then ">".
  bool Open(const char* name, int* dimension = nullptr) {
    Space();
    const size_t n = std::strlen(name);
    if (end_ - p_ < static_cast<long>(n) + 6 || std::strncmp(p_, "<gml:", 5) != 0 ||
        std::strncmp(p_ + 5, name, n) != 0)
      return false;
    const char* q = p_ + 5 + n;
    if (q < end_ && *q == ' ' && dimension) {
      static const char kDim2[] = " srsDimension=\"2\"", kDim3[] = " srsDimension=\"3\"";
      if (end_ - q >= 18 && std::strncmp(q, kDim2, 18) == 0) *dimension = 2, q += 18;
      else if (end_ - q >= 18 && std::strncmp(q, kDim3, 18) == 0) *dimension = 3, q += 18;
    }
    if (q >= end_ || *q != '>') return false;
    p_ = q + 1;
    return true;
  }
  bool Close(const char* name) {
    Space();
    const size_t n = std::strlen(name);
    if (end_ - p_ < static_cast<long>(n) + 7 || std::strncmp(p_, "</gml:", 6) != 0 ||
        std::strncmp(p_ + 6, name, n) != 0 || p_[6 + n] != '>')
      return false;
    p_ += 7 + n;
    return true;
  }
  bool Peek(const char* name) {
    Space();
    const size_t n = std::strlen(name);
    return end_ - p_ > static_cast<long>(n) + 5 && std::strncmp(p_, "<gml:", 5) == 0 &&
           std::strncmp(p_ + 5, name, n) == 0 && (p_[5 + n] == '>' || p_[5 + n] == ' ');
  }
  // The numbers up to the next tag.
  bool Numbers(std::vector<double>& out) {
    out.clear();
    for (;;) {
      Space();
      if (p_ >= end_ || *p_ == '<') return true;
      double v;
      size_t used = vtnum::ParseDouble(p_, static_cast<size_t>(end_ - p_), v);
      if (used == 0) return false;
      p_ += used;
      if (p_ < end_ && !(*p_ == ' ' || *p_ == '\t' || *p_ == '\n' || *p_ == '\r' || *p_ == '<')) return false;
      out.push_back(v);
    }
  }
  OGRGeometryH Points(int type, const char* element, bool single) {
    int dimension = 0;
    if (!Open(element, &dimension) || !Numbers(numbers_) || !Close(element)) return nullptr;
    if (dimension == 0) dimension = single && numbers_.size() == 3 ? 3 : 2;
    const size_t count = numbers_.size() / static_cast<size_t>(dimension);
    if (count == 0 || numbers_.size() % static_cast<size_t>(dimension) != 0 || (single && count != 1)) return nullptr;
    OGRGeometryH g = e_.create(type);
    const int stride = dimension * static_cast<int>(sizeof(double));
    e_.setPoints(g, static_cast<int>(count), numbers_.data(), stride, numbers_.data() + 1, stride,
                 dimension == 3 ? numbers_.data() + 2 : nullptr, stride);
    return g;
  }
  // Children of `outer`: each in its `member` element, read by `read`.
  template <class Read>
  OGRGeometryH Members(int type, const char* outer, const char* member, Read read) {
    if (!Open(outer)) return nullptr;
    OGRGeometryH g = e_.create(type);
    while (Peek(member)) {
      Open(member);
      OGRGeometryH child = read();
      if (!child || !Close(member) || e_.addGeometryDirectly(g, child) != 0) {
        if (child) e_.destroy(child);
        e_.destroy(g);
        return nullptr;
      }
    }
    if (!Close(outer)) {
      e_.destroy(g);
      return nullptr;
    }
    return g;
  }
  OGRGeometryH Point() {
    if (!Open("Point")) return nullptr;
    OGRGeometryH g = Points(1, "pos", true);
    return Closed(g, "Point");
  }
  OGRGeometryH Line() {
    if (!Open("LineString")) return nullptr;
    return Closed(Points(2, "posList", false), "LineString");
  }
  OGRGeometryH Ring(const char* side) {
    if (!Open(side) || !Open("LinearRing")) return nullptr;
    OGRGeometryH ring = Points(101, "posList", false);
    ring = Closed(ring, "LinearRing");
    return Closed(ring, side);
  }
  OGRGeometryH Polygon() {
    if (!Open("Polygon")) return nullptr;
    OGRGeometryH g = e_.create(3);
    for (const char* side = "exterior"; Peek(side); side = "interior") {
      OGRGeometryH ring = Ring(side);
      if (!ring || e_.addGeometryDirectly(g, ring) != 0) {
        if (ring) e_.destroy(ring);
        e_.destroy(g);
        return nullptr;
      }
    }
    return Closed(g, "Polygon");
  }
  OGRGeometryH Closed(OGRGeometryH g, const char* name) {
    if (g && !Close(name)) {
      e_.destroy(g);
      return nullptr;
    }
    return g;
  }
  OGRGeometryH Geometry() {
    if (++depth_ > 8) return nullptr;
    OGRGeometryH g = nullptr;
    if (Peek("Point")) g = Point();
    else if (Peek("LineString")) g = Line();
    else if (Peek("Polygon")) g = Polygon();
    else if (Peek("MultiPoint")) g = Members(4, "MultiPoint", "pointMember", [this] { return Point(); });
    else if (Peek("MultiCurve")) g = Members(5, "MultiCurve", "curveMember", [this] { return Line(); });
    else if (Peek("MultiSurface")) g = Members(6, "MultiSurface", "surfaceMember", [this] { return Polygon(); });
    else if (Peek("MultiGeometry")) g = Members(7, "MultiGeometry", "geometryMember", [this] { return Geometry(); });
    --depth_;
    return g;
  }

  const OgrEntries& e_;
  const char* p_;
  const char* end_;
  int depth_ = 0;
  std::vector<double>& numbers_;

  static std::vector<double>& Scratch() {
    thread_local std::vector<double> numbers;
    return numbers;
  }
};

}  // namespace

bool OgrAvailable() { return Entries().bound; }

OGRGeometryH OgrFromGML(const char* text) {
  const OgrEntries& e = Entries();
  if (!e.bound || !text) return nullptr;
  if (OGRGeometryH simple = SimpleGmlReader(e, text, std::strlen(text)).Read()) return simple;
  GeodataQuiet quiet;
  return e.fromGML(text);
}

std::string OgrToGML3(OGRGeometryH geometry) {
  const OgrEntries& e = Entries();
  if (!e.bound || !geometry || e.isEmpty(geometry)) return std::string();
  std::string direct;
  if (AppendGml3(e, geometry, e.is3D(geometry) != 0, direct)) return direct;
  LocalOption precision(e, "OGR_WKT_PRECISION", "17");
  LocalOption round(e, "OGR_WKT_ROUND", "NO");
  char format[] = "FORMAT=GML3";
  char* options[] = {format, nullptr};
  GeodataQuiet quiet;
  char* text = e.toGML(geometry, options);
  std::string gml = text ? text : "";
  e.free(text);
  return gml.empty() ? gml : ExactCoordinates(e, geometry, gml);
}

OGRGeometryH OgrFromWkt(const char* wkt) {
  const OgrEntries& e = Entries();
  if (!e.bound || !wkt) return nullptr;
  GeodataQuiet quiet;
  char* cursor = const_cast<char*>(wkt);
  OGRGeometryH geometry = nullptr;
  if (e.fromWkt(&cursor, nullptr, &geometry) != 0) return nullptr;
  return geometry;
}

std::string OgrToWkt(OGRGeometryH geometry) {
  const OgrEntries& e = Entries();
  if (!e.bound || !geometry) return std::string();
  LocalOption precision(e, "OGR_WKT_PRECISION", "17");
  LocalOption round(e, "OGR_WKT_ROUND", "NO");
  char* text = nullptr;
  GeodataQuiet quiet;
  if (e.toWkt(geometry, &text) != 0) text = nullptr;
  std::string wkt = text ? text : "";
  e.free(text);
  return wkt;
}

OGRGeometryH OgrClone(OGRGeometryH geometry) {
  const OgrEntries& e = Entries();
  return e.bound && geometry ? e.clone(geometry) : nullptr;
}

void OgrDestroy(OGRGeometryH geometry) {
  const OgrEntries& e = Entries();
  if (e.bound && geometry) e.destroy(geometry);
}

int OgrType(OGRGeometryH geometry) {
  const OgrEntries& e = Entries();
  return e.bound && geometry ? e.type(geometry) : 0;
}

bool OgrEquals(OGRGeometryH a, OGRGeometryH b) {
  const OgrEntries& e = Entries();
  if (!e.bound || !a || !b) return a == b;
  return e.equals(a, b) != 0;
}

bool OgrEnvelopeOf(OGRGeometryH geometry, OgrEnvelope& envelope) {
  const OgrEntries& e = Entries();
  if (!e.bound || !geometry || e.isEmpty(geometry)) return false;
  e.envelope(geometry, &envelope);
  return true;
}

std::string OgrLastError() {
  const OgrEntries& e = Entries();
  return e.bound ? GeodataLastMessage() : "the geodata library cannot be loaded";
}

}  // namespace vtgeo
