// The planned image as names and source pieces, from the scanned tree and the verifier's
// own naming rules.
#include "verify/planned_disc.h"

#include "base/boot_settings.h"
#include <algorithm>
#include <cstring>

#include "base/disc_constants.h"
#include "bluray/stereo_clip_pair.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "tree/node_path.h"
#include "tree/tree_node.h"
#include "verify/expected_names.h"

namespace vellumcast {
namespace {

// The name a warning gave an entry in UDF: the identifier stored on the node (host-order
// UTF-16 units, or 8-bit characters), decoded as a reader decodes OSTA CS0.
std::string WarnedUdfName(const TreeNode& node, bool eightBit) {
  if (eightBit) return Latin1ToUtf8(node.udfName, node.udfNameLength);
  std::u16string units(node.udfNameLength / 2u, u'\0');
  if (!units.empty()) std::memcpy(units.data(), node.udfName, 2 * units.size());
  return Utf16ToUtf8(DiscText(units));
}

// DVD-Video keeps the listing order of the root and of VIDEO_TS and AUDIO_TS.
bool KeepsListingOrder(const TreeNode& directory) {
  if (directory.IsRoot()) return true;
  return directory.parent->IsRoot() &&
         (EqualsUtf16(directory.name, u"VIDEO_TS") || EqualsUtf16(directory.name, u"AUDIO_TS"));
}

void PlanDirectory(const TreeNode& directory, uint32_t parent, const DiscNaming& naming,
                   PlannedDisc& disc) {
  std::vector<std::string> isoNames;
  if (naming.iso9660) {
    const bool dvd = naming.eightBitUdfNames;
    isoNames =
        ExpectedIsoNames(directory, dvd, naming.udf && !(dvd && KeepsListingOrder(directory)));
  }
  size_t index = 0;
  for (const TreeNode* node = directory.firstChild; node; node = node->nextSibling) {
    PlannedEntry entry;
    entry.parent = parent;
    entry.directory = node->isDirectory;
    entry.node = node;
    // Every entry is in every file system of the image.
    entry.inIso = naming.iso9660;
    entry.inUdf = naming.udf;
    entry.inJoliet = naming.iso9660 && naming.joliet;
    if (!node->isDirectory) {
      entry.size = node->size;
      ++disc.files;
      disc.fileBytes += node->size;
    }
    disc.entries.push_back(std::move(entry));
    if (naming.iso9660) disc.isoNames.push_back(std::move(isoNames[index++]));
    if (node->isDirectory) PlanDirectory(*node, uint32_t(disc.entries.size()), naming, disc);
  }
}

}  // namespace

void PlanDisc(const TreeNode& root, const DiscNaming& naming, PlannedDisc& disc) {
  disc = {};
  disc.naming = naming;
  PlanDirectory(root, 0, naming, disc);
}

std::string PlannedDisc::NameOf(uint32_t index, PlannedNames names) const {
  const PlannedEntry& entry = entries[index];
  const TreeNode& node = *entry.node;
  switch (names) {
    case kPlannedIsoNames: return entry.inIso ? isoNames[index] : std::string();
    case kPlannedRockRidgeNames:
      if (!entry.inIso) return {};
      // A name numbered apart from another of its folder, as the build's warning said.
      if ((node.nameWarnings & kRockRidgeNameWarned) && node.rockRidgeName)
        return Utf16ToUtf8(node.rockRidgeName);
      return ExpectedRockRidgeName(node);
    case kPlannedJolietNames: {
      if (!entry.inJoliet) return {};
      if (node.nameWarnings & kJolietNameWarned)
        return Ucs2BeToUtf8(node.jolietName, node.jolietNameLength);
      bool fits = true;
      return ExpectedJolietName(node, fits);
    }
    case kPlannedUdfNames: break;
  }
  if (!entry.inUdf) return {};
  return node.nameWarnings & kUdfNameWarned ? WarnedUdfName(node, naming.eightBitUdfNames)
                                            : ExpectedUdfName(node, naming.eightBitUdfNames);
}

std::string PlannedDisc::PathOf(uint32_t index, PlannedNames names) const {
  std::string path;
  for (uint32_t at = index + 1; at; at = entries[at - 1].parent) {
    const std::string name = NameOf(at - 1, names);
    if (name.empty()) return {};
    path = path.empty() ? name : name + "/" + path;
  }
  return path;
}

void SourcePiecesOf(const TreeNode& node, std::vector<SourcePiece>& pieces) {
  pieces.clear();
  // Made up by the writer: the catalog is read back by the boot check, the checksum list
  // by the checksum check.
  if (node.bootRole == kBootCatalogFile || node.kind == ChecksumList) {
    pieces.push_back({{}, 0, node.size, false, true});
    return;
  }
  if (node.bootRole == kPatchedBootFile && node.size >= kBootInfoChecksumStart) {
    const std::string path = HostPath(SourcePath(node));
    pieces.push_back({path, 0, kBootInfoTableOffset, false});
    pieces.push_back({{}, kBootInfoTableOffset, kBootInfoTableBytes, false, true});
    pieces.push_back({path, kBootInfoChecksumStart, node.size - kBootInfoChecksumStart, false});
    return;
  }
  if (node.kind != StereoInterleaved) {
    if (node.size) pieces.push_back({HostPath(SourcePath(node)), 0, node.size, false});
    return;
  }
  // Dependent-view extent i, then base-view extent i, each read on from where that
  // clip's last piece ended.
  const TreeNode* dependent = node.dependentNode;
  const TreeNode* base = node.baseNode;
  if (!dependent || !base || !dependent->stereoPair) return;
  const std::string paths[2] = {HostPath(SourcePath(*base)), HostPath(SourcePath(*dependent))};
  for (const InterleavedPiece& piece : InterleavedPieces(*dependent->stereoPair)) {
    pieces.push_back({paths[piece.dependentView], piece.offset, piece.bytes, true});
  }
}

std::string SourceHostPath(const TreeNode& node) { return HostPath(SourcePath(node)); }

std::vector<InterleavedPiece> InterleavedPieces(const StereoClipPair& pair) {
  // Blu-ray 3D (BD-ROM Part 3, the SSIF file): the extents of the two views' stream files,
  // as the clip information lists them, alternate starting with the dependent view;
  // extents left over when one list is longer follow in order.
  const std::vector<uint32_t>* views[2] = {&pair.baseExtents, &pair.dependentExtents};
  std::vector<InterleavedPiece> pieces;
  uint64_t offsets[2] = {0, 0};
  const size_t rounds = std::max(views[0]->size(), views[1]->size());
  for (size_t i = 0; i < rounds; ++i) {
    for (int view : {1, 0}) {
      if (i >= views[view]->size() || (*views[view])[i] == 0) continue;
      const uint64_t bytes = uint64_t((*views[view])[i]) * kSectorSize;
      pieces.push_back({view == 1, offsets[view], bytes});
      offsets[view] += bytes;
    }
  }
  return pieces;
}

}  // namespace vellumcast
