#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/win/winnls.h"

namespace {
std::string LocaleName() {
  for (const char* var : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* v = std::getenv(var);
    if (v && *v) return v;
  }
  return {};
}

// The codeset part of a locale name ("zh_CN.GBK@x" -> "gbk"), lower-cased
// without '-' or '_' so "UTF-8" and "utf8" compare equal.
std::string Codeset(const std::string& locale) {
  size_t dot = locale.find('.');
  if (dot == std::string::npos) return {};
  std::string out;
  for (size_t i = dot + 1; i < locale.size() && locale[i] != '@'; ++i) {
    char c = locale[i];
    if (c == '-' || c == '_') continue;
    out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return out;
}
}  // namespace

UINT GetACP() {
  const std::string codeset = Codeset(LocaleName());
  if (codeset.empty()) return 1252;
  if (codeset == "utf8") return 65001;
  if (codeset == "gbk" || codeset == "gb2312" || codeset == "gb18030" || codeset == "euccn" ||
      codeset == "cp936")
    return 936;
  if (codeset == "big5" || codeset == "big5hkscs" || codeset == "cp950") return 950;
  if (codeset == "sjis" || codeset == "shiftjis" || codeset == "eucjp" || codeset == "cp932") return 932;
  if (codeset == "euckr" || codeset == "cp949") return 949;
  if (codeset == "tis620" || codeset == "cp874") return 874;
  if (codeset.compare(0, 2, "cp") == 0) {
    int page = std::atoi(codeset.c_str() + 2);
    if (page >= 1250 && page <= 1258) return static_cast<UINT>(page);
  }
  if (codeset.compare(0, 7, "iso8859") == 0) {
    int part = std::atoi(codeset.c_str() + 7);
    if (part >= 1 && part <= 16) return static_cast<UINT>(28590 + part);
  }
  return 1252;
}
