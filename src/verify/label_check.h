// The volume label in every field of the image that carries it, against the label rules:
// ISO 9660 the first 31 characters with a-z raised, or NONE for a label beyond ISO-8859-1;
// Joliet the first 16 characters; UDF 30 bytes of characters in the Primary Volume
// Descriptor's volume identifier and the file set identifier, 126 in the logical volume
// identifiers of the Logical Volume and File Set Descriptors (8-bit characters when every
// character of the label fits, else 16-bit units); a surrogate pair is never cut.
#pragma once

#include <string>
#include <vector>

#include "reader/volume_labels.h"
#include "verify/planned_disc.h"

namespace vellumcast {

// The differences of the label fields of `found` from `naming.label`. Without a label
// (a comparison that was given none) the image is checked against the label its fullest
// field carries, so that every field must agree. Another tool's image is not checked, as
// its own rules for the fields apply.
// True when the image names this program in its ISO 9660 application identifier or its
// UDF implementation identifier.
bool WrittenByThisProgram(const VolumeLabels& found);

std::vector<std::string> LabelDifferences(const DiscNaming& naming, const VolumeLabels& found);

}  // namespace vellumcast
