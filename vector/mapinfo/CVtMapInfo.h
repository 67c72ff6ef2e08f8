// The one object through which import and export modules reach a MapInfo
// table: it owns at most one open IMapInfoFile, forwards to it, answers
// sensibly when nothing is open, and gives the table's units in the
// platform's terms.
#pragma once

#include "vector/mapinfo/IMapInfoFile.h"

class CVtMapInfo {
 public:
  enum TABFileClass { TABFC_IMapInfoFile = 1 };

  CVtMapInfo();
  ~CVtMapInfo();
  // An object owns its file alone: copies are refused, moves hand it over.
  CVtMapInfo(const CVtMapInfo&) = delete;
  CVtMapInfo& operator=(const CVtMapInfo&) = delete;
  CVtMapInfo(CVtMapInfo&& other) noexcept;
  CVtMapInfo& operator=(CVtMapInfo&& other) noexcept;

  // Closes any open file first. Access "w" (or "wb") creates the table for
  // writing; anything else opens it for reading. 0, or -1 with the geodata
  // library's message.
  int Open(const char* path, const char* access, int testOnly = 0);
  int Close();
  static IMapInfoFile* SmartOpen(const char* path, int testOnly);
  TABFileClass GetFileClass() const { return fileClass; }

  OGRGeometry* GetSpatialFilter();
  OGRFeatureDefn* GetLayerDefn();
  int GetFeatureCount(int force);
  OGRFeature* GetNextFeature();
  OGRFeature* GetFeature(long id);
  int CreateFeature(OGRFeature* feature);
  int TestCapability(const char* capability);
  OGRSpatialReference* GetSpatialRef();
  const char* GetTableName();
  int GetNextFeatureId(int previous);
  TABFeature* GetFeatureRef(int id);
  // Why the table could not be read whole, naming the file; empty when it
  // could, or when nothing is open.
  std::string GetReadError() const;
  TABFieldType GetNativeFieldType(int field);
  int GetBounds(double& xMin, double& yMin, double& xMax, double& yMax, int force);
  int GetFeatureCountByType(int& points, int& lines, int& regions, int& texts, int force);
  int SetBounds(double xMin, double yMin, double xMax, double yMax);
  int SetFeatureDefn(OGRFeatureDefn* definition, TABFieldType* types);
  int AddFieldNative(const char* name, TABFieldType type, int width, int precision);
  int SetSpatialRef(OGRSpatialReference* reference);
  void ResetReading() {}
  void SetSpatialFilter(OGRGeometry*) {}
  int SetFeature(TABFeature*, int) { return 0; }

  // The MapInfo units code of the table's projection; 0 without one.
  long GetLinearUnits();
  // The size of that unit in tenths of a millimetre (10000 without one).
  // Nautical miles (9) are given the statute mile's size, 16090000, as
  // stored data and callers expect.
  long GetVtUnitsFromMapInfoLinearUnits();
  long GetMapInfoProjID();
  // The size of a MapInfo units code in tenths of a millimetre, as above.
  static long UnitSizeOf(long unitsCode);
  // The MapInfo name of a units code ("m", "nmi"), empty when unknown.
  static const char* UnitNameOf(long unitsCode);

 private:
  IMapInfoFile* file = nullptr;
  TABFileClass fileClass = TABFC_IMapInfoFile;
};
