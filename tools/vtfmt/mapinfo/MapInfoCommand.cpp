// vtfmt-mapinfo: the `vtfmt mapinfo` subcommands, in a program of their own
// because they go through the geodata library (OGR), which vtfmt itself does
// not load.
//
//   vtfmt mapinfo info FILE.tab|FILE.mif|FILE.mid
//   vtfmt mapinfo export FILE OUT [-F OGR_DRIVER]
//   vtfmt mapinfo import SRC OUT.tab|OUT.mif
//
// Exit status: 0 success, 1 a file cannot be read or written, 2 usage.
#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "access/ogr/OgrOutput.h"
#include "platform/vtcore/VtNumber.h"
#include "vector/mapinfo/CVtMapInfo.h"

namespace {

const char kUsage[] =
    "usage: vtfmt mapinfo info FILE.tab|FILE.mif\n"
    "       vtfmt mapinfo export FILE OUT [-F OGR_DRIVER]\n"
    "       vtfmt mapinfo import SRC OUT.tab|OUT.mif\n";

struct Failure {
  std::string text;
  int code;
};

[[noreturn]] void Usage(const std::string& why) { throw Failure{why, 2}; }
[[noreturn]] void Fail(const std::string& file, const std::string& why) { throw Failure{file + ": " + why, 1}; }

std::string LastError(const char* fallback) {
  const char* message = CPLGetLastErrorMsg();
  return message && *message ? message : fallback;
}

const char* NativeTypeName(TABFieldType type) {
  static const char* const kNames[] = {"unknown", "char", "integer", "smallint", "decimal", "float",
                                       "date",    "logical", "time", "datetime", "largeint"};
  return type >= 0 && type <= TABFLargeInt ? kNames[type] : "unknown";
}

void OpenForReading(CVtMapInfo& table, const std::string& path) {
  if (table.Open(path.c_str(), "rb") != 0) Fail(path, LastError("not a MapInfo table"));
}

int Info(const std::string& path) {
  CVtMapInfo table;
  OpenForReading(table, path);
  int points = 0, lines = 0, regions = 0, texts = 0;
  if (table.GetFeatureCountByType(points, lines, regions, texts, TRUE) != 0) throw Failure{table.GetReadError(), 1};
  std::printf("table: %s\nfeatures: %d\npoints: %d\nlines: %d\nregions: %d\ntexts: %d\n", table.GetTableName(),
              table.GetFeatureCount(TRUE), points, lines, regions, texts);
  double xMin, yMin, xMax, yMax;
  if (table.GetBounds(xMin, yMin, xMax, yMax, TRUE) == 0)
    std::printf("bounds: %s %s %s %s\n", vtnum::Coordinate(xMin).c_str(), vtnum::Coordinate(yMax).c_str(),
                vtnum::Coordinate(xMax).c_str(), vtnum::Coordinate(yMin).c_str());
  else
    std::printf("bounds: none\n");
  const long units = table.GetLinearUnits();
  std::printf("projection_id: %ld\nunits_code: %ld\nunits: %s\nunit_size: %ld\n", table.GetMapInfoProjID(), units,
              CVtMapInfo::UnitNameOf(units), table.GetVtUnitsFromMapInfoLinearUnits());
  // The platform's unit table gives nautical miles the statute mile's size.
  if (units == 9) std::printf("unit_size_note: the platform's size for nmi is the statute mile's; a nautical mile is 18520000\n");
  std::string fields;
  OGRFeatureDefn* defn = table.GetLayerDefn();
  for (int f = 0; defn && f < defn->GetFieldCount(); ++f) {
    const OGRFieldDefn* field = defn->GetFieldDefn(f);
    if (f) fields += ",";
    fields += std::string(field->GetNameRef()) + ":" + NativeTypeName(table.GetNativeFieldType(f)) + ":" +
              std::to_string(field->GetWidth()) + ":" + std::to_string(field->GetPrecision());
  }
  std::printf("fields: %s\n", fields.c_str());
  return 0;
}

int Export(const std::string& path, const std::string& target, std::string driverName) {
  CVtMapInfo table;
  OpenForReading(table, path);
  if (driverName.empty()) driverName = OgrDriverFor(target);
  if (driverName.empty()) Usage("cannot tell the output format from " + target + "; name it with -F");
  GDALDriver* driver = GetGDALDriverManager()->GetDriverByName(driverName.c_str());
  if (!driver) Usage("no OGR driver " + driverName);
  std::unique_ptr<GDALDataset> out(driver->Create(target.c_str(), 0, 0, 0, GDT_Unknown, nullptr));
  if (!out) Fail(target, LastError("cannot be created"));
  OGRFeatureDefn* defn = table.GetLayerDefn();
  OGRLayer* layer = out->CreateLayer(table.GetTableName(), table.GetSpatialRef(), wkbUnknown, nullptr);
  if (!layer) Fail(target, LastError("cannot create the layer"));
  for (int f = 0; f < defn->GetFieldCount(); ++f) layer->CreateField(defn->GetFieldDefn(f));
  long written = 0;
  for (int id = table.GetNextFeatureId(-1); id != -1; id = table.GetNextFeatureId(id)) {
    TABFeature* feature = table.GetFeatureRef(id);
    if (!feature) break;
    OGRFeature copy(layer->GetLayerDefn());
    copy.SetFrom(feature, TRUE);
    if (layer->CreateFeature(&copy) != OGRERR_NONE) Fail(target, LastError("a feature could not be written"));
    ++written;
  }
  // A table that cannot be read whole leaves no output behind.
  const std::string failure = table.GetReadError();
  if (!failure.empty()) {
    out.reset();
    VSIUnlink(target.c_str());
    throw Failure{failure, 1};
  }
  out.reset();
  std::printf("written: %s\nfeatures: %ld\n", target.c_str(), written);
  return 0;
}

int Import(const std::string& source, const std::string& target) {
  std::unique_ptr<GDALDataset> in(
      static_cast<GDALDataset*>(GDALOpenEx(source.c_str(), GDAL_OF_VECTOR, nullptr, nullptr, nullptr)));
  if (!in || in->GetLayerCount() < 1) Fail(source, "not a vector dataset OGR can open");
  OGRLayer* layer = in->GetLayer(0);
  CVtMapInfo table;
  if (table.Open(target.c_str(), "wb") != 0) Fail(target, LastError("cannot be created"));
  OGREnvelope e;
  if (layer->GetExtent(&e, TRUE) == OGRERR_NONE) table.SetBounds(e.MinX, e.MinY, e.MaxX, e.MaxY);
  if (layer->GetSpatialRef()) table.SetSpatialRef(layer->GetSpatialRef());
  if (table.SetFeatureDefn(layer->GetLayerDefn(), nullptr) != 0) Fail(target, LastError("the fields cannot be made"));
  long written = 0;
  for (auto& feature : *layer) {
    OGRFeature copy(table.GetLayerDefn());
    copy.SetFrom(feature.get(), TRUE);
    if (table.CreateFeature(&copy) != OGRERR_NONE) Fail(target, LastError("a feature could not be written"));
    ++written;
  }
  if (table.Close() != 0) Fail(target, LastError("cannot be completed"));
  std::printf("written: %s\nfeatures: %ld\n", target.c_str(), written);
  return 0;
}

int Run(int argc, char** argv) {
  if (argc < 2) Usage("");
  const std::string command = argv[1];
  std::vector<std::string> files;
  std::string driver;
  for (int i = 2; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "-F" && command == "export" && i + 1 < argc) driver = argv[++i];
    else if (!a.empty() && a[0] == '-') Usage("unknown option " + a);
    else files.push_back(a);
  }
  GDALAllRegister();
  if (command == "info" && files.size() == 1) return Info(files[0]);
  if (command == "export" && files.size() == 2) return Export(files[0], files[1], driver);
  if (command == "import" && files.size() == 2) return Import(files[0], files[1]);
  Usage(command == "info" || command == "export" || command == "import" ? "wrong number of files"
                                                                         : "unknown mapinfo command " + command);
}

}  // namespace

int main(int argc, char** argv) {
  // The library's messages are reported once, by this program.
  CPLSetErrorHandler(CPLQuietErrorHandler);
  try {
    return Run(argc, argv);
  } catch (const Failure& f) {
    if (!f.text.empty()) std::fprintf(stderr, "vtfmt mapinfo: %s\n", f.text.c_str());
    if (f.code == 2) std::fputs(kUsage, stderr);
    return f.code;
  }
}
