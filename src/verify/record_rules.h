// What the records of an entry must say besides its name and bytes, derived from the
// source entry and the build's documented rules alone: kind and visibility flags, the
// POSIX attributes of Rock Ridge, the UDF File Entry's type, owner, permissions and link
// count, and the modification time at each file system's resolution.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "reader/image_tree.h"

namespace vellumcast {

struct TreeNode;

// The tree of an image an entry was read from.
enum class RecordTree : uint8_t { kIso9660, kRockRidge, kJoliet, kUdf };

// The rules of the build that made the image.
struct MetadataRules {
  int64_t buildTime = 0;  // the build's one "now", seconds since 1970 UTC
  // A fixed build time (-time, SOURCE_DATE_EPOCH) records owner 0 and permissions
  // 0444/0555; `fixedKnown` false: the image's dates cannot tell (a build in UTC), and
  // the first entry with its own attributes decides.
  bool fixed = false;
  bool fixedKnown = true;
  uint16_t udfRevision = 0x0102;
  // A bridge image with Rock Ridge: its UDF File Entries record the Rock Ridge owner,
  // group, permissions and each folder's own time.
  bool udfPosix = false;
  // False: only the structural fields are compared (times, permissions, owners and
  // links are not), for an image whose build rules are not these.
  bool sourceMetadata = true;
};

// An entry's fields as its tree must record them.
struct ExpectedMetadata {
  uint8_t flags = 0;         // ISO 9660 file flags; UDF FID characteristics
  uint32_t permissions = 0;  // Rock Ridge: st_mode; UDF: ECMA-167 permissions
  uint32_t links = 0;
  uint32_t uid = 0;
  uint32_t gid = 0;
  uint8_t fileType = 0;      // UDF ICB file type
  int64_t micros = 0;        // the modification time, microseconds since 1970 UTC
  bool timeRecorded = true;  // false: the date lies outside what the field can hold
};

// The one home of the expectation: `node` (a source entry, or the root or a folder the
// build makes up) as `tree` records it under `rules`.
ExpectedMetadata ExpectedMetadataOf(const TreeNode& node, const MetadataRules& rules,
                                    RecordTree tree);

// Adds to `differences` each field of `got` (and the record time `recorded`, seconds, of
// ISO 9660 and Joliet records) that differs from `want`, as "<field> <got>, expected <want>".
void CompareRecordFields(const ImageRecordFields& got, int64_t recorded,
                         const ExpectedMetadata& want, RecordTree tree, bool sourceMetadata,
                         std::vector<std::string>& differences);

// For rules whose `fixedKnown` is false: decides them by `got` (and the record time
// `recorded` of ISO 9660 and Joliet records), an entry of `node` read from `tree`, when
// the two rules give `node` different fields there: Rock Ridge and UDF attributes, or a
// time past the build time that only a fixed build clamps. An entry that both rules
// record alike leaves them undecided.
void DecideFixed(const ImageRecordFields& got, int64_t recorded, const TreeNode& node,
                 RecordTree tree, MetadataRules& rules);

}  // namespace vellumcast
