#include "vector/mapinfo/IMapInfoFile.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "platform/posix/PathCase.h"
#include "platform/vtcore/VtNumber.h"

namespace {

std::string Extension(const std::string& path) {
  size_t dot = path.rfind('.');
  size_t slash = path.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  std::string ext = path.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

TABFieldType TypeOfWord(std::string word) {
  for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  static const struct {
    const char* name;
    TABFieldType type;
  } kTypes[] = {{"char", TABFChar},       {"integer", TABFInteger}, {"smallint", TABFSmallInt},
                {"largeint", TABFLargeInt}, {"decimal", TABFDecimal}, {"float", TABFFloat},
                {"date", TABFDate},       {"logical", TABFLogical}, {"time", TABFTime},
                {"datetime", TABFDateTime}};
  for (const auto& t : kTypes)
    if (word == t.name) return t.type;
  return TABFUnknown;
}

// The native type an OGR field definition stands for, where the table's own
// header is not at hand (views, seamless tables, new tables).
TABFieldType TypeOfDefinition(const OGRFieldDefn& field) {
  switch (field.GetType()) {
    case OFTInteger:
      return field.GetSubType() == OFSTBoolean ? TABFLogical
             : field.GetSubType() == OFSTInt16 ? TABFSmallInt
                                               : TABFInteger;
    case OFTInteger64:
      return TABFLargeInt;
    case OFTReal:
      return field.GetWidth() > 0 ? TABFDecimal : TABFFloat;
    case OFTDate:
      return TABFDate;
    case OFTTime:
      return TABFTime;
    case OFTDateTime:
      return TABFDateTime;
    default:
      return TABFChar;
  }
}

// The geodata library's MapInfo driver, registering the drivers the first
// time when the host has not.
GDALDriver* MapInfoDriver() {
  GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("MapInfo File");
  if (!driver) {
    GDALAllRegister();
    driver = GetGDALDriverManager()->GetDriverByName("MapInfo File");
  }
  return driver;
}

// The records of a .mid file: its lines, where a line break inside a
// quoted string (quotes inside are doubled) does not end a record, and
// empty lines at the end are not records. -1 when it cannot be read.
long MidRecords(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return -1;
  long records = 0, pending = 0;  // pending: empty lines not yet known to be inside
  bool quoted = false, content = false;
  char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
    for (size_t i = 0; i < n; ++i) {
      const char c = buffer[i];
      if (c == '"') quoted = !quoted;
      if (c == '\n' && !quoted) {
        if (content) records += pending + 1, pending = 0;
        else ++pending;
        content = false;
      } else if (c != '\r') {
        content = true;
      }
    }
  }
  if (content) records += pending + 1;
  const bool failed = std::ferror(f) != 0;
  std::fclose(f);
  return failed ? -1 : records;
}

}  // namespace

IMapInfoFile::~IMapInfoFile() { Close(); }

IMapInfoFile* IMapInfoFile::SmartOpen(const char* path, int testOnly) {
  if (!path) return nullptr;
  std::string name = path;
  std::string ext = Extension(name);
  if (ext == "mid") {
    // The pair is opened through its .mif, in whatever case it was saved.
    name = VtResolvePathCase(name.substr(0, name.size() - 3) + "mif");
    ext = "mif";
  }
  if (ext != "mif" && ext != "tab") {
    if (!testOnly) CPLError(CE_Failure, CPLE_FileIO, "%s is not a MapInfo file (.tab, .mif or .mid)", path);
    return nullptr;
  }
  name = VtResolvePathCase(name);
  if (!MapInfoDriver()) return nullptr;
  const char* drivers[] = {"MapInfo File", nullptr};
  auto* dataset = static_cast<GDALDataset*>(
      GDALOpenEx(name.c_str(), GDAL_OF_VECTOR | (testOnly ? 0 : GDAL_OF_VERBOSE_ERROR), drivers, nullptr, nullptr));
  if (!dataset) return nullptr;
  if (dataset->GetLayerCount() < 1) {
    GDALClose(dataset);
    if (!testOnly) CPLError(CE_Failure, CPLE_FileIO, "%s holds no table", path);
    return nullptr;
  }
  auto* file = new IMapInfoFile;
  file->dataset_ = dataset;
  file->layer_ = dataset->GetLayer(0);
  file->path_ = name;
  file->ReadNativeTypes(name);
  return file;
}

