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

#include "platform/vtcore/CVtToolkit.h"
#include "platform/vtcore/CVtXmlToolkit.h"
#include "platform/vtcore/VtNumber.h"
#include "platform/vtelem/CElemGeometry.h"
#include "access/ogr/OgrOutput.h"
#include "text/CVtTextCodec.h"
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

// The text a field value is written as; `text` turns OGR's UTF-8 into the
// bytes written.
template <class Text>
COleVariant ValueOf(OGRFeature& feature, int index, int type, Text text) {
  if (!feature.IsFieldSetAndNotNull(index)) return COleVariant();
  if (type == 1) return COleVariant(feature.GetFieldAsInteger(index) != 0);
  if (type == 8) {
    int y, mo, d, h, mi, tz;
    float s;
    feature.GetFieldAsDateTime(index, &y, &mo, &d, &h, &mi, &s, &tz);
    const OGRFieldType t = feature.GetFieldDefnRef(index)->GetType();
    char when[64];
    if (t == OFTDate) std::snprintf(when, sizeof when, "%04d-%02d-%02d", y, mo, d);
    else if (t == OFTTime) std::snprintf(when, sizeof when, "%02d:%02d:%02d", h, mi, static_cast<int>(s));
    else std::snprintf(when, sizeof when, "%04d-%02d-%02dT%02d:%02d:%02d", y, mo, d, h, mi, static_cast<int>(s));
    return COleVariant(when);
  }
  if (type == 6 || type == 7) return COleVariant(feature.GetFieldAsDouble(index));
  if (type == 3 || type == 4) return COleVariant(static_cast<int64_t>(feature.GetFieldAsInteger64(index)));
  return COleVariant(text(feature.GetFieldAsString(index)).c_str());
}

// The first character of `text` that XML cannot hold, as U+XXXX.
std::string FirstControl(const std::string& text) {
  for (unsigned char c : text)
    if (!CVtVectorGML::IsXmlText(CString(std::string(1, static_cast<char>(c))))) {
      char code[8];
      std::snprintf(code, sizeof code, "U+%04X", c);
      return code;
    }
  return {};
}

// Text between UTF-8 and the character set of a GML file.
class Recoder {
 public:
  // From UTF-8 to `to` when `toFile`, else from `to` to UTF-8; `encoding`
  // empty converts nothing.
  Recoder(const std::string& encoding, bool toFile) : encoding_(encoding) {
    if (encoding.empty()) return;
    if (toFile) codec_.Open(CString(encoding), "UTF-8");
    else codec_.Open("UTF-8", CString(encoding));
  }
  bool IsOpen() const { return encoding_.empty() || codec_.IsOpen(); }
  const std::string& Encoding() const { return encoding_; }
  // False when a character has no equivalent or the bytes are not valid.
  bool Convert(const std::string& in, std::string& out) {
    if (encoding_.empty()) {
      out = in;
      return true;
    }
    CString converted;
    if (!codec_.Convert(converted, in.data(), static_cast<int>(in.size()))) return false;
    out = converted.str();
    return true;
  }

 private:
  std::string encoding_;
  CVtTextCodec codec_;
};

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

// Texts of a file in a foreign encoding reach us in that encoding; a
// character given by reference that it cannot hold came as "?".
void CheckSubstitutions(const CVtVectorGML& gml, const std::string& path, const std::string& where) {
  if (gml.GetTextSubstitutions() > 0)
    Fail(path, "holds a character reference to a character that " + gml.GetTextEncoding() +
                   ", the file's encoding, cannot hold" + where);
}

// Reads every record; `each` gets the layer index (-1 when the record's layer
// has no header) and the record's geometry (owned by the callee).
template <class Each>
long long ReadRecords(CVtVectorGML& gml, const std::string& path, Progress& progress, Each each) {
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
    CheckSubstitutions(gml, path, " (at or before feature " + std::to_string(n + 1) + ")");
    if (++n % 1000 == 0) progress.Show(gml.GetCurrentPercent());
  }
  return n;
}

// A GML file open for reading; its names and texts go through Utf8.
class GmlReader {
 public:
  explicit GmlReader(const std::string& path) : path_(path) {
    if (!gml.OpenForRead(CString(path)) && gml.GetLayerCount() == 0) Fail(path, "not a GML file of the platform schema");
    recoder_.reset(new Recoder(gml.GetTextEncoding(), false));
    if (!recoder_->IsOpen()) Fail(path, "no conversion from " + gml.GetTextEncoding() + " to UTF-8");
    CheckSubstitutions(gml, path, "");
  }
  // The text in UTF-8; `what` names it in the failure.
  std::string Utf8(const CString& text, const std::string& what) {
    std::string out;
    if (!recoder_->Convert(text.str(), out)) Fail(path_, what + " is not valid " + recoder_->Encoding());
    return out;
  }
  CVtVectorGML gml;

