#include "platform/mfc/COleVariant.h"

COleVariant::COleVariant(int16_t value, VARTYPE type) : vt(type == VT_BOOL ? VT_BOOL : VT_I2) {
  llVal = 0;
  if (vt == VT_BOOL) boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
  else iVal = value;
}

COleVariant::COleVariant(int32_t value, VARTYPE type) : vt(type == VT_BOOL ? VT_BOOL : VT_I4) {
  llVal = 0;
  if (vt == VT_BOOL) boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
  else lVal = value;
}

COleVariant::COleVariant(double value, VARTYPE type) : vt(type == VT_DATE ? VT_DATE : VT_R8) { dblVal = value; }

COleVariant COleVariant::Null() {
  COleVariant v;
  v.vt = VT_NULL;
  return v;
}

void COleVariant::Clear() {
  vt = VT_EMPTY;
  llVal = 0;
  strVal.Empty();
}

bool COleVariant::operator==(const COleVariant& other) const {
  if (vt != other.vt) return false;
  switch (vt) {
    case VT_EMPTY:
    case VT_NULL:
      return true;
    case VT_I1:
      return cVal == other.cVal;
    case VT_UI1:
      return bVal == other.bVal;
    case VT_I2:
      return iVal == other.iVal;
    case VT_UI2:
      return uiVal == other.uiVal;
    case VT_I4:
      return lVal == other.lVal;
    case VT_UI4:
      return ulVal == other.ulVal;
    case VT_I8:
      return llVal == other.llVal;
    case VT_UI8:
      return ullVal == other.ullVal;
    case VT_R4:
      return fltVal == other.fltVal;
    case VT_R8:
    case VT_DATE:
      return dblVal == other.dblVal;
    case VT_CY:
      return cyVal.int64 == other.cyVal.int64;
    case VT_BOOL:
      return (boolVal != 0) == (other.boolVal != 0);
    case VT_BSTR:
      return strVal.str() == other.strVal.str();
    default:
      return llVal == other.llVal;
  }
}
