#include "platform/vtelem/CElementManager.h"

#include <strings.h>

#include <cstring>

#include "platform/vtelem/CElemGeometry.h"

int CElementManager::ParseGeoType(const CString& name) {
  const char* local = name.GetString();
  if (const char* colon = std::strrchr(local, ':')) local = colon + 1;
  static const struct {
    const char* name;
    int type;
  } kNames[] = {
      {"Point", ELEM_POINT},
      {"LineString", ELEM_LINE},
      {"Curve", ELEM_LINE},
      {"Polygon", ELEM_POLYGON},
      {"Surface", ELEM_POLYGON},
      {"MultiPoint", ELEM_MULTIPOINT},
      {"MultiLineString", ELEM_MULTILINE},
      {"MultiCurve", ELEM_MULTILINE},
      {"MultiPolygon", ELEM_MULTIPOLYGON},
      {"MultiSurface", ELEM_MULTIPOLYGON},
      {"MultiGeometry", ELEM_COLLECTION},
  };
  for (const auto& entry : kNames)
    if (strcasecmp(local, entry.name) == 0) return entry.type;
  return ELEM_NONE;
}

int CElementManager::CreateElement(CVtElement*& element, int type) {
  element = nullptr;
  if (type < ELEM_POINT || type > ELEM_COLLECTION) return 0;
  element = new CElemGeometry(type);
  return 1;
}

int CElementManager::TypeOfOgr(int ogrType) {
  // 2.5D types carry a high bit, ISO Z/M types add 1000s.
  int flat = (ogrType & 0x7fffffff) % 1000;
  return flat >= ELEM_POINT && flat <= ELEM_COLLECTION ? flat : ELEM_NONE;
}