IMapInfoFile* IMapInfoFile::Create(const char* path) {
  GDALDriver* driver = MapInfoDriver();
  if (!driver || !path) return nullptr;
  CPLStringList options;
  if (Extension(path) == "mif") options.SetNameValue("FORMAT", "MIF");
  GDALDataset* dataset = driver->Create(path, 0, 0, 0, GDT_Unknown, options.List());
  if (!dataset) return nullptr;
  auto* file = new IMapInfoFile;
  file->dataset_ = dataset;
  file->writable_ = true;
  file->path_ = path;
  return file;
}

// Field types as the table's header declares them: the "Columns" of a MIF,
// the "Fields" of a native TAB. Views and seamless tables have neither.
void IMapInfoFile::ReadNativeTypes(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  long expected = -1;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string key;
    words >> key;
    if (expected < 0) {
      if (strcasecmp(key.c_str(), "Data") == 0) break;
      if (strcasecmp(key.c_str(), "Columns") == 0 || strcasecmp(key.c_str(), "Fields") == 0) {
        words >> expected;
        if (expected < 0 || expected > 100000) return;
      }
      continue;
    }
    if (key.empty()) continue;
    // "name Type", "name Type(w,p)" or "name Type (w,p) ;"
    std::string rest;
    std::getline(words, rest);
    size_t start = rest.find_first_not_of(" \t");
    size_t end = start == std::string::npos ? start : rest.find_first_of(" \t(;", start);
    native_.push_back(start == std::string::npos ? TABFUnknown : TypeOfWord(rest.substr(start, end - start)));
    if (static_cast<long>(native_.size()) == expected) break;
  }
  if (static_cast<long>(native_.size()) != expected) native_.clear();
}

int IMapInfoFile::Close() {
  current_.reset();
  int result = 0;
  if (dataset_) {
    if (writable_ && !EnsureLayer()) result = -1;
    // Closing a written table flushes it; a failure shows as the last error.
    CPLErrorReset();
    GDALClose(dataset_);
    if (CPLGetLastErrorType() >= CE_Failure) result = -1;
  }
  dataset_ = nullptr;
  layer_ = nullptr;
  return result;
}

bool IMapInfoFile::EnsureLayer() {
  if (layer_) return true;
  if (!dataset_ || !writable_) return false;
  CPLStringList options;
  if (haveBounds_) {
    std::string bounds = vtnum::Shortest(bounds_[0]) + "," + vtnum::Shortest(bounds_[1]) + "," +
                         vtnum::Shortest(bounds_[2]) + "," + vtnum::Shortest(bounds_[3]);
    options.SetNameValue("BOUNDS", bounds.c_str());
  }
  std::string name = path_.substr(path_.rfind('/') + 1);
  name = name.substr(0, name.rfind('.'));
  layer_ = dataset_->CreateLayer(name.c_str(), reference_.get(), wkbUnknown, options.List());
  return layer_ != nullptr;
}

OGRGeometry* IMapInfoFile::GetSpatialFilter() { return layer_ ? layer_->GetSpatialFilter() : nullptr; }
OGRFeatureDefn* IMapInfoFile::GetLayerDefn() { return EnsureLayer() || layer_ ? layer_->GetLayerDefn() : nullptr; }
int IMapInfoFile::GetFeatureCount(int force) { return layer_ ? static_cast<int>(layer_->GetFeatureCount(force)) : 0; }
OGRFeature* IMapInfoFile::GetNextFeature() { return layer_ ? layer_->GetNextFeature() : nullptr; }
OGRFeature* IMapInfoFile::GetFeature(long id) { return layer_ ? layer_->GetFeature(id) : nullptr; }
int IMapInfoFile::CreateFeature(OGRFeature* feature) {
  if (!feature || !EnsureLayer()) return OGRERR_FAILURE;
  return layer_->CreateFeature(feature);
}
int IMapInfoFile::TestCapability(const char* capability) { return layer_ ? layer_->TestCapability(capability) : 0; }
OGRSpatialReference* IMapInfoFile::GetSpatialRef() { return layer_ ? layer_->GetSpatialRef() : reference_.get(); }
const char* IMapInfoFile::GetTableName() { return layer_ ? layer_->GetName() : nullptr; }

void IMapInfoFile::ReadFailed(const std::string& why) {
  const char* message = CPLGetLastErrorType() >= CE_Failure ? CPLGetLastErrorMsg() : "";
  readError_ = path_ + ": " + why + (message && *message ? std::string(": ") + message : std::string());
}

