// The marks of Rock Ridge and Joliet (see iso_extensions.h).
#include "reader/iso_extensions.h"

#include "platform/byte_span.h"
#include "reader/ecma119_records.h"
#include "reader/iso9660_tree.h"

namespace vellumcast {
namespace {

// ECMA-119 8.4: the Primary Volume Descriptor at sector 16.
constexpr uint64_t kPrimaryDescriptorSector = 16;
// SUSP 5.3: "SP", length 7, version 1, check bytes BE EF.
constexpr char kSpEntry[] = "SP\x07\x01\xBE\xEF";
constexpr size_t kSpEntryBytes = 6;

bool RootHasSpEntry(ImageSource& image) {
  uint8_t sector[kImageSectorSize] = {};
  IsoPrimaryDescriptor pvd;
  const char* why = nullptr;
  if (!image.ReadSectors(kPrimaryDescriptorSector, 1, sector) ||
      !DecodeIsoPrimaryDescriptor(ByteSpan(sector, sizeof sector), pvd, why) ||
      !image.ReadSectors(pvd.root.extent, 1, sector))
    return false;
  IsoDirectoryRecord dot;
  return DecodeIsoDirectoryRecord(ByteSpan(sector, sizeof sector), dot, why) &&
         dot.systemUse.compare(0, kSpEntryBytes, kSpEntry, kSpEntryBytes) == 0;
}

}  // namespace

IsoExtensions FindIsoExtensions(ImageSource& image) {
  IsoExtensions found;
  if (!HasIso9660(image)) return found;
  found.rockRidge = RootHasSpEntry(image) && HasIsoTree(image, kIsoRockRidgeNames);
  found.joliet = HasIsoTree(image, kIsoJolietNames);
  return found;
}

}  // namespace vellumcast
