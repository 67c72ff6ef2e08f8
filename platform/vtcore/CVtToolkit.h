// Path, number and character-set statics of the core toolkit.
#pragma once

#include "platform/mfc/CString.h"

class CVtToolkit {
 public:
  // `path` with the extension of its file name replaced by `ext` (which
  // carries its leading "."), or `ext` appended when the name has none.
  // Dots in directory names are left alone.
  static CString ChangeExtName(const CString& path, const CString& ext);
  // Splits `path` so that drive + dir is the file's directory ending in its
  // separator ("/" or "\\"), name is the file name without extension and ext
  // the extension with its ".". drive is "X:" for Windows drive paths, else empty.
  static void SplitPath(const CString& path, CString& drive, CString& dir, CString& name, CString& ext);
  // The value with its eight bytes in reverse order.
  static double FLIP8(double value);
  // Non-zero when a file (not a directory) of that name exists; the name is
  // matched ignoring case when the exact one does not exist.
  static int IsFileExisted(CString path);
  // The process's character-set code (Windows GDI numbering) from its code page.
  static unsigned char GetCharset();
};
