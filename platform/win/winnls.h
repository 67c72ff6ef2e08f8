// The process's ANSI code page, as Windows reports it.
#pragma once

#include "platform/win/windef.h"

// The code page that the locale's character set corresponds to, read from the
// environment as setlocale would (LC_ALL, then LC_CTYPE, then LANG): 936 for
// GBK/GB2312/GB18030, 950 for Big5, 932 for Shift-JIS/EUC-JP, 949 for
// EUC-KR, 874 for TIS-620, 125x for CP125x, 28591.. for ISO-8859-x, 65001 for
// UTF-8, and 1252 when nothing is set or the set is unknown.
UINT GetACP();
