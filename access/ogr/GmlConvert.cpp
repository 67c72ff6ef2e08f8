#include "access/ogr/GmlConvert.h"

#include <gdal_priv.h>
#include <ogrsf_frmts.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/vtcore/CVtXmlToolkit.h"
#include "platform/vtcore/VtNumber.h"
#include "platform/vtelem/CElemGeometry.h"
#include "access/ogr/OgrOutput.h"
#include "vector/gml/CVtVectorGML.h"

namespace vtfmt {
namespace gml {

namespace {

[[noreturn]] void Usage(const std::string& why) { throw Failure{why, 2}; }
[[noreturn]] void Fail(const std::string& file, const std::string& why) { throw Failure{file + ": " + why, 1}; }


// A name the GML writer accepts: characters that cannot stand in an XML
// name become "_", and a leading digit, "-" or "." gets one in front.
std::string XmlName(const std::string& name, std::set<std::string>& taken) {
  std::string out;
  for (unsigned char c : name) {
    bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
              c == '.' || c >= 0x80;
    out += ok ? static_cast<char>(c) : '_';
  }
  if (out.empty() || !CVtVectorGML::IsXmlName(CString(out))) out = "_" + out;
  std::string unique = out;
  for (int n = 2; !taken.insert(unique).second; ++n) unique = out + "_" + std::to_string(n);
  return unique;
}

int LayerTypeOf(OGRwkbGeometryType type) {
  switch (wkbFlatten(type)) {
    case wkbNone:
      return 0;  // Tabular
    case wkbPoint:
    case wkbMultiPoint:
      return 1;  // Point
    case wkbLineString:
    case wkbMultiLineString:
      return 3;  // Line
    case wkbPolygon:
    case wkbMultiPolygon:
      return 5;  // Region
    default:
      return 149;  // CAD: mixed or other geometry
  }
}

int FieldTypeOf(const OGRFieldDefn& field) {
  switch (field.GetType()) {
    case OFTInteger:
      return field.GetSubType() == OFSTBoolean ? 1 : field.GetSubType() == OFSTInt16 ? 3 : 4;
    case OFTInteger64:
      return 4;  // read back as 64-bit integers
    case OFTReal:
      return field.GetSubType() == OFSTFloat32 ? 6 : 7;
    case OFTDate:
    case OFTTime:
    case OFTDateTime:
      return 8;  // ISO 8601 text
    case OFTBinary:
      return 9;  // hexadecimal text
    default:
      return 10;
  }
}

// The text a field value is written as.
COleVariant ValueOf(OGRFeature& feature, int index, int type) {
  if (!feature.IsFieldSetAndNotNull(index)) return COleVariant();
  if (type == 1) return COleVariant(feature.GetFieldAsInteger(index) != 0);
  if (type == 8) {
    int y, mo, d, h, mi, tz;
    float s;
    feature.GetFieldAsDateTime(index, &y, &mo, &d, &h, &mi, &s, &tz);
    const OGRFieldType t = feature.GetFieldDefnRef(index)->GetType();
    char text[64];
    if (t == OFTDate) std::snprintf(text, sizeof text, "%04d-%02d-%02d", y, mo, d);
    else if (t == OFTTime) std::snprintf(text, sizeof text, "%02d:%02d:%02d", h, mi, static_cast<int>(s));
    else std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", y, mo, d, h, mi, static_cast<int>(s));
    return COleVariant(text);
  }
  if (type == 6 || type == 7) return COleVariant(feature.GetFieldAsDouble(index));
  if (type == 3 || type == 4) return COleVariant(static_cast<int64_t>(feature.GetFieldAsInteger64(index)));
  return COleVariant(feature.GetFieldAsString(index));
}

std::unique_ptr<GDALDataset> OpenVector(const std::string& path) {
  return std::unique_ptr<GDALDataset>(
      static_cast<GDALDataset*>(GDALOpenEx(path.c_str(), GDAL_OF_VECTOR, nullptr, nullptr, nullptr)));
}

void CreateField(OGRLayer* layer, const CString& name, int type, int size) {
  OGRFieldType t = OFTString;
  OGRFieldSubType sub = OFSTNone;
  switch (type) {
    case 1:
      t = OFTInteger;
      sub = OFSTBoolean;
      break;
    case 3:
    case 4:
      t = OFTInteger64;
      break;
    case 6:
    case 7:
      t = OFTReal;
      break;
    case 8:
      t = OFTDateTime;
      break;
    case 9:
      t = OFTBinary;
      break;
    default:
      break;
  }
  OGRFieldDefn field(name.GetString(), t);
  field.SetSubType(sub);
  if (type == 10 && size > 0) field.SetWidth(size);
  layer->CreateField(&field);
}

// Reads every record; `each` gets the layer index (-1 when the record's layer
// has no header) and the record's geometry (owned by the callee).
template <class Each>
long long ReadRecords(CVtVectorGML& gml, Progress& progress, Each each) {
  long long n = 0;
  while (!gml.IsEOF()) {
    gml.BeginReadOneRecord();
    CVtElement* element = nullptr;
    CString layerName;
    gml.ReadOneGeometry(element, layerName);
    std::unique_ptr<CElemGeometry> geometry(dynamic_cast<CElemGeometry*>(element));
    if (!geometry) delete element;
    int index = -1;
    for (int l = 0; l < gml.GetLayerCount() && index < 0; ++l) {
      CString name, sub;
      int type;
      gml.GetLayerInfo(l, name, type, sub);
      if (name.CompareNoCase(layerName) == 0) index = l;
    }
    each(index, std::move(geometry));
    gml.EndReadOneRecord();
    if (++n % 1000 == 0) progress.Show(gml.GetCurrentPercent());
  }
  return n;
}

void OpenGml(CVtVectorGML& gml, const std::string& path) {
  if (!gml.OpenForRead(CString(path)) && gml.GetLayerCount() == 0) Fail(path, "not a GML file of the platform schema");
}

void CheckComplete(const CVtVectorGML& gml, const std::string& path) {
  if (!gml.GetReadError().empty()) Fail(path, "read stopped early: " + gml.GetReadError());
}

}  // namespace

Counts Export(const std::string& source, const std::string& target, int charset, Progress& progress) {
  auto ds = OpenVector(source);
  if (!ds) Fail(source, "not a vector dataset OGR can open");
  CVtVectorGML gml;
  if (charset) gml.SetCharSet(charset);
  if (!gml.OpenForWrite(CString(target))) Fail(target, "cannot be written");
  const int layerCount = ds->GetLayerCount();
  gml.SetLayerCount(layerCount);
  std::set<std::string> layerNames;
  std::vector<std::string> names;
  std::vector<std::vector<int>> types;
  long long total = 0;
  for (int l = 0; l < layerCount; ++l) {
    OGRLayer* layer = ds->GetLayer(l);
    OGREnvelope e;
    CRect2D bounds;
    if (layer->GetExtent(&e, TRUE) == OGRERR_NONE) bounds.SetRect(e.MinX, e.MaxY, e.MaxX, e.MinY);
    names.push_back(XmlName(layer->GetName(), layerNames));
    gml.SetLayerInfo(l, CString(names.back()), LayerTypeOf(layer->GetGeomType()), bounds, CString(layer->GetName()));
    OGRFeatureDefn* defn = layer->GetLayerDefn();
    gml.SetFieldCount(l, defn->GetFieldCount());
    std::set<std::string> fieldNames = {"geometryProperty"};
    types.emplace_back();
    for (int f = 0; f < defn->GetFieldCount(); ++f) {
      OGRFieldDefn* field = defn->GetFieldDefn(f);
      int type = FieldTypeOf(*field);
      types.back().push_back(type);
      gml.SetFieldInfo(l, f, CString(XmlName(field->GetNameRef(), fieldNames)), type, field->GetWidth());
    }
    total += std::max<GIntBig>(layer->GetFeatureCount(TRUE), 0);
  }
  gml.BeginWriteRecord();
  long long written = 0;
  for (int l = 0; l < layerCount; ++l) {
    OGRLayer* layer = ds->GetLayer(l);
    layer->ResetReading();
    for (auto& feature : *layer) {
      gml.BeginWriteOneRecord();
      CElemGeometry geometry;
      if (OGRGeometry* g = feature->GetGeometryRef()) {
        // Coordinates go out in the order they are stored, without a CRS.
        OGRGeometry* copy = g->clone();
        copy->assignSpatialReference(nullptr);
        geometry.Attach(OGRGeometry::ToHandle(copy));
      }
      gml.WriteOneGeometry(geometry.IsEmpty() ? nullptr : &geometry, CString(names[l]));
      for (int f = 0; f < static_cast<int>(types[l].size()); ++f) gml.SetFieldValue(f, ValueOf(*feature, f, types[l][f]));
      if (!gml.EndWriteOneRecord()) Fail(target, "a feature could not be written");
      ++written;
      if (total > 0 && written % 1000 == 0) progress.Show(static_cast<int>(written * 100 / total));
    }
  }
  gml.EndWriteRecord();
  gml.Close();
  progress.Show(100);
  return {layerCount, written};
}

Counts Import(const std::string& source, const std::string& target, std::string driverName, Progress& progress) {
  CVtVectorGML gml;
  OpenGml(gml, source);
  if (driverName.empty()) driverName = OgrDriverFor(target);
  if (driverName.empty()) Usage("cannot tell the output format from " + target + "; name it with -F");
  GDALDriver* driver = GetGDALDriverManager()->GetDriverByName(driverName.c_str());
  if (!driver) Usage("no OGR driver " + driverName);
  std::unique_ptr<GDALDataset> out(driver->Create(target.c_str(), 0, 0, 0, GDT_Unknown, nullptr));
  if (!out) Fail(target, "cannot be created by " + driverName);
  std::vector<OGRLayer*> layers;
  std::vector<std::vector<int>> types;
  for (int l = 0; l < gml.GetLayerCount(); ++l) {
    CString name, sub;
    int type;
    gml.GetLayerInfo(l, name, type, sub);
    // The source's own layer name travels as the sub name.
    std::string layerName = sub.IsEmpty() ? name.str() : sub.str();
    // Point, Line and Region layers are made of that geometry, so that they
    // export again as the same type; other types take any geometry.
    const OGRwkbGeometryType geometryType = type == 0   ? wkbNone
                                            : type == 1 ? wkbPoint
                                            : type == 3 ? wkbLineString
                                            : type == 5 ? wkbPolygon
                                                        : wkbUnknown;
    OGRLayer* layer = out->CreateLayer(layerName.c_str(), nullptr, geometryType, nullptr);
    if (!layer) Fail(target, "cannot create layer " + layerName);
    types.emplace_back();
    for (int f = 0; f < gml.GetFieldCount(l); ++f) {
      CString fieldName;
      int fieldType, size;
      gml.GetFieldInfo(l, f, fieldName, fieldType, size);
      CreateField(layer, fieldName, fieldType, size);
      types.back().push_back(fieldType);
    }
    layers.push_back(layer);
  }
  long long written = 0;
  ReadRecords(gml, progress, [&](int l, std::unique_ptr<CElemGeometry> geometry) {
    if (l < 0) return;
    OGRLayer* layer = layers[static_cast<size_t>(l)];
    OGRFeature feature(layer->GetLayerDefn());
    for (int f = 0; f < static_cast<int>(types[static_cast<size_t>(l)].size()); ++f) {
      CString value;
      if (!gml.GetFieldValue(f, value)) continue;
      if (types[static_cast<size_t>(l)][f] == 1)
        feature.SetField(f, value.CompareNoCase("true") == 0 || value.str() == "1" ? 1 : 0);
      else
        feature.SetField(f, value.GetString());
    }
    if (geometry && !geometry->IsEmpty())
      feature.SetGeometryDirectly(OGRGeometry::FromHandle(static_cast<OGRGeometryH>(geometry->Detach())));
    if (layer->CreateFeature(&feature) != OGRERR_NONE) Fail(target, "a feature could not be written");
    ++written;
  });
  CheckComplete(gml, source);
  progress.Show(100);
  out.reset();
  return {gml.GetLayerCount(), written};
}

void Info(const std::string& source) {
  CVtVectorGML gml;
  OpenGml(gml, source);
  const int count = gml.GetLayerCount();
  std::vector<long long> features(static_cast<size_t>(count), 0);
  std::vector<CRect2D> bounds(static_cast<size_t>(count));
  std::vector<bool> hasBounds(static_cast<size_t>(count), false);
  Progress quiet(false);
  ReadRecords(gml, quiet, [&](int l, std::unique_ptr<CElemGeometry> geometry) {
    if (l < 0) return;
    ++features[static_cast<size_t>(l)];
    CRect2D b;
    if (!geometry || !geometry->GetBounds(b)) return;
    CRect2D& all = bounds[static_cast<size_t>(l)];
    if (!hasBounds[static_cast<size_t>(l)]) all = b;
    else all.SetRect(std::min(all.left, b.left), std::max(all.top, b.top), std::max(all.right, b.right),
                     std::min(all.bottom, b.bottom));
    hasBounds[static_cast<size_t>(l)] = true;
  });
  CheckComplete(gml, source);
  std::printf("layers: %d\n", count);
  for (int l = 0; l < count; ++l) {
    CString name, sub;
    int type;
    gml.GetLayerInfo(l, name, type, sub);
    std::printf("layer: %s\ntype: %s\n", name.GetString(), CVtVectorGML::LayerTypeToString(type).GetString());
    const CRect2D& b = bounds[static_cast<size_t>(l)];
    if (hasBounds[static_cast<size_t>(l)]) {
      std::string text = vtnum::Coordinate(b.left) + " " + vtnum::Coordinate(b.top) + " " +
                         vtnum::Coordinate(b.right) + " " + vtnum::Coordinate(b.bottom);
      std::printf("bounds: %s\n", text.c_str());
    } else {
      std::printf("bounds: none\n");
    }
    std::string fields;
    for (int f = 0; f < gml.GetFieldCount(l); ++f) {
      CString fieldName;
      int fieldType, size;
      gml.GetFieldInfo(l, f, fieldName, fieldType, size);
      if (f) fields += ",";
      fields += fieldName.str() + ":" + CVtVectorGML::FieldTypeToString(fieldType).str() + ":" + std::to_string(size);
    }
    std::printf("fields: %s\nfeatures: %lld\n", fields.c_str(), features[static_cast<size_t>(l)]);
  }
}

}  // namespace gml
}  // namespace vtfmt
