#include <map>
#include <mutex>

#include "platform/win/wingdi.h"
#include "platform/win/winuser.h"

namespace {
struct Clipboard {
  std::mutex lock;
  bool open = false;
  std::map<UINT, HANDLE> data;

  // Releases what the clipboard owns: bitmaps are GDI objects.
  void Release() {
    for (auto& entry : data)
      if (entry.first == CF_BITMAP) DeleteObject(entry.second);
    data.clear();
  }
  ~Clipboard() { Release(); }
};

Clipboard& Board() {
  static Clipboard board;
  return board;
}
}  // namespace

BOOL OpenClipboard(HWND) {
  Clipboard& b = Board();
  std::lock_guard<std::mutex> guard(b.lock);
  if (b.open) return FALSE;
  b.open = true;
  return TRUE;
}

BOOL CloseClipboard() {
  Clipboard& b = Board();
  std::lock_guard<std::mutex> guard(b.lock);
  if (!b.open) return FALSE;
  b.open = false;
  return TRUE;
}

BOOL EmptyClipboard() {
  Clipboard& b = Board();
  std::lock_guard<std::mutex> guard(b.lock);
  if (!b.open) return FALSE;
  b.Release();
  return TRUE;
}

HANDLE SetClipboardData(UINT format, HANDLE data) {
  Clipboard& b = Board();
  std::lock_guard<std::mutex> guard(b.lock);
  if (!b.open || !data) return nullptr;
  auto it = b.data.find(format);
  if (it != b.data.end() && it->second != data && format == CF_BITMAP) DeleteObject(it->second);
  b.data[format] = data;
  return data;
}

HANDLE GetClipboardData(UINT format) {
  Clipboard& b = Board();
  std::lock_guard<std::mutex> guard(b.lock);
  if (!b.open) return nullptr;
  auto it = b.data.find(format);
  return it == b.data.end() ? nullptr : it->second;
}

BOOL IsClipboardFormatAvailable(UINT format) {
  Clipboard& b = Board();
  std::lock_guard<std::mutex> guard(b.lock);
  return b.data.count(format) ? TRUE : FALSE;
}
