#include "platform/mfc/CFileDialog.h"

#include <algorithm>
#include <mutex>

namespace {
struct PendingAnswer {
  std::mutex lock;
  bool set = false;
  CString path;
};

PendingAnswer& Pending() {
  static PendingAnswer pending;
  return pending;
}

// Index of the first character of the file name in `path`.
int NameStart(const CString& path) { return std::max(path.ReverseFind('/'), path.ReverseFind('\\')) + 1; }
}  // namespace

CFileDialog::CFileDialog(BOOL bOpenFileDialog, LPCTSTR defExt, LPCTSTR fileName, DWORD flags, LPCTSTR filter,
                         CWnd* parent)
    : m_bOpenFileDialog(bOpenFileDialog),
      m_dwFlags(flags),
      m_strDefExt(defExt),
      m_strInitialName(fileName),
      m_strFilter(filter),
      m_pParentWnd(parent) {}

INT_PTR CFileDialog::DoModal() {
  PendingAnswer& pending = Pending();
  std::lock_guard<std::mutex> guard(pending.lock);
  if (!pending.set) return IDCANCEL;
  pending.set = false;
  m_strPathName = pending.path;
  pending.path.Empty();
  if (!m_strDefExt.IsEmpty() && !m_strPathName.IsEmpty() && GetFileName().Find('.') < 0)
    m_strPathName += "." + m_strDefExt;
  return IDOK;
}

CString CFileDialog::GetFileName() const { return m_strPathName.Mid(NameStart(m_strPathName)); }

CString CFileDialog::GetFileExt() const {
  const CString name = GetFileName();
  const int dot = name.ReverseFind('.');
  return dot < 0 ? CString() : name.Mid(dot + 1);
}

CString CFileDialog::GetFileTitle() const {
  const CString name = GetFileName();
  const int dot = name.ReverseFind('.');
  return dot < 0 ? name : name.Left(dot);
}

void CFileDialog::SetNextAnswer(const CString& path) {
  PendingAnswer& pending = Pending();
  std::lock_guard<std::mutex> guard(pending.lock);
  pending.set = true;
  pending.path = path;
}

void CFileDialog::ClearAnswer() {
  PendingAnswer& pending = Pending();
  std::lock_guard<std::mutex> guard(pending.lock);
  pending.set = false;
  pending.path.Empty();
}
