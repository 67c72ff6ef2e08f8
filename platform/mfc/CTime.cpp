#include "platform/mfc/CTime.h"

#include <cstring>
#include <string>
#include <utility>

CTime::CTime(int year, int month, int day, int hour, int min, int sec, int nDST) {
  struct tm tm;
  std::memset(&tm, 0, sizeof tm);
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = min;
  tm.tm_sec = sec;
  tm.tm_isdst = nDST;
  m_time = mktime(&tm);
}

CTime CTime::GetCurrentTime() { return CTime(time(nullptr)); }

struct tm* CTime::GetLocalTm(struct tm* tm) const {
  if (localtime_r(&m_time, tm)) return tm;
  std::memset(tm, 0, sizeof *tm);
  return nullptr;
}

struct tm* CTime::GetGmtTm(struct tm* tm) const {
  if (gmtime_r(&m_time, tm)) return tm;
  std::memset(tm, 0, sizeof *tm);
  return nullptr;
}

struct tm CTime::Local() const {
  struct tm tm;
  GetLocalTm(&tm);
  return tm;
}

int CTime::GetYear() const { return Local().tm_year + 1900; }
int CTime::GetMonth() const { return Local().tm_mon + 1; }
int CTime::GetDay() const { return Local().tm_mday; }
int CTime::GetHour() const { return Local().tm_hour; }
int CTime::GetMinute() const { return Local().tm_min; }
int CTime::GetSecond() const { return Local().tm_sec; }
int CTime::GetDayOfWeek() const { return Local().tm_wday + 1; }

CString CTime::Format(const char* fmt) const {
  if (!fmt || !*fmt) return CString();
  struct tm tm = Local();
  // strftime returns 0 both for "too small" and for an empty result, so the
  // buffer grows a bounded number of times before giving up on empty.
  size_t limit = 256 + std::strlen(fmt) * 64;
  for (size_t size = 256; size <= limit; size *= 2) {
    std::string buf(size, '\0');
    size_t n = strftime(&buf[0], size, fmt, &tm);
    if (n > 0) {
      buf.resize(n);
      return CString(std::move(buf));
    }
  }
  return CString();
}
