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
#include "tree/node_path.h"

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

// Why a name that fits is recorded differently.
enum class Replaced : uint8_t { None, NotAllowed, BeyondUcs2, Unshown };

std::u16string NaturalUnits(const TreeNode& node, Replaced& replaced) {
  bool beyondUcs2 = false;
  std::u16string units = Ucs2Units(DiscText(node.name), beyondUcs2);
  if (beyondUcs2) replaced = Replaced::BeyondUcs2;
  for (char16_t& c : units) {
    if (Allowed(c)) continue;
    c = u'_';
    if (replaced == Replaced::None) replaced = Replaced::NotAllowed;
  }
  return units;
}

// The name under which a reader finds an identifier: Windows ignores case (comparing
// names upper-cased unit by unit) and trailing dots and spaces, Linux's Joliet driver
// drops trailing dots. Identifiers of one folder with the same key would be one name.
std::u16string Key(const std::u16string& units) {
  std::u16string key = units;
  while (!key.empty() && (key.back() == u'.' || key.back() == u' ')) key.pop_back();
  for (char16_t& c : key) c = UpperCaseUnit(c);
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

void WarnChangedName(const LayoutPlanner& planner, TreeNode& node, const std::u16string& identifier,
                     const char* why, uint32_t& changedNames) {
  node.nameWarnings |= kJolietNameWarned;
  if (++changedNames > kMaxNameWarnings) return;
  planner.log.Warn(SourcePathText(node) + " is named \"" + Utf16ToUtf8(identifier) +
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

std::u16string Ucs2Units(std::u16string_view text, bool& beyondUcs2) {
  std::u16string units;
  for (size_t i = 0; i < text.size(); ++i) {
    if (SurrogatePairAt(text, i)) {
      units.push_back(u'_');
      beyondUcs2 = true;
      ++i;
    } else {
      units.push_back(text[i]);
    }
  }
  return units;
}

void WarnJolietNamesLeft(const LayoutPlanner& planner, uint32_t changedNames) {
  if (changedNames <= kMaxNameWarnings) return;
  planner.log.Warn(std::to_string(changedNames - kMaxNameWarnings) +
                   " more names are shortened or numbered in Joliet (" +
                   std::to_string(changedNames) + " in all)");
}

namespace {

const char* ChangeReason(bool tooLong, bool numbered, Replaced replaced) {
  if (tooLong) return "the name is longer than the 64 characters of a Joliet identifier";
  if (numbered) {
    return "another name of its folder is the same name to Windows or Linux (letter case, "
           "trailing dots and spaces aside)";
  }
  switch (replaced) {
    case Replaced::BeyondUcs2: return "Joliet holds no characters beyond U+FFFF";
    case Replaced::NotAllowed: return "Joliet does not allow some of its characters";
    case Replaced::Unshown: return "Windows and Linux show no name made of dots and spaces only";
    case Replaced::None: break;
  }
  return nullptr;
}

}  // namespace

// A name that fits is recorded as it is (characters Joliet does not allow become '_'). A
// longer one is shortened keeping its extension; when that identifier, or a name's, is
// already held in the folder as a reader compares names (see Key), the entry takes the
// first "~N" variant of its name without trailing dots and spaces that no entry of the
// folder holds or will hold.
bool NameJolietEntries(LayoutPlanner& planner, TreeNode& directory, uint32_t& changedNames) {
  // Numbered variants are given in the order of the source names, so that they do not
  // depend on the order in which the system lists the folder.
  std::vector<TreeNode*> entries;
  for (TreeNode* e = directory.firstChild; e; e = e->nextSibling) entries.push_back(e);
  std::stable_sort(entries.begin(), entries.end(), [](const TreeNode* a, const TreeNode* b) {
    return std::u16string_view(a->name) < std::u16string_view(b->name);
  });
  std::vector<std::u16string> names;
  std::vector<Replaced> replaced;
  std::unordered_set<std::u16string> fitting;  // keys of names recorded as they are
  for (TreeNode* e : entries) {
    replaced.push_back(Replaced::None);
    names.push_back(NaturalUnits(*e, replaced.back()));
    if (Key(names.back()).empty()) {
      names.back().back() = u'_';
      replaced.back() = Replaced::Unshown;
    }
    if (names.back().size() <= kJolietMaxUnits) fitting.insert(Key(names.back()));
  }
  std::unordered_set<std::u16string> given;
  std::unordered_map<std::u16string, uint32_t> nextVariant;
  for (size_t i = 0; i < entries.size(); ++i) {
    const std::u16string& name = names[i];
    const bool tooLong = name.size() > kJolietMaxUnits;
    std::u16string identifier =
        tooLong ? ShortenedName(name, kJolietMaxUnits, 0, kKeptExtensionUnits) : name;
    if ((tooLong && fitting.count(Key(identifier))) || given.count(Key(identifier))) {
      const std::u16string stem = name.substr(0, name.find_last_not_of(u". ") + 1);
      uint32_t& n = nextVariant[stem];
      do {
        identifier = ShortenedName(stem, kJolietMaxUnits, ++n, kKeptExtensionUnits);
      } while (fitting.count(Key(identifier)) || given.count(Key(identifier)));
    }
    given.insert(Key(identifier));
    if (const char* why = ChangeReason(tooLong, identifier != name, replaced[i]))
      WarnChangedName(planner, *entries[i], identifier, why, changedNames);
    if (!StoreJolietName(planner, *entries[i], identifier)) return false;
  }
  SortJolietOrder(directory);
  return true;
}

}  // namespace vellumcast
