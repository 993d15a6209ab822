// The file systems an image carries, found without walking their trees.
#pragma once

#include <cstdint>
#include <string>

#include "reader/image_source.h"

namespace vellumcast {

struct ImageFileSystems {
  bool iso9660 = false;      // ECMA-119 volume descriptors from sector 16
  bool udf = false;          // a UDF logical volume through an anchor
  uint16_t udfRevision = 0;  // its domain revision: 0x0102, 0x0250, ...
  // A UDF volume that cannot be read: the anchor's block size when it is not 2048 bytes,
  // else the first problem of its volume structures ("" when there is no anchor).
  uint32_t udfBlockSize = 0;
  std::string udfProblem;
  bool udfUnreadable = false;  // an anchor is there, but not a volume this reader reads

  // What the image carries that cannot be read (when `udfUnreadable`), for a message:
  // "UDF of 512-byte blocks is not supported".
  std::string UnreadableUdf() const;
};

// Looks for ISO 9660 and UDF; problems are not reported here (the tree reads do).
ImageFileSystems SurveyImage(ImageSource& image);

// The sectors the recorded volume spans, from its own descriptors, for a source whose end
// need not be the volume's (a block device): the ISO 9660 volume space size, or for UDF
// alone the sector after its closing anchor: the first anchor after the partitions that
// points where the anchor at 256 does (or the one 256 sectors after it), so that a stale
// anchor of an earlier, larger image is passed over. 0 when the descriptors do not say.
uint64_t RecordedSectors(ImageSource& image);

// "UDF 1.02" for 0x0102, "UDF 2.50" for 0x0250.
std::string UdfRevisionName(uint16_t revision);

}  // namespace vellumcast
