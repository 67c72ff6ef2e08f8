// An MFC-style wrapper of a device context. Only memory contexts exist here.
#pragma once

#include "platform/mfc/CObject.h"
#include "platform/win/wingdi.h"

class CBitmap;

class CDC : public CObject {
 public:
  HDC m_hDC = nullptr;

  CDC() = default;
  CDC(const CDC&) = delete;
  CDC& operator=(const CDC&) = delete;
  ~CDC() override;

  BOOL CreateCompatibleDC(CDC* dc);
  BOOL DeleteDC();
  HDC GetSafeHdc() const { return m_hDC; }
  // Selects `bitmap` into the context; returns a temporary wrapper of the
  // bitmap selected before, or null.
  CBitmap* SelectObject(CBitmap* bitmap);
};