 private:
  std::string path_;
  std::unique_ptr<Recoder> recoder_;
};

void CheckComplete(const CVtVectorGML& gml, const std::string& path) {
  if (!gml.GetReadError().empty()) Fail(path, "read stopped early: " + gml.GetReadError());
  CheckSubstitutions(gml, path, "");
}

}  // namespace

Counts Export(const std::string& source, const std::string& target, int charset, Progress& progress) {
  auto ds = OpenVector(source);
  if (!ds) Fail(source, "not a vector dataset OGR can open");
  // OGR's text is UTF-8; it is written in the character set the file
  // declares, so that every reader decodes it as written.
  const int code = charset ? charset : CVtTextCodec::CharsetUTF8;
  const std::string declared = CVtXmlToolkit::EncodingName(code).str();
  Recoder recoder(declared, true);
  if (!recoder.IsOpen()) Fail(target, "no conversion to " + declared + " (character set " + std::to_string(code) + ")");
  auto text = [&](const std::string& utf8, const std::string& what) {
    std::string out;
    if (!recoder.Convert(utf8, out))
      Fail(target, what + " holds a character that " + declared + " cannot hold, or bytes that are not UTF-8");
    return out;
  };
  CVtVectorGML gml;
  gml.SetCharSet(code);
  if (!gml.OpenForWrite(CString(target))) Fail(target, "cannot be written");
  // A failed export leaves no file behind that looks complete.
  struct Cleanup {
    std::string gmlPath, xsdPath;
    bool done = false;
    ~Cleanup() {
      if (done) return;
      unlink(gmlPath.c_str());
      unlink(xsdPath.c_str());
    }
  } cleanup{target, CVtToolkit::ChangeExtName(CString(target), ".xsd").str()};
  const int layerCount = ds->GetLayerCount();
  gml.SetLayerCount(layerCount);
  std::set<std::string> layerNames;
  std::vector<std::string> names;
  std::vector<std::vector<int>> types;
  std::vector<std::vector<std::string>> fieldNames;
  long long total = 0;
  for (int l = 0; l < layerCount; ++l) {
    OGRLayer* layer = ds->GetLayer(l);
    const std::string sourceName = layer->GetName();
    const std::string what = "layer " + sourceName;
    OGREnvelope e;
    CRect2D bounds;
    if (layer->GetExtent(&e, TRUE) == OGRERR_NONE) bounds.SetRect(e.MinX, e.MaxY, e.MaxX, e.MinY);
    if (!FirstControl(sourceName).empty())
      Fail(target, what + ": the name holds a control character (" + FirstControl(sourceName) + ") XML cannot hold");
    names.push_back(text(XmlName(sourceName, layerNames), what));
    if (!gml.SetLayerInfo(l, CString(names.back()), LayerTypeOf(layer->GetGeomType()), bounds,
                          CString(text(sourceName, what))))
      Fail(target, what + ": the name cannot be an element name in " + declared);
    OGRFeatureDefn* defn = layer->GetLayerDefn();
    gml.SetFieldCount(l, defn->GetFieldCount());
    std::set<std::string> taken = {"geometryProperty"};
    types.emplace_back();
    fieldNames.emplace_back();
    for (int f = 0; f < defn->GetFieldCount(); ++f) {
      OGRFieldDefn* field = defn->GetFieldDefn(f);
      int type = FieldTypeOf(*field);
      types.back().push_back(type);
      fieldNames.back().push_back(field->GetNameRef());
      const std::string fieldWhat = what + ", field \"" + field->GetNameRef() + "\"";
      if (!gml.SetFieldInfo(l, f, CString(text(XmlName(field->GetNameRef(), taken), fieldWhat)), type,
                            field->GetWidth()))
        Fail(target, fieldWhat + ": the name cannot be an element name in " + declared);
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
      const std::string what = "feature " + std::to_string(feature->GetFID()) + " of layer " + layer->GetName();
      for (int f = 0; f < static_cast<int>(types[l].size()); ++f) {
        const std::string field = what + ", field \"" + fieldNames[l][f] + "\"";
        gml.SetFieldValue(f, ValueOf(*feature, f, types[l][f], [&](const std::string& value) {
          const std::string control = FirstControl(value);
          if (!control.empty()) Fail(target, field + ": holds a control character (" + control + ") XML cannot hold");
          for (const char* dropped : {"<[[", "]]>"})
            if (value.find(dropped) != std::string::npos)
              Fail(target, field + ": holds \"" + dropped + "\", which the GML writer leaves out");
          return text(value, field);
        }));
      }
      if (!gml.EndWriteOneRecord()) Fail(target, what + " could not be written");
      ++written;
      if (total > 0 && written % 1000 == 0) progress.Show(static_cast<int>(written * 100 / total));
    }
  }
  gml.EndWriteRecord();
  gml.Close();
  cleanup.done = true;
  progress.Show(100);
  return {layerCount, written};
}

