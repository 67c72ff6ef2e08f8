// Growable arrays of the platform's geometric values, exported for the
// platform's modules. They grow like every CArray (the first allocation
// exact, then by the grow-by, or by an eighth of the size kept within 4 to
// 1024) and serialize as the element count followed by the elements' bytes.
#pragma once

#include "platform/mfc/CArchive.h"
#include "platform/mfc/CArray.h"
#include "platform/mfc/CPoint.h"
#include "platform/vtcore/CPoint2D.h"
#include "platform/vtcore/CPoint3D.h"
#include "platform/vtcore/CRect2D.h"

// Stored element sizes, the same as the platform's.
static_assert(sizeof(CPoint2D) == 16 && sizeof(CPoint3D) == 24 && sizeof(CPoint) == 8 &&
                  sizeof(CRect2D) == 32 && sizeof(CRect) == 16,
              "geometric values are stored as they lie in memory");

class CPoint2Ds : public CArray<CPoint2D> {
 public:
  ~CPoint2Ds() override { RemoveAll(); }
  void Serialize(CArchive& ar) override { SerializeElementBytes(*this, ar); }
};

class CPoint3Ds : public CArray<CPoint3D> {
 public:
  ~CPoint3Ds() override { RemoveAll(); }
  void Serialize(CArchive& ar) override { SerializeElementBytes(*this, ar); }
};

class CPoints : public CArray<CPoint> {
 public:
  ~CPoints() override { RemoveAll(); }
  void Serialize(CArchive& ar) override { SerializeElementBytes(*this, ar); }
};

class CRect2Ds : public CArray<CRect2D> {
 public:
  ~CRect2Ds() override { RemoveAll(); }
  void Serialize(CArchive& ar) override { SerializeElementBytes(*this, ar); }
};

class CRects : public CArray<CRect> {
 public:
  ~CRects() override { RemoveAll(); }
  void Serialize(CArchive& ar) override { SerializeElementBytes(*this, ar); }
};

// A byte array that clears its bytes when it is destroyed, so that what it
// held does not linger in freed memory. Serializes as CByteArray does.
class CVtByteArrayEx : public CByteArray {
 public:
  ~CVtByteArrayEx() override { RemoveAllSafely(); }
  // Zeroes the whole storage, then frees it.
  void RemoveAllSafely();
};
