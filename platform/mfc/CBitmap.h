// An MFC-style wrapper of a GDI bitmap handle. The wrapper owns its handle
// and deletes it on destruction unless it was detached, or unless the wrapper
// is a temporary one made by FromHandle for a handle owned elsewhere.
#pragma once

#include "platform/mfc/CObject.h"
#include "platform/win/wingdi.h"

class CDC;

class CBitmap : public CObject {
 public:
  HGDIOBJ m_hObject = nullptr;

  CBitmap() = default;
  CBitmap(const CBitmap&) = delete;
  CBitmap& operator=(const CBitmap&) = delete;
  ~CBitmap() override;

  BOOL CreateBitmap(int width, int height, UINT planes, UINT bitsPerPixel, const void* bits);
  BOOL CreateCompatibleBitmap(CDC* dc, int width, int height);
  int GetBitmap(BITMAP* info) const;

  BOOL Attach(HGDIOBJ handle);
  HGDIOBJ Detach();
  BOOL DeleteObject();
  HGDIOBJ GetSafeHandle() const { return m_hObject; }
  operator HBITMAP() const { return static_cast<HBITMAP>(m_hObject); }

  // A temporary wrapper of `handle` that does not own it; it stays valid
  // until DeleteTempMap and must not be kept by the caller.
  static CBitmap* FromHandle(HBITMAP handle);
  // Releases the temporary wrappers (their handles are left alone).
  static void DeleteTempMap();
};
