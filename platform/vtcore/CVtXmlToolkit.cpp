#include "platform/vtcore/CVtXmlToolkit.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/vtcore/VtNumber.h"
#include "platform/win/winnls.h"

CVtXmlToolkit::~CVtXmlToolkit() = default;

CString CVtXmlToolkit::EncodingName(int charset) {
  switch (charset) {
    case 1: {
      // The default character set is the process's code page.
      UINT page = GetACP();
      if (page == 65001) return "UTF-8";
      if (page == 936) return "GB2312";
      if (page == 950) return "Big5";
      if (page == 932) return "Shift_JIS";
      if (page == 949) return "CP949";
      if (page > 28590 && page <= 28606) return CString(("ISO-8859-" + std::to_string(page - 28590)).c_str());
      if (page == 874) return "windows-874";
      return CString(("windows-" + std::to_string(page)).c_str());
    }
    case 77:
    case 255:
      return "macintosh";
    case 128:
      return "Shift_JIS";
    case 129:
      return "CP949";
    case 130:
      return "JOHAB";
    case 134:
      return "GB2312";
    case 136:
      return "Big5";
    case 161:
      return "windows-1253";
    case 162:
      return "windows-1254";
    case 163:
      return "windows-1258";
    case 177:
      return "windows-1255";
    case 178:
      return "windows-1256";
    case 186:
      return "windows-1257";
    case 204:
      return "windows-1251";
    case 222:
      return "windows-874";
    case 238:
      return "windows-1250";
    // Text is written as the caller's bytes, which cannot be UCS-2: the
    // Unicode codes declare UTF-8.
    case 65536:
    case 65537:
    case 65538:
      return "UTF-8";
    default:
      return "windows-1252";
  }
}

CString CVtXmlToolkit::GetXmlHeader(int charset) {
  CString header("<?xml version=\"1.0\" encoding=\"");
  header += EncodingName(charset);
  header += "\"?>\n";
  return header;
}

CString CVtXmlToolkit::BoundsToGML3(const CRect2D& bounds, int depth) {
  std::string pad(depth > 0 ? static_cast<size_t>(depth) * 3 : 0, ' ');
  std::string text = pad + "<gml:boundedBy><gml:Envelope><gml:lowerCorner>" + vtnum::Coordinate(bounds.left) + " " +
                     vtnum::Coordinate(bounds.bottom) + "</gml:lowerCorner><gml:upperCorner>" +
                     vtnum::Coordinate(bounds.right) + " " + vtnum::Coordinate(bounds.top) +
                     "</gml:upperCorner></gml:Envelope></gml:boundedBy>\n";
  return CString(text);
}

namespace {

// XML Schema's spelling of the special values.
std::string RealText(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  return vtnum::Shortest(value);
}

std::string CurrencyText(int64_t units) {
  uint64_t magnitude = units < 0 ? 0 - static_cast<uint64_t>(units) : static_cast<uint64_t>(units);
  std::string text = (units < 0 ? "-" : "") + std::to_string(magnitude / 10000);
  unsigned fraction = static_cast<unsigned>(magnitude % 10000);
  if (fraction) {
    char digits[8];
    std::snprintf(digits, sizeof digits, ".%04u", fraction);
    std::string f(digits);
    while (f.back() == '0') f.pop_back();
    text += f;
  }
  return text;
}

// Days since 1970-01-01 to a civil date (proleptic Gregorian).
void CivilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  if (m <= 2) ++y;
}

std::string DateText(double oleDate) {
  // OLE dates run from year 100 to 9999; outside that, and for NaN, the
  // number itself is the most honest text.
  if (!(oleDate >= -657434.0 && oleDate < 2958466.0)) return RealText(oleDate);
  // The whole part counts days from 1899-12-30; the fraction is the time of
  // day, also for dates before then (-1.25 is 1899-12-29 06:00).
  double whole = std::trunc(oleDate);
  int64_t seconds = static_cast<int64_t>(std::llround(std::fabs(oleDate - whole) * 86400.0));
  int64_t days = static_cast<int64_t>(whole) - 25569;  // 1899-12-30 to 1970-01-01
  if (seconds >= 86400) {
    seconds -= 86400;
    days += oleDate < 0 ? -1 : 1;
  }
  int64_t y;
  unsigned m, d;
  CivilFromDays(days, y, m, d);
  char text[40];
  if (seconds == 0) {
    std::snprintf(text, sizeof text, "%04lld-%02u-%02u", static_cast<long long>(y), m, d);
  } else {
    std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02u:%02u:%02u", static_cast<long long>(y), m, d,
                  static_cast<unsigned>(seconds / 3600), static_cast<unsigned>(seconds / 60 % 60),
                  static_cast<unsigned>(seconds % 60));
  }
  return text;
}

}  // namespace

CString CVtXmlToolkit::ToString(const COleVariant& value) {
  switch (value.vt) {
    case VT_I1:
      return CString(std::to_string(value.cVal));
    case VT_UI1:
      return CString(std::to_string(value.bVal));
    case VT_I2:
      return CString(std::to_string(value.iVal));
    case VT_UI2:
      return CString(std::to_string(value.uiVal));
    case VT_I4:
      return CString(std::to_string(value.lVal));
    case VT_UI4:
      return CString(std::to_string(value.ulVal));
    case VT_I8:
      return CString(std::to_string(value.llVal));
    case VT_UI8:
      return CString(std::to_string(value.ullVal));
    case VT_R4:
      if (std::isnan(value.fltVal) || std::isinf(value.fltVal)) return CString(RealText(value.fltVal));
      return CString(vtnum::Shortest(value.fltVal));
    case VT_R8:
      return CString(RealText(value.dblVal));
    case VT_CY:
      return CString(CurrencyText(value.cyVal.int64));
    case VT_DATE:
      return CString(DateText(value.date));
    case VT_BOOL:
      return value.boolVal ? "true" : "false";
    case VT_BSTR:
      return value.strVal;
    default:
      return CString();
  }
}

int CVtXmlToolkit::ToInt32(const CString& text) {
  const char* p = text.GetString();
  while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\f' || *p == '\v') ++p;
  bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  int64_t magnitude = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    if (magnitude <= 2147483648LL) magnitude = magnitude * 10 + (*p - '0');
  }
  if (negative) return magnitude >= 2147483648LL ? INT32_MIN : static_cast<int>(-magnitude);
  return magnitude > 2147483647LL ? INT32_MAX : static_cast<int>(magnitude);
}
