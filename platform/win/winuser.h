// A stand-in for the Windows clipboard, kept in this process. One opener at
// a time: OpenClipboard fails while the clipboard is open. Data set with
// SetClipboardData belongs to the clipboard until it is emptied; bitmaps are
// then deleted.
#pragma once

#include "platform/win/windef.h"

enum : UINT { CF_TEXT = 1, CF_BITMAP = 2, CF_DIB = 8 };

BOOL OpenClipboard(HWND owner);
BOOL CloseClipboard();
BOOL EmptyClipboard();
HANDLE SetClipboardData(UINT format, HANDLE data);
HANDLE GetClipboardData(UINT format);
BOOL IsClipboardFormatAvailable(UINT format);

// Dialog results.
enum : int { IDOK = 1, IDCANCEL = 2 };
