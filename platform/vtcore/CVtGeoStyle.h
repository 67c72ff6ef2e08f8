// The core toolkit's style record of a geometry: how its lines, fill,
// symbol and text are drawn. Eleven 4-byte fields, 44 bytes, stored as they
// lie in memory. Colours are COLORREF values (0x00BBGGRR).
#pragma once

#include "platform/win/windef.h"

class CVtGeoStyle {
 public:
  // A solid black line one unit wide; no fill, no symbol; black text of size 10.
  CVtGeoStyle() = default;

  bool operator==(const CVtGeoStyle& o) const {
    return m_crLine == o.m_crLine && m_nLineStyle == o.m_nLineStyle && m_nLineWidth == o.m_nLineWidth &&
           m_crFill == o.m_crFill && m_nFillStyle == o.m_nFillStyle && m_crSymbol == o.m_crSymbol &&
           m_nSymbol == o.m_nSymbol && m_nSymbolSize == o.m_nSymbolSize && m_crText == o.m_crText &&
           m_nTextSize == o.m_nTextSize && m_dwFlags == o.m_dwFlags;
  }
  bool operator!=(const CVtGeoStyle& o) const { return !(*this == o); }

  DWORD m_crLine = 0;
  LONG m_nLineStyle = 0;  // 0 solid, 1 dash, 2 dot, 3 dash-dot
  LONG m_nLineWidth = 1;  // tenths of a millimetre
  DWORD m_crFill = 0xFFFFFF;
  LONG m_nFillStyle = -1;  // -1 no fill, 0 solid, above that a hatch
  DWORD m_crSymbol = 0;
  LONG m_nSymbol = -1;  // symbol index, -1 none
  LONG m_nSymbolSize = 0;
  DWORD m_crText = 0;
  LONG m_nTextSize = 10;
  DWORD m_dwFlags = 0;
};
static_assert(sizeof(CVtGeoStyle) == 44, "a style record takes 44 bytes");
