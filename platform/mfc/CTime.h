// Calendar time in seconds since 1970 UTC (64-bit time_t), read back in
// local time like MFC's CTime. Differences are plain seconds.
#pragma once

#include <ctime>

#include "platform/mfc/CString.h"
#include "platform/win/windef.h"

static_assert(sizeof(time_t) == 8, "CTime needs a 64-bit time_t");

// A time difference in seconds.
typedef LONGLONG CTimeSpan;

class CTime {
 public:
  CTime() = default;
  CTime(time_t t) : m_time(t) {}
  // Local time through mktime; nDST is tm_isdst (-1: let the C library
  // decide). Out-of-range fields are normalised by mktime.
  CTime(int year, int month, int day, int hour, int min, int sec, int nDST = -1);

  static CTime GetCurrentTime();

  time_t GetTime() const { return m_time; }
  // Broken-down local / UTC time; returns tm, or nullptr if the time cannot
  // be represented (tm is then zeroed).
  struct tm* GetLocalTm(struct tm* tm) const;
  struct tm* GetGmtTm(struct tm* tm) const;

  int GetYear() const;
  int GetMonth() const;  // 1..12
  int GetDay() const;    // 1..31
  int GetHour() const;
  int GetMinute() const;
  int GetSecond() const;
  int GetDayOfWeek() const;  // 1 = Sunday .. 7 = Saturday

  // strftime on the local time.
  CString Format(const char* fmt) const;

  CTimeSpan operator-(const CTime& other) const { return static_cast<CTimeSpan>(m_time - other.m_time); }
  CTime operator+(CTimeSpan span) const { return CTime(m_time + span); }
  CTime operator-(CTimeSpan span) const { return CTime(m_time - span); }
  CTime& operator+=(CTimeSpan span) {
    m_time += span;
    return *this;
  }
  CTime& operator-=(CTimeSpan span) {
    m_time -= span;
    return *this;
  }

  bool operator==(const CTime& o) const { return m_time == o.m_time; }
  bool operator!=(const CTime& o) const { return m_time != o.m_time; }
  bool operator<(const CTime& o) const { return m_time < o.m_time; }
  bool operator>(const CTime& o) const { return m_time > o.m_time; }
  bool operator<=(const CTime& o) const { return m_time <= o.m_time; }
  bool operator>=(const CTime& o) const { return m_time >= o.m_time; }

 private:
  struct tm Local() const;

  time_t m_time = 0;
};