// Reads every feature once, in order. The library may stop early on a
// damaged table (a cut .mif, a .mid with fewer records) with only an error
// recorded, or with none at all; either way fewer features arrive than the
// table announces, and the table is refused rather than read in part.
bool IMapInfoFile::Scan() {
  if (scanned_) return readError_.empty();
  scanned_ = true;
  if (!layer_) return false;
  CPLErrorReset();
  const GIntBig announced = layer_->GetFeatureCount(TRUE);
  layer_->ResetReading();
  for (;;) {
    std::unique_ptr<OGRFeature> feature(layer_->GetNextFeature());
    if (CPLGetLastErrorType() >= CE_Failure) {
      ReadFailed("feature " + std::to_string(ids_.size() + 1) + " of " + std::to_string(announced) +
                 " cannot be read");
      break;
    }
    if (!feature) break;
    ids_.push_back(feature->GetFID());
    const OGRGeometry* g = feature->GetGeometryRef();
    if (!g) continue;
    switch (wkbFlatten(g->getGeometryType())) {
      case wkbPoint: {
        // Texts come back as points styled with a label.
        const char* style = feature->GetStyleString();
        ++kinds_[style && strncasecmp(style, "LABEL", 5) == 0 ? 3 : 0];
        break;
      }
      case wkbMultiPoint:
        ++kinds_[0];
        break;
      case wkbLineString:
      case wkbMultiLineString:
      case wkbCircularString:
      case wkbCompoundCurve:
      case wkbMultiCurve:
        ++kinds_[1];
        break;
      case wkbPolygon:
      case wkbMultiPolygon:
      case wkbCurvePolygon:
      case wkbMultiSurface:
        ++kinds_[2];
        break;
      default:
        break;
    }
  }
  layer_->ResetReading();
  if (readError_.empty() && static_cast<GIntBig>(ids_.size()) != announced)
    ReadFailed("the table announces " + std::to_string(announced) + " features but " +
               std::to_string(ids_.size()) + " can be read");
  // A .mif cut between two objects reads whole as far as it goes; its .mid
  // still holds the records of the objects cut off.
  if (readError_.empty() && Extension(path_) == "mif") {
    const std::string mid = VtResolvePathCase(path_.substr(0, path_.size() - 3) + "mid");
    const long records = MidRecords(mid);
    if (records > static_cast<long>(ids_.size()))
      readError_ = path_ + ": the .mid holds " + std::to_string(records) + " records but the .mif " +
                   std::to_string(ids_.size()) + " objects";
  }
  if (!readError_.empty()) ids_.clear();
  std::sort(ids_.begin(), ids_.end());
  return readError_.empty();
}

int IMapInfoFile::GetNextFeatureId(int previous) {
  if (!Scan() || ids_.empty()) return -1;
  if (previous < 0) return static_cast<int>(ids_.front());
  const auto next = std::upper_bound(ids_.begin(), ids_.end(), static_cast<GIntBig>(previous));
  return next == ids_.end() ? -1 : static_cast<int>(*next);
}

TABFeature* IMapInfoFile::GetFeatureRef(int id) {
  if (!layer_ || id <= 0) {
    current_.reset();
    return nullptr;
  }
  CPLErrorReset();
  current_.reset(layer_->GetFeature(id));
  if (!current_ && readError_.empty() && std::binary_search(ids_.begin(), ids_.end(), static_cast<GIntBig>(id)))
    ReadFailed("feature " + std::to_string(id) + " cannot be read");
  return current_.get();
}

TABFieldType IMapInfoFile::GetNativeFieldType(int field) {
  OGRFeatureDefn* defn = layer_ ? layer_->GetLayerDefn() : nullptr;
  if (field < 0 || !defn || field >= defn->GetFieldCount()) return TABFNoField;
  if (native_.size() == static_cast<size_t>(defn->GetFieldCount()) && native_[static_cast<size_t>(field)] != TABFUnknown)
    return native_[static_cast<size_t>(field)];
  return TypeOfDefinition(*defn->GetFieldDefn(field));
}

int IMapInfoFile::GetBounds(double& xMin, double& yMin, double& xMax, double& yMax, int force) {
  OGREnvelope e;
  if (!layer_ || layer_->GetExtent(&e, force) != OGRERR_NONE) return -1;
  xMin = e.MinX;
  yMin = e.MinY;
  xMax = e.MaxX;
  yMax = e.MaxY;
  return 0;
}

int IMapInfoFile::GetFeatureCountByType(int& points, int& lines, int& regions, int& texts, int) {
  points = lines = regions = texts = 0;
  if (!Scan()) return -1;
  points = kinds_[0];
  lines = kinds_[1];
  regions = kinds_[2];
  texts = kinds_[3];
  return 0;
}

