// The fields of ECMA-119 directory records besides the name.
#include "reader/iso9660_record_fields.h"

#include <string>

namespace vellumcast {

const char* DotRecordProblem(const IsoDirectoryRecord& r, uint32_t index, uint32_t extent,
                             uint32_t length) {
  const bool self = index == 0;
  if (r.identifier != std::string(1, char(index)) || r.extent != extent)
    return self ? "first record does not point to its directory"
                : "second record does not point to the parent directory";
  if (r.dataLength != length)
    return self ? "first record's data length differs from its directory's"
                : "second record's data length differs from the parent directory's";
  if (r.flags != kIsoFlagDirectory)
    return self ? "first record's file flags are not those of a directory"
                : "second record's file flags are not those of a directory";
  if (r.unitSize != 0 || r.gapSize != 0)
    return self ? "first record has an interleave unit or gap"
                : "second record has an interleave unit or gap";
  if (r.attributeLength != 0)
    return self ? "first record has an extended attribute record"
                : "second record has an extended attribute record";
  return nullptr;
}

void FillIsoRecordFields(const IsoDirectoryRecord& r, bool directory, bool plain,
                         const SuspFindings* rr, ImageRecordFields& out) {
  out.flags = r.flags;
  if (plain && !directory) {
    const std::string& id = r.identifier;
    const size_t semicolon = id.rfind(';');
    out.identifierOk =
        semicolon != std::string::npos && id.compare(semicolon, std::string::npos, ";1") == 0;
  }
  if (plain && r.padding != 0) out.identifierOk = false;
  if (!rr) return;
  out.posix = rr->havePx;
  out.permissions = rr->pxMode;
  out.links = rr->pxLinks;
  out.uid = rr->pxUid;
  out.gid = rr->pxGid;
  out.timed = rr->haveModified;
  out.micros = rr->modified * 1000000;
}

}  // namespace vellumcast
