// Small helpers shared by the POSIX platform files.
#pragma once

#include <time.h>

#include <cstdint>

namespace vr {

// Local time stamp as DOS date-time; 0 when the time is outside 1980-2107.
inline uint32_t UnixToDosTime(time_t t) {
  struct tm tm;
  if (!localtime_r(&t, &tm)) return 0;
  const int year = tm.tm_year + 1900;
  if (year < 1980 || year > 2107) return 0;
  return (static_cast<uint32_t>(year - 1980) << 25) | (static_cast<uint32_t>(tm.tm_mon + 1) << 21) |
         (static_cast<uint32_t>(tm.tm_mday) << 16) | (static_cast<uint32_t>(tm.tm_hour) << 11) |
         (static_cast<uint32_t>(tm.tm_min) << 5) | static_cast<uint32_t>(tm.tm_sec / 2);
}

// DOS date-time (local time) to a time stamp; false for impossible fields. The time zone is read once
// per process (localtime_r), not on every call as mktime does.
inline bool DosToUnixTime(uint32_t dos, time_t& out) {
  struct tm tm = {};
  tm.tm_year = static_cast<int>(dos >> 25) + 80;
  tm.tm_mon = static_cast<int>((dos >> 21) & 15) - 1;
  tm.tm_mday = static_cast<int>((dos >> 16) & 31);
  tm.tm_hour = static_cast<int>((dos >> 11) & 31);
  tm.tm_min = static_cast<int>((dos >> 5) & 63);
  tm.tm_sec = static_cast<int>(dos & 31) * 2;
  if (tm.tm_mon < 0 || tm.tm_mon > 11 || tm.tm_mday < 1 || tm.tm_hour > 23 || tm.tm_min > 59 ||
      tm.tm_sec > 59)
    return false;
  // The fields read as UTC, less the offset in force at the moment meant. That offset is the one at
  // the first guess unless a change of offset lies between the two: then the second guess's.
  const time_t wall = timegm(&tm);
  if (wall == static_cast<time_t>(-1)) return false;
  struct tm local;
  if (!localtime_r(&wall, &local)) return false;
  time_t t = wall - local.tm_gmtoff;
  if (!localtime_r(&t, &local)) return false;
  if (t + local.tm_gmtoff != wall) {
    const time_t other = wall - local.tm_gmtoff;
    struct tm check;
    if (localtime_r(&other, &check) && other + check.tm_gmtoff == wall) t = other;
  }
  out = t;
  return true;
}

}  // namespace vr
