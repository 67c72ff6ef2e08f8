#include "platform/vtcore/CVtErrorMsg.h"

#include "platform/mfc/CException.h"

namespace {
struct MessageText {
  unsigned code;
  const char* text;
};

const MessageText kMessages[] = {
    {CVtErrorMsg::MSG_CANNOT_OPEN, "Cannot open the file \"%s\"."},
    {CVtErrorMsg::MSG_FILE_MISSING, "The file \"%s\" does not exist or cannot be read."},
    {CVtErrorMsg::MSG_IDRISI_TITLE, "The IDRISI documentation file has no valid file title line."},
    {CVtErrorMsg::MSG_IDRISI_DATA_TYPE,
     "The IDRISI documentation file has no valid data type line, or its data type is not supported."},
    {CVtErrorMsg::MSG_IDRISI_SIZE, "The IDRISI documentation file has no valid columns or rows line."},
    {CVtErrorMsg::MSG_IDRISI_RANGE,
     "The IDRISI documentation file has no valid coordinate or value range line."},
};

// Puts `argument` where the text has "%s"; appends it when the text has none.
CString Fill(const CString& text, const CString& argument) {
  CString out = text;
  int at = out.Find("%s");
  if (at >= 0) {
    out.Delete(at, 2);
    out.Insert(at, argument);
  } else if (!argument.IsEmpty()) {
    out += " (";
    out += argument;
    out += ")";
  }
  return out;
}
}  // namespace

CString CVtErrorMsg::GetMessageText(unsigned code) {
  for (const MessageText& m : kMessages)
    if (m.code == code) return CString(m.text);
  CString text;
  text.Format("Error %u.", code);
  return text;
}

void CVtErrorMsg::FormatMessage(unsigned code, CString argument) {
  m_bSet = true;
  m_nCode = static_cast<long>(code);
  m_strText = Fill(GetMessageText(code), argument);
}

void CVtErrorMsg::SetMessage(unsigned code, int /*severity*/, const CString& text) {
  m_bSet = true;
  m_nCode = static_cast<long>(code);
  m_strText = Fill(GetMessageText(code), text);
}

void CVtErrorMsg::SetMessage(long code, const CString& text) {
  m_bSet = true;
  m_nCode = code;
  m_strText = text;
}

void CVtErrorMsg::CatchException(CException* e) {
  if (!e) return;
  SetMessage(0L, CString(e->what()));
}

void CVtErrorMsg::CatchFileException(CFileException* e) { CatchException(e); }

void CVtErrorMsg::Clear() {
  m_bSet = false;
  m_nCode = 0;
  m_strText.Empty();
}

// One per thread: readers of different files may run at once, and each
// reports its own failure.
CVtErrorMsg* VtGetErrorMsgObj() {
  static thread_local CVtErrorMsg object;
  return &object;
}
