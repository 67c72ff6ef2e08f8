// A stand-in for the part of Windows GDI that the raster drivers use: the
// bitmap structures laid out as in files, device-dependent bitmaps held in
// memory, memory device contexts, and GetDIBits to read a bitmap's rows in
// a requested bit count.
//
// Device-dependent bitmaps here have 1, 4, 8, 16 (5-5-5), 24 or 32 bits per
// pixel. Those of 1, 4 and 8 bits carry their own colour table (black and
// white, the 16 VGA colours, a grey ramp by default; SetDIBColorTable on a
// memory DC that has the bitmap selected changes it), like DIB sections.
#pragma once

#include "platform/win/windef.h"

typedef void* HGDIOBJ;
typedef struct HBITMAP__* HBITMAP;
typedef struct HDC__* HDC;

#pragma pack(push, 1)
struct PALETTEENTRY {
  BYTE peRed;
  BYTE peGreen;
  BYTE peBlue;
  BYTE peFlags;
};

struct RGBQUAD {
  BYTE rgbBlue;
  BYTE rgbGreen;
  BYTE rgbRed;
  BYTE rgbReserved;
};

struct RGBTRIPLE {
  BYTE rgbtBlue;
  BYTE rgbtGreen;
  BYTE rgbtRed;
};

struct BITMAPFILEHEADER {
  WORD bfType;
  DWORD bfSize;
  WORD bfReserved1;
  WORD bfReserved2;
  DWORD bfOffBits;
};

struct BITMAPCOREHEADER {
  DWORD bcSize;
  WORD bcWidth;
  WORD bcHeight;
  WORD bcPlanes;
  WORD bcBitCount;
};

struct BITMAPINFOHEADER {
  DWORD biSize;
  LONG biWidth;
  LONG biHeight;
  WORD biPlanes;
  WORD biBitCount;
  DWORD biCompression;
  DWORD biSizeImage;
  LONG biXPelsPerMeter;
  LONG biYPelsPerMeter;
  DWORD biClrUsed;
  DWORD biClrImportant;
};

struct CIEXYZ {
  LONG ciexyzX;
  LONG ciexyzY;
  LONG ciexyzZ;
};

struct CIEXYZTRIPLE {
  CIEXYZ ciexyzRed;
  CIEXYZ ciexyzGreen;
  CIEXYZ ciexyzBlue;
};

// The version-4 header: the information header followed by colour masks,
// colour space and gamma. 108 bytes.
struct BITMAPV4HEADER {
  DWORD bV4Size;
  LONG bV4Width;
  LONG bV4Height;
  WORD bV4Planes;
  WORD bV4BitCount;
  DWORD bV4V4Compression;
  DWORD bV4SizeImage;
  LONG bV4XPelsPerMeter;
  LONG bV4YPelsPerMeter;
  DWORD bV4ClrUsed;
  DWORD bV4ClrImportant;
  DWORD bV4RedMask;
  DWORD bV4GreenMask;
  DWORD bV4BlueMask;
  DWORD bV4AlphaMask;
  DWORD bV4CSType;
  CIEXYZTRIPLE bV4Endpoints;
  DWORD bV4GammaRed;
  DWORD bV4GammaGreen;
  DWORD bV4GammaBlue;
};

struct BITMAPINFO {
  BITMAPINFOHEADER bmiHeader;
  RGBQUAD bmiColors[1];
};
#pragma pack(pop)

static_assert(sizeof(PALETTEENTRY) == 4, "PALETTEENTRY is 4 bytes");
static_assert(sizeof(RGBQUAD) == 4, "RGBQUAD is 4 bytes");
static_assert(sizeof(BITMAPFILEHEADER) == 14, "BITMAPFILEHEADER is 14 bytes");
static_assert(sizeof(BITMAPCOREHEADER) == 12, "BITMAPCOREHEADER is 12 bytes");
static_assert(sizeof(BITMAPINFOHEADER) == 40, "BITMAPINFOHEADER is 40 bytes");
static_assert(sizeof(BITMAPV4HEADER) == 108, "BITMAPV4HEADER is 108 bytes");

// Size query of a bitmap (GetObject). bmBits is null for device-dependent
// bitmaps; with a 64-bit pointer the structure is 32 bytes, not 24.
struct BITMAP {
  LONG bmType;
  LONG bmWidth;
  LONG bmHeight;
  LONG bmWidthBytes;  // row length in the bitmap's own format, a multiple of 2
  WORD bmPlanes;
  WORD bmBitsPixel;
  LPVOID bmBits;
};

enum : DWORD { BI_RGB = 0, BI_RLE8 = 1, BI_RLE4 = 2, BI_BITFIELDS = 3 };
enum : UINT { DIB_RGB_COLORS = 0, DIB_PAL_COLORS = 1 };

// A device-dependent bitmap from top-down rows padded to 2-byte multiples
// (`bits` may be null: all zero). Null for sizes or bit counts not supported.
HBITMAP CreateBitmap(int width, int height, UINT planes, UINT bitsPerPixel, const void* bits);
// A 32-bit bitmap, all zero, as the screen would make.
HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height);
BOOL DeleteObject(HGDIOBJ object);
// Fills a BITMAP (at most `size` bytes) for a bitmap handle; returns the
// bytes written, 0 for a handle that is not a live bitmap.
int GetObject(HGDIOBJ object, int size, LPVOID out);

HDC CreateCompatibleDC(HDC dc);
BOOL DeleteDC(HDC dc);
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
UINT SetDIBColorTable(HDC dc, UINT start, UINT count, const RGBQUAD* colors);
UINT GetDIBColorTable(HDC dc, UINT start, UINT count, RGBQUAD* colors);

// Reads `lines` rows starting at row `start` of the bitmap into `bits` in the
// format that `info` asks for (1, 4, 8, 16, 24 or 32 bits, BI_RGB; a header
// of 40, 108 or 124 bytes followed by the colour table). Rows are counted
// from the bottom and stored bottom-up when biHeight > 0, from the top when
// biHeight < 0; each output row is padded to a multiple of 4 bytes. Fills the
// colour table for 1, 4 and 8 bits. With `bits` null only the header (and,
// when biBitCount is 0, the bitmap's own size and bit count) and the colour
// table are filled. Returns the rows copied (the height for a header query),
// 0 on failure.
int GetDIBits(HDC dc, HBITMAP bitmap, UINT start, UINT lines, LPVOID bits, BITMAPINFO* info, UINT usage);
