// Builds the File Identifier Descriptors of a directory (ECMA-167 4/14.4, OSTA UDF
// 2.3.4): one run of blocks in which descriptors follow each other without gaps and
// may run across block boundaries.
#include "writer/file_identifiers.h"

#include <cstring>

#include "base/disc_constants.h"
#include "layout/layout_rules.h"
#include "platform/text.h"
#include "tree/tree_node.h"
#include "writer/byte_order.h"
#include "writer/descriptor_tag.h"
#include "writer/image_writer.h"
#include "writer/udf_fields.h"

namespace vellumcast {
namespace {

namespace fid {
constexpr size_t kFileVersionNumber = 16;
constexpr size_t kFileCharacteristics = 18;
constexpr size_t kLengthOfFileIdentifier = 19;
constexpr size_t kIcb = 20;
constexpr size_t kLengthOfImplementationUse = 36;
constexpr size_t kFixedSize = 38;  // the File Identifier follows
constexpr uint8_t kCharacteristicDirectory = 0x02;
constexpr uint8_t kCharacteristicParent = 0x08;
}  // namespace fid

// One descriptor at `p` (tag location `location`); returns its padded length.
uint32_t PutIdentifier(const ImageEmitter& emitter, uint8_t* p, uint32_t location,
                       uint8_t characteristics, const TreeNode& target, bool recordUniqueId,
                       const TreeNode* named) {
  const uint32_t lengthOfFi = named ? named->udfNameLength + 1u : 0;
  PutLe16(p + fid::kFileVersionNumber, 1);
  p[fid::kFileCharacteristics] = characteristics;
  p[fid::kLengthOfFileIdentifier] = uint8_t(lengthOfFi);
  uint8_t* icb = p + fid::kIcb;
  PutLongAd(icb, kSectorSize, target.fileEntryLocation, FileSystemPartition(emitter.settings));
  PutLe32(icb + long_ad::kImplementationUseUniqueId,
          recordUniqueId && !target.IsRoot() ? target.uniqueId : 0);
  PutLe16(p + fid::kLengthOfImplementationUse, 0);
  if (named) {
    uint8_t* id = p + fid::kFixedSize;
    if (emitter.tree.dvdVideoMode) {
      id[0] = kCompression8Bit;
      std::memcpy(id + 1, named->udfName, named->udfNameLength);
    } else {
      // 16-bit units as the layout stored them, recorded high byte first.
      id[0] = kCompression16Bit;
      for (uint32_t i = 0; i < named->udfNameLength / 2u; ++i) {
        char16_t unit;
        std::memcpy(&unit, named->udfName + 2 * i, sizeof unit);
        PutBe16(id + 1 + 2 * i, unit);
      }
    }
  }
  const uint32_t length =
      named ? UdfIdentifierDescriptorLength(named->udfNameLength) : kUdfParentIdentifierLength;
  PutDescriptorTag(p, kTagFileIdentifierDescriptor, uint16_t(length - tag::kSize), location,
                   emitter.settings.udfRevision);
  return length;
}

constexpr char kLengthMismatch[] = "a UDF directory does not match its planned length";

}  // namespace

bool BuildDirectoryIdentifiers(const ImageEmitter& emitter, const TreeNode& directory,
                               uint32_t block, uint8_t* sectors) {
  const uint32_t capacity = UdfDirectorySectors(directory) * kSectorSize;
  if (capacity < kUdfParentIdentifierLength) return emitter.log.Fail(kLengthMismatch);
  // The parent entry; in UDF 1.02 it carries no unique identifier.
  uint32_t offset = PutIdentifier(emitter, sectors, block,
                                  fid::kCharacteristicDirectory | fid::kCharacteristicParent,
                                  *directory.parent, emitter.settings.IsUdf250(), nullptr);
  for (const TreeNode* child = directory.firstChild; child; child = child->nextSibling) {
    if (child->udfNameLength > kUdfMaxNameBytes)
      return emitter.log.Fail("a UDF file identifier is longer than 254 bytes");
    if (offset + UdfIdentifierDescriptorLength(child->udfNameLength) > capacity) {
      offset = capacity + 1;  // more than planned
      break;
    }
    offset += PutIdentifier(emitter, sectors + offset, block + offset / kSectorSize,
                            child->isDirectory ? fid::kCharacteristicDirectory : 0,
                            child->EntryOwner(), true, child);
  }
  return offset == directory.udfDirLength || emitter.log.Fail(kLengthMismatch);
}

}  // namespace vellumcast
