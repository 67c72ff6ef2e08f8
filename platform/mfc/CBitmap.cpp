#include "platform/mfc/CBitmap.h"

#include <map>
#include <memory>

#include "platform/mfc/CDC.h"

namespace {
// Temporary wrappers by handle. They never own their handle: it is cleared
// before a wrapper is destroyed.
struct TempMap {
  std::map<HBITMAP, std::unique_ptr<CBitmap>> wrappers;
  void Clear() {
    for (auto& entry : wrappers) entry.second->m_hObject = nullptr;
    wrappers.clear();
  }
  ~TempMap() { Clear(); }
};

// One map per thread, as MFC keeps its handle maps: files are written on
// several threads at once.
TempMap& Temps() {
  static thread_local TempMap map;
  return map;
}
}  // namespace

CBitmap::~CBitmap() { DeleteObject(); }

BOOL CBitmap::CreateBitmap(int width, int height, UINT planes, UINT bitsPerPixel, const void* bits) {
  return Attach(::CreateBitmap(width, height, planes, bitsPerPixel, bits));
}

BOOL CBitmap::CreateCompatibleBitmap(CDC* dc, int width, int height) {
  return Attach(::CreateCompatibleBitmap(dc ? dc->GetSafeHdc() : nullptr, width, height));
}

int CBitmap::GetBitmap(BITMAP* info) const {
  return ::GetObject(m_hObject, static_cast<int>(sizeof(BITMAP)), info);
}

BOOL CBitmap::Attach(HGDIOBJ handle) {
  if (!handle || m_hObject) return FALSE;
  m_hObject = handle;
  return TRUE;
}

HGDIOBJ CBitmap::Detach() {
  HGDIOBJ handle = m_hObject;
  m_hObject = nullptr;
  return handle;
}

BOOL CBitmap::DeleteObject() {
  if (!m_hObject) return FALSE;
  return ::DeleteObject(Detach());
}

CBitmap* CBitmap::FromHandle(HBITMAP handle) {
  if (!handle) return nullptr;
  std::unique_ptr<CBitmap>& slot = Temps().wrappers[handle];
  if (!slot) slot = std::make_unique<CBitmap>();
  slot->m_hObject = handle;
  return slot.get();
}

void CBitmap::DeleteTempMap() { Temps().Clear(); }
