// Style lists and transformation-error lists of the core toolkit, exported
// for the platform's modules. Both grow like every CArray and serialize as
// the count followed by fixed-size records: 44 bytes per style, 32 per
// transformation error.
#pragma once

#include "platform/mfc/CArchive.h"
#include "platform/mfc/CArray.h"
#include "platform/vtcore/CTransformError.h"
#include "platform/vtcore/CVtGeoStyle.h"

class CVtGeoStyles : public CArray<CVtGeoStyle> {
 public:
  ~CVtGeoStyles() override { RemoveAll(); }
  void Serialize(CArchive& ar) override { SerializeElementBytes(*this, ar); }
};

// The records carry the errors' values only: the object's table pointer
// is never written, nor taken from a file.
class CTransformErrors : public CArray<CTransformError> {
 public:
  ~CTransformErrors() override { RemoveAll(); }
  void Serialize(CArchive& ar) override;
};
