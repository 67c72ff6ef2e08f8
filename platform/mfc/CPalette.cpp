#include "platform/mfc/CPalette.h"

#include <algorithm>

BOOL CPalette::CreatePalette(const LOGPALETTE* log) {
  if (!m_Entries.empty() || !log || log->palVersion != 0x300 || log->palNumEntries == 0) return FALSE;
  m_Entries.assign(log->palPalEntry, log->palPalEntry + log->palNumEntries);
  return TRUE;
}

BOOL CPalette::DeleteObject() {
  if (m_Entries.empty()) return FALSE;
  m_Entries.clear();
  return TRUE;
}

UINT CPalette::GetPaletteEntries(UINT start, UINT count, PALETTEENTRY* entries) const {
  if (!entries || start >= m_Entries.size()) return 0;
  const UINT n = std::min<UINT>(count, static_cast<UINT>(m_Entries.size()) - start);
  std::copy(m_Entries.begin() + start, m_Entries.begin() + start + n, entries);
  return n;
}

UINT CPalette::GetNearestPaletteIndex(COLORREF color) const {
  const int r = color & 0xFF, g = (color >> 8) & 0xFF, b = (color >> 16) & 0xFF;
  UINT best = 0;
  long bestDistance = -1;
  for (size_t i = 0; i < m_Entries.size(); ++i) {
    const long dr = m_Entries[i].peRed - r, dg = m_Entries[i].peGreen - g, db = m_Entries[i].peBlue - b;
    const long d = dr * dr + dg * dg + db * db;
    if (bestDistance < 0 || d < bestDistance) {
      bestDistance = d;
      best = static_cast<UINT>(i);
    }
  }
  return best;
}

namespace {
// The display's static colours: entries 0..9 and 246..255.
const PALETTEENTRY kStaticLow[10] = {
    {0, 0, 0, 0},       {128, 0, 0, 0},     {0, 128, 0, 0},     {128, 128, 0, 0},   {0, 0, 128, 0},
    {128, 0, 128, 0},   {0, 128, 128, 0},   {192, 192, 192, 0}, {192, 220, 192, 0}, {166, 202, 240, 0},
};
const PALETTEENTRY kStaticHigh[10] = {
    {255, 251, 240, 0}, {160, 160, 164, 0}, {128, 128, 128, 0}, {255, 0, 0, 0},   {0, 255, 0, 0},
    {255, 255, 0, 0},   {0, 0, 255, 0},     {255, 0, 255, 0},   {0, 255, 255, 0}, {255, 255, 255, 0},
};
}  // namespace

UINT GetSystemPaletteEntries(HDC, UINT start, UINT count, PALETTEENTRY* entries) {
  if (!entries) return 0;
  UINT n = 0;
  for (UINT i = start; i < 256 && n < count; ++i, ++n) {
    if (i < 10)
      entries[n] = kStaticLow[i];
    else if (i >= 246)
      entries[n] = kStaticHigh[i - 246];
    else
      entries[n] = PALETTEENTRY{0, 0, 0, 0};
  }
  return n;
}
