// One MapInfo table (a MIF/MID pair, a native TAB table, a TAB view or a
// seamless TAB) reached through the geodata library's MapInfo driver: a
// dataset and its layer, with the table's native field types and the
// MapInfo projection id and units of its coordinate system.
#pragma once

#include <ogrsf_frmts.h>

#include <memory>
#include <string>
#include <vector>

// MapInfo's native field types; -1 answers for a field that is not there.
enum TABFieldType : int {
  TABFNoField = -1,
  TABFUnknown = 0,
  TABFChar = 1,
  TABFInteger = 2,
  TABFSmallInt = 3,
  TABFDecimal = 4,
  TABFFloat = 5,
  TABFDate = 6,
  TABFLogical = 7,
  TABFTime = 8,
  TABFDateTime = 9,
  TABFLargeInt = 10,
};

// A feature of the table: the geodata library's own.
typedef OGRFeature TABFeature;

class IMapInfoFile {
 public:
  ~IMapInfoFile();
  IMapInfoFile(const IMapInfoFile&) = delete;
  IMapInfoFile& operator=(const IMapInfoFile&) = delete;

  // Opens a table for reading: ".mif", ".mid" (its pair) or ".tab", any
  // case. Null on failure, with the library's message recorded.
  static IMapInfoFile* SmartOpen(const char* path, int testOnly);
  // Creates a table for writing: MIF/MID for ".mif", TAB otherwise. The
  // table's layer is made at the first field or feature, with the bounds
  // and spatial reference set before then.
  static IMapInfoFile* Create(const char* path);

  int Close();
  bool IsWritable() const { return writable_; }

  OGRGeometry* GetSpatialFilter();
  OGRFeatureDefn* GetLayerDefn();
  int GetFeatureCount(int force);
  OGRFeature* GetNextFeature();
  OGRFeature* GetFeature(long id);
  int CreateFeature(OGRFeature* feature);
  int TestCapability(const char* capability);
  OGRSpatialReference* GetSpatialRef();
  const char* GetTableName();
  // The ids of the table's features in order, as a first reading of the
  // whole table found them (a native table may skip the ids of deleted
  // records); -1 after the last (or before the first, for -1), and -1 at
  // once when the table cannot be read whole (see GetReadError).
  int GetNextFeatureId(int previous);
  // The feature of that id, owned by the file until the next call; null
  // with GetReadError set when it cannot be read.
  TABFeature* GetFeatureRef(int id);
  // Why the table could not be read whole, naming the file; empty when it
  // could (or has not been read yet).
  const std::string& GetReadError() const { return readError_; }
  TABFieldType GetNativeFieldType(int field);
  // 0 and the extent, or -1.
  int GetBounds(double& xMin, double& yMin, double& xMax, double& yMax, int force);
  // Counts of points, lines, regions and texts; 0, or -1 when the table
  // cannot be read whole (see GetReadError).
  int GetFeatureCountByType(int& points, int& lines, int& regions, int& texts, int force);
  int SetBounds(double xMin, double yMin, double xMax, double yMax);
  int SetFeatureDefn(OGRFeatureDefn* definition, TABFieldType* types);
  int AddFieldNative(const char* name, TABFieldType type, int width, int precision, int indexed, int unique);
  int SetSpatialRef(OGRSpatialReference* reference);

  // The MapInfo projection id and units code of the table's coordinate
  // system (its CoordSys clause); false without one.
  bool GetProjInfo(int& projectionId, int& unitsCode);
  // The CoordSys clause ("Earth Projection 8, 104, "m", ..."), or empty.
  std::string GetCoordSys();

 private:
  IMapInfoFile() = default;
  bool EnsureLayer();
  void ReadNativeTypes(const std::string& path);
  bool Scan();
  void ReadFailed(const std::string& why);

  GDALDataset* dataset_ = nullptr;
  OGRLayer* layer_ = nullptr;
  bool writable_ = false;
  std::string path_;
  std::vector<TABFieldType> native_;  // from the table's own header
  std::unique_ptr<OGRFeature> current_;
  // What one reading of the whole table found: its ids and the number of
  // points, lines, regions and texts.
  bool scanned_ = false;
  std::vector<GIntBig> ids_;
  int kinds_[4] = {0, 0, 0, 0};
  std::string readError_;
  // Set before the layer exists, for writing.
  bool haveBounds_ = false;
  double bounds_[4] = {0, 0, 0, 0};
  std::unique_ptr<OGRSpatialReference> reference_;
};
