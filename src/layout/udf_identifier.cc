// UDF file identifiers (ECMA-167 4/14.4.4, OSTA UDF 2.1.1 and 2.3.4): the name's UTF-16
// units (compression identifier 16) or, in DVD-Video mode, its 8-bit ISO-8859-1 form
// (compression identifier 8).
#include "layout/udf_identifier.h"

#include <cstring>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "base/disc_constants.h"
#include "layout/iso_identifier.h"
#include "platform/text.h"
#include "tree/node_path.h"

namespace vellumcast {
namespace {

// An extension (from the last '.') longer than this is not kept when a name is shortened.
constexpr size_t kKeptExtensionUnits = 32;
// Warnings about changed names before the rest are summed up in one line.
constexpr uint32_t kMaxNameWarnings = 20;

// A UDF identifier as a string of units: UTF-16 units in the 16-bit form, one byte value
// per unit in the 8-bit form. Both compare as the stored bytes do.
using UdfUnits = std::u16string;

UdfUnits NaturalUnits(const TreeNode& node, bool eightBit) {
  UdfUnits units;
  if (eightBit) {
    for (char c : EightBitName(node.name)) units.push_back(char16_t(uint8_t(c)));
  } else {
    units = DiscText(node.name);
  }
  return units;
}

UdfUnits Shortened(const UdfUnits& name, size_t limit, uint32_t variant) {
  return ShortenedName(name, limit, variant, kKeptExtensionUnits);
}

bool StoreUdfName(LayoutPlanner& planner, TreeNode& node, const UdfUnits& units, bool eightBit) {
  size_t bytes = eightBit ? units.size() : 2 * units.size();
  auto* storage =
      static_cast<uint8_t*>(ArenaAlloc(planner.tree.arena, static_cast<uint32_t>(bytes + 1)));
  if (!storage) return planner.log.Fail("out of memory while naming the UDF entries");
  if (eightBit) {
    for (size_t i = 0; i < units.size(); ++i) storage[i] = uint8_t(units[i]);
  } else {
    std::memcpy(storage, units.data(), bytes);
  }
  node.udfName = storage;
  node.udfNameLength = static_cast<uint8_t>(bytes);
  return true;
}

// One warning for a full name that UDF records differently: the source path, the name on
// the disc and why. After kMaxNameWarnings of them the rest are only counted.
void WarnChangedName(const LayoutPlanner& planner, TreeNode& node, const UdfUnits& identifier,
                     bool shortened, uint32_t& changedNames) {
  node.nameWarnings |= kUdfNameWarned;
  if (++changedNames > kMaxNameWarnings) return;
  planner.log.Warn(SourcePathText(node) + " is named \"" + Utf16ToUtf8(identifier) + "\" in UDF: " +
                   (shortened ? "the name is longer than a UDF file identifier can hold"
                              : "another name of its folder has the same UDF form"));
}

}  // namespace

namespace {

// The first `count` units of `text`, one fewer when the cut would split a surrogate pair.
UdfUnits Head(const UdfUnits& text, size_t count) { return UdfUnits(HeadUnits(text, count)); }

}  // namespace

// A name that does not fit in `limit` units, or whose identifier an earlier entry already
// holds, becomes stem + marker + extension within `limit` units:
// - the extension is the text from the last '.' (not a leading one) when it is at most
//   `keptExtension` units long; otherwise nothing is kept apart from the stem;
// - variant 0 (only for a name that is too long) has no marker: the stem is cut so that
//   stem and extension fill the limit;
// - variant N >= 1 puts "~N" between the cut stem and the extension.
// A surrogate pair is never split.
std::u16string ShortenedName(const std::u16string& name, size_t limit, uint32_t variant,
                             size_t keptExtension) {
  UdfUnits extension;
  size_t dot = name.rfind(u'.');
  if (dot != UdfUnits::npos && dot > 0 && name.size() - dot <= keptExtension) {
    extension = name.substr(dot);
  }
  UdfUnits stem = name.substr(0, name.size() - extension.size());
  UdfUnits marker;
  if (variant > 0) {
    const std::string digits = std::to_string(variant);
    marker.assign(1, u'~').append(digits.begin(), digits.end());
  }
  size_t room = limit - extension.size() - marker.size();
  return Head(stem, room) + marker + extension;
}

void WarnChangedNamesLeft(const LayoutPlanner& planner, uint32_t changedNames) {
  if (changedNames <= kMaxNameWarnings) return;
  planner.log.Warn(std::to_string(changedNames - kMaxNameWarnings) +
                   " more names are shortened or numbered in UDF (" + std::to_string(changedNames) +
                   " in all)");
}

char16_t UdfNameUnit(const TreeNode& node, uint32_t i) {
  char16_t unit;
  std::memcpy(&unit, node.udfName + 2 * i, sizeof unit);
  return unit;
}

// A File Identifier is recorded with a one-byte length that counts its compression
// identifier, so a name holds at most 254 bytes: 127 UTF-16 units or 254 8-bit
// characters. A name that fits is recorded as it is. A longer one is shortened (see
// Shortened above), keeping its extension. Identifiers stay unique within a directory
// (ECMA-167 part 4): when a shortened name, or a name whose 8-bit or U+FFFD form makes it
// equal to an earlier entry's, is already held, the entry takes the first "~N" variant
// that no entry of the directory holds or will hold. Each name recorded differently draws a
// warning (UDF carries the full names, so the user would not find it under its own).
bool NameUdfEntries(LayoutPlanner& planner, TreeNode& directory, uint32_t& changedNames) {
  bool eightBit = planner.tree.dvdVideoMode;
  size_t limit = eightBit ? kUdfMaxNameBytes : kUdfMaxNameBytes / 2;
  std::vector<UdfUnits> names;
  std::unordered_set<UdfUnits> fitting;  // names that are recorded as they are
  for (TreeNode* e = directory.firstChild; e; e = e->nextSibling) {
    names.push_back(NaturalUnits(*e, eightBit));
    if (names.back().size() <= limit) fitting.insert(names.back());
  }
  std::unordered_set<UdfUnits> given;
  std::unordered_map<UdfUnits, uint32_t> nextVariant;
  size_t i = 0;
  for (TreeNode* e = directory.firstChild; e; e = e->nextSibling, ++i) {
    const UdfUnits& name = names[i];
    UdfUnits identifier = name;
    if (name.size() > limit) {
      identifier = Shortened(name, limit, 0);
      if (fitting.count(identifier)) identifier = name;  // taken: number it below
    }
    if (identifier.size() > limit || given.count(identifier)) {
      uint32_t& n = nextVariant[name];
      do {
        identifier = Shortened(name, limit, ++n);
      } while (fitting.count(identifier) || given.count(identifier));
    }
    given.insert(identifier);
    if (identifier != name)
      WarnChangedName(planner, *e, identifier, name.size() > limit, changedNames);
    if (!StoreUdfName(planner, *e, identifier, eightBit)) return false;
  }
  return true;
}

}  // namespace vellumcast
