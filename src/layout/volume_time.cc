// The build's time in the UDF timestamp (ECMA-167 1/7.3), the ISO 9660 directory-record
// date (ECMA-119 9.1.5) and the ISO 9660 volume date (ECMA-119 8.4.26.1), in the
// system's local time with its offset from UTC, or in UTC for a build with a fixed time.
#include "layout/volume_time.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace vellumcast {
namespace {

// The local calendar fields of one time and their offset from UTC in seconds.
struct LocalTime {
  int year;   // full year, e.g. 2024
  int month;  // 1-12
  int day, hour, minute, second;
  int64_t offsetSeconds;
};

// Days from 1970-01-01 to the given proleptic Gregorian date.
int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  int64_t era = (y >= 0 ? y : y - 399) / 400;
  int64_t yoe = y - era * 400;
  int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

// False when the time has no UTC or local calendar fields on this system.
//
// The offset is the local calendar time read as if it were UTC, minus the time itself,
// so it always matches the calendar fields that are written next to it: in summer in a
// zone with daylight saving time the fields carry the summer time and the offset the
// summer offset (reading the UTC fields as a standard-time local time would give the
// winter offset and misplace the time by the DST shift).
//
// With `inUtc` the fields are those of UTC and the offset is 0.
bool ToLocalTime(int64_t time, LocalTime& out, bool inUtc) {
  time_t t = static_cast<time_t>(time);
  if (static_cast<int64_t>(t) != time) return false;
  std::tm utc{}, local{};
  if (!gmtime_r(&t, &utc)) return false;
  if (inUtc) {
    local = utc;
  } else if (!localtime_r(&t, &local)) {
    return false;
  }
  int64_t localAsUtc =
      DaysFromCivil(int64_t(local.tm_year) + 1900, local.tm_mon + 1, local.tm_mday) * 86400 +
      local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
  out.year = local.tm_year + 1900;
  out.month = local.tm_mon + 1;
  out.day = local.tm_mday;
  out.hour = local.tm_hour;
  out.minute = local.tm_min;
  out.second = local.tm_sec;
  out.offsetSeconds = localAsUtc - time;
  return true;
}

// Offset in whole units of `unitSeconds`, truncated toward zero.
int OffsetUnits(int64_t offsetSeconds, int unitSeconds) {
  return static_cast<int>(std::trunc(static_cast<double>(offsetSeconds) / unitSeconds));
}

// UDF: Type and Time Zone, type 1 (local time) and time zone 0xFFF (not specified).
constexpr uint16_t kUdfTimeUnknown = 0x1FFF;
constexpr uint16_t kUdfTypeLocal = 0x1000;

// ECMA-167 1/7.3: a UDF time zone holds -1440..+1440 minutes, every offset in use.
constexpr int kUdfMinOffsetMinutes = -1440;
constexpr int kUdfMaxOffsetMinutes = 1440;
// ECMA-119 8.4.26.1 and 9.1.5: an ISO 9660 offset holds -48..+52 quarter hours
// (-12:00..+13:00); zones further east (Kiritimati +14:00, Chatham summer time +13:45)
// are recorded in UTC with offset 0, the same instant.
constexpr int kIsoMinOffsetQuarters = -48;
constexpr int kIsoMaxOffsetQuarters = 52;
// ECMA-119 9.1.5: the year is one byte counted from 1900.
constexpr int kIsoFirstYear = 1900;
constexpr int kIsoLastYear = 1900 + 255;

// The calendar fields of a date and their offset in whole units of `unitSeconds`: local
// time when its offset is a whole number of units within [minUnits, maxUnits], else UTC
// with offset 0. An offset the field cannot hold exactly (a zone beyond the field's
// range, or an old local-mean-time offset such as -0:44:30) would otherwise name another
// instant; UTC names the same one.
bool ToFieldTime(int64_t time, LocalTime& out, int& units, bool inUtc, int unitSeconds,
                 int minUnits, int maxUnits) {
  if (!ToLocalTime(time, out, inUtc)) return false;
  units = OffsetUnits(out.offsetSeconds, unitSeconds);
  if (out.offsetSeconds % unitSeconds == 0 && units >= minUnits && units <= maxUnits) return true;
  units = 0;
  return ToLocalTime(time, out, true);
}

bool ToIsoTime(int64_t time, LocalTime& out, int& quarters, bool inUtc) {
  return ToFieldTime(time, out, quarters, inUtc, 900, kIsoMinOffsetQuarters, kIsoMaxOffsetQuarters);
}

}  // namespace

