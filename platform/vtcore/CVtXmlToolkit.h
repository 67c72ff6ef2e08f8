// Static XML helpers of the core toolkit that the GML classes call: the XML
// declaration for a character set, a bounds envelope in GML 3, the text of
// an attribute value, integer parsing, index checks and the clean-up of
// arrays of owned pointers.
#pragma once

#include "platform/mfc/CArray.h"
#include "platform/mfc/COleVariant.h"
#include "platform/mfc/CString.h"
#include "platform/vtcore/CRect2D.h"

class CVtXmlToolkit {
 public:
  CVtXmlToolkit() = default;
  CVtXmlToolkit(const CVtXmlToolkit&) = default;
  CVtXmlToolkit& operator=(const CVtXmlToolkit&) = default;
  virtual ~CVtXmlToolkit();

  // Deletes every non-null element, then frees the storage: the array is
  // left empty and usable, its growth step kept.
  template <class T>
  static void DeleteArray(CArray<T*, T*>& array) {
    for (int i = 0; i < array.GetSize(); ++i) {
      delete array[i];
      array[i] = nullptr;
    }
    array.RemoveAll();
  }

  // The XML declaration line ("<?xml ... ?>" and a line feed) naming the
  // encoding of a character-set code (Windows GDI numbering, 65536 UTF-8).
  // The default character set (1) names the process's code page.
  static CString GetXmlHeader(int charset);
  // The encoding name that declaration carries.
  static CString EncodingName(int charset);
  // A gml:boundedBy envelope of the bounds (lower and upper corners),
  // indented by `depth` steps of three spaces and ending in a line feed.
  static CString BoundsToGML3(const CRect2D& bounds, int depth);
  // The text of a value: integers in decimal, reals in their shortest
  // round-trip form, currency with up to four decimals, dates as ISO 8601
  // (date, or date and time), booleans "true"/"false", strings unchanged,
  // empty and null as "". Independent of the process locale.
  static CString ToString(const COleVariant& value);
  // The integer at the start of the text (white space, sign, digits), 0 when
  // there is none; values beyond 32 bits are clamped.
  static int ToInt32(const CString& text);
  // low <= value <= high - 1.
  static bool InRange(int value, int low, int high) { return value >= low && value < high; }
};
