#include "platform/mfc/CDC.h"

#include "platform/mfc/CBitmap.h"

CDC::~CDC() { DeleteDC(); }

BOOL CDC::CreateCompatibleDC(CDC* dc) {
  if (m_hDC) return FALSE;
  m_hDC = ::CreateCompatibleDC(dc ? dc->m_hDC : nullptr);
  return m_hDC != nullptr;
}

BOOL CDC::DeleteDC() {
  if (!m_hDC) return FALSE;
  BOOL ok = ::DeleteDC(m_hDC);
  m_hDC = nullptr;
  return ok;
}

CBitmap* CDC::SelectObject(CBitmap* bitmap) {
  if (!bitmap) return nullptr;
  HGDIOBJ previous = ::SelectObject(m_hDC, bitmap->GetSafeHandle());
  return CBitmap::FromHandle(static_cast<HBITMAP>(previous));
}
