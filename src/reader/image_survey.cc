// Which file systems an image carries.
#include "reader/image_survey.h"

#include <algorithm>

#include "platform/byte_span.h"
#include "reader/ecma119_records.h"
#include "reader/ecma167_descriptors.h"
#include "reader/iso9660_tree.h"
#include "reader/udf_volume.h"

namespace vellumcast {
namespace {

// The first anchor is at 256 (kUdfFirstAnchorSector); the others are at the volume's end,
// which on the images of every UDF writer lies within a few hundred sectors after the
// end of the last partition (a reserve sequence, padding to a multiple of 16 or 32).
constexpr uint64_t kAnchorSearchSectors = 1024;

// The block size of a UDF volume whose anchor sits at block 256 of blocks other than
// 2048 bytes (ECMA-167 3/8.4.2.1: the anchor is at logical sector 256 of its medium).
uint32_t OtherUdfBlockSize(ImageSource& image) {
  uint8_t sector[kImageSectorSize];
  UdfAnchor anchor;
  const char* why = nullptr;
  for (uint32_t size : {512u, 1024u, 4096u}) {
    if (image.ReadBytes(uint64_t(kUdfFirstAnchorSector) * size, sector, sizeof sector) &&
        DecodeUdfAnchor(ByteSpan(sector, sizeof sector), kUdfFirstAnchorSector, anchor, why))
      return size;
  }
  return 0;
}

}  // namespace

ImageFileSystems SurveyImage(ImageSource& image) {
  ImageFileSystems found;
  found.iso9660 = HasIso9660(image);
  if (HasUdf(image)) {
    UdfVolume volume;
    ReadReport problems;
    found.udf = ReadUdfVolume(image, volume, problems);
    if (found.udf) found.udfRevision = volume.logical.domainRevision;
    found.udfUnreadable = !found.udf && !problems.problems.empty();
    if (found.udfUnreadable) found.udfProblem = problems.problems.back().text;
  } else {
    found.udfBlockSize = OtherUdfBlockSize(image);
    found.udfUnreadable = found.udfBlockSize != 0;
  }
  return found;
}

std::string ImageFileSystems::UnreadableUdf() const {
  if (udfBlockSize)
    return "UDF of " + std::to_string(udfBlockSize) + "-byte blocks is not supported (" +
           "only 2048-byte blocks, as on optical discs)";
  return "its UDF file system cannot be read: " + udfProblem;
}

uint64_t RecordedSectors(ImageSource& image) {
  uint8_t sector[kImageSectorSize];
  const char* why = nullptr;
  if (HasIso9660(image)) {
    IsoPrimaryDescriptor primary;
    if (!image.ReadSectors(kIsoFirstDescriptorSector, 1, sector) ||
        !DecodeIsoPrimaryDescriptor(ByteSpan(sector, sizeof sector), primary, why)) {
      return 0;
    }
    return primary.volumeSpaceSize > kIsoFirstDescriptorSector ? primary.volumeSpaceSize : 0;
  }
  if (!HasUdf(image)) return 0;
  UdfVolume volume;
  ReadReport ignored;
  if (!ReadUdfVolume(image, volume, ignored)) return 0;
  uint64_t end = kUdfFirstAnchorSector + 1;
  for (const UdfMapView& map : volume.maps) {
    end = std::max<uint64_t>(end, uint64_t(map.start) + map.length);
  }
  // The volume ends after its closing anchor: the first of the window that points where
  // the anchor at 256 does, or the one 256 sectors after that where the volume has both
  // (OSTA UDF 2.2.3 allows N - 257 and N - 1). Later anchors are stale ones of an
  // earlier, larger image that the device still holds past this one's end.
  UdfAnchor first, anchor;
  if (!image.ReadSectors(kUdfFirstAnchorSector, 1, sector) ||
      !DecodeUdfAnchor(ByteSpan(sector, sizeof sector), kUdfFirstAnchorSector, first, why))
    return 0;
  auto agrees = [&](uint64_t at) {
    return at < image.Sectors() && image.ReadSectors(at, 1, sector) &&
           DecodeUdfAnchor(ByteSpan(sector, sizeof sector), uint32_t(at), anchor, why) &&
           SameUdfAnchor(first, anchor);
  };
  for (uint64_t at = end; at < image.Sectors() && at < end + kAnchorSearchSectors; ++at) {
    if (agrees(at))
      return (agrees(at + kUdfFirstAnchorSector) ? at + kUdfFirstAnchorSector : at) + 1;
  }
  return 0;
}

std::string UdfRevisionName(uint16_t revision) {
  // The revision is binary-coded decimal: 0x0250 is 2.50.
  const char digits[] = {char('0' + ((revision >> 8) & 0xF)), '.',
                         char('0' + ((revision >> 4) & 0xF)), char('0' + (revision & 0xF)), '\0'};
  return std::string("UDF ") + digits;
}

}  // namespace vellumcast
