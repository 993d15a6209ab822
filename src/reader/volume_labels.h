// Every field of an image that carries the volume label, and who wrote the image: the
// ISO 9660 Primary and Joliet Supplementary Volume Descriptors' volume identifiers
// (ECMA-119 8.4.6, 8.5.6), the UDF Primary Volume Descriptor's volume identifier
// (ECMA-167 3/10.1.4), the Logical Volume Descriptor's logical volume identifier
// (3/10.6.4) and the File Set Descriptor's logical volume and file set identifiers
// (4/14.1.9, 4/14.1.11).
#pragma once

#include <string>

#include "reader/image_source.h"

namespace vellumcast {

// One label field as a reader shows it (UTF-8; ISO 9660 and Joliet without their blank
// padding); `present` false when the image has no such field or it cannot be read.
struct LabelField {
  bool present = false;
  std::string text;
};

struct VolumeLabels {
  LabelField isoVolume, jolietVolume;
  LabelField udfVolume, udfLogicalVolume, fileSetLogicalVolume, fileSet;
  // The ISO 9660 application identifier (8.4.32) and the UDF implementation identifier
  // of the Logical Volume Descriptor (3/10.6.9), for telling whose image it is.
  std::string isoApplication, udfImplementation;
};

// Reads every label field the image has; damage is reported by the tree reads, not here.
VolumeLabels ReadVolumeLabels(ImageSource& image);

}  // namespace vellumcast
