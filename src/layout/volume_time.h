// The build's time in the three encodings the image uses: the UDF timestamp
// (ECMA-167 1/7.3), the ISO 9660 directory-record date (ECMA-119 9.1.5) and the
// ISO 9660 volume date (ECMA-119 8.4.26.1).
#pragma once

#include <cstdint>

namespace vellumcast {

// Each encoding records the calendar fields of `time` in the system's local time with its
// offset from UTC, or, with `utc`, in UTC with offset 0 (a build with a fixed time then
// does not depend on the machine's time zone). The ISO 9660 dates also fall back to UTC
// with offset 0 when the local offset lies outside their -12:00..+13:00.
void MakeUdfTimestamp(int64_t time, uint8_t out[12], bool utc = false);
// A time outside what the 7 bytes hold (1900-01-01 00:00:00 to 2155-12-31 23:59:59 in the
// fields' calendar) is recorded as the nearest of the two, in UTC.
void MakeIsoRecordDate(int64_t time, uint8_t out[7], bool utc = false);
// Whether MakeIsoRecordDate records `time` as it is.
bool IsoRecordDateHolds(int64_t time, bool utc = false);
// With `hasTime` false: sixteen '0' digits and a zero offset.
void MakeIsoVolumeDate(int64_t time, bool hasTime, uint8_t out[17], bool utc = false);

}  // namespace vellumcast
