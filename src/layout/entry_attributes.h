// What every file system records of an entry besides its name and data: the attributes
// of a build with a fixed time, and the dates ISO 9660 cannot hold.
#pragma once

#include "layout/layout_plan.h"
#include "tree/tree_node.h"

namespace vellumcast {

// With a fixed build time (-time, SOURCE_DATE_EPOCH) every entry below `root` records
// owner and group 0, permissions 0555 for a folder and for a file with any x bit, 0444
// for any other file, and no time later than the build time (a later one becomes the
// build time, as tar's --clamp-mtime does): the image then depends on the names, the
// contents and the earlier times only. Without a fixed time nothing changes.
void FixReproducibleAttributes(const ImageSettings& settings, TreeNode& root);

// One warning for each entry with a date that the 7-byte dates of ISO 9660 and Rock
// Ridge TF cannot hold (recorded there as the nearest they hold; UDF keeps it); after 20,
// one line with the count.
void WarnDatesIso9660CannotHold(const LayoutPlanner& planner, const TreeNode& root);

}  // namespace vellumcast
