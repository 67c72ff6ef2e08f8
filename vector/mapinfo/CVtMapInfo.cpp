#include "vector/mapinfo/CVtMapInfo.h"

#include <cpl_error.h>

#include <utility>

CVtMapInfo::CVtMapInfo() { CPLErrorReset(); }

CVtMapInfo::~CVtMapInfo() { Close(); }

CVtMapInfo::CVtMapInfo(CVtMapInfo&& other) noexcept : file(std::exchange(other.file, nullptr)) {}

CVtMapInfo& CVtMapInfo::operator=(CVtMapInfo&& other) noexcept {
  if (this != &other) {
    Close();
    file = std::exchange(other.file, nullptr);
  }
  return *this;
}

int CVtMapInfo::Open(const char* path, const char* access, int testOnly) {
  Close();
  const bool write = access && (access[0] == 'w' || access[0] == 'W');
  file = write ? IMapInfoFile::Create(path) : SmartOpen(path, testOnly);
  return file ? 0 : -1;
}

int CVtMapInfo::Close() {
  if (!file) return 0;
  int result = file->Close();
  delete file;
  file = nullptr;
  return result;
}

IMapInfoFile* CVtMapInfo::SmartOpen(const char* path, int testOnly) { return IMapInfoFile::SmartOpen(path, testOnly); }

OGRGeometry* CVtMapInfo::GetSpatialFilter() { return file ? file->GetSpatialFilter() : nullptr; }
OGRFeatureDefn* CVtMapInfo::GetLayerDefn() { return file ? file->GetLayerDefn() : nullptr; }
int CVtMapInfo::GetFeatureCount(int force) { return file ? file->GetFeatureCount(force) : 0; }
OGRFeature* CVtMapInfo::GetNextFeature() { return file ? file->GetNextFeature() : nullptr; }
OGRFeature* CVtMapInfo::GetFeature(long id) { return file ? file->GetFeature(id) : nullptr; }
int CVtMapInfo::CreateFeature(OGRFeature* feature) { return file ? file->CreateFeature(feature) : 0; }
int CVtMapInfo::TestCapability(const char* capability) { return file ? file->TestCapability(capability) : 0; }
OGRSpatialReference* CVtMapInfo::GetSpatialRef() { return file ? file->GetSpatialRef() : nullptr; }
const char* CVtMapInfo::GetTableName() { return file ? file->GetTableName() : nullptr; }
int CVtMapInfo::GetNextFeatureId(int previous) { return file ? file->GetNextFeatureId(previous) : -1; }
TABFeature* CVtMapInfo::GetFeatureRef(int id) { return file ? file->GetFeatureRef(id) : nullptr; }
std::string CVtMapInfo::GetReadError() const { return file ? file->GetReadError() : std::string(); }

TABFieldType CVtMapInfo::GetNativeFieldType(int field) {
  if (!file || field < 0) return TABFNoField;
  return file->GetNativeFieldType(field);
}

int CVtMapInfo::GetBounds(double& xMin, double& yMin, double& xMax, double& yMax, int force) {
  return file ? file->GetBounds(xMin, yMin, xMax, yMax, force) : 0;
}

int CVtMapInfo::GetFeatureCountByType(int& points, int& lines, int& regions, int& texts, int force) {
  return file ? file->GetFeatureCountByType(points, lines, regions, texts, force) : 0;
}

int CVtMapInfo::SetBounds(double xMin, double yMin, double xMax, double yMax) {
  return file ? file->SetBounds(xMin, yMin, xMax, yMax) : 0;
}

int CVtMapInfo::SetFeatureDefn(OGRFeatureDefn* definition, TABFieldType* types) {
  return file ? file->SetFeatureDefn(definition, types) : 0;
}

int CVtMapInfo::AddFieldNative(const char* name, TABFieldType type, int width, int precision) {
  return file ? file->AddFieldNative(name, type, width, precision, 0, 0) : 0;
}

int CVtMapInfo::SetSpatialRef(OGRSpatialReference* reference) { return file ? file->SetSpatialRef(reference) : 0; }

long CVtMapInfo::GetLinearUnits() {
  int id = 0, units = 0;
  return file && file->GetProjInfo(id, units) ? units : 0;
}

long CVtMapInfo::GetVtUnitsFromMapInfoLinearUnits() {
  int id = 0, units = 0;
  return file && file->GetProjInfo(id, units) ? UnitSizeOf(units) : 10000;
}

long CVtMapInfo::GetMapInfoProjID() {
  int id = 0, units = 0;
  return file && file->GetProjInfo(id, units) ? id : 0;
}

long CVtMapInfo::UnitSizeOf(long unitsCode) {
  switch (unitsCode) {
    case 0:
    case 9:  // nautical miles: the statute mile's size, as stored data expects
      return 16090000;
    case 1:
      return 10000000;
    case 2:
      return 254;
    case 3:
    case 8:
      return 3048;
    case 4:
      return 9144;
    case 5:
      return 10;
    case 6:
      return 100;
    default:
      return 10000;
  }
}

const char* CVtMapInfo::UnitNameOf(long unitsCode) {
  switch (unitsCode) {
    case 0: return "mi";
    case 1: return "km";
    case 2: return "in";
    case 3: return "ft";
    case 4: return "yd";
    case 5: return "mm";
    case 6: return "cm";
    case 7: return "m";
    case 8: return "survey ft";
    case 9: return "nmi";
    case 13: return "degree";
    case 30: return "li";
    case 31: return "ch";
    case 32: return "rd";
    default: return "";
  }
}
