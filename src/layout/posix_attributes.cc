// The POSIX attributes recorded for an entry.
#include "layout/posix_attributes.h"

namespace vellumcast {
namespace {

constexpr uint32_t kPosixPermissionBits = 07777;
constexpr uint32_t kFixedDirectoryPermissions = 0555;
constexpr uint32_t kFixedFilePermissions = 0444;
constexpr uint32_t kAnyExecuteBits = 0111;
constexpr uint32_t kLinkPermissions = 0777;  // a link's own permissions are not used

}  // namespace

bool FixedAttributes(const ImageSettings& settings, const TreeNode& node) {
  return settings.datesInUtc || node.posixMode == 0;
}

PosixAttributes RecordedAttributes(const ImageSettings& settings, const TreeNode& node) {
  PosixAttributes a;
  const bool kept = node.IsSymbolicLink() || node.IsSpecialFile();
  a.mode = node.isDirectory ? kPosixDirectory : kept ? node.PosixType() : kPosixRegular;
  if (FixedAttributes(settings, node)) {
    // Fixed permissions keep whether a file is executable.
    const bool executable = node.isDirectory || (node.posixMode & kAnyExecuteBits);
    a.mode |= node.IsSymbolicLink() ? kLinkPermissions
              : executable          ? kFixedDirectoryPermissions
                                    : kFixedFilePermissions;
    return a;
  }
  a.mode |= node.posixMode & kPosixPermissionBits;
  a.uid = node.uid;
  a.gid = node.gid;
  return a;
}

}  // namespace vellumcast
