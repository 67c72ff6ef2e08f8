// A tagged value of the types attribute fields carry: integers, reals,
// currency, dates, strings, booleans, empty and null. The layout follows the
// OLE VARIANT (a type tag and a union), with the string held as bytes.
#pragma once

#include <cstdint>

#include "platform/mfc/CString.h"
#include "platform/win/windef.h"

typedef uint16_t VARTYPE;
typedef int16_t VARIANT_BOOL;
typedef double DATE;  // days since 1899-12-30; the fraction is the time of day

enum VARENUM : VARTYPE {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_CY = 6,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_BOOL = 11,
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_UI8 = 21,
};

constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

// Currency: a count of ten-thousandths.
struct CY {
  int64_t int64;
};

class COleVariant {
 public:
  COleVariant() { llVal = 0; }
  COleVariant(const char* text) : vt(VT_BSTR), strVal(text) { llVal = 0; }
  COleVariant(const CString& text) : vt(VT_BSTR), strVal(text) { llVal = 0; }
  // VT_I2, or VT_BOOL (any non-zero value is true).
  COleVariant(int16_t value, VARTYPE type = VT_I2);
  // VT_I4 (also VT_BOOL, as for 16-bit values).
  COleVariant(int32_t value, VARTYPE type = VT_I4);
  COleVariant(uint8_t value) : vt(VT_UI1) {
    llVal = 0;
    bVal = value;
  }
  COleVariant(int64_t value) : vt(VT_I8) { llVal = value; }
  COleVariant(float value) : vt(VT_R4) {
    llVal = 0;
    fltVal = value;
  }
  // VT_R8, or VT_DATE.
  COleVariant(double value, VARTYPE type = VT_R8);
  COleVariant(CY value) : vt(VT_CY) { cyVal = value; }
  COleVariant(bool value) : vt(VT_BOOL) {
    llVal = 0;
    boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
  }

  static COleVariant Null();
  static COleVariant Date(DATE value) { return COleVariant(value, VT_DATE); }
  // `units` ten-thousandths of the currency unit.
  static COleVariant Currency(int64_t units) { return COleVariant(CY{units}); }

  // Empty again.
  void Clear();
  // Same type and value (strings by bytes, reals by value).
  bool operator==(const COleVariant& other) const;
  bool operator!=(const COleVariant& other) const { return !(*this == other); }

  VARTYPE vt = VT_EMPTY;
  union {
    int8_t cVal;
    uint8_t bVal;
    int16_t iVal;
    uint16_t uiVal;
    int32_t lVal;
    uint32_t ulVal;
    int64_t llVal;
    uint64_t ullVal;
    float fltVal;
    double dblVal;
    CY cyVal;
    DATE date;
    VARIANT_BOOL boolVal;
  };
  CString strVal;  // the text of VT_BSTR
};
