// What a UDF File Entry (ECMA-167 4/14.9, 4/14.17) says of its file besides where its
// bytes lie: the record fields readers show, the POSIX file type, a symbolic link's text.
#pragma once

#include <cstdint>

#include "reader/udf_volume.h"

namespace vellumcast {

// The fields readers use of an entry: its FID's characteristics and its File Entry's
// type, owner, permissions, link count and modification time.
void FillUdfRecordFields(const UdfFileEntry& entry, uint8_t characteristics,
                         ImageRecordFields& out);

// The POSIX file type of a file's ICB file type (ECMA-167 4/14.6.6); 0 for a type a
// file entry of a directory's file cannot have.
uint32_t PosixTypeOf(uint8_t fileType);

// A symbolic link's text (ECMA-167 4/14.16 path components, embedded or in one extent)
// into `e.linkTarget`; false with `why` set.
[[nodiscard]] bool ReadLinkTarget(UdfVolume& volume, const UdfAllocation& icb,
                                  const UdfFileEntry& file, ImageEntry& e, ReadProblem& why);

}  // namespace vellumcast
