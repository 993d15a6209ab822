// System Use Sharing Protocol entries (IEEE P1281, SUSP 1.10) and Rock Ridge entries
// (IEEE P1282, RRIP 1.10) in the System Use field of ISO 9660 directory records and in
// their continuation areas. Each Put* writes one entry at `p` and returns its length.
#pragma once

#include <cstdint>

#include "layout/iso_hierarchy.h"

namespace vellumcast {

namespace susp {
constexpr uint32_t kSignature = 0;  // two characters
constexpr uint32_t kLength = 2;
constexpr uint32_t kVersion = 3;
constexpr uint32_t kData = 4;
}  // namespace susp

// RRIP NM flags.
constexpr uint8_t kNmContinue = 0x01;

// SP: the protocol is in use; no bytes are skipped at the start of any System Use field.
uint32_t PutSuspSp(uint8_t* p);
// CE: the continuation area at sector `location`, byte `offset`, `length` bytes.
uint32_t PutSuspCe(uint8_t* p, uint32_t location, uint32_t offset, uint32_t length);
// ER: the extension in use, RRIP_1991A (RRIP 1.10).
uint32_t PutSuspEr(uint8_t* p);
// PX: POSIX file mode, links, user and group.
uint32_t PutRripPx(uint8_t* p, uint32_t mode, uint32_t links, uint32_t uid, uint32_t gid);
// TF: modification, access and attribute change times, 7-byte dates (ECMA-119 9.1.5).
uint32_t PutRripTf(uint8_t* p, int64_t modified, int64_t accessed, int64_t attributes, bool utc);
// PN: the device number of a device node (the host's st_rdev), its high and low 32 bits
// (RRIP 4.1.2); the Linux kernel and libarchive read the usual numbers back from it.
uint32_t PutRripPn(uint8_t* p, uint64_t deviceNumber);
// NM: `n` bytes of the name; `continues` when the next NM entry carries more of it.
uint32_t PutRripNm(uint8_t* p, const uint8_t* name, uint32_t n, bool continues);

// Fills the System Use field of the record of `slot` (`use.recordBytes` at `field`) and,
// when `use` has one, its continuation area (`use.continuationBytes` at `continuation`,
// which lies at sector `ceSector`, byte `ceOffset`). False when the entries do not come
// out at the planned sizes.
[[nodiscard]] bool PutRockRidgeSystemUse(const ImageSettings& settings, const IsoRecordSlot& slot,
                                         const SystemUseLayout& use, uint8_t* field,
                                         uint8_t* continuation, uint32_t ceSector,
                                         uint32_t ceOffset);

}  // namespace vellumcast
