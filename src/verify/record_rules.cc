// The fields of records as the build's rules make them from the source entry.
//
// The rules: ISO 9660, Joliet and Rock Ridge TF record each entry's modification time in
// whole seconds, clamped to 1900-01-01 00:00:00 .. 2155-12-31 23:59:59; Rock Ridge PX
// records the source's type and permission bits, links, owner and group, except that a
// fixed build time (and an entry the build makes up) records owner 0 and permissions
// 0555 (folders and files with any x bit) or 0444, and no time later than the build's;
// UDF File Entries record permissions r-x for all, no owner, the
// modification time in whole seconds of a file, and of a folder the build time in a
// UDF 1.02 File Entry and its own time in a UDF 2.50 Extended File Entry.
#include "verify/record_rules.h"

#include <algorithm>
#include <ctime>

#include "reader/civil_time.h"
#include "tree/tree_node.h"

namespace vellumcast {
namespace {

// POSIX file types and the fixed permissions of a reproducible image.
constexpr uint32_t kPosixDirectory = 0040000;
constexpr uint32_t kPosixRegular = 0100000;
constexpr uint32_t kPosixPermissionBits = 07777;
constexpr uint32_t kFixedDirectoryPermissions = 0555;
constexpr uint32_t kFixedFilePermissions = 0444;
// ECMA-119 9.1.6 flags; ECMA-167 4/14.4.3 characteristics.
constexpr uint8_t kIsoDirectoryFlag = 0x02;
constexpr uint8_t kIsoMultiExtentFlag = 0x80;
constexpr uint8_t kUdfDirectoryCharacteristic = 0x02;
// ECMA-167 4/14.6.6 file types; 4/14.9.5: read and execute for owner, group and others.
constexpr uint8_t kUdfDirectoryType = 4;
constexpr uint8_t kUdfRegularType = 5;
constexpr uint8_t kUdfRealTimeType = 249;
constexpr uint32_t kUdfReadExecute = 0x14A5;
constexpr uint32_t kUdfNoId = 0xFFFFFFFF;
// ECMA-119 9.1.5: the year is one byte from 1900.
constexpr int64_t kIsoFirstSecond = CivilSeconds(1900, 1, 1, 0, 0, 0, 0);
constexpr int64_t kIsoEndSecond = CivilSeconds(2156, 1, 1, 0, 0, 0, 0);
constexpr int64_t kMicros = 1000000;
constexpr uint32_t kAnyExecute = 0111;

uint32_t SubdirectoryCount(const TreeNode& node) {
  uint32_t n = 0;
  for (const TreeNode* e = node.firstChild; e; e = e->nextSibling) n += e->isDirectory ? 1 : 0;
  return n;
}

std::string Octal(uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "0%o", v);
  return text;
}

std::string Hex(uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", v);
  return text;
}

// "2026-01-31T12:00:00Z", with ".000250" when the microseconds are not zero.
std::string TimeText(int64_t micros) {
  int64_t seconds = micros / kMicros, rest = micros % kMicros;
  if (rest < 0) rest += kMicros, --seconds;
  const std::time_t t = std::time_t(seconds);
  std::tm utc{};
  if (!gmtime_r(&t, &utc)) return std::to_string(seconds) + " s";
  char text[48];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
  std::string out = text;
  if (rest) {
    std::snprintf(text, sizeof text, ".%06lld", static_cast<long long>(rest));
    out += text;
  }
  return out + "Z";
}

}  // namespace

namespace {

// The POSIX mode Rock Ridge records: the entry's type (a link or special file keeps its
// own with -R), and its permissions, or with a fixed build time 0555 (folders and files
// with any x bit), 0777 (links) or 0444.
uint32_t RecordedMode(const TreeNode& node, bool fixed) {
  const bool dir = node.isDirectory;
  const bool kept = node.IsSymbolicLink() || node.IsSpecialFile();
  uint32_t mode = dir ? kPosixDirectory : kept ? node.PosixType() : kPosixRegular;
  if (!fixed) return mode | (node.posixMode & kPosixPermissionBits);
  if (node.IsSymbolicLink()) return mode | 0777;
  const bool executable = dir || (node.posixMode & kAnyExecute);
  return mode | (executable ? kFixedDirectoryPermissions : kFixedFilePermissions);
}

// ECMA-167 4/14.6.6 file types of the entries a source folder holds.
uint8_t UdfFileType(const TreeNode& node) {
  if (node.isDirectory) return kUdfDirectoryType;
  switch (node.PosixType()) {
    case 0120000: return node.IsSymbolicLink() ? 12 : kUdfRegularType;  // symbolic link
    case 0010000: return 9;                                             // FIFO
    case 0140000: return 10;                                            // socket
    case 0060000: return 6;                                             // block device
    case 0020000: return 7;                                             // character device
  }
  return node.kind == Ordinary ? kUdfRegularType : kUdfRealTimeType;
}

}  // namespace

