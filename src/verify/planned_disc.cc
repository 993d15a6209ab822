// The planned image as names and source pieces, from the named and laid-out tree.
#include "verify/planned_disc.h"

#include "base/boot_settings.h"
#include "base/disc_constants.h"
#include "bluray/stereo_clip_pair.h"
#include "layout/iso_hierarchy.h"
#include "layout/udf_identifier.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "tree/tree_node.h"

namespace vellumcast {
namespace {

// The UDF file identifier as a reader decodes it from OSTA CS0: an unpaired low
// surrogate shows as U+FFFD.
std::string ShownUdfName(const TreeNode& node, bool eightBit) {
  if (eightBit) return Latin1ToUtf8(node.udfName, node.udfNameLength);
  std::u16string units;
  for (uint32_t i = 0; i < node.udfNameLength / 2u; ++i) units += UdfNameUnit(node, i);
  for (size_t i = 0; i < units.size(); ++i) {
    const bool paired = i > 0 && units[i - 1] >= 0xD800 && units[i - 1] <= 0xDBFF;
    if (units[i] >= 0xDC80 && units[i] <= 0xDCFF && !paired) units[i] = 0xFFFD;
  }
  return Utf16ToUtf8(units);
}

// The source path of a node for the system: the root's name is the folder's path
// ending in '/'; a directory read from a folder of another name uses that name.
std::u16string SourceFilePath(const TreeNode& node) {
  if (node.IsRoot()) return node.name;
  std::u16string path = SourceFilePath(*node.parent);
  path += node.isDirectory && node.sourceName ? node.sourceName : node.name;
  if (node.isDirectory) path += u'/';
  return path;
}

void PlanDirectory(const TreeNode& directory, uint32_t parent, const DiscNaming& naming,
                   PlannedDisc& disc) {
  for (const TreeNode* node = directory.firstChild; node; node = node->nextSibling) {
    PlannedEntry entry;
    entry.parent = parent;
    entry.directory = node->isDirectory;
    entry.node = node;
    const PlannedEntry* folder = parent ? &disc.entries[parent - 1] : nullptr;
    entry.inIso = naming.iso9660 && node->isoName && (!folder || folder->inIso);
    entry.inUdf = naming.udf && node->udfName && (!folder || folder->inUdf);
    entry.inJoliet =
        naming.iso9660 && naming.joliet && node->jolietName && (!folder || folder->inJoliet);
    if (!node->isDirectory) {
      entry.size = node->size;
      ++disc.files;
      disc.fileBytes += node->size;
    }
    disc.entries.push_back(std::move(entry));
    if (node->isDirectory) PlanDirectory(*node, uint32_t(disc.entries.size()), naming, disc);
  }
}

}  // namespace

std::string ShownIsoName(const uint8_t* identifier, size_t length, bool directory) {
  std::string id(reinterpret_cast<const char*>(identifier), length);
  if (!directory) {
    const size_t semicolon = id.rfind(';');
    if (semicolon != std::string::npos) id.resize(semicolon);
    if (!id.empty() && id.back() == '.') id.pop_back();
  }
  return Latin1ToUtf8(reinterpret_cast<const uint8_t*>(id.data()), id.size());
}

void PlanDisc(const TreeNode& root, const DiscNaming& naming, PlannedDisc& disc) {
  disc = {};
  disc.naming = naming;
  PlanDirectory(root, 0, naming, disc);
}

std::string PlannedDisc::NameOf(uint32_t index, PlannedNames names) const {
  const PlannedEntry& entry = entries[index];
  const TreeNode& node = *entry.node;
  switch (names) {
    case kPlannedIsoNames:
      return entry.inIso ? ShownIsoName(node.isoName, node.isoNameLength, node.isDirectory)
                         : std::string();
    case kPlannedRockRidgeNames: return entry.inIso ? RockRidgeName(node) : std::string();
    case kPlannedJolietNames:
      return entry.inJoliet ? Ucs2BeToUtf8(node.jolietName, node.jolietNameLength) : std::string();
    case kPlannedUdfNames: break;
  }
  return entry.inUdf ? ShownUdfName(node, naming.eightBitUdfNames) : std::string();
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
  if (node.bootRole == kBootCatalogFile) {
    pieces.push_back({{}, 0, node.size, false, true});
    return;
  }
  if (node.bootRole == kPatchedBootFile && node.size >= kBootInfoChecksumStart) {
    const std::string path = HostPath(SourceFilePath(node));
    pieces.push_back({path, 0, kBootInfoTableOffset, false});
    pieces.push_back({{}, kBootInfoTableOffset, kBootInfoTableBytes, false, true});
    pieces.push_back({path, kBootInfoChecksumStart, node.size - kBootInfoChecksumStart, false});
    return;
  }
  if (node.kind != StereoInterleaved) {
    if (node.size) pieces.push_back({HostPath(SourceFilePath(node)), 0, node.size, false});
    return;
  }
  // Dependent-view extent i, then base-view extent i, each read on from where that
  // clip's last piece ended.
  const TreeNode* dependent = node.dependentNode;
  const TreeNode* base = node.baseNode;
  if (!dependent || !base || !dependent->stereoPair) return;
  const std::string paths[2] = {HostPath(SourceFilePath(*base)),
                                HostPath(SourceFilePath(*dependent))};
  uint64_t offsets[2] = {0, 0};
  for (const StereoClipPair::RunPiece& piece : dependent->stereoPair->InterleavedRun()) {
    const uint64_t bytes = uint64_t(piece.sectors) * kSectorSize;
    if (bytes == 0) continue;
    pieces.push_back({paths[piece.dependentView], offsets[piece.dependentView], bytes, true});
    offsets[piece.dependentView] += bytes;
  }
}

std::string SourceHostPath(const TreeNode& node) { return HostPath(SourceFilePath(node)); }

std::string SourceDisplayPath(const TreeNode& node) {
  std::u16string path;
  for (const TreeNode* at = &node; !at->IsRoot(); at = at->parent) {
    path = path.empty() ? std::u16string(at->name) : at->name + (u"/" + path);
  }
  return Utf16ToUtf8(path);
}

}  // namespace vellumcast
