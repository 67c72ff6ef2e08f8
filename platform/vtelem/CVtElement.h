// Base of the element library's map elements: a type code and parsing from
// GML text.
#pragma once

#include "platform/mfc/CString.h"
#include "platform/win/windef.h"

// Element type codes of the geometry elements.
enum VtElementType {
  ELEM_NONE = 0,
  ELEM_POINT = 1,
  ELEM_LINE = 2,
  ELEM_POLYGON = 3,
  ELEM_MULTIPOINT = 4,
  ELEM_MULTILINE = 5,
  ELEM_MULTIPOLYGON = 6,
  ELEM_COLLECTION = 7,
};

class CVtElement {
 public:
  virtual ~CVtElement() = default;
  virtual int GetType() const = 0;
  // Fills the element from the GML text of one geometry element; FALSE when
  // the text is not a geometry.
  virtual BOOL ParseGML(const CString& text) = 0;
};
