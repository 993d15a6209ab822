// The names a reader must show for a source entry, made by the verifier's own reading of
// the naming rules of each file system, never taken from the layout that wrote them: so a
// fault in the writer's names shows as a difference instead of being expected. Each
// function returns the name as the project's reader decodes it (UTF-8).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vellumcast {

struct TreeNode;

// UDF (OSTA UDF 2.1.1, 2.3.4): the full name in UTF-16; a byte of a host name that was
// not UTF-8 (held as a lone U+DC80..U+DCFF) shows as U+FFFD; a character beyond the BMP is
// a surrogate pair, kept whole. In the 8-bit form (DVD-Video): ISO-8859-1, every
// character beyond it one '?'.
std::string ExpectedUdfName(const TreeNode& node, bool eightBit);

// Joliet (UCS-2 level 3): the units as in UDF, control characters and * / : ; ? \ as '_',
// each unit shown on its own (a surrogate pair as two three-byte sequences, as a UCS-2
// reader gives it). `fits` is false when the name has more than 64 units, which the
// build can only record shortened (and warns about).
std::string ExpectedJolietName(const TreeNode& node, bool& fits);

// Rock Ridge (RRIP NM): the host name's own bytes.
std::string ExpectedRockRidgeName(const TreeNode& node);
// A symbolic link's text as Rock Ridge SL and UDF path components can hold it: a leading
// '/' for the root, the components joined by one '/', empty ones (repeated or final
// slashes) not kept.
std::string ExpectedLinkText(const char* target);

// The ISO 9660 identifiers of the entries of `folder` (in its primary order) as the
// kernel shows them without a version, by the documented 8.3 reduction: the 8-bit form of
// the name ('?' beyond ISO-8859-1), a directory's first 8 characters, a file's base (up
// to its last '.') cut to 8 and extension to 3; in DVD-Video a-z raised and everything
// but A-Z, 0-9 as '_'. Where a reader could not tell an identifier from an earlier one
// of the folder, or could not open it, the entry takes the first numbered variant
// ("~N", "_N" in DVD-Video, at the end of the cut base) that no entry holds or would hold;
// "earlier" in the order of the source names (`bySourceName`, an image with UDF outside
// the DVD-Video folders whose listing order is kept) or else of the folder's listing.
std::vector<std::string> ExpectedIsoNames(const TreeNode& folder, bool dvdVideo, bool bySourceName);

// The key under which readers tell ISO 9660 names of one folder apart: the kernel's form
// (A-Z lowered, ';' shown as '.') with trailing dots dropped (Windows); "" for a name no
// reader can open ("", ".", "..", dots only, a single byte above 0x7F).
std::string IsoReaderKey(const std::string& shownName);

}  // namespace vellumcast
