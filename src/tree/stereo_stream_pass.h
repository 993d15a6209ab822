// The Blu-ray stream pass over the scanned source tree.
#pragma once

#include "base/diagnostics.h"
#include "tree/source_tree.h"

namespace vellumcast {

// Blu-ray stream pass on the finished tree: stream clips marked for real-time
// recording, and with a stereoscopic plan the clips paired and their .ssif entries made
// up in BDMV/STREAM/SSIF, in place of the source's files of those names. When the tree
// does not hold what the plan needs, the plan is given up (one warning) and the tree
// stays as scanned. False only when the build must stop.
[[nodiscard]] bool ApplyStreamPass(SourceTree& tree, Diagnostics& log);

}  // namespace vellumcast
