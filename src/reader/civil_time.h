// Calendar dates of the on-disc time stamps as seconds since 1970-01-01 UTC.
#pragma once

#include <cstdint>

namespace vellumcast {

// Days from 1970-01-01 to year-month-day of the proleptic Gregorian calendar.
constexpr int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day) {
  year -= month <= 2 ? 1 : 0;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yoe = year - era * 400;
  const int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

// The UTC second of a local time `offsetMinutes` east of UTC.
constexpr int64_t CivilSeconds(int64_t year, int64_t month, int64_t day, int64_t hour,
                               int64_t minute, int64_t second, int64_t offsetMinutes) {
  return DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second -
         offsetMinutes * 60;
}

}  // namespace vellumcast
