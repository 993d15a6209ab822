// The record fields, POSIX type and link text of a UDF file from its File Entry.
#include "reader/udf_file_fields.h"

#include <string>
#include <vector>

namespace vellumcast {
namespace {

using enum ReadProblemKind;

}  // namespace

void FillUdfRecordFields(const UdfFileEntry& entry, uint8_t characteristics,
                         ImageRecordFields& out) {
  out.flags = characteristics;
  out.posix = true;
  out.permissions = entry.permissions;
  out.links = entry.links;
  out.uid = entry.uid;
  out.gid = entry.gid;
  out.fileType = entry.fileType;
  out.timed = true;
  out.micros = entry.modifiedMicros;
}

uint32_t PosixTypeOf(uint8_t fileType) {
  switch (fileType) {
    case kUdfTypeRegular:
    case kUdfTypeRealTime: return 0100000;
    case kUdfTypeSymbolicLink: return 0120000;
    case kUdfTypeFifo: return 0010000;
    case kUdfTypeSocket: return 0140000;
    case kUdfTypeCharacterDevice: return 0020000;
    case kUdfTypeBlockDevice: return 0060000;
  }
  return 0;
}

bool ReadLinkTarget(UdfVolume& volume, const UdfAllocation& icb, const UdfFileEntry& file,
                    ImageEntry& e, ReadProblem& why) {
  constexpr uint64_t kMaxLinkBytes = 64 * 1024;
  std::vector<uint8_t> bytes;
  if (file.informationLength > kMaxLinkBytes) {
    why = Fault(kLimitReached, "symbolic link of " + std::to_string(file.informationLength) +
                                   " bytes is too large");
    return false;
  }
  if (file.adType == kUdfDataInEntry) {
    if (file.informationLength > file.ads.size) {
      why = Fault(kDamaged, "information length passes the embedded data");
      return false;
    }
    bytes.assign(file.ads.data, file.ads.data + file.informationLength);
  } else {
    if (!volume.EntryExtents(file, icb.partition, file.informationLength, e.extents, why))
      return false;
    bytes.resize(size_t(file.informationLength));
    e.size = file.informationLength;
    if (!ReadEntryBytes(*volume.image, e, 0, bytes.data(), bytes.size())) {
      why = Fault(kUnreadable, "symbolic link cannot be read", volume.image->failedSector);
      return false;
    }
    e.extents.clear();
  }
  if (!DecodeUdfPathComponents(ByteSpan(bytes.data(), bytes.size()), e.linkTarget)) {
    why = Fault(kDamaged, "symbolic link's path components damaged");
    return false;
  }
  return true;
}

}  // namespace vellumcast