void MakeUdfTimestamp(int64_t time, uint8_t out[12], bool utc) {
  std::memset(out, 0, 12);
  LocalTime lt;
  int minutes = 0;
  bool converted =
      ToFieldTime(time, lt, minutes, utc, 60, kUdfMinOffsetMinutes, kUdfMaxOffsetMinutes);
  // ECMA-167 1/7.3: Year 1 to 9999.
  if (!converted || lt.year < 1 || lt.year > 9999) {
    out[0] = uint8_t(kUdfTimeUnknown);
    out[1] = uint8_t(kUdfTimeUnknown >> 8);
    return;
  }
  uint16_t typeAndZone = kUdfTypeLocal | (static_cast<uint16_t>(minutes) & 0x0FFF);
  out[0] = uint8_t(typeAndZone);
  out[1] = uint8_t(typeAndZone >> 8);
  out[2] = uint8_t(lt.year);
  out[3] = uint8_t(lt.year >> 8);
  out[4] = uint8_t(lt.month);
  out[5] = uint8_t(lt.day);
  out[6] = uint8_t(lt.hour);
  out[7] = uint8_t(lt.minute);
  out[8] = uint8_t(lt.second);
  // Centiseconds, hundreds of microseconds and microseconds stay 0.
}

bool IsoRecordDateHolds(int64_t time, bool utc) {
  LocalTime lt;
  int quarters = 0;
  return ToIsoTime(time, lt, quarters, utc) && lt.year >= kIsoFirstYear && lt.year <= kIsoLastYear;
}

void MakeIsoRecordDate(int64_t time, uint8_t out[7], bool utc) {
  std::memset(out, 0, 7);
  LocalTime lt;
  int quarters = 0;
  if (!ToIsoTime(time, lt, quarters, utc) || lt.year < kIsoFirstYear || lt.year > kIsoLastYear) {
    // The nearest date the field holds, in UTC: all zeros would read as "not specified".
    lt = time > 0 ? LocalTime{kIsoLastYear, 12, 31, 23, 59, 59, 0}
                  : LocalTime{kIsoFirstYear, 1, 1, 0, 0, 0, 0};
    quarters = 0;
  }
  out[0] = uint8_t(lt.year - kIsoFirstYear);
  out[1] = uint8_t(lt.month);
  out[2] = uint8_t(lt.day);
  out[3] = uint8_t(lt.hour);
  out[4] = uint8_t(lt.minute);
  out[5] = uint8_t(lt.second);
  out[6] = static_cast<uint8_t>(static_cast<int8_t>(quarters));
}

void MakeIsoVolumeDate(int64_t time, bool hasTime, uint8_t out[17], bool utc) {
  std::memset(out, '0', 16);
  out[16] = 0;
  LocalTime lt;
  int quarters = 0;
  if (!hasTime || !ToIsoTime(time, lt, quarters, utc)) return;
  // Four digits of year: 0001-9999; anything else stays "not specified".
  if (lt.year < 1 || lt.year > 9999) return;
  char text[32];
  std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d%02d", lt.year, lt.month, lt.day,
                lt.hour, lt.minute, lt.second, 0);
  std::memcpy(out, text, 16);
  out[16] = static_cast<uint8_t>(static_cast<int8_t>(quarters));
}

}  // namespace vellumcast
