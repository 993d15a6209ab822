// Capacities of the common recordable media in 2048-byte sectors (user data of a
// Mode 1 / Form 1 CD sector, a DVD sector, a BD sector), with their arithmetic, and the
// largest medium each combination of file systems is meant for. Where two kinds of
// blank share a name (DVD-R / DVD+R) the smaller capacity is taken, so that "fits"
// holds for either.
#pragma once

#include <cstdint>

#include "base/disc_constants.h"
#include "base/image_settings.h"

namespace vellumcast {

struct Medium {
  const char* name;
  uint32_t sectors;
};

// CD-R 80 minutes ("700 MB"): the lead-out of common 80-minute blanks starts at
// 79:59:71 (ATIP), i.e. (79 x 60 + 59) x 75 + 71 = 359,996 frames of 1/75 s, less the
// 150 frames (2 s) of the first track's pre-gap: 359,846 sectors = 736,964,608 bytes.
constexpr uint32_t kCdSectors = (79 * 60 + 59) * 75 + 71 - 150;
static_assert(kCdSectors == 359846);

// DVD-5, single layer: DVD+R 2,295,104 sectors = 4,700,372,992 bytes (DVD-R holds
// 2,298,496 sectors = 4,707,319,808 bytes).
constexpr uint32_t kDvd5Sectors = 2295104;
static_assert(uint64_t(kDvd5Sectors) * kSectorSize == 4700372992u);

// DVD-9, dual layer: DVD-R DL 4,171,712 sectors = 8,543,666,176 bytes (DVD+R DL holds
// 4,173,824 sectors = 8,547,991,552 bytes).
constexpr uint32_t kDvd9Sectors = 4171712;
static_assert(uint64_t(kDvd9Sectors) * kSectorSize == 8543666176u);

// Blu-ray: 12,219,392 sectors per 25 GB layer = 25,025,314,816 bytes; BD-50 is two such
// layers; BD-100 (BDXL, three layers of 33.4 GB) 48,878,592 sectors = 100,103,356,416 bytes.
constexpr uint32_t kBd25Sectors = 12219392;
constexpr uint32_t kBd50Sectors = 2 * kBd25Sectors;
constexpr uint32_t kBd100Sectors = 48878592;
static_assert(uint64_t(kBd25Sectors) * kSectorSize == 25025314816u);
static_assert(uint64_t(kBd50Sectors) * kSectorSize == 50050629632u);
static_assert(uint64_t(kBd100Sectors) * kSectorSize == 100103356416u);

// Smallest first.
constexpr Medium kCommonMedia[] = {
    {"CD 700 MB", kCdSectors}, {"DVD-5", kDvd5Sectors}, {"DVD-9", kDvd9Sectors},
    {"BD-25", kBd25Sectors},   {"BD-50", kBd50Sectors}, {"BD-100", kBd100Sectors},
};

// ISO 9660 alone is the CD file system, ISO 9660 + UDF 1.02 the DVD one, UDF alone the
// Blu-ray one: the largest medium of each.
constexpr const Medium& LargestMediumFor(uint32_t formatFlags) {
  if (formatFlags == FormatIso9660) return kCommonMedia[0];
  if (formatFlags & FormatIso9660) return kCommonMedia[2];
  return kCommonMedia[5];
}

}  // namespace vellumcast
