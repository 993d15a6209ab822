// Joliet file identifiers (Joliet, Microsoft 1995: UCS-2 level 3, escape sequence
// "%/E"): the full name in UTF-16 big-endian, at most 64 units, without a version; and the
// Joliet order of each directory (ascending identifiers, as ECMA-119 9.3 sorts them).
#include "layout/joliet_identifier.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "layout/udf_identifier.h"
#include "platform/text.h"

namespace vellumcast {
namespace {

// Joliet identifiers hold at most 64 UCS-2 units (128 bytes).
constexpr size_t kJolietMaxUnits = 64;
// An extension longer than this is not kept apart when a name is shortened.
constexpr size_t kKeptExtensionUnits = 16;
constexpr uint32_t kMaxNameWarnings = 20;

// Joliet does not allow control characters and * / : ; ? \ in an identifier.
bool Allowed(char16_t c) {
  return c >= 0x20 && c != u'*' && c != u'/' && c != u':' && c != u';' && c != u'?' && c != u'\\';
}

std::u16string NaturalUnits(const TreeNode& node, bool& replaced) {
  std::u16string units;
  for (const char16_t* p = node.name; *p; ++p) {
    char16_t c = DiscUnit(*p);
    replaced = replaced || !Allowed(c);
    units.push_back(Allowed(c) ? c : u'_');
  }
  return units;
}

// Readers that ignore case (Windows) must tell the names of a folder apart too.
std::u16string Key(const std::u16string& units) {
  std::u16string key = units;
  for (char16_t& c : key) {
    if (c >= u'A' && c <= u'Z') c = char16_t(c - u'A' + u'a');
  }
  return key;
}

bool StoreJolietName(LayoutPlanner& planner, TreeNode& node, const std::u16string& units) {
  auto* storage =
      static_cast<uint8_t*>(ArenaAlloc(planner.tree.arena, uint32_t(2 * units.size() + 1)));
  if (!storage) return planner.log.Fail("out of memory while naming the Joliet entries");
  for (size_t i = 0; i < units.size(); ++i) {
    storage[2 * i] = uint8_t(units[i] >> 8);
    storage[2 * i + 1] = uint8_t(units[i]);
  }
  node.jolietName = storage;
  node.jolietNameLength = uint8_t(2 * units.size());
  return true;
}

void WarnChangedName(const LayoutPlanner& planner, TreeNode& node,
                     const std::u16string& identifier, const char* why, uint32_t& changedNames) {
  node.nameWarnings |= kJolietNameWarned;
  if (++changedNames > kMaxNameWarnings) return;
  planner.log.Warn(SourcePathOf(node) + " is named \"" + Utf16ToUtf8(identifier) +
                   "\" in Joliet: " + why);
}

// Ascending by identifier bytes (big-endian units compare as the units do).
void SortJolietOrder(TreeNode& directory) {
  std::vector<TreeNode*> entries;
  for (TreeNode* e = directory.firstChild; e; e = e->nextSibling) entries.push_back(e);
  std::stable_sort(entries.begin(), entries.end(), [](const TreeNode* a, const TreeNode* b) {
    return std::lexicographical_compare(a->jolietName, a->jolietName + a->jolietNameLength,
                                        b->jolietName, b->jolietName + b->jolietNameLength);
  });
  directory.jolietFirstChild = entries.empty() ? nullptr : entries.front();
  for (size_t i = 0; i < entries.size(); ++i) {
    entries[i]->jolietNextSibling = i + 1 < entries.size() ? entries[i + 1] : nullptr;
  }
}

}  // namespace

void WarnJolietNamesLeft(const LayoutPlanner& planner, uint32_t changedNames) {
  if (changedNames <= kMaxNameWarnings) return;
  planner.log.Warn(std::to_string(changedNames - kMaxNameWarnings) +
                   " more names are shortened or numbered in Joliet (" +
                   std::to_string(changedNames) + " in all)");
}

// A name that fits is recorded as it is (characters Joliet does not allow become '_'). A
// longer one is shortened keeping its extension; when that identifier, or a name's, is
// already held in the folder (ignoring the case of A-Z), the entry takes the first "~N"
// variant that no entry of the folder holds or will hold.
bool NameJolietEntries(LayoutPlanner& planner, TreeNode& directory, uint32_t& changedNames) {
  // Numbered variants are given in the order of the source names, so that they do not
  // depend on the order in which the system lists the folder.
  std::vector<TreeNode*> entries;
  for (TreeNode* e = directory.firstChild; e; e = e->nextSibling) entries.push_back(e);
  std::stable_sort(entries.begin(), entries.end(), [](const TreeNode* a, const TreeNode* b) {
    return std::u16string_view(a->name) < std::u16string_view(b->name);
  });
  std::vector<std::u16string> names;
  std::vector<bool> replaced;                  // a character Joliet does not allow became '_'
  std::unordered_set<std::u16string> fitting;  // keys of names recorded as they are
  for (TreeNode* e : entries) {
    bool changed = false;
    names.push_back(NaturalUnits(*e, changed));
    replaced.push_back(changed);
    if (names.back().size() <= kJolietMaxUnits) fitting.insert(Key(names.back()));
  }
  std::unordered_set<std::u16string> given;
  std::unordered_map<std::u16string, uint32_t> nextVariant;
  for (size_t i = 0; i < entries.size(); ++i) {
    TreeNode* e = entries[i];
    const std::u16string& name = names[i];
    const bool tooLong = name.size() > kJolietMaxUnits;
    std::u16string identifier =
        tooLong ? ShortenedName(name, kJolietMaxUnits, 0, kKeptExtensionUnits) : name;
    if ((tooLong && fitting.count(Key(identifier))) || given.count(Key(identifier))) {
      uint32_t& n = nextVariant[name];
      do {
        identifier = ShortenedName(name, kJolietMaxUnits, ++n, kKeptExtensionUnits);
      } while (fitting.count(Key(identifier)) || given.count(Key(identifier)));
    }
    given.insert(Key(identifier));
    if (tooLong) {
      WarnChangedName(planner, *e, identifier,
                      "the name is longer than the 64 characters of a Joliet identifier",
                      changedNames);
    } else if (identifier != name) {
      WarnChangedName(planner, *e, identifier,
                      "another name of its folder has the same Joliet form", changedNames);
    } else if (replaced[i]) {
      WarnChangedName(planner, *e, identifier, "Joliet does not allow some of its characters",
                      changedNames);
    }
    if (!StoreJolietName(planner, *e, identifier)) return false;
  }
  SortJolietOrder(directory);
  return true;
}

}  // namespace vellumcast
