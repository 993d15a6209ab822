// Source trees for tests: a scan through the real builder with its warnings collected,
// lookups of nodes by name, and trees made by hand for tests that skip the scan.
#pragma once

#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/disc_constants.h"
#include "build/image_builder.h"
#include "layout/entry_extents.h"
#include "platform/text.h"
#include "tree/node_arena.h"
#include "tree/source_entry.h"
#include "tree/tree_node.h"
#include "tree/tree_walk.h"

namespace vellumcast::test {

struct ScanResult {
  ImageBuilder builder;
  std::vector<std::string> warnings;
  bool ok = false;

  TreeNode* root() const { return builder.tree.root; }
  bool Warned(const std::string& part) const {
    for (const std::string& w : warnings) {
      if (w.find(part) != std::string::npos) return true;
    }
    return false;
  }
};

struct ScanOptions {
  uint32_t formatFlags = FormatUdf;
  uint16_t udfRevision = 0x0250;
  std::unique_ptr<StereoPlan> stereoPlan;
  std::string targetPath;
  uint32_t fileLimit = 4294967295u;
};

inline std::unique_ptr<ScanResult> Scan(const std::string& source, ScanOptions options = {}) {
  auto result = std::make_unique<ScanResult>();
  ImageBuilder& b = result->builder;
  b.Initialize();
  b.settings.formatFlags = options.formatFlags;
  b.settings.udfRevision = options.udfRevision;
  b.tree.stereoPlan = std::move(options.stereoPlan);
  b.tree.targetPath = Utf8ToUtf16(options.targetPath);
  b.tree.fileLimit = options.fileLimit;
  b.log.warning = [](const std::string& text, void* context) {
    static_cast<std::vector<std::string>*>(context)->push_back(text);
  };
  b.log.warningContext = &result->warnings;
  std::string path = source;
  if (path.empty() || path.back() != '/') path += '/';
  result->ok = b.ScanSourceTree(Utf8ToUtf16(path).c_str());
  return result;
}

inline std::string NameOf(const TreeNode* node) { return Utf16ToUtf8(node->name); }

// Names of a directory's entries in primary order.
inline std::vector<std::string> ChildNames(const TreeNode* directory) {
  std::vector<std::string> names;
  for (const TreeNode* n = directory ? directory->firstChild : nullptr; n; n = n->nextSibling) {
    names.push_back(NameOf(n));
  }
  return names;
}

// The node at a '/'-separated path below `directory`, or null.
inline TreeNode* Find(TreeNode* directory, const std::string& path) {
  size_t start = 0;
  TreeNode* node = directory;
  while (node && start <= path.size()) {
    size_t slash = path.find('/', start);
    std::string part =
        path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    TreeNode* next = nullptr;
    for (TreeNode* c = node->firstChild; c; c = c->nextSibling) {
      if (NameOf(c) == part) next = c;
    }
    node = next;
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  return node;
}

// Source trees made by hand for tests that skip the scan: the root and every entry carved
// from the builder's arena the way the scan carves them, entries appended through the
// real AddChild (primary chain, counters, sector counts). `LayoutTree` leaves the rest to
// the layout plan; `HandTree` also gives ISO 9660 identifiers and plans an ISO 9660-only
// layout itself, for testing the writer without the plan.

// Creates the builder's arena and its root directory named `name` (the source path,
// ending in '/'), its own parent, as the scan leaves it.
inline TreeNode* MakeRoot(ImageBuilder& b, const std::u16string& name) {
  b.tree.arena = CreateArena(8192);
  auto* root =
      static_cast<TreeNode*>(ArenaAllocAligned(b.tree.arena, sizeof(TreeNode), alignof(TreeNode)));
  uint32_t bytes = uint32_t(2 * name.size() + 2);
  auto* copy = static_cast<char16_t*>(ArenaAllocAligned(b.tree.arena, bytes, alignof(char16_t)));
  std::memcpy(copy, name.c_str(), bytes);
  root->name = copy;
  root->parent = root;
  root->isDirectory = 1;
  root->isoNameLength = 2;
  b.tree.root = root;
  return root;
}

// Appends an entry after `last` (the parent's last entry, null for none) and moves
// `last` to it.
inline TreeNode* AddEntry(ImageBuilder& b, TreeNode& parent, TreeNode*& last,
                          const std::u16string& name, bool directory, uint64_t size = 0) {
  SourceEntry entry = MadeUpEntry(name.c_str(), directory);
  entry.size = directory ? 0 : size;
  TreeNode* node = nullptr;
  AddChild(b.tree, b.log, &parent, last, entry, &node);
  return node;
}

struct LayoutTree {
  ImageBuilder builder;

  explicit LayoutTree(uint32_t formatFlags, uint16_t udfRevision = 0x0102, bool dvdVideo = false) {
    builder.Initialize();
    builder.settings.formatFlags = formatFlags;
    builder.settings.udfRevision = udfRevision;
    builder.tree.dvdVideoMode = dvdVideo;
    MakeRoot(builder, u"/source/")->fileEntryLocation = 2;
  }

  TreeNode& root() { return *builder.tree.root; }

  std::unordered_map<TreeNode*, TreeNode*> lastChild;  // current end of each primary order

  TreeNode* AddDir(TreeNode& parent, const std::u16string& name) {
    return AddEntry(builder, parent, lastChild[&parent], name, true);
  }

  TreeNode* AddFile(TreeNode& parent, const std::u16string& name, uint64_t size = 0) {
    return AddEntry(builder, parent, lastChild[&parent], name, false, size);
  }

  // Gives `node` the UDF identifier the layout stores for its name, without planning:
  // the UTF-16 units (16-bit form) or their low bytes (8-bit form); UdfName reads it back.
  // The identifier as the layout stores it (DiscText for the 16-bit form).
  TreeNode* WithUdfName(TreeNode* node, bool eightBit = false) {
    std::u16string name = eightBit ? std::u16string(node->name) : DiscText(node->name);
    std::string bytes;
    for (char16_t c : name) {
      if (eightBit) {
        bytes += char(c);
      } else {
        bytes.append(reinterpret_cast<const char*>(&c), 2);
      }
    }
    node->udfName = static_cast<const uint8_t*>(
        ArenaCopy(builder.tree.arena, bytes.data(), uint32_t(bytes.size())));
    node->udfNameLength = uint8_t(bytes.size());
    return node;
  }
};

inline std::string IsoName(const TreeNode* node) {
  return std::string(reinterpret_cast<const char*>(node->isoName), node->isoNameLength);
}

// The UDF identifier as UTF-16 (16-bit form) or as its bytes widened (8-bit form).
inline std::u16string UdfName(const TreeNode* node, bool eightBit = false) {
  std::u16string out;
  if (eightBit) {
    for (uint32_t i = 0; i < node->udfNameLength; ++i) out.push_back(node->udfName[i]);
  } else {
    for (uint32_t i = 0; i < node->udfNameLength / 2u; ++i) {
      char16_t c;
      std::memcpy(&c, node->udfName + 2 * i, 2);
      out.push_back(c);
    }
  }
  return out;
}

struct HandTree {
  ImageBuilder b;
  // `sourcePath` ends in '/'; the root's records carry `time`.
  explicit HandTree(const std::string& sourcePath, int64_t time = 1700000000) {
    b.Initialize();
    b.settings.buildTime = time;
    b.settings.formatFlags = FormatIso9660;
    MakeRoot(b, Utf8ToUtf16(sourcePath))->modifiedTime = time;
  }

  // Appends through AddChild, then gives the entry its ISO 9660 identifier and the same
  // place at the end of the ISO 9660 order.
  TreeNode* Append(TreeNode* parent, const std::string& name, const char* isoName, bool directory,
                   uint64_t size, int64_t time) {
    TreeNode* last = parent->firstChild;
    while (last && last->nextSibling) last = last->nextSibling;
    TreeNode* n = AddEntry(b, *parent, last, Utf8ToUtf16(name), directory, size);
    if (isoName) {
      n->isoNameLength = uint8_t(std::strlen(isoName));
      n->isoName =
          static_cast<const uint8_t*>(ArenaCopy(b.tree.arena, isoName, n->isoNameLength + 1));
    }
    n->modifiedTime = time;
    TreeNode** isoLink = &parent->isoFirstChild;
    while (*isoLink) isoLink = &(*isoLink)->isoNextSibling;
    *isoLink = n;
    return n;
  }

  TreeNode* AddDir(TreeNode* parent, const std::string& name, const char* isoName,
                   int64_t time = 1600000000) {
    return Append(parent, name, isoName, true, 0, time);
  }

  TreeNode* AddFile(TreeNode* parent, const std::string& name, const char* isoName, uint64_t size,
                    int64_t time = 1500000000) {
    return Append(parent, name, isoName, false, size, time);
  }

  // The ISO 9660-only layout: path tables from 18, directory extents breadth-first
  // with records packed so that none crosses a sector boundary, file data depth-first
  // (a directory's files before its subdirectories), the image padded to 32 sectors.
  void PlanIsoOnly() {
    const uint32_t extra = b.tree.dvdVideoMode ? 6 : 0;
    uint32_t ptBytes = 0, isoSectors = 0;
    uint16_t number = 1;
    WalkBreadthFirst(
        *b.tree.root, &TreeNode::isoFirstChild, &TreeNode::isoNextSibling,
        [&](TreeNode& directory) {
          TreeNode* d = &directory;
          ptBytes += 8 + d->isoNameLength + (d->isoNameLength % 2);
          uint32_t offset = 0;
          auto place = [&](uint32_t length) {
            if (offset % kSectorSize + length > kSectorSize)
              offset += kSectorSize - offset % kSectorSize;
            offset += length;
          };
          place(34 + extra);
          place(34 + extra);
          for (TreeNode* e = d->isoFirstChild; e; e = e->isoNextSibling) {
            uint32_t records = e->isDirectory ? 1 : IsoExtentCount(e->size);
            for (uint32_t i = 0; i < records; ++i) {
              place(33 + e->isoNameLength + (e->isoNameLength % 2 == 0 ? 1 : 0) + extra);
            }
          }
          d->isoDirSize = offset;
          d->pathTableNumber = number++;
          d->isoDirLocation = isoSectors;
          isoSectors += (offset + kSectorSize - 1) / kSectorSize;
          return true;
        });
    uint32_t dataSectors = 0;
    PlaceData(b.tree.root, dataSectors);
    b.plan.pathTableStart = 18;
    b.plan.pathTableBytes = ptBytes;
    b.plan.pathTableSectors = int32_t((ptBytes + kSectorSize - 1) / kSectorSize);
    b.plan.isoDirectorySectors = int32_t(isoSectors);
    b.plan.fileDataSectors = int32_t(dataSectors);
    b.plan.dataBase = 18;
    b.plan.fileDataOffset = 2 * b.plan.pathTableSectors + b.plan.isoDirectorySectors;
    b.plan.volumeSectors =
        (b.plan.dataBase + b.plan.fileDataOffset + b.plan.fileDataSectors + 31) / 32 * 32;
  }

  void PlaceData(TreeNode* d, uint32_t& dataSectors) {
    for (TreeNode* e = d->firstChild; e; e = e->nextSibling) {
      if (e->isDirectory || e->kind == StereoBase || e->kind == StereoInterleaved) continue;
      e->dataStart = dataSectors;
      dataSectors += e->sectorCount;
      if (e->kind == StereoDependent) {  // the pair's interleaved run
        dataSectors += e->baseNode->sectorCount;
        e->baseNode->dataStart = e->dataStart;
      }
    }
    for (TreeNode* e = d->firstChild; e; e = e->nextSibling) {
      if (e->isDirectory) PlaceData(e, dataSectors);
    }
  }
};

}  // namespace vellumcast::test
