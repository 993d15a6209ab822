// The volume descriptor fields readers show or rely on, checked byte by byte: the
// ECMA-119 Primary and Joliet Supplementary Volume Descriptors (their fixed values,
// zero fields, both-byte-order copies, dates and identifier character sets) and the
// ECMA-167 Volume Recognition Sequence (BEA01, NSR02/NSR03, TEA01).
#pragma once

#include <string>
#include <vector>

#include "reader/image_source.h"

namespace vellumcast {

// What the check knows of the image: whether this program wrote it (it then writes a
// Supplementary Volume Descriptor only for Joliet) and whether UDF is expected.
struct DescriptorExpectations {
  bool ours = false;
  bool udf = false;
};

// One line per field that breaks its rule, naming the descriptor's sector.
std::vector<std::string> DescriptorDifferences(ImageSource& image,
                                               const DescriptorExpectations& expected);

}  // namespace vellumcast
