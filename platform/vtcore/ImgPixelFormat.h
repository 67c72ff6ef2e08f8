// Pixel formats of scan lines. Plain values are the bits per pixel; the grid
// cell formats have values of their own so they are never confused with them.
#pragma once

enum ImgPixelFormat {
  PF_UNKNOWN = 0,  // not a format: what Bit2Format answers for unsupported bit counts
  PF_BIT1 = 1,
  PF_BIT4 = 4,
  PF_BIT8 = 8,
  PF_BIT16 = 16,
  PF_BIT24 = 24,
  PF_BIT32 = 32,
  PF_BIT48 = 48,
  PF_BIT64 = 64,
  PF_INT32 = 320,     // signed 32-bit grid cell
  PF_FLOAT32 = 3200,  // IEEE single grid cell
  PF_FLOAT64 = 6400,  // IEEE double grid cell
};
