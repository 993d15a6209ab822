// The fields of ECMA-119 directory records that readers use besides the name: the "."
// and ".." records of each directory, a record's flags, its version and padding, and
// the Rock Ridge PX and TF entries of its System Use field.
#pragma once

#include <cstdint>

#include "reader/ecma119_records.h"
#include "reader/image_tree.h"
#include "reader/susp_entries.h"

namespace vellumcast {

// What is wrong with a directory's first (index 0, ".") or second (index 1, "..")
// record, which must name the directory itself or its parent: identifier, extent and
// data length of that directory, directory flag alone, no interleaving, no extended
// attribute record (ECMA-119 6.8.2.2, 9.1). Null when the record is right.
const char* DotRecordProblem(const IsoDirectoryRecord& r, uint32_t index, uint32_t extent,
                             uint32_t length);

// The fields of an entry's record: flags; for a file of the ISO 9660 names (`plain`),
// whether its identifier ends in the version ";1" with a zero padding byte; with
// `rr`, the PX and TF entries.
void FillIsoRecordFields(const IsoDirectoryRecord& r, bool directory, bool plain,
                         const SuspFindings* rr, ImageRecordFields& out);

}  // namespace vellumcast
