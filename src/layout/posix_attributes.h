// The POSIX attributes an image records for an entry: Rock Ridge PX and, in a bridge
// image with Rock Ridge, the UDF File Entry (ECMA-167 4/14.9.3-5 and the ICB tag's
// set-id and sticky flags, 4/14.6.8) record the same.
#pragma once

#include <cstdint>

#include "base/image_settings.h"
#include "tree/tree_node.h"

namespace vellumcast {

struct PosixAttributes {
  uint32_t mode = 0;  // file type and permission bits, as st_mode
  uint32_t uid = 0;
  uint32_t gid = 0;
};

// A build with a fixed time (-time, SOURCE_DATE_EPOCH) records fixed owners (0) and
// permissions (0444 files, 0555 folders), so that the image depends on the files'
// contents, names and modification times only; so does an entry the scan made up.
bool FixedAttributes(const ImageSettings& settings, const TreeNode& node);

// The file type of the node (a directory, a regular file, or with Rock Ridge the link or
// special file the scan kept) with the permissions, owner and group to record.
PosixAttributes RecordedAttributes(const ImageSettings& settings, const TreeNode& node);

}  // namespace vellumcast