int IMapInfoFile::SetBounds(double xMin, double yMin, double xMax, double yMax) {
  if (!writable_ || layer_) return -1;
  bounds_[0] = xMin;
  bounds_[1] = yMin;
  bounds_[2] = xMax;
  bounds_[3] = yMax;
  haveBounds_ = true;
  return 0;
}

int IMapInfoFile::SetSpatialRef(OGRSpatialReference* reference) {
  if (!writable_ || layer_) return -1;
  reference_.reset(reference ? reference->Clone() : nullptr);
  return 0;
}

int IMapInfoFile::SetFeatureDefn(OGRFeatureDefn* definition, TABFieldType* types) {
  if (!definition || !writable_ || !EnsureLayer()) return -1;
  for (int i = 0; i < definition->GetFieldCount(); ++i) {
    const OGRFieldDefn* field = definition->GetFieldDefn(i);
    TABFieldType type = types ? types[i] : TypeOfDefinition(*field);
    if (AddFieldNative(field->GetNameRef(), type, field->GetWidth(), field->GetPrecision(), 0, 0) != 0) return -1;
  }
  return 0;
}

int IMapInfoFile::AddFieldNative(const char* name, TABFieldType type, int width, int precision, int, int) {
  if (!name || !writable_ || !EnsureLayer()) return -1;
  OGRFieldType ogrType = OFTString;
  OGRFieldSubType subType = OFSTNone;
  switch (type) {
    case TABFInteger:
      ogrType = OFTInteger;
      break;
    case TABFSmallInt:
      ogrType = OFTInteger;
      subType = OFSTInt16;
      break;
    case TABFLargeInt:
      ogrType = OFTInteger64;
      break;
    case TABFDecimal:
    case TABFFloat:
      ogrType = OFTReal;
      break;
    case TABFDate:
      ogrType = OFTDate;
      break;
    case TABFTime:
      ogrType = OFTTime;
      break;
    case TABFDateTime:
      ogrType = OFTDateTime;
      break;
    case TABFLogical:
      ogrType = OFTInteger;
      subType = OFSTBoolean;
      break;
    case TABFChar:
      break;
    default:
      return -1;
  }
  OGRFieldDefn field(name, ogrType);
  field.SetSubType(subType);
  if (type == TABFChar || type == TABFDecimal) field.SetWidth(width);
  if (type == TABFDecimal) field.SetPrecision(precision);
  if (layer_->CreateField(&field) != OGRERR_NONE) return -1;
  native_.push_back(type);
  return 0;
}

std::string IMapInfoFile::GetCoordSys() {
  OGRSpatialReference* reference = GetSpatialRef();
  if (!reference) return std::string();
  char* text = nullptr;
  if (reference->exportToMICoordSys(&text) != OGRERR_NONE || !text) {
    CPLFree(text);
    return std::string();
  }
  std::string clause = text;
  CPLFree(text);
  return clause;
}

namespace {
const struct {
  const char* name;
  int code;
} kUnitCodes[] = {{"mi", 0}, {"km", 1},         {"in", 2},  {"ft", 3},     {"yd", 4},  {"mm", 5},  {"cm", 6},
                  {"m", 7},  {"survey ft", 8}, {"nmi", 9}, {"degree", 13}, {"li", 30}, {"ch", 31}, {"rd", 32}};
}

bool IMapInfoFile::GetProjInfo(int& projectionId, int& unitsCode) {
  const std::string clause = GetCoordSys();
  if (clause.empty()) return false;
  // The units are the first quoted name: "Earth Projection 8, 104, "m", ..."
  // or "NonEarth Units "m" ...". Longitude/latitude has none: degrees.
  unitsCode = 13;
  size_t quote = clause.find('"');
  if (quote != std::string::npos) {
    size_t close = clause.find('"', quote + 1);
    std::string unit = clause.substr(quote + 1, close == std::string::npos ? std::string::npos : close - quote - 1);
    unitsCode = -1;
    for (const auto& u : kUnitCodes)
      if (unit == u.name) unitsCode = u.code;
  }
  projectionId = 0;
  size_t at = clause.find("Projection");
  if (clause.find("NonEarth") == std::string::npos && at != std::string::npos) {
    double id = 0;
    const std::string rest = clause.substr(at + 10);
    if (vtnum::ParseDouble(rest.c_str(), rest.size(), id) == 0) return false;
    projectionId = static_cast<int>(id);
  }
  return true;
}
