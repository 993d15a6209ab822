// The build time and the ISO 9660 extensions an image records.
#include "reader/recorded_build.h"

#include "reader/ecma119_records.h"
#include "reader/iso9660_tree.h"
#include "reader/susp_entries.h"
#include "reader/udf_volume.h"

namespace vellumcast {
namespace {

// IEEE P1281 5.3: the SUSP is in use when the root's "." record begins its System Use
// field with an SP entry (whose check bytes are right).
bool RootHasSp(ImageSource& image, const IsoDirectoryRecord& root) {
  uint8_t sector[kImageSectorSize] = {};
  IsoDirectoryRecord dot;
  SuspFindings found;
  const char* why = nullptr;
  if (!image.ReadSectors(root.extent, 1, sector) ||
      !DecodeIsoDirectoryRecord(ByteSpan(sector, sizeof sector), dot, why))
    return false;
  const ByteSpan use(reinterpret_cast<const uint8_t*>(dot.systemUse.data()), dot.systemUse.size());
  return use.Equals(0, "SP", 2) && DecodeSuspArea(use, found, why) && found.sp;
}

}  // namespace

RecordedBuild ReadRecordedBuild(ImageSource& image) {
  RecordedBuild out;
  if (HasIso9660(image)) {
    out.joliet = HasIsoTree(image, kIsoJolietNames);
    uint8_t sector[kImageSectorSize] = {};
    for (uint32_t n = 0; n < kIsoMostVolumeDescriptors; ++n) {
      uint8_t type = 0;
      const ByteSpan span(sector, sizeof sector);
      if (!image.ReadSectors(kIsoFirstDescriptorSector + n, 1, sector) ||
          !IsIsoVolumeDescriptor(span, type) || type == kIsoSetTerminator)
        break;
      IsoPrimaryDescriptor pvd;
      const char* why = nullptr;
      if (type != kIsoPrimaryDescriptor || !DecodeIsoPrimaryDescriptor(span, pvd, why)) continue;
      out.rockRidge = RootHasSp(image, pvd.root);
      out.haveTime = pvd.haveCreated;
      out.time = pvd.created;
      out.offsetMinutes = pvd.createdOffset;
      return out;
    }
  }
  if (!HasUdf(image)) return out;
  UdfVolume volume;
  ReadReport ignored;  // the check reads the volume again and reports its problems
  if (!ReadUdfVolume(image, volume, ignored)) return out;
  out.haveTime = volume.haveRecorded;
  out.time = volume.recorded;
  out.offsetMinutes = volume.recordedZone;
  return out;
}

}  // namespace vellumcast
