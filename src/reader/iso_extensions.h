// Which extensions of ECMA-119 an image carries, found from their own marks: Rock Ridge
// by the SUSP "SP" entry at the start of the System Use field of the root's first record
// (SUSP 5.3) and an RRIP "ER" entry (the walk of the names checks it), Joliet by a
// Supplementary Volume Descriptor with a Joliet escape sequence.
#pragma once

#include "reader/image_source.h"

namespace vellumcast {

struct IsoExtensions {
  bool rockRidge = false;
  bool joliet = false;
};

IsoExtensions FindIsoExtensions(ImageSource& image);

}  // namespace vellumcast
