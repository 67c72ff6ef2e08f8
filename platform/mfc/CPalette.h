// An MFC-style logical palette and the screen's system palette, as the GIF
// export builds its colour table on them. The palette is held in memory: the
// stand-in has no palette device to realise it on.
#pragma once

#include <vector>

#include "platform/mfc/CObject.h"
#include "platform/win/wingdi.h"

typedef DWORD COLORREF;

// Red in the low byte, then green, then blue, as Windows packs colours.
inline constexpr COLORREF RGB(BYTE r, BYTE g, BYTE b) {
  return static_cast<COLORREF>(r) | static_cast<COLORREF>(g) << 8 | static_cast<COLORREF>(b) << 16;
}

// Entry flags of a logical palette.
enum : BYTE { PC_RESERVED = 0x01, PC_EXPLICIT = 0x02, PC_NOCOLLAPSE = 0x04 };

#pragma pack(push, 1)
struct LOGPALETTE {
  WORD palVersion;
  WORD palNumEntries;
  PALETTEENTRY palPalEntry[1];  // palNumEntries entries follow
};
#pragma pack(pop)

class CPalette : public CObject {
 public:
  CPalette() = default;
  CPalette(const CPalette&) = delete;
  CPalette& operator=(const CPalette&) = delete;

  // Copies the entries of `log` (version 0x300, 1 to 65535 entries). FALSE
  // when the palette already exists or `log` is not valid.
  BOOL CreatePalette(const LOGPALETTE* log);
  BOOL DeleteObject();
  bool IsCreated() const { return !m_Entries.empty(); }
  int GetEntryCount() const { return static_cast<int>(m_Entries.size()); }
  // Copies up to `count` entries from `start`; returns the number copied.
  UINT GetPaletteEntries(UINT start, UINT count, PALETTEENTRY* entries) const;
  // The index of the entry nearest to `color` (smallest squared distance in
  // red, green and blue; the first of equals wins). 0 for an empty palette.
  UINT GetNearestPaletteIndex(COLORREF color) const;

 private:
  std::vector<PALETTEENTRY> m_Entries;
};

// The screen's system palette: the twenty static colours of the display, ten
// at each end of the 256 entries, black in between. Copies entries
// `start`..`start + count - 1` (at most 256 in all); returns the number copied.
UINT GetSystemPaletteEntries(HDC dc, UINT start, UINT count, PALETTEENTRY* entries);
