// Rock Ridge names unique within a folder: an entry whose name an earlier entry of the
// folder already has is recorded under a numbered variant.
#include "layout/rock_ridge_names.h"

#include <cstring>
#include <string>
#include <unordered_set>

#include "layout/iso_hierarchy.h"
#include "layout/udf_identifier.h"
#include "platform/text.h"
#include "tree/node_path.h"

namespace vellumcast {
namespace {

constexpr uint32_t kMaxNameWarnings = 20;
// An extension longer than this is not kept apart from the number.
constexpr size_t kKeptExtensionUnits = 32;

bool StoreRockRidgeName(LayoutPlanner& planner, TreeNode& node, const std::u16string& name) {
  const size_t bytes = 2 * (name.size() + 1);
  auto* storage = static_cast<char16_t*>(
      ArenaAllocAligned(planner.tree.arena, uint32_t(bytes), alignof(char16_t)));
  if (!storage) return planner.log.Fail("out of memory while naming the Rock Ridge entries");
  std::memcpy(storage, name.c_str(), bytes);
  node.rockRidgeName = storage;
  return true;
}

}  // namespace

bool NameRockRidgeEntries(LayoutPlanner& planner, TreeNode& directory, uint32_t& changedNames) {
  std::unordered_set<std::string> names;  // every name as the folder lists it
  for (const TreeNode* e = directory.firstChild; e; e = e->nextSibling)
    names.insert(RockRidgeName(*e));
  std::unordered_set<std::string> given;
  for (TreeNode* e = directory.firstChild; e; e = e->nextSibling) {
    e->rockRidgeName = nullptr;
    if (given.insert(RockRidgeName(*e)).second) continue;
    const std::u16string name = e->name;
    std::u16string variant;
    for (uint32_t n = 1; variant.empty() || names.count(Utf16ToUtf8(variant)); ++n) {
      variant = ShortenedName(name, name.size() + 16, n, kKeptExtensionUnits);
    }
    names.insert(Utf16ToUtf8(variant));
    given.insert(Utf16ToUtf8(variant));
    if (!StoreRockRidgeName(planner, *e, variant)) return false;
    e->nameWarnings |= kRockRidgeNameWarned;
    if (++changedNames <= kMaxNameWarnings) {
      planner.log.Warn(SourcePathText(*e) + " is named \"" + Utf16ToUtf8(variant) +
                       "\" in Rock Ridge: another entry of its folder has this name");
    }
  }
  return true;
}

void WarnRockRidgeNamesLeft(const LayoutPlanner& planner, uint32_t changedNames) {
  if (changedNames <= kMaxNameWarnings) return;
  planner.log.Warn(std::to_string(changedNames - kMaxNameWarnings) +
                   " more names are numbered in Rock Ridge (" + std::to_string(changedNames) +
                   " in all)");
}

}  // namespace vellumcast
