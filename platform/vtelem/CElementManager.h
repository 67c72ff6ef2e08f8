// Element types by GML element name, and element creation.
#pragma once

#include "platform/mfc/CString.h"
#include "platform/vtelem/CVtElement.h"

class CElementManager {
 public:
  // The element type a GML geometry element name stands for ("gml:Point",
  // "gml:MultiSurface", ...; the prefix and letter case do not matter), 0
  // for any other name.
  static int ParseGeoType(const CString& name);
  // A new element of `type` in `element` (the caller owns it); 0 and null
  // for a type that is not an element type.
  static int CreateElement(CVtElement*& element, int type);
  // The element type of a geodata-library geometry type code.
  static int TypeOfOgr(int ogrType);
};
