// The planned image as paths and source pieces, from the named and laid-out tree.
#include "verify/planned_disc.h"

#include "bluray/stereo_clip_pair.h"
#include "layout/disc_constants.h"
#include "layout/identifiers.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "tree/tree_node.h"

namespace vellumcast {
namespace {

// The 8-bit characters of an identifier (ISO-8859-1) as UTF-8.
std::string Latin1ToUtf8(const uint8_t* bytes, size_t length) {
  std::string out;
  for (size_t i = 0; i < length; ++i) {
    const uint8_t c = bytes[i];
    if (c < 0x80) {
      out += char(c);
    } else {
      out += char(0xC0 | (c >> 6));
      out += char(0x80 | (c & 0x3F));
    }
  }
  return out;
}

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

std::string Joined(const std::string& parent, const std::string& name) {
  return parent.empty() ? name : parent + "/" + name;
}

// The source path of a node for the system: the root's name is the folder's path
// ending in '/'; a directory read from a folder of another name uses that name.
std::u16string SourcePathOf(const TreeNode& node) {
  if (node.IsRoot()) return node.name;
  std::u16string path = SourcePathOf(*node.parent);
  path += node.isDirectory && node.sourceName ? node.sourceName : node.name;
  if (node.isDirectory) path += u'/';
  return path;
}

// The pieces of an interleaved (.ssif) entry: dependent-view extent i, then base-view
// extent i, each read on from where that clip's last piece ended.
void AddInterleavedPieces(const TreeNode& node, PlannedEntry& entry) {
  const TreeNode* dependent = node.dependentNode;
  const TreeNode* base = node.baseNode;
  if (!dependent || !base || !dependent->stereoPair) return;
  const std::string paths[2] = {HostPath(SourcePathOf(*base)), HostPath(SourcePathOf(*dependent))};
  uint64_t offsets[2] = {0, 0};
  for (const StereoClipPair::RunPiece& piece : dependent->stereoPair->InterleavedRun()) {
    const uint64_t bytes = uint64_t(piece.sectors) * kSectorSize;
    if (bytes == 0) continue;
    entry.pieces.push_back({paths[piece.dependentView], offsets[piece.dependentView], bytes, true});
    offsets[piece.dependentView] += bytes;
  }
}

void PlanDirectory(const TreeNode& directory, const DiscNaming& naming, const std::string& isoPath,
                   const std::string& udfPath, const std::string& display, PlannedDisc& disc) {
  for (const TreeNode* node = directory.firstChild; node; node = node->nextSibling) {
    PlannedEntry entry;
    entry.directory = node->isDirectory;
    entry.display = Joined(display, Utf16ToUtf8(node->name));
    if (naming.iso9660 && node->isoName) {
      entry.isoPath = Joined(isoPath, ShownIsoName(node->isoName, node->isoNameLength, node->isDirectory));
    }
    if (naming.udf && node->udfName) {
      entry.udfPath = Joined(udfPath, ShownUdfName(*node, naming.eightBitUdfNames));
    }
    if (!node->isDirectory) {
      entry.size = node->size;
      if (node->kind == StereoInterleaved) {
        AddInterleavedPieces(*node, entry);
      } else if (node->size) {
        entry.pieces.push_back({HostPath(SourcePathOf(*node)), 0, node->size, false});
      }
      ++disc.files;
      disc.fileBytes += node->size;
    }
    disc.entries.push_back(std::move(entry));
    if (node->isDirectory) {
      const PlannedEntry& added = disc.entries.back();
      const std::string childIso = added.isoPath, childUdf = added.udfPath, childDisplay = added.display;
      PlanDirectory(*node, naming, childIso, childUdf, childDisplay, disc);
    }
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
  PlanDirectory(root, naming, "", "", "", disc);
}

}  // namespace vellumcast