ExpectedMetadata ExpectedMetadataOf(const TreeNode& node, const MetadataRules& rules,
                                    RecordTree tree) {
  ExpectedMetadata want;
  const bool dir = node.isDirectory;
  const bool fixed = rules.fixed || node.posixMode == 0;
  const uint32_t fileLinks = node.hardLinks ? node.hardLinks : 1;
  int64_t seconds = node.modifiedTime;
  // Reproducible builds: no time later than the build time (tar's --clamp-mtime).
  if (rules.fixed) seconds = std::min(seconds, rules.buildTime);
  if (tree == RecordTree::kUdf) {
    want.flags = dir ? kUdfDirectoryCharacteristic : 0;
    want.fileType = rules.udfPosix          ? UdfFileType(node)
                    : dir                   ? kUdfDirectoryType
                    : node.kind == Ordinary ? kUdfRegularType
                                            : kUdfRealTimeType;
    want.permissions = kUdfReadExecute;
    want.uid = want.gid = kUdfNoId;
    if (rules.udfPosix) {
      // 4/14.9.5: others in bits 0-2, group in 5-7, owner in 10-12 (read 4, write 2,
      // execute 1); set-id and sticky are ICB flags.
      const uint32_t mode = RecordedMode(node, fixed);
      want.permissions = (mode & 07) | (mode & 070) << 2 | (mode & 0700) << 4;
      want.uid = fixed ? 0 : node.uid;
      want.gid = fixed ? 0 : node.gid;
    }
    want.links = dir ? SubdirectoryCount(node) + 1 : fileLinks;
    if (dir && rules.udfRevision < 0x0200 && !rules.udfPosix) seconds = rules.buildTime;
    want.micros = seconds * kMicros;
    return want;
  }
  want.flags = dir ? kIsoDirectoryFlag : 0;
  // ECMA-119 9.1.5 holds 1900 to 2155: a date beyond is recorded as the nearest it holds.
  want.timeRecorded = true;
  want.micros = std::clamp(seconds, kIsoFirstSecond, kIsoEndSecond - 1) * kMicros;
  if (tree != RecordTree::kRockRidge) return want;
  want.permissions = RecordedMode(node, fixed);
  if (!fixed) {
    want.uid = node.uid;
    want.gid = node.gid;
  }
  want.links = dir ? SubdirectoryCount(node) + 2 : fileLinks;
  return want;
}

void DecideFixed(const ImageRecordFields& got, int64_t recorded, const TreeNode& node,
                 RecordTree tree, MetadataRules& rules) {
  if (rules.fixedKnown) return;
  MetadataRules fixed = rules, clock = rules;
  fixed.fixed = true;
  clock.fixed = false;
  const ExpectedMetadata f = ExpectedMetadataOf(node, fixed, tree);
  const ExpectedMetadata c = ExpectedMetadataOf(node, clock, tree);
  const bool plain = tree == RecordTree::kIso9660 || tree == RecordTree::kJoliet;
  if (!plain && !got.posix) return;
  const int64_t micros = plain ? recorded * kMicros : got.timed ? got.micros : -1;
  auto matches = [&](const ExpectedMetadata& want) {
    return micros == want.micros && (plain || (got.permissions == want.permissions &&
                                               got.uid == want.uid && got.gid == want.gid));
  };
  const bool isFixed = matches(f), isClock = matches(c);
  if (isFixed == isClock) return;  // alike under both, or like neither: the next entry decides
  rules.fixed = isFixed;
  rules.fixedKnown = true;
}

void CompareRecordFields(const ImageRecordFields& got, int64_t recorded,
                         const ExpectedMetadata& want, RecordTree tree, bool sourceMetadata,
                         std::vector<std::string>& differences) {
  auto differs = [&](const char* field, const std::string& is, const std::string& expected) {
    differences.push_back(std::string(field) + " " + is + ", expected " + expected);
  };
  const bool udf = tree == RecordTree::kUdf;
  const uint8_t flags = udf ? got.flags : uint8_t(got.flags & ~kIsoMultiExtentFlag);
  if (flags != want.flags)
    differs(udf ? "characteristics" : "file flags", Hex(got.flags), Hex(want.flags));
  if (!got.identifierOk) differences.push_back("identifier's version is not ;1 or padding not 0");
  if (udf && got.posix && got.fileType != want.fileType)
    differs("file type", std::to_string(got.fileType), std::to_string(want.fileType));
  if (!sourceMetadata) return;
  if (tree == RecordTree::kIso9660 || tree == RecordTree::kJoliet) {
    if (recorded * kMicros != want.micros)
      differs("recording time", recorded ? TimeText(recorded * kMicros) : "unrecorded",
              want.timeRecorded ? TimeText(want.micros) : "unrecorded");
    return;
  }
  if (!got.posix) {
    differences.push_back(udf ? "no file entry" : "no px entry");
    return;
  }
  if (got.permissions != want.permissions)
    differs(udf ? "permissions" : "mode", udf ? Hex(got.permissions) : Octal(got.permissions),
            udf ? Hex(want.permissions) : Octal(want.permissions));
  if (got.links != want.links)
    differs("link count", std::to_string(got.links), std::to_string(want.links));
  if (got.uid != want.uid || got.gid != want.gid)
    differs("owner", std::to_string(got.uid) + ":" + std::to_string(got.gid),
            std::to_string(want.uid) + ":" + std::to_string(want.gid));
  if (!got.timed) {
    differences.push_back("no modification time (tf entry)");
  } else if (got.micros != want.micros) {
    differs("modification time", got.micros ? TimeText(got.micros) : "unrecorded",
            want.timeRecorded ? TimeText(want.micros) : "unrecorded");
  }
}

}  // namespace vellumcast