Counts Import(const std::string& source, const std::string& target, std::string driverName, Progress& progress) {
  GmlReader reader(source);
  CVtVectorGML& gml = reader.gml;
  if (driverName.empty()) driverName = OgrDriverFor(target);
  if (driverName.empty()) Usage("cannot tell the output format from " + target + "; name it with -F");
  GDALDriver* driver = GetGDALDriverManager()->GetDriverByName(driverName.c_str());
  if (!driver) Usage("no OGR driver " + driverName);
  std::unique_ptr<GDALDataset> out(driver->Create(target.c_str(), 0, 0, 0, GDT_Unknown, nullptr));
  if (!out) Fail(target, "cannot be created by " + driverName);
  std::vector<OGRLayer*> layers;
  std::vector<std::vector<int>> types;
  std::vector<std::vector<std::string>> fieldNames;
  for (int l = 0; l < gml.GetLayerCount(); ++l) {
    CString name, sub;
    int type;
    gml.GetLayerInfo(l, name, type, sub);
    // The source's own layer name travels as the sub name.
    std::string layerName = reader.Utf8(sub.IsEmpty() ? name : sub, "the name of layer " + std::to_string(l + 1));
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
    fieldNames.emplace_back();
    for (int f = 0; f < gml.GetFieldCount(l); ++f) {
      CString fieldName;
      int fieldType, size;
      gml.GetFieldInfo(l, f, fieldName, fieldType, size);
      fieldNames.back().push_back(reader.Utf8(fieldName, "a field name of layer " + layerName));
      CreateField(layer, CString(fieldNames.back().back()), fieldType, size);
      types.back().push_back(fieldType);
    }
    layers.push_back(layer);
  }
  long long written = 0;
  ReadRecords(gml, source, progress, [&](int l, std::unique_ptr<CElemGeometry> geometry) {
    if (l < 0) return;
    OGRLayer* layer = layers[static_cast<size_t>(l)];
    OGRFeature feature(layer->GetLayerDefn());
    for (int f = 0; f < static_cast<int>(types[static_cast<size_t>(l)].size()); ++f) {
      CString value;
      if (!gml.GetFieldValue(f, value)) continue;
      if (types[static_cast<size_t>(l)][f] == 1)
        feature.SetField(f, value.CompareNoCase("true") == 0 || value.str() == "1" ? 1 : 0);
      else
        feature.SetField(f, reader.Utf8(value, "feature " + std::to_string(written + 1) + " of layer " +
                                                   layer->GetName() + ", field \"" +
                                                   fieldNames[static_cast<size_t>(l)][static_cast<size_t>(f)] + "\"")
                                .c_str());
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
  GmlReader reader(source);
  CVtVectorGML& gml = reader.gml;
  const int count = gml.GetLayerCount();
  std::vector<long long> features(static_cast<size_t>(count), 0);
  std::vector<CRect2D> bounds(static_cast<size_t>(count));
  std::vector<bool> hasBounds(static_cast<size_t>(count), false);
  Progress quiet(false);
  ReadRecords(gml, source, quiet, [&](int l, std::unique_ptr<CElemGeometry> geometry) {
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
    std::printf("layer: %s\ntype: %s\n", reader.Utf8(name, "the name of layer " + std::to_string(l + 1)).c_str(),
                CVtVectorGML::LayerTypeToString(type).GetString());
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
      fields += reader.Utf8(fieldName, "a field name of layer " + std::to_string(l + 1)) + ":" +
                CVtVectorGML::FieldTypeToString(fieldType).str() + ":" + std::to_string(size);
    }
    std::printf("fields: %s\nfeatures: %lld\n", fields.c_str(), features[static_cast<size_t>(l)]);
  }
}

}  // namespace gml
}  // namespace vtfmt
