// MFC's CFileDialog without a window: nothing is shown. The answer the user
// would give is set beforehand with SetNextAnswer; the next DoModal takes it
// and reports IDOK, or reports IDCANCEL when none is pending.
#pragma once

#include <cstdint>

#include "platform/mfc/CString.h"
#include "platform/win/windef.h"
#include "platform/win/winuser.h"

class CWnd;

#ifndef OFN_OVERWRITEPROMPT
#define OFN_OVERWRITEPROMPT 0x00000002
#endif
#ifndef OFN_HIDEREADONLY
#define OFN_HIDEREADONLY 0x00000004
#endif

class CFileDialog {
 public:
  // `defExt` (without its dot) is appended to an answer whose file name has
  // no extension, as the common dialog does. The other arguments only
  // describe the dialog and are kept for the caller.
  explicit CFileDialog(BOOL bOpenFileDialog, LPCTSTR defExt = nullptr, LPCTSTR fileName = nullptr,
                       DWORD flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, LPCTSTR filter = nullptr,
                       CWnd* parent = nullptr);
  virtual ~CFileDialog() = default;

  // Takes the pending answer: IDOK with the path set, or IDCANCEL.
  virtual INT_PTR DoModal();

  CString GetPathName() const { return m_strPathName; }  // the whole path
  CString GetFileName() const;                           // name with extension
  CString GetFileExt() const;                            // extension without its dot
  CString GetFileTitle() const;                          // name without extension

  // The answer of the next DoModal in this process; it is used once.
  static void SetNextAnswer(const CString& path);
  // Drops a pending answer: the next DoModal is cancelled.
  static void ClearAnswer();

  BOOL m_bOpenFileDialog;
  DWORD m_dwFlags;
  CString m_strDefExt;
  CString m_strInitialName;
  CString m_strFilter;
  CWnd* m_pParentWnd;

 private:
  CString m_strPathName;
};
