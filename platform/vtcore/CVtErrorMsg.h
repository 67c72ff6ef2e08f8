// The per-thread error-message object: drivers record why an operation
// failed here before returning their failure code; the caller reads the code
// and text afterwards. The last message recorded wins; there is no locking.
#pragma once

#include "platform/mfc/CString.h"

class CException;
class CFileException;

class CVtErrorMsg {
 public:
  // Message numbers with texts of their own.
  enum : unsigned {
    MSG_CANNOT_OPEN = 31332,   // argument: path
    MSG_FILE_MISSING = 31334,  // argument: path
    MSG_IDRISI_TITLE = 31343,
    MSG_IDRISI_DATA_TYPE = 31344,
    MSG_IDRISI_SIZE = 31345,
    MSG_IDRISI_RANGE = 31346,
  };

  // Records message `code` with its text, `argument` filled in (a path).
  void FormatMessage(unsigned code, CString argument);
  // Records message `code`; `text` adds detail to the message's own text.
  void SetMessage(unsigned code, int severity, const CString& text);
  // Records a literal text under `code` (0 for messages that have no number).
  void SetMessage(long code, const CString& text);
  // Records the text of an exception of the file layer, under code 0.
  void CatchException(CException* e);
  void CatchFileException(CFileException* e);

  void Clear();
  bool HasMessage() const { return m_bSet; }
  long GetCode() const { return m_nCode; }
  const CString& GetMessage() const { return m_strText; }

  // The text of message `code` with "%s" where its argument goes; a generic
  // text for numbers without one.
  static CString GetMessageText(unsigned code);

 private:
  bool m_bSet = false;
  long m_nCode = 0;
  CString m_strText;
};

// The error-message object of the calling thread.
CVtErrorMsg* VtGetErrorMsgObj();
