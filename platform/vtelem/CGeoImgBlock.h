// An image held in memory as a block of rows (the element library's image
// block): its pixel format, width, height and row length in bytes, which
// drivers read and set directly, and the rows, top row first. The row storage
// follows the size fields: it is (re)allocated to height x width bytes when a
// row is first stored after they change, or by Allocate.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/vtcore/CImgScanLine.h"
#include "platform/vtcore/ImgPixelFormat.h"

class CGeoImgBlock {
 public:
  ImgPixelFormat m_PixelFormat = PF_BIT24;
  long m_nWidth = 0;
  long m_nHeight = 0;
  long m_nWidthBytes = 0;  // bytes of one row in the block

  CGeoImgBlock() = default;
  // A block of `width` x `height` pixels of `format`, rows aligned to 4
  // bytes, filled with zeros. An impossible size leaves an empty block.
  CGeoImgBlock(ImgPixelFormat format, long width, long height);

  // Sizes the row storage to the size fields (zero-filled). False when the
  // fields are negative or describe more than the block may hold (4 GiB).
  bool Allocate();

  // Copies row `row` into `line`: min(width bytes, line size) bytes. The two
  // trailing arguments are a column offset and a flag the platform never
  // sets; anything but 0 is refused. False for a row outside the block.
  bool GetScanLine(long row, CImgScanLine& line, long column = 0, int flags = 0) const;
  // Stores `line` as row `row`: min(width bytes, line size) bytes, the rest
  // of the row zero. Allocates the rows first when the size fields changed.
  // False for a row outside the block or a block that cannot be allocated.
  bool SetScanLine(long row, const CImgScanLine& line, long column = 0, int flags = 0);

  // Row `row`'s bytes, or null outside the block.
  unsigned char* GetRow(long row);
  const unsigned char* GetRow(long row) const;
  // Bytes the rows occupy now.
  size_t GetStorageSize() const { return m_Bits.size(); }

 private:
  bool Sized() const;
  std::vector<unsigned char> m_Bits;
  long m_nStoredWidthBytes = 0;
  long m_nStoredHeight = 0;
};
