// Random bytes as a MIF header and its MID through CVtMapInfo: the table's
// own header (native field types), the coordinate system's projection id and
// units, and every feature by id.
#include <cstdint>
#include <string>

#include "FuzzInput.h"
#include "vector/mapinfo/CVtMapInfo.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool registered = [] {
    GDALAllRegister();
    CPLSetErrorHandler(CPLQuietErrorHandler);
    return true;
  }();
  (void)registered;
  // The input is the MIF; after a line "--MID--" comes the MID.
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t cut = input.find("--MID--\n");
  const std::string mif = input.substr(0, cut);
  const std::string mid = cut == std::string::npos ? std::string() : input.substr(cut + 8);
  static const std::string mifPath = FuzzPath("mapinfo", "t.mif");
  static const std::string midPath = FuzzPath("mapinfo", "t.mid");
  if (!WriteFuzzFile(mifPath, reinterpret_cast<const uint8_t*>(mif.data()), mif.size()) ||
      !WriteFuzzFile(midPath, reinterpret_cast<const uint8_t*>(mid.data()), mid.size()))
    return 0;
  CVtMapInfo table;
  if (table.Open(mifPath.c_str(), "rb", 1) != 0) return 0;
  table.GetLinearUnits();
  table.GetVtUnitsFromMapInfoLinearUnits();
  table.GetMapInfoProjID();
  for (int f = -1; f < 12; ++f) table.GetNativeFieldType(f);
  int p, l, r, t;
  table.GetFeatureCountByType(p, l, r, t, 1);
  double a, b, c, d;
  table.GetBounds(a, b, c, d, 1);
  int n = 0;
  for (int id = table.GetNextFeatureId(-1); id != -1 && n < 1000; id = table.GetNextFeatureId(id), ++n)
    table.GetFeatureRef(id);
  return 0;
}
