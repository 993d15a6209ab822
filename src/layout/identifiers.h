// The names every entry is recorded under and the two orders of every directory:
// ISO 9660 identifiers (ECMA-119 7.5, 7.6, 9.1.11; DVD-Video restricts them to A-Z, 0-9
// and '_') and UDF file identifiers (ECMA-167 4/14.4, OSTA UDF 2.1.1 and 2.3.4).
//
// Storage of the results on each TreeNode (all carved from the tree's arena, which
// does not align; read 16-bit units with memcpy):
// - isoName: isoNameLength bytes and a terminating zero.
// - udfName: udfNameLength bytes, no terminator. In DVD-Video mode 8-bit characters
//   (ISO-8859-1); otherwise UTF-16 units in host byte order, two bytes each, which the
//   UDF writer records high byte first after the compression identifier 16.
#pragma once

#include <cstdint>
#include <string>

namespace vellumcast {

struct LayoutPlanner;
struct TreeNode;

// Names every entry below `root` and puts every directory into its two orders: the
// primary order (firstChild / nextSibling, sorted for UDF) and the ISO 9660 order
// (isoFirstChild / isoNextSibling). False (with planner.log.Fail) when the arena is full.
bool NameAndSortTree(LayoutPlanner& planner, TreeNode& root);

// The identifiers of one entry as the name gives them, before a directory's identifiers
// are made unique. False when the arena is full.
bool MakeIsoName(LayoutPlanner& planner, TreeNode& node);
bool MakeUdfName(LayoutPlanner& planner, TreeNode& node);

// Gives every entry of `directory` both identifiers (as the image's file systems need),
// unique within the directory. False when the arena is full. NameUdfEntries warns about
// each full name it records shortened or numbered, counting them in `changedNames`; only
// the first 20 draw their own warning, WarnChangedNamesLeft sums up the rest.
bool NameIsoEntries(LayoutPlanner& planner, TreeNode& directory);
bool NameUdfEntries(LayoutPlanner& planner, TreeNode& directory, uint32_t& changedNames);
void WarnChangedNamesLeft(const LayoutPlanner& planner, uint32_t changedNames);

// Sorts the primary order by UDF identifier (stable; in DVD-Video mode the root and its
// VIDEO_TS and AUDIO_TS keep the order the scan gave them).
void SortUdfOrder(const LayoutPlanner& planner, TreeNode& directory);
// Builds the ISO 9660 order: ascending by identifier; among equal identifiers an entry
// later in the primary order comes first.
void SortIsoOrder(TreeNode& directory);

// One 8-bit character of an ISO 9660 identifier: unchanged outside DVD-Video mode; in
// it 'a'-'z' are raised and everything but 'A'-'Z' and '0'-'9' becomes '_'.
uint8_t MapIsoCharacter(uint8_t c, bool dvdVideoMode);

// The 8-bit (ISO-8859-1) form of a name: a unit above U+00FF, a surrogate pair and a
// byte of a host name that was not UTF-8 each become one '?'. The whole name is
// converted (a host name has at most 255 bytes), so its last '.' is found.
std::string EightBitName(const char16_t* name);

// `name` in at most `limit` units: stem, "~N" for variant N >= 1, and the extension (the
// text from the last '.', not a leading one, when at most `keptExtension` units), the
// stem cut to fit; a surrogate pair is never split.
std::u16string ShortenedName(const std::u16string& name, size_t limit, uint32_t variant, size_t keptExtension);

// Gives every entry of `directory` its Joliet identifier (UCS-2 big-endian, at most 64
// units, unique within the directory; a warning for each name recorded differently) and
// builds the Joliet order (ascending identifiers). False when the arena is full.
bool NameJolietEntries(LayoutPlanner& planner, TreeNode& directory, uint32_t& changedNames);
void WarnJolietNamesLeft(const LayoutPlanner& planner, uint32_t changedNames);

// The source path of an entry for messages: the source folder and the names below it as
// they were read.
std::string SourcePathOf(const TreeNode& node);

// Unit `i` of a 16-bit UDF identifier as stored in udfName.
char16_t UdfNameUnit(const TreeNode& node, uint32_t i);

}  // namespace vellumcast
