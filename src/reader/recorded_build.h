// What an image records of the build that made it, so that a comparison with its folder
// needs no switch repeated: the build time with its offset from UTC, and the ISO 9660
// extensions written.
#pragma once

#include <cstdint>

#include "reader/image_source.h"

namespace vellumcast {

struct RecordedBuild {
  bool haveTime = false;
  int64_t time = 0;           // seconds since 1970 UTC
  int32_t offsetMinutes = 0;  // the offset from UTC the time was recorded in
  bool rockRidge = false;     // the ISO 9660 tree carries Rock Ridge entries
  bool joliet = false;        // a Joliet tree
};

// The ISO 9660 volume creation date (ECMA-119 8.4.26), else the UDF Primary Volume
// Descriptor's recording time (ECMA-167 3/10.1.18); the extensions found by their SUSP
// SP and ER entries and the Joliet escape sequences.
RecordedBuild ReadRecordedBuild(ImageSource& image);

}  // namespace vellumcast
