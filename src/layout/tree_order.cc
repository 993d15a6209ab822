// The two orders of every directory: the primary order, sorted by UDF file identifier
// for UDF images (OSTA UDF leaves the order free; sorting makes it stable and readable),
// and the ISO 9660 order of ECMA-119 9.3 (ascending identifiers).
#include "layout/tree_order.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

#include "layout/iso_identifier.h"
#include "layout/joliet_identifier.h"
#include "layout/rock_ridge_names.h"
#include "layout/udf_identifier.h"
#include "platform/text.h"
#include "tree/tree_walk.h"

namespace vellumcast {
namespace {

std::vector<TreeNode*> Entries(const TreeNode& directory) {
  std::vector<TreeNode*> entries;
  for (TreeNode* e = directory.firstChild; e; e = e->nextSibling) entries.push_back(e);
  return entries;
}

// In DVD-Video mode players expect VIDEO_TS and AUDIO_TS in the order the scan gave them
// (their files by the DVD-Video rules), and the two folders first in the root.
bool KeepsScanOrder(const LayoutPlanner& planner, const TreeNode& directory) {
  if (!planner.tree.dvdVideoMode) return false;
  if (directory.IsRoot()) return true;
  return directory.parent->IsRoot() &&
         (EqualsUtf16(directory.name, u"VIDEO_TS") || EqualsUtf16(directory.name, u"AUDIO_TS"));
}

// The stored identifier bytes compared as units: 16-bit units in the 16-bit form, bytes
// in the 8-bit form; a prefix sorts first.
bool UdfNameLess(const TreeNode* a, const TreeNode* b, bool eightBit) {
  if (eightBit) {
    return std::lexicographical_compare(a->udfName, a->udfName + a->udfNameLength, b->udfName,
                                        b->udfName + b->udfNameLength);
  }
  uint32_t na = a->udfNameLength / 2, nb = b->udfNameLength / 2;
  for (uint32_t i = 0; i < na && i < nb; ++i) {
    char16_t ua = UdfNameUnit(*a, i), ub = UdfNameUnit(*b, i);
    if (ua != ub) return ua < ub;
  }
  return na < nb;
}

bool IsoNameLess(const TreeNode* a, const TreeNode* b) {
  return std::strcmp(reinterpret_cast<const char*>(a->isoName),
                     reinterpret_cast<const char*>(b->isoName)) < 0;
}

// Relinks the primary order of `directory` in `entries` order.
void Relink(TreeNode& directory, const std::vector<TreeNode*>& entries) {
  directory.firstChild = entries.empty() ? nullptr : entries.front();
  for (size_t i = 0; i < entries.size(); ++i) {
    entries[i]->nextSibling = i + 1 < entries.size() ? entries[i + 1] : nullptr;
  }
}

// Source names in UTF-16 unit order, after the first `kept` entries. Two entries whose
// identifiers come out equal are told apart by numbered variants given in primary order;
// sorting by source name first makes that choice, and the order of the file data,
// independent of the order in which the system lists the folder.
void SortBySourceName(TreeNode& directory, size_t kept = 0) {
  std::vector<TreeNode*> entries = Entries(directory);
  if (kept > entries.size()) kept = entries.size();
  std::stable_sort(entries.begin() + std::ptrdiff_t(kept), entries.end(),
                   [](const TreeNode* a, const TreeNode* b) {
                     return std::u16string_view(a->name) < std::u16string_view(b->name);
                   });
  Relink(directory, entries);
}

// The DVD-Video folders the scan put first in the root.
size_t LeadingDvdVideoFolders(const TreeNode& root) {
  size_t n = 0;
  for (const TreeNode* e = root.firstChild; e && e->isDirectory; e = e->nextSibling, ++n) {
    if (!EqualsUtf16(e->name, u"VIDEO_TS") && !EqualsUtf16(e->name, u"AUDIO_TS")) break;
  }
  return n;
}

}  // namespace

void SortUdfOrder(const LayoutPlanner& planner, TreeNode& directory) {
  if (KeepsScanOrder(planner, directory)) return;
  std::vector<TreeNode*> entries = Entries(directory);
  bool eightBit = planner.tree.dvdVideoMode;
  std::stable_sort(
      entries.begin(), entries.end(),
      [eightBit](const TreeNode* a, const TreeNode* b) { return UdfNameLess(a, b, eightBit); });
  Relink(directory, entries);
}

void SortIsoOrder(TreeNode& directory) {
  // Inserting each entry of the primary order before the first one whose identifier is
  // greater or equal gives ascending identifiers with equal ones in reverse primary
  // order: the same as a stable sort of the reversed primary order.
  std::vector<TreeNode*> entries = Entries(directory);
  std::reverse(entries.begin(), entries.end());
  std::stable_sort(entries.begin(), entries.end(), IsoNameLess);  // strcmp compares unsigned bytes
  directory.isoFirstChild = entries.empty() ? nullptr : entries.front();
  for (size_t i = 0; i < entries.size(); ++i) {
    entries[i]->isoNextSibling = i + 1 < entries.size() ? entries[i + 1] : nullptr;
  }
}

bool NameAndSortTree(LayoutPlanner& planner, TreeNode& root) {
  uint32_t changedNames = 0;
  uint32_t changedJolietNames = 0;
  uint32_t changedRockRidgeNames = 0;
  const bool joliet = planner.settings.WritesIso9660() && planner.settings.joliet;
  const bool rockRidge = planner.settings.WritesIso9660() && planner.settings.rockRidge;
  // Each directory is named and sorted when visited; its subdirectories are queued after.
  const bool named = WalkBreadthFirst(root, [&](TreeNode& directory) {
    // Every folder is taken in the order of its names, whatever the order in which the
    // system lists it (so is the file data placed); the DVD-Video folders keep the order
    // of their rules, and the root of a DVD-Video image begins with them. A UDF image
    // then sorts by identifier.
    if (!KeepsScanOrder(planner, directory)) {
      SortBySourceName(directory);
    } else if (directory.IsRoot()) {
      SortBySourceName(directory, LeadingDvdVideoFolders(directory));
    }
    if (planner.settings.WritesIso9660() && !NameIsoEntries(planner, directory)) return false;
    if (planner.settings.WritesUdf() && !NameUdfEntries(planner, directory, changedNames))
      return false;
    if (planner.settings.WritesUdf()) SortUdfOrder(planner, directory);
    if (planner.settings.WritesIso9660()) SortIsoOrder(directory);
    if (joliet && !NameJolietEntries(planner, directory, changedJolietNames)) return false;
    if (rockRidge && !NameRockRidgeEntries(planner, directory, changedRockRidgeNames)) return false;
    return true;
  });
  if (!named) return false;
  WarnChangedNamesLeft(planner, changedNames);
  WarnJolietNamesLeft(planner, changedJolietNames);
  WarnRockRidgeNamesLeft(planner, changedRockRidgeNames);
  return true;
}

}  // namespace vellumcast
