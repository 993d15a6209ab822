// The label fields of an image, each read with its own offsets (see volume_labels.h).
#include "reader/volume_labels.h"

#include <algorithm>

#include "platform/byte_span.h"
#include "platform/text.h"
#include "reader/ecma119_records.h"
#include "reader/ecma167_descriptors.h"
#include "reader/udf_volume.h"

namespace vellumcast {
namespace {

// ECMA-119 8.4 and 8.5: volume descriptors from sector 16, a set terminator (type 255)
// at their end; the fields of both descriptors.
constexpr size_t kIsoVolumeIdentifier = 40, kIsoVolumeIdentifierBytes = 32;
constexpr size_t kIsoEscapes = 88;
constexpr size_t kIsoApplicationIdentifier = 574, kIsoApplicationIdentifierBytes = 128;
// ECMA-167 3/10.2: the anchor's main sequence extent; 3/10.1, 3/10.6 and 4/14.1: the
// identifier fields.
constexpr uint32_t kMaxSequenceSectors = 64;
constexpr size_t kPvdVolumeIdentifier = 24, kPvdVolumeIdentifierBytes = 32;
constexpr size_t kLvdLogicalVolumeIdentifier = 84, kLvdLogicalVolumeIdentifierBytes = 128;
constexpr size_t kLvdImplementationIdentifier = 272 + 1, kRegidIdentifierBytes = 23;
constexpr size_t kFsdLogicalVolumeIdentifier = 112, kFsdLogicalVolumeIdentifierBytes = 128;
constexpr size_t kFsdFileSetIdentifier = 304, kFsdFileSetIdentifierBytes = 32;

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
  return text;
}

LabelField DString(ByteSpan field) {
  LabelField out;
  out.present = DecodeDString(field, out.text);
  return out;
}

void ReadIsoLabels(ImageSource& image, VolumeLabels& out) {
  uint8_t sector[kImageSectorSize] = {};
  const ByteSpan s(sector, sizeof sector);
  for (uint32_t n = 0; n < kIsoMostVolumeDescriptors; ++n) {
    if (!image.ReadSectors(kIsoFirstDescriptorSector + n, 1, sector) || !s.Equals(1, "CD001", 5))
      return;
    const uint8_t type = s.U8(0);
    if (type == 255) return;
    const ByteSpan id = s.Sub(kIsoVolumeIdentifier, kIsoVolumeIdentifierBytes);
    if (type == 1 && !out.isoVolume.present) {
      out.isoVolume = {true, Trimmed(Latin1ToUtf8(id.data, id.size))};
      const ByteSpan app = s.Sub(kIsoApplicationIdentifier, kIsoApplicationIdentifierBytes);
      out.isoApplication = Trimmed(std::string(reinterpret_cast<const char*>(app.data), app.size));
    }
    const bool joliet = s.Equals(kIsoEscapes, "%/", 2) &&
                        (s.U8(kIsoEscapes + 2) == '@' || s.U8(kIsoEscapes + 2) == 'C' ||
                         s.U8(kIsoEscapes + 2) == 'E');
    if (type == 2 && joliet && !out.jolietVolume.present) {
      std::u16string units;
      for (size_t i = 0; i + 1 < id.size; i += 2) units += char16_t(id.U16Be(i));
      while (!units.empty() && (units.back() == u' ' || units.back() == 0)) units.pop_back();
      out.jolietVolume = {true, Utf16ToUtf8(units)};
    }
  }
}

void ReadUdfLabels(ImageSource& image, VolumeLabels& out) {
  uint8_t sector[kImageSectorSize] = {};
  const ByteSpan s(sector, sizeof sector);
  UdfAnchor anchor;
  const char* why = nullptr;
  if (!image.ReadSectors(kUdfFirstAnchorSector, 1, sector) ||
      !DecodeUdfAnchor(s, kUdfFirstAnchorSector, anchor, why))
    return;
  const uint32_t count =
      std::min<uint32_t>(anchor.main.length / kImageSectorSize, kMaxSequenceSectors);
  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t at = uint64_t(anchor.main.location) + i;
    UdfTag tag;
    const uint16_t id = image.ReadSectors(at, 1, sector) ? PeekUdfTagId(s) : 0;
    if (id == 0 || id == kUdfTerminating) break;
    if (!DecodeUdfTag(s, id, uint32_t(at), tag, why)) continue;
    if (id == kUdfPrimaryVolume && !out.udfVolume.present)
      out.udfVolume = DString(s.Sub(kPvdVolumeIdentifier, kPvdVolumeIdentifierBytes));
    if (id == kUdfLogicalVolume && !out.udfLogicalVolume.present) {
      out.udfLogicalVolume =
          DString(s.Sub(kLvdLogicalVolumeIdentifier, kLvdLogicalVolumeIdentifierBytes));
      const ByteSpan regid = s.Sub(kLvdImplementationIdentifier, kRegidIdentifierBytes);
      out.udfImplementation =
          Trimmed(std::string(reinterpret_cast<const char*>(regid.data), regid.size));
    }
  }
  UdfVolume volume;
  ReadReport ignored;
  if (!ReadUdfVolume(image, volume, ignored)) return;
  ReadProblem reason;
  const UdfAllocation& fsd = volume.logical.fileSet;
  UdfTag tag;
  if (volume.logical.blockSize != kImageSectorSize ||
      !volume.ReadBlock(fsd.partition, fsd.block, sector, reason) ||
      !DecodeUdfTag(s, kUdfFileSet, fsd.block, tag, why))
    return;
  out.fileSetLogicalVolume =
      DString(s.Sub(kFsdLogicalVolumeIdentifier, kFsdLogicalVolumeIdentifierBytes));
  out.fileSet = DString(s.Sub(kFsdFileSetIdentifier, kFsdFileSetIdentifierBytes));
}

}  // namespace

VolumeLabels ReadVolumeLabels(ImageSource& image) {
  VolumeLabels labels;
  ReadIsoLabels(image, labels);
  if (HasUdf(image)) ReadUdfLabels(image, labels);
  return labels;
}

}  // namespace vellumcast
