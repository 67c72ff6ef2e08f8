#include "platform/vtcore/CVtToolkit.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/posix/PathCase.h"
#include "platform/win/winnls.h"

void CVtToolkit::SplitPath(const CString& path, CString& drive, CString& dir, CString& name, CString& ext) {
  const std::string& s = path.str();
  size_t start = 0;
  drive.Empty();
  if (s.size() >= 2 && s[1] == ':' && std::isalpha(static_cast<unsigned char>(s[0]))) {
    drive = CString(s.substr(0, 2));
    start = 2;
  }
  size_t sep = s.find_last_of("/\\");
  size_t nameStart = (sep == std::string::npos || sep < start) ? start : sep + 1;
  dir = CString(s.substr(start, nameStart - start));
  size_t dot = s.rfind('.');
  if (dot == std::string::npos || dot < nameStart) dot = s.size();
  name = CString(s.substr(nameStart, dot - nameStart));
  ext = CString(s.substr(dot));
}

CString CVtToolkit::ChangeExtName(const CString& path, const CString& ext) {
  CString drive, dir, name, oldExt;
  SplitPath(path, drive, dir, name, oldExt);
  return drive + dir + name + ext;
}

double CVtToolkit::FLIP8(double value) {
  unsigned char bytes[8];
  std::memcpy(bytes, &value, 8);
  std::reverse(bytes, bytes + 8);
  double out;
  std::memcpy(&out, bytes, 8);
  return out;
}

int CVtToolkit::IsFileExisted(CString path) {
  if (path.IsEmpty()) return 0;
  struct stat st;
  if (stat(VtResolvePathCase(path.str()).c_str(), &st) != 0) return 0;
  return S_ISDIR(st.st_mode) ? 0 : 1;
}

unsigned char CVtToolkit::GetCharset() {
  switch (GetACP()) {
    case 874:
      return 222;  // Thai
    case 932:
      return 128;  // Shift-JIS
    case 936:
      return 134;  // GB2312
    case 949:
      return 129;  // Hangul
    case 950:
      return 136;  // Big5
    case 1250:
      return 238;  // Eastern Europe
    case 1251:
      return 204;  // Russian
    case 1253:
      return 161;  // Greek
    case 1254:
      return 162;  // Turkish
    case 1255:
      return 177;  // Hebrew
    case 1256:
      return 178;  // Arabic
    case 1257:
      return 186;  // Baltic
    case 1258:
      return 163;  // Vietnamese
    default:
      return 1;  // the default character set
  }
}
