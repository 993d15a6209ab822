// The reproducible attributes of a build with a fixed time, and the warnings for dates
// beyond the 7-byte dates of ECMA-119 9.1.5 (directory records, RRIP TF short form).
#include "layout/entry_attributes.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <string>

#include "layout/udf_identifier.h"
#include "layout/volume_time.h"
#include "tree/node_path.h"
#include "tree/tree_walk.h"

namespace vellumcast {
namespace {

constexpr uint32_t kFileTypeBits = 0170000;
constexpr uint32_t kAnyExecuteBits = 0111;
constexpr uint32_t kFixedExecutable = 0555;
constexpr uint32_t kFixedReadOnly = 0444;
constexpr uint32_t kMaxDateWarnings = 20;

void FixEntry(int64_t buildTime, TreeNode& node) {
  node.modifiedTime = std::min(node.modifiedTime, buildTime);
  node.accessTime = std::min(node.accessTime, buildTime);
  node.attributeTime = std::min(node.attributeTime, buildTime);
  node.uid = node.gid = 0;
  // An entry the scan made up (mode 0) keeps 0: the writers give it the fixed modes.
  if (node.posixMode == 0) return;
  const bool executable = node.isDirectory || (node.posixMode & kAnyExecuteBits);
  node.posixMode =
      (node.posixMode & kFileTypeBits) | (executable ? kFixedExecutable : kFixedReadOnly);
}

// A time as the reader of a message expects it: UTC calendar fields.
std::string ShownTime(int64_t time) {
  const time_t t = static_cast<time_t>(time);
  std::tm utc{};
  char text[64];
  if (int64_t(t) != time || !gmtime_r(&t, &utc)) return "@" + std::to_string(time);
  std::snprintf(text, sizeof text, "%04lld-%02d-%02d %02d:%02d:%02d UTC",
                static_cast<long long>(utc.tm_year) + 1900, utc.tm_mon + 1, utc.tm_mday,
                utc.tm_hour, utc.tm_min, utc.tm_sec);
  return text;
}

}  // namespace

void FixReproducibleAttributes(const ImageSettings& settings, TreeNode& root) {
  if (!settings.datesInUtc) return;
  FixEntry(settings.buildTime, root);
  (void)WalkBreadthFirst(root, [&](TreeNode& directory) {
    for (TreeNode* e = directory.firstChild; e; e = e->nextSibling)
      FixEntry(settings.buildTime, *e);
    return true;
  });
}

void WarnDatesIso9660CannotHold(const LayoutPlanner& planner, const TreeNode& root) {
  const ImageSettings& settings = planner.settings;
  if (!settings.WritesIso9660()) return;
  // Rock Ridge records the access and attribute times too, unless the time is fixed.
  const bool allTimes = settings.rockRidge && !settings.datesInUtc;
  uint32_t warned = 0;
  (void)WalkBreadthFirst(root, [&](const TreeNode& directory) {
    for (const TreeNode* e = directory.firstChild; e; e = e->nextSibling) {
      int64_t outside = e->modifiedTime;
      bool holds = IsoRecordDateHolds(outside, settings.datesInUtc);
      for (int64_t t : {e->accessTime, e->attributeTime}) {
        if (holds && allTimes && !IsoRecordDateHolds(t, settings.datesInUtc)) {
          outside = t;
          holds = false;
        }
      }
      if (holds || ++warned > kMaxDateWarnings) continue;
      planner.log.Warn(SourcePathText(*e) + " is dated " + ShownTime(outside) +
                       ", which ISO 9660 cannot hold: recorded there as " +
                       (outside > 0 ? "2155-12-31 23:59:59" : "1900-01-01 00:00:00") +
                       (settings.WritesUdf() ? " (UDF records the date)" : ""));
    }
    return true;
  });
  if (warned > kMaxDateWarnings) {
    planner.log.Warn(std::to_string(warned - kMaxDateWarnings) +
                     " more entries have dates ISO 9660 cannot hold (" + std::to_string(warned) +
                     " in all)");
  }
}

}  // namespace vellumcast
